// Turning the send text into bytes: escapes, control-character and checksum names, line ends,
// typed characters, the selection, and files sent in blocks.
#include "terminal/send_parser.h"

#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "platform/code_page.h"
#include "platform/file_io.h"
#include "support/hex_text.h"
#include "support/scratch_files.h"
#include "terminal/checksum.h"

namespace {

using kem::testing::HexText;
using namespace std::string_literals;

std::string Escapes(std::string_view source) {
    std::string out(source.size() + 5, '\0');
    const int32_t count = ParseEscapes(
        reinterpret_cast<const uint8_t*>(source.data()), static_cast<int32_t>(source.size()),
        reinterpret_cast<uint8_t*>(out.data()), static_cast<int32_t>(out.size()));
    out.resize(static_cast<size_t>(count));
    return out;
}

TEST(ParseEscapesTest, DecodesHexEscapesAndDoubledBackslashes) {
    // A third digit is text; a backslash cuts an escape short.
    const std::pair<std::string, std::string> rows[] = {{"\\x41", "A"},
                                                        {"\\X41", "A"},
                                                        {"\\xff\\xAb", "\xFF\xAB"},
                                                        {"\\x4142", "A42"},
                                                        {"\\x4G", "\x04G"},
                                                        {"ab\\x", "ab\\x"},
                                                        {"\\x0", "\0"s},
                                                        {"\\x4", "\x04"},
                                                        {"\\xG", "\\xG"},
                                                        {"\\xGH", "\\xGH"},
                                                        {"\\xD1\\xDD", "\xD1\xDD"},
                                                        {"\\\\x41", "\\x41"},
                                                        {"\\\\\\x41", "\\A"},
                                                        {"a\\", "a\\"},
                                                        {"\\n", "\\n"},
                                                        {"\\x\\x41", "\\xA"},
                                                        {"\\x4\\x41", "\x04\x41"},
                                                        {"\\x30abc", "0abc"},
                                                        {"Demo input", "Demo input"},
                                                        {"a\0b"s, "a\0b"s},
                                                        {"", ""},
                                                        {"\\x4\\", "\x04\\"},
                                                        {"\\\\\\\\", "\\\\"}};
    for (const auto& [input, expected] : rows) {
        EXPECT_EQ(HexText(Escapes(input)), HexText(expected)) << input;
    }
    const std::string digits = "0123456789abcdefABCDEF";
    for (const char high : digits) {
        for (const char low : digits) {
            const std::string escape = {'\\', 'x', high, low};
            EXPECT_EQ(Escapes(escape), std::string(1, std::stoi(escape.substr(2), nullptr, 16)));
        }
    }
}

TEST(ParseEscapesTest, BoundsOfSourceAndDestination) {
    // A negative length reads to the first zero byte; the rest is zero-filled.
    const char source[] = "\\x41B\0\\x42";
    uint8_t out[16];
    EXPECT_EQ(ParseEscapes(reinterpret_cast<const uint8_t*>(source), -1, out, sizeof out), 2);
    EXPECT_EQ(HexText(std::string(reinterpret_cast<char*>(out), 3)), "41 42 00");
    // Stops when the destination is full, leaving what lies beyond untouched.
    const std::string full = "abc\\x41def";
    uint8_t five[5] = {9, 9, 9, 9, 9};
    EXPECT_EQ(ParseEscapes(reinterpret_cast<const uint8_t*>(full.data()), 10, five, 4), 4);
    EXPECT_EQ(HexText(std::string(reinterpret_cast<char*>(five), 5)), "61 62 63 41 09");
    // An unchanged collection longer than the room left is cut to the room.
    uint8_t small[3];
    EXPECT_EQ(ParseEscapes(reinterpret_cast<const uint8_t*>("ab\\xG"), 5, small, 3), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(small), 3), "ab\\");
    // No destination, or no source.
    const uint8_t a[] = {'a'};
    uint8_t one[1] = {7};
    EXPECT_EQ(ParseEscapes(a, 1, nullptr, 4), 0);
    EXPECT_EQ(ParseEscapes(a, 1, one, 0), 0);
    EXPECT_EQ(one[0], 7);
    EXPECT_EQ(ParseEscapes(nullptr, 1, one, 1), 0);
    EXPECT_EQ(one[0], 0);
}

