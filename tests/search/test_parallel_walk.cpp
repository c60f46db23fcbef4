// The walk on several threads against the one-thread walk: the same ranks
// (score bytes, name, directory, order, ties), the same overflow slot, the
// same count and the same skipped directories, on trees built for ties and
// for a cut-off that moves, and on a real tree.
#include <chrono>
#include <dirent.h>
#include <condition_variable>
#include <mutex>
#include <random>
#include <set>
#include <sys/mount.h>
#include <thread>
#include <tuple>

#include "platform/core/paths.h"
#include "platform/listing/volumes.h"
#include "search/parallel_walk.h"
#include "walk_compare.h"

namespace toka::test {
namespace {

TEST(ParallelWalk, TiesAcrossSubtreesRankAsInTheOneThreadWalk) {
    TempTree tree;
    buildTieTree(tree);
    expectSameAsOneThread({{tree.path()}}, bothMeasures({"report", "rep", "port.txt"}, {200, 17, 1}));
}

TEST(ParallelWalk, AMovingCutOffRanksAsInTheOneThreadWalk) {
    for (unsigned seed : {1u, 2u}) {
        TempTree tree;
        buildRandomTree(tree, seed);
        auto searches = bothMeasures({"abcab", "dea", "bad.cab"}, {200, 9});
        searches.push_back({"abcab", true, 200, false});
        expectSameAsOneThread({{tree.path()}}, searches);
    }
}

TEST(ParallelWalk, SeveralRootsRankInTheirOrder) {
    TempTree a, b;
    buildTieTree(a);
    buildRandomTree(b, 7);
    b.touch("unreadable-root");
    expectSameAsOneThread({{b.path(), true, true}, {a.path(), true, true}, {b / "missing", true, true}},
                          bothMeasures({"report"}, {200, 5}));
}

TEST(ParallelWalk, RealTreeRanksAsInTheOneThreadWalk) {
    if (::access("/usr/share", R_OK) != 0) GTEST_SKIP() << "no /usr/share";
    for (const Search& search : bothMeasures({"readme", "libc.so"}, {200})) {
        const Outcome expected = oneThread({{"/usr/share/"}}, search);
        EXPECT_EQ(parallel({{"/usr/share/"}}, search, 4), expected) << search.text << " " << search.fuzzy;
    }
}

TEST(ParallelWalk, RootErrorsAndOddTreesAsInTheOneThreadWalk) {
    TempTree tree;
    tree.touch("file");
    tree.mkdirp("dir/sub");
    tree.touch("dir/sub/file.txt");
    ASSERT_EQ(::symlink("..", (tree / "dir/up").c_str()), 0);
    ASSERT_EQ(::symlink(tree.path().c_str(), (tree / "dir/sub/root-link").c_str()), 0);
    ASSERT_EQ(::mkfifo((tree / "dir/fifo").c_str(), 0644), 0);
    tree.touch(std::string("dir/bad-\xff\xfe-name\n.txt"));
    tree.mkdirp("deep");
    makeChain(tree / "deep", 300, "level-directory", {"file.txt"}); // deeper than PATH_MAX
    const auto searches = bothMeasures({"file.txt"}, {200});
    for (const std::string& root : {tree.path(), tree / "file", tree / "missing", std::string()})
        expectSameAsOneThread({{root}}, searches);
}

TEST(ParallelWalk, UnreadableDirectoriesAreSkippedAndReportedAsInTheOneThreadWalk) {
    TempTree tree;
    ASSERT_EQ(::chmod(tree.path().c_str(), 0755), 0);
    buildRandomTree(tree, 11);
    tree.mkdirp("closed/inner");
    tree.touch("closed/inner/abc");
    ASSERT_EQ(::chmod((tree / "closed").c_str(), 0), 0);
    long same = runUnprivileged([&] {
        const Outcome expected = oneThread({{tree.path()}}, {"abc"});
        return long(expected.skipped.size() == 1 && parallel({{tree.path()}}, {"abc"}, 3) == expected);
    });
    ::chmod((tree / "closed").c_str(), 0755);
    EXPECT_EQ(same, 1);
}

TEST(ParallelWalk, StopEndsEveryWorkerWithinFiftyMilliseconds) {
    if (::access("/usr", R_OK) != 0) GTEST_SKIP() << "no /usr";
    SimList setup;
    setup.InitSimList("readme", MaxListSize);
    ParallelWalk walk(setup, {true, true}, 2);
    walk.start({{"/usr"}});
    const auto started = std::chrono::steady_clock::now();
    while (walk.scannedEntries() < 1000 && std::chrono::steady_clock::now() - started < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    ASSERT_FALSE(walk.finished()) << "the walk ended before it could be stopped";
    walk.requestStop();
    const auto stopped = std::chrono::steady_clock::now();
    walk.wait();
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::milliseconds(50));
    EXPECT_TRUE(walk.finished());
}

TEST(ParallelWalk, AHeldDirectoryDoesNotHideWhatWasFoundElsewhere) {
    TempTree tree;
    for (int d = 0; d < 6; ++d) {
        tree.mkdirp("dir" + std::to_string(d));
        tree.touch("dir" + std::to_string(d) + "/report-" + std::to_string(d));
    }
    // The first subdirectory in listing order: everything else comes after it.
    std::string first;
    DIR* listing = ::opendir(tree.path().c_str());
    ASSERT_NE(listing, nullptr);
    while (dirent* entry = ::readdir(listing))
        if (first.empty() && std::string_view(entry->d_name).starts_with("dir")) first = tree / entry->d_name + "/";
    ::closedir(listing);
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    ParallelWalkHooks hooks;
    hooks.listing = [&](std::string_view dir) {
        std::unique_lock lock(mutex);
        if (dir == first) released.wait(lock, [&] { return release; });
    };
    SimList setup;
    setup.InitSimList("report", MaxListSize);
    ParallelWalk walk(setup, {true, true}, 2, hooks);
    walk.start({{tree.path()}});
    // The root and five directories of three entries: all but the held one.
    const auto started = std::chrono::steady_clock::now();
    while (walk.scannedEntries() < 2 + 6 + 5 * 3
           && std::chrono::steady_clock::now() - started < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    SimList shown;
    walk.copyList(shown);
    EXPECT_EQ(shown.RankFile(5).Name.substr(0, 7), "report-");
    EXPECT_TRUE(shown.RankFile(6).Name.empty());
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    released.notify_all();
    walk.wait();
    walk.copyList(shown);
    EXPECT_EQ(shown.RankFile(6).Name.substr(0, 7), "report-");
}

// Mounts need a private mount namespace; without the right to make one
// (not root, or in a container that forbids it) the test is skipped.
TEST(ParallelWalk, MountsAndLoopsAsInTheOneThreadWalk) {
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0
        || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        GTEST_SKIP() << "needs a private mount namespace";
    }
    TempTree tree;
    buildRandomTree(tree, 5);
    tree.mkdirp("proc-here");
    tree.mkdirp("ram");
    tree.mkdirp("a/b/loop");
    ASSERT_EQ(::mount("proc", (tree / "proc-here").c_str(), "proc", 0, nullptr), 0);
    ASSERT_EQ(::mount("tmpfs", (tree / "ram").c_str(), "tmpfs", 0, "size=1m"), 0);
    tree.touch("ram/abc-on-ram");
    ASSERT_EQ(::mount((tree / "a").c_str(), (tree / "a/b/loop").c_str(), nullptr, MS_BIND, nullptr), 0);
    for (bool stay : {false, true}) expectSameAsOneThread({{tree.path(), stay}}, bothMeasures({"abc"}, {200}));
    ::umount2((tree / "a/b/loop").c_str(), MNT_DETACH);
    ::umount2((tree / "proc-here").c_str(), MNT_DETACH);
    ::umount2((tree / "ram").c_str(), MNT_DETACH);
}

} // namespace
} // namespace toka::test
