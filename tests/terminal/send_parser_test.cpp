#include "terminal/send_parser.h"
#include "support/hex_text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/file_io.h"
#include "terminal/checksum.h"

namespace {

using kem::testing::HexText;

std::string Escapes(std::string_view source) {
    std::string out(source.size() + 5, '\0');
    const int32_t count = ParseEscapes(
        reinterpret_cast<const uint8_t*>(source.data()), static_cast<int32_t>(source.size()),
        reinterpret_cast<uint8_t*>(out.data()), static_cast<int32_t>(out.size()));
    out.resize(static_cast<size_t>(count));
    return out;
}

struct BytesRow {
    const char* name;
    std::string input;
    std::string expected;
};

TEST(ParseEscapesTest, DecodesHexEscapesAndDoubledBackslashes) {
    using namespace std::string_literals;
    const BytesRow rows[] = {
        {"two digits", "\\x41", "A"},
        {"upper X", "\\X41", "A"},
        {"lower hex", "\\xff\\xAb", "\xFF\xAB"s},
        {"third digit is text", "\\x4142", "A42"},
        {"digit then non-digit", "\\x4G", "\x04G"s},
        {"lone \\x at the end", "ab\\x", "ab\\x"},
        {"one digit at the end", "\\x0", "\0"s},
        {"one digit then end", "\\x4", "\x04"s},
        {"non-digit after x", "\\xG", "\\xG"},
        {"non-digit after x then more", "\\xGH", "\\xGH"},
        {"two bytes in a row", "\\xD1\\xDD", "\xD1\xDD"s},
        {"doubled backslash", "\\\\x41", "\\x41"},
        {"tripled backslash", "\\\\\\x41", "\\A"},
        {"lone backslash at the end", "a\\", "a\\"},
        {"backslash then other", "\\n", "\\n"},
        {"backslash cuts an escape short", "\\x\\x41", "\\xA"},
        {"backslash after one digit", "\\x4\\x41", "\x04"s + "A"},
        {"escape at the very start", "\\x30abc", "0abc"},
        {"no escapes", "Demo input", "Demo input"},
        {"zero bytes kept", "a\0b"s, "a\0b"s},
        {"empty", "", ""},
        {"backslash x digit backslash", "\\x4\\", "\x04\\"s},
        {"four backslashes", "\\\\\\\\", "\\\\"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(HexText(Escapes(row.input)), HexText(row.expected)) << row.name;
    }
}

TEST(ParseEscapesTest, NegativeLengthReadsToTheFirstZeroByte) {
    const char source[] = "\\x41B\0\\x42";
    uint8_t out[16];
    EXPECT_EQ(ParseEscapes(reinterpret_cast<const uint8_t*>(source), -1, out, sizeof out), 2);
    EXPECT_EQ(out[0], 'A');
    EXPECT_EQ(out[1], 'B');
    EXPECT_EQ(out[2], 0);  // zero-filled after
}

TEST(ParseEscapesTest, StopsWhenTheDestinationIsFull) {
    const std::string source = "abc\\x41def";
    uint8_t out[5] = {9, 9, 9, 9, 9};
    EXPECT_EQ(ParseEscapes(reinterpret_cast<const uint8_t*>(source.data()),
                           static_cast<int32_t>(source.size()), out, 4),
              4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 4), "abcA");
    EXPECT_EQ(out[4], 9);  // beyond the capacity: untouched
    // An unchanged collection longer than the room left is cut to the room.
    const std::string kept = "ab\\xG";
    uint8_t small[3];
    EXPECT_EQ(ParseEscapes(reinterpret_cast<const uint8_t*>(kept.data()), 5, small, 3), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(small), 3), "ab\\");
}

TEST(ParseEscapesTest, RefusesNoDestination) {
    const uint8_t source[] = {'a'};
    uint8_t out[1] = {7};
    EXPECT_EQ(ParseEscapes(source, 1, nullptr, 4), 0);
    EXPECT_EQ(ParseEscapes(source, 1, out, 0), 0);
    EXPECT_EQ(out[0], 7);
    EXPECT_EQ(ParseEscapes(nullptr, 1, out, 1), 0);
    EXPECT_EQ(out[0], 0);
}

