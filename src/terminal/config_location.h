// Where the settings record lives when no configuration file is given.
#pragma once

#include <string>
#include <string_view>

// The registry key that keeps the settings of the executable named `file_name` (its name
// with extension): "HKCU\Software\Quorbel\KemPemvilo\" and the name without a trailing ".exe"
// (any letter case), or "HKCU\Software\Quorbel\KemPemvilo" alone for a name shorter than five
// characters. Pure.
std::u16string RegistryConfigKey(std::u16string_view file_name);

// The file name of `path` without its folder ("\" and "/" both separate) and without its
// last extension: "C:\a\b.pvto" gives "b". Pure.
std::u16string_view ConfigFileStem(std::u16string_view path);

// The key of the running executable.
std::u16string RunningRegistryConfigKey();

// The key that holds the settings of every executable name.
inline constexpr const char16_t* kRegistryConfigRoot = u"HKCU\\Software\\Quorbel";
inline constexpr const char16_t* kRegistryConfigProduct = u"KemPemvilo";
