// Saving the display: the proposed file name, the format chosen by extension, the Qt filter.
#include "terminal/save_display.h"

#include <gtest/gtest.h>

#include "platform/code_page.h"

namespace {

TEST(SaveDisplayProposedNameTest, PortPartAndTime) {
    kem::platform::LocalTime now{.year = 2024,
                                 .month = 1,
                                 .day = 31,
                                 .hour = 23,
                                 .minute = 59,
                                 .second = 59,
                                 .millisecond = 999};
    const std::pair<const char16_t*, const char16_t*> rows[] = {
        {u"COM1", u"COM1_20240131235959"},
        {u"TCP/IP", u"TCPIP_20240131235959"},
        {u"SERVER", u"SERVER_20240131235959"},
        {u"::COM3:", u"COM3_20240131235959"},  // outer colons trimmed
        {u"a:b", u"a:b_20240131235959"},       // an inner one kept
        {u"/dev/ttyUSB0", u"devttyUSB0_20240131235959"},
        {u"\\\\.\\COM12", u".COM12_20240131235959"},
        {u":::", u"_20240131235959"},
        {u"", u"_20240131235959"},
    };
    for (const auto& [port, proposed] : rows) {
        EXPECT_EQ(kem::platform::WideToUtf8(SaveDisplayProposedName(port, now)),
                  kem::platform::WideToUtf8(proposed));
    }
    now = {.year = 2026, .month = 12, .day = 7, .hour = 3, .minute = 4, .second = 5};
    EXPECT_EQ(SaveDisplayProposedName(u"COM1", now), u"COM1_20261207030405");
}

TEST(SaveDisplayFormatOfTest, ExtensionIgnoringAsciiCase) {
    const std::pair<const char16_t*, SaveDisplayFormat> rows[] = {
        {u"/tmp/COM1_1.rtf", SaveDisplayFormat::kRtf},
        {u"/tmp/COM1_1.RTF", SaveDisplayFormat::kRtf},
        {u"/tmp/a.txt", SaveDisplayFormat::kText},
        {u"C:\\x\\a.Txt", SaveDisplayFormat::kText},
        {u"/tmp/a.log", SaveDisplayFormat::kEmpty},
        {u"/tmp/a", SaveDisplayFormat::kEmpty},
        {u"/tmp/x.txt/a", SaveDisplayFormat::kEmpty},
        {u"/tmp/a.txt.rtf", SaveDisplayFormat::kRtf},
        {u"/tmp/atxt", SaveDisplayFormat::kEmpty},
        {u"/tmp/a.txtx", SaveDisplayFormat::kEmpty},
        {u"/tmp/a.", SaveDisplayFormat::kEmpty},
    };
    for (const auto& [path, format] : rows) {
        EXPECT_EQ(SaveDisplayFormatOf(path), format) << kem::platform::WideToUtf8(path);
    }
    EXPECT_EQ(SaveDisplayQtFilter(), u"RichText File (*.rtf);;Text File (*.txt);;All File (*.*)");
}

}  // namespace
