#pragma once
// The program's command line:
//   tokasearch [--fuzzy | --similar] [--no-recurse] [--search TEXT]
//              [--all-fixed-disks] [--all-pictures] [DIR]
// read before any window or display exists, so that --help, --version and
// every mistake are answered on the terminal alone.

#include <QString>
#include <optional>
#include <string>
#include <vector>

namespace toka {

/// What the command line asks of the window for this run.  Every field left
/// empty keeps the remembered (or the design's) value.
struct StartOptions {
    std::optional<bool> fuzzySearch;   ///< --fuzzy: true, --similar: false
    bool noRecurse = false;            ///< --no-recurse: "Recurse Subdirectories" off
    std::string directory;             ///< DIR resolved (absolute, no links, no "/" at the end); "" for none
    std::optional<QString> searchText; ///< --search TEXT: typed into the box and searched at once
    /// --all-fixed-disks: all fixed disks instead of the directory, searched
    /// at once with --search, else by Enter in the search box (focused)
    /// until a directory is chosen in the tree.
    bool allFixedDisks = false;
    /// --all-pictures: the viewer shows every picture format Qt reads here,
    /// not only .bmp, .ico and .wmf (viewer/picture_formats.h).
    bool allPictures = false;
};

struct CommandLine {
    enum class Outcome {
        Start,   ///< open the window with `start`
        Help,    ///< print `message` on standard output, exit 0
        Version, ///< print the version on standard output, exit 0
        Error,   ///< print `message` on standard error, exit 2
    };
    Outcome outcome = Outcome::Start;
    std::string message; ///< the help text, or the one-line error (bytes, with a path as given)
    StartOptions start;
};

/// Reads arguments (arguments[0] is the program, each argument its bytes as
/// the system passed them).  DIR may be a path, relative to the current
/// directory, or a local file:// URL whose percent-encoded bytes are decoded
/// as bytes; it must name an existing directory (a link to one counts).  A
/// mistake (unknown option, a missing value, --fuzzy with --similar, more
/// than one DIR, a search text longer
/// than the box takes, a DIR that holds a NUL byte, even percent-encoded, or
/// that is missing or no directory) gives Error with one line that names it;
/// a mistake wins over --help and --version.  Qt's own options ("-style
/// Fusion", "-platform xcb", "-reverse", ...) are passed over: QApplication
/// takes them.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

} // namespace toka
