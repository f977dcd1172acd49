// The display saved as rich text: a font and a colour table built from the six styles, then
// the text with each run in its style's font, size and colour. Only ASCII goes out as is;
// every other character is written as \uN so the file does not depend on a code page.
#pragma once

#include <string>
#include <vector>

#include "terminal/display_run.h"
#include "terminal/display_style_format.h"

// Writes `segments` (breaks of the data as u'\n') as an RTF document in `styles`: font k and
// colour k + 1 belong to style k, a break becomes \par, '\\', '{' and '}' are escaped, a tab
// is \tab, other control characters \'hh, and units above 0x7F \uN? (N signed 16-bit, one
// '?' for readers without Unicode). Font faces are written the same way. Pure; any thread.
std::string WriteRtf(const std::vector<StyledRun>& segments, const DisplayStyleTable& styles);
