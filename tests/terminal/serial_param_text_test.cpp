// The serial parameter text ("9600,N,8,1"): parsing with its edges, formatting, and the four
// choice lists it selects.
#include "terminal/serial_param_text.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/code_page.h"

namespace {

std::string Show(std::u16string_view text) {
    return kem::platform::WideToUtf8(text);
}

std::vector<std::u16string> Fields(const ComChoiceTexts& texts) {
    return {texts.baud_rate, texts.parity, texts.data_bits, texts.stop_bits};
}

// A record unlike the defaults, so that every field a parse leaves alone can be seen.
constexpr tagComPortParam kDistinct{1200, 6, 2, 2, 0, 7, 0, 9};  // baud 1200, 6 data bits, even

struct ParseRow {
    const char* name;
    const char16_t* text;
    bool reset;
    bool ok;
    uint32_t baud;
    int32_t parity;
    int32_t data_bits;
    int32_t stop_bits;
};

TEST(ParseComParamTest, ReadsFieldsInOrderAndKeepsWhatWasReadBeforeAFailure) {
    const ParseRow rows[] = {
        {"plain", u"9600,N,8,1", false, true, 9600, 0, 8, 0},
        {"lower case parity and 1.5", u"9600,n,8,1.5", false, true, 9600, 0, 8, 1},
        {"parity text after the letter", u"9600,O(奇校验),5,1", false, true, 9600, 1, 5, 0},
        {"rate outside the list kept", u"250000,N,8,1", false, true, 250000, 0, 8, 0},
        {"baud only changes baud only", u"115200", false, true, 115200, 2, 6, 2},
        {"baud only with reset", u"115200", true, true, 115200, 0, 8, 0},
        {"stops after parity", u"4800,O", false, true, 4800, 1, 6, 2},
        {"stops after data bits", u"4800,O,7,", false, true, 4800, 1, 7, 2},
        {"extra field ignored", u"4800,O,7,1,junk", false, true, 4800, 1, 7, 0},
        {"bad parity after baud", u"9600,X,8,1", false, false, 9600, 2, 6, 2},
        {"empty parity field", u"9600,,8,1", false, false, 9600, 2, 6, 2},
        {"nine data bits", u"9600,N,9,1", false, false, 9600, 0, 6, 2},
        {"four data bits", u"9600,N,4,1", false, false, 9600, 0, 6, 2},
        {"data bits with trailing text", u"9600,N,7x,1", false, true, 9600, 0, 7, 0},
        {"stop bits 1.0 refused", u"9600,N,8,1.0", false, false, 9600, 0, 8, 2},
        {"stop bits with blank refused", u"9600,N,8, 1", false, false, 9600, 0, 8, 2},
        {"stop bits 3 refused", u"9600,N,8,3", false, false, 9600, 0, 8, 2},
        {"zero baud", u"0,N,8,1", false, false, 1200, 2, 6, 2},
        {"zero baud with reset gives defaults", u"0,N,8,1", true, false, 9600, 0, 8, 0},
        {"negative baud", u"-9600,N,8,1", false, false, 1200, 2, 6, 2},
        {"leading blank is no digit", u" 9600", false, false, 1200, 2, 6, 2},
        {"empty", u"", false, false, 1200, 2, 6, 2},
        {"baud with trailing text", u"9600baud,N", false, true, 9600, 0, 6, 2},
        {"huge baud saturates", u"99999999999999999999", false, true, 2147483647, 2, 6, 2},
        // Only 31 units count: the stop bits "1.5" are cut to "1." and refused.
        {"cut at 31 units", u"000000000000000000009600,N,8,1.5", false, false, 9600, 0, 8, 2},
        {"30 units still read", u"00000000000000000009600,N,8,1.5", false, true, 9600, 0, 8, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        tagComPortParam record = kDistinct;
        EXPECT_EQ(ParseComParam(row.text, &record, row.reset), row.ok) << Show(row.text);
        EXPECT_EQ(std::tuple(record.dwBaudRate, record.nParity, record.nByteSize, record.nStopBits),
                  std::tuple(row.baud, row.parity, row.data_bits, row.stop_bits));
        // The other fields belong to other settings and never change, except by a reset.
        EXPECT_EQ(std::tuple(record.nFlowControl, record.ReadIntervalTimeout,
                             record.ReadTotalTimeoutConstant),
                  row.reset ? std::tuple(2, 0xFFFFFFFFu, 0u) : std::tuple(0, 7u, 9u));
    }
}

TEST(ParseComParamTest, NullArgumentsAreRefusedAndNoMoreThanThirtyOneUnitsAreRead) {
    tagComPortParam record = kDistinct;
    EXPECT_FALSE(ParseComParam(nullptr, &record, true));
    EXPECT_EQ(record.dwBaudRate, 1200u);  // not even reset
    EXPECT_FALSE(ParseComParam(u"9600", nullptr, true));
    char16_t output[kComParamTextUnits];
    EXPECT_FALSE(FormatComParam(nullptr, output));
    EXPECT_FALSE(FormatComParam(&record, nullptr));
    // No terminator at all: only the first 31 units may be touched.
    char16_t units[31];
    std::fill(std::begin(units), std::end(units), u'7');
    EXPECT_TRUE(ParseComParam(units, &record, true));
    EXPECT_EQ(record.dwBaudRate, 2147483647u);
    // A zero unit ends a view like a terminator.
    EXPECT_TRUE(ParseComParam(std::u16string(u"9600,E\0,9,9", 11), record, true));
    EXPECT_EQ(record.nParity, 2);
    EXPECT_EQ(record.nByteSize, 8);
}

TEST(FormatComParamTest, WritesTheFourFieldsOrRefusesARecordOutOfRange) {
    const struct {
        const char* name;
        uint32_t baud;
        int32_t parity, data_bits, stop_bits;
        const char16_t* text;  // null: refused
    } rows[] = {
        {"defaults", 9600, 0, 8, 0, u"9600,N,8,1"},
        {"mark seven 1.5", 9600, 3, 7, 1, u"9600,M,7,1.5"},
        {"space five two", 300, 4, 5, 2, u"300,S,5,2"},
        {"odd", 115200, 1, 6, 0, u"115200,O,6,1"},
        {"largest rate", 4294967295u, 2, 8, 2, u"4294967295,E,8,2"},
        {"parity 5", 9600, 5, 8, 0, nullptr},
        {"parity negative", 9600, -1, 8, 0, nullptr},
        {"data bits 4", 9600, 0, 4, 0, nullptr},
        {"data bits 9", 9600, 0, 9, 0, nullptr},
        {"stop bits 3", 9600, 0, 8, 3, nullptr},
        {"stop bits negative", 9600, 0, 8, -1, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const tagComPortParam record{row.baud, row.data_bits, row.parity, row.stop_bits};
        char16_t output[kComParamTextUnits];
        std::fill(std::begin(output), std::end(output), u'#');
        EXPECT_EQ(FormatComParam(&record, output), row.text != nullptr);
        if (row.text != nullptr) {  // zero-filled to the end
            EXPECT_EQ(std::u16string(output), row.text);
            EXPECT_EQ(output[kComParamTextUnits - 1], u'\0');
        } else {
            EXPECT_EQ(output[0], u'#');  // untouched
        }
        EXPECT_EQ(FormatComParamText(record), row.text ? row.text : u"");
    }
}

TEST(ComChoiceTextsTest, ParameterTextSelectsTheMatchingEntries) {
    // The text, then the entries of the four lists; partial or bad texts show what was read,
    // and defaults for the rest.
    const std::u16string_view rows[][5] = {
        {u"115200,E,7,2", u"115200", u"E(偶校验)", u"7", u"2"},
        {u"9600,N,8,1", u"9600", u"N(无)", u"8", u"1"},
        {u"250000,s,5,1.5", u"250000", u"S(空格)", u"5", u"1.5"},
        {u"4800,M", u"4800", u"M(标记)", u"8", u"1"},
        {u"19200,O,9,1", u"19200", u"O(奇校验)", u"8", u"1"},
        {u"abc", u"9600", u"N(无)", u"8", u"1"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Fields(ChoiceTextsFromParamText(row[0])),
                  Fields({std::u16string(row[1]), std::u16string(row[2]), std::u16string(row[3]),
                          std::u16string(row[4])}))
            << Show(row[0]);
    }
}

TEST(ComChoiceTextsTest, OutOfRangeFieldsMatchNoEntry) {
    const ComChoiceTexts texts =
        ChoiceTextsFromParam({.nByteSize = 4, .nParity = 7, .nStopBits = 3});
    EXPECT_EQ(Fields(texts), Fields({texts.baud_rate, u"", u"", u""}));
}

TEST(ComChoiceTextsTest, ChoiceListTextsReadBackThroughTheParser) {
    // Every combination of the four lists, as the lists show them, parses without loss.
    for (const char16_t* baud : kBaudRateChoices) {
        for (const char16_t* parity : kParityChoices) {
            for (const char16_t* data_bits : kDataBitsChoices) {
                for (const char16_t* stop_bits : kStopBitsChoices) {
                    const ComChoiceTexts choices{baud, parity, data_bits, stop_bits};
                    const std::u16string text = ParamTextFromChoices(choices);
                    tagComPortParam record;
                    ASSERT_TRUE(ParseComParam(text, record, false)) << Show(text);
                    const ComChoiceTexts back = ChoiceTextsFromParam(record);
                    EXPECT_EQ(Fields(back), Fields({baud, parity, data_bits, stop_bits}))
                        << Show(text);
                }
            }
        }
    }
}

TEST(ComChoiceTextsTest, ChangingParityGivesTheShortText) {
    // The box shows the formatted record after a choice changed: "9600,M,8,1".
    const ComChoiceTexts choices{u"9600", u"M(标记)", u"8", u"1"};
    EXPECT_EQ(ParamTextFromChoices(choices), u"9600,M(标记),8,1");
    tagComPortParam record;
    ASSERT_TRUE(ParseComParam(ParamTextFromChoices(choices), record, false));
    EXPECT_EQ(FormatComParamText(record), u"9600,M,8,1");
}

}  // namespace
