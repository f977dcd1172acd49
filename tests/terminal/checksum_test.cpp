#include "terminal/checksum.h"
#include "support/hex_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

using kem::testing::HexText;

// Straightforward one-bit-at-a-time versions, written from the algorithms' definitions and
// sharing nothing with the table-driven code under test.
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

uint16_t BitwiseCrc16Ccitt(std::string_view bytes) {
    uint16_t crc = 0xFFFF;
    for (const char byte : bytes) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool in = (static_cast<uint8_t>(byte) >> bit) & 1;
            const bool top = (crc >> 15) & 1;
            crc = static_cast<uint16_t>(crc << 1);
            if (in != top) {
                crc ^= 0x1021;
            }
        }
    }
    return crc;
}

uint8_t BitwiseCrc8(std::string_view bytes) {
    uint8_t crc = 0;
    for (const char byte : bytes) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool in = (static_cast<uint8_t>(byte) >> bit) & 1;
            const bool top = (crc >> 7) & 1;
            crc = static_cast<uint8_t>(crc << 1);
            if (in != top) {
                crc ^= 0x07;
            }
        }
    }
    return crc;
}

uint8_t ReferenceSum(std::string_view bytes) {
    uint64_t sum = 0;
    for (const char byte : bytes) {
        sum += static_cast<uint8_t>(byte);
    }
    return static_cast<uint8_t>(sum % 256);
}

uint8_t ReferenceXor(std::string_view bytes) {
    int value = 0;
    for (const char byte : bytes) {
        value ^= static_cast<uint8_t>(byte);
    }
    return static_cast<uint8_t>(value);
}

std::string Appended(std::string_view data, ChecksumKind kind) {
    std::string out(data);
    AppendChecksum(out, 0, kind);
    return out.substr(data.size());
}

TEST(ChecksumTest, CheckValuesOfTheNineDigits) {
    const std::string digits = "123456789";
    EXPECT_EQ(Crc16Modbus(digits), 0x4B37);
    EXPECT_EQ(Crc16CcittFalse(digits), 0x29B1);
    EXPECT_EQ(Crc8(digits), 0xF4);
    EXPECT_EQ(Sum8(digits), 0xDD);
    EXPECT_EQ(Xor8(digits), 0x31);
    EXPECT_EQ(Lrc8(digits), 0x23);
    // And as they go on the wire.
    EXPECT_EQ(HexText(Appended(digits, ChecksumKind::kCrc16)), "37 4B");
    EXPECT_EQ(HexText(Appended(digits, ChecksumKind::kCrc16Ccitt)), "29 B1");
    EXPECT_EQ(HexText(Appended(digits, ChecksumKind::kCrc8)), "F4");
    EXPECT_EQ(HexText(Appended(digits, ChecksumKind::kSum8)), "DD");
    EXPECT_EQ(HexText(Appended(digits, ChecksumKind::kXor8)), "31");
    EXPECT_EQ(HexText(Appended(digits, ChecksumKind::kLrc)), "23");
}

TEST(ChecksumTest, ModbusRequestFrame) {
    const std::string request("\x01\x03\x00\x0A\x00\x02", 6);
    EXPECT_EQ(HexText(Appended(request, ChecksumKind::kCrc16)), "E4 09");
}

