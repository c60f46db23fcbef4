// tokafind: the search of the window in a terminal, for scripts and for
// measuring the walk.  Same walk, same engine, same row texts; the C
// locale's formats on standard output, a live status on standard error.

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>
#include <optional>
#include <vector>

#include "platform/core/paths.h"
#include "platform/listing/volumes.h"
#include "search/parallel_walk.h"
#include "search/result_row.h"
#include "search/scan.h"
#include "similar/simlist.h"
#include "similar/text.h"

namespace {

constexpr const char* kUsage = "Usage: tokafind [OPTION]... TEXT [DIR]\n"
                               "       tokafind [OPTION]... --all-fixed-disks TEXT\n"
                               "\n"
                               "Ranks the names of every entry below DIR (default: the current directory)\n"
                               "or on every fixed disk by their similarity to TEXT, and prints the best.\n"
                               "\n"
                               "  --similar          length-dependent measure (only an equal name scores\n"
                               "                     100); the default is the fuzzy measure, under which\n"
                               "                     every name that contains TEXT scores 100\n"
                               "  --no-recurse       rate the entries of DIR only, do not descend\n"
                               "  --rows N           print at most N ranks, 1 to 200 (default 30)\n"
                               "  --all-fixed-disks  search every fixed disk, each from its mount point\n"
                               "                     and without crossing into other mounts\n"
                               "  --show-errors      name each directory that cannot be read, and why, on\n"
                               "                     standard error as the search meets it\n"
                               "  -j, --threads N    walk with N threads, 1 to 256 (default: the number of\n"
                               "                     cores); the ranks are the same for every N\n"
                               "  --help             show this text\n"
                               "\n"
                               "Output: one line per rank, best first, with the tab-separated fields\n"
                               "measure, name, location, date, time, attributes, size (ISO date, 24-hour\n"
                               "time, \".\" as decimal separator).  In names and locations a backslash is\n"
                               "written \\\\ and a control character as \\t, \\n, \\r or \\xHH, so that each\n"
                               "rank stays one line; other bytes are written as they are.\n"
                               "\n"
                               "The last line, on standard error, counts the entries scanned and, when\n"
                               "there were any, the directories below DIR that could not be read and\n"
                               "were skipped.\n"
                               "\n"
                               "Ctrl-C stops the search and prints the ranks found so far (exit status\n"
                               "130); a second Ctrl-C ends at once.  Exit status 2: a usage error, or DIR\n"
                               "is missing, is no directory or cannot be read (then nothing is printed\n"
                               "on standard output).\n";

volatile std::sig_atomic_t g_stopRequested = 0;

void onInterrupt(int) {
    if (g_stopRequested) {
        // The second Ctrl-C: the user does not want to wait for anything.
        static const char kNewline = '\n';
        [[maybe_unused]] auto ignored = ::write(STDERR_FILENO, &kNewline, 1);
        ::_exit(130);
    }
    g_stopRequested = 1;
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "tokafind: %s\nTry 'tokafind --help'.\n", message.c_str());
    return 2;
}

std::string escapeField(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            if (c < 0x20 || c == 0x7f) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", c);
                out += hex;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

// A directory that could not be read, named as the user gave it (the root)
// or as the walk reached it.
std::string unreadableText(std::string_view dir, int error) {
    return "'" + escapeField(dir) + "': " + std::strerror(error);
}

std::int64_t monotonicMs() {
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1'000'000;
}

// The live line on a terminal's standard error: redrawn at most ten times a
// second, cut to the terminal's width so that it never wraps.
class LiveStatus {
public:
    LiveStatus() : m_enabled(::isatty(STDERR_FILENO) == 1) {}

    void setText(const std::string& text) { m_text = text; }

    void maybeDraw(std::uint64_t scanned) {
        if (!m_enabled) return;
        std::int64_t now = monotonicMs();
        if (now - m_lastDraw < 100) return;
        m_lastDraw = now;
        std::string line = std::to_string(scanned) + " entries  " + m_text;
        std::size_t width = terminalWidth();
        if (line.size() >= width) line.resize(width - 1);
        std::fprintf(stderr, "\r\033[K%s", escapeField(line).c_str());
        std::fflush(stderr);
        m_drawn = true;
    }

    void clear() {
        if (m_drawn) std::fputs("\r\033[K", stderr);
        m_drawn = false;
    }

private:
    static std::size_t terminalWidth() {
        winsize size{};
        if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 10) return size.ws_col;
        return 80;
    }
    bool m_enabled;
    bool m_drawn = false;
    std::int64_t m_lastDraw = 0;
    std::string m_text;
};

struct Options {
    bool fuzzy = true;
    bool recurse = true;
    bool allFixedDisks = false;
    int rows = 30;
    bool showErrors = false;
    unsigned threads = toka::ParallelWalk::defaultThreads();
    std::string text;
    std::string dir;
    bool help = false;
};

// The value of an option given as "--name VALUE", "--name=VALUE" or, for
// its one-letter form, "-x VALUE" and "-xVALUE"; false when arg is not it.
bool optionValue(int argc, char** argv, int& i, std::string_view longName, std::string_view shortName,
                 std::optional<std::string>& value) {
    std::string_view arg = argv[i];
    auto take = [&](std::string_view attached) {
        if (!attached.empty()) value = std::string(attached);
        else if (i + 1 < argc) value = argv[++i];
        else value = std::nullopt;
        return true;
    };
    if (arg == longName || (!shortName.empty() && arg == shortName)) return take({});
    if (arg.starts_with(std::string(longName) + "=")) {
        value = std::string(arg.substr(longName.size() + 1));
        return true;
    }
    if (!shortName.empty() && arg.starts_with(shortName)) return take(arg.substr(shortName.size()));
    return false;
}

