#include "ui/widgets/tool_button.h"

#include <QToolButton>

#include <algorithm>

#include "ui/widgets/tool_icons.h"

namespace toka {

namespace {

// The picture a tool button shows, drawn anew when the palette changes.
constexpr const char* kToolPictureProperty = "toolPicture";

QToolButton* toolButton(QWidget* row, const char* hint, bool flat, bool checkable) {
    auto* b = new QToolButton(row);
    b->setToolTip(QString::fromUtf8(hint));
    b->setAutoRaise(flat);
    b->setCheckable(checkable);
    b->setFocusPolicy(Qt::NoFocus);
    b->setIconSize(QSize(16, 16));
    b->setToolButtonStyle(Qt::ToolButtonIconOnly);
    return b;
}

} // namespace

QToolButton* pictureToolButton(QWidget* row, ToolPicture picture, const char* hint, bool flat, bool checkable) {
    QToolButton* b = toolButton(row, hint, flat, checkable);
    b->setIcon(toolIcon(picture, row->palette()));
    b->setProperty(kToolPictureProperty, static_cast<int>(picture));
    b->setFixedSize(kToolButtonWidth, kToolButtonHeight);
    return b;
}

QToolButton* captionToolButton(QWidget* row, const char* caption, const char* hint) {
    QToolButton* b = toolButton(row, hint, false, true);
    b->setText(QString::fromUtf8(caption));
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    const int needed = b->fontMetrics().horizontalAdvance(b->text()) + 12;
    b->setFixedSize(std::max(kToolButtonWidth, needed), kToolButtonHeight);
    return b;
}

void redrawToolPictures(QWidget* row, const QPalette& palette) {
    for (QToolButton* button : row->findChildren<QToolButton*>())
        if (const QVariant picture = button->property(kToolPictureProperty); picture.isValid())
            button->setIcon(toolIcon(static_cast<ToolPicture>(picture.toInt()), palette));
}

} // namespace toka