TEST(ReplaceCtrlCharNamesTest, BracketedNamesBecomeTheirBytes) {
    // Parts of a name, the key column ("^M") and GBK text are no names; 81 5B is one GBK
    // character whose trail byte is a '['.
    const std::pair<std::string, std::string> rows[] = {
        {"[CR][LF]", "\r\n"},
        {"[cr][Cr][lF]", "\r\r\n"},
        {"[NUL]", "\0"s},
        {"[SP][del]", " \x7F"},
        {"[ABC]", "[ABC]"},
        {"[A]", "[A]"},
        {"[]", "[]"},
        {"[[CR]", "[\r"},
        {"a[b", "a[b"},
        {"a]b", "a]b"},
        {"]CR[", "]CR["},
        {"AT[CR]OK", "AT\rOK"},
        {"[[ES][SC]]", "[[ES][SC]]"},
        {"[E[CR]SC]", "[E\rSC]"},
        {"[ CR ]", "[ CR ]"},
        {"[^M]", "[^M]"},
        {"[C[CR]R]", "[C\rR]"},
        {"[[CR]]", "[\r]"},
        {"[[[[LF]", "[[[\n"},
        {"[NOT A NAME AT ALL]", "[NOT A NAME AT ALL]"},
        {"[\xD6\xD0\xCE\xC4]", "[\xD6\xD0\xCE\xC4]"},
        {"", ""},
        {"\x81\x5B\x43R]", "\x81\r"}};
    for (const auto& [input, expected] : rows) {
        EXPECT_EQ(HexText(ReplaceCtrlCharNames(input)), HexText(expected)) << HexText(input);
    }
    const char* names[] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",
                           "TAB", "LF",  "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1",
                           "DC2", "DC3", "DC4", "NAK", "SYN", "ETB", "CAN", "EM",  "SUB",
                           "ESC", "FS",  "GS",  "RS",  "US",  "SP",  "DEL"};
    for (int code = 0; code < 34; ++code) {
        EXPECT_EQ(ReplaceCtrlCharNames("[" + std::string(names[code]) + "]"),
                  std::string(1, static_cast<char>(code == 33 ? 0x7F : code)))
            << names[code];
    }
    EXPECT_EQ(ReplaceCtrlCharNames("<CR>[LF]", '<', '>'), "\r[LF]");
    // Many opens without a close are left alone; a close far behind ends one name.
    const std::string opens(100000, '[');
    EXPECT_EQ(ReplaceCtrlCharNames(opens), opens);
    EXPECT_EQ(ReplaceCtrlCharNames(opens + "CR]"), std::string(99999, '[') + "\r");
}

// Options from letters: n names, h hex, e line end, c CR LF, < angle-bracket names.
SendOptions Opts(std::string_view flags) {
    auto has = [&](char flag) { return flags.find(flag) != std::string_view::npos; };
    return {has('n'), has('h'), has('e'), has('c'), has('<') ? u'<' : u'[', has('<') ? u'>' : u']'};
}

// Rows of text, option letters and the bytes sent.
void CheckSendRows(const std::vector<std::tuple<std::u16string, const char*, std::string>>& rows) {
    for (const auto& [text, flags, expected] : rows) {
        EXPECT_EQ(HexText(ParseSendText(text, Opts(flags))), HexText(expected))
            << kem::platform::WideToUtf8(text) << " " << flags;
    }
}

TEST(ParseSendTextTest, TheWholeChain) {
    // No second line end after one of the text's own; an escape never makes a name nor a name
    // an escape; a zero character ends the text.
    CheckSendRows({{u"Demo input\\x0D\\x0A", "hec", "Demo input\r\n"},
                   {u"AB", "ec", "AB\r\n"},
                   {u"AB", "e", "AB\r"},
                   {u"AB", "c", "AB"},
                   {u"AB[CR]", "nec", "AB\r"},
                   {u"AB\n", "ec", "AB\n"},
                   {u"[CR]", "h", "[CR]"},
                   {u"\\x41", "n", "\\x41"},
                   {u"[NUL]", "n", "\0"s},
                   {u"\\x4", "h", "\x04"},
                   {u"\\xG", "h", "\\xG"},
                   {u"[CR]\\x0D", "nh", "\r\r"},
                   {u"\\x5BCR]", "nh", "[CR]"},
                   {u"\\[SP]41", "nh", "\\ 41"},
                   {u"a\\x00b", "h", "a\0b"s},
                   {u"中文", "nh", "\xD6\xD0\xCE\xC4"},
                   {u"\u0E01", "", "?"},
                   {u"ab\0cd"s, "", "ab"},
                   {u"\0x"s, "e", "\r"},
                   {u"\ra", "e", "\ra\r"},
                   {u"", "nhec", ""}});
}

