// The ANSI code page (GBK) and UTF-8 conversions: exact bytes both ways, double-byte
// characters, and what becomes of unmappable, invalid or cut-off sequences.
#include "platform/code_page.h"

#include <gtest/gtest.h>

using namespace kem::platform;

TEST(CodePageTest, GbkConvertsAsciiAndDoubleByteTextExactlyBothWays) {
    std::u16string ascii, mixed;
    std::string ascii_bytes, mixed_bytes;
    for (int c = 0; c < 0x80; ++c) {
        ascii.push_back(static_cast<char16_t>(c));
        ascii_bytes.push_back(static_cast<char>(c));
    }
    for (int i = 0; i < 100000; ++i) {  // long enough to cross any internal block
        mixed += (i % 3 == 0) ? u'中' : u'a';
        mixed_bytes += (i % 3 == 0) ? "\xD6\xD0" : "a";
    }
    const std::pair<std::u16string, std::string> rows[] = {
        {ascii, ascii_bytes},
        {u"打开串口", "\xB4\xF2\xBF\xAA\xB4\xAE\xBF\xDA"},
        {mixed, mixed_bytes}};
    for (const auto& [wide, narrow] : rows) {
        EXPECT_EQ(WideToAnsi(wide), narrow);
        EXPECT_EQ(AnsiToWide(narrow), wide);
    }
}

TEST(CodePageTest, UnmappableInvalidAndCutOffSequencesBecomeQuestionMarks) {
    EXPECT_EQ(WideToAnsi(u"a\u0E01b"), "a?b");  // Thai has no GBK code
    EXPECT_EQ(WideToAnsi(u"x\xD800y"), "x?y");  // a lone surrogate
    EXPECT_EQ(WideToAnsi(u"\u0E01\u0E02"), "??");
    EXPECT_EQ(AnsiToWide("a\xFF"
                         "b"),
              u"a?b");
    EXPECT_EQ(AnsiToWide("ab\xB4"), u"ab?");  // a lead byte without its tail
    EXPECT_EQ(Utf8ToWide("a\xC3"), u"a\uFFFD");
}

TEST(CodePageTest, Utf8RoundTripsAstralCharacters) {
    const std::u16string text = u"/tmp/日志/\U0001F600.log";
    const std::string utf8 = WideToUtf8(text);
    EXPECT_EQ(utf8, "/tmp/\xE6\x97\xA5\xE5\xBF\x97/\xF0\x9F\x98\x80.log");
    EXPECT_EQ(Utf8ToWide(utf8), text);
}
