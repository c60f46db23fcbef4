// The walk on several threads against the one-thread walk: the same ranks
// (score bytes, name, directory, order, ties), the same overflow slot, the
// same count and the same skipped directories, on trees built for ties and
// for a cut-off that moves, and on a real tree (test_scan.cpp walks its
// trees of odd entries, errors and mounts every way); stopping, and a
// directory that takes long to list.
#include <chrono>
#include <dirent.h>
#include <condition_variable>
#include <mutex>
#include <thread>

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

} // namespace
} // namespace toka::test
