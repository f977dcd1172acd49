// The ANSI (CP936) filter: both directions, double-byte characters cut at every point, the
// default character for unmappable text, and its parameters.
#include "encoding/ansi_filter.h"

#include <gtest/gtest.h>

#include "encoding/filter_test_support.h"
#include "platform/code_page.h"

using namespace kem::encoding::test;

namespace {

std::u16string FromAnsi(std::string_view bytes, const std::vector<size_t>& cuts = {}) {
    CKemFilterUCS2ToANSI filter;
    filter.SetDirection(1);
    return Units(FeedInPieces(filter, bytes, cuts));
}

uint32_t UsedDefault(CKemFilterUCS2ToANSI& filter) {
    uint32_t used = 7;
    EXPECT_EQ(filter.GetParam(u"UsedDefaultChar", &used, 4), FilterStatus::kOk);
    return used;
}

TEST(AnsiFilterTest, ConvertsBothWays) {
    ASSERT_EQ(kem::platform::AnsiCodePage(), "CP936");
    EXPECT_EQ(HexText(Utf16(FromAnsi("\x41\x42"))), "41 00 42 00");
    EXPECT_EQ(FromAnsi("\xD6\xD0\xCE\xC4"), u"中文");
    EXPECT_EQ(FromAnsi("a\xFF"
                       "b"),
              u"a?b");
    CKemFilterUCS2ToANSI filter;
    Feed(filter, Utf16(u"A中文"));
    EXPECT_EQ(HexText(Drain(filter)), "41 D6 D0 CE C4");
    EXPECT_EQ(UsedDefault(filter), 0u);
}

TEST(AnsiFilterTest, DoubleByteCharacterSplitAtEveryPointDecodesWhole) {
    // Trails that look like ASCII or like leads, and the one-byte euro sign.
    const std::string whole = "K\xD6\xD0\xCE\xC4\x81\x40\xB4\xF2\xBF\xAA=\xB4\xAE\x80!\xD6\x41";
    const std::u16string expected = u"K中文丂打开=串€!" + kem::platform::AnsiToWide("\xD6\x41");
    for (size_t a = 0; a <= whole.size(); ++a) {
        for (size_t b = a; b <= whole.size(); ++b) {
            EXPECT_EQ(FromAnsi(whole, {a, b}), expected) << "cuts at " << a << " and " << b;
        }
    }
    // Every character GBK defines, ASCII first, through odd-sized pieces.
    std::string all;
    for (int c = 0; c <= 0x80; ++c) {
        all.push_back(static_cast<char>(c));
    }
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
            const std::u16string one = kem::platform::AnsiToWide(pair);
            if (trail != 0x7F && one.size() == 1 && one[0] != u'?') {
                all += pair;
            }
        }
    }
    ASSERT_GT(all.size(), 40000u);
    const std::u16string all_expected = kem::platform::AnsiToWide(all);
    for (size_t piece : {1u, 3u, 7u, 4093u}) {
        EXPECT_TRUE(FromAnsi(all, EveryPiece(piece, all.size())) == all_expected) << piece;
    }
}

TEST(AnsiFilterTest, UnmappableCharactersGetTheDefaultAndAreReported) {
    CKemFilterUCS2ToANSI filter;
    ASSERT_EQ(filter.SetParam(u"DefaultChar", "?", -1), FilterStatus::kOk);
    Feed(filter, Utf16(u"a\u0E01b"));
    EXPECT_EQ(Drain(filter), "a?b");
    EXPECT_EQ(UsedDefault(filter), 1u);
    // The report is cleared at the next conversion; a '?' of the text itself is no default.
    Feed(filter, Utf16(u"c?"));
    EXPECT_EQ(Drain(filter), "c?");
    EXPECT_EQ(UsedDefault(filter), 0u);
    // An own default replaces unmappable units and lone surrogates only.
    ASSERT_EQ(filter.SetParam(u"defaultchar", "*", 2), FilterStatus::kOk);
    Feed(filter, Utf16(u"?\u0E01中\xD800x"));
    EXPECT_EQ(HexText(Drain(filter)), HexText("?*\xD6\xD0*x"));
    EXPECT_EQ(UsedDefault(filter), 1u);
    filter.ResetBuffers();
    EXPECT_EQ(UsedDefault(filter), 0u);
    // Without UseDefaultChar the converter's own '?' is used and nothing is reported.
    const uint32_t off = 0;
    ASSERT_EQ(filter.SetParam(u"UseDefaultChar", &off, 4), FilterStatus::kOk);
    ASSERT_EQ(filter.SetParam(u"DefaultChar", "*", -1), FilterStatus::kOk);
    Feed(filter, Utf16(u"a\u0E01"));
    EXPECT_EQ(Drain(filter), "a?");
    EXPECT_EQ(UsedDefault(filter), 0u);
}

TEST(AnsiFilterTest, HighSurrogateAndOddByteWaitForTheRest) {
    CKemFilterUCS2ToANSI filter;
    const std::string whole = Utf16(u"a\U0001F600b");
    Feed(filter, whole.substr(0, 4));
    EXPECT_EQ(Drain(filter), "a");
    EXPECT_EQ(Pending(filter), whole.substr(2, 2));
    Feed(filter, whole.substr(4, 3));
    EXPECT_EQ(Drain(filter), kem::platform::WideToAnsi(u"\U0001F600"));
    EXPECT_EQ(Pending(filter), whole.substr(6, 1));
    Feed(filter, whole.substr(7));
    EXPECT_EQ(Drain(filter), "b");
}

TEST(AnsiFilterTest, ParameterTableListsThreeEntriesAndUsedDefaultCharIsReadOnly) {
    CKemFilterUCS2ToANSI filter;
    const FilterParam* table = nullptr;
    uint32_t count = 0;
    ASSERT_EQ(filter.GetParamTable(&table, &count), FilterStatus::kOk);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(std::u16string_view(table[0].name), u"UseDefaultChar");
    EXPECT_EQ(table[0].flags & kFilterParamWritable, kFilterParamWritable);
    EXPECT_EQ(std::u16string_view(table[1].name), u"UsedDefaultChar");
    EXPECT_EQ(table[1].flags & kFilterParamWritable, 0u);
    EXPECT_EQ(std::u16string_view(table[2].name), u"DefaultChar");
    EXPECT_EQ(table[2].type, kFilterParamText8);
    EXPECT_EQ(table[2].size, 32u);
    const uint32_t one = 1;
    EXPECT_EQ(filter.SetParam(u"UsedDefaultChar", &one, 4), FilterStatus::kAccessDenied);
    EXPECT_EQ(std::u16string_view(filter.name()), u"Filter_Base");
}

}  // namespace
