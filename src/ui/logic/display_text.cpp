#include "ui/logic/display_text.h"

#include "similar/text.h"

namespace toka {

QString displayText(std::string_view bytes) {
    const std::u32string codePoints = DecodeName(bytes);
    return QString::fromUcs4(codePoints.data(), static_cast<qsizetype>(codePoints.size()));
}

} // namespace toka
