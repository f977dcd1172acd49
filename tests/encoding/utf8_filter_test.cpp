// The UTF-8 filter: decoding and encoding by range, invalid sequences, and sequences and
// surrogate pairs cut at every point.
#include "encoding/utf8_filter.h"

#include <gtest/gtest.h>

#include "encoding/filter_test_support.h"

using namespace kem::encoding::test;

namespace {

std::u16string Decode(std::string_view bytes, const std::vector<size_t>& cuts = {}) {
    CKemFilterUTF8ToUCS filter;
    const std::u16string text = Units(FeedInPieces(filter, bytes, cuts));
    EXPECT_TRUE(Pending(filter).empty());
    return text;
}

std::string Encode(std::u16string_view text, const std::vector<size_t>& cuts = {}) {
    CKemFilterUTF8ToUCS filter;
    filter.SetDirection(1);
    const std::string bytes = FeedInPieces(filter, Utf16(text), cuts);
    EXPECT_TRUE(Pending(filter).empty());
    return bytes;
}

TEST(Utf8FilterTest, DecodesValidAndDropsInvalidSequences) {
    const struct {
        const char* name;
        std::string in;
        std::u16string out;
    } rows[] = {
        {"ascii, latin, han", "\x41\xC3\xA9\xE4\xB8\xAD", u"\u0041\u00E9\u4E2D"},
        {"four bytes", "\xF0\x9F\x98\x80\xF0\x90\x80\x80\xF4\x8F\xBF\xBF",
         u"\U0001F600\U00010000\U0010FFFF"},
        {"lead then non-continuation drops both", "\xC3\x41\x42", u"\u0042"},
        {"three-byte lead then ascii", "\xE4\x41\x42", u"\u0042"},
        {"three-byte lead, one follower, then ascii", "\xE4\xB8\x41\x42", u"\u0041\u0042"},
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
        EXPECT_EQ(Decode(row.in), row.out) << row.name << ": " << HexText(row.in);
    }
    CKemFilterUTF8ToUCS filter;
    EXPECT_EQ(std::u16string_view(filter.name()),
              u"Filter_In_UTF-8_Out_Unicode1.0(UCS-2)/2.0(UCS-4)");
}

TEST(Utf8FilterTest, EncodesUnitsByTheirRangeAndEveryBmpUnitRoundTrips) {
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
        {u"\xD83D"
         u"a",
         "\xED\xA0\xBD"
         "a"},  // lone surrogates encode on their own
        {u"\xDC00", "\xED\xB0\x80"},
        {std::u16string(1, u'\0'), std::string(1, '\0')},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(HexText(Encode(row.in)), HexText(row.out)) << HexText(Utf16(row.in));
    }
    std::u16string all;
    for (uint32_t c = 0; c <= 0xFFFF; ++c) {
        all.push_back(static_cast<char16_t>(c));
    }
    EXPECT_TRUE(Decode(Encode(all)) == all);
}

TEST(Utf8FilterTest, SplitAtEveryPointGivesTheSameTextAndBytes) {
    const std::string whole =
        "A\xC3\xA9"
        "\xE4\xB8\xAD\xE6\x96\x87"
        "\xF0\x9F\x98\x80"
        "z\xED\xA0\xBD";
    const std::u16string text = u"A\u00E9\u4E2D\u6587\U0001F600z\xD83D";
    for (size_t a = 0; a <= whole.size(); ++a) {
        for (size_t b = a; b <= whole.size(); ++b) {
            EXPECT_EQ(Decode(whole, {a, b}), text) << "cuts at " << a << " and " << b;
        }
    }
    EXPECT_EQ(Decode(whole, EveryPiece(1, whole.size())), text) << "one byte at a time";
    const std::u16string pairs = u"K\u00E9\u4E2D\U0001F600\u6587";
    const std::string encoded = Encode(pairs);
    const size_t units = Utf16(pairs).size();
    for (size_t cut = 0; cut <= units; ++cut) {
        EXPECT_EQ(HexText(Encode(pairs, {cut})), HexText(encoded)) << "encoding cut at " << cut;
    }
    EXPECT_EQ(Encode(pairs, EveryPiece(1, units)), encoded) << "one byte at a time";
}

TEST(Utf8FilterTest, CutOffPartsWaitAndASequenceBrokenByTheNextInputIsDropped) {
    CKemFilterUTF8ToUCS filter;
    Feed(filter, "ab\xE4\xB8");
    EXPECT_EQ(Units(Drain(filter)), u"ab");
    EXPECT_EQ(HexText(Pending(filter)), "E4 B8");
    Feed(filter, "\xAD");
    EXPECT_EQ(Units(Drain(filter)), u"\u4E2D");
    Feed(filter, "\xE4");
    Feed(filter, "xy");
    EXPECT_EQ(Units(Drain(filter)), u"y") << "the broken sequence goes with the byte after it";

    CKemFilterUTF8ToUCS encoder;
    encoder.SetDirection(1);
    Feed(encoder, Utf16(u"a\xD83D"));
    EXPECT_EQ(Drain(encoder), "a");
    EXPECT_EQ(Pending(encoder), Utf16(u"\xD83D")) << "a high surrogate waits for its partner";
    Feed(encoder, Utf16(u"\xDE00") + "A");
    EXPECT_EQ(HexText(Drain(encoder)), "F0 9F 98 80");
    EXPECT_EQ(Pending(encoder), "A") << "an odd trailing byte waits";
    Feed(encoder, std::string(1, '\0'));
    EXPECT_EQ(Drain(encoder), "A");
}

}  // namespace
