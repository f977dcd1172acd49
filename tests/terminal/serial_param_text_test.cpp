#include "terminal/serial_param_text.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/code_page.h"

namespace {

std::string Show(std::u16string_view text) {
    return kem::platform::WideToUtf8(text);
}

// A record unlike the defaults, so that every field a parse leaves alone can be seen.
tagComPortParam Distinct() {
    tagComPortParam record;
    record.dwBaudRate = 1200;
    record.nByteSize = 6;
    record.nParity = 2;
    record.nStopBits = 2;
    record.nFlowControl = 0;
    record.ReadIntervalTimeout = 7;
    record.ReadTotalTimeoutConstant = 9;
    return record;
}

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
        {"all fields changed", u"115200,E,7,2", false, true, 115200, 2, 7, 2},
        {"lower case parity and 1.5", u"9600,n,8,1.5", false, true, 9600, 0, 8, 1},
        {"parity text after the letter", u"9600,O(奇校验),5,1", false, true, 9600, 1, 5, 0},
        {"mark", u"19200,m,8,1", false, true, 19200, 3, 8, 0},
        {"space", u"19200,S,8,1", false, true, 19200, 4, 8, 0},
        {"rate outside the list kept", u"250000,N,8,1", false, true, 250000, 0, 8, 0},
        {"baud only changes baud only", u"115200", false, true, 115200, 2, 6, 2},
        {"baud only with reset", u"115200", true, true, 115200, 0, 8, 0},
        {"trailing comma ends", u"4800,", false, true, 4800, 2, 6, 2},
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
        {"no digits", u"N,8,1", false, false, 1200, 2, 6, 2},
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
        tagComPortParam record = Distinct();
        EXPECT_EQ(ParseComParam(row.text, &record, row.reset), row.ok) << Show(row.text);
        EXPECT_EQ(record.dwBaudRate, row.baud);
        EXPECT_EQ(record.nParity, row.parity);
        EXPECT_EQ(record.nByteSize, row.data_bits);
        EXPECT_EQ(record.nStopBits, row.stop_bits);
        // The other fields belong to other settings and never change, except by a reset.
        EXPECT_EQ(record.nFlowControl, row.reset ? 2 : 0);
        EXPECT_EQ(record.ReadIntervalTimeout, row.reset ? 0xFFFFFFFFu : 7u);
        EXPECT_EQ(record.ReadTotalTimeoutConstant, row.reset ? 0u : 9u);
    }
}

TEST(ParseComParamTest, NullArgumentsAreRefused) {
    tagComPortParam record = Distinct();
    EXPECT_FALSE(ParseComParam(nullptr, &record, true));
    EXPECT_EQ(record.dwBaudRate, 1200u);  // not even reset
    EXPECT_FALSE(ParseComParam(u"9600", nullptr, true));
}

TEST(ParseComParamTest, ReadsNoFurtherThanThirtyOneUnitsOfAPointer) {
    // A buffer with no terminator at all: only the first 31 units may be touched.
    char16_t units[31];
    std::fill(std::begin(units), std::end(units), u'7');
    tagComPortParam record;
    EXPECT_TRUE(ParseComParam(units, &record, true));
    EXPECT_EQ(record.dwBaudRate, 2147483647u);
}

TEST(ParseComParamTest, AZeroUnitEndsAViewLikeATerminator) {
    tagComPortParam record;
    const std::u16string text(u"9600,E\0,9,9", 11);
    EXPECT_TRUE(ParseComParam(text, record, true));
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
        tagComPortParam record;
        record.dwBaudRate = row.baud;
        record.nParity = row.parity;
        record.nByteSize = row.data_bits;
        record.nStopBits = row.stop_bits;
        char16_t output[kComParamTextUnits];
        std::fill(std::begin(output), std::end(output), u'#');
        EXPECT_EQ(FormatComParam(&record, output), row.text != nullptr);
        if (row.text != nullptr) {
            EXPECT_EQ(std::u16string(output), row.text);
            // The rest of the buffer is zero-filled.
            EXPECT_EQ(output[kComParamTextUnits - 1], u'\0');
            EXPECT_EQ(FormatComParamText(record), row.text);
        } else {
            EXPECT_EQ(output[0], u'#');  // untouched
            EXPECT_EQ(FormatComParamText(record), u"");
        }
    }
}