TEST(ParseSendTextTest, ChecksumNames) {
    CheckSendRows({
        {u"\\x01\\x03\\x00\\x0A\\x00\\x02[CRC16]", "nh", "\x01\x03\x00\x0A\x00\x02\xE4\x09"s},
        {u"\\x01\\x02[SUM8][XOR8]", "nh", "\x01\x02\x03\x03"},  // XOR covers only the sum
        {u"123456789[crc16]", "nh", "123456789\x37\x4B"},
        {u"123456789[Crc16ccitt]", "nh", "123456789\x29\xB1"},
        {u"123456789[CrC8]", "nh", "123456789\xF4"},
        {u"123456789[sum8]", "nh", "123456789\xDD"},
        {u"123456789[Xor8]", "nh", "123456789\x31"},
        {u"123456789[lrc]", "nh", "123456789\x23"},
        // Each covers from the previous one's own bytes on; control names and GBK bytes are
        // covered, text after the last one is not.
        {u"\\x01[SUM8]\\x02\\x03[SUM8]", "nh", "\x01\x01\x02\x03\x06"},
        {u"\\x05[SUM8]AB", "nh", "\x05\x05\x41\x42"},
        {u"A[CR][SUM8]", "nh", "A\r\x4E"},
        {u"[SUM8][CRC16]", "nh", "\x00\xBF\x40"s},
        {u"\\x4[SUM8]", "nh", "\x04\x04"},
        {u"\\x[SUM8]", "nh", "\\x\xD4"},
        {u"\\[XOR8]\\x41", "nh", "\\\\A"},
        {u"[[SUM8]", "nh", "[["},
        {u"中[XOR8]", "nh", "\xD6\xD0\x06"},
        {u"\\x01[SUM8]", "n", "\\x015"},
        {u"[CRC32][SUM][CRC 16][SUM8 ]", "nh", "[CRC32][SUM][CRC 16][SUM8 ]"},
        {u"\\x01[CRC16]", "h", "\x01[CRC16]"},
        {u"[SUM8]", "", "[SUM8]"},
        {u"\\x01\\x02<sum8>[SUM8]", "nh<", "\x01\x02\x03[SUM8]"},
        // Names are read before escapes are decoded: a name written partly as an escape is
        // text, whichever part the escape stands for, but covered by a real name after it.
        {u"\\x5BSUM8]", "nh", "[SUM8]"},
        {u"[SUM\\x38]", "nh", "[SUM8]"},
        {u"[\\x53UM8]", "nh", "[SUM8]"},
        {u"[SUM8\\x5D", "nh", "[SUM8]"},
        {u"\\x5Bcrc16\\x5D", "nh", "[crc16]"},
        {u"[\\x43RC16][SUM8]", "nh", "[CRC16]\xF7"},
        // The line end is never covered (31 + 32 = 63); a checksum that is CR or LF is data.
        {u"12[SUM8]", "nhec", "12\x63\r\n"},
        {u"12[SUM8]", "nhe", "12\x63\r"},
        {u"12[SUM8][CR]", "nhec", "12\x63\r"},
        {u"\\x0D[XOR8]", "nhec", "\r\r\r\n"},
        {u"\\x0A[SUM8]", "nhe", "\n\n\r"},
        {u"12[SUM8]", "nhc", "12\x63"},
    });
}

TEST(ParseSendTextTest, ChecksumsOfRandomFramesCoverFromThePreviousChecksum) {
    // Frames of random escaped bytes, each followed by a checksum name in random letter case:
    // each checksum covers the bytes since the previous checksum's bytes began.
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        std::u16string text;
        std::string expected;
        size_t covered_from = 0;
        for (int frame = std::uniform_int_distribution<int>(1, 4)(random); frame > 0; --frame) {
            for (int i = std::uniform_int_distribution<int>(0, 20)(random); i > 0; --i) {
                const int value = std::uniform_int_distribution<int>(0, 255)(random);
                static const char16_t kDigits[] = u"0123456789abcdef";
                text += {u'\\', u'x', kDigits[value >> 4], kDigits[value & 15]};
                expected += static_cast<char>(value);
            }
            const ChecksumName& name = ChecksumNames()[static_cast<size_t>(
                std::uniform_int_distribution<int>(0, kChecksumCount - 1)(random))];
            text += u'[';
            for (const char letter : name.name) {
                const bool lower = std::uniform_int_distribution<int>(0, 1)(random) == 1;
                text += static_cast<char16_t>(lower ? std::tolower(letter) : letter);
            }
            text += u']';
            const size_t checksum_at = expected.size();
            AppendChecksum(expected, covered_from, name.kind);
            covered_from = checksum_at;
        }
        ASSERT_EQ(HexText(ParseSendText(text, Opts("nh"))), HexText(expected))
            << kem::platform::WideToUtf8(text);
    }
}

