// tokafind: the search of the window in a terminal, for scripts and for
// measuring the walk.  Same walk, same engine, same row texts; the C
// locale's formats on standard output, a live status on standard error.
// On request it records the walk, answers from a record instead of walking
// or verifies a record by walking only what changed, lists the records and
// forgets them; otherwise it touches none.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
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
#include "search/record_replay.h"
#include "search/result_row.h"
#include "search/scan.h"
#include "search/walk_record_store.h"
#include "similar/simlist.h"
#include "tokafind_options.h"

namespace {

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

// "YYYY-MM-DD HH:MM[:SS]" in local time.
std::string localTimeText(std::int64_t seconds, bool withSeconds) {
    const std::time_t time = seconds;
    std::tm local{};
    ::localtime_r(&time, &local);
    char text[64];
    return std::string(text,
                       std::strftime(text, sizeof text, withSeconds ? "%Y-%m-%d %H:%M:%S" : "%Y-%m-%d %H:%M", &local));
}

// "40 s", "3 min", "2 h", "5 d": the largest unit of which there is one.
std::string ageText(std::int64_t seconds) {
    seconds = std::max<std::int64_t>(seconds, 0); // a record from a clock set back
    if (seconds < 60) return std::to_string(seconds) + " s";
    if (seconds < 3600) return std::to_string(seconds / 60) + " min";
    if (seconds < 86400) return std::to_string(seconds / 3600) + " h";
    return std::to_string(seconds / 86400) + " d";
}

// The store of the user's records; std::nullopt, told on standard error,
// when there is no home to keep them in.
std::optional<toka::WalkRecordStore> recordStore() {
    std::string directory = toka::defaultRecordDirectory();
    if (directory.empty()) {
        std::fprintf(stderr, "tokafind: no home directory for the recorded walks (HOME is unset and the user has "
                             "none)\n");
        return std::nullopt;
    }
    return toka::WalkRecordStore(std::move(directory));
}

// One line for a folder or record of the store that is not used.
void reportRefused(const toka::SysError& error) {
    std::fprintf(stderr, "tokafind: recorded walks refused: %s\n", error.message().c_str());
}

int listRecords(std::int64_t now) {
    const auto store = recordStore();
    if (!store) return 1;
    std::optional<toka::SysError> refused;
    const std::vector<toka::RecordSummary> records = store->list(&refused);
    if (refused) {
        reportRefused(*refused);
        return 1;
    }
    for (const toka::RecordSummary& record : records) {
        std::string roots;
        for (const std::string& root : record.roots) roots += (roots.empty() ? "" : " ") + escapeField(root);
        std::string options = record.options;
        if (options.ends_with('\n')) options.pop_back();
        for (std::size_t at = 0; (at = options.find('\n', at)) != std::string::npos; at += 2) {
            options.replace(at, 1, ", ");
        }
        const std::string line = localTimeText(record.createdTime, true) + '\t' + ageText(now - record.createdTime)
                                 + '\t' + std::to_string(record.listedEntries) + '\t' + std::to_string(record.fileSize)
                                 + '\t' + roots + '\t' + escapeField(options) + '\n';
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    return 0;
}

int forgetRecords() {
    const auto store = recordStore();
    if (!store) return 1;
    std::size_t removed = 0;
    if (auto error = store->forgetAll(&removed)) {
        std::fprintf(stderr, "tokafind: cannot remove the records: %s\n", error->message().c_str());
        return 1;
    }
    std::fprintf(stderr, "tokafind: removed %zu %s\n", removed, removed == 1 ? "record" : "records");
    return 0;
}

// "1200 entries scanned, 2 directories skipped".
std::string scanSummary(std::uint64_t scanned, std::uint64_t skipped) {
    std::string summary = std::to_string(scanned) + " entries scanned";
    if (skipped != 0) {
        summary += ", " + std::to_string(skipped) + (skipped == 1 ? " directory" : " directories") + " skipped";
    }
    return summary;
}

void printRows(const toka::SimList& list, const toka::tokafind::Options& options) {
    for (const toka::ResultRow& row : toka::buildResultRows(list, options.rows, toka::cLocaleFormat())) {
        if (options.print0) {
            // The bytes of the path as they are: NUL is the one byte no
            // path holds.
            std::string path = row.location + row.name;
            std::fwrite(path.data(), 1, path.size() + 1, stdout);
            continue;
        }
        std::string line = row.measure;
        for (const std::string* field : {&row.name, &row.location, &row.date, &row.time, &row.attributes, &row.size}) {
            line += '\t';
            line += escapeField(*field);
        }
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    // Durations count back from the start, the same instant for every one.
    const std::int64_t now = std::time(nullptr);
    toka::tokafind::Options options;
    options.threads = toka::ParallelWalk::defaultThreads();
    if (auto error = toka::tokafind::parseArguments({argv, argv + argc}, now, options)) return usageError(*error);
    if (options.help) {
        std::fputs(toka::tokafind::kUsage, stdout);
        return 0;
    }
    using toka::tokafind::RecordUse;
    if (options.records == RecordUse::list) return listRecords(now);
    if (options.records == RecordUse::forget) return forgetRecords();

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
    auto walkRoots = [&options, &root] {
        return options.allFixedDisks ? toka::fixedVolumeRoots(toka::fixedVolumes())
                                     : std::vector<toka::WalkRoot>{{root}};
    };
    const toka::ScanOptions scanOptions{options.recurse, options.fuzzy, options.filter};
    toka::InitSimList(options.text, toka::MaxListSize);

    // The record a replay answers from, or a verifying walk checks.
    std::shared_ptr<const toka::WalkRecord> stored;
    if (options.records == RecordUse::fromRecord || options.verify) {
        const auto store = recordStore();
        if (!store) return 3;
        std::optional<toka::SysError> refused;
        stored = store->find(toka::walkRootPaths(walkRoots()),
                             toka::recordedOptions(scanOptions, options.allFixedDisks), &refused);
        if (refused) {
            reportRefused(*refused);
            return 3;
        }
        if (!stored && options.records == RecordUse::fromRecord) {
            const std::string what = options.allFixedDisks ? "all fixed disks" : "'" + escapeField(root) + "'";
            std::fprintf(stderr, "tokafind: no recorded walk of %s with these options (record one with --record)\n",
                         what.c_str());
            return 3;
        }
    }
    if (options.records == RecordUse::fromRecord && !options.verify) {
        toka::RecordReplay replay(stored, toka::TheSimList(), scanOptions);
        replay.run(options.threads == 1 ? 1 : 0);
        printRows(replay.list(), options);
        std::fprintf(stderr, "%s (from the walk of %s)\n",
                     scanSummary(replay.scannedEntries(), stored->skippedDirectories()).c_str(),
                     localTimeText(stored->createdTime(), false).c_str());
        return 0;
    }
    const bool recording = options.records == RecordUse::record || options.updateRecord;

    struct sigaction action {};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);

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
    std::unique_ptr<toka::WalkRecordWriter> record;
    std::string verified; // what the summary says of the record verified
    if (options.threads == 1 && !recording && !stored) {
        // The one-thread walk, rating in listing order as the window's
        // design describes it.
        toka::Scanner* scannerRef = nullptr;
        toka::ScanHooks hooks;
        hooks.status = [&live](const std::string& text) { live.setText(text); };
        hooks.heartbeat = [&live, &scannerRef] { live.maybeDraw(scannerRef->scannedEntries()); };
        hooks.stopRequested = [] { return g_stopRequested != 0; };
        hooks.skipped = reportSkipped;
        toka::Scanner scanner(scanOptions, hooks);
        scannerRef = &scanner;
        if (options.allFixedDisks) scanner.ScanFixedVolumes(toka::fixedVolumes());
        else rootFailure = scanner.ScanDirectory(root);
        scanned = scanner.scannedEntries();
    } else {
        // Only the threaded walk records and verifies; with -j1 it runs one
        // worker, whose ranks are the one-thread walk's.
        toka::ParallelWalkHooks hooks;
        hooks.skipped = reportSkipped; // one call at a time, from the workers
        toka::ParallelWalk walk(toka::TheSimList(), scanOptions, options.threads, hooks);
        if (recording) walk.record(toka::recordedOptions(scanOptions, options.allFixedDisks));
        if (stored) walk.verify(stored);
        walk.start(walkRoots());
        while (!walk.finished()) {
            if (g_stopRequested) walk.requestStop();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            std::string dir = walk.currentDirectory();
            if (!dir.empty()) live.setText(std::string(toka::kScanStatusPrefix) + dir);
            live.maybeDraw(walk.scannedEntries());
        }
        walk.wait();
        walk.takeList(toka::TheSimList());
        rootFailure = walk.rootError();
        scanned = walk.scannedEntries();
        if (recording) record = walk.takeRecord();
        if (stored) {
            const std::string when = localTimeText(stored->createdTime(), false);
            const std::uint64_t listed = walk.listedDirectories();
            const std::uint64_t all = listed + walk.directoriesFromRecord();
            verified = walk.verifying() ? " (verified against the walk of " + when + ": " + std::to_string(listed)
                                              + " of " + std::to_string(all) + " directories listed again)"
                                        : " (the walk of " + when
                                              + " was recorded with other access rights: every directory listed)";
        }
    }
    live.clear();
    if (rootFailure != 0) return rootError(rootFailure);

    printRows(toka::TheSimList(), options);
    std::string summary = scanSummary(scanned, skipped);
    if (g_stopRequested) summary += " (stopped)";
    else summary += verified;
    std::fprintf(stderr, "%s\n", summary.c_str());
    // A stopped walk gives no record: it would answer later searches with
    // part of the tree.
    if (g_stopRequested) return 130;
    if (record) {
        const auto store = recordStore();
        if (!store) return 1;
        if (auto error = store->save(*record)) {
            std::fprintf(stderr, "tokafind: cannot write the record: %s\n", error->message().c_str());
            return 1;
        }
    }
    return 0;
}
