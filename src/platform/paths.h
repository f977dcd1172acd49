// File-system paths. Paths are UTF-8; both '\' and '/' separate components, so texts written
// as ".\log" keep their meaning.
#pragma once

#include <string>
#include <string_view>

namespace kem::platform {

// The running executable's full path, and its folder (no trailing separator).
std::string ExecutablePath();
std::string ExecutableFolder();

// Replaces each %NAME% by the environment variable NAME; unknown names and a lone '%' stay.
std::string ExpandEnvironment(std::string_view text);

// `folder` and `name` joined with exactly one '/'; an absolute `name` is returned alone.
// Backslashes become '/'.
std::string JoinPath(std::string_view folder, std::string_view name);

// `path` made absolute against the current folder ("." and ".." resolved textually,
// backslashes taken as separators); an absolute path is only normalised. Empty stays empty.
std::string AbsolutePath(std::string_view path);

// Environment variables expanded; a relative result joined to the executable's folder;
// "." and ".." components resolved textually; no trailing separator.
std::string ResolveBesideExecutable(std::string_view path);

}  // namespace kem::platform
