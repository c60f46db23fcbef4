#pragma once
// Which of the viewer's two panes a file goes to.

#include <string>
#include <string_view>

namespace toka {

/// The extension as the viewer compares it: from the last "." of the path to
/// its end, provided that dot stands after the last "/"; the letters a-z
/// upper-cased (no other byte changes); cut to its first four bytes, the dot
/// included.  "" when the last path component has no dot.
/// "x.icons" gives ".ICO", "/a.d/b" gives "", "report.tar.bmp" gives ".BMP".
std::string viewerExtension(std::string_view path);

/// True for ".BMP", ".ICO" and ".WMF": the files the picture box loads.
bool isPictureExtension(std::string_view extension);

} // namespace toka
