// The names of the ASCII control characters, SP and DEL: shown in the receive display, typed
// in brackets in the send text ("[CR]") and listed in the ASCII table.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

struct tagCtrlCharInfo {
    uint16_t code;
    char16_t Name[16];
    char16_t Key[6];
    char16_t Remark[128];
};

constexpr int kCtrlCharCount = 34;

// The one table, in its fixed order: codes 00..1F, then SP (20) and DEL (7F).
const std::array<tagCtrlCharInfo, kCtrlCharCount>& CtrlCharTable();

// Position of the record for `code`, or nothing for a byte without a name (21..7E, 80..FF).
std::optional<int> FindCtrlCharByCode(uint8_t code);

// Code of the record whose Name equals `name`, letters compared without regard to case and
// everything else exactly; nothing when no Name matches (Key and Remark are not searched).
std::optional<uint8_t> FindCtrlCharByName(std::u16string_view name);
