// A record kept current by watching its directories: after every kind of
// change, the record the watch answers with replays as the live walk of the
// tree as it is now, and it is called current only while every directory
// is watched.

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/listing/directory_watch.h"
#include "search/record_watch.h"
#include "walk_compare.h"

namespace toka::test {
namespace {

using namespace std::chrono_literals;

// A tree of seven directories (one of them a stand-in for the records'
// folder) and the record of its walk.
struct WatchedTree {
    TempTree tree;
    std::vector<WalkRoot> roots = {{tree.path()}};
    std::shared_ptr<const WalkRecord> record;

    WatchedTree() {
        for (const char* dir : {"a/b/c", "a/report-dir", "x", "records"}) tree.mkdirp(dir);
        for (const char* file : {"report", "a/report.txt", "a/b/c/report-old", "x/reports", "records/report-record"})
            tree.touch(file);
        record = recordWalk(roots, {});
        EXPECT_TRUE(record);
    }
};

RecordWatch::Settings watchSettings(std::size_t budget, std::string ignored = {}) {
    RecordWatch::Settings settings;
    settings.budget = budget;
    settings.ignored = std::move(ignored);
    return settings;
}

TEST(RecordWatch, EveryChangeIsInTheNextAnswer) {
    const WatchedTree watched;
    ASSERT_TRUE(watched.record);
    const auto& [tree, roots, record] = watched;
    RecordWatch watch(roots, {}, record, watchSettings(1000));

    struct Case {
        const char* what;
        std::function<void()> change;
    };
    const auto rename = [&](const char* from, const char* to) {
        ASSERT_EQ(::rename((tree / from).c_str(), (tree / to).c_str()), 0) << from;
    };
    // One after another on the same watch: each builds on the record the
    // one before left.
    const std::vector<Case> cases = {
        {"nothing changed", [] {}},
        {"file created at the top", [&] { tree.touch("report-new"); }},
        {"file created three levels down", [&] { tree.touch("a/b/c/report-deep"); }},
        {"file deleted", [&] { ::unlink((tree / "a/report.txt").c_str()); }},
        {"file renamed", [&] { rename("x/reports", "x/reported"); }},
        {"directory renamed with its contents", [&] { rename("a/b", "a/report-b"); }},
        {"directory made, then a file in it",
         [&] {
             tree.mkdirp("new/er");
             tree.touch("new/er/report-fresh");
         }},
        {"file in a directory made by the change before", [&] { tree.touch("new/er/report-later"); }},
        // The same directories as before, but one of them is new.
        {"directory removed and made again",
         [&] {
             std::filesystem::remove_all(tree / "new/er");
             tree.mkdirp("new/er");
         }},
        {"file in the directory made again", [&] { tree.touch("new/er/report-again"); }},
        {"file replaced by a directory",
         [&] {
             ::unlink((tree / "report").c_str());
             tree.mkdirp("report/inside");
         }},
        {"subtree removed", [&] { std::filesystem::remove_all(tree / "a"); }},
        {"directory made unreadable", [&] { ::chmod((tree / "x").c_str(), 0); }},
    };
    for (const Case& c : cases) {
        c.change();
        const RecordWatch::Answer answer = watch.latest(5s);
        EXPECT_TRUE(answer.current) << c.what;
        for (const Search& search : bothMeasures({"report"}, {200, 3}))
            EXPECT_EQ(replayOf(answer.record, search, 2, answer.signatures.get()), liveRanks(roots, search))
                << c.what << ", " << (search.fuzzy ? "fuzzy" : "similar") << " size " << search.listSize;
    }
    ::chmod((tree / "x").c_str(), 0755);
}

TEST(RecordWatch, CurrentOnlyWhileEveryDirectoryIsWatched) {
    const WatchedTree watched;
    ASSERT_TRUE(watched.record);
    const auto& [tree, roots, record] = watched;
    const std::size_t directories = record->blockCount();
    struct Case {
        const char* what;
        std::size_t budget;
        std::string ignored;
        bool current;
        std::size_t watched;
    };
    const std::vector<Case> cases = {
        {"budget for all", directories, "", true, directories},
        {"one short of the budget", directories - 1, "", false, directories - 1},
        {"the records' folder left out", directories, tree / "records/", true, directories - 1},
    };
    for (const Case& c : cases) {
        RecordWatch watch(roots, {}, record, watchSettings(c.budget, c.ignored));
        tree.touch("records/report-written"); // no walk follows where it is ignored
        EXPECT_EQ(watch.latest(5s).current, c.current) << c.what;
        EXPECT_EQ(watch.watchedDirectories(), c.watched) << c.what;
        // Settled, it walks no more: the same directories are watched after
        // each walk, whatever order the walk's threads recorded them in.
        const std::uint64_t walks = watch.walks();
        std::this_thread::sleep_for(150ms);
        EXPECT_EQ(watch.walks(), walks) << c.what;
        ::unlink((tree / "records/report-written").c_str());
    }
}

TEST(RecordWatch, AQuietTreeCostsNoWalk) {
    const WatchedTree watched;
    ASSERT_TRUE(watched.record);
    const auto& [tree, roots, record] = watched;
    int saved = 0;
    RecordWatch::Settings settings = watchSettings(1000, tree / "records/");
    settings.refreshed = [&](std::shared_ptr<const WalkRecordWriter>) { ++saved; };
    RecordWatch watch(roots, {}, record, settings);
    ASSERT_TRUE(watch.latest(5s).current);
    const std::uint64_t walks = watch.walks();
    // Writes in the ignored folder, as a saved record's, call for nothing.
    for (int i = 0; i < 5; ++i) tree.touch("records/r" + std::to_string(i));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(watch.walks(), walks);
    EXPECT_EQ(saved, static_cast<int>(walks));
    // A burst of changes is gathered into few walks.
    for (int i = 0; i < 50; ++i) tree.touch("x/burst" + std::to_string(i));
    EXPECT_TRUE(watch.latest(5s).current);
    EXPECT_LE(watch.walks(), walks + 3);
}

TEST(DirectoryWatch, TellsOfChangesToNamesOnly) {
    struct Case {
        const char* what;
        std::function<void(const TempTree&, DirectoryWatch&)> act;
        bool changed;
    };
    const std::vector<Case> cases = {
        {"a file made", [](const TempTree& t, DirectoryWatch&) { t.touch("a/new"); }, true},
        {"a file's mode changed", [](const TempTree& t, DirectoryWatch&) { ::chmod((t / "a/f").c_str(), 0600); },
         false},
        {"a file written", [](const TempTree& t, DirectoryWatch&) { writeFile(t / "a/f", "more"); }, false},
        {"a watched directory removed", [](const TempTree& t, DirectoryWatch&) { ::rmdir((t / "b").c_str()); }, true},
        {"a watch given up", [](const TempTree& t, DirectoryWatch& w) { w.watchOnly({t / "a/"}); }, false},
    };
    for (const Case& c : cases) {
        TempTree tree;
        for (const char* dir : {"a", "b"}) tree.mkdirp(dir);
        tree.touch("a/f");
        DirectoryWatch watch;
        ASSERT_TRUE(watch.valid());
        ASSERT_EQ(watch.watchOnly({tree / "a/", tree / "b/"}), 2u);
        c.act(tree, watch);
        EXPECT_EQ(watch.wait(100) == DirectoryWatch::Outcome::Changed, c.changed) << c.what;
    }
}

TEST(DirectoryWatch, BudgetIsHalfTheUsersLimitAndAtMostTheCap) {
    EXPECT_LE(DirectoryWatch::budget(), DirectoryWatch::kMaxWatches);
    EXPECT_LE(DirectoryWatch::budget(), DirectoryWatch::userLimit() / 2);
    EXPECT_GT(DirectoryWatch::budget(), 0u);
}

} // namespace
} // namespace toka::test
