// The walk on real temporary trees.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <map>
#include <set>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sched.h>
#include <thread>

#include <gtest/gtest.h>

#include "similar/simlist.h"
#include "walk_helpers.h"

namespace toka::test {
namespace {

std::set<std::pair<std::string, std::string>> asSet(const std::vector<RatedEntry>& rated) {
    std::set<std::pair<std::string, std::string>> set;
    for (const RatedEntry& r : rated) set.emplace(r.dir, r.name);
    return set;
}

int openDescriptors() {
    int count = 0;
    DIR* dir = ::opendir("/proc/self/fd");
    while (::readdir(dir) != nullptr) ++count;
    ::closedir(dir);
    return count;
}

// root: a, b, sub/{c}, empty/
class SmallTree : public ::testing::Test {
protected:
    void SetUp() override {
        tree.touch("a");
        tree.touch("b");
        tree.mkdirp("sub");
        tree.touch("sub/c");
        tree.mkdirp("empty");
    }
    TempTree tree;
};

TEST_F(SmallTree, CountsAndRatesEveryEntryInBothModes) {
    const std::string root = tree.path();
    struct Mode {
        bool recurse;
        std::uint64_t count;
        std::set<std::pair<std::string, std::string>> rated;
    };
    const Mode modes[] = {
        {true,
         11,
         {{root, "."},
          {root, ".."},
          {root, "a"},
          {root, "b"},
          {root, "sub"},
          {root, "empty"},
          {root + "sub/", "."},
          {root + "sub/", ".."},
          {root + "sub/", "c"},
          {root + "empty/", "."},
          {root + "empty/", ".."}}},
        // Without recursion the subdirectories are rated but not entered.
        {false, 6, {{root, "."}, {root, ".."}, {root, "a"}, {root, "b"}, {root, "sub"}, {root, "empty"}}},
    };
    for (const Mode& mode : modes) {
        WalkRecorder walk({mode.recurse, true});
        walk.scanner().ScanDirectory(root);
        EXPECT_EQ(walk.scanner().scannedEntries(), mode.count) << "recurse " << mode.recurse;
        EXPECT_EQ(walk.rated.size(), mode.count) << "each counted entry is rated once";
        EXPECT_EQ(asSet(walk.rated), mode.rated) << "recurse " << mode.recurse;
    }
}

TEST_F(SmallTree, SubdirectoryIsRatedAfterItsContentsInItsParent) {
    WalkRecorder walk;
    walk.scanner().ScanDirectory(tree.path());
    auto position = [&](const std::string& dir, const std::string& name) {
        auto it = std::find(walk.rated.begin(), walk.rated.end(), RatedEntry{dir, name, 0});
        EXPECT_NE(it, walk.rated.end()) << dir << name;
        return it - walk.rated.begin();
    };
    const std::string sub = tree.path() + "sub/";
    EXPECT_GT(position(tree.path(), "sub"), position(sub, "c"));
    EXPECT_GT(position(tree.path(), "sub"), position(sub, "."));
    EXPECT_GT(position(tree.path(), "sub"), position(sub, ".."));
}

TEST_F(SmallTree, RootPathIsNormalisedAndShownFirst) {
    WalkRecorder walk;
    std::string messy = tree.path();
    messy.insert(messy.rfind('/', messy.size() - 2), "/"); // a doubled separator
    messy.pop_back();                                      // no trailing "/"
    walk.scanner().ScanDirectory(messy);
    ASSERT_FALSE(walk.statuses.empty());
    EXPECT_EQ(walk.statuses.front().first, "Suche in Verzeichnis: " + tree.path());
    EXPECT_EQ(walk.statuses.front().second, 0u);
    for (const RatedEntry& r : walk.rated) EXPECT_EQ(r.dir.find("//"), std::string::npos) << r.dir;
}

TEST(Walk, RootWithOneEmptySubdirectoryCountsFiveEntries) {
    // The original counted 3 (a drive root listed no "." and ".."); every
    // Linux directory, the root of a walk included, lists both.
    TempTree tree;
    tree.mkdirp("only");
    WalkRecorder walk;
    walk.scanner().ScanDirectory(tree.path());
    EXPECT_EQ(walk.scanner().scannedEntries(), 5u);
}

TEST(Walk, RootThatCannotBeListedCountsNothingAndGivesItsErrno) {
    TempTree tree;
    tree.touch("file");
    const struct {
        std::string root;
        int error;
    } cases[] = {{tree / "missing/", ENOENT}, {"", ENOENT}, {tree / "file", ENOTDIR}, {tree.path(), 0}};
    for (const auto& c : cases) {
        WalkRecorder walk;
        EXPECT_EQ(walk.scanner().ScanDirectory(c.root), c.error) << c.root;
        EXPECT_EQ(walk.scanner().scannedEntries() == 0, c.error != 0) << c.root;
        EXPECT_TRUE(walk.skipped.empty()) << "the root is the caller's to report: " << c.root;
    }
    // Below "all fixed disks" a volume is one directory among others.
    WalkRecorder walk;
    walk.scanner().ScanFixedVolumes({{"gone", tree / "missing", VolumeKind::Fixed, "ext4", 0, 0}});
    EXPECT_EQ(walk.skipped, (std::vector<std::pair<std::string, int>>{{tree / "missing/", ENOENT}}));
}

TEST(Walk, StatusWhenTheCountIsAMultipleOfTwelveOnEntering) {
    // Leaf directories with 1..5 files below a root of directories only: the
    // count on entering a leaf is the count before its first entry.
    TempTree tree;
    for (int d = 0; d < 40; ++d) {
        std::string dir = "d" + std::to_string(d);
        tree.mkdirp(dir);
        for (int f = 0; f <= d % 5; ++f) tree.touch(dir + "/f" + std::to_string(f));
    }
    WalkRecorder walk;
    walk.scanner().ScanDirectory(tree.path());

    std::set<std::string> expected = {tree.path()};
    std::set<std::string> seen;
    for (const RatedEntry& r : walk.rated) {
        if (r.dir == tree.path() || !seen.insert(r.dir).second) continue;
        if ((r.counted - 1) % 12 == 0) expected.insert(r.dir);
    }
    std::set<std::string> shown;
    for (const auto& [text, counted] : walk.statuses) {
        EXPECT_EQ(counted % 12, 0u) << text;
        shown.insert(text.substr(std::string("Suche in Verzeichnis: ").size()));
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

TEST(Walk, StopBeforeAllFixedVolumesHandlesOneEntryPerLevel) {
    TempTree first, second, remote;
    for (TempTree* t : {&first, &second, &remote}) {
        t->mkdirp("x/y/z");
        t->touch("x/y/z/file");
        t->touch("top");
    }
    std::vector<Volume> volumes = {
        {"first", first.path(), VolumeKind::Fixed, "ext4", 0, 0},
        {"remote", remote.path(), VolumeKind::Remote, "nfs4", 0, 0},
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
}

TEST(Walk, EmptySearchTextWalksAndCountsEverythingAndFindsNothing) {
    TempTree tree;
    tree.mkdirp("docs/old");
    tree.touch("docs/report.txt");
    tree.touch("docs/old/report-1999.txt");
    InitSimList("", MaxListSize);
    Scanner scanner({true, true}, {}); // the default hook rates into the list
    scanner.ScanDirectory(tree.path());
    EXPECT_EQ(scanner.scannedEntries(), 2u + 2 + 2 + 1 + 2 + 1); // root, docs, old
    EXPECT_EQ(TheSimList().RankScore(1).value(), 0.0L);

    InitSimList("report", MaxListSize);
    Scanner rating({true, true}, {});
    rating.ScanDirectory(tree.path());
    EXPECT_GT(TheSimList().RankScore(1).value(), 0.0L) << "the same walk does rate into the list";
}

TEST(Walk, SymlinksAreRatedButNeverFollowed) {
    TempTree tree;
    tree.mkdirp("a");
    tree.touch("a/file");
    ASSERT_EQ(::symlink("..", (tree / "a/up").c_str()), 0);
    ASSERT_EQ(::symlink(".", (tree / "self").c_str()), 0);
    ASSERT_EQ(::symlink("loop2", (tree / "loop1").c_str()), 0);
    ASSERT_EQ(::symlink("loop1", (tree / "loop2").c_str()), 0);
    ASSERT_EQ(::symlink("/", (tree / "system-root").c_str()), 0);
    WalkRecorder walk;
    walk.scanner().ScanDirectory(tree.path());
    // root: . .. a self loop1 loop2 system-root; a: . .. file up
    EXPECT_EQ(walk.scanner().scannedEntries(), 7u + 4u);
    EXPECT_EQ(asSet(walk.rated).count({tree.path() + "a/", "up"}), 1u);
}

TEST(Walk, FifoAndSocketAreCountedWithoutBlocking) {
    TempTree tree;
    ASSERT_EQ(::mkfifo((tree / "fifo").c_str(), 0644), 0);
    int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string socketPath = tree / "socket";
    std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    WalkRecorder walk;
    walk.scanner().ScanDirectory(tree.path());
    EXPECT_EQ(asSet(walk.rated),
              (std::set<std::pair<std::string, std::string>>{
                  {tree.path(), "."}, {tree.path(), ".."}, {tree.path(), "fifo"}, {tree.path(), "socket"}}));
    ::close(sock);
}

TEST(Walk, UnusualNamesArriveAsTheirBytes) {
    TempTree tree;
    const std::string names[] = {
        "line\nbreak",         // a newline inside a name
        "latin1-\xe4\xf6\xfc", // not valid UTF-8
        std::string(255, 'L'), // the longest name
    };
    for (const std::string& name : names) {
        tree.mkdirp(name);
        tree.touch(name + "/inner");
    }
    WalkRecorder walk;
    walk.scanner().ScanDirectory(tree.path());
    auto rated = asSet(walk.rated);
    for (const std::string& name : names) {
        EXPECT_EQ(rated.count({tree.path(), name}), 1u);
        EXPECT_EQ(rated.count({tree.path() + name + "/", "inner"}), 1u) << "entered with its exact name";
    }
}

TEST(Walk, UnreadableDirectoryIsSkippedButItsEntryCounted) {
    TempTree tree;
    ASSERT_EQ(::chmod(tree.path().c_str(), 0755), 0);
    tree.mkdirp("open");
    tree.mkdirp("locked");
    tree.touch("locked/secret");
    tree.touch("open/visible");
    ASSERT_EQ(::chmod((tree / "locked").c_str(), 0), 0);
    const std::string root = tree.path();
    long counted = runUnprivileged([&] {
        WalkRecorder walk;
        if (walk.scanner().ScanDirectory(root) != 0) return -4L;
        bool ratedLocked = asSet(walk.rated).count({root, "locked"}) == 1;
        if (walk.skipped != std::vector<std::pair<std::string, int>>{{root + "locked/", EACCES}}) return -3L;
        return ratedLocked ? static_cast<long>(walk.scanner().scannedEntries()) : -2L;
    });
    // root: . .. open locked; open: . .. visible; -3: not reported as skipped
    EXPECT_EQ(counted, 7);
}

TEST(Walk, EntriesThatVanishDuringTheWalkAreSkippedSilently) {
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

TEST(Walk, TreeFiveThousandLevelsDeepWithFewDescriptors) {
    TempTree tree;
    const int depth = 5000;
    std::string deepest = makeChain(tree.path(), depth, "d", {});
    ASSERT_GT(deepest.size(), 4096u);

    // With 100 descriptors a walk holding one per level would fail at ~95.
    rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = 100;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    int before = openDescriptors();
    WalkRecorder walk;
    walk.scanner().ScanDirectory(tree.path());
    int after = openDescriptors();
    ::setrlimit(RLIMIT_NOFILE, &saved);

    // Every directory: "." and ".."; all but the deepest: "d".
    EXPECT_EQ(walk.scanner().scannedEntries(), 2u * (depth + 1) + depth);
    EXPECT_EQ(walk.rated.size(), walk.scanner().scannedEntries());
    EXPECT_EQ(asSet(walk.rated).count({deepest, ".."}), 1u);
    EXPECT_EQ(after, before) << "no descriptor is left open";
}

TEST(Walk, ReopenedLevelsGoOnWhereTheyLeftOff) {
    // Wide directories deeper than the open-descriptor window: each level
    // is closed while the walk is below it and resumed at its offset, in the
    // middle of its listing.
    TempTree tree;
    std::vector<std::string> files;
    for (int i = 0; i < 150; ++i) files.push_back(std::string(100, 'n') + std::to_string(i));
    const int depth = Scanner::kMaxOpenLevels + 12;
    makeChain(tree.path(), depth, "sub", files);
    WalkRecorder walk;
    walk.scanner().ScanDirectory(tree.path());
    EXPECT_EQ(walk.scanner().scannedEntries(), (2u + files.size()) * (depth + 1) + depth);
    EXPECT_EQ(asSet(walk.rated).size(), walk.rated.size()) << "no entry twice";
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

// Mounts need a private mount namespace; without the right to make one
// (not root), these cases are skipped.
class MountedTree : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0
            || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            GTEST_SKIP() << "needs a private mount namespace";
        }
    }
};

TEST_F(MountedTree, PseudoFileSystemsAreNeverEnteredAndOtherMountsOnlyWhenAllowed) {
    TempTree tree;
    tree.mkdirp("proc-here");
    tree.mkdirp("ram");
    ASSERT_EQ(::mount("proc", (tree / "proc-here").c_str(), "proc", 0, nullptr), 0);
    ASSERT_EQ(::mount("tmpfs", (tree / "ram").c_str(), "tmpfs", 0, "size=1m"), 0);
    tree.touch("ram/in-ram");

    struct Mode {
        bool stayOnFileSystem;
        std::uint64_t count;
    };
    // root: . .. proc-here ram; ram: . .. in-ram
    for (Mode mode : {Mode{false, 4 + 3}, Mode{true, 4}}) {
        WalkRecorder walk;
        walk.scanner().ScanDirectory(tree.path(), mode.stayOnFileSystem);
        EXPECT_EQ(walk.scanner().scannedEntries(), mode.count) << "stay " << mode.stayOnFileSystem;
        for (const RatedEntry& r : walk.rated) {
            EXPECT_EQ(r.dir.find("proc-here/"), std::string::npos) << r.dir << r.name;
        }
    }
    WalkRecorder procRoot;
    procRoot.scanner().ScanDirectory(tree / "proc-here");
    EXPECT_EQ(procRoot.scanner().scannedEntries(), 0u) << "not even as the root of a walk";
    ::umount2((tree / "proc-here").c_str(), MNT_DETACH);
    ::umount2((tree / "ram").c_str(), MNT_DETACH);
}

TEST_F(MountedTree, DirectoryOnTheCurrentPathIsNotEnteredAgain) {
    TempTree tree;
    tree.mkdirp("a/b/loop");
    tree.touch("a/b/file");
    // a/b/loop shows a again: same device and inode as a directory above.
    ASSERT_EQ(::mount((tree / "a").c_str(), (tree / "a/b/loop").c_str(), nullptr, MS_BIND, nullptr), 0);
    WalkRecorder walk;
    walk.scanner().ScanDirectory(tree.path());
    // root: . .. a; a: . .. b; b: . .. loop file
    EXPECT_EQ(walk.scanner().scannedEntries(), 3u + 3 + 4);
    ::umount2((tree / "a/b/loop").c_str(), MNT_DETACH);
}

} // namespace
} // namespace toka::test
