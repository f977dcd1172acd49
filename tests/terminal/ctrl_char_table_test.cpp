// The control-character table: which bytes have names, and lookups both ways.
#include "terminal/ctrl_char_table.h"

#include <gtest/gtest.h>

#include <string>

TEST(CtrlCharTableTest, EveryByteHasANameExactlyWhenItIsAControlCharacterSpaceOrDelete) {
    for (int byte = 0; byte < 256; ++byte) {
        const auto position = FindCtrlCharByCode(static_cast<uint8_t>(byte));
        ASSERT_EQ(position.has_value(), byte <= 0x20 || byte == 0x7F) << "byte " << byte;
        if (position) {
            // In code order, and every name leads back to its own byte.
            EXPECT_EQ(*position, byte == 0x7F ? 33 : byte);
            EXPECT_EQ(CtrlCharTable()[*position].code, byte);
            EXPECT_EQ(FindCtrlCharByName(CtrlCharTable()[*position].Name), byte);
        }
    }
}

TEST(CtrlCharTableTest, FindByNameIgnoresLetterCaseOnly) {
    const std::pair<const char16_t*, int> rows[] = {
        // -1: no name
        {u"cr", 0x0D},  {u"Cr", 0x0D},  {u"CR", 0x0D},  {u"lf", 0x0A}, {u"SP", 0x20},
        {u"del", 0x7F}, {u"nul", 0x00}, {u"Dc1", 0x11}, {u"^M", -1},   {u"carriage return", -1},
        {u"CR ", -1},   {u"C", -1},     {u"", -1},      {u"CRX", -1},  {u"ＣＲ", -1},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto found = FindCtrlCharByName(rows[i].first);
        EXPECT_EQ(found ? int{*found} : -1, rows[i].second) << "row " << i;
    }
}