TEST(FormatComParamTest, NullArgumentsAreRefused) {
    tagComPortParam record;
    char16_t output[kComParamTextUnits];
    EXPECT_FALSE(FormatComParam(nullptr, output));
    EXPECT_FALSE(FormatComParam(&record, nullptr));
}

TEST(FormatComParamTest, EveryValidRecordReadsBackToItself) {
    for (int32_t parity = 0; parity <= 4; ++parity) {
        for (int32_t data_bits = 5; data_bits <= 8; ++data_bits) {
            for (int32_t stop_bits = 0; stop_bits <= 2; ++stop_bits) {
                tagComPortParam record;
                record.dwBaudRate = 57600;
                record.nParity = parity;
                record.nByteSize = data_bits;
                record.nStopBits = stop_bits;
                const std::u16string text = FormatComParamText(record);
                tagComPortParam back;
                ASSERT_TRUE(ParseComParam(text, back, true)) << Show(text);
                EXPECT_EQ(back.nParity, parity) << Show(text);
                EXPECT_EQ(back.nByteSize, data_bits) << Show(text);
                EXPECT_EQ(back.nStopBits, stop_bits) << Show(text);
                EXPECT_EQ(back.dwBaudRate, 57600u);
            }
        }
    }
}

TEST(ComChoiceTextsTest, ParameterTextSelectsTheMatchingEntries) {
    const struct {
        const char* name;
        const char16_t* text;
        const char16_t* baud;
        const char16_t* parity;
        const char16_t* data_bits;
        const char16_t* stop_bits;
    } rows[] = {
        {"even seven two", u"115200,E,7,2", u"115200", u"E(偶校验)", u"7", u"2"},
        {"defaults", u"9600,N,8,1", u"9600", u"N(无)", u"8", u"1"},
        {"rate outside the list", u"250000,s,5,1.5", u"250000", u"S(空格)", u"5", u"1.5"},
        {"partial text from defaults", u"4800,M", u"4800", u"M(标记)", u"8", u"1"},
        {"bad text shows what was read", u"19200,O,9,1", u"19200", u"O(奇校验)", u"8", u"1"},
        {"garbage shows defaults", u"abc", u"9600", u"N(无)", u"8", u"1"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const ComChoiceTexts texts = ChoiceTextsFromParamText(row.text);
        EXPECT_EQ(texts.baud_rate, row.baud);
        EXPECT_EQ(texts.parity, row.parity);
        EXPECT_EQ(texts.data_bits, row.data_bits);
        EXPECT_EQ(texts.stop_bits, row.stop_bits);
    }
}

TEST(ComChoiceTextsTest, OutOfRangeFieldsMatchNoEntry) {
    tagComPortParam record;
    record.nParity = 7;
    record.nByteSize = 4;
    record.nStopBits = 3;
    const ComChoiceTexts texts = ChoiceTextsFromParam(record);
    EXPECT_EQ(texts.parity, u"");
    EXPECT_EQ(texts.data_bits, u"");
    EXPECT_EQ(texts.stop_bits, u"");
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
                    EXPECT_EQ(back.baud_rate, baud) << Show(text);
                    EXPECT_EQ(back.parity, parity) << Show(text);
                    EXPECT_EQ(back.data_bits, data_bits) << Show(text);
                    EXPECT_EQ(back.stop_bits, stop_bits) << Show(text);
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

TEST(ComParamMessageTest, BadParameterMessage) {
    EXPECT_EQ(std::u16string(kBadComParamMessage), u"不正确的串口参数");
}

}  // namespace
