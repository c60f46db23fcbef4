// The window's own search, timed: opens the main window, selects DIR in the
// tree (one volume node for DIR, clicked as the user would), types TEXT into
// the search box and clicks "Search Selected Directory" RUNS times, each time
// waiting in the event loop until the search has ended; with --on-request it
// searches once for each line read from standard input instead, until the
// input ends (so that a script can take turns with other commands).  Prints
// the wall time of each search in milliseconds on standard output, one line
// per run,
// from the click to the end of the search (the last refresh of the table
// included), and the entries of the last search on standard error, as
// tokafind does.  Run it with QT_QPA_PLATFORM=offscreen and a temporary
// XDG_CONFIG_HOME: the window reads and writes no settings file here, but Qt
// may keep its own.
// Usage: window_search [--similar] [--runs N | --on-request] TEXT DIR

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "platform/listing/volumes.h"
#include "ui/window/mainform.h"
#include "ui/window/search_controller.h"

namespace {

int usage() {
    std::fputs("Usage: window_search [--similar] [--runs N | --on-request] TEXT DIR\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    bool similar = false;
    bool onRequest = false;
    int runs = 1;
    QStringList operands;
    const QStringList arguments = QApplication::arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == "--similar") similar = true;
        else if (arguments[i] == "--on-request") onRequest = true;
        else if (arguments[i] == "--runs" && i + 1 < arguments.size()) runs = arguments[++i].toInt();
        else operands << arguments[i];
    }
    if (operands.size() != 2 || runs < 1) return usage();
    const QString text = operands[0];
    std::string dir = operands[1].toStdString();
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();

    toka::TMainForm form;
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) {
        std::fputs("window_search: the window was not exposed\n", stderr);
        return 1;
    }
    toka::Volume volume;
    volume.mountPoint = dir;
    volume.path = dir == "/" ? "/" : dir + "/";
    volume.kind = toka::VolumeKind::Fixed;
    form.FillDrives({volume});
    QTreeWidgetItem* node = form.Explorer()->topLevelItem(0);
    QTest::mouseClick(form.Explorer()->viewport(), Qt::LeftButton, Qt::NoModifier,
                      form.Explorer()->visualItemRect(node).center());
    if (form.selectedDirectory() != volume.path && form.selectedDirectory() != dir) {
        std::fprintf(stderr, "window_search: '%s' selected instead of '%s'\n", form.selectedDirectory().c_str(),
                     dir.c_str());
        return 1;
    }
    if (similar) QTest::mouseClick(form.search().sbSimilar(), Qt::LeftButton);
    form.search().eSearch()->setFocus();
    form.search().eSearch()->selectAll();
    QTest::keyClicks(form.search().eSearch(), text);

    std::string request;
    for (int run = 0; onRequest ? static_cast<bool>(std::getline(std::cin, request)) : run < runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(form.search().sbSearchDir(), Qt::LeftButton);
        if (!form.isSearching()) {
            std::fputs("window_search: the click started no search\n", stderr);
            return 1;
        }
        while (form.isSearching()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        std::printf("%.1f\n", static_cast<double>(clock.nsecsElapsed()) / 1e6);
        std::fflush(stdout);
    }
    std::fprintf(stderr, "%llu entries scanned\n", static_cast<unsigned long long>(form.scannedEntries()));
    return 0;
}
