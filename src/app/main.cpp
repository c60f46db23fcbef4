// The program entry: the command line (answered before any display is
// needed), the application and its title, the one window with the
// remembered choices, the loop.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "search/walk_record_store.h"
#include "similar/simlist.h"
#include "ui/logic/command_line.h"
#include "ui/window/mainform.h"
#include "ui/window/settings_controller.h"
#include "ui/logic/remembered_settings.h"

namespace {

// The engine's one fatal error (a list size above 200): a message box
// without owner, then the program ends when it is closed.
[[noreturn]] void showFatalError(const char* text, const char* caption) {
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8(caption), QString::fromUtf8(text), QMessageBox::Ok);
    box.exec();
    std::exit(EXIT_FAILURE);
}

} // namespace

int main(int argc, char* argv[]) {
    const toka::CommandLine line = toka::parseCommandLine(std::vector<std::string>(argv, argv + argc));
    switch (line.outcome) {
    case toka::CommandLine::Outcome::Help:
        std::fputs(line.message.c_str(), stdout);
        return EXIT_SUCCESS;
    case toka::CommandLine::Outcome::Version:
        std::puts("tokasearch " TOKA_VERSION);
        return EXIT_SUCCESS;
    case toka::CommandLine::Outcome::Error:
        std::fprintf(stderr, "%s\n", line.message.c_str());
        return 2;
    case toka::CommandLine::Outcome::Start:
        break;
    }

    QApplication app(argc, argv);
    // Only the name: a display name would be appended to the caption of
    // every window ("... - TOKA Search"), and the caption is the design's own.
    QApplication::setApplicationName("TOKA Search");
    toka::SetFatalErrorHandler(showFatalError);
    toka::TMainForm MainForm;
    MainForm.settings().setFile(toka::settingsFilePath());
    MainForm.setRecordDirectory(toka::defaultRecordDirectory());
    MainForm.settings().setStartOptions(line.start);
    MainForm.show();
    return QApplication::exec();
}
