// The fixed 256-unit name field that channels carry for their logs and owners.
#pragma once

#include <cstdint>

namespace kem::channels {

constexpr int kNameUnits = 256;

// Clears all of `field`, then copies at most `count` units of `text` (stopping at its
// terminator). `count` is taken as unsigned and capped at 255, so -1 or 1000 copy at most 255
// units; the last unit always stays zero. Returns `field`.
char16_t* SetNameText(char16_t (&field)[kNameUnits], const char16_t* text, int32_t count);

// Clears `field` and writes `text` into it, at most 255 units. Returns the number of units
// written, or -1 when the text had to be cut.
int32_t FormatNameText(char16_t (&field)[kNameUnits], const char16_t* text);

}  // namespace kem::channels
