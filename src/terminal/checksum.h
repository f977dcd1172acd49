// Checksums a user can ask for in sent text ("[CRC16]" and the like): the six algorithms over
// bytes, the bytes each one puts on the wire, and the table of their names.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

enum class ChecksumKind : uint8_t {
    kCrc16,       // CRC-16/MODBUS, sent low byte first
    kCrc16Ccitt,  // CRC-16/CCITT-FALSE, sent high byte first
    kCrc8,        // CRC-8, polynomial 0x07, initial value 0
    kSum8,        // the sum of the bytes modulo 256
    kXor8,        // the XOR of the bytes
    kLrc,         // the two's complement of the sum (Modbus ASCII)
};

struct ChecksumName {
    ChecksumKind kind;
    std::string_view name;  // upper case, as the input box's menu inserts it
};

constexpr int kChecksumCount = 6;

// The names in the order the input box's menu lists them. Constant; any thread.
const std::array<ChecksumName, kChecksumCount>& ChecksumNames();

// The checksum whose name equals `name` (ASCII bytes), letters compared without regard to case
// and everything else exactly; nothing for any other text. Pure; any thread.
std::optional<ChecksumKind> FindChecksumByName(std::string_view name);

// The same for a name in UTF-16, for code pages whose bytes are not ASCII. Pure; any thread.
std::optional<ChecksumKind> FindChecksumByName(std::u16string_view name);

// CRC-16/MODBUS (reflected polynomial 0x8005, initial value 0xFFFF, no final XOR) of `bytes`;
// 0xFFFF for none. Pure; any thread.
uint16_t Crc16Modbus(std::string_view bytes);

// CRC-16/CCITT-FALSE (polynomial 0x1021, initial value 0xFFFF, not reflected, no final XOR) of
// `bytes`; 0xFFFF for none. Pure; any thread.
uint16_t Crc16CcittFalse(std::string_view bytes);

// CRC-8 (polynomial 0x07, initial value 0, not reflected, no final XOR) of `bytes`; 0 for none.
// Pure; any thread.
uint8_t Crc8(std::string_view bytes);

// The sum of `bytes` modulo 256; 0 for none. Pure; any thread.
uint8_t Sum8(std::string_view bytes);

// The XOR of `bytes`; 0 for none. Pure; any thread.
uint8_t Xor8(std::string_view bytes);

// The two's complement of Sum8, so that the bytes and this one add up to 0; 0 for none.
// Pure; any thread.
uint8_t Lrc8(std::string_view bytes);

// How many bytes the checksum `kind` puts on the wire: 2 for the CRC-16s, 1 for the others.
size_t ChecksumSize(ChecksumKind kind);

// Appends the checksum `kind` of `out` from `covered_from` to its end (all of it when
// `covered_from` is at or past the end: then the checksum of no bytes) to `out`, in the byte
// order it is sent. Pure apart from `out`; any thread.
void AppendChecksum(std::string& out, size_t covered_from, ChecksumKind kind);
