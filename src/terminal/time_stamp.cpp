#include "terminal/time_stamp.h"

#include "settings/date_time.h"

std::u16string_view TimeStampFallbackText() {
    return u"[--:--:--.---]";
}

namespace {

// Appends "+S.mmm" for `elapsed_ms` to `out` without a temporary string: it runs per header.
void AppendElapsed(int64_t elapsed_ms, std::u16string& out) {
    const uint64_t ms = elapsed_ms < 0 ? 0 : static_cast<uint64_t>(elapsed_ms);
    char16_t seconds[20];
    size_t count = 0;
    uint64_t whole = ms / 1000;
    do {
        seconds[count++] = static_cast<char16_t>(u'0' + whole % 10);
        whole /= 10;
    } while (whole != 0);
    out.push_back(u'+');
    while (count > 0) {
        out.push_back(seconds[--count]);
    }
    const auto rest = static_cast<unsigned>(ms % 1000);
    out.push_back(u'.');
    out.push_back(static_cast<char16_t>(u'0' + rest / 100));
    out.push_back(static_cast<char16_t>(u'0' + rest / 10 % 10));
    out.push_back(static_cast<char16_t>(u'0' + rest % 10));
}

// One pass over the template for both tokens; `elapsed_ms` is null when "%q" is left alone.
std::u16string Substitute(std::u16string_view format, int millisecond, const int64_t* elapsed_ms) {
    const int ms = millisecond < 0 ? 0 : millisecond % 1000;
    const char16_t digits[3] = {static_cast<char16_t>(u'0' + ms / 100),
                                static_cast<char16_t>(u'0' + ms / 10 % 10),
                                static_cast<char16_t>(u'0' + ms % 10)};
    std::u16string out;
    out.reserve(format.size() + 16);
    for (size_t i = 0; i < format.size(); ++i) {
        const char16_t c = format[i];
        if (c != u'%' || i + 1 >= format.size()) {
            out.push_back(c);
            continue;
        }
        const char16_t next = format[i + 1];
        if (next == u's') {
            out.append(digits, 3);
        } else if (next == u'q' && elapsed_ms != nullptr) {
            AppendElapsed(*elapsed_ms, out);
        } else {
            // "%%" and every other conversion go to strftime as they are.
            out.push_back(c);
            out.push_back(next);
        }
        ++i;
    }
    return out;
}

}  // namespace

std::u16string SubstituteMilliseconds(std::u16string_view format, int millisecond) {
    return Substitute(format, millisecond, nullptr);
}

bool TemplateUsesElapsed(std::u16string_view format) {
    for (size_t i = 0; i + 1 < format.size(); ++i) {
        if (format[i] != u'%') {
            continue;
        }
        if (format[i + 1] == u'q') {
            return true;
        }
        ++i;  // the unit after '%' is taken, so "%%q" is no token
    }
    return false;
}

std::u16string FormatElapsed(int64_t elapsed_ms) {
    std::u16string out;
    AppendElapsed(elapsed_ms, out);
    return out;
}

std::u16string SubstituteStampTokens(std::u16string_view format, int millisecond,
                                     int64_t elapsed_ms) {
    return Substitute(format, millisecond, &elapsed_ms);
}

std::u16string FormatTimeStampHeader(const kem::platform::LocalTime& time,
                                     std::u16string_view format, int64_t elapsed_ms) {
    if (format.empty()) {
        return {};
    }
    std::u16string text = kem::settings::FormatDateTime(
        time, SubstituteStampTokens(format, time.millisecond, elapsed_ms));
    if (text.empty() || text.size() >= kTimeStampMaxUnits) {
        return std::u16string(TimeStampFallbackText());
    }
    return text;
}

const std::u16string& TimeStampFormatter::Format(const kem::platform::LocalTime& time,
                                                 std::u16string_view format, int64_t elapsed_ms) {
    const bool same =
        valid_ && elapsed_ms == elapsed_ms_ && time.millisecond == time_.millisecond &&
        time.second == time_.second && time.minute == time_.minute && time.hour == time_.hour &&
        time.day == time_.day && time.month == time_.month && time.year == time_.year &&
        time.day_of_week == time_.day_of_week && format == format_;
    if (!same) {
        text_ = FormatTimeStampHeader(time, format, elapsed_ms);
        time_ = time;
        elapsed_ms_ = elapsed_ms;
        format_.assign(format);
        valid_ = true;
    }
    return text_;
}
