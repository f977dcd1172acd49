#include "platform/code_page.h"

#include <gtest/gtest.h>

using namespace kem::platform;

TEST(CodePageTest, DefaultsToGbk) {
    EXPECT_EQ(AnsiCodePage(), "CP936");
}

TEST(CodePageTest, AsciiRoundTripsForEverySevenBitCharacter) {
    std::u16string wide;
    std::string narrow;
    for (int c = 0; c < 0x80; ++c) {
        wide.push_back(static_cast<char16_t>(c));
        narrow.push_back(static_cast<char>(c));
    }
    EXPECT_EQ(WideToAnsi(wide), narrow);
    EXPECT_EQ(AnsiToWide(narrow), wide);
}

TEST(CodePageTest, ChineseTextUsesTwoBytesPerCharacter) {
    const std::u16string text = u"打开串口失败";
    const std::string bytes = WideToAnsi(text);
    ASSERT_EQ(bytes.size(), 12u);
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xB4);  // 打 is B4 F2 in GBK
    EXPECT_EQ(static_cast<unsigned char>(bytes[1]), 0xF2);
    EXPECT_EQ(AnsiToWide(bytes), text);
}

TEST(CodePageTest, UnmappableCharactersBecomeQuestionMarks) {
    EXPECT_EQ(WideToAnsi(u"a\u0E01b"), "a?b");  // Thai has no GBK code
    EXPECT_EQ(WideToAnsi(u"x\xD800y"), "x?y");  // a lone surrogate
    EXPECT_EQ(WideToAnsi(u"\u0E01\u0E02"), "??");
}

TEST(CodePageTest, InvalidBytesBecomeQuestionMarks) {
    EXPECT_EQ(AnsiToWide("a\xFF"
                         "b"),
              u"a?b");
    // A lead byte cut off at the end of the block.
    EXPECT_EQ(AnsiToWide("ab\xB4"), u"ab?");
}

TEST(CodePageTest, LongTextsConvertCompletely) {
    std::u16string wide;
    for (int i = 0; i < 100000; ++i) {
        wide += (i % 3 == 0) ? u'中' : u'a';
    }
    const std::string bytes = WideToAnsi(wide);
    EXPECT_EQ(bytes.size(), 100000u + 33334u);
    EXPECT_EQ(AnsiToWide(bytes), wide);
}

TEST(CodePageTest, Utf8RoundTrip) {
    const std::u16string text = u"/tmp/日志/\U0001F600.log";
    const std::string utf8 = WideToUtf8(text);
    EXPECT_EQ(utf8, "/tmp/\xE6\x97\xA5\xE5\xBF\x97/\xF0\x9F\x98\x80.log");
    EXPECT_EQ(Utf8ToWide(utf8), text);
    EXPECT_EQ(Utf8ToWide("a\xC3"), u"a\uFFFD");
}
