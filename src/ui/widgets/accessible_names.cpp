#include "ui/widgets/accessible_names.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace toka {

namespace {

QString withoutAccessKeys(QString text) {
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QStringLiteral("\x01"), QStringLiteral("&"));
    return text.trimmed();
}

// The text of the label whose buddy widget is, with its colon.
QString labelTextFor(const QWidget* widget) {
    const QWidget* window = widget->window();
    for (const QLabel* label : window->findChildren<QLabel*>())
        if (label->buddy() == widget) return withoutAccessKeys(label->text()).remove(QLatin1Char(':')).trimmed();
    return {};
}

QString captionOf(const QWidget* widget) {
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) return withoutAccessKeys(button->text());
    return {};
}

} // namespace

bool isOperableControl(const QWidget* widget) {
    // The parts Qt builds inside its own controls (scroll bars, headers,
    // the clear button of a line edit, the menu bar's overflow button) are
    // announced by their kind and their control.
    for (const char* part : {"QScrollBar", "QHeaderView", "QTableCornerButton", "QLineEditIconButton"})
        if (widget->inherits(part)) return false;
    if (widget->objectName().startsWith(QLatin1String("qt_"))) return false;
    return qobject_cast<const QAbstractButton*>(widget) || qobject_cast<const QLineEdit*>(widget)
           || qobject_cast<const QAbstractSpinBox*>(widget) || qobject_cast<const QComboBox*>(widget)
           || qobject_cast<const QAbstractItemView*>(widget) || qobject_cast<const QPlainTextEdit*>(widget)
           || qobject_cast<const QTextEdit*>(widget) || qobject_cast<const QAbstractSlider*>(widget);
}

QString announcedName(const QWidget* widget) {
    if (!widget->accessibleName().isEmpty()) return widget->accessibleName();
    if (QString caption = captionOf(widget); !caption.isEmpty()) return caption;
    return labelTextFor(widget);
}

void nameControlsForAccessibility(QWidget* window) {
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    widgets.prepend(window);
    for (QWidget* widget : widgets) {
        if (!isOperableControl(widget)) continue;
        // A line edit inside a spin box or combo box is named by its owner.
        if (qobject_cast<QLineEdit*>(widget)
            && (qobject_cast<QAbstractSpinBox*>(widget->parentWidget())
                || qobject_cast<QComboBox*>(widget->parentWidget()))) {
            if (widget->accessibleName().isEmpty()) widget->setAccessibleName(announcedName(widget->parentWidget()));
            continue;
        }
        if (widget->accessibleName().isEmpty()) {
            QString name = captionOf(widget);
            if (name.isEmpty()) name = labelTextFor(widget);
            if (name.isEmpty()) name = widget->toolTip();
            widget->setAccessibleName(name);
        }
        if (widget->accessibleDescription().isEmpty() && !widget->toolTip().isEmpty()
            && widget->toolTip() != widget->accessibleName())
            widget->setAccessibleDescription(widget->toolTip());
    }
}

} // namespace toka
