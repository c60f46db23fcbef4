// The walk on real temporary trees: each tree of the tables through every
// walk (the one-thread walk, the walk with one worker and with several), and
// what only the one-thread walk's hooks show (status texts, stopping, the
// fixed disks, entries that vanish, the caller's turn).

#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <map>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "../support/mounts.h"
#include "similar/simlist.h"
#include "walk_compare.h"

namespace toka::test {
namespace {

int openDescriptors() {
    int count = 0;
    DIR* dir = ::opendir("/proc/self/fd");
    while (dir && ::readdir(dir) != nullptr) ++count;
    if (dir) ::closedir(dir);
    return dir ? count : -1; // a process that changed its user may not look
}

// How a case's tree is walked.
struct WalkWay {
    const char* root = "@/"; ///< "@" stands for the tree's path; nullptr: no path at all
    bool recurse = true;
    bool stay = false; ///< the root's stayOnFileSystem
    WalkFilter filter = {};
    const char* text = "key";
    int listSize = MaxListSize;
    rlim_t descriptors = 0; ///< the walks' limit of open descriptors, 0: as it is
    bool asNobody = false;  ///< walked by a user who cannot read what only root may
    bool tiesOnly = false;  ///< found is not checked: the ranks are ties in listing order
};

// One tree, how it is walked and what every walk of it must give.
struct WalkCase {
    const char* name;
    std::function<void(const TempTree&, TestMounts&)> build;
    std::uint64_t scanned;
    std::set<std::string> found; ///< the ranks (not the overflow slot), as paths below the tree
    WalkWay way = {};
    int rootError = 0;
    std::set<std::pair<std::string, int>> skipped = {}; ///< directories below the tree, errno
};

std::string joined(const auto& items) {
    std::ostringstream text;
    for (const auto& item : items) {
        if constexpr (requires { item.second; }) text << " [" << item.first << " " << item.second << "]";
        else text << " [" << item << "]";
    }
    return text.str();
}

// Walks the case's tree every way: "" or what differs from the case.
std::string walkEveryWay(const WalkCase& c, const TempTree& tree) {
    const WalkWay& way = c.way;
    std::string root = way.root ? way.root : "";
    if (const auto at = root.find('@'); at != std::string::npos)
        root.replace(at, 1, tree.path().substr(0, tree.path().size() - 1));
    auto relative = [&](const std::string& path) {
        return path.starts_with(tree.path()) ? path.substr(tree.path().size()) : "(outside the tree) " + path;
    };
    rlimit saved{};
    ::getrlimit(RLIMIT_NOFILE, &saved);
    rlimit limit = saved;
    if (way.descriptors) limit.rlim_cur = way.descriptors;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    std::ostringstream problems;

    // The one-thread walk's hooks hear of every entry counted, once.
    WalkRecorder recorder({way.recurse, true, way.filter});
    recorder.scanner().ScanDirectory(root, way.stay);
    std::set<std::pair<std::string, std::string>> rated;
    for (const RatedEntry& r : recorder.rated) rated.emplace(r.dir, r.name);
    if (rated.size() != recorder.scanner().scannedEntries() || rated.size() != recorder.rated.size())
        problems << "rated " << recorder.rated.size() << " times " << rated.size() << " entries of "
                 << recorder.scanner().scannedEntries() << "\n";

    std::optional<Outcome> oneThreadOutcome;
    for (unsigned workers : {0u, 1u, 4u}) {
        const std::string walk = workers ? std::to_string(workers) + " worker(s): " : "one thread: ";
        const Search search{way.text, true, way.listSize, way.recurse, way.filter};
        const int descriptors = openDescriptors();
        const Outcome o =
            workers ? parallel({{root, way.stay}}, search, workers) : oneThread({{root, way.stay}}, search);
        if (openDescriptors() != descriptors) problems << walk << "a descriptor was left open\n";
        std::set<std::string> found;
        for (std::size_t rank = 0; rank + 1 < o.ranks.size(); ++rank)
            if (const auto& [score, name, dir] = o.ranks[rank]; score[0] != 0) found.insert(relative(dir) + name);
        std::set<std::pair<std::string, int>> skipped;
        for (const auto& [dir, error] : o.skipped) skipped.emplace(relative(dir), error);
        if (o.rootError != c.rootError) problems << walk << "root error " << o.rootError << "\n";
        if (o.scanned != c.scanned) problems << walk << o.scanned << " entries scanned\n";
        if (skipped != c.skipped) problems << walk << "skipped" << joined(skipped) << "\n";
        if (found != c.found && !way.tiesOnly) problems << walk << "found" << joined(found) << "\n";
        if (oneThreadOutcome && o != *oneThreadOutcome) problems << walk << "ranks other than the one-thread walk's\n";
        if (!oneThreadOutcome) oneThreadOutcome = o;
    }
    ::setrlimit(RLIMIT_NOFILE, &saved);
    return problems.str();
}

void expectEveryWalk(const std::vector<WalkCase>& cases) {
    for (const WalkCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempTree tree;
        TestMounts mounts(tree.path()); // detached before the tree goes
        c.build(tree, mounts);
        if (!c.way.asNobody) {
            EXPECT_EQ(walkEveryWay(c, tree), "");
            continue;
        }
        // Root reads every directory whatever its mode.
        EXPECT_EQ(inChildProcess(std::size_t{8} << 20,
                                 [&] {
                                     const std::string p = ::geteuid() ? "" : becomeUser(kNobody, kNobody);
                                     return p.empty() ? walkEveryWay(c, tree) : p;
                                 }),
                  "");
    }
}

// key-a, key-b, key-sub/key-c, key-empty/
void smallTree(const TempTree& tree, TestMounts&) {
    tree.touch("key-a");
    tree.touch("key-b");
    tree.mkdirp("key-sub");
    tree.touch("key-sub/key-c");
    tree.mkdirp("key-empty");
}

TEST(EveryWalk, TreesRootsAndOddEntries) {
    const std::string deepest = [] {
        std::string path;
        for (int level = 0; level < 5000; ++level) path += "d/";
        return path;
    }();
    const std::string longName = std::string(252, 'L') + "key";
    std::vector<std::string> wideNames;
    for (int i = 0; i < 150; ++i) wideNames.push_back(std::string(100, 'n') + std::to_string(i));
    constexpr int kReopened = Scanner::kMaxOpenLevels + 12;

    expectEveryWalk({
        // Every directory, the root included, lists "." and "..".
        {"small tree", smallTree, 11, {"key-a", "key-b", "key-sub", "key-sub/key-c", "key-empty"}},
        // Without recursion the subdirectories are rated but not entered.
        {"small tree, flat", smallTree, 6, {"key-a", "key-b", "key-sub", "key-empty"}, {.recurse = false}},
        {"root spelled with a doubled separator and without its trailing one",
         [](const TempTree& tree, TestMounts&) {
             tree.mkdirp("sub/key-sub");
             tree.touch("sub/key-sub/key-c");
         },
         3 + 3,
         {"sub/key-sub", "sub/key-sub/key-c"},
         {.root = "@//sub"}},
        {"missing root", smallTree, 0, {}, {.root = "@/missing/"}, ENOENT},
        {"no root at all", smallTree, 0, {}, {.root = nullptr}, ENOENT},
        {"a file as the root", smallTree, 0, {}, {.root = "@/key-a"}, ENOTDIR},
        // Of two equal scores the earlier rated ranks first.
        {"a directory is rated after its contents, in its parent",
         [](const TempTree& tree, TestMounts&) {
             tree.mkdirp("key");
             tree.touch("key/key");
         },
         6,
         {"key/key"},
         {.listSize = 1}},
        {"empty search text: everything counted, nothing found",
         [](const TempTree& tree, TestMounts&) {
             tree.mkdirp("docs/old");
             tree.touch("docs/report.txt");
             tree.touch("docs/old/report-1999.txt");
         },
         3 + 4 + 3,
         {},
         {.text = ""}},
        // root: . .. key-a key-self key-loop1 key-loop2 key-root; key-a: . .. key-file key-up
        {"symbolic links are rated, never followed",
         [](const TempTree& tree, TestMounts&) {
             tree.mkdirp("key-a");
             tree.touch("key-a/key-file");
             const std::pair<const char*, const char*> links[] = {{"..", "key-a/key-up"},
                                                                  {".", "key-self"},
                                                                  {"key-loop2", "key-loop1"},
                                                                  {"key-loop1", "key-loop2"},
                                                                  {"/", "key-root"}};
             for (const auto& [target, link] : links) ASSERT_EQ(::symlink(target, (tree / link).c_str()), 0);
         },
         7 + 4,
         {"key-a", "key-a/key-file", "key-a/key-up", "key-self", "key-loop1", "key-loop2", "key-root"}},
        {"a FIFO and a socket are counted without blocking",
         [](const TempTree& tree, TestMounts&) {
             ASSERT_EQ(::mkfifo((tree / "key-fifo").c_str(), 0644), 0);
             tree.makeSocket("key-socket");
         },
         4,
         {"key-fifo", "key-socket"}},
        // A newline, bytes that are no UTF-8, the longest name: each entered
        // with its exact name.
        {"unusual names arrive as their bytes",
         [&](const TempTree& tree, TestMounts&) {
             for (const std::string& name : {std::string("key\nbreak"), std::string("key-\xe4\xf6\xfc"), longName}) {
                 tree.mkdirp(name);
                 tree.touch(name + "/key-inner");
             }
         },
         5 + 3 * 3,
         {"key\nbreak", "key\nbreak/key-inner", "key-\xe4\xf6\xfc", "key-\xe4\xf6\xfc/key-inner", longName,
          longName + "/key-inner"}},
        // root: . .. key-open key-locked; key-open: . .. key-visible
        {"an unreadable directory is skipped and reported, its entry counted",
         [](const TempTree& tree, TestMounts&) {
             ASSERT_EQ(::chmod(tree.path().c_str(), 0755), 0);
             tree.mkdirp("key-open");
             tree.mkdirp("key-locked");
             tree.touch("key-locked/key-secret");
             tree.touch("key-open/key-visible");
             ASSERT_EQ(::chmod((tree / "key-locked").c_str(), 0), 0);
         },
         7,
         {"key-open", "key-locked", "key-open/key-visible"},
         {.asNobody = true},
         0,
         {{"key-locked/", EACCES}}},
        // Far beyond PATH_MAX; a walk that held a descriptor per level would
        // run out at about 95 levels.
        {"5000 levels deep with 100 descriptors",
         [](const TempTree& tree, TestMounts&) {
             const int bottom = chainBottom(tree.path(), 5000, true, "d");
             touchAt(bottom, "key");
             ::close(bottom);
         },
         2 * 5001 + 5000 + 1,
         {deepest + "key"},
         {.descriptors = 100}},
        // More equal scores than ranks, in an order that only the listings
        // decide: each walk ranks them as the one-thread walk does.
        {"ties along a chain deeper than PATH_MAX",
         [](const TempTree& tree, TestMounts&) { makeChain(tree.path(), 300, "level-directory", {"key.txt"}); },
         4 * 300 + 3,
         {},
         {.tiesOnly = true}},
        // Every level matches: each one's entry waits for everything below
        // it, so the threaded walk holds thousands of candidates at once.
        {"every level of a chain 2000 deep matches",
         [](const TempTree& tree, TestMounts&) { makeChain(tree.path(), 2000, "key-level", {}); },
         2 * 2001 + 2000,
         {},
         {.descriptors = 100, .tiesOnly = true}},
        // Wide directories deeper than the one-thread walk's window of open
        // levels: each is closed while the walk is below it and resumed in
        // the middle of its listing.
        {"reopened levels go on where they left off",
         [&](const TempTree& tree, TestMounts&) { makeChain(tree.path(), kReopened, "sub", wideNames); },
         (2 + wideNames.size()) * (kReopened + 1) + kReopened,
         {}},
    });
}

// root: . .. key-proc key-ram; key-ram: . .. key-in-ram
void mountedTree(const TempTree& tree, TestMounts& mounts) {
    tree.mkdirp("key-proc");
    tree.mkdirp("key-ram");
    mounts.mount(tree / "key-proc", "proc");
    mounts.tmpfs(tree / "key-ram");
    tree.touch("key-ram/key-in-ram");
}

TEST(EveryWalk, MountsAndLoops) {
    if (const std::string why = TestMounts::unavailable(); !why.empty()) GTEST_SKIP() << why;
    expectEveryWalk({
        {"a pseudo file system is never entered", mountedTree, 7, {"key-proc", "key-ram", "key-ram/key-in-ram"}},
        {"nor another mount when the root says so", mountedTree, 4, {"key-proc", "key-ram"}, {.stay = true}},
        {"nor when the filter says so", mountedTree, 4, {"key-proc", "key-ram"}, {.filter = {.oneFileSystem = true}}},
        {"a pseudo file system is not even walked as the root", mountedTree, 0, {}, {.root = "@/key-proc/"}},
        // key-a/key-b/key-loop shows key-a again: the same device and inode
        // as a directory above.  root: . .. key-a; key-a: . .. key-b;
        // key-b: . .. key-loop key-file
        {"a directory on the current path is not entered again",
         [](const TempTree& tree, TestMounts& mounts) {
             tree.mkdirp("key-a/key-b/key-loop");
             tree.touch("key-a/key-b/key-file");
             mounts.bind(tree / "key-a", tree / "key-a/key-b/key-loop");
         },
         3 + 3 + 4,
         {"key-a", "key-a/key-b", "key-a/key-b/key-loop", "key-a/key-b/key-file"}},
    });
}

TEST(Walk, StatusOnEnteringWhenTheCountIsAMultipleOfTwelve) {
    // Leaf directories with 1..5 files below a root of directories only: the
    // count on entering a leaf is the count before its first entry.
    TempTree tree;
    for (int d = 0; d < 40; ++d) {
        std::string dir = "top/d" + std::to_string(d);
        tree.mkdirp(dir);
        for (int f = 0; f <= d % 5; ++f) tree.touch(dir + "/f" + std::to_string(f));
    }
    const std::string top = tree / "top/";
    WalkRecorder walk;
    walk.scanner().ScanDirectory(tree.path() + "/top"); // a doubled separator, no trailing one

    std::set<std::string> expected = {top};
    std::set<std::string> seen;
    for (const RatedEntry& r : walk.rated) {
        if (r.dir == top || !seen.insert(r.dir).second) continue;
        if ((r.counted - 1) % 12 == 0) expected.insert(r.dir);
    }
    ASSERT_FALSE(walk.statuses.empty());
    EXPECT_EQ(walk.statuses.front(), std::pair(std::string(kScanStatusPrefix) + top, std::uint64_t{0}))
        << "the root, normalised, first";
    std::set<std::string> shown;
    for (const auto& [text, counted] : walk.statuses) {
        EXPECT_EQ(counted % 12, 0u) << text;
        shown.insert(text.substr(kScanStatusPrefix.size()));
    }
    EXPECT_EQ(shown, expected);
    EXPECT_GT(expected.size(), 2u) << "the tree should hit the rule a few times";
}

TEST(Walk, StopEndsEveryLevelAfterItsCurrentEntry) {
    TempTree tree;
    tree.mkdirp("a/b/c");
    for (const char* dir : {"", "a/", "a/b/", "a/b/c/"}) {
        for (int i = 0; i < 5; ++i) tree.touch(std::string(dir) + "file" + std::to_string(i));
    }
    WalkRecorder walk;
    const std::string deepest = tree.path() + "a/b/c/";
    std::size_t stopAt = 0;
    walk.onRate = [&](const RatedEntry& r) {
        if (!walk.stop && r.dir == deepest) {
            walk.stop = true;
            stopAt = walk.rated.size();
        }
    };
    walk.scanner().ScanDirectory(tree.path());
    ASSERT_GT(stopAt, 0u);
    // After the entry that raised the stop, each level up rates only the
    // directory it had descended into.
    std::vector<RatedEntry> after(walk.rated.begin() + static_cast<long>(stopAt), walk.rated.end());
    std::vector<RatedEntry> expected = {
        {tree.path() + "a/b/", "c", 0}, {tree.path() + "a/", "b", 0}, {tree.path(), "a", 0}};
    EXPECT_EQ(after, expected);
    EXPECT_EQ(walk.scanner().scannedEntries(), walk.rated.size());
}

TEST(Walk, AllFixedVolumesAfterAStopHandleOneEntryPerLevel) {
    TempTree first, second, remote;
    for (TempTree* t : {&first, &second, &remote}) {
        t->mkdirp("x/y/z");
        t->touch("x/y/z/file");
        t->touch("top");
    }
    std::vector<Volume> volumes = {
        {"first", first.path(), VolumeKind::Fixed, "ext4", 0, 0},
        {"remote", remote.path(), VolumeKind::Remote, "nfs4", 0, 0},
        {"gone", first / "missing", VolumeKind::Fixed, "ext4", 0, 0},
        {"second", second.path(), VolumeKind::Fixed, "ext4", 0, 0},
    };
    WalkRecorder walk;
    walk.stop = true; // pressed before the loop: no volume is left out
    walk.scanner().ScanFixedVolumes(volumes);
    std::map<std::string, int> perDirectory;
    for (const RatedEntry& r : walk.rated) {
        ++perDirectory[r.dir];
        EXPECT_NE(r.dir.rfind(remote.path(), 0), 0u) << "a remote volume is not walked";
    }
    EXPECT_EQ(perDirectory.count(first.path()), 1u);
    EXPECT_EQ(perDirectory.count(second.path()), 1u);
    for (const auto& [dir, count] : perDirectory) EXPECT_EQ(count, 1) << dir;
    EXPECT_EQ(walk.scanner().scannedEntries(), walk.rated.size());
    // Below "all fixed disks" a volume is one directory among others.
    EXPECT_EQ(walk.skipped, (std::vector<std::pair<std::string, int>>{{first / "missing/", ENOENT}}));
}

TEST(Walk, EntriesThatVanishDuringTheWalkAreSkipped) {
    TempTree tree;
    for (char c = 'a'; c <= 'z'; ++c) {
        std::string dir(1, c);
        tree.mkdirp(dir);
        tree.touch(dir + "/file");
    }
    WalkRecorder walk;
    std::string kept;
    walk.onRate = [&](const RatedEntry& r) {
        if (!kept.empty()) return;
        // The first entry rated is inside the first directory walked:
        // every other directory disappears before the walk reaches it.
        kept = r.dir;
        for (char c = 'a'; c <= 'z'; ++c) {
            std::string dir = tree.path() + std::string(1, c) + "/";
            if (dir == kept) continue;
            ::unlink((dir + "file").c_str());
            ::rmdir(dir.c_str());
        }
    };
    walk.scanner().ScanDirectory(tree.path());
    ASSERT_NE(kept, tree.path());
    // The root's listing was read before: all 26 names are counted, only the
    // kept directory is entered; the 25 others are reported as gone.
    EXPECT_EQ(walk.scanner().scannedEntries(), 2u + 26 + 3);
    EXPECT_EQ(walk.skipped.size(), 25u);
    for (const auto& [dir, error] : walk.skipped) EXPECT_EQ(error, ENOENT) << dir;
}

TEST(Walk, EventsAreThrottledAndNeverInsideARating) {
    TempTree tree;
    for (int d = 0; d < 20; ++d) {
        tree.mkdirp("d" + std::to_string(d));
        for (int f = 0; f < 200; ++f) tree.touch("d" + std::to_string(d) + "/f" + std::to_string(f));
    }
    using Clock = std::chrono::steady_clock;
    std::vector<Clock::time_point> calls;
    bool insideRate = false;
    bool eventInsideRate = false;
    ScanHooks hooks;
    hooks.rate = [&](std::string_view, std::string_view) {
        insideRate = true;
        // About 10 us of work per entry: the walk takes ~40 ms.
        auto until = Clock::now() + std::chrono::microseconds(10);
        while (Clock::now() < until) {}
        insideRate = false;
    };
    hooks.heartbeat = [&] {
        eventInsideRate |= insideRate;
        calls.push_back(Clock::now());
    };
    Scanner scanner({true, true}, hooks);
    scanner.ScanDirectory(tree.path());
    EXPECT_FALSE(eventInsideRate);
    ASSERT_GE(calls.size(), 3u);
    std::vector<double> gaps;
    for (std::size_t i = 1; i < calls.size(); ++i) {
        gaps.push_back(std::chrono::duration<double, std::milli>(calls[i] - calls[i - 1]).count());
    }
    for (double gap : gaps) EXPECT_GE(gap, 4.0) << "at most one call per 4 ms";
    // The clock is read every few entries (0.3 ms of this walk), so the walk
    // lets events through about every 4-5 ms.  The bound is loose on purpose:
    // a busy machine may hold the process off the processor for a while.
    std::sort(gaps.begin(), gaps.end());
    EXPECT_LE(gaps[gaps.size() / 2], 50.0) << "events still come while walking";
}

} // namespace
} // namespace toka::test
