#pragma once
// Small helpers shared by the window tests: the shown window, its tree and
// its table driven as a user does, message boxes, held workers, temporary
// trees and volume entries for the directory tree.

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QString>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QTreeWidget>

#include <fcntl.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/listing/volumes.h"
#include "ui/widgets/strgrdex.h"
#include "ui/widgets/text_memo.h"
#include "ui/window/file_ops_controller.h"
#include "ui/window/mainform.h"
#include "ui/window/results_controller.h"
#include "ui/window/search_controller.h"
#include "ui/window/settings_controller.h"
#include "ui/window/status_strip.h"
#include "ui/window/viewer_controller.h"

namespace toka::test {

/// A new main window in holder (the previous one goes first), shown and
/// exposed, as the user gets it: FormShow has run; beforeShowing may set it
/// up as the program does before it shows the window.  A window the platform
/// does not expose fails the running test, since mouse and key events could
/// not reach it.
inline TMainForm& shownMainForm(std::unique_ptr<TMainForm>& holder,
                                const std::function<void(TMainForm&)>& beforeShowing = {}) {
    holder.reset();
    holder = std::make_unique<TMainForm>();
    if (beforeShowing) beforeShowing(*holder);
    holder->show();
    if (!QTest::qWaitForWindowExposed(holder.get())) QTest::qFail("the window was not exposed", __FILE__, __LINE__);
    return *holder;
}

/// A volume node for the tree at mountPoint ("/" keeps its one slash).
inline Volume volumeAt(const std::string& mountPoint, VolumeKind kind = VolumeKind::Fixed) {
    Volume volume;
    volume.mountPoint = mountPoint;
    volume.path = mountPoint == "/" ? "/" : mountPoint + "/";
    volume.kind = kind;
    return volume;
}

/// Waits until the details of the rows the window's table shows (date,
/// time, attributes, size; the bold of a directory) are read; they come
/// from a worker after each refresh.  False when they are not in by timeout.
inline bool waitForResultRows(TMainForm& form, int timeout = 10000) {
    return QTest::qWaitFor([&form] { return form.results().rowsComplete(); }, timeout);
}

/// Holds a worker inside the observer it hands out until opened, as a hung
/// mount would hold it: the first `held` calls (for paths ending in
/// `suffix`; the others pass) wait, each ten seconds at most, so that a test
/// fails rather than hangs.  Opened when it goes.
class WorkerGate {
public:
    ~WorkerGate() { setOpen(true); }
    std::function<void(std::string_view)> observer(int held = 1 << 30, std::string suffix = {}) {
        return [state = m_state, held, suffix](std::string_view path) {
            if (!path.ends_with(suffix)) return;
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

/// Notes every message box that comes up while it lives, as `describe`
/// makes it ("title|text", led by "!" when the box is not application-modal,
/// unless told otherwise), and closes it with the button `answer` where the
/// box has one, else with Escape.
class BoxWatcher : public QObject {
public:
    using Describe = std::function<QString(QMessageBox*)>;
    explicit BoxWatcher(QMessageBox::StandardButton answer = QMessageBox::NoButton, Describe describe = {})
        : m_answer(answer), m_describe(std::move(describe)) {
        connect(&m_timer, &QTimer::timeout, this, [this] { close(); });
        m_timer.start(5);
    }
    QStringList boxes;

private:
    void close() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        boxes << (m_describe ? m_describe(box)
                             : (box->windowModality() == Qt::ApplicationModal ? "" : "!") + box->windowTitle() + "|"
                                   + box->text());
        if (QAbstractButton* button = box->button(m_answer)) QTest::mouseClick(button, Qt::LeftButton);
        else QTest::keyClick(box, Qt::Key_Escape);
    }
    QMessageBox::StandardButton m_answer;
    Describe m_describe;
    QTimer m_timer;
};

/// Opens a menu of the menu bar by its access key and chooses an item by its
/// access key (the Return key where it has none), as a user does with the
/// keyboard.
inline void chooseFromMenu(TMainForm& form, QMenu* menu, Qt::Key menuKey, QAction* item) {
    QTest::keyClick(&form, menuKey, Qt::AltModifier);
    QTRY_VERIFY(menu->isVisible());
    const QString text = item->text();
    const qsizetype amp = text.indexOf('&');
    if (amp >= 0) {
        QTest::keyClick(menu, text.at(amp + 1).toLower().toLatin1());
    } else {
        menu->setActiveAction(item);
        QTest::keyClick(menu, Qt::Key_Return);
    }
    QTRY_VERIFY(!menu->isVisible());
}

/// Clicks the tree's top-level node `index`.
inline void clickNode(TMainForm& form, int index, Qt::KeyboardModifiers modifiers = {}) {
    QTreeWidget* tree = form.Explorer();
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, modifiers,
                      tree->visualItemRect(tree->topLevelItem(index)).center());
}

/// Fills the window's tree with these folders (no trailing "/") as its
/// volumes and selects the first with a click.
inline void showFolders(TMainForm& form, const QStringList& folders) {
    std::vector<Volume> volumes;
    for (const QString& folder : folders) volumes.push_back(volumeAt(QFile::encodeName(folder).toStdString()));
    form.FillDrives(volumes);
    clickNode(form, 0);
}

/// Replaces the search box's text by typing (an empty text deletes it).
inline void typeSearch(TMainForm& form, const QString& text) {
    form.search().eSearch()->setFocus();
    form.search().eSearch()->selectAll();
    if (text.isEmpty()) QTest::keyClick(form.search().eSearch(), Qt::Key_Delete);
    else QTest::keyClicks(form.search().eSearch(), text);
}

/// Searches the selected directory with its button and waits for the end and
/// for the details of the rows shown.
inline void searchAndWait(TMainForm& form) {
    QTest::mouseClick(form.search().sbSearchDir(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!form.isSearching(), 30000);
    QVERIFY(waitForResultRows(form));
}

/// The middle of a cell; rows count the header as row 0.
inline QPoint cellCentre(TStringGridEx* grid, int row, int col = 0) {
    return grid->visualRect(grid->model()->index(row - 1, col)).center();
}

inline void clickRow(TStringGridEx* grid, int row, Qt::KeyboardModifiers modifiers = {}) {
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, modifiers, cellCentre(grid, row));
}

/// The marked rows below the header, top down.
inline QList<int> markedRows(TStringGridEx* grid) {
    QList<int> rows;
    for (int r = 1; r < grid->RowCount(); ++r)
        if (grid->IsRowMarked(r)) rows << r;
    return rows;
}

/// The first row whose name is `name`; -1 when none is.
inline int rowOf(TStringGridEx* grid, const QString& name) {
    for (int r = 1; r < grid->RowCount(); ++r)
        if (grid->Cells(0, r) == name) return r;
    return -1;
}

/// The texts of a column below the header, top down.
inline QStringList columnTexts(TStringGridEx* grid, int col) {
    QStringList texts;
    for (int r = 1; r < grid->RowCount(); ++r) texts << grid->Cells(col, r);
    return texts;
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

/// Writes a file named by its bytes (QFile::decodeName is lossy for bytes
/// that are not UTF-8).
inline void writeFile(const QByteArray& path, const QByteArray& content) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    QVERIFY2(fd >= 0, std::strerror(errno));
    QFile file;
    QVERIFY(file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
    QCOMPARE(file.write(content), content.size());
}

/// A file's bytes, "<missing>" when it cannot be opened.
inline QByteArray readFile(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    QFile file;
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) return "<missing>";
    return file.readAll();
}

inline void mkdirp(const QString& path) { QVERIFY(QDir().mkpath(path)); }

inline void touch(const QString& path) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

} // namespace toka::test
