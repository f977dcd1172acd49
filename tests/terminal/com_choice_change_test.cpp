// A choice in one of the four serial lists changes only its field of the record.
#include "terminal/com_choice_change.h"

#include <gtest/gtest.h>

#include <cstring>

#include "terminal/serial_param_text.h"

namespace {

bool SameRecord(const tagComPortParam& a, const tagComPortParam& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(ApplyComChoiceTest, EachListChangesOnlyItsField) {
    const struct {
        const char* name;
        ComChoiceField field;
        const char16_t* text;
        tagComPortParam expected;  // starting from 9600,N,8,1
    } rows[] = {
        {"baud from list", ComChoiceField::kBaudRate, u"115200", {.dwBaudRate = 115200}},
        {"baud typed", ComChoiceField::kBaudRate, u"250000", {.dwBaudRate = 250000}},
        {"parity even", ComChoiceField::kParity, u"E(偶校验)", {.nParity = 2}},
        {"parity mark", ComChoiceField::kParity, u"M(标记)", {.nParity = 3}},
        {"parity space lower", ComChoiceField::kParity, u"s", {.nParity = 4}},
        {"data bits 7", ComChoiceField::kDataBits, u"7", {.nByteSize = 7}},
        {"stop bits 2", ComChoiceField::kStopBits, u"2", {.nStopBits = 2}},
        {"stop bits 1.5", ComChoiceField::kStopBits, u"1.5", {.nStopBits = 1}},
    };
    // Time-outs and flow control unlike the defaults, to see that they are kept.
    auto others = [](tagComPortParam param) {
        param.nFlowControl = 1;
        param.ReadTotalTimeoutConstant = 500;
        param.WriteTotalTimeoutMultiplier = 7;
        return param;
    };
    for (const auto& row : rows) {
        tagComPortParam param = others(DefaultComParam());
        EXPECT_TRUE(ApplyComChoice(row.field, row.text, param)) << row.name;
        EXPECT_TRUE(SameRecord(param, others(row.expected))) << row.name;
    }
}

TEST(ApplyComChoiceTest, UnreadableChoiceLeavesTheRecordAlone) {
    const struct {
        const char* name;
        ComChoiceField field;
        const char16_t* text;
    } rows[] = {
        {"baud zero", ComChoiceField::kBaudRate, u"0"},
        {"baud letters", ComChoiceField::kBaudRate, u"fast"},
        {"baud empty", ComChoiceField::kBaudRate, u""},
        {"parity unknown", ComChoiceField::kParity, u"X(无)"},
        {"parity empty", ComChoiceField::kParity, u""},
        {"data bits 9", ComChoiceField::kDataBits, u"9"},
        {"data bits 4", ComChoiceField::kDataBits, u"4"},
        {"stop bits 3", ComChoiceField::kStopBits, u"3"},
        {"stop bits 1.0", ComChoiceField::kStopBits, u"1.0"},
        {"comma smuggles fields", ComChoiceField::kParity, u"E,7"},
        {"too long", ComChoiceField::kStopBits, u"1.5                                 "},
    };
    for (const auto& row : rows) {
        tagComPortParam param = DefaultComParam();
        param.dwBaudRate = 57600;
        param.nParity = 1;
        const tagComPortParam before = param;
        EXPECT_FALSE(ApplyComChoice(row.field, row.text, param)) << row.name;
        EXPECT_TRUE(SameRecord(param, before)) << row.name;
    }
}

TEST(ApplyComChoiceTest, TypedBaudRateSurvivesAParityChange) {
    tagComPortParam param = DefaultComParam();
    ASSERT_TRUE(ParseComParam(std::u16string_view(u"250000,N,8,1"), param, true));
    ASSERT_TRUE(ApplyComChoice(ComChoiceField::kParity, u"E(偶校验)", param));
    EXPECT_EQ(param.dwBaudRate, 250000u);
    EXPECT_EQ(FormatComParamText(param), u"250000,E,8,1");
    ASSERT_TRUE(ApplyComChoice(ComChoiceField::kStopBits, u"2", param));
    EXPECT_EQ(FormatComParamText(param), u"250000,E,8,2");
}

}  // namespace
