#include "terminal/checksum.h"

#include <algorithm>

namespace {

constexpr std::array<ChecksumName, kChecksumCount> kNames = {{
    {ChecksumKind::kCrc16, "CRC16"},
    {ChecksumKind::kCrc16Ccitt, "CRC16CCITT"},
    {ChecksumKind::kCrc8, "CRC8"},
    {ChecksumKind::kSum8, "SUM8"},
    {ChecksumKind::kXor8, "XOR8"},
    {ChecksumKind::kLrc, "LRC"},
}};

constexpr size_t kLongestName = 10;

// One table step per byte instead of eight shifts: the CRCs are the cost of a long send.
constexpr std::array<uint16_t, 256> MakeReflectedCrc16Table(uint16_t reflected_poly) {
    std::array<uint16_t, 256> table{};
    for (unsigned value = 0; value < 256; ++value) {
        uint16_t crc = static_cast<uint16_t>(value);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ reflected_poly)
                            : static_cast<uint16_t>(crc >> 1);
        }
        table[value] = crc;
    }
    return table;
}

constexpr std::array<uint16_t, 256> MakeCrc16Table(uint16_t poly) {
    std::array<uint16_t, 256> table{};
    for (unsigned value = 0; value < 256; ++value) {
        uint16_t crc = static_cast<uint16_t>(value << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ poly)
                                 : static_cast<uint16_t>(crc << 1);
        }
        table[value] = crc;
    }
    return table;
}

constexpr std::array<uint8_t, 256> MakeCrc8Table(uint8_t poly) {
    std::array<uint8_t, 256> table{};
    for (unsigned value = 0; value < 256; ++value) {
        uint8_t crc = static_cast<uint8_t>(value);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80) ? static_cast<uint8_t>((crc << 1) ^ poly)
                               : static_cast<uint8_t>(crc << 1);
        }
        table[value] = crc;
    }
    return table;
}

constexpr auto kModbusTable = MakeReflectedCrc16Table(0xA001);
constexpr auto kCcittTable = MakeCrc16Table(0x1021);
constexpr auto kCrc8Table = MakeCrc8Table(0x07);

template <typename Unit>
char FoldAscii(Unit unit) {
    if (unit >= Unit('a') && unit <= Unit('z')) {
        return static_cast<char>(unit - Unit('a') + 'A');
    }
    return static_cast<char>(unit);
}

template <typename Unit>
std::optional<ChecksumKind> FindByName(std::basic_string_view<Unit> name) {
    if (name.size() < 3 || name.size() > kLongestName) {
        return std::nullopt;
    }
    char folded[kLongestName];
    for (size_t i = 0; i < name.size(); ++i) {
        // Anything beyond ASCII is no letter of a name; keep it from folding onto one.
        if (static_cast<uint32_t>(name[i]) >= 0x80) {
            return std::nullopt;
        }
        folded[i] = FoldAscii(name[i]);
    }
    const std::string_view text(folded, name.size());
    for (const ChecksumName& entry : kNames) {
        if (entry.name == text) {
            return entry.kind;
        }
    }
    return std::nullopt;
}

}  // namespace

const std::array<ChecksumName, kChecksumCount>& ChecksumNames() {
    return kNames;
}

std::optional<ChecksumKind> FindChecksumByName(std::string_view name) {
    return FindByName(name);
}

std::optional<ChecksumKind> FindChecksumByName(std::u16string_view name) {
    return FindByName(name);
}

uint16_t Crc16Modbus(std::string_view bytes) {
    uint16_t crc = 0xFFFF;
    for (const char byte : bytes) {
        crc = static_cast<uint16_t>((crc >> 8) ^
                                    kModbusTable[(crc ^ static_cast<uint8_t>(byte)) & 0xFF]);
    }
    return crc;
}

uint16_t Crc16CcittFalse(std::string_view bytes) {
    uint16_t crc = 0xFFFF;
    for (const char byte : bytes) {
        crc = static_cast<uint16_t>((crc << 8) ^
                                    kCcittTable[((crc >> 8) ^ static_cast<uint8_t>(byte)) & 0xFF]);
    }
    return crc;
}

uint8_t Crc8(std::string_view bytes) {
    uint8_t crc = 0;
    for (const char byte : bytes) {
        crc = kCrc8Table[crc ^ static_cast<uint8_t>(byte)];
    }
    return crc;
}

uint8_t Sum8(std::string_view bytes) {
    unsigned sum = 0;
    for (const char byte : bytes) {
        sum += static_cast<uint8_t>(byte);
    }
    return static_cast<uint8_t>(sum);
}

uint8_t Xor8(std::string_view bytes) {
    uint8_t value = 0;
    for (const char byte : bytes) {
        value = static_cast<uint8_t>(value ^ static_cast<uint8_t>(byte));
    }
    return value;
}

uint8_t Lrc8(std::string_view bytes) {
    return static_cast<uint8_t>(0x100 - Sum8(bytes));
}

size_t ChecksumSize(ChecksumKind kind) {
    return kind == ChecksumKind::kCrc16 || kind == ChecksumKind::kCrc16Ccitt ? 2 : 1;
}

void AppendChecksum(std::string& out, size_t covered_from, ChecksumKind kind) {
    const std::string_view covered =
        std::string_view(out).substr(std::min(covered_from, out.size()));
    switch (kind) {
        case ChecksumKind::kCrc16: {
            const uint16_t crc = Crc16Modbus(covered);
            out += static_cast<char>(crc & 0xFF);
            out += static_cast<char>(crc >> 8);
            break;
        }
        case ChecksumKind::kCrc16Ccitt: {
            const uint16_t crc = Crc16CcittFalse(covered);
            out += static_cast<char>(crc >> 8);
            out += static_cast<char>(crc & 0xFF);
            break;
        }
        case ChecksumKind::kCrc8:
            out += static_cast<char>(Crc8(covered));
            break;
        case ChecksumKind::kSum8:
            out += static_cast<char>(Sum8(covered));
            break;
        case ChecksumKind::kXor8:
            out += static_cast<char>(Xor8(covered));
            break;
        case ChecksumKind::kLrc:
            out += static_cast<char>(Lrc8(covered));
            break;
    }
}
