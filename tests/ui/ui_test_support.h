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

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/listing/volumes.h"
#include "ui/widgets/text_memo.h"
#include "ui/window/file_ops_controller.h"
#include "ui/window/mainform.h"
#include "ui/window/results_controller.h"
#include "ui/window/search_controller.h"
#include "ui/window/viewer_controller.h"

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
    return QTest::qWaitFor([&form] { return form.results().rowsComplete(); }, timeout);
}

/// Holds a worker inside the observer it hands out until opened, as a hung
/// mount would hold it: the first `held` calls wait, each ten seconds at
/// most, so that a test fails rather than hangs.  Opened when it goes.
class WorkerGate {
public:
    ~WorkerGate() { setOpen(true); }
    std::function<void(std::string_view)> observer(int held = 1 << 30) {
        return [state = m_state, held](std::string_view) {
            std::unique_lock lock(state->mutex);
            if (++state->calls <= held)
                state->changed.wait_for(lock, std::chrono::seconds(10), [&] { return state->open; });
        };
    }
    void setOpen(bool open) {
        std::lock_guard lock(m_state->mutex);
        m_state->open = open;
        m_state->changed.notify_all();
    }
    /// The observer's calls so far.
    int calls() const {
        std::lock_guard lock(m_state->mutex);
        return m_state->calls;
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        bool open = false;
        int calls = 0;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

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
