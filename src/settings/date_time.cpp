#include "settings/date_time.h"

#include <cmath>
#include <ctime>
#include <string>

#include "platform/code_page.h"

namespace kem::settings {
namespace {

constexpr int64_t kOleEpochFromUnixDays = 25569;  // 1970-01-01 is day 25569 of the OLE count
constexpr int kMaxFormatUnits = 255;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's civil algorithm).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int* year, int* month, int* day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    *year = static_cast<int>(yoe + era * 400 + (m <= 2));
    *month = static_cast<int>(m);
    *day = static_cast<int>(d);
}

bool IsLeap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

bool Valid(const CivilDateTime& c) {
    return c.year >= 100 && c.year <= 9999 && c.month >= 1 && c.month <= 12 && c.day >= 1 &&
           c.day <= DaysInMonth(c.year, c.month) && c.hour >= 0 && c.hour <= 23 && c.minute >= 0 &&
           c.minute <= 59 && c.second >= 0 && c.second <= 59;
}

// A small cursor over the text being parsed.
class Scanner {
public:
    explicit Scanner(std::u16string_view text) : text_(text) {}

    bool AtEnd() const { return pos_ >= text_.size(); }
    char16_t Peek() const { return AtEnd() ? u'\0' : text_[pos_]; }
    bool Take(char16_t c) {
        if (Peek() != c) {
            return false;
        }
        ++pos_;
        return true;
    }
    // Digits as a number; false without a digit. `*digits` counts them; the value saturates.
    bool Number(int64_t* value, int* digits) {
        int64_t result = 0;
        int count = 0;
        while (!AtEnd() && text_[pos_] >= u'0' && text_[pos_] <= u'9') {
            if (result < 1000000000000) {
                result = result * 10 + (text_[pos_] - u'0');
            }
            ++pos_;
            ++count;
        }
        *value = result;
        *digits = count;
        return count > 0;
    }
    size_t position() const { return pos_; }
    void Reset(size_t position) { pos_ = position; }

private:
    std::u16string_view text_;
    size_t pos_ = 0;
};

// "HH:MM[:SS[.fraction]]"; seconds of the day in `*seconds`, the fraction in `*fraction`.
DateParseResult ParseTime(Scanner& in, int64_t* seconds, double* fraction) {
    int64_t hour = 0;
    int64_t minute = 0;
    int64_t second = 0;
    int digits = 0;
    if (!in.Number(&hour, &digits) || digits > 2 || !in.Take(u':') ||
        !in.Number(&minute, &digits) || digits > 2) {
        return DateParseResult::kInvalid;
    }
    *fraction = 0.0;
    if (in.Take(u':')) {
        if (!in.Number(&second, &digits) || digits > 2) {
            return DateParseResult::kInvalid;
        }
        if (in.Take(u'.') || in.Take(u',')) {
            double scale = 0.1;
            while (!in.AtEnd() && in.Peek() >= u'0' && in.Peek() <= u'9') {
                *fraction += scale * (in.Peek() - u'0');
                scale /= 10;
                in.Take(in.Peek());
            }
        }
    }
    if (hour > 23 || minute > 59 || second > 59) {
        return DateParseResult::kInvalid;
    }
    *seconds = hour * 3600 + minute * 60 + second;
    return DateParseResult::kOk;
}

double Compose(int64_t day, double time_fraction) {
    // Before the epoch the fraction still counts forward from midnight of that day.
    return day >= 0 ? static_cast<double>(day) + time_fraction
                    : static_cast<double>(day) - time_fraction;
}

std::u16string CutToUnits(std::u16string text, size_t units) {
    if (text.size() <= units) {
        return text;
    }
    size_t length = units;
    if (length > 0 && text[length - 1] >= 0xD800 && text[length - 1] <= 0xDBFF) {
        --length;
    }
    text.resize(length);
    return text;
}

}  // namespace

bool CivilToOleDate(const CivilDateTime& civil, double* date) {
    if (!Valid(civil)) {
        return false;
    }
    const int64_t day = DaysFromCivil(civil.year, civil.month, civil.day) + kOleEpochFromUnixDays;
    const double fraction = (civil.hour * 3600.0 + civil.minute * 60.0 + civil.second) / 86400.0;
    *date = Compose(day, fraction);
    return true;
}