TEST(ChecksumTest, NoBytes) {
    EXPECT_EQ(Crc16Modbus(""), 0xFFFF);
    EXPECT_EQ(Crc16CcittFalse(""), 0xFFFF);
    EXPECT_EQ(Crc8(""), 0);
    EXPECT_EQ(Sum8(""), 0);
    EXPECT_EQ(Xor8(""), 0);
    EXPECT_EQ(Lrc8(""), 0);
    EXPECT_EQ(HexText(Appended("", ChecksumKind::kCrc16)), "FF FF");
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
            EXPECT_EQ(Crc16Modbus(data), BitwiseCrc16Modbus(data));
            EXPECT_EQ(Crc16CcittFalse(data), BitwiseCrc16Ccitt(data));
            EXPECT_EQ(Crc8(data), BitwiseCrc8(data));
            EXPECT_EQ(Sum8(data), ReferenceSum(data));
            EXPECT_EQ(Xor8(data), ReferenceXor(data));
            // The LRC makes the whole add up to zero.
            EXPECT_EQ(static_cast<uint8_t>(ReferenceSum(data) + Lrc8(data)), 0);

            const uint16_t modbus = BitwiseCrc16Modbus(data);
            const uint16_t ccitt = BitwiseCrc16Ccitt(data);
            EXPECT_EQ(
                Appended(data, ChecksumKind::kCrc16),
                std::string({static_cast<char>(modbus & 0xFF), static_cast<char>(modbus >> 8)}));
            EXPECT_EQ(
                Appended(data, ChecksumKind::kCrc16Ccitt),
                std::string({static_cast<char>(ccitt >> 8), static_cast<char>(ccitt & 0xFF)}));
            EXPECT_EQ(Appended(data, ChecksumKind::kCrc8),
                      std::string(1, static_cast<char>(BitwiseCrc8(data))));
        }
    }
}

TEST(ChecksumTest, AppendCoversOnlyFromTheGivenPosition) {
    std::string out = "abc123456789";
    AppendChecksum(out, 3, ChecksumKind::kCrc16Ccitt);
    EXPECT_EQ(HexText(out.substr(12)), "29 B1");
    // From the end (or past it): the checksum of nothing.
    std::string tail = "xyz";
    AppendChecksum(tail, 3, ChecksumKind::kSum8);
    AppendChecksum(tail, 99, ChecksumKind::kCrc8);
    EXPECT_EQ(HexText(tail), "78 79 7A 00 00");
}

TEST(ChecksumTest, SizesOnTheWire) {
    for (const ChecksumName& entry : ChecksumNames()) {
        EXPECT_EQ(Appended("data", entry.kind).size(), ChecksumSize(entry.kind)) << entry.name;
    }
    EXPECT_EQ(ChecksumSize(ChecksumKind::kCrc16), 2u);
    EXPECT_EQ(ChecksumSize(ChecksumKind::kLrc), 1u);
}

TEST(ChecksumNamesTest, TableInMenuOrder) {
    std::vector<std::string_view> names;
    for (const ChecksumName& entry : ChecksumNames()) {
        names.push_back(entry.name);
        EXPECT_EQ(FindChecksumByName(entry.name), entry.kind) << entry.name;
    }
    EXPECT_EQ(names, (std::vector<std::string_view>{"CRC16", "CRC16CCITT", "CRC8", "SUM8", "XOR8",
                                                    "LRC"}));
}

TEST(ChecksumNamesTest, AnyLetterCaseOtherwiseExact) {
    EXPECT_EQ(FindChecksumByName(std::string_view("crc16")), ChecksumKind::kCrc16);
    EXPECT_EQ(FindChecksumByName(std::string_view("Crc16ccitt")), ChecksumKind::kCrc16Ccitt);
    EXPECT_EQ(FindChecksumByName(std::string_view("cRc8")), ChecksumKind::kCrc8);
    EXPECT_EQ(FindChecksumByName(std::string_view("sum8")), ChecksumKind::kSum8);
    EXPECT_EQ(FindChecksumByName(std::string_view("xOR8")), ChecksumKind::kXor8);
    EXPECT_EQ(FindChecksumByName(std::string_view("lrc")), ChecksumKind::kLrc);
    EXPECT_EQ(FindChecksumByName(std::u16string_view(u"Crc16CCITT")), ChecksumKind::kCrc16Ccitt);
    const char* others[] = {"",       "CRC",         "CRC-16", "CRC 16",   " CRC16",
                            "CRC16 ", "SUM",         "SUM16",  "XOR",      "CR",
                            "LRC8",   "CRC16CCITTX", "CRC32",  "CRC16MOD", "ＣＲＣ16"};
    for (const char* other : others) {
        EXPECT_FALSE(FindChecksumByName(std::string_view(other))) << other;
    }
    // Letters beyond ASCII never fold onto a name.
    EXPECT_FALSE(FindChecksumByName(std::u16string_view(u"ＬＲＣ")));
    EXPECT_FALSE(FindChecksumByName(std::u16string_view(u"L\u0280C")));
}

}  // namespace
