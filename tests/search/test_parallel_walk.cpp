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
#include "walk_helpers.h"

namespace toka::test {
namespace {

struct Outcome {
    std::vector<std::tuple<std::array<std::uint8_t, 6>, std::string, std::string>> ranks; // overflow slot last
    std::uint64_t scanned = 0;
    std::set<std::pair<std::string, int>> skipped;
    int rootError = 0;
    friend bool operator==(const Outcome&, const Outcome&) = default;
};

void PrintTo(const Outcome& o, std::ostream* os) {
    *os << o.scanned << " scanned, " << o.skipped.size() << " skipped, root error " << o.rootError << ", ranks:";
    for (const auto& [score, name, dir] : o.ranks)
        *os << "\n  " << int(score[0]) << "/" << int(score[1]) << " " << dir << name;
}

struct Search {
    std::string text;
    bool fuzzy = true;
    int listSize = MaxListSize;
    bool recurse = true;
};

void takeRanks(const SimList& list, Outcome& out) {
    for (int r = 1; r <= list.ListSize() + 1; ++r)
        out.ranks.emplace_back(list.RankScore(r).bytes(), list.RankFile(r).Name, list.RankFile(r).Dir);
}

Outcome oneThread(const std::vector<WalkRoot>& roots, const Search& search) {
    Outcome out;
    SimList list;
    list.InitSimList(search.text, static_cast<std::uint16_t>(search.listSize));
    ScanHooks hooks;
    hooks.rate = [&](std::string_view name, std::string_view dir) { list.RateFile(name, dir, search.fuzzy); };
    hooks.skipped = [&](std::string_view dir, int error) { out.skipped.emplace(dir, error); };
    Scanner scanner({search.recurse, search.fuzzy}, hooks);
    for (std::size_t i = 0; i < roots.size(); ++i) {
        int error = scanner.ScanDirectory(roots[i].path, roots[i].stayOnFileSystem);
        if (error != 0 && roots[i].reportAsSkipped) out.skipped.emplace(normalizeDirectoryPath(roots[i].path), error);
        else if (i == 0) out.rootError = error;
    }
    out.scanned = scanner.scannedEntries();
    takeRanks(list, out);
    return out;
}

Outcome parallel(const std::vector<WalkRoot>& roots, const Search& search, unsigned threads) {
    Outcome out;
    SimList setup;
    setup.InitSimList(search.text, static_cast<std::uint16_t>(search.listSize));
    ParallelWalkHooks hooks;
    hooks.skipped = [&](std::string_view dir, int error) { out.skipped.emplace(dir, error); };
    ParallelWalk walk(setup, {search.recurse, search.fuzzy}, threads, hooks);
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

void expectSameAsOneThread(const std::vector<WalkRoot>& roots, const std::vector<Search>& searches) {
    for (const Search& search : searches) {
        const Outcome expected = oneThread(roots, search);
        for (unsigned threads : {1u, 2u, 5u}) {
            EXPECT_EQ(parallel(roots, search, threads), expected)
                << "\"" << search.text << "\" " << (search.fuzzy ? "fuzzy" : "similar") << " size " << search.listSize
                << (search.recurse ? "" : " flat") << ", " << threads << " threads";
        }
    }
}

std::vector<Search> bothMeasures(const std::vector<std::string>& texts, std::initializer_list<int> sizes) {
    std::vector<Search> searches;
    for (const std::string& text : texts)
        for (bool fuzzy : {true, false})
            for (int size : sizes) searches.push_back({text, fuzzy, size});
    return searches;
}

// Every directory holds the same names: whole subtrees tie with each other.
void buildTieTree(const TempTree& tree) {
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
void buildRandomTree(const TempTree& tree, unsigned seed) {
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
