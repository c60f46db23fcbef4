#pragma once
// Small helpers shared by the window tests: the shown window, temporary
// trees and volume entries for the directory tree.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHelpEvent>
#include <QString>
#include <QTest>
#include <QToolTip>

#include <memory>
#include <string>

#include "platform/listing/volumes.h"
#include "ui/mainform.h"

namespace toka::test {

/// A new main window in holder (the previous one goes first), shown and
/// exposed, as the user gets it: FormShow has run.  A window the platform
/// does not expose fails the running test, since mouse and key events could
/// not reach it.
inline TMainForm& shownMainForm(std::unique_ptr<TMainForm>& holder) {
    holder.reset();
    holder = std::make_unique<TMainForm>();
    holder->show();
    if (!QTest::qWaitForWindowExposed(holder.get())) QTest::qFail("the window was not exposed", __FILE__, __LINE__);
    return *holder;
}

/// Waits until the details of the rows the window's table shows (date,
/// time, attributes, size; the bold of a directory) are read; they come
/// from a worker after each refresh.  False when they are not in by timeout.
inline bool waitForResultRows(TMainForm& form, int timeout = 10000) {
    return QTest::qWaitFor([&form] { return form.resultRowsComplete(); }, timeout);
}

/// Asks widget for its tool tip at pos, as hovering does, and returns the
/// text shown ("" when none is).
inline QString toolTipAt(QWidget* widget, const QPoint& pos) {
    QHelpEvent help(QEvent::ToolTip, pos, widget->mapToGlobal(pos));
    QApplication::sendEvent(widget, &help);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
}

/// Whether hovering widget's middle shows a tool tip (the previous one is
/// hidden first; one that will not go counts as shown, failing a check
/// for none).
inline bool tipShownFor(QWidget* widget) {
    QToolTip::hideText();
    if (!QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 2000)) return true;
    return !toolTipAt(widget, widget->rect().center()).isEmpty();
}

/// A volume node for the tree at mountPoint ("/" keeps its one slash).
inline Volume volumeAt(const std::string& mountPoint, VolumeKind kind = VolumeKind::Fixed) {
    Volume volume;
    volume.mountPoint = mountPoint;
    volume.path = mountPoint == "/" ? "/" : mountPoint + "/";
    volume.kind = kind;
    return volume;
}

inline void mkdirp(const QString& path) { QVERIFY(QDir().mkpath(path)); }

inline void touch(const QString& path) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

} // namespace toka::test
