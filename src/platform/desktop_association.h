// Opening *.pvto files with this program from a file manager: a MIME type for the extension
// and a desktop entry for the current user, by the freedesktop.org conventions.
#pragma once

#include <string>
#include <string_view>

#include "platform/os_error.h"

namespace kem::platform {

constexpr std::string_view kConfigMimeType = "application/x-kempemvilo-config";
constexpr std::string_view kDesktopEntryName = "kempemvilo.desktop";

// The shared-mime-info package that maps "*.pvto" to kConfigMimeType, with `comment`.
std::string ConfigMimePackage(std::string_view comment);

// The desktop entry that opens a file of kConfigMimeType with `executable` (UTF-8).
std::string ConfigDesktopEntry(std::string_view executable);

// One argument of a desktop entry's Exec key: quoted, with the characters the Exec rules
// reserve escaped inside the quotes, then escaped once more as a desktop-entry string.
std::string QuoteExecArgument(std::string_view argument);

// `mimeapps` (the text of a mimeapps.list, possibly empty) with kConfigMimeType's default
// application set to kDesktopEntryName in [Default Applications]; every other line kept.
std::string WithDefaultApplication(std::string_view mimeapps);

// Writes the MIME package, the desktop entry and the default-application line for the
// current user ($XDG_DATA_HOME, $XDG_CONFIG_HOME, or their defaults below $HOME), then asks
// the desktop's databases to refresh when their tools are installed. The first failure to
// write a file is returned; a missing refresh tool is not a failure.
OsError RegisterConfigAssociation(std::string_view executable, std::string_view comment);

}  // namespace kem::platform
