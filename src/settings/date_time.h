// Date-time values as day counts (the OLE Automation date: days since 30 December 1899, the
// fraction the time of day), their conversion to and from calendar fields, a parser for the
// texts the settings store writes, and strftime-style formatting.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/local_time.h"

// A stored date-time: day count and status (kDateTimeValid or kDateTimeInvalid).
struct DateTimeValue {
    double date = 0.0;
    int32_t status = 0;
};

constexpr int32_t kDateTimeValid = 0;
constexpr int32_t kDateTimeInvalid = 1;

namespace kem::settings {

// Calendar fields of a date-time, whole seconds.
struct CivilDateTime {
    int year = 1899;  // 100..9999
    int month = 12;   // 1..12
    int day = 30;     // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Day count of `civil`. False (and `*date` untouched) when a field is out of range: year
// 100..9999, a day that the month has, hour 0..23, minute and second 0..59. Pure, any thread.
bool CivilToOleDate(const CivilDateTime& civil, double* date);

// Calendar fields of `date`, rounded to the nearest second. False when `date` is not finite
// or lies outside 1 January 100 .. 31 December 9999. Pure, any thread.
bool OleDateToCivil(double date, CivilDateTime* civil);

// Result of ParseDateTimeText.
enum class DateParseResult {
    kOk,
    kInvalid,   // not a date-time text this parser knows
    kOverflow,  // shaped like one, but a number is out of range
};

// Parses "YYYY-MM-DD HH:MM:SS" (what the store writes) and the ISO forms "YYYY-MM-DD",
// "YYYY-MM-DDTHH:MM[:SS[.fraction]]", "YYYY/MM/DD ...", and a time alone "HH:MM[:SS]" (day 0).
// Blanks around the text are ignored. `*date` is set only for kOk. Pure, any thread.
DateParseResult ParseDateTimeText(std::u16string_view text, double* date);

// The text "Invalid DateTime", used in place of an expansion that cannot be made.
std::u16string_view InvalidDateTimeText();

// Expands `format` by the C library's strftime rules against `civil` (at most 255 units, cut
// at a character boundary). "Invalid DateTime" when a field is out of range. Any thread.
std::u16string FormatCivilDateTime(const CivilDateTime& civil, std::u16string_view format);

// As FormatCivilDateTime, for a day count ("Invalid DateTime" when it cannot be converted).
std::u16string FormatOleDateTime(double date, std::u16string_view format);

// As FormatCivilDateTime, for a local time from platform/local_time.h; the milliseconds are
// ignored. Shared by the time-stamp headers, window titles and traffic log names. Any thread.
std::u16string FormatDateTime(const kem::platform::LocalTime& time, std::u16string_view format);

}  // namespace kem::settings
