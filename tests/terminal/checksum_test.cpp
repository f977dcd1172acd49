// Checksums: the published check values, agreement with bit-by-bit references on random data,
// the covered range, and the names the send text uses.
#include "terminal/checksum.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>

#include "support/hex_text.h"

namespace {

using kem::testing::HexText;

// Bit-by-bit CRCs written from the algorithms' definitions, sharing nothing with the
// table-driven code under test: most significant bit first, and Modbus's reflected form.
template <typename T>
T MsbFirstCrc(std::string_view bytes, T polynomial, T crc) {
    for (const char byte : bytes) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool in = (static_cast<uint8_t>(byte) >> bit) & 1;
            const bool top = (crc >> (sizeof(T) * 8 - 1)) & 1;
            crc = static_cast<T>(crc << 1);
            if (in != top) {
                crc ^= polynomial;
            }
        }
    }
    return crc;
}

uint16_t BitwiseCrc16Modbus(std::string_view bytes) {
    uint16_t crc = 0xFFFF;
    for (const char byte : bytes) {
        crc ^= static_cast<uint8_t>(byte);
        for (int bit = 0; bit < 8; ++bit) {
            const bool low = crc & 1;
            crc >>= 1;
            if (low) {
                crc ^= 0xA001;  // 0x8005 bit-reversed
            }
        }
    }
    return crc;
}

// What `kind` puts on the wire after `data`, by the references: CRC-16s go low byte first
// (Modbus) or high byte first (CCITT); the LRC makes the whole add up to zero.
std::string ReferenceWire(ChecksumKind kind, std::string_view data) {
    uint8_t sum = 0;
    uint8_t xored = 0;
    for (const char byte : data) {
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(byte));
        xored ^= static_cast<uint8_t>(byte);
    }
    const uint16_t modbus = BitwiseCrc16Modbus(data);
    const uint16_t ccitt = MsbFirstCrc<uint16_t>(data, 0x1021, 0xFFFF);
    switch (kind) {
        case ChecksumKind::kCrc16:
            return {static_cast<char>(modbus & 0xFF), static_cast<char>(modbus >> 8)};
        case ChecksumKind::kCrc16Ccitt:
            return {static_cast<char>(ccitt >> 8), static_cast<char>(ccitt & 0xFF)};
        case ChecksumKind::kCrc8:
            return std::string(1, MsbFirstCrc<uint8_t>(data, 0x07, 0));
        case ChecksumKind::kSum8:
            return std::string(1, sum);
        case ChecksumKind::kXor8:
            return std::string(1, xored);
        case ChecksumKind::kLrc:
            return std::string(1, static_cast<uint8_t>(-sum));
    }
    return "?";
}

std::string Appended(std::string_view data, ChecksumKind kind, size_t covered_from = 0) {
    std::string out(data);
    AppendChecksum(out, covered_from, kind);
    return out.substr(data.size());
}

TEST(ChecksumTest, CheckValuesNamesInMenuOrderAndSizes) {
    // digits: on the wire after "123456789"; empty: on the wire after nothing.
    const std::tuple<ChecksumKind, const char*, const char*, const char*> rows[] = {
        {ChecksumKind::kCrc16, "CRC16", "37 4B", "FF FF"},
        {ChecksumKind::kCrc16Ccitt, "CRC16CCITT", "29 B1", "FF FF"},
        {ChecksumKind::kCrc8, "CRC8", "F4", "00"},
        {ChecksumKind::kSum8, "SUM8", "DD", "00"},
        {ChecksumKind::kXor8, "XOR8", "31", "00"},
        {ChecksumKind::kLrc, "LRC", "23", "00"}};
    ASSERT_EQ(std::size(rows), ChecksumNames().size());
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto& [kind, name, digits, empty] = rows[i];
        SCOPED_TRACE(name);
        EXPECT_EQ(ChecksumNames()[i].kind, kind);
        EXPECT_EQ(ChecksumNames()[i].name, name);
        EXPECT_EQ(FindChecksumByName(std::string_view(name)), kind);
        EXPECT_EQ(HexText(ReferenceWire(kind, "123456789")), digits);
        EXPECT_EQ(HexText(Appended("123456789", kind)), digits);
        // Covered from a position: from the end or past it is the checksum of nothing.
        EXPECT_EQ(HexText(Appended("abc123456789", kind, 3)), digits);
        EXPECT_EQ(HexText(Appended("xyz", kind, 3)), empty);
        EXPECT_EQ(HexText(Appended("xyz", kind, 99)), empty);
        EXPECT_EQ(HexText(ReferenceWire(kind, "")), empty);
        EXPECT_EQ(Appended("data", kind).size(), ChecksumSize(kind));
    }
    const std::string digits = "123456789";
    EXPECT_EQ((std::vector<int>{Crc16Modbus(digits), Crc16CcittFalse(digits), Crc8(digits),
                                Sum8(digits), Xor8(digits), Lrc8(digits)}),
              (std::vector<int>{0x4B37, 0x29B1, 0xF4, 0xDD, 0x31, 0x23}));
    EXPECT_EQ(HexText(Appended(std::string("\x01\x03\x00\x0A\x00\x02", 6), ChecksumKind::kCrc16)),
              "E4 09");
}

TEST(ChecksumTest, AgreesWithBitwiseReferencesOnRandomData) {
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<size_t> lengths = {0, 1, 2, 3, 7, 8, 9, 15, 16, 17, 63, 64, 255, 256, 1000, 4099};
    for (int extra = 0; extra < 40; ++extra) {
        lengths.push_back(std::uniform_int_distribution<size_t>(0, 600)(random));
    }
    for (const size_t length : lengths) {
        for (int round = 0; round < 4; ++round) {
            std::string data(length, '\0');
            for (char& value : data) {
                value = static_cast<char>(byte(random));
            }
            SCOPED_TRACE("length " + std::to_string(length) + " data " +
                         HexText(data.substr(0, 16)));
            for (const ChecksumName& entry : ChecksumNames()) {
                EXPECT_EQ(HexText(Appended(data, entry.kind)),
                          HexText(ReferenceWire(entry.kind, data)))
                    << entry.name;
            }
        }
    }
}

TEST(ChecksumNamesTest, AnyLetterCaseOtherwiseExact) {
    const char* found[] = {"crc16", "Crc16ccitt", "cRc8", "sum8", "xOR8", "lrc"};
    for (size_t i = 0; i < std::size(found); ++i) {
        EXPECT_EQ(FindChecksumByName(std::string_view(found[i])), ChecksumNames()[i].kind);
    }
    EXPECT_EQ(FindChecksumByName(std::u16string_view(u"Crc16CCITT")), ChecksumKind::kCrc16Ccitt);
    for (const char* other :
         {"", "CRC", "CRC-16", "CRC 16", " CRC16", "CRC16 ", "SUM", "SUM16", "XOR", "CR", "LRC8",
          "CRC16CCITTX", "CRC32", "CRC16MOD", "ＣＲＣ16"}) {
        EXPECT_FALSE(FindChecksumByName(std::string_view(other))) << other;
    }
    // Letters beyond ASCII never fold onto a name.
    EXPECT_FALSE(FindChecksumByName(std::u16string_view(u"ＬＲＣ")));
    EXPECT_FALSE(FindChecksumByName(std::u16string_view(u"L\u0280C")));
}

}  // namespace
