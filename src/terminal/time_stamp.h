// The time-stamp header shown before a block: the user's strftime template with "%s" standing
// for the milliseconds.
#pragma once

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

// The header for `time`: milliseconds substituted, then expanded by strftime rules. An empty
// template gives an empty header; an empty or overlong expansion of a non-empty template gives
// TimeStampFallbackText(). Unknown conversions come out as the C library writes them
// (glibc copies them literally). Any thread.
std::u16string FormatTimeStampHeader(const kem::platform::LocalTime& time,
                                     std::u16string_view format);

// FormatTimeStampHeader with a one-entry cache: blocks arriving within the same millisecond
// under the same template reuse the last text. One per renderer; single thread.
class TimeStampFormatter {
public:
    const std::u16string& Format(const kem::platform::LocalTime& time, std::u16string_view format);

private:
    bool valid_ = false;
    kem::platform::LocalTime time_;
    std::u16string format_;
    std::u16string text_;
};
