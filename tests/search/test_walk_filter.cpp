// The filters in both walks: with a filter, the ranks (overflow slot
// included) equal those of the engine fed with only the passing entries in
// the walk's order, and the count leaves out exactly the directories not
// entered -- for the one-thread walk (which reads metadata only for entries
// that would enter the list) and for the walk on several threads.
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>

#include "search/parallel_walk.h"
#include "search/record_replay.h"
#include "walk_compare.h"

namespace toka::test {
namespace {

constexpr std::int64_t kDay = 86400;
constexpr std::int64_t kNow = 1'750'000'000;

struct FilterCase {
    const char* label;
    WalkFilter filter;
    // Whether the walk enters the directory rel (relative to the root, ends
    // in "/"; "" for the root itself).
    std::function<bool(const std::string& rel)> entered;
    // Whether an entry of an entered directory is rated.
    std::function<bool(const std::string& rel, const std::string& name, const struct stat& st)> rated;
};

std::vector<std::string> components(const std::string& rel) {
    std::vector<std::string> parts;
    for (std::size_t pos = 0, slash; (slash = rel.find('/', pos)) != std::string::npos; pos = slash + 1)
        parts.push_back(rel.substr(pos, slash - pos));
    return parts;
}

bool anyComponent(const std::string& rel, const std::function<bool(const std::string&)>& test) {
    for (const std::string& part : components(rel))
        if (test(part)) return true;
    return false;
}

bool extensionIn(const std::string& name, std::initializer_list<const char*> wanted) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return false;
    std::string ext = name.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* w : wanted)
        if (ext == w) return true;
    return false;
}