// A whole decimal number from low to high, or nullopt.
std::optional<long> numberIn(const std::string& text, long low, long high) {
    char* end = nullptr;
    errno = 0;
    long number = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || number < low || number > high) return std::nullopt;
    return number;
}

// Returns the exit status of a usage error, or 0.
int parseArguments(int argc, char** argv, Options& options) {
    std::vector<std::string> positional;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsDone || arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg);
        } else if (arg == "--") {
            optionsDone = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--similar") {
            options.fuzzy = false;
        } else if (arg == "--no-recurse") {
            options.recurse = false;
        } else if (arg == "--all-fixed-disks") {
            options.allFixedDisks = true;
        } else if (arg == "--show-errors") {
            options.showErrors = true;
        } else if (std::optional<std::string> value; optionValue(argc, argv, i, "--rows", "", value)) {
            auto rows = value ? numberIn(*value, 1, toka::MaxListSize) : std::nullopt;
            if (!rows) return usageError("--rows takes a number from 1 to 200, not '" + value.value_or("") + "'");
            options.rows = static_cast<int>(*rows);
        } else if (optionValue(argc, argv, i, "--threads", "-j", value)) {
            auto threads = value ? numberIn(*value, 1, 256) : std::nullopt;
            if (!threads) return usageError("--threads takes a number from 1 to 256, not '" + value.value_or("") + "'");
            options.threads = static_cast<unsigned>(*threads);
        } else {
            return usageError("unknown option '" + arg + "'");
        }
    }
    if (options.help) return 0;
    if (positional.empty()) return usageError("no search text");
    options.text = positional[0];
    if (toka::DecodeName(options.text).size() > 255) {
        return usageError("the search text is longer than 255 characters");
    }
    if (options.allFixedDisks) {
        if (positional.size() > 1) return usageError("--all-fixed-disks takes no directory");
    } else {
        if (positional.size() > 2) return usageError("unexpected argument '" + positional[2] + "'");
        options.dir = positional.size() > 1 ? positional[1] : ".";
        if (options.dir.empty()) return usageError("an empty directory name");
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (int status = parseArguments(argc, argv, options); status != 0) return status;
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    // A root that cannot be read is an error, not an empty result: a script
    // must be able to tell "nothing found" from "nothing looked at".
    auto rootError = [&options](int error) {
        std::fprintf(stderr, "tokafind: cannot read %s\n", unreadableText(options.dir, error).c_str());
        return 2;
    };
    std::string root;
    if (!options.allFixedDisks) {
        errno = 0;
        root = toka::absoluteDirectoryPath(options.dir);
        if (root.empty()) return rootError(errno != 0 ? errno : ENOENT);
    }

    struct sigaction action {};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);

    toka::InitSimList(options.text, toka::MaxListSize);

    LiveStatus live;
    std::uint64_t skipped = 0;
    auto reportSkipped = [&live, &skipped, &options](std::string_view dir, int error) {
        ++skipped;
        if (!options.showErrors) return;
        live.clear();
        std::fprintf(stderr, "tokafind: skipped %s\n", unreadableText(dir, error).c_str());
    };
    std::uint64_t scanned = 0;
    int rootFailure = 0;
    if (options.threads == 1) {
        // The one-thread walk, rating in listing order as the window's
        // design describes it.
        toka::Scanner* scannerRef = nullptr;
        toka::ScanHooks hooks;
        hooks.status = [&live](const std::string& text) { live.setText(text); };
        hooks.processEvents = [&live, &scannerRef] { live.maybeDraw(scannerRef->scannedEntries()); };
        hooks.stopRequested = [] { return g_stopRequested != 0; };
        hooks.skipped = reportSkipped;
        toka::Scanner scanner({options.recurse, options.fuzzy}, hooks);
        scannerRef = &scanner;
        if (options.allFixedDisks) scanner.ScanFixedVolumes(toka::fixedVolumes());
        else rootFailure = scanner.ScanDirectory(root);
        scanned = scanner.scannedEntries();
    } else {
        toka::ParallelWalkHooks hooks;
        hooks.skipped = reportSkipped; // one call at a time, from the workers
        toka::ParallelWalk walk(toka::TheSimList(), {options.recurse, options.fuzzy}, options.threads, hooks);
        walk.start(options.allFixedDisks ? toka::fixedVolumeRoots(toka::fixedVolumes())
                                         : std::vector<toka::WalkRoot>{{root}});
        while (!walk.finished()) {
            if (g_stopRequested) walk.requestStop();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            std::string dir = walk.currentDirectory();
            if (!dir.empty()) live.setText(std::string(toka::kScanStatusPrefix) + dir);
            live.maybeDraw(walk.scannedEntries());
        }
        walk.wait();
        walk.copyList(toka::TheSimList());
        rootFailure = walk.rootError();
        scanned = walk.scannedEntries();
    }
    live.clear();
    if (rootFailure != 0) return rootError(rootFailure);

    for (const toka::ResultRow& row : toka::buildResultRows(toka::TheSimList(), options.rows, toka::cLocaleFormat())) {
        std::string line = row.measure;
        for (const std::string* field : {&row.name, &row.location, &row.date, &row.time, &row.attributes, &row.size}) {
            line += '\t';
            line += escapeField(*field);
        }
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    std::fflush(stdout);
    std::string summary = std::to_string(scanned) + " entries scanned";
    if (skipped != 0) {
        summary += ", " + std::to_string(skipped) + (skipped == 1 ? " directory" : " directories") + " skipped";
    }
    if (g_stopRequested) summary += " (stopped)";
    std::fprintf(stderr, "%s\n", summary.c_str());
    return g_stopRequested ? 130 : 0;
}
