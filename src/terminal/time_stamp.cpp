#include "terminal/time_stamp.h"

#include "settings/date_time.h"

std::u16string_view TimeStampFallbackText() {
    return u"[--:--:--.---]";
}

std::u16string SubstituteMilliseconds(std::u16string_view format, int millisecond) {
    const int ms = millisecond < 0 ? 0 : millisecond % 1000;
    const char16_t digits[3] = {static_cast<char16_t>(u'0' + ms / 100),
                                static_cast<char16_t>(u'0' + ms / 10 % 10),
                                static_cast<char16_t>(u'0' + ms % 10)};
    std::u16string out;
    out.reserve(format.size() + 8);
    for (size_t i = 0; i < format.size(); ++i) {
        const char16_t c = format[i];
        if (c != u'%' || i + 1 >= format.size()) {
            out.push_back(c);
            continue;
        }
        const char16_t next = format[i + 1];
        if (next == u's') {
            out.append(digits, 3);
        } else {
            // "%%" and every other conversion go to strftime as they are.
            out.push_back(c);
            out.push_back(next);
        }
        ++i;
    }
    return out;
}

std::u16string FormatTimeStampHeader(const kem::platform::LocalTime& time,
                                     std::u16string_view format) {
    if (format.empty()) {
        return {};
    }
    std::u16string text =
        kem::settings::FormatDateTime(time, SubstituteMilliseconds(format, time.millisecond));
    if (text.empty() || text.size() >= kTimeStampMaxUnits) {
        return std::u16string(TimeStampFallbackText());
    }
    return text;
}

const std::u16string& TimeStampFormatter::Format(const kem::platform::LocalTime& time,
                                                 std::u16string_view format) {
    const bool same = valid_ && time.millisecond == time_.millisecond &&
                      time.second == time_.second && time.minute == time_.minute &&
                      time.hour == time_.hour && time.day == time_.day &&
                      time.month == time_.month && time.year == time_.year &&
                      time.day_of_week == time_.day_of_week && format == format_;
    if (!same) {
        text_ = FormatTimeStampHeader(time, format);
        time_ = time;
        format_.assign(format);
        valid_ = true;
    }
    return text_;
}
