// The time-stamp header shown before a block: the user's strftime template with "%s" standing
// for the milliseconds and "%q" for the time since the previous entry's header.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/local_time.h"

// Units at which an expansion counts as overlong: the date formatter keeps at most 255 units,
// so an expansion that reaches them may have been cut short.
constexpr size_t kTimeStampMaxUnits = 255;

// The fixed text shown instead of an expansion that is empty or overlong.
std::u16string_view TimeStampFallbackText();

// Replaces each "%s" of `format` by the milliseconds as three digits; "%%" is passed through
// untouched, so "%%s" still comes out as a literal "%s" after strftime. Pure, any thread.
std::u16string SubstituteMilliseconds(std::u16string_view format, int millisecond);

// The instant of a record's time in milliseconds since the epoch, for measuring gaps between
// records: the same for a live render and a re-render. Pure, any thread.
inline int64_t TimeStampInstantMs(const kem::platform::LocalTime& time) {
    return time.unix_seconds * 1000 + time.millisecond;
}

// True when `format` holds a "%q" that is not the tail of a "%%". Pure, any thread.
bool TemplateUsesElapsed(std::u16string_view format);

// "+S.mmm" for `elapsed_ms` (seconds without leading zeros, three-digit milliseconds); a
// negative time, from a clock set back, counts as 0. Pure, any thread.
std::u16string FormatElapsed(int64_t elapsed_ms);

// As SubstituteMilliseconds, and each "%q" becomes FormatElapsed(`elapsed_ms`); "%%q" is
// passed through, so it comes out as a literal "%q". Pure, any thread.
std::u16string SubstituteStampTokens(std::u16string_view format, int millisecond,
                                     int64_t elapsed_ms);

// The header for `time`: milliseconds and the elapsed time since the previous entry
// (`elapsed_ms`) substituted, then expanded by strftime rules. An empty template gives an
// empty header; an empty or overlong expansion of a non-empty template gives
// TimeStampFallbackText(). Unknown conversions come out as the C library writes them
// (glibc copies them literally). Any thread.
std::u16string FormatTimeStampHeader(const kem::platform::LocalTime& time,
                                     std::u16string_view format, int64_t elapsed_ms = 0);

// FormatTimeStampHeader with a one-entry cache: blocks arriving within the same millisecond
// under the same template and elapsed time reuse the last text. One per renderer; single
// thread.
class TimeStampFormatter {
public:
    const std::u16string& Format(const kem::platform::LocalTime& time, std::u16string_view format,
                                 int64_t elapsed_ms = 0);

private:
    bool valid_ = false;
    kem::platform::LocalTime time_;
    int64_t elapsed_ms_ = 0;
    std::u16string format_;
    std::u16string text_;
};
