#include "encoding/ucs2_swap_filter.h"

#include <gtest/gtest.h>

#include "encoding/filter_test_support.h"

using namespace kem::encoding::test;

TEST(Ucs2SwapFilterTest, KeepsItsHistoricName) {
    CKemFilterUCS2BEToLE filter;
    EXPECT_EQ(std::u16string_view(filter.name()),
              u"Filter_In_Unicdoe1.0BigEndian_Out_Unicode1.0LittleEndian");
}

TEST(Ucs2SwapFilterTest, SwapsWholePairsAndKeepsAnOddByte) {
    CKemFilterUCS2BEToLE filter;
    Feed(filter, std::string("\x00\x41\x00\x42", 4));
    EXPECT_EQ(Hex(Drain(filter)), "41 00 42 00");
    Feed(filter, std::string("\x00\x41\x00", 3));
    EXPECT_EQ(Hex(Drain(filter)), "41 00");
    EXPECT_EQ(Hex(Pending(filter)), "00");
    Feed(filter, "\x43");
    EXPECT_EQ(Hex(Drain(filter)), "43 00");
}

TEST(Ucs2SwapFilterTest, BothDirectionsSwap) {
    for (uint32_t direction : {0u, 1u}) {
        CKemFilterUCS2BEToLE filter;
        filter.SetDirection(direction);
        Feed(filter, Be(u"\u4E2D\U0001F600"));
        EXPECT_EQ(Units(Drain(filter)), u"\u4E2D\U0001F600") << direction;
    }
}

TEST(Ucs2SwapFilterTest, SplitAtEveryByteGivesTheSameText) {
    const std::u16string text = u"a\u4E2D\U0001F600b";
    const std::string whole = Be(text);
    for (size_t cut = 0; cut <= whole.size(); ++cut) {
        CKemFilterUCS2BEToLE filter;
        EXPECT_EQ(Units(FeedInPieces(filter, whole, {cut})), text) << "cut at " << cut;
    }
}
