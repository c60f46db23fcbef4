#include "ui/logic/command_line.h"

#include <QByteArray>
#include <QCommandLineParser>
#include <QStringList>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace toka {

namespace {

constexpr int kMaxSearchText = 255; // what the search box takes

// Each argument reaches the parser as Latin-1, one character per byte, so
// that a DIR comes back byte for byte whatever its encoding; option names
// are ASCII and read the same.
QString asLatin1(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string bytesOf(const QString& latin1) { return latin1.toLatin1().toStdString(); }

CommandLine failure(std::string message) {
    CommandLine line;
    line.outcome = CommandLine::Outcome::Error;
    line.message = "tokasearch: " + std::move(message);
    return line;
}

// A local file:// URL as file managers pass it ("file:///dir",
// "file://localhost/dir") gives its path, percent-decoded as bytes; any
// other argument is a path as it stands.  Another host: nullopt.
std::optional<std::string> directoryArgument(const std::string& argument) {
    const std::string scheme = "file://";
    if (argument.compare(0, scheme.size(), scheme) != 0) return argument;
    const std::string rest = argument.substr(scheme.size());
    const std::size_t slash = rest.find('/');
    const std::string host = rest.substr(0, slash);
    if (slash == std::string::npos || (!host.empty() && host != "localhost")) return std::nullopt;
    return QByteArray::fromPercentEncoding(QByteArray::fromStdString(rest.substr(slash))).toStdString();
}

// The options every Qt program takes, which QApplication reads and removes
// itself: those that take a value (as "-style Fusion" or "-style=Fusion")
// and those that do not.  Either with one dash or two.
const QStringList kQtValueOptions = {
    "platform",    "platformpluginpath", "platformtheme", "plugin",  "qmljsdebugger", "qwindowgeometry",
    "qwindowicon", "qwindowtitle",       "session",       "display", "geometry",      "title",
    "style",       "stylesheet",         "name",          "visual"};
const QStringList kQtFlagOptions = {"reverse", "widgetcount", "nograb", "dograb", "sync", "testability"};

// The arguments without Qt's own options, which are left to QApplication.
QStringList withoutQtOptions(const QStringList& arguments) {
    QStringList kept;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (i == 0 || !argument.startsWith('-') || argument == "-" || argument == "--") {
            kept << argument;
            continue;
        }
        QString name = argument.mid(argument.startsWith("--") ? 2 : 1);
        const bool joined = name.contains('=');
        name = name.section('=', 0, 0);
        if (kQtValueOptions.contains(name)) {
            if (!joined) ++i; // its value follows
            continue;
        }
        if (kQtFlagOptions.contains(name) && !joined) continue;
        kept << argument;
    }
    return kept;
}

} // namespace

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription("Finds files whose names are like the search text.");
    const QCommandLineOption help(QStringList{"h", "help"}, "Shows this help and exits.");
    const QCommandLineOption version("version", "Shows the version and exits.");
    const QCommandLineOption fuzzy("fuzzy", "Length-independent measure (Fuzzy).");
    const QCommandLineOption similar("similar", "Length-dependent measure (Similar).");
    const QCommandLineOption noRecurse("no-recurse", "Searches DIR without its subdirectories.");
    const QCommandLineOption search("search", "Puts TEXT into the search box and starts the search.", "TEXT");
    const QCommandLineOption allFixedDisks("all-fixed-disks",
                                           "Searches all fixed disks: at once with --search, else when Enter is "
                                           "pressed in the search box.");
    const QCommandLineOption allPictures("all-pictures",
                                         "Shows every picture format Qt reads here (PNG, JPEG, GIF, SVG, ...) in "
                                         "the viewer, not only BMP, ICO and WMF.");
    parser.addOptions({help, version, fuzzy, similar, noRecurse, search, allFixedDisks, allPictures});
    parser.addPositionalArgument("DIR", "The directory to select (a path or a file:// URL).", "[DIR]");

    QStringList list;
    for (const std::string& argument : arguments) list << asLatin1(argument);
    if (list.isEmpty()) list << "tokasearch";
    if (!parser.parse(withoutQtOptions(list))) return failure(bytesOf(parser.errorText()));

    const QStringList positional = parser.positionalArguments();
    if (parser.isSet(fuzzy) && parser.isSet(similar)) return failure("--fuzzy and --similar exclude each other");
    if (positional.size() > 1) return failure("one directory at most, not " + std::to_string(positional.size()));

    CommandLine line;
    if (parser.isSet(help)) {
        line.outcome = CommandLine::Outcome::Help;
        // The program's name, not the path it was started by (or, without an
        // application object, the parser's placeholder).
        QString text = parser.helpText();
        text.replace(0, text.indexOf(" [options]"), "Usage: tokasearch");
        line.message = text.toStdString();
        return line;
    }
    if (parser.isSet(version)) {
        line.outcome = CommandLine::Outcome::Version;
        return line;
    }

    StartOptions& start = line.start;
    if (parser.isSet(fuzzy) || parser.isSet(similar)) start.fuzzySearch = parser.isSet(fuzzy);
    start.noRecurse = parser.isSet(noRecurse);
    start.allFixedDisks = parser.isSet(allFixedDisks);
    start.allPictures = parser.isSet(allPictures);
    if (parser.isSet(search)) {
        const QString text = QString::fromUtf8(parser.value(search).toLatin1());
        if (text.size() > kMaxSearchText)
            return failure("the search text is longer than " + std::to_string(kMaxSearchText) + " characters");
        start.searchText = text;
    }
    if (!positional.isEmpty()) {
        const std::string argument = bytesOf(positional.first());
        const std::optional<std::string> path = directoryArgument(argument);
        if (!path || path->empty()) return failure(argument + ": not a local directory");
        // The system reads a path up to its first NUL: "file:///%00x" would
        // select "/".  Shown as %00, the argument stays on one line.
        if (path->find('\0') != std::string::npos) {
            std::string shown;
            for (const char c : argument) shown += c == '\0' ? std::string("%00") : std::string(1, c);
            return failure(shown + ": a path cannot hold a NUL byte");
        }
        struct stat st {};
        if (stat(path->c_str(), &st) != 0) return failure(*path + ": " + std::strerror(errno));
        if (!S_ISDIR(st.st_mode)) return failure(*path + ": not a directory");
        // The tree shows no links: the directory is selected by its real path.
        char* real = realpath(path->c_str(), nullptr);
        if (!real) return failure(*path + ": " + std::strerror(errno));
        start.directory = real;
        std::free(real);
    }
    return line;
}

} // namespace toka
