#include "encoding/utf8_filter.h"

#include <gtest/gtest.h>

#include "encoding/filter_test_support.h"

using namespace kem::encoding::test;

namespace {

std::u16string Decode(std::string_view bytes) {
    CKemFilterUTF8ToUCS filter;
    Feed(filter, bytes);
    return Units(Drain(filter));
}

std::string Encode(std::u16string_view text) {
    CKemFilterUTF8ToUCS filter;
    filter.SetDirection(1);
    Feed(filter, Le(text));
    return Drain(filter);
}

}  // namespace

TEST(Utf8FilterTest, NameAnnouncesBothUnitWidths) {
    CKemFilterUTF8ToUCS filter;
    EXPECT_EQ(std::u16string_view(filter.name()),
              u"Filter_In_UTF-8_Out_Unicode1.0(UCS-2)/2.0(UCS-4)");
}

TEST(Utf8FilterTest, DecodesOneToThreeByteSequences) {
    const struct {
        const char* name;
        std::string in;
        std::u16string out;
    } rows[] = {
        {"ascii, latin, han", "\x41\xC3\xA9\xE4\xB8\xAD", u"\u0041\u00E9\u4E2D"},
        {"lead then non-continuation drops both", "\xC3\x41\x42", u"\u0042"},
        {"three-byte lead then ascii", "\xE4\x41\x42", u"\u0042"},
        {"three-byte lead, one follower, then ascii", std::string("\xE4\xB8\x41\x42"),
         u"\u0041\u0042"},
        {"stray continuation bytes", "\x80\x41\xBF", u"\u0041"},
        {"FE and FF never start a sequence", "\xFE\x41\xFF", u"\u0041"},
        {"overlong two-byte NUL decodes to 0", std::string("\xC0\x80", 2),
         std::u16string(1, u'\0')},
        {"overlong three-byte form keeps its bits", "\xE0\x81\x81", u"\u0041"},
        {"encoded surrogate decodes as it is", "\xED\xA0\xBD", u"\xD83D"},
        {"five-byte sequence dropped", "\xF8\x88\x80\x80\x80\x41", u"\u0041"},
        {"six-byte sequence dropped", "\xFC\x84\x80\x80\x80\x80\x41", u"\u0041"},
        {"four-byte beyond U+10FFFF dropped", "\xF4\x90\x80\x80\x41", u"\u0041"},
        {"overlong four-byte form dropped", "\xF0\x80\x81\x81\x41", u"\u0041"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Decode(row.in), row.out) << row.name << ": " << Hex(row.in);
    }
}

TEST(Utf8FilterTest, DecodesFourByteSequencesToSurrogatePairs) {
    EXPECT_EQ(Decode("\xF0\x9F\x98\x80"), u"\U0001F600");
    EXPECT_EQ(Decode("\xF0\x90\x80\x80"), u"\U00010000");
    EXPECT_EQ(Decode("\xF4\x8F\xBF\xBF"), u"\U0010FFFF");
}

TEST(Utf8FilterTest, EncodesUnitsByTheirRange) {
    const struct {
        std::u16string in;
        std::string out;
    } rows[] = {
        {u"\u007F", "\x7F"},
        {u"\u0080", "\xC2\x80"},
        {u"\u07FF", "\xDF\xBF"},
        {u"\u0800", "\xE0\xA0\x80"},
        {u"\uFFFF", "\xEF\xBF\xBF"},
        {u"\U0001F600", "\xF0\x9F\x98\x80"},
        {u"\xDE00\xD83D"
         u"a",
         "\xED\xB8\x80\xED\xA0\xBD"
         "a"},  // reversed halves stay two units
        {std::u16string(1, u'\0'), std::string(1, '\0')},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Hex(Encode(row.in)), Hex(row.out)) << Hex(Le(row.in));
    }
}

TEST(Utf8FilterTest, EveryBmpUnitRoundTrips) {
    std::u16string all;
    for (uint32_t c = 0; c <= 0xFFFF; ++c) {
        all.push_back(static_cast<char16_t>(c));
    }
    EXPECT_EQ(Decode(Encode(all)), all);
}

