#pragma once
// Directory paths as the program hands them around: separator "/", exactly
// one "/" at the end, never two separators in a row.  A full path is the
// directory path followed by the entry's name.

#include <string>
#include <string_view>

namespace toka {

/// path with every run of "/" collapsed to one and one "/" appended when it
/// does not end in one: "/home//anna" -> "/home/anna/", "/" -> "/",
/// "" -> "" (no directory at all stays none).  "." and ".." components are
/// left alone: resolving them lexically would be wrong across symlinks.
std::string normalizeDirectoryPath(std::string_view path);

/// The absolute, normalised form of a directory path given on a command
/// line: a relative path is taken from the current directory; "." and ".."
/// are resolved by the kernel (realpath) only when the path contains them.
/// Returns "" when the current directory or realpath cannot be read.
std::string absoluteDirectoryPath(std::string_view path);

} // namespace toka
