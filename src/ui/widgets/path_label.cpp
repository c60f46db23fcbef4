#include "ui/widgets/path_label.h"

#include "ui/logic/display_text.h"

namespace toka {

PathLabel::PathLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setPath({});
}

void PathLabel::setPath(const std::string& path) {
    m_path = path;
    setText(path.empty() ? QString::fromLatin1(kPlaceholder) : displayText(path));
}

} // namespace toka