void makeFile(const TempTree& tree, const std::string& rel, off_t size, std::int64_t daysAgo) {
    tree.touch(rel, size);
    const timespec times[2] = {{kNow - daysAgo * kDay, 0}, {kNow - daysAgo * kDay, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (tree / rel).c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << rel;
}

void buildFilterTree(const TempTree& tree) {
    for (const char* dir : {"docs/2024", "node_modules/pkg/.cache", ".hidden/visible", "a/b/deep/x", "music"})
        tree.mkdirp(dir);
    int n = 0;
    for (const std::string dir : {"", "docs/", "docs/2024/", "node_modules/pkg/", "node_modules/pkg/.cache/",
                                  ".hidden/", ".hidden/visible/", "a/", "a/b/deep/", "a/b/deep/x/", "music/"}) {
        for (const std::string name : {"report.pdf", "Report.PDF", "notes.txt", "report.tmp", ".report.rc", "report",
                                       "re\xffport.txt", "rep\nort.pdf"}) {
            makeFile(tree, dir + name, (n * 997) % 9000, n % 40);
            ++n;
        }
    }
    ASSERT_EQ(::symlink("docs", (tree / "report-link").c_str()), 0);
    ASSERT_EQ(::mkfifo((tree / "docs/report.fifo").c_str(), 0644), 0);
}

std::vector<FilterCase> filterCases(const std::string& root) {
    auto all = [](const std::string&) { return true; };
    auto nameIs = [](const char* wanted) { return [wanted](const std::string& part) { return part == wanted; }; };
    std::vector<FilterCase> cases;
    cases.push_back({"exclude by name and suffix",
                     {.exclude = {"node_modules", "*.tmp"}},
                     [=](const std::string& rel) { return !anyComponent(rel, nameIs("node_modules")); },
                     [](const std::string&, const std::string& name, const struct stat&) {
                         return name != "node_modules" && !name.ends_with(".tmp");
                     }});
    cases.push_back({"exclude by path",
                     {.exclude = {root + "a/*/deep", root + "docs/*/report.pdf"}},
                     [](const std::string& rel) { return !rel.starts_with("a/b/deep/"); },
                     [](const std::string& rel, const std::string& name, const struct stat&) {
                         return !(rel == "a/b/" && name == "deep") && !(rel == "docs/2024/" && name == "report.pdf");
                     }});
    cases.push_back(
        {"hidden left out",
         {.skipHidden = true},
         [](const std::string& rel) {
             return !anyComponent(rel, [](const std::string& p) { return p.starts_with('.'); });
         },
         [](const std::string&, const std::string& name, const struct stat&) { return !name.starts_with('.'); }});
    cases.push_back({"files and links",
                     {.kinds = kKindFile | kKindSymlink},
                     all,
                     [](const std::string&, const std::string&, const struct stat& st) {
                         return S_ISREG(st.st_mode) || S_ISLNK(st.st_mode);
                     }});
    cases.push_back({"special and directories",
                     {.kinds = kKindSpecial | kKindDirectory},
                     all,
                     [](const std::string&, const std::string&, const struct stat& st) {
                         return S_ISFIFO(st.st_mode) || S_ISDIR(st.st_mode);
                     }});
    cases.push_back({"extensions",
                     {.extensions = {"PDF", ".txt"}},
                     all,
                     [](const std::string&, const std::string& name, const struct stat&) {
                         return extensionIn(name, {"pdf", "txt"});
                     }});
    // Both bounds are the sizes of files in the root: both are inclusive.
    cases.push_back({"size bounds",
                     {.minSize = 997, .maxSize = 4985},
                     all,
                     [](const std::string&, const std::string&, const struct stat& st) {
                         return !S_ISDIR(st.st_mode) && st.st_size >= 997 && st.st_size <= 4985;
                     }});
    cases.push_back({"modified window",
                     {.modifiedFrom = kNow - 20 * kDay, .modifiedUntil = kNow - 5 * kDay},
                     all,
                     [](const std::string&, const std::string&, const struct stat& st) {
                         return st.st_mtim.tv_sec >= kNow - 20 * kDay && st.st_mtim.tv_sec < kNow - 5 * kDay;
                     }});
    cases.push_back({"depth two",
                     {.maxDepth = 2},
                     [](const std::string& rel) { return components(rel).size() < 2; },
                     [](const std::string&, const std::string&, const struct stat&) { return true; }});
    cases.push_back({"all together",
                     {.exclude = {"deep"},
                      .skipHidden = true,
                      .extensions = {"pdf"},
                      .minSize = 10,
                      .modifiedFrom = kNow - 30 * kDay},
                     [](const std::string& rel) {
                         return !anyComponent(rel, [](const std::string& p) { return p == "deep" || p[0] == '.'; });
                     },
                     [](const std::string&, const std::string& name, const struct stat& st) {
                         return name != "deep" && name[0] != '.' && extensionIn(name, {"pdf"}) && !S_ISDIR(st.st_mode)
                                && st.st_size >= 10 && st.st_mtim.tv_sec >= kNow - 30 * kDay;
                     }});
    return cases;
}

using Ranks = std::vector<std::tuple<std::array<std::uint8_t, 6>, std::string, std::string>>;

Ranks ranksOf(const SimList& list) {
    Ranks ranks;
    for (int r = 1; r <= list.ListSize() + 1; ++r)
        ranks.emplace_back(list.RankScore(r).bytes(), list.RankFile(r).Name, list.RankFile(r).Dir);
    return ranks;
}

TEST(WalkFilters, RankTheEntriesThatPassInTheWalksOrder) {
    TempTree tree;
    buildFilterTree(tree);
    const std::string root = tree.path();
    for (const FilterCase& c : filterCases(root)) {
        // One record serves every filter that only decides which entries
        // are rated: the record of a walk with just the filters that shape
        // the listing, replayed with them all.
        ScanOptions shaping;
        shaping.filter = {.exclude = c.filter.exclude,
                          .skipHidden = c.filter.skipHidden,
                          .oneFileSystem = c.filter.oneFileSystem,
                          .maxDepth = c.filter.maxDepth};
        const auto record = recordWalk({{root}}, shaping);
        ASSERT_TRUE(record);
        for (bool fuzzy : {true, false}) {
            for (int size : {200, 4}) {
                SCOPED_TRACE(std::string(c.label) + (fuzzy ? " fuzzy " : " similar ") + std::to_string(size));
                // The engine fed with only the passing entries, in the
                // unfiltered walk's order.
                SimList expected;
                expected.InitSimList("report", static_cast<std::uint16_t>(size));
                std::uint64_t expectedCount = 0;
                ScanHooks hooks;
                hooks.rate = [&](std::string_view name, std::string_view dir) {
                    const std::string rel(dir.substr(root.size()));
                    if (!c.entered(rel)) return;
                    ++expectedCount;
                    struct stat st {};
                    if (::lstat((std::string(dir) + std::string(name)).c_str(), &st) != 0) return;
                    if (c.rated(rel, std::string(name), st)) expected.RateFile(name, dir, fuzzy);
                };
                Scanner plain({true, fuzzy}, hooks);
                ASSERT_EQ(plain.ScanDirectory(root), 0);

                InitSimList("report", static_cast<std::uint16_t>(size));
                Scanner one({true, fuzzy, c.filter}, {});
                ASSERT_EQ(one.ScanDirectory(root), 0);
                EXPECT_EQ(ranksOf(TheSimList()), ranksOf(expected)) << "one thread";
                EXPECT_EQ(one.scannedEntries(), expectedCount) << "one thread";

                SimList setup;
                setup.InitSimList("report", static_cast<std::uint16_t>(size));
                ParallelWalk walk(setup, {true, fuzzy, c.filter}, 3);
                walk.start({{root}});
                walk.wait();
                SimList found;
                walk.copyList(found);
                EXPECT_EQ(ranksOf(found), ranksOf(expected)) << "three threads";
                EXPECT_EQ(walk.scannedEntries(), expectedCount) << "three threads";

                RecordReplay replay(record, setup, {true, fuzzy, c.filter});
                replay.run(2);
                EXPECT_EQ(ranksOf(replay.list()), ranksOf(expected)) << "replayed";
                EXPECT_EQ(replay.scannedEntries(), expectedCount) << "replayed";
            }
        }
    }
}

TEST(WalkFilters, ExcludedAndHiddenNamesNeverEnterARecord) {
    TempTree tree;
    buildFilterTree(tree);
    const std::string root = normalizeDirectoryPath(tree.path());
    ScanOptions options;
    options.filter = {.exclude = {"node_modules", "*.tmp", root + "docs/*/report.pdf"}, .skipHidden = true};
    const auto record = recordWalk({{root}}, options);
    ASSERT_TRUE(record);
    SimList setup;
    setup.InitSimList("x", 1);
    RecordReplay replay(record, setup, options);
    replay.run(1); // names the blocks
    std::set<std::string> paths;
    for (std::uint32_t block = 0; block < record->blockCount(); ++block)
        for (const RecordedEntry entry : record->entries(block))
            paths.insert(replay.directoryPath(block).substr(root.size()) + std::string(entry.name));
    for (const std::string& path : paths) {
        EXPECT_FALSE(path.find("node_modules") != std::string::npos || path.ends_with(".tmp")
                     || path == "docs/2024/report.pdf" || path.starts_with('.') || path.find("/.") != std::string::npos)
            << path;
    }
    for (const char* kept : {"docs/2024/notes.txt", "docs/report.pdf", "a/b/deep/x/report", "report-link"})
        EXPECT_EQ(paths.count(kept), 1u) << kept;
}

TEST(WalkFilters, DescribeNamesEveryActiveFilter) {
    EXPECT_FALSE(WalkFilter().active());
    EXPECT_TRUE(WalkFilter().describe().empty());
    const WalkFilter filter{.exclude = {".git", "*.o"},
                            .skipHidden = true,
                            .kinds = kKindFile | kKindSpecial,
                            .extensions = {"pdf"},
                            .minSize = 1024 * 1024,
                            .maxSize = 1500,
                            .oneFileSystem = true,
                            .maxDepth = 3};
    EXPECT_TRUE(filter.active());
    EXPECT_EQ(filter.describe(),
              (std::vector<std::string>{"Excluded: .git *.o", "Hidden entries left out", "Kind: files, special files",
                                        "Extensions: pdf", "Size: from 1 MB to 1500 bytes", "Stays on one file system",
                                        "Depth: at most 3"}));
}

} // namespace
} // namespace toka::test