TEST(DecodeEscapeTest, TableOfCollections) {
    const struct {
        const char* name;
        std::string collected;
        std::string expected;
    } rows[] = {
        {"one byte", "\\", "\\"},
        {"two bytes", "\\x", "\\x"},
        {"three with digit", "\\x9", "\x09"},
        {"three with lower digit", "\\xb", "\x0B"},
        {"three with non-digit", "\\xg", "\\xg"},
        {"four with two digits", "\\x7e", "\x7E"},
        {"four with digit and non-digit", "\\xAz", "\x0Az"},
        {"four starting with a non-digit", "\\xz1", "\\xz1"},
        {"no backslash", "ax41", "ax41"},
        {"not x", "\\y41", "\\y41"},
    };
    for (const auto& row : rows) {
        uint8_t buffer[4] = {};
        std::copy(row.collected.begin(), row.collected.end(), buffer);
        const int32_t count = DecodeEscape(buffer, static_cast<int32_t>(row.collected.size()));
        EXPECT_EQ(HexText(std::string(reinterpret_cast<char*>(buffer), static_cast<size_t>(count))),
                  HexText(row.expected))
            << row.name;
    }
}

TEST(DecodeEscapeTest, EveryHexDigitPairGivesItsByte) {
    const char digits[] = "0123456789abcdefABCDEF";
    for (const char high : std::string_view(digits)) {
        for (const char low : std::string_view(digits)) {
            uint8_t buffer[4] = {'\\', 'x', static_cast<uint8_t>(high), static_cast<uint8_t>(low)};
            ASSERT_EQ(DecodeEscape(buffer, 4), 1);
            const std::string pair{high, low};
            EXPECT_EQ(buffer[0], std::stoi(pair, nullptr, 16)) << pair;
        }
    }
}

TEST(ReplaceCtrlCharNamesTest, BracketedNamesBecomeTheirBytes) {
    using namespace std::string_literals;
    const BytesRow rows[] = {
        {"cr lf", "[CR][LF]", "\r\n"},
        {"letter case", "[cr][Cr][lF]", "\r\r\n"},
        {"nul", "[NUL]", "\0"s},
        {"sp and del", "[SP][del]", " \x7F"},
        {"unknown name", "[ABC]", "[ABC]"},
        {"name too short", "[A]", "[A]"},
        {"empty brackets", "[]", "[]"},
        {"double open", "[[CR]", "[\r"},
        {"lone open", "a[b", "a[b"},
        {"lone close", "a]b", "a]b"},
        {"close before open", "]CR[", "]CR["},
        {"name inside text", "AT[CR]OK", "AT\rOK"},
        {"parts of a name stay", "[[ES][SC]]", "[[ES][SC]]"},
        {"name after a failed open", "[E[CR]SC]", "[E\rSC]"},
        {"name with blanks", "[ CR ]", "[ CR ]"},
        {"key column is no name", "[^M]", "[^M]"},
        {"open pairs with first close", "[C[CR]R]", "[C\rR]"},
        {"nested name", "[[CR]]", "[\r]"},
        {"many opens", "[[[[LF]", "[[[\n"},
        {"long unknown", "[NOT A NAME AT ALL]", "[NOT A NAME AT ALL]"},
        {"chinese is no name", "[中文]", "[中文]"},
        {"empty", "", ""},
    };
    for (const auto& row : rows) {
        // The Chinese row is in UTF-8 in the source; the parser works on ANSI bytes.
        const std::string input = kem::platform::WideToAnsi(kem::platform::Utf8ToWide(row.input));
        const std::string expected =
            row.input.find('\0') != std::string::npos ||
                    row.expected.find('\0') != std::string::npos
                ? row.expected
                : kem::platform::WideToAnsi(kem::platform::Utf8ToWide(row.expected));
        EXPECT_EQ(HexText(ReplaceCtrlCharNames(input)), HexText(expected)) << row.name;
    }
}

TEST(ReplaceCtrlCharNamesTest, EveryNameOfTheTableIsFound) {
    const char* names[] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",
                           "TAB", "LF",  "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1",
                           "DC2", "DC3", "DC4", "NAK", "SYN", "ETB", "CAN", "EM",  "SUB",
                           "ESC", "FS",  "GS",  "RS",  "US",  "SP",  "DEL"};
    int code = 0;
    for (const char* name : names) {
        const std::string text = std::string("[") + name + "]";
        const std::string out = ReplaceCtrlCharNames(text);
        ASSERT_EQ(out.size(), 1u) << name;
        EXPECT_EQ(static_cast<unsigned char>(out[0]), code == 33 ? 0x7F : code) << name;
        ++code;
    }
}

