#pragma once
// Comparing walks: the outcome of a search (ranks with their score bytes,
// the overflow slot, the count, what was skipped), the one-thread walk and
// the threaded walk that produce it, and the trees that stress the ranking
// (ties across subtrees, a cut-off that moves all through the walk).

#include <array>
#include <random>
#include <set>
#include <tuple>

#include "platform/core/paths.h"
#include "search/parallel_walk.h"
#include "search/record_replay.h"
#include "search/walk_record_store.h"
#include "walk_helpers.h"

namespace toka::test {

struct Outcome {
    std::vector<std::tuple<std::array<std::uint8_t, 6>, std::string, std::string>> ranks; // overflow slot last
    std::uint64_t scanned = 0;
    std::set<std::pair<std::string, int>> skipped;
    int rootError = 0;
    friend bool operator==(const Outcome&, const Outcome&) = default;
};

inline void PrintTo(const Outcome& o, std::ostream* os) {
    *os << o.scanned << " scanned, " << o.skipped.size() << " skipped, root error " << o.rootError << ", ranks:";
    for (const auto& [score, name, dir] : o.ranks)
        *os << "\n  " << int(score[0]) << "/" << int(score[1]) << " " << dir << name;
}

struct Search {
    std::string text;
    bool fuzzy = true;
    int listSize = MaxListSize;
    bool recurse = true;
    WalkFilter filter = {};
};

inline void takeRanks(const SimList& list, Outcome& out) {
    for (int r = 1; r <= list.ListSize() + 1; ++r)
        out.ranks.emplace_back(list.RankScore(r).bytes(), list.RankFile(r).Name, list.RankFile(r).Dir);
}

inline Outcome oneThread(const std::vector<WalkRoot>& roots, const Search& search) {
    Outcome out;
    SimList list;
    list.InitSimList(search.text, static_cast<std::uint16_t>(search.listSize));
    ScanHooks hooks;
    hooks.rate = [&](std::string_view name, std::string_view dir) { list.RateFile(name, dir, search.fuzzy); };
    hooks.skipped = [&](std::string_view dir, int error) { out.skipped.emplace(dir, error); };
    Scanner scanner({search.recurse, search.fuzzy, search.filter}, hooks);
    for (std::size_t i = 0; i < roots.size(); ++i) {
        int error = scanner.ScanDirectory(roots[i].path, roots[i].stayOnFileSystem);
        if (error != 0 && roots[i].reportAsSkipped) out.skipped.emplace(normalizeDirectoryPath(roots[i].path), error);
        else if (i == 0) out.rootError = error;
    }
    out.scanned = scanner.scannedEntries();
    takeRanks(list, out);
    return out;
}

inline Outcome parallel(const std::vector<WalkRoot>& roots, const Search& search, unsigned threads) {
    Outcome out;
    SimList setup;
    setup.InitSimList(search.text, static_cast<std::uint16_t>(search.listSize));
    ParallelWalkHooks hooks;
    hooks.skipped = [&](std::string_view dir, int error) { out.skipped.emplace(dir, error); };
    ParallelWalk walk(setup, {search.recurse, search.fuzzy, search.filter}, threads, hooks);
    walk.start(roots);
    walk.wait();
    EXPECT_TRUE(walk.finished());
    out.scanned = walk.scannedEntries();
    out.rootError = walk.rootError();
    SimList list;
    walk.copyList(list);
    takeRanks(list, out);
    return out;
}

inline void expectSameAsOneThread(const std::vector<WalkRoot>& roots, const std::vector<Search>& searches) {
    for (const Search& search : searches) {
        const Outcome expected = oneThread(roots, search);
        for (unsigned threads : {1u, 2u, 5u}) {
            EXPECT_EQ(parallel(roots, search, threads), expected)
                << "\"" << search.text << "\" " << (search.fuzzy ? "fuzzy" : "similar") << " size " << search.listSize
                << (search.recurse ? "" : " flat") << ", " << threads << " threads";
        }
    }
}

inline std::vector<Search> bothMeasures(const std::vector<std::string>& texts, std::initializer_list<int> sizes) {
    std::vector<Search> searches;
    for (const std::string& text : texts)
        for (bool fuzzy : {true, false})
            for (int size : sizes) searches.push_back({text, fuzzy, size});
    return searches;
}

// Every directory holds the same names: whole subtrees tie with each other.
inline void buildTieTree(const TempTree& tree) {
    const std::vector<std::string> names = {"report",      "report.txt", "Report.TXT", "reports",   "report-old",
                                            "rep0rt",      "repo",       "reporter",   "airport",   "report (2)",
                                            "report.docx", "REPORT",     "resort",     "reportage", "re-port"};
    std::vector<std::string> dirs = {""};
    for (int a = 0; a < 4; ++a) {
        dirs.push_back("d" + std::to_string(a) + "/");
        for (int b = 0; b < 3; ++b) dirs.push_back("d" + std::to_string(a) + "/report" + std::to_string(b) + "/");
    }
    for (const std::string& dir : dirs) {
        if (!dir.empty()) tree.mkdirp(dir);
        for (int copy = 0; copy < 4; ++copy)
            for (const std::string& name : names) tree.touch(dir + name + (copy ? "~" + std::to_string(copy) : ""));
    }
}

// Names over a small alphabet at random depths: many different scores, so
// that the cut-off moves all through the walk and the measures' early exits
// depend on when an entry comes.
inline void buildRandomTree(const TempTree& tree, unsigned seed) {
    std::mt19937 random(seed);
    auto name = [&] {
        std::string text(1, "abcdeAB"[random() % 7]);
        const int length = 1 + static_cast<int>(random() % 9);
        for (int i = 0; i < length; ++i) text += "abcdeAB."[random() % 8];
        return text;
    };
    std::vector<std::string> dirs = {""};
    for (std::size_t i = 0; i < dirs.size() && dirs.size() < 50; ++i) {
        const int subdirs = static_cast<int>(random() % 4) + (i == 0 ? 3 : 0);
        for (int k = 0; k < subdirs; ++k) {
            std::string dir = dirs[i] + name() + std::to_string(k) + "/";
            tree.mkdirp(dir);
            dirs.push_back(dir);
        }
    }
    for (const std::string& dir : dirs)
        for (int k = static_cast<int>(random() % 30); k >= 0; --k) tree.touch(dir + name());
}

/// Walks roots on three threads, recording, and reads the record back from
/// its bytes; null when the walk gave no record.
inline std::shared_ptr<const WalkRecord> recordWalk(const std::vector<WalkRoot>& roots, const ScanOptions& options) {
    SimList setup;
    setup.InitSimList("x", 1);
    ParallelWalk walk(setup, options, 3);
    walk.record(recordedOptions(options, false));
    walk.start(roots);
    walk.wait();
    const auto writer = walk.takeRecord();
    if (!writer) return nullptr;
    auto record = WalkRecord::parse(writer->serialize());
    EXPECT_TRUE(record.has_value());
    return record ? std::make_shared<const WalkRecord>(std::move(*record)) : nullptr;
}

/// record replayed for search on threads (with the names' signatures when
/// given; reading every name when useIndex is false).
inline Outcome replayOf(const std::shared_ptr<const WalkRecord>& record, const Search& search, unsigned threads,
                        const std::vector<std::uint64_t>* signatures = nullptr, bool useIndex = true) {
    SimList setup;
    setup.InitSimList(search.text, static_cast<std::uint16_t>(search.listSize));
    RecordReplay replay(record, setup, {search.recurse, search.fuzzy});
    replay.run(threads, signatures, useIndex);
    Outcome out;
    out.scanned = replay.scannedEntries();
    takeRanks(replay.list(), out);
    return out;
}

/// The one-thread walk's ranks and count (a replay knows nothing of what
/// was skipped).
inline Outcome liveRanks(const std::vector<WalkRoot>& roots, const Search& search) {
    Outcome out = oneThread(roots, search);
    out.skipped.clear();
    out.rootError = 0;
    return out;
}

} // namespace toka::test
