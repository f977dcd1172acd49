// The input box text as the settings record keeps it: line breaks become the escapes "\x0D"
// and "\x0A" when the window closes, and "\x0D\x0A" turns back into a line break when it opens.
// Also the cutting of texts to the fixed fields of the record.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Units InputBoxData holds, terminator excluded.
constexpr size_t kInputBoxStoredUnits = 511;

// The text the input box shows for a stored text: every "\x0D\x0A" and every "\x0d\x0a" becomes
// CR LF; nothing else changes (a lone "\x0D", or the pair in mixed letter case, stays as it is).
// Pure; any thread.
std::u16string InputBoxFromStored(std::u16string_view stored);

// The stored form of the input box text: every CR becomes "\x0D" and every LF "\x0A". The result
// has at most `max_units` units. When it must be cut, the cut is moved back until what the
// stored text sends (its bytes after control-character names and "\x" escapes are decoded) is a
// prefix of what the whole text sends: so an escape is never cut into a different byte ("\x41"
// is never left as "\x4", "\x0D" is kept whole or dropped) and a bracketed name is never left
// half. A CR LF pair is kept whole or dropped, so it still reads back as a line break. Never
// cuts inside a surrogate pair. Pure; any thread (uses the code page conversion).
std::u16string StoredFromInputBox(std::u16string_view text,
                                  size_t max_units = kInputBoxStoredUnits);

// `text` cut to at most `max_units` units, never inside a surrogate pair (a pair that would be
// split is dropped whole). For the port list and parameter texts, which have no escapes.
// Pure; any thread.
std::u16string CutStoredText(std::u16string_view text, size_t max_units);
