// Search as you type, timed in the window: records DIR with one search
// (into a temporary record folder), then types each TEXT one letter at a
// time into the search box and measures, for every letter from the third
// on, the time from the key press to the table refreshed with the record's
// answer (the typing pause included, the painting of the table too).
// Prints one line per letter in milliseconds and, on standard error, the
// median.  Run it with QT_QPA_PLATFORM=offscreen.
// Usage: window_typing DIR TEXT...

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/listing/volumes.h"
#include "ui/window/mainform.h"
#include "ui/window/search_controller.h"
#include "ui/window/settings_controller.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() < 3) {
        std::fputs("Usage: window_typing DIR TEXT...\n", stderr);
        return 2;
    }
    std::string dir = arguments[1].toStdString();
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    QTemporaryDir records;

    toka::TMainForm form;
    form.setRecordDirectory(records.path().toStdString());
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) return 1;
    toka::Volume volume;
    volume.mountPoint = dir;
    volume.path = dir == "/" ? "/" : dir + "/";
    volume.kind = toka::VolumeKind::Fixed;
    form.FillDrives({volume});
    form.Explorer()->setCurrentItem(form.Explorer()->topLevelItem(0));
    // Both are off at first.
    form.settings().RecordWalks1()->setChecked(true);
    form.settings().SearchAsYouType1()->setChecked(true);

    // The walk that makes the record.
    form.search().eSearch()->setText("x");
    QTest::mouseClick(form.search().sbSearchDir(), Qt::LeftButton);
    if (!QTest::qWaitFor([&] { return !form.isSearching(); }, 600000)) return 1;
    form.search().waitForRecordSaved();
    // One answer reads the record; its signatures follow off the window's thread.
    QSignalSpy shown(&form, &toka::TMainForm::recordedAnswerShown);
    form.search().eSearch()->setText("warm up");
    if (!shown.wait(10000)) {
        std::fputs("window_typing: no recorded answer\n", stderr);
        return 1;
    }
    QTest::qWait(3000);

    std::vector<double> times;
    for (int t = 2; t < arguments.size(); ++t) {
        form.search().eSearch()->clear();
        QTest::qWait(100);
        const QString text = arguments[t];
        for (int i = 0; i < text.size(); ++i) {
            shown.clear();
            QElapsedTimer clock;
            clock.start();
            QTest::keyClick(form.search().eSearch(), text[i].toLatin1());
            if (i < 2) continue; // too short to be answered
            if (!shown.wait(5000)) return 1;
            QApplication::processEvents(); // the table is painted
            times.push_back(double(clock.nsecsElapsed()) / 1e6);
            std::printf("%s %.1f\n", text.left(i + 1).toUtf8().constData(), times.back());
        }
    }
    std::sort(times.begin(), times.end());
    std::fprintf(stderr, "median %.1f ms over %zu keystrokes\n", times[times.size() / 2], times.size());
    return 0;
}