TEST(ReplaceCtrlCharNamesTest, TrailByteOfADoubleByteCharacterCountsAsABracket) {
    // 0x81 0x5B is one GBK character whose second byte is '['.
    const std::string lead_and_open = "\x81\x5B";
    ASSERT_EQ(kem::platform::AnsiToWide(lead_and_open).size(), 1u);
    EXPECT_EQ(HexText(ReplaceCtrlCharNames(lead_and_open + "CR]")), "81 0D");
}

TEST(ReplaceCtrlCharNamesTest, OtherDelimiters) {
    EXPECT_EQ(ReplaceCtrlCharNames("<CR>[LF]", '<', '>'), "\r[LF]");
}

TEST(ReplaceCtrlCharNamesTest, ManyOpensWithoutCloseAreLeftAlone) {
    const std::string opens(100000, '[');
    EXPECT_EQ(ReplaceCtrlCharNames(opens), opens);
    // And with a single close far behind: still one name at the end.
    EXPECT_EQ(ReplaceCtrlCharNames(opens + "CR]"), std::string(99999, '[') + "\r");
}

struct SendRow {
    const char* name;
    std::u16string text;
    SendOptions options;
    std::string expected;
};

SendOptions Opts(bool names, bool hex, bool enter, bool crlf) {
    SendOptions options;
    options.parse_char_name = names;
    options.parse_hex = hex;
    options.auto_send_enter = enter;
    options.send_0d0a = crlf;
    return options;
}