TEST(SelectSendTextTest, SelectionOrWholeText) {
    const std::tuple<int64_t, int64_t, const char16_t*> rows[] = {
        {3, 3, u"hello world"}, {6, 11, u"world"},        {5, 0, u"hello"},       {6, 99, u"world"},
        {-4, 2, u"he"},         {50, 60, u"hello world"}, {0, 11, u"hello world"}};
    for (const auto& [start, end, expected] : rows) {
        EXPECT_EQ(SelectSendText(u"hello world", start, end), expected) << start;
    }
    EXPECT_EQ(SelectSendText(u"", 0, 0), u"");
}

TEST(TypedCharBytesTest, CharacterGoesThroughTheCodePage) {
    // Two bytes for a Chinese character and '?' for U+0141, never the low byte of the unit.
    const std::tuple<std::u16string, bool, std::string> rows[] = {
        {u"a", false, "a"},     {u"中", false, "\xD6\xD0"}, {u"\r", false, "\r"},
        {u"\r", true, "\r\n"},  {u"\n", true, "\n"},        {u"\x03", false, "\x03"},
        {u"\0"s, false, "\0"s}, {u"\u0E01", false, "?"},    {u"\u0141", false, "?"}};
    for (const auto& [typed, crlf, expected] : rows) {
        EXPECT_EQ(HexText(TypedCharBytes(typed, crlf)), HexText(expected))
            << kem::platform::WideToUtf8(typed);
    }
    // Beyond the BMP: question marks, never the low byte of either half.
    const std::string bytes = TypedCharBytes(u"\U0001F600", false);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.find_first_not_of('?'), std::string::npos) << HexText(bytes);
}

TEST(SendFileTest, FileIsSentInBlocksOf256BytesAndAMissingOneIsReported) {
    kem::testing::TempFolder folder;
    auto block_sizes = [&](const std::string& name, const std::string& bytes) {
        EXPECT_FALSE(kem::platform::ReplaceFile(folder / name, bytes).failed());
        const kem::platform::FileContent content =
            ReadSendFile(kem::platform::Utf8ToWide(folder / name));
        EXPECT_EQ(content.status, kem::platform::FileStatus::kOk);
        std::vector<size_t> sizes;
        std::string joined;
        for (const std::string_view block : SplitSendBlocks(content.bytes)) {
            sizes.push_back(block.size());
            joined += block;
        }
        EXPECT_EQ(joined, bytes);  // nothing lost, nothing reordered
        return sizes;
    };
    std::string bytes(600, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7);
    }
    using Sizes = std::vector<size_t>;
    EXPECT_EQ(block_sizes("600.bin", bytes), (Sizes{256, 256, 88}));
    EXPECT_EQ(block_sizes("512.bin", bytes.substr(0, 512)), (Sizes{256, 256}));
    EXPECT_EQ(block_sizes("1.bin", "x"), (Sizes{1}));
    EXPECT_EQ(block_sizes("empty.bin", ""), (Sizes{}));
    EXPECT_EQ(block_sizes("中文名.bin", bytes.substr(0, 257)), (Sizes{256, 1}));

    const auto missing = ReadSendFile(kem::platform::Utf8ToWide(folder / "none.bin"));
    EXPECT_EQ(missing.status, kem::platform::FileStatus::kMissing);
    EXPECT_TRUE(missing.error.failed());
    EXPECT_NE(ReadSendFile(folder.path16()).status, kem::platform::FileStatus::kOk);
    EXPECT_EQ(CannotOpenFileText(u"/tmp/x.bin"), u"无法打开文件:/tmp/x.bin");
    EXPECT_EQ(SendFileDialogName(u""), u"*.*");
    EXPECT_EQ(SendFileDialogName(u"/tmp/x.bin"), u"/tmp/x.bin");
}

}  // namespace
