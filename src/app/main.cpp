// The program entry: the application, its title, the one window, the loop.
// No command-line argument is read.
#include <QApplication>
#include <QMessageBox>
#include <cstdlib>

#include "similar/simlist.h"
#include "ui/mainform.h"

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
    QApplication app(argc, argv);
    // Only the name: a display name would be appended to the caption of
    // every window ("... - TOKA Search"), and the caption is the design's own.
    QApplication::setApplicationName("TOKA Search");
    toka::SetFatalErrorHandler(showFatalError);
    toka::TMainForm MainForm;
    MainForm.show();
    return QApplication::exec();
}