TEST(ParseSendTextTest, TheWholeChain) {
    using namespace std::string_literals;
    const SendRow rows[] = {
        {"demo with escapes, no extra line end", u"Demo input\\x0D\\x0A",
         Opts(false, true, true, true), "Demo input\r\n"},
        {"AB with CR LF", u"AB", Opts(false, false, true, true), "AB\r\n"},
        {"AB with CR", u"AB", Opts(false, false, true, false), "AB\r"},
        {"AB without line end", u"AB", Opts(false, false, false, true), "AB"},
        {"ends in CR already", u"AB[CR]", Opts(true, false, true, true), "AB\r"},
        {"ends in LF already", u"AB\n", Opts(false, false, true, true), "AB\n"},
        {"names off", u"[CR]", Opts(false, true, false, false), "[CR]"},
        {"hex off", u"\\x41", Opts(true, false, false, false), "\\x41"},
        {"nul name", u"[NUL]", Opts(true, false, false, false), "\0"s},
        {"escape digit at the end", u"\\x4", Opts(false, true, false, false), "\x04"s},
        {"escape non-digit", u"\\xG", Opts(false, true, false, false), "\\xG"},
        {"name and escape agree", u"[CR]\\x0D", Opts(true, true, false, false), "\r\r"},
        {"escape never makes a name", u"\\x5BCR]", Opts(true, true, false, false), "[CR]"},
        {"name never makes an escape", u"\\[SP]41", Opts(true, true, false, false), "\\ 41"},
        {"escaped zero is sent", u"a\\x00b", Opts(false, true, false, false), "a\0b"s},
        {"chinese in GBK", u"中文", Opts(true, true, false, false), "\xD6\xD0\xCE\xC4"},
        {"unmappable becomes ?", u"\u0E01", Opts(false, false, false, false), "?"},
        {"zero character ends the text", u"ab\0cd"s, Opts(false, false, false, false), "ab"},
        {"zero at the start still gets a line end", u"\0x"s, Opts(false, false, true, false), "\r"},
        {"empty", u"", Opts(true, true, true, true), ""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(HexText(ParseSendText(row.text, row.options)), HexText(row.expected)) << row.name;
    }
}

TEST(ParseSendTextTest, ChecksumNames) {
    using namespace std::string_literals;
    const SendOptions both = Opts(true, true, false, false);
    const SendOptions names_only = Opts(true, false, false, false);
    const SendRow rows[] = {
        {"modbus request", u"\\x01\\x03\\x00\\x0A\\x00\\x02[CRC16]", both,
         "\x01\x03\x00\x0A\x00\x02\xE4\x09"s},
        {"xor covers only the sum byte", u"\\x01\\x02[SUM8][XOR8]", both, "\x01\x02\x03\x03"},
        {"crc16 lower case", u"123456789[crc16]", both, "123456789\x37\x4B"},
        {"ccitt mixed case", u"123456789[Crc16ccitt]", both, "123456789\x29\xB1"},
        {"crc8", u"123456789[CrC8]", both, "123456789\xF4"},
        {"sum8", u"123456789[sum8]", both, "123456789\xDD"},
        {"xor8", u"123456789[Xor8]", both, "123456789\x31"},
        {"lrc", u"123456789[lrc]", both, "123456789\x23"},
        {"coverage starts again at each checksum's own bytes", u"\\x01[SUM8]\\x02\\x03[SUM8]", both,
         "\x01\x01\x02\x03\x06"},
        {"text after the last checksum is not covered", u"\\x05[SUM8]AB", both,
         "\x05\x05"
         "AB"},
        {"control names are covered", u"A[CR][SUM8]", both, "A\r\x4E"},
        {"checksum of nothing at the start", u"[SUM8][CRC16]", both, "\x00\xBF\x40"s},
        {"escape cut short by the name", u"\\x4[SUM8]", both, "\x04\x04"},
        {"lone \\x before the name stays", u"\\x[SUM8]", both, "\\x\xD4"},
        {"backslash before the name stays", u"\\[XOR8]\\x41", both, "\\\\A"},
        {"double open before a checksum", u"[[SUM8]", both, "[["},
        {"chinese bytes are covered", u"中[XOR8]", both, "\xD6\xD0\x06"},
        {"escapes not decoded without hex", u"\\x01[SUM8]", names_only, "\\x015"},
        {"unknown names stay text", u"[CRC32][SUM][CRC 16][SUM8 ]", both,
         "[CRC32][SUM][CRC 16][SUM8 ]"},
        {"name off: literal text", u"\\x01[CRC16]", Opts(false, true, false, false), "\x01[CRC16]"},
        {"all off: literal text", u"[SUM8]", Opts(false, false, false, false), "[SUM8]"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(HexText(ParseSendText(row.text, row.options)), HexText(row.expected)) << row.name;
    }
}

TEST(ParseSendTextTest, ChecksumNamesAreNeverMadeOfEscapes) {
    // Names are read before escapes are decoded, so a name written partly as an escape is
    // just text once decoded, whichever part the escape stands for.
    const SendOptions both = Opts(true, true, false, false);
    const struct {
        const char16_t* text;
        const char* expected;
    } rows[] = {
        {u"\\x5BSUM8]", "[SUM8]"},
        {u"[SUM\\x38]", "[SUM8]"},
        {u"[\\x53UM8]", "[SUM8]"},
        {u"[SUM8\\x5D", "[SUM8]"},
        {u"\\x5Bcrc16\\x5D", "[crc16]"},
        // The text decoded from escapes is still covered by a real name after it.
        {u"[\\x43RC16][SUM8]", "[CRC16]\xF7"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(HexText(ParseSendText(row.text, both)), HexText(row.expected))
            << kem::platform::WideToUtf8(row.text);
    }
}

TEST(ParseSendTextTest, LineEndIsNeverCovered) {
    // 0x31 + 0x32 = 0x63; the CR LF after it is not part of any checksum.
    EXPECT_EQ(HexText(ParseSendText(u"12[SUM8]", Opts(true, true, true, true))), "31 32 63 0D 0A");
    EXPECT_EQ(HexText(ParseSendText(u"12[SUM8]", Opts(true, true, true, false))), "31 32 63 0D");
    // A text that ends in its own CR after the checksum gets no second line end.
    EXPECT_EQ(HexText(ParseSendText(u"12[SUM8][CR]", Opts(true, true, true, true))), "31 32 63 0D");
    // A checksum that happens to be CR or LF is data: the line end still follows.
    EXPECT_EQ(HexText(ParseSendText(u"\\x0D[XOR8]", Opts(true, true, true, true))), "0D 0D 0D 0A");
    EXPECT_EQ(HexText(ParseSendText(u"\\x0A[SUM8]", Opts(true, true, true, false))), "0A 0A 0D");
    // Without the setting nothing is added.
    EXPECT_EQ(HexText(ParseSendText(u"12[SUM8]", Opts(true, true, false, true))), "31 32 63");
}

TEST(ParseSendTextTest, ChecksumNamesWithOtherDelimiters) {
    SendOptions options = Opts(true, true, false, false);
    options.name_open = u'<';
    options.name_close = u'>';
    EXPECT_EQ(HexText(ParseSendText(u"\\x01\\x02<sum8>[SUM8]", options)),
              "01 02 03 5B 53 55 4D 38 5D");
}

TEST(ParseSendTextTest, ChecksumsOfRandomFramesMatchTheAlgorithms) {
    // Frames of random escaped bytes, each followed by a checksum name: every checksum must be
    // the algorithm's value over the bytes since the previous checksum's bytes began.
    std::mt19937 random(7);
    const SendOptions both = Opts(true, true, false, false);
    for (int round = 0; round < 200; ++round) {
        std::u16string text;
        std::string expected;
        size_t covered_from = 0;
        const int frames = std::uniform_int_distribution<int>(1, 4)(random);
        for (int frame = 0; frame < frames; ++frame) {
            const int length = std::uniform_int_distribution<int>(0, 20)(random);
            for (int i = 0; i < length; ++i) {
                const int value = std::uniform_int_distribution<int>(0, 255)(random);
                static const char kDigits[] = "0123456789abcdef";
                text += u"\\x";
                text += static_cast<char16_t>(kDigits[value >> 4]);
                text += static_cast<char16_t>(kDigits[value & 15]);
                expected += static_cast<char>(value);
            }
            const ChecksumName& name = ChecksumNames()[static_cast<size_t>(
                std::uniform_int_distribution<int>(0, kChecksumCount - 1)(random))];
            text += u'[';
            for (const char letter : name.name) {
                // Random letter case.
                const bool lower = std::uniform_int_distribution<int>(0, 1)(random) == 1;
                text += static_cast<char16_t>(lower ? std::tolower(letter) : letter);
            }
            text += u']';
            const std::string_view covered = std::string_view(expected).substr(covered_from);
            std::string value;
            switch (name.kind) {
                case ChecksumKind::kCrc16: {
                    const uint16_t crc = Crc16Modbus(covered);
                    value = {static_cast<char>(crc & 0xFF), static_cast<char>(crc >> 8)};
                    break;
                }
                case ChecksumKind::kCrc16Ccitt: {
                    const uint16_t crc = Crc16CcittFalse(covered);
                    value = {static_cast<char>(crc >> 8), static_cast<char>(crc & 0xFF)};
                    break;
                }
                case ChecksumKind::kCrc8:
                    value = std::string(1, static_cast<char>(Crc8(covered)));
                    break;
                case ChecksumKind::kSum8:
                    value = std::string(1, static_cast<char>(Sum8(covered)));
                    break;
                case ChecksumKind::kXor8:
                    value = std::string(1, static_cast<char>(Xor8(covered)));
                    break;
                case ChecksumKind::kLrc:
                    value = std::string(1, static_cast<char>(Lrc8(covered)));
                    break;
            }
            covered_from = expected.size();
            expected += value;
        }
        ASSERT_EQ(HexText(ParseSendText(text, both)), HexText(expected))
            << kem::platform::WideToUtf8(text);
    }
}

TEST(AppendLineEndTest, OnlyWhenAskedAndNotAlreadyEnded) {
    const struct {
        const char* name;
        std::string bytes;
        bool enter, crlf;
        std::string expected;
    } rows[] = {
        {"off", "a", false, true, "a"},
        {"cr", "a", true, false, "a\r"},
        {"crlf", "a", true, true, "a\r\n"},
        {"ends in cr", "a\r", true, true, "a\r"},
        {"ends in lf", "a\n", true, false, "a\n"},
        {"cr inside", "\ra", true, false, "\ra\r"},
        {"empty", "", true, true, "\r\n"},
    };
    for (const auto& row : rows) {
        std::string bytes = row.bytes;
        AppendLineEnd(bytes, row.enter, row.crlf);
        EXPECT_EQ(HexText(bytes), HexText(row.expected)) << row.name;
    }
}

TEST(SelectSendTextTest, SelectionOrWholeText) {
    const std::u16string input = u"hello world";
    const struct {
        const char* name;
        int64_t start, end;
        const char16_t* expected;
    } rows[] = {
        {"no selection", 3, 3, u"hello world"}, {"selection", 6, 11, u"world"},
        {"reversed", 5, 0, u"hello"},           {"past the end clamped", 6, 99, u"world"},
        {"negative clamped", -4, 2, u"he"},     {"both past the end", 50, 60, u"hello world"},
        {"all", 0, 11, u"hello world"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(SelectSendText(input, row.start, row.end), row.expected) << row.name;
    }
    EXPECT_EQ(SelectSendText(u"", 0, 0), u"");
}

TEST(TypedCharBytesTest, CharacterGoesThroughTheCodePage) {
    using namespace std::string_literals;
    const struct {
        const char* name;
        std::u16string typed;
        bool crlf;
        std::string expected;
    } rows[] = {
        {"letter", u"a", false, "a"},
        {"chinese is two bytes, not its low byte", u"中", false, "\xD6\xD0"},
        {"cr", u"\r", false, "\r"},
        {"cr with crlf", u"\r", true, "\r\n"},
        {"lf stays lf", u"\n", true, "\n"},
        {"control code", u"\x03", false, "\x03"},
        {"zero character", u"\0"s, false, "\0"s},
        {"unmappable", u"\u0E01", false, "?"},
        {"latin letter U+0141 not 0x41", u"\u0141", false, "?"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(HexText(TypedCharBytes(row.typed, row.crlf)), HexText(row.expected)) << row.name;
    }
    EXPECT_EQ(kDeleteKeyByte, 0x7F);
}

TEST(TypedCharBytesTest, CharacterBeyondTheBmpIsNeverCutToItsLowByte) {
    const std::string bytes = TypedCharBytes(u"\U0001F600", false);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.find_first_not_of('?'), std::string::npos) << HexText(bytes);
}

class SendFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("send_parser_test_" +
                   std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::u16string Write(const std::string& name, const std::string& bytes) {
        const std::string path = (folder_ / name).string();
        EXPECT_FALSE(kem::platform::ReplaceFile(path, bytes).failed());
        return kem::platform::Utf8ToWide(path);
    }

    std::vector<size_t> BlockSizes(std::u16string_view path) {
        const kem::platform::FileContent content = ReadSendFile(path);
        EXPECT_EQ(content.status, kem::platform::FileStatus::kOk);
        std::vector<size_t> sizes;
        std::string joined;
        for (const std::string_view block : SplitSendBlocks(content.bytes)) {
            sizes.push_back(block.size());
            joined += block;
        }
        EXPECT_EQ(joined, content.bytes);  // nothing lost, nothing reordered
        return sizes;
    }

    std::filesystem::path folder_;
};

TEST_F(SendFileTest, FileIsSentInBlocksOf256Bytes) {
    std::string bytes(600, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7);
    }
    EXPECT_EQ(BlockSizes(Write("600.bin", bytes)), (std::vector<size_t>{256, 256, 88}));
    EXPECT_EQ(BlockSizes(Write("512.bin", bytes.substr(0, 512))), (std::vector<size_t>{256, 256}));
    EXPECT_EQ(BlockSizes(Write("1.bin", "x")), (std::vector<size_t>{1}));
    EXPECT_EQ(BlockSizes(Write("empty.bin", "")), (std::vector<size_t>{}));
    EXPECT_EQ(BlockSizes(Write("中文名.bin", bytes.substr(0, 257))), (std::vector<size_t>{256, 1}));
}

TEST_F(SendFileTest, MissingFileOrFolderIsReported) {
    const kem::platform::FileContent missing =
        ReadSendFile(kem::platform::Utf8ToWide((folder_ / "none.bin").string()));
    EXPECT_EQ(missing.status, kem::platform::FileStatus::kMissing);
    EXPECT_TRUE(missing.error.failed());
    const kem::platform::FileContent folder =
        ReadSendFile(kem::platform::Utf8ToWide(folder_.string()));
    EXPECT_NE(folder.status, kem::platform::FileStatus::kOk);
}

TEST(SendFileTextTest, MessageAndDialogName) {
    EXPECT_EQ(CannotOpenFileText(u"/tmp/x.bin"), u"无法打开文件:/tmp/x.bin");
    EXPECT_EQ(SendFileDialogName(u""), u"*.*");
    EXPECT_EQ(SendFileDialogName(u"/tmp/x.bin"), u"/tmp/x.bin");
}

}  // namespace
