#pragma once
// File names are bytes.  For display they are decoded as the engine decodes
// them: UTF-8 where valid, and every other byte as the Latin-1 character of
// the same value, so that no name turns into a row of replacement marks.
// The bytes themselves are kept wherever a path is built.

#include <QString>
#include <string_view>

namespace toka {

QString displayText(std::string_view bytes);

} // namespace toka
