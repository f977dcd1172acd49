#include "terminal/save_display.h"

#include <gtest/gtest.h>

#include "platform/code_page.h"

namespace {

kem::platform::LocalTime At(int year, int month, int day, int hour, int minute, int second) {
    kem::platform::LocalTime time;
    time.year = year;
    time.month = month;
    time.day = day;
    time.hour = hour;
    time.minute = minute;
    time.second = second;
    time.millisecond = 999;
    return time;
}

TEST(SaveDisplayProposedNameTest, PortPartAndTime) {
    const auto now = At(2024, 1, 31, 23, 59, 59);
    const struct {
        const char* name;
        const char16_t* port;
        const char16_t* proposed;
    } rows[] = {
        {"serial", u"COM1", u"COM1_20240131235959"},
        {"client", u"TCP/IP", u"TCPIP_20240131235959"},
        {"server", u"SERVER", u"SERVER_20240131235959"},
        {"colons trimmed", u"::COM3:", u"COM3_20240131235959"},
        {"inner colon kept", u"a:b", u"a:b_20240131235959"},
        {"device path", u"/dev/ttyUSB0", u"devttyUSB0_20240131235959"},
        {"win device path", u"\\\\.\\COM12", u".COM12_20240131235959"},
        {"only colons", u":::", u"_20240131235959"},
        {"empty", u"", u"_20240131235959"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(kem::platform::WideToUtf8(SaveDisplayProposedName(row.port, now)),
                  kem::platform::WideToUtf8(row.proposed))
            << row.name;
    }
    EXPECT_EQ(SaveDisplayProposedName(u"COM1", At(2026, 12, 7, 3, 4, 5)), u"COM1_20261207030405");
}

TEST(SaveDisplayFormatOfTest, ExtensionIgnoringAsciiCase) {
    const struct {
        const char* name;
        const char16_t* path;
        SaveDisplayFormat format;
    } rows[] = {
        {"rtf", u"/tmp/COM1_1.rtf", SaveDisplayFormat::kRtf},
        {"RTF", u"/tmp/COM1_1.RTF", SaveDisplayFormat::kRtf},
        {"txt", u"/tmp/a.txt", SaveDisplayFormat::kText},
        {"Txt", u"C:\\x\\a.Txt", SaveDisplayFormat::kText},
        {"log", u"/tmp/a.log", SaveDisplayFormat::kEmpty},
        {"no extension", u"/tmp/a", SaveDisplayFormat::kEmpty},
        {"dot in folder only", u"/tmp/x.txt/a", SaveDisplayFormat::kEmpty},
        {"last extension counts", u"/tmp/a.txt.rtf", SaveDisplayFormat::kRtf},
        {"txt suffix without dot", u"/tmp/atxt", SaveDisplayFormat::kEmpty},
        {"longer extension", u"/tmp/a.txtx", SaveDisplayFormat::kEmpty},
        {"trailing dot", u"/tmp/a.", SaveDisplayFormat::kEmpty},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(SaveDisplayFormatOf(row.path), row.format) << row.name;
    }
}

TEST(SaveDisplayFilterTest, ConstantsAndQtForm) {
    EXPECT_EQ(std::u16string_view(kSaveDisplayFilter),
              u"RichText File (*.rtf)|*.rtf|Text File (*.txt)|*.txt|All File (*.*)|*.*||");
    EXPECT_EQ(std::u16string_view(kSaveDisplayDefaultExt), u"rtf");
    EXPECT_EQ(SaveDisplayQtFilter(), u"RichText File (*.rtf);;Text File (*.txt);;All File (*.*)");
}

}  // namespace
