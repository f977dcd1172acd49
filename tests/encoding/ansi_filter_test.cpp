#include "encoding/ansi_filter.h"

#include <gtest/gtest.h>

#include "encoding/filter_test_support.h"
#include "platform/code_page.h"

using namespace kem::encoding::test;
using kem::encoding::AnsiCompletePrefix;

namespace {

std::u16string FromAnsi(std::string_view bytes) {
    CKemFilterUCS2ToANSI filter;
    filter.SetDirection(1);
    Feed(filter, bytes);
    return Units(Drain(filter));
}

uint32_t UsedDefault(CKemFilterUCS2ToANSI& filter) {
    uint32_t used = 7;
    EXPECT_EQ(filter.GetParam(u"UsedDefaultChar", &used, 4), FilterStatus::kOk);
    return used;
}

// Every character GBK defines, as bytes, ASCII first.
std::string AllGbkCharacters() {
    std::string bytes;
    for (int c = 0; c < 0x80; ++c) {
        bytes.push_back(static_cast<char>(c));
    }
    bytes.push_back('\x80');
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            if (trail == 0x7F) {
                continue;
            }
            const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
            const std::u16string one = kem::platform::AnsiToWide(pair);
            if (one.size() == 1 && one[0] != u'?') {
                bytes += pair;
            }
        }
    }
    return bytes;
}

}  // namespace

TEST(AnsiFilterTest, UsesTheCp936CodePageByDefault) {
    ASSERT_EQ(kem::platform::AnsiCodePage(), "CP936");
}

TEST(AnsiFilterTest, AnsiToUtf16) {
    EXPECT_EQ(Hex(Le(FromAnsi("\x41\x42"))), "41 00 42 00");
    EXPECT_EQ(FromAnsi("\xD6\xD0\xCE\xC4"), u"中文");
    EXPECT_EQ(FromAnsi("a\xFF"
                       "b"),
              u"a?b");
}

TEST(AnsiFilterTest, Utf16ToAnsi) {
    CKemFilterUCS2ToANSI filter;
    Feed(filter, Le(u"A中文"));
    EXPECT_EQ(Hex(Drain(filter)), "41 D6 D0 CE C4");
    EXPECT_EQ(UsedDefault(filter), 0u);
}

TEST(AnsiFilterTest, EveryByteIsClassifiedAsCp936Defines) {
    for (int b = 0; b < 256; ++b) {
        const uint8_t byte = static_cast<uint8_t>(b);
        const bool lead = b >= 0x81 && b <= 0xFE;
        EXPECT_EQ(AnsiCompletePrefix(&byte, 1), lead ? 0u : 1u) << "byte " << b;
    }
}

TEST(AnsiFilterTest, CompletePrefixFollowsCharactersFromTheLastAsciiByte) {
    const struct {
        const char* name;
        std::string bytes;
        size_t complete;
    } rows[] = {
        {"empty", "", 0},
        {"ascii", "abc", 3},
        {"whole pair", "a\xD6\xD0", 3},
        {"lead at the end", "a\xD6\xD0\xCE", 3},
        {"trail that looks like ascii ends a pair", "\xD6\x41", 2},
        {"lead after a pair whose trail looks like a lead", "\xD6\xD0\xD6", 2},
        {"euro sign is one byte", "\x80\xD6", 1},
    };
    for (const auto& row : rows) {
        const auto* data = reinterpret_cast<const uint8_t*>(row.bytes.data());
        EXPECT_EQ(AnsiCompletePrefix(data, row.bytes.size()), row.complete) << row.name;
    }
}

TEST(AnsiFilterTest, DoubleByteCharacterSplitAtEveryPointDecodesWhole) {
    const std::string whole = "K\xD6\xD0\xCE\xC4\xB4\xF2\xBF\xAA=\xB4\xAE\xBF\xDA\x80!";
    const std::u16string expected = u"K中文打开=串口€!";
    ASSERT_EQ(FromAnsi(whole), expected);
    for (size_t a = 0; a <= whole.size(); ++a) {
        for (size_t b = a; b <= whole.size(); ++b) {
            CKemFilterUCS2ToANSI filter;
            filter.SetDirection(1);
            EXPECT_EQ(Units(FeedInPieces(filter, whole, {a, b})), expected)
                << "cuts at " << a << " and " << b;
        }
    }
}

