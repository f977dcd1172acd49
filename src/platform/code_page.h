// Conversion between UTF-16 and the ANSI code page: CP936 (GBK) unless the environment
// variable KEMPEMVILO_ACP names another code page that iconv knows.
#pragma once

#include <string>
#include <string_view>

namespace kem::platform {

// The iconv name of the ANSI code page in use.
const std::string& AnsiCodePage();

// UTF-16 to ANSI bytes; a character the code page cannot hold becomes '?'. Any thread.
std::string WideToAnsi(std::u16string_view text);

// ANSI bytes to UTF-16; a byte sequence that is not valid in the code page becomes '?'.
std::u16string AnsiToWide(std::string_view bytes);

// UTF-16 to UTF-8 and back, for file-system paths; invalid units become U+FFFD.
std::string WideToUtf8(std::u16string_view text);
std::u16string Utf8ToWide(std::string_view bytes);

}  // namespace kem::platform
