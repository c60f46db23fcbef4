#include "ui/widgets/hint_switch.h"

#include <QApplication>
#include <QEvent>
#include <QToolTip>
#include <QWidget>

namespace toka {

HintSwitch::HintSwitch(QWidget* window) : m_window(window) { qApp->installEventFilter(this); }

HintSwitch::~HintSwitch() { qApp->removeEventFilter(this); }

void HintSwitch::setEnabled(bool on) {
    m_enabled = on;
    if (!on) QToolTip::hideText();
}

bool HintSwitch::eventFilter(QObject* watched, QEvent* event) {
    if (!m_enabled && event->type() == QEvent::ToolTip && watched->isWidgetType()) {
        const auto* widget = static_cast<QWidget*>(watched);
        if (widget->window() == m_window) return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace toka