TEST(AnsiFilterTest, EveryGbkCharacterSurvivesOddSizedPieces) {
    const std::string all = AllGbkCharacters();
    const std::u16string expected = kem::platform::AnsiToWide(all);
    ASSERT_GT(all.size(), 40000u);
    for (size_t piece : {1u, 3u, 7u, 4093u}) {
        std::vector<size_t> cuts;
        for (size_t at = piece; at < all.size(); at += piece) {
            cuts.push_back(at);
        }
        CKemFilterUCS2ToANSI filter;
        filter.SetDirection(1);
        const std::u16string got = Units(FeedInPieces(filter, all, cuts));
        EXPECT_EQ(got.size(), expected.size()) << "pieces of " << piece;
        EXPECT_TRUE(got == expected) << "pieces of " << piece;
    }
}

TEST(AnsiFilterTest, UnmappableCharacterUsesTheDefaultAndReportsIt) {
    CKemFilterUCS2ToANSI filter;
    const char question[] = "?";
    ASSERT_EQ(filter.SetParam(u"DefaultChar", question, -1), FilterStatus::kOk);
    Feed(filter, Le(u"a\u0E01b"));
    EXPECT_EQ(Drain(filter), "a?b");
    EXPECT_EQ(UsedDefault(filter), 1u);

    // The report is cleared at the next conversion; a '?' of the text itself is no default.
    Feed(filter, Le(u"c?"));
    EXPECT_EQ(Drain(filter), "c?");
    EXPECT_EQ(UsedDefault(filter), 0u);
}

TEST(AnsiFilterTest, OwnDefaultCharacterReplacesOnlyUnmappableUnits) {
    CKemFilterUCS2ToANSI filter;
    ASSERT_EQ(filter.SetParam(u"defaultchar", "*", 2), FilterStatus::kOk);
    Feed(filter, Le(u"?\u0E01中\xD800x"));
    EXPECT_EQ(Hex(Drain(filter)), Hex("?*\xD6\xD0*x"));
    EXPECT_EQ(UsedDefault(filter), 1u);
}

TEST(AnsiFilterTest, WithoutUseDefaultCharNothingIsReported) {
    CKemFilterUCS2ToANSI filter;
    const uint32_t off = 0;
    ASSERT_EQ(filter.SetParam(u"UseDefaultChar", &off, 4), FilterStatus::kOk);
    ASSERT_EQ(filter.SetParam(u"DefaultChar", "*", -1), FilterStatus::kOk);
    Feed(filter, Le(u"a\u0E01"));
    EXPECT_EQ(Drain(filter), "a?");
    EXPECT_EQ(UsedDefault(filter), 0u);
}

TEST(AnsiFilterTest, ResetClearsTheReport) {
    CKemFilterUCS2ToANSI filter;
    Feed(filter, Le(u"\u0E01"));
    ASSERT_EQ(UsedDefault(filter), 1u);
    filter.ResetBuffers();
    EXPECT_EQ(UsedDefault(filter), 0u);
}

TEST(AnsiFilterTest, HighSurrogateAndOddByteWaitForTheRest) {
    CKemFilterUCS2ToANSI filter;
    const std::string whole = Le(u"a\U0001F600b");
    Feed(filter, whole.substr(0, 4));
    EXPECT_EQ(Drain(filter), "a");
    EXPECT_EQ(Pending(filter), whole.substr(2, 2));
    Feed(filter, whole.substr(4, 3));
    EXPECT_EQ(Drain(filter), kem::platform::WideToAnsi(u"\U0001F600"));
    EXPECT_EQ(Pending(filter), whole.substr(6, 1));
    Feed(filter, whole.substr(7));
    EXPECT_EQ(Drain(filter), "b");
}

TEST(AnsiFilterTest, ParameterTableListsThreeEntriesInOrder) {
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
    EXPECT_EQ(std::u16string_view(filter.name()), u"Filter_Base");
}

TEST(AnsiFilterTest, UsedDefaultCharIsReadOnly) {
    CKemFilterUCS2ToANSI filter;
    const uint32_t one = 1;
    EXPECT_EQ(filter.SetParam(u"UsedDefaultChar", &one, 4), FilterStatus::kAccessDenied);
}
