#pragma once
// Helpers for the walk tests: a recorder of every hook call; trees made with
// openat (makeChain, so they can be deeper than PATH_MAX) and running a piece
// of the test as an unprivileged user (runUnprivileged) come from the
// shared test support.

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../support/process.h"
#include "../support/temp_tree.h"
#include "search/scan.h"

namespace toka::test {

struct RatedEntry {
    std::string dir;
    std::string name;
    std::uint64_t counted; ///< the counter when it was rated
    friend bool operator==(const RatedEntry& a, const RatedEntry& b) { return a.dir == b.dir && a.name == b.name; }
};

/// Records every hook call of one Scanner.
class WalkRecorder {
public:
    explicit WalkRecorder(ScanOptions options = {}) : m_scanner(options, hooks()) {}

    Scanner& scanner() { return m_scanner; }
    std::vector<RatedEntry> rated;
    std::vector<std::pair<std::string, std::uint64_t>> statuses;
    std::vector<std::pair<std::string, int>> skipped; ///< directory, errno
    /// Called after each entry is recorded; may set stop.
    std::function<void(const RatedEntry&)> onRate;
    bool stop = false;
    int stopTests = 0;

private:
    ScanHooks hooks() {
        ScanHooks h;
        h.rate = [this](std::string_view name, std::string_view dir) {
            rated.push_back({std::string(dir), std::string(name), m_scanner.scannedEntries()});
            if (onRate) onRate(rated.back());
        };
        h.status = [this](const std::string& text) { statuses.emplace_back(text, m_scanner.scannedEntries()); };
        h.stopRequested = [this] {
            ++stopTests;
            return stop;
        };
        h.skipped = [this](std::string_view dir, int error) { skipped.emplace_back(dir, error); };
        return h;
    }
    Scanner m_scanner;
};

} // namespace toka::test
