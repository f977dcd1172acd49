// Saving the receive display to a file: the proposed file name and the file format chosen by
// the extension.
#pragma once

#include <string>
#include <string_view>

#include "platform/local_time.h"

// The save dialog's filter (Win32 form, entries separated by '|') and default extension.
inline constexpr const char16_t* kSaveDisplayFilter =
    u"RichText File (*.rtf)|*.rtf|Text File (*.txt)|*.txt|All File (*.*)|*.*||";
inline constexpr const char16_t* kSaveDisplayDefaultExt = u"rtf";

// The proposed file name: the port text with ':' trimmed from both ends and every '\' and '/'
// removed, '_', and `now` as "%Y%m%d%H%M%S": "COM1_20240131235959", "TCPIP_...". Pure; any
// thread.
std::u16string SaveDisplayProposedName(std::u16string_view port_text,
                                       const kem::platform::LocalTime& now);

// How the display is written: rich text, plain text, or nothing (an empty file).
enum class SaveDisplayFormat { kRtf, kText, kEmpty };

// The format for a chosen path: its extension (after the last '.' of the last path component)
// "rtf" or "txt", ASCII letters in any case; any other or no extension gives kEmpty. Pure;
// any thread.
SaveDisplayFormat SaveDisplayFormatOf(std::u16string_view path);

// The filter in the form of a Qt file dialog: "RichText File (*.rtf);;Text File (*.txt);;All
// File (*.*)", from kSaveDisplayFilter. Pure; any thread.
std::u16string SaveDisplayQtFilter();
