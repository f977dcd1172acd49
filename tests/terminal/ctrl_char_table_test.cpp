#include "terminal/ctrl_char_table.h"

#include <gtest/gtest.h>

#include <string>

TEST(CtrlCharTableTest, EveryByteHasANameExactlyWhenItIsAControlCharacterSpaceOrDelete) {
    for (int byte = 0; byte < 256; ++byte) {
        const bool named = byte <= 0x20 || byte == 0x7F;
        const auto position = FindCtrlCharByCode(static_cast<uint8_t>(byte));
        ASSERT_EQ(position.has_value(), named) << "byte " << byte;
        if (named) {
            EXPECT_EQ(CtrlCharTable()[*position].code, byte);
            // Every name leads back to its own byte.
            EXPECT_EQ(FindCtrlCharByName(CtrlCharTable()[*position].Name), byte);
        }
    }
    EXPECT_EQ(FindCtrlCharByCode(0x7F), 33);
    EXPECT_EQ(FindCtrlCharByCode(0x20), 32);
    EXPECT_EQ(FindCtrlCharByCode(0x0D), 13);
}

TEST(CtrlCharTableTest, FindByNameIgnoresLetterCaseOnly) {
    const struct {
        const char16_t* text;
        int code;  // -1: none
    } rows[] = {
        {u"cr", 0x0D},  {u"Cr", 0x0D},  {u"CR", 0x0D},  {u"lf", 0x0A}, {u"SP", 0x20},
        {u"del", 0x7F}, {u"nul", 0x00}, {u"Dc1", 0x11}, {u"^M", -1},   {u"carriage return", -1},
        {u"CR ", -1},   {u"C", -1},     {u"", -1},      {u"CRX", -1},  {u"ＣＲ", -1},
    };
    int index = 0;
    for (const auto& row : rows) {
        const auto code = FindCtrlCharByName(row.text);
        if (row.code < 0) {
            EXPECT_FALSE(code.has_value()) << "row " << index;
        } else {
            EXPECT_EQ(code, row.code) << "row " << index;
        }
        ++index;
    }
}

TEST(CtrlCharTableTest, KeysAndRemarksAreKept) {
    const auto& table = CtrlCharTable();
    EXPECT_EQ(std::u16string(table[28].Key), u"^\\");
    EXPECT_EQ(std::u16string(table[28].Name), u"FS");
    EXPECT_EQ(std::u16string(table[9].Remark), u"(HF) horizontal tab");
    EXPECT_EQ(std::u16string(table[23].Remark), u"end of trans. block");
    EXPECT_EQ(std::u16string(table[32].Key), u"");
    EXPECT_EQ(std::u16string(table[33].Remark), u"delete");
}
