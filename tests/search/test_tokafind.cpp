// tokafind end to end on a small tree: the rows it prints, each family of
// options reaching the search (both walks for the filters), the recorded
// walks, unreadable directories and the exit statuses.  Every value and
// mistake of the command line is the option parser's to test
// (test_tokafind_options.cpp).

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fcntl.h>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "../support/environment.h"
#include "../support/process.h"
#include "../support/temp_tree.h"
#include "tokafind_options.h"

namespace toka::test {
namespace {

struct ToolRun : ProgramRun {
    std::vector<std::vector<std::string>> lines; // stdout, split at tabs
};

const std::vector<std::string>* findRow(const ToolRun& run, const std::string& name) {
    for (const auto& fields : run.lines) {
        if (fields.size() == 7 && fields[1] == name) return &fields;
    }
    return nullptr;
}

class TokafindTree : public ::testing::Test {
protected:
    // Not UTF-8, and a line break: one line per rank all the same.
    static constexpr const char* kOddName = "report\nwith \xff.txt";

    void SetUp() override {
        tree.mkdirp("docs/old");
        tree.mkdirp("reports");
        tree.touch("docs/report.txt", 12000);
        tree.touch("docs/old/report-1999.txt");
        const timespec old[2] = {{915148800, 0}, {915148800, 0}}; // 1999-01-01
        ASSERT_EQ(::utimensat(AT_FDCWD, (tree / "docs/old/report-1999.txt").c_str(), old, 0), 0);
        tree.touch("report");
        tree.touch("notes.md");
        tree.touch(kOddName);
    }
    // A run whose records, if any, go to the cache tree unless setup says
    // otherwise.
    ToolRun run(const std::vector<std::string>& args, ProgramSetup setup = {}) const {
        std::vector<std::string> argv = {TOKA_TOOLS_DIR "/tokafind"};
        argv.insert(argv.end(), args.begin(), args.end());
        EXPECT_EQ(::access(argv[0].c_str(), X_OK), 0) << "build the tokafind target first";
        if (setup.environment.empty()) setup.environment = {{"XDG_CACHE_HOME", cache.path()}};
        ToolRun result{runProgram(argv, setup), {}};
        std::stringstream lines(result.out);
        for (std::string line; std::getline(lines, line);) {
            std::vector<std::string> fields;
            for (std::size_t pos = 0, tab = 0; tab != std::string::npos; pos = tab + 1) {
                tab = line.find('\t', pos);
                fields.push_back(line.substr(pos, tab == std::string::npos ? std::string::npos : tab - pos));
            }
            result.lines.push_back(fields);
        }
        return result;
    }
    // The files below the cache tree.
    std::vector<std::string> cacheFiles() const {
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(cache.path())) {
            if (!entry.is_directory()) files.push_back(entry.path());
        }
        return files;
    }
    TempTree tree;
    TempTree cache;
};

TEST_F(TokafindTree, PrintsTheRanksAsTabSeparatedRows) {
    ToolRun ranks = run({"report", tree.path()});
    ASSERT_EQ(ranks.status, 0) << ranks.err;
    for (const auto& fields : ranks.lines) ASSERT_EQ(fields.size(), 7u) << ranks.out;

    const auto* file = findRow(ranks, "report.txt");
    ASSERT_NE(file, nullptr) << ranks.out;
    EXPECT_EQ((*file)[0], "100"); // fuzzy: the name contains the text
    EXPECT_EQ((*file)[2], tree.path() + "docs/");
    EXPECT_EQ((*file)[3].size(), 10u) << "ISO date";
    EXPECT_EQ((*file)[3][4], '-');
    EXPECT_EQ((*file)[4].size(), 8u) << "24-hour time with seconds";
    EXPECT_EQ((*file)[5], "-A---");
    EXPECT_EQ((*file)[6], "11 KB");

    const auto* dir = findRow(ranks, "reports");
    ASSERT_NE(dir, nullptr);
    EXPECT_EQ((*dir)[3], "");
    EXPECT_EQ((*dir)[4], "");
    EXPECT_EQ((*dir)[5], "----D");
    EXPECT_EQ((*dir)[6], "");

    EXPECT_NE(findRow(ranks, "report\\nwith \xff.txt"), nullptr) << "one line per rank";
    EXPECT_NE(findRow(ranks, "report-1999.txt"), nullptr);
    // root: . .. docs reports report notes.md kOddName; docs: . .. old
    // report.txt; old: . .. report-1999.txt; reports: . ..
    EXPECT_NE(ranks.err.find("16 entries scanned\n"), std::string::npos) << ranks.err;
}

TEST_F(TokafindTree, OptionsChangeTheSearch) {
    ToolRun flat = run({"--no-recurse", "report", tree.path()});
    ASSERT_EQ(flat.status, 0);
    EXPECT_EQ(findRow(flat, "report.txt"), nullptr);
    EXPECT_NE(findRow(flat, "reports"), nullptr);
    EXPECT_NE(flat.err.find("7 entries scanned"), std::string::npos) << flat.err;

    ToolRun one = run({"--rows", "1", "report", tree.path()});
    EXPECT_EQ(one.lines.size(), 1u);

    ToolRun similar = run({"--similar", "report", tree.path()});
    ASSERT_FALSE(similar.lines.empty());
    EXPECT_EQ(similar.lines[0][1], "report");
    EXPECT_EQ(similar.lines[0][0], "100");
    const auto* longer = findRow(similar, "report.txt");
    ASSERT_NE(longer, nullptr);
    EXPECT_NE((*longer)[0], "100") << "the length-dependent measure charges extra characters";

    // The default directory is the current one, shown as an absolute path.
    ToolRun here = run({"--rows=200", "notes"}, {.cwd = tree.path()});
    const auto* notes = findRow(here, "notes.md");
    ASSERT_NE(notes, nullptr) << here.out << here.err;
    EXPECT_EQ((*notes)[2], tree.path());
}

// The filters reach the one-thread walk (-j1) and the threaded one, the
// durations counting back from now; -0 prints only the full paths, bytes as
// they are, each ended by a NUL byte (for xargs -0).
TEST_F(TokafindTree, FiltersReachEitherWalkAndPrint0PrintsRawPaths) {
    for (const char* threads : {"-j1", "-j2"}) {
        SCOPED_TRACE(threads);
        const ToolRun paths =
            run({threads, "-0", "-t", "f", "-e", "txt", "--changed-within", "1d", "rep", tree.path()});
        EXPECT_EQ(paths.status, 0) << paths.err;
        EXPECT_TRUE(paths.out.ends_with('\0')) << paths.out;
        std::set<std::string> printed;
        for (std::size_t pos = 0, end; (end = paths.out.find('\0', pos)) != std::string::npos; pos = end + 1)
            printed.insert(paths.out.substr(pos, end - pos));
        EXPECT_EQ(printed, (std::set<std::string>{tree / "docs/report.txt", tree / kOddName}));
        EXPECT_TRUE(paths.err.ends_with(" entries scanned\n")) << "the count stays on standard error";
    }
}

TEST_F(TokafindTree, UsageErrorsExitWithTwoBeforeAnyWalk) {
    const ToolRun mistake = run({"--size", "+5q", "report", tree.path()});
    EXPECT_EQ(mistake.status, 2);
    EXPECT_EQ(mistake.out, "");
    EXPECT_EQ(mistake.err, "tokafind: --size: '+5q' is not a size like +10k or -2M\nTry 'tokafind --help'.\n");
    const ToolRun help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: tokafind"), std::string::npos);
}

// A record answers exactly as the walk it recorded, whatever the measure and
// the rating filters (the store's own tests hold which options need a
// record of their own, and damaged records).
TEST_F(TokafindTree, RecordedWalkAnswersAsTheLiveWalk) {
    ScopedTimeZone utc{"UTC0"};
    const std::vector<std::string> search = {"report", tree.path()};
    auto with = [&search](std::vector<std::string> args) {
        args.insert(args.end(), search.begin(), search.end());
        return args;
    };
    const ToolRun live = run(search);
    ASSERT_EQ(live.status, 0) << live.err;
    EXPECT_EQ(cacheFiles(), std::vector<std::string>{}) << "a plain search writes no record";
    const ToolRun none = run(with({"--from-record"}));
    EXPECT_EQ(none.status, 3);
    EXPECT_EQ(none.out, "");
    EXPECT_NE(none.err.find("no recorded walk of '" + tree.path() + "'"), std::string::npos) << none.err;

    const std::int64_t before = std::time(nullptr);
    const ToolRun recorded = run(with({"--record", "-j1"}));
    EXPECT_EQ(recorded.status, 0) << recorded.err;
    EXPECT_EQ(recorded.out, live.out);
    ASSERT_EQ(cacheFiles().size(), 1u);

    const ToolRun listed = run({"--list-records"});
    EXPECT_EQ(listed.status, 0);
    ASSERT_EQ(listed.lines.size(), 1u) << listed.out;
    const std::vector<std::string>& fields = listed.lines[0];
    ASSERT_EQ(fields.size(), 6u) << listed.out;
    const std::optional<std::int64_t> created = tokafind::parseDate(fields[0]);
    ASSERT_TRUE(created) << fields[0];
    EXPECT_GE(*created, before);
    EXPECT_LE(*created, std::time(nullptr));
    EXPECT_TRUE(fields[1].ends_with(" s") || fields[1] == "1 min") << fields[1];
    EXPECT_EQ(fields[2] + " entries scanned\n", live.err) << "the count of the walk it recorded";
    EXPECT_EQ(fields[3], std::to_string(std::filesystem::file_size(cacheFiles()[0])));
    EXPECT_EQ(fields[4], tree.path());
    EXPECT_TRUE(fields[5].starts_with("recurse=1, ")) << fields[5];

    // Another measure and a rating filter given at replay only.
    const ToolRun replayed = run(with({"--from-record", "-j2", "--similar", "-e", "txt"}));
    EXPECT_EQ(replayed.status, 0) << replayed.err;
    EXPECT_EQ(replayed.out, run(with({"-j2", "--similar", "-e", "txt"})).out);
    EXPECT_EQ(replayed.err, fields[2] + " entries scanned (from the walk of " + fields[0].substr(0, 16) + ")\n");
    EXPECT_EQ(run(with({"--from-record", "--no-hidden"})).status, 3) << "a walk of other options";

    const ToolRun forgotten = run({"--forget-records"});
    EXPECT_EQ(forgotten.status, 0);
    EXPECT_EQ(forgotten.err, "tokafind: removed 1 record\n");
    EXPECT_EQ(run({"--list-records"}).out, "");
    EXPECT_EQ(run(with({"--from-record"})).status, 3);
}

// A folder or record of the user's cache that is not theirs alone is
// refused with one line, and nothing waits on a FIFO put under a record's
// name.  A walk prints its ranks first; a record that cannot be kept is
// then an error.
TEST_F(TokafindTree, RecordsOutsideTheUsersOwnFolderAreRefused) {
    ASSERT_EQ(run({"--record", "report", tree.path()}).status, 0);
    ASSERT_EQ(cacheFiles().size(), 1u);
    const std::string record = cacheFiles()[0];
    const std::string walks = std::filesystem::path(record).parent_path();

    ASSERT_EQ(::unlink(record.c_str()), 0);
    ASSERT_EQ(::mkfifo(record.c_str(), 0600), 0);
    const ToolRun fifo = run({"--from-record", "report", tree.path()});
    EXPECT_EQ(fifo.status, 3) << fifo.err;
    EXPECT_EQ(fifo.out, "");
    EXPECT_EQ(fifo.err, "tokafind: recorded walks refused: use " + record + ": it is not a regular file\n");
    EXPECT_EQ(run({"--list-records"}).status, 0) << "a FIFO is no record to list";

    ASSERT_EQ(::chmod(walks.c_str(), 0777), 0);
    const std::string refusal = "use " + walks + ": other users may write to it (mode 0777)\n";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {{"--from-record", "report", tree.path()}, 3, "tokafind: recorded walks refused: " + refusal},
        {{"--list-records"}, 1, "tokafind: recorded walks refused: " + refusal},
        {{"--forget-records"}, 1, "tokafind: cannot remove the records: " + refusal},
        {{"--record", "report", tree.path()}, 1, "16 entries scanned\ntokafind: cannot write the record: " + refusal},
    };
    for (const auto& c : cases) {
        const ToolRun refused = run(c.args);
        EXPECT_EQ(refused.status, c.status) << c.args[0];
        EXPECT_EQ(refused.err, c.err) << c.args[0];
        EXPECT_EQ(refused.out, c.args[0] == "--record" ? run({"report", tree.path()}).out : "") << c.args[0];
    }
    EXPECT_EQ(cacheFiles(), std::vector<std::string>{record}) << "nothing written into or removed from the folder";
}

