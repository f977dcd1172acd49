// The code-page selector: choosing a route by byte-order mark or by strict UTF-8, waiting while
// undecided, encoding by output type, and every route split at every point.
#include "encoding/cp_selecter.h"

#include <gtest/gtest.h>

#include "encoding/filter_test_support.h"
#include "platform/code_page.h"

using namespace kem::encoding::test;
using kem::platform::AnsiToWide;

namespace {

std::u16string DecodeAll(std::string_view bytes, const std::vector<size_t>& cuts = {}) {
    CKemFilterContainerCPSelecter selector;
    return Units(FeedInPieces(selector, bytes, cuts));
}

std::string EncodeAs(int32_t type, std::u16string_view text, const std::vector<size_t>& cuts = {}) {
    CKemFilterContainerCPSelecter selector;
    selector.SetDirection(1);
    EXPECT_EQ(selector.SetParam(u"OutputCodeType", &type, 4), FilterStatus::kOk);
    return FeedInPieces(selector, Utf16(text), cuts);
}

// A text with characters of every UTF-8 length.
const std::u16string kSample = u"[Config]\r\nName=中文名称 é \U0001F600 end\r\n";
const std::u16string kHan = u"[串口]\r\n打开=中文\r\n";

TEST(CpSelecterTest, DecodesByByteOrderMarkOrStrictUtf8ElseAnsi) {
    const struct {
        const char* name;
        std::string bytes;
        std::u16string text;
    } rows[] = {
        {"utf-16 le", std::string("\xFF\xFE\x41\x00", 4), u"A"},
        {"utf-16 be", std::string("\xFE\xFF\x00\x41", 4), u"A"},
        {"utf-8", "\xEF\xBB\xBF\x41", u"A"},
        {"mark only", "\xEF\xBB\xBF", u""},
        {"ansi", "\x41\x42", u"AB"},
        {"FE then other byte is ansi", "\xFE\x41", AnsiToWide("\xFE\x41")},
        {"EF then other byte is ansi", "\xEF\x41", AnsiToWide("\xEF\x41")},
        {"EF BB then other byte is ansi", "\xEF\xBB\x41", AnsiToWide("\xEF\xBB\x41")},
        {"utf-8 han", "Name=\xE4\xB8\xAD\xE6\x96\x87", u"Name=中文"},
        {"utf-8 latin", "caf\xC3\xA9", u"café"},
        {"utf-8 four bytes", "\xF0\x9F\x98\x80", u"\U0001F600"},
        {"gbk han", "Name=\xD6\xD0\xCE\xC4", u"Name=中文"},
        {"gbk starting like utf-8", "\xE4\xD6\xD0\xCE", AnsiToWide("\xE4\xD6\xD0\xCE")},
        {"overlong form is not utf-8", "\xC0\xAF", AnsiToWide("\xC0\xAF")},
        {"encoded surrogate is not utf-8", "\xED\xA0\x80", AnsiToWide("\xED\xA0\x80")},
        {"utf-8 then an invalid byte", "\xC3\xA9\xFF", AnsiToWide("\xC3\xA9\xFF")},
        {"ascii only", "[Config]\r\nShowHex=true\r\n", u"[Config]\r\nShowHex=true\r\n"},
        {"utf-8 then a cut sequence", "\xC3\xA9\xE4", u"é"},
        {"largest utf-8", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", AnsiToWide("\xF4\x90\x80\x80")},
        {"overlong three bytes", "\xE0\x80\xAF\xA1", AnsiToWide("\xE0\x80\xAF\xA1")},
        {"overlong four bytes", "\xF0\x8F\xBF\xBF", AnsiToWide("\xF0\x8F\xBF\xBF")},
        {"stray continuation", "a\x80", AnsiToWide("a\x80")},
        {"C1 lead", "\xC1\xBF", AnsiToWide("\xC1\xBF")},
        {"F5 lead", "\xF5\x80\x80\x80", AnsiToWide("\xF5\x80\x80\x80")},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(DecodeAll(row.bytes), row.text) << row.name;
    }
}

TEST(CpSelecterTest, UndecidedBytesWaitAndOnlyAsciiSeenSoFarComesOut) {
    char out[8] = {};
    uint32_t count = 9;
    for (const std::string bytes : {"\xFE", "\xFF", "\xEF", "\xEF\xBB"}) {
        SCOPED_TRACE(HexText(bytes));
        CKemFilterContainerCPSelecter selector;
        Feed(selector, bytes);
        EXPECT_FALSE(selector.decided());
        EXPECT_EQ(selector.Output(out, sizeof out, &count), FilterStatus::kOk);
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(selector.GetInputBuffer(), nullptr);
        EXPECT_EQ(selector.GetOutputBuffer()->size(), 0u);
    }
    CKemFilterContainerCPSelecter ascii_first;
    Feed(ascii_first, "ab\xE4");
    EXPECT_FALSE(ascii_first.decided());
    EXPECT_EQ(ascii_first.Output(out, sizeof out, &count), FilterStatus::kOk);
    EXPECT_EQ(Units(std::string(out, count)), u"ab");
    Feed(ascii_first, "\xB8\xAD");
    EXPECT_TRUE(ascii_first.decided());
    EXPECT_EQ(ascii_first.Output(out, sizeof out, &count), FilterStatus::kOk);
    EXPECT_EQ(Units(std::string(out, count)), u"中");
    // After the decision the output comes from the route, in pieces if need be.
    Feed(ascii_first, "abc");
    EXPECT_EQ(ascii_first.Output(out, 4, &count), FilterStatus::kBufferOverflow);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(ascii_first.Output(out, 4, &count), FilterStatus::kOk);
    EXPECT_EQ(Units(std::string(out, count)), u"c");
}

TEST(CpSelecterTest, EncodesByOutputCodeTypeAndDecodesBack) {
    const struct {
        int32_t type;
        const char* bytes;
    } rows[] = {
        {4, "EF BB BF 41"}, {5, "EF BB BF 41"}, {2, "FF FE 41 00"}, {3, "FE FF 00 41"},
        {1, "41"},          {0, "FF FE 41 00"}, {9, "FF FE 41 00"}, {-1, "FF FE 41 00"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(HexText(EncodeAs(row.type, u"A")), row.bytes) << "type " << row.type;
    }
    for (int32_t type : {2, 3, 4}) {
        EXPECT_EQ(DecodeAll(EncodeAs(type, kSample)), kSample) << "type " << type;
    }
    EXPECT_EQ(DecodeAll(EncodeAs(1, kHan)), kHan);
}

TEST(CpSelecterTest, EveryRouteGivesTheSameAtEverySplitPoint) {
    const struct {
        const char* name;
        std::string bytes;
        std::u16string text;
    } rows[] = {
        {"utf-8", EncodeAs(4, kSample), kSample},
        {"utf-16 le", EncodeAs(2, kSample), kSample},
        {"utf-16 be", EncodeAs(3, kSample), kSample},
        {"ansi", kem::platform::WideToAnsi(kHan), kHan},
        {"utf-8 without mark", EncodeAs(4, kSample).substr(3), kSample},
    };
    for (const auto& row : rows) {
        for (size_t cut = 0; cut <= row.bytes.size(); ++cut) {
            EXPECT_EQ(DecodeAll(row.bytes, {cut}), row.text) << row.name << ", cut at " << cut;
        }
    }
    const size_t size = Utf16(kSample).size();
    for (int32_t type : {1, 2, 3, 4}) {
        const std::string expected = HexText(EncodeAs(type, kSample));
        for (size_t cut = 0; cut <= size; ++cut) {
            EXPECT_EQ(HexText(EncodeAs(type, kSample, {cut})), expected)
                << "type " << type << ", encoding cut at " << cut;
        }
    }
}

TEST(CpSelecterTest, HanCharacterAfterManyOrStraddling64KiBPiecesIsUtf8) {
    // 65535 ASCII bytes after the mark put the second byte of 中 at the piece boundary.
    for (size_t pad : {65533u, 65534u, 65535u}) {
        const std::string bytes =
            "\xEF\xBB\xBF" + std::string(pad, 'a') + "\xE4\xB8\xAD" + std::string(10, 'b');
        EXPECT_EQ(DecodeAll(bytes, EveryPiece(65536, bytes.size())),
                  std::u16string(pad, u'a') + u"中" + std::u16string(10, u'b'))
            << "padding " << pad;
    }
    const std::string unmarked = std::string(200000, 'a') + "\xE4\xB8\xAD";
    EXPECT_EQ(DecodeAll(unmarked, EveryPiece(65536, unmarked.size())),
              std::u16string(200000, u'a') + u"中");
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
    Feed(selector, Utf16(u"é"));
    EXPECT_EQ(HexText(Drain(selector)), "EF BB BF C3 A9");
}

TEST(CpSelecterTest, OutputCodeTypeIsItsOnlyParameterAndIgnoresCase) {
    CKemFilterContainerCPSelecter selector;
    const int32_t three = 3;
    EXPECT_EQ(selector.SetParam(u"outputcodetype", &three, 4), FilterStatus::kOk);
    int32_t read = 0;
    EXPECT_EQ(selector.GetParam(u"OUTPUTCODETYPE", &read, 4), FilterStatus::kOk);
    EXPECT_EQ(read, 3);
    EXPECT_EQ(selector.SetParam(u"UsedDefaultChar", &three, 4), FilterStatus::kUnknownProperty);
}

}  // namespace