bool OleDateToCivil(double date, CivilDateTime* civil) {
    // 1 January 100 and the last second of 31 December 9999.
    constexpr double kMin = -657434.0;
    constexpr double kMax = 2958465.99999;
    if (!std::isfinite(date) || date < kMin - 0.99999 || date > kMax) {
        return false;
    }
    int64_t day = static_cast<int64_t>(std::trunc(date));
    int64_t seconds = std::llround(std::fabs(date - static_cast<double>(day)) * 86400.0);
    if (seconds >= 86400) {
        seconds -= 86400;
        ++day;
    }
    CivilDateTime result;
    CivilFromDays(day - kOleEpochFromUnixDays, &result.year, &result.month, &result.day);
    result.hour = static_cast<int>(seconds / 3600);
    result.minute = static_cast<int>(seconds / 60 % 60);
    result.second = static_cast<int>(seconds % 60);
    if (!Valid(result)) {
        return false;
    }
    *civil = result;
    return true;
}

DateParseResult ParseDateTimeText(std::u16string_view text, double* date) {
    while (!text.empty() && (text.front() == u' ' || text.front() == u'\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == u' ' || text.back() == u'\t')) {
        text.remove_suffix(1);
    }
    Scanner in(text);
    int64_t first = 0;
    int digits = 0;
    if (!in.Number(&first, &digits)) {
        return DateParseResult::kInvalid;
    }
    int64_t day_number = 0;
    int64_t seconds = 0;
    double fraction = 0.0;
    if (in.Peek() == u':') {
        in.Reset(0);
        const DateParseResult time = ParseTime(in, &seconds, &fraction);
        if (time != DateParseResult::kOk) {
            return time;
        }
    } else {
        const char16_t separator = in.Peek();
        if (separator != u'-' && separator != u'/') {
            return DateParseResult::kInvalid;
        }
        int64_t month = 0;
        int64_t day = 0;
        if (!in.Take(separator) || !in.Number(&month, &digits) || !in.Take(separator) ||
            !in.Number(&day, &digits)) {
            return DateParseResult::kInvalid;
        }
        if (first > 9999) {
            return DateParseResult::kOverflow;
        }
        CivilDateTime civil;
        civil.year = static_cast<int>(first);
        civil.month = static_cast<int>(month);
        civil.day = static_cast<int>(day);
        if (month < 1 || month > 12 || day < 1 || first < 100) {
            return DateParseResult::kInvalid;
        }
        if (!Valid(civil)) {
            return DateParseResult::kInvalid;
        }
        day_number = DaysFromCivil(civil.year, civil.month, civil.day) + kOleEpochFromUnixDays;
        if (in.Take(u'T') || in.Take(u' ')) {
            while (in.Take(u' ')) {
            }
            const DateParseResult time = ParseTime(in, &seconds, &fraction);
            if (time != DateParseResult::kOk) {
                return time;
            }
        }
    }
    in.Take(u'Z');
    if (!in.AtEnd()) {
        return DateParseResult::kInvalid;
    }
    *date = Compose(day_number, (static_cast<double>(seconds) + fraction) / 86400.0);
    return DateParseResult::kOk;
}

std::u16string_view InvalidDateTimeText() {
    return u"Invalid DateTime";
}

std::u16string FormatCivilDateTime(const CivilDateTime& civil, std::u16string_view format) {
    if (!Valid(civil)) {
        return std::u16string(InvalidDateTimeText());
    }
    if (format.empty()) {
        return {};
    }
    const int64_t days = DaysFromCivil(civil.year, civil.month, civil.day);
    std::tm tm{};
    tm.tm_year = civil.year - 1900;
    tm.tm_mon = civil.month - 1;
    tm.tm_mday = civil.day;
    tm.tm_hour = civil.hour;
    tm.tm_min = civil.minute;
    tm.tm_sec = civil.second;
    tm.tm_wday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    tm.tm_yday = static_cast<int>(days - DaysFromCivil(civil.year, 1, 1));
    tm.tm_isdst = -1;
    const std::string pattern = kem::platform::WideToUtf8(format);
    // Each conversion expands to far fewer bytes than this; a result that still does not fit
    // is longer than the 255 units that are kept anyway.
    std::string out(pattern.size() * 16 + 256, '\0');
    const size_t length = std::strftime(out.data(), out.size(), pattern.c_str(), &tm);
    out.resize(length);
    return CutToUnits(kem::platform::Utf8ToWide(out), kMaxFormatUnits);
}

std::u16string FormatOleDateTime(double date, std::u16string_view format) {
    CivilDateTime civil;
    if (!OleDateToCivil(date, &civil)) {
        return std::u16string(InvalidDateTimeText());
    }
    return FormatCivilDateTime(civil, format);
}

std::u16string FormatDateTime(const kem::platform::LocalTime& time, std::u16string_view format) {
    CivilDateTime civil;
    civil.year = time.year;
    civil.month = time.month;
    civil.day = time.day;
    civil.hour = time.hour;
    civil.minute = time.minute;
    civil.second = time.second;
    return FormatCivilDateTime(civil, format);
}

}  // namespace kem::settings
