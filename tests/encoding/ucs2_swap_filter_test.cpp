// The UTF-16 byte-order swap filter: whole pairs swap in both directions, an odd byte waits.
#include "encoding/ucs2_swap_filter.h"

#include <gtest/gtest.h>

#include "encoding/filter_test_support.h"

using namespace kem::encoding::test;

TEST(Ucs2SwapFilterTest, SwapsWholePairsAndKeepsAnOddByte) {
    CKemFilterUCS2BEToLE filter;
    EXPECT_EQ(std::u16string_view(filter.name()),
              u"Filter_In_Unicdoe1.0BigEndian_Out_Unicode1.0LittleEndian");
    Feed(filter, std::string("\x00\x41\x00", 3));
    EXPECT_EQ(HexText(Drain(filter)), "41 00");
    EXPECT_EQ(HexText(Pending(filter)), "00");
    Feed(filter, "\x43");
    EXPECT_EQ(HexText(Drain(filter)), "43 00");
}

TEST(Ucs2SwapFilterTest, SplitAtEveryByteInBothDirectionsGivesTheSameText) {
    const std::u16string text = u"a\u4E2D\U0001F600b";
    const std::string whole = Utf16(text, true);
    for (uint32_t direction : {0u, 1u}) {
        for (size_t cut = 0; cut <= whole.size(); ++cut) {
            CKemFilterUCS2BEToLE filter;
            filter.SetDirection(direction);
            EXPECT_EQ(Units(FeedInPieces(filter, whole, {cut})), text)
                << "direction " << direction << ", cut at " << cut;
        }
    }
}
