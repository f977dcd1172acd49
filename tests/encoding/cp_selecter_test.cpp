#include "encoding/cp_selecter.h"

#include <gtest/gtest.h>

#include "encoding/filter_test_support.h"
#include "platform/code_page.h"

using namespace kem::encoding::test;

namespace {

std::u16string DecodeAll(std::string_view bytes) {
    CKemFilterContainerCPSelecter selector;
    Feed(selector, bytes);
    return Units(Drain(selector));
}

std::string EncodeAs(int32_t type, std::u16string_view text) {
    CKemFilterContainerCPSelecter selector;
    selector.SetDirection(1);
    EXPECT_EQ(selector.SetParam(u"OutputCodeType", &type, 4), FilterStatus::kOk);
    Feed(selector, Le(text));
    return Drain(selector);
}

// A text with characters of every UTF-8 length, long enough to cross several pieces.
const std::u16string kSample = u"[Config]\r\nName=中文名称 é \U0001F600 end\r\n";

}  // namespace

TEST(CpSelecterTest, DecodesByByteOrderMark) {
    const struct {
        const char* name;
        std::string bytes;
        std::u16string text;
    } rows[] = {
        {"utf-16 le", std::string("\xFF\xFE\x41\x00", 4), u"A"},
        {"utf-16 be", std::string("\xFE\xFF\x00\x41", 4), u"A"},
        {"utf-8", "\xEF\xBB\xBF\x41", u"A"},
        {"ansi", "\x41\x42", u"AB"},
        {"ansi han", "\xD6\xD0", u"中"},
        {"FE then other byte is ansi", "\xFE\x41", kem::platform::AnsiToWide("\xFE\x41")},
        {"EF then other byte is ansi", "\xEF\x41", kem::platform::AnsiToWide("\xEF\x41")},
        {"EF BB then other byte is ansi", "\xEF\xBB\x41",
         kem::platform::AnsiToWide("\xEF\xBB\x41")},
        {"mark only", "\xEF\xBB\xBF", u""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(DecodeAll(row.bytes), row.text) << row.name;
    }
}

TEST(CpSelecterTest, UndecidedBytesWaitForTheMarkToComplete) {
    CKemFilterContainerCPSelecter selector;
    Feed(selector, "\xFE");
    EXPECT_FALSE(selector.decided());
    EXPECT_TRUE(Drain(selector).empty());
    Feed(selector, "\xFF");
    EXPECT_TRUE(selector.decided());
    Feed(selector, std::string("\x00\x41\x4E", 3));
    EXPECT_EQ(Units(Drain(selector)), u"A");
    Feed(selector, "\x2D");
    EXPECT_EQ(Units(Drain(selector)), u"中");
}

TEST(CpSelecterTest, ShortStreamsThatCouldBeAMarkProduceNothing) {
    for (const std::string bytes : {"\xFE", "\xFF", "\xEF", "\xEF\xBB"}) {
        CKemFilterContainerCPSelecter selector;
        Feed(selector, bytes);
        EXPECT_FALSE(selector.decided()) << Hex(bytes);
        EXPECT_TRUE(Drain(selector).empty()) << Hex(bytes);
    }
}

TEST(CpSelecterTest, EncodesByOutputCodeType) {
    const struct {
        int32_t type;
        const char* bytes;
    } rows[] = {
        {4, "EF BB BF 41"}, {5, "EF BB BF 41"}, {2, "FF FE 41 00"}, {3, "FE FF 00 41"},
        {1, "41"},          {0, "FF FE 41 00"}, {9, "FF FE 41 00"}, {-1, "FF FE 41 00"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Hex(EncodeAs(row.type, u"A")), row.bytes) << "type " << row.type;
    }
}

TEST(CpSelecterTest, EncodedTextDecodesBackInEveryEncoding) {
    for (int32_t type : {2, 3, 4}) {
        EXPECT_EQ(DecodeAll(EncodeAs(type, kSample)), kSample) << "type " << type;
    }
    const std::u16string han = u"[串口]\r\n打开=中文\r\n";
    EXPECT_EQ(DecodeAll(EncodeAs(1, han)), han);
}

TEST(CpSelecterTest, EveryRouteDecodesTheSameAtEverySplitPoint) {
    const struct {
        const char* name;
        std::string bytes;
        std::u16string text;
    } rows[] = {
        {"utf-8", EncodeAs(4, kSample), kSample},
        {"utf-16 le", EncodeAs(2, kSample), kSample},
        {"utf-16 be", EncodeAs(3, kSample), kSample},
        {"ansi", kem::platform::WideToAnsi(u"[串口]\r\n打开=中文\r\n"), u"[串口]\r\n打开=中文\r\n"},
        {"utf-8 without mark", EncodeAs(4, kSample).substr(3), kSample},
    };
    for (const auto& row : rows) {
        for (size_t cut = 0; cut <= row.bytes.size(); ++cut) {
            CKemFilterContainerCPSelecter selector;
            EXPECT_EQ(Units(FeedInPieces(selector, row.bytes, {cut})), row.text)
                << row.name << ", cut at " << cut;
        }
    }
}

TEST(CpSelecterTest, EncodingSplitAtEveryPointGivesTheSameBytes) {
    const std::string whole = Le(kSample);
    for (int32_t type : {1, 2, 3, 4}) {
        const std::string expected = EncodeAs(type, kSample);
        for (size_t cut = 0; cut <= whole.size(); ++cut) {
            CKemFilterContainerCPSelecter selector;
            selector.SetDirection(1);
            selector.SetParam(u"OutputCodeType", &type, 4);
            EXPECT_EQ(Hex(FeedInPieces(selector, whole, {cut})), Hex(expected))
                << "type " << type << ", cut at " << cut;
        }
    }
}

TEST(CpSelecterTest, HanCharacterStraddlingA64KiBPieceSurvives) {
    // 65535 ASCII bytes after the mark put the second byte of 中 at the piece boundary.
    for (size_t pad : {65533u, 65534u, 65535u}) {
        const std::string bytes =
            "\xEF\xBB\xBF" + std::string(pad, 'a') + "\xE4\xB8\xAD" + std::string(10, 'b');
        CKemFilterContainerCPSelecter selector;
        std::vector<size_t> cuts;
        for (size_t at = 65536; at < bytes.size(); at += 65536) {
            cuts.push_back(at);
        }
        const std::u16string text = Units(FeedInPieces(selector, bytes, cuts));
        EXPECT_EQ(text, std::u16string(pad, u'a') + u"中" + std::u16string(10, u'b'))
            << "padding " << pad;
    }
}

TEST(CpSelecterTest, ResetOpensTheRouteAgain) {
    CKemFilterContainerCPSelecter selector;
    Feed(selector, std::string("\xFF\xFE\x41\x00", 4));
    ASSERT_EQ(Units(Drain(selector)), u"A");
    Feed(selector, "\xEF");
    selector.ResetBuffers();
    EXPECT_FALSE(selector.decided());
    Feed(selector, "\xEF\xBB\xBF\xC3\xA9");
    EXPECT_EQ(Units(Drain(selector)), u"é");

    selector.SetDirection(1);
    EXPECT_FALSE(selector.decided());
    const int32_t utf8 = 4;
    selector.SetParam(u"OutputCodeType", &utf8, 4);
    Feed(selector, Le(u"é"));
    EXPECT_EQ(Hex(Drain(selector)), "EF BB BF C3 A9");
}

TEST(CpSelecterTest, OutputBeforeADecisionGivesTheAsciiSeenSoFar) {
    CKemFilterContainerCPSelecter selector;
    Feed(selector, "\xEF");
    char out[8] = {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
    uint32_t count = 9;
    EXPECT_EQ(selector.Output(out, sizeof out, &count), FilterStatus::kOk);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(selector.GetInputBuffer(), nullptr);
    EXPECT_EQ(selector.GetOutputBuffer()->size(), 0u);

    CKemFilterContainerCPSelecter ascii_first;
    Feed(ascii_first, "ab\xE4");
    EXPECT_FALSE(ascii_first.decided());
    EXPECT_EQ(ascii_first.Output(out, sizeof out, &count), FilterStatus::kOk);
    EXPECT_EQ(Units(std::string(out, count)), u"ab");
    Feed(ascii_first, "\xB8\xAD");
    EXPECT_TRUE(ascii_first.decided());
    EXPECT_EQ(ascii_first.Output(out, sizeof out, &count), FilterStatus::kOk);
    EXPECT_EQ(Units(std::string(out, count)), u"中");
}

TEST(CpSelecterTest, TextWithoutMarkIsUtf8OnlyWhenItsNonAsciiBytesAreStrictUtf8) {
    const struct {
        const char* name;
        std::string bytes;
        std::u16string text;
    } rows[] = {
        {"utf-8 han", "Name=\xE4\xB8\xAD\xE6\x96\x87", u"Name=中文"},
        {"utf-8 latin", "caf\xC3\xA9", u"café"},
        {"utf-8 four bytes", "\xF0\x9F\x98\x80", u"\U0001F600"},
        {"gbk han", "Name=\xD6\xD0\xCE\xC4", u"Name=中文"},
        {"gbk starting like utf-8", "\xE4\xD6\xD0\xCE",
         kem::platform::AnsiToWide("\xE4\xD6\xD0\xCE")},
        {"overlong form is not utf-8", "\xC0\xAF", kem::platform::AnsiToWide("\xC0\xAF")},
        {"encoded surrogate is not utf-8", "\xED\xA0\x80",
         kem::platform::AnsiToWide("\xED\xA0\x80")},
        {"utf-8 then an invalid byte", "\xC3\xA9\xFF", kem::platform::AnsiToWide("\xC3\xA9\xFF")},
        {"ascii only", "[Config]\r\nShowHex=true\r\n", u"[Config]\r\nShowHex=true\r\n"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(DecodeAll(row.bytes), row.text) << row.name;
    }
}

TEST(CpSelecterTest, Utf8AfterManyPiecesOfAsciiIsStillRecognised) {
    const std::string bytes = std::string(200000, 'a') + "\xE4\xB8\xAD";
    CKemFilterContainerCPSelecter selector;
    std::vector<size_t> cuts;
    for (size_t at = 65536; at < bytes.size(); at += 65536) {
        cuts.push_back(at);
    }
    EXPECT_EQ(Units(FeedInPieces(selector, bytes, cuts)), std::u16string(200000, u'a') + u"中");
}

TEST(CpSelecterTest, JudgeUtf8) {
    using kem::encoding::JudgeUtf8;
    using kem::encoding::Utf8Verdict;
    const struct {
        const char* name;
        std::string bytes;
        Utf8Verdict verdict;
    } rows[] = {
        {"empty", "", Utf8Verdict::kUnsure},
        {"ascii", "abc", Utf8Verdict::kUnsure},
        {"cut lead only", "ab\xE4\xB8", Utf8Verdict::kUnsure},
        {"one sequence", "\xC3\xA9", Utf8Verdict::kUtf8},
        {"one sequence then a cut one", "\xC3\xA9\xE4", Utf8Verdict::kUtf8},
        {"largest", "\xF4\x8F\xBF\xBF", Utf8Verdict::kUtf8},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", Utf8Verdict::kNotUtf8},
        {"overlong three bytes", "\xE0\x80\xAF", Utf8Verdict::kNotUtf8},
        {"overlong four bytes", "\xF0\x8F\xBF\xBF", Utf8Verdict::kNotUtf8},
        {"stray continuation", "\x80", Utf8Verdict::kNotUtf8},
        {"C1 lead", "\xC1\xBF", Utf8Verdict::kNotUtf8},
        {"F5 lead", "\xF5\x80\x80\x80", Utf8Verdict::kNotUtf8},
        {"gbk", "\xD6\xD0", Utf8Verdict::kNotUtf8},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(JudgeUtf8(reinterpret_cast<const uint8_t*>(row.bytes.data()), row.bytes.size()),
                  row.verdict)
            << row.name;
    }
}

TEST(CpSelecterTest, OutputAfterADecisionComesFromTheRoute) {
    CKemFilterContainerCPSelecter selector;
    Feed(selector,
         "\xEF\xBB\xBF"
         "abc");
    char out[4] = {};
    uint32_t count = 0;
    EXPECT_EQ(selector.Output(out, 4, &count), FilterStatus::kBufferOverflow);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(selector.Output(out, 4, &count), FilterStatus::kOk);
    EXPECT_EQ(Units(std::string(out, count)), u"c");
}

TEST(CpSelecterTest, ParameterNameIgnoresCase) {
    CKemFilterContainerCPSelecter selector;
    const int32_t three = 3;
    EXPECT_EQ(selector.SetParam(u"outputcodetype", &three, 4), FilterStatus::kOk);
    int32_t read = 0;
    EXPECT_EQ(selector.GetParam(u"OUTPUTCODETYPE", &read, 4), FilterStatus::kOk);
    EXPECT_EQ(read, 3);
    const FilterParam* table = nullptr;
    uint32_t count = 0;
    selector.GetParamTable(&table, &count);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(table[0].flags, 0xFFFFu);
    EXPECT_EQ(std::u16string_view(table[0].description), u"输出编码类型");
    EXPECT_EQ(selector.SetParam(u"UsedDefaultChar", &three, 4), FilterStatus::kUnknownProperty);
}