TEST(Utf8FilterTest, SplitSequenceWaitsForItsRestAtEverySplitPoint) {
    const std::string whole =
        "A\xC3\xA9"
        "\xE4\xB8\xAD\xE6\x96\x87"
        "\xF0\x9F\x98\x80"
        "z\xED\xA0\xBD";
    const std::u16string expected = u"A\u00E9\u4E2D\u6587\U0001F600z\xD83D";
    ASSERT_EQ(Decode(whole), expected);
    for (size_t cut = 0; cut <= whole.size(); ++cut) {
        CKemFilterUTF8ToUCS filter;
        EXPECT_EQ(Units(FeedInPieces(filter, whole, {cut})), expected) << "cut at " << cut;
        EXPECT_TRUE(Pending(filter).empty()) << "cut at " << cut;
    }
    for (size_t a = 0; a <= whole.size(); ++a) {
        for (size_t b = a; b <= whole.size(); ++b) {
            CKemFilterUTF8ToUCS filter;
            EXPECT_EQ(Units(FeedInPieces(filter, whole, {a, b})), expected)
                << "cuts at " << a << " and " << b;
        }
    }
}

TEST(Utf8FilterTest, OneByteAtATimeDecodesLikeTheWhole) {
    const std::string whole = "\xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80 \xC3\xA9";
    std::vector<size_t> cuts;
    for (size_t i = 1; i < whole.size(); ++i) {
        cuts.push_back(i);
    }
    CKemFilterUTF8ToUCS filter;
    EXPECT_EQ(Units(FeedInPieces(filter, whole, cuts)), Decode(whole));
}

TEST(Utf8FilterTest, CutOffSequenceIsKeptNotReplaced) {
    CKemFilterUTF8ToUCS filter;
    Feed(filter, "ab\xE4\xB8");
    EXPECT_EQ(Units(Drain(filter)), u"ab");
    EXPECT_EQ(Hex(Pending(filter)), "E4 B8");
    Feed(filter, "\xAD");
    EXPECT_EQ(Units(Drain(filter)), u"\u4E2D");
    EXPECT_TRUE(Pending(filter).empty());
}

TEST(Utf8FilterTest, CutOffSequenceBrokenByTheNextInputIsDroppedWithThatByte) {
    CKemFilterUTF8ToUCS filter;
    Feed(filter, "\xE4");
    EXPECT_TRUE(Drain(filter).empty());
    Feed(filter, "xy");
    EXPECT_EQ(Units(Drain(filter)), u"y");
}

TEST(Utf8FilterTest, HighSurrogateWaitsForItsPartner) {
    CKemFilterUTF8ToUCS filter;
    filter.SetDirection(1);
    Feed(filter, Le(u"a\xD83D"));
    EXPECT_EQ(Drain(filter), "a");
    EXPECT_EQ(Pending(filter), Le(u"\xD83D"));
    Feed(filter, Le(u"\xDE00"));
    EXPECT_EQ(Hex(Drain(filter)), "F0 9F 98 80");
}

TEST(Utf8FilterTest, LoneSurrogatesEncodeOnTheirOwn) {
    EXPECT_EQ(Hex(Encode(u"\xD83D"
                         "a")),
              "ED A0 BD 61");
    EXPECT_EQ(Hex(Encode(u"\xDC00")), "ED B0 80");
}

TEST(Utf8FilterTest, EncodingSplitAtEveryByteGivesTheSameBytes) {
    const std::u16string text = u"K\u00E9\u4E2D\U0001F600\u6587";
    const std::string whole = Le(text);
    const std::string expected = Encode(text);
    for (size_t cut = 0; cut <= whole.size(); ++cut) {
        CKemFilterUTF8ToUCS filter;
        filter.SetDirection(1);
        EXPECT_EQ(Hex(FeedInPieces(filter, whole, {cut})), Hex(expected)) << "cut at " << cut;
        EXPECT_TRUE(Pending(filter).empty()) << "cut at " << cut;
    }
}

TEST(Utf8FilterTest, OddTrailingByteWaits) {
    CKemFilterUTF8ToUCS filter;
    filter.SetDirection(1);
    Feed(filter, std::string("A\0B", 3));
    EXPECT_EQ(Drain(filter), "A");
    EXPECT_EQ(Pending(filter), "B");
    Feed(filter, std::string(1, '\0'));
    EXPECT_EQ(Drain(filter), "B");
}