// A replay says again how many directories its walk could not list.
TEST_F(TokafindTree, ARecordTellsTheDirectoriesItsWalkSkipped) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to run tokafind as a user who cannot read";
    ASSERT_EQ(::chmod(tree.path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod((tree / "reports").c_str(), 0700), 0);
    ASSERT_EQ(::chmod(cache.path().c_str(), 0755), 0);
    cache.mkdirp("nobody");
    ASSERT_EQ(::chown((cache / "nobody").c_str(), kNobody, kNobody), 0);
    const ProgramSetup asNobody{.environment = {{"XDG_CACHE_HOME", cache / "nobody"}}, .asNobody = true};
    const ToolRun live = run({"--record", "report", tree.path()}, asNobody);
    ASSERT_EQ(live.status, 0) << live.err;
    EXPECT_EQ(live.err, "14 entries scanned, 1 directory skipped\n");
    const ToolRun replayed = run({"--from-record", "report", tree.path()}, asNobody);
    EXPECT_EQ(replayed.status, 0) << replayed.err;
    EXPECT_EQ(replayed.out, live.out);
    EXPECT_TRUE(replayed.err.starts_with("14 entries scanned, 1 directory skipped (from the walk of ")) << replayed.err;
}

// A root that cannot be read must not look like a search that found nothing.
TEST_F(TokafindTree, RootThatCannotBeReadIsAnError) {
    const bool root = ::geteuid() == 0;
    ASSERT_EQ(::chmod(tree.path().c_str(), 0755), 0);
    tree.mkdirp("private");
    ASSERT_EQ(::chmod((tree / "private").c_str(), 0700), 0);
    const struct {
        std::string dir;
        int error;
        bool asNobody;
    } cases[] = {
        {tree / "missing", ENOENT, false},
        {tree / "notes.md", ENOTDIR, false},
        {tree / "missing/..", ENOENT, false},
        {tree / "private", EACCES, true}, // root's, mode 0700: a stat succeeds
    };
    for (const auto& c : cases) {
        if (c.asNobody && !root) continue;
        ToolRun unreadable = run({"report", c.dir}, {.asNobody = c.asNobody});
        EXPECT_EQ(unreadable.status, 2) << c.dir;
        EXPECT_EQ(unreadable.out, "") << c.dir;
        EXPECT_EQ(unreadable.err, "tokafind: cannot read '" + c.dir + "': " + std::strerror(c.error) + "\n");
    }
    if (!root) GTEST_SKIP() << "the unreadable root needs root, to run tokafind as another user";
}

