// Conversions between OLE dates, civil times and texts.
#include "settings/date_time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using kem::settings::CivilDateTime;
using kem::settings::CivilToOleDate;
using kem::settings::DateParseResult;
using kem::settings::FormatCivilDateTime;
using kem::settings::FormatOleDateTime;
using kem::settings::OleDateToCivil;
using kem::settings::ParseDateTimeText;

double Ole(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    double date = std::nan("");
    EXPECT_TRUE(CivilToOleDate(CivilDateTime{y, mo, d, h, mi, s}, &date));
    return date;
}

TEST(OleDate, KnownDayCountsAndFractionsRoundToTheSecond) {
    EXPECT_EQ(Ole(1899, 12, 30), 0.0);
    EXPECT_EQ(Ole(1899, 12, 31), 1.0);
    EXPECT_EQ(Ole(1900, 1, 1), 2.0);
    EXPECT_EQ(Ole(1970, 1, 1), 25569.0);
    EXPECT_EQ(Ole(2000, 1, 1, 12), 36526.5);
    EXPECT_EQ(Ole(100, 1, 1), -657434.0);
    EXPECT_EQ(Ole(9999, 12, 31), 2958465.0);
    // Before the epoch the fraction still counts forward from midnight.
    EXPECT_EQ(Ole(1899, 12, 29, 6), -1.25);
    auto civil_text = [](double date) {
        CivilDateTime c;
        EXPECT_TRUE(OleDateToCivil(date, &c)) << date;
        return FormatCivilDateTime(c, u"%Y-%m-%d %H:%M:%S");
    };
    EXPECT_EQ(civil_text(-1.25), u"1899-12-29 06:00:00");
    EXPECT_EQ(civil_text(36526.0 - 1e-7), u"2000-01-01 00:00:00");
    EXPECT_EQ(civil_text(Ole(2024, 2, 29, 23, 59, 59)), u"2024-02-29 23:59:59");
}

TEST(OleDate, RefusesWhatItCannotConvert) {
    double date = 7.0;
    EXPECT_FALSE(CivilToOleDate(CivilDateTime{2023, 2, 29, 0, 0, 0}, &date));
    EXPECT_FALSE(CivilToOleDate(CivilDateTime{99, 1, 1, 0, 0, 0}, &date));
    EXPECT_FALSE(CivilToOleDate(CivilDateTime{2000, 1, 1, 24, 0, 0}, &date));
    EXPECT_FALSE(CivilToOleDate(CivilDateTime{10000, 1, 1, 0, 0, 0}, &date));
    EXPECT_EQ(date, 7.0);
    CivilDateTime civil;
    EXPECT_FALSE(OleDateToCivil(std::numeric_limits<double>::quiet_NaN(), &civil));
    EXPECT_FALSE(OleDateToCivil(std::numeric_limits<double>::infinity(), &civil));
    EXPECT_FALSE(OleDateToCivil(3e6, &civil));
    EXPECT_FALSE(OleDateToCivil(-7e5, &civil));
}

TEST(OleDate, EveryDayOfFourCenturiesRoundTrips) {
    for (int64_t day = -36522; day < 110000; ++day) {
        CivilDateTime civil;
        ASSERT_TRUE(OleDateToCivil(static_cast<double>(day), &civil)) << day;
        double back = 0;
        ASSERT_TRUE(CivilToOleDate(civil, &back)) << day;
        ASSERT_EQ(back, static_cast<double>(day));
    }
}

TEST(ParseDateTimeText, AcceptsTheKnownFormsAndRefusesTheRest) {
    const struct {
        const char* label;
        const char16_t* text;
        DateParseResult result;
        double expected;
    } rows[] = {
        {"store form", u"2024-02-29 13:45:07", DateParseResult::kOk, Ole(2024, 2, 29, 13, 45, 7)},
        {"date only", u"2024-02-29", DateParseResult::kOk, Ole(2024, 2, 29)},
        {"iso T", u"2024-02-29T13:45:07", DateParseResult::kOk, Ole(2024, 2, 29, 13, 45, 7)},
        {"iso Z", u"2024-02-29T13:45:07Z", DateParseResult::kOk, Ole(2024, 2, 29, 13, 45, 7)},
        {"minutes", u"2024-02-29 13:45", DateParseResult::kOk, Ole(2024, 2, 29, 13, 45)},
        {"slashes", u"2024/02/29 13:45:07", DateParseResult::kOk, Ole(2024, 2, 29, 13, 45, 7)},
        {"blanks", u"  2024-01-01  ", DateParseResult::kOk, Ole(2024, 1, 1)},
        {"time only", u"13:45:07", DateParseResult::kOk, (13 * 3600 + 45 * 60 + 7) / 86400.0},
        {"fraction", u"2000-01-01T00:00:00.5", DateParseResult::kOk, 36526.0 + 0.5 / 86400},
        {"no leap day", u"2023-02-29", DateParseResult::kInvalid, 0},
        {"month 13", u"2024-13-01", DateParseResult::kInvalid, 0},
        {"hour 24", u"2024-01-01 24:00:00", DateParseResult::kInvalid, 0},
        {"words", u"yesterday", DateParseResult::kInvalid, 0},
        {"empty", u"", DateParseResult::kInvalid, 0},
        {"trailing", u"2024-01-01 10:00:00 x", DateParseResult::kInvalid, 0},
        {"mixed separators", u"2024-01/01", DateParseResult::kInvalid, 0},
        {"year 10000", u"10000-01-01", DateParseResult::kOverflow, 0},
        {"year 99999999999999", u"99999999999999-01-01", DateParseResult::kOverflow, 0},
    };
    for (const auto& row : rows) {
        double date = -12345.0;
        EXPECT_EQ(ParseDateTimeText(row.text, &date), row.result) << row.label;
        if (row.result == DateParseResult::kOk) {
            EXPECT_NEAR(date, row.expected, 1e-9) << row.label;
        } else {
            EXPECT_EQ(date, -12345.0) << row.label;
        }
    }
}

TEST(FormatDateTime, ExpandsStrftimeConversionsUpTo255UnitsOrSaysInvalid) {
    const CivilDateTime civil{2024, 2, 29, 13, 5, 7};
    EXPECT_EQ(FormatCivilDateTime(civil, u"%j %w"), u"060 4");  // a Thursday
    EXPECT_EQ(FormatCivilDateTime(civil, u"[! \\StartTime: %Y]"), u"[! \\StartTime: 2024]");
    EXPECT_EQ(FormatCivilDateTime(civil, u"\u65f6\u95f4%H\u70b9"), u"\u65f6\u95f413\u70b9");
    EXPECT_EQ(FormatCivilDateTime(civil, u""), u"");
    EXPECT_EQ(FormatCivilDateTime(civil, std::u16string(300, u'x')).size(), 255u);
    EXPECT_EQ(FormatCivilDateTime(CivilDateTime{2024, 2, 30, 0, 0, 0}, u"%Y"), u"Invalid DateTime");
    EXPECT_EQ(FormatOleDateTime(1e12, u"%Y"), u"Invalid DateTime");
    kem::platform::LocalTime local;
    local.year = 2024;
    local.month = 13;
    local.day = 1;
    EXPECT_EQ(kem::settings::FormatDateTime(local, u"%Y"), u"Invalid DateTime");
    local.month = 12;
    local.hour = 23;
    local.millisecond = 999;
    EXPECT_EQ(kem::settings::FormatDateTime(local, u"%Y-%m-%d %H"), u"2024-12-01 23");
}

}  // namespace
