// A change of one of the four serial choice lists: only the field of that list changes, so a
// baud rate typed into the parameter box (250000, not in the list) survives a parity change.
#pragma once

#include <string_view>

#include "channels/port_com.h"

// The four serial choice lists.
enum class ComChoiceField { kBaudRate, kParity, kDataBits, kStopBits };

// Reads `choice_text` by the rule of its field in the parameter text (baud rate: leading
// decimal digits, at least 1; parity: first letter of N O E M S in any case, "E(偶校验)" is
// even; data bits 5..8; stop bits exactly "1", "1.5" or "2") and stores it into that field of
// `param` alone. A text that does not read, or that holds a ',' (one list gives one field),
// gives false and leaves `param` unchanged. Pure apart from `param`; any thread.
bool ApplyComChoice(ComChoiceField field, std::u16string_view choice_text, tagComPortParam& param);