// Directories below the root that cannot be read are skipped, counted in the
// last line and, with --show-errors, named as the walk meets them.
TEST_F(TokafindTree, UnreadableSubdirectoriesAreCountedAndNamedOnRequest) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to run tokafind as a user who cannot read";
    ASSERT_EQ(::chmod(tree.path().c_str(), 0755), 0);
    auto denied = [&](const std::string& dir) {
        return "tokafind: skipped '" + tree.path() + dir + "/': " + std::strerror(EACCES);
    };
    const struct {
        std::vector<std::string> locked;
        bool showErrors;
        std::set<std::string> named; // in the listing's order, which may vary
        std::string last;
    } cases[] = {
        // root: 7 entries; docs: 4; docs/old: 3; reports: 2
        {{}, true, {}, "16 entries scanned"},
        {{"reports"}, false, {}, "14 entries scanned, 1 directory skipped"},
        {{"docs/old", "reports"},
         true,
         {denied("docs/old"), denied("reports")},
         "11 entries scanned, 2 directories skipped"},
    };
    for (const auto& c : cases) {
        for (const std::string& dir : c.locked) ASSERT_EQ(::chmod((tree / dir).c_str(), 0700), 0);
        std::vector<std::string> args = {"report", tree.path()};
        if (c.showErrors) args.insert(args.begin(), "--show-errors");
        ToolRun skipping = run(args, {.asNobody = true});
        EXPECT_EQ(skipping.status, 0) << skipping.err;
        EXPECT_NE(findRow(skipping, "report.txt"), nullptr) << "what could be read is still ranked";
        std::stringstream err(skipping.err);
        std::vector<std::string> lines;
        for (std::string line; std::getline(err, line);) lines.push_back(line);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), c.last);
        EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end() - 1), c.named);
        EXPECT_EQ(lines.size(), c.named.size() + 1) << skipping.err;
        for (const std::string& dir : c.locked) ASSERT_EQ(::chmod((tree / dir).c_str(), 0755), 0);
    }
}

} // namespace
} // namespace toka::test
