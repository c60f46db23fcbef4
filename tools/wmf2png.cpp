// wmf2png IN.wmf OUT.png: draws a Windows metafile with the viewer's own
// player and writes the picture as PNG, so the player can be tried and
// compared from outside the window.
//
// Exit status: 0 written; 1 the metafile cannot be drawn or the PNG cannot
// be written (one line on standard error); 2 wrong usage.

#include <QByteArray>
#include <QGuiApplication>
#include <QImageWriter>

#include <cstdio>
#include <string>

#include "viewer/picture_loader.h"

namespace {

// Qt's own warnings (a missing runtime directory, font substitutions) are
// not this tool's business: standard error holds at most the one line.
void quietMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtFatalMsg) std::fprintf(stderr, "wmf2png: %s\n", message.toLocal8Bit().constData());
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: wmf2png IN.wmf OUT.png\n");
        return 2;
    }
    // Fonts need a GUI application, and a tool must not need a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(quietMessages);
    int qtArgc = 1;
    QGuiApplication application(qtArgc, argv);

    const std::string input = argv[1];
    // The viewer's own loader: the extension decides, so "x.bmp" works too.
    const auto picture = toka::loadPicture(input);
    if (!picture) {
        std::fprintf(stderr, "wmf2png: %s\n", picture.error().toLocal8Bit().constData());
        return 1;
    }
    QImageWriter writer(QString::fromLocal8Bit(argv[2]), "png");
    if (!writer.write(picture.value())) {
        std::fprintf(stderr, "wmf2png: %s: %s\n", argv[2], writer.errorString().toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
