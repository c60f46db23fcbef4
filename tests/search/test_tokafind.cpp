// tokafind end to end on a small tree.

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "../support/environment.h"
#include "../support/temp_tree.h"
#include "tokafind_options.h"

namespace toka::test {
namespace {

struct ToolRun {
    int status = -1;
    std::vector<std::vector<std::string>> lines; // stdout, split at tabs
    std::string out;
    std::string err;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// asNobody: run as the user "nobody" (the caller checks that we are root),
// for whom a directory of mode 0700 owned by root cannot be read.
// cacheHome: XDG_CACHE_HOME for the run, where its records are kept.
ToolRun runTokafind(const std::vector<std::string>& args, const std::string& cwd = "", bool asNobody = false,
                    const std::string& cacheHome = "") {
    const std::string tool = std::string(TOKA_TOOLS_DIR) + "/tokafind";
    EXPECT_EQ(::access(tool.c_str(), X_OK), 0) << "build the tokafind target first: " << tool;
    char outName[] = "/tmp/tokafind-out-XXXXXX";
    char errName[] = "/tmp/tokafind-err-XXXXXX";
    int outFd = ::mkstemp(outName);
    int errFd = ::mkstemp(errName);
    pid_t child = ::fork();
    if (child == 0) {
        ::dup2(outFd, STDOUT_FILENO);
        ::dup2(errFd, STDERR_FILENO);
        if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(99);
        if (!cacheHome.empty()) ::setenv("XDG_CACHE_HOME", cacheHome.c_str(), 1);
        ::alarm(60); // a run that hangs ends, and its status says so
        if (asNobody && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(97);
        std::vector<char*> argv = {const_cast<char*>(tool.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(tool.c_str(), argv.data());
        ::_exit(98);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(outFd);
    ::close(errFd);
    ToolRun run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = slurp(outName);
    run.err = slurp(errName);
    ::unlink(outName);
    ::unlink(errName);
    std::stringstream lines(run.out);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::size_t pos = 0;
        for (;;) {
            std::size_t tab = line.find('\t', pos);
            fields.push_back(line.substr(pos, tab == std::string::npos ? std::string::npos : tab - pos));
            if (tab == std::string::npos) break;
            pos = tab + 1;
        }
        run.lines.push_back(fields);
    }
    return run;
}

const std::vector<std::string>* findRow(const ToolRun& run, const std::string& name) {
    for (const auto& fields : run.lines) {
        if (fields.size() == 7 && fields[1] == name) return &fields;
    }
    return nullptr;
}

class TokafindTree : public ::testing::Test {
protected:
    void SetUp() override {
        tree.mkdirp("docs/old");
        tree.mkdirp("reports");
        tree.touch("docs/report.txt", 12000);
        tree.touch("docs/old/report-1999.txt");
        tree.touch("report");
        tree.touch("notes.md");
        tree.touch("report\nwith newline");
    }
    // A run whose records, if any, go to the cache tree.
    ToolRun runWithCache(const std::vector<std::string>& args) const {
        return runTokafind(args, "", false, cache.path());
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
    ToolRun run = runTokafind({"report", tree.path()});
    ASSERT_EQ(run.status, 0) << run.err;
    for (const auto& fields : run.lines) ASSERT_EQ(fields.size(), 7u) << run.out;

    const auto* file = findRow(run, "report.txt");
    ASSERT_NE(file, nullptr) << run.out;
    EXPECT_EQ((*file)[0], "100"); // fuzzy: the name contains the text
    EXPECT_EQ((*file)[2], tree.path() + "docs/");
    EXPECT_EQ((*file)[3].size(), 10u) << "ISO date";
    EXPECT_EQ((*file)[3][4], '-');
    EXPECT_EQ((*file)[4].size(), 8u) << "24-hour time with seconds";
    EXPECT_EQ((*file)[5], "-A---");
    EXPECT_EQ((*file)[6], "11 KB");

    const auto* dir = findRow(run, "reports");
    ASSERT_NE(dir, nullptr);
    EXPECT_EQ((*dir)[3], "");
    EXPECT_EQ((*dir)[4], "");
    EXPECT_EQ((*dir)[5], "----D");
    EXPECT_EQ((*dir)[6], "");

    EXPECT_NE(findRow(run, "report\\nwith newline"), nullptr) << "one line per rank";
    EXPECT_NE(findRow(run, "report-1999.txt"), nullptr);
    // root: . .. docs reports report notes.md "report\n..."; docs: . .. old
    // report.txt; old: . .. report-1999.txt; reports: . ..
    EXPECT_NE(run.err.find("16 entries scanned\n"), std::string::npos) << run.err;
}

TEST_F(TokafindTree, OptionsChangeTheSearch) {
    ToolRun flat = runTokafind({"--no-recurse", "report", tree.path()});
    ASSERT_EQ(flat.status, 0);
    EXPECT_EQ(findRow(flat, "report.txt"), nullptr);
    EXPECT_NE(findRow(flat, "reports"), nullptr);
    EXPECT_NE(flat.err.find("7 entries scanned"), std::string::npos) << flat.err;

    ToolRun one = runTokafind({"--rows", "1", "report", tree.path()});
    EXPECT_EQ(one.lines.size(), 1u);

    ToolRun similar = runTokafind({"--similar", "report", tree.path()});
    ASSERT_FALSE(similar.lines.empty());
    EXPECT_EQ(similar.lines[0][1], "report");
    EXPECT_EQ(similar.lines[0][0], "100");
    const auto* longer = findRow(similar, "report.txt");
    ASSERT_NE(longer, nullptr);
    EXPECT_NE((*longer)[0], "100") << "the length-dependent measure charges extra characters";

    // The default directory is the current one, shown as an absolute path.
    ToolRun here = runTokafind({"--rows=200", "notes"}, tree.path());
    const auto* notes = findRow(here, "notes.md");
    ASSERT_NE(notes, nullptr) << here.out << here.err;
    EXPECT_EQ((*notes)[2], tree.path());
}

TEST_F(TokafindTree, UsageErrorsExitWithTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {"--frobnicate", "report", tree.path()},
        {"--rows", "0", "report"},
        {"--rows", "201", "report"},
        {"--rows", "ten", "report"},
        {}, // no search text
        {"--all-fixed-disks", "report", tree.path()},
        {"report", tree.path(), "extra"},
        {"--record", "report", "--from-record", tree.path()},
        {"--forget-records", "report"},
    };
    for (const auto& args : cases) {
        ToolRun run = runWithCache(args);
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        EXPECT_EQ(run.status, 2) << joined;
        EXPECT_TRUE(run.out.empty()) << joined;
        EXPECT_NE(run.err.find("tokafind: "), std::string::npos) << joined;
    }
    ToolRun help = runTokafind({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: tokafind"), std::string::npos);
}

// A record answers exactly as the walk it recorded, whatever the measure and
// the rating filters; the options that shape the listing need their own.
TEST_F(TokafindTree, RecordedWalkAnswersAsTheLiveWalk) {
    test::ScopedTimeZone utc{"UTC0"};
    const std::vector<std::string> search = {"report", tree.path()};
    auto with = [&search](std::vector<std::string> args) {
        args.insert(args.end(), search.begin(), search.end());
        return args;
    };
    const ToolRun live = runWithCache(search);
    ASSERT_EQ(live.status, 0) << live.err;
    EXPECT_EQ(cacheFiles(), std::vector<std::string>{}) << "a plain search writes no record";
    const ToolRun none = runWithCache(with({"--from-record"}));
    EXPECT_EQ(none.status, 3);
    EXPECT_EQ(none.out, "");
    EXPECT_NE(none.err.find("no recorded walk of '" + tree.path() + "'"), std::string::npos) << none.err;

    const std::int64_t before = std::time(nullptr);
    const ToolRun recorded = runWithCache(with({"--record", "-j1"}));
    EXPECT_EQ(recorded.status, 0) << recorded.err;
    EXPECT_EQ(recorded.out, live.out);
    ASSERT_EQ(cacheFiles().size(), 1u);
    const std::string file = cacheFiles()[0];

    const ToolRun listed = runWithCache({"--list-records"});
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
    EXPECT_EQ(fields[3], std::to_string(std::filesystem::file_size(file)));
    EXPECT_EQ(fields[4], tree.path());
    EXPECT_TRUE(fields[5].starts_with("recurse=1, ")) << fields[5];

    const std::vector<std::vector<std::string>> queries = {
        {},
        {"--similar"},
        {"-t", "f"}, // a rating filter given at replay only
        {"-j1", "--similar", "-e", "txt"},
        {"-j2", "--rows", "2", "-0"},
    };
    for (const auto& query : queries) {
        const ToolRun expected = runWithCache(with(query));
        std::vector<std::string> args = with(query);
        args.insert(args.begin(), "--from-record");
        const ToolRun replayed = runWithCache(args);
        EXPECT_EQ(replayed.status, 0) << replayed.err;
        EXPECT_EQ(replayed.out, expected.out) << args[1];
        EXPECT_EQ(replayed.err, fields[2] + " entries scanned (from the walk of " + fields[0].substr(0, 16) + ")\n");
    }
    const std::vector<std::vector<std::string>> otherWalks = {
        {"--no-hidden"}, {"-E", "x"}, {"--no-recurse"}, {"-d", "2"}, {"--from-record", "report", tree / "docs"}};
    for (std::vector<std::string> args : otherWalks) {
        if (args[0] != "--from-record") args = with(args), args.insert(args.begin(), "--from-record");
        const ToolRun other = runWithCache(args);
        EXPECT_EQ(other.status, 3) << args[1];
        EXPECT_EQ(other.out, "") << args[1];
    }

    const ToolRun forgotten = runWithCache({"--forget-records"});
    EXPECT_EQ(forgotten.status, 0);
    EXPECT_EQ(forgotten.err, "tokafind: removed 1 record\n");
    EXPECT_EQ(runWithCache({"--list-records"}).out, "");
    EXPECT_EQ(runWithCache(with({"--from-record"})).status, 3);

    // A damaged record is no record.
    ASSERT_EQ(runWithCache(with({"--record"})).status, 0);
    ASSERT_EQ(cacheFiles().size(), 1u);
    std::fstream damaged(cacheFiles()[0], std::ios::in | std::ios::out | std::ios::binary);
    damaged.seekg(100);
    const char byte = static_cast<char>(damaged.get());
    damaged.seekp(100);
    damaged.put(static_cast<char>(byte ^ 0x5A));
    damaged.close();
    EXPECT_EQ(runWithCache(with({"--from-record"})).status, 3);
}

// The ranks come first; a record that cannot be kept is then an error.
TEST_F(TokafindTree, RecordThatCannotBeWrittenIsAnError) {
    tree.touch("cache-file");
    ToolRun failed = runTokafind({"--record", "report", tree.path()}, "", false, tree / "cache-file");
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.out, runWithCache({"report", tree.path()}).out);
    EXPECT_NE(failed.err.find("tokafind: cannot write the record: "), std::string::npos) << failed.err;
}

// A folder or record of the user's cache that is not theirs alone is
// refused with one line, and nothing waits on a FIFO put under a record's
// name.
TEST_F(TokafindTree, RecordsOutsideTheUsersOwnFolderAreRefused) {
    const std::vector<std::string> search = {"report", tree.path()};
    ASSERT_EQ(runWithCache({"--record", "report", tree.path()}).status, 0);
    ASSERT_EQ(cacheFiles().size(), 1u);
    const std::string record = cacheFiles()[0];
    const std::string walks = std::filesystem::path(record).parent_path();

    ASSERT_EQ(::unlink(record.c_str()), 0);
    ASSERT_EQ(::mkfifo(record.c_str(), 0600), 0);
    const ToolRun fifo = runWithCache({"--from-record", "report", tree.path()});
    EXPECT_EQ(fifo.status, 3) << fifo.err;
    EXPECT_EQ(fifo.out, "");
    EXPECT_EQ(fifo.err, "tokafind: recorded walks refused: use " + record + ": it is not a regular file\n");
    EXPECT_EQ(runWithCache({"--list-records"}).status, 0) << "a FIFO is no record to list";

    ASSERT_EQ(::chmod(walks.c_str(), 0777), 0);
    const std::string refusal = "recorded walks refused: use " + walks + ": other users may write to it (mode 0777)\n";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {{"--from-record", "report", tree.path()}, 3, "tokafind: " + refusal},
        {{"--list-records"}, 1, "tokafind: " + refusal},
        {{"--forget-records"},
         1,
         "tokafind: cannot remove the records: use " + walks + ": other users may write to it (mode 0777)\n"},
        {{"--record", "report", tree.path()},
         1,
         "16 entries scanned\ntokafind: cannot write the record: use " + walks
             + ": other users may write to it (mode 0777)\n"},
    };
    for (const auto& c : cases) {
        const ToolRun run = runWithCache(c.args);
        EXPECT_EQ(run.status, c.status) << c.args[0];
        EXPECT_EQ(run.err, c.err) << c.args[0];
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
    ASSERT_EQ(::chown((cache / "nobody").c_str(), 65534, 65534), 0);
    const ToolRun live = runTokafind({"--record", "report", tree.path()}, "", true, cache / "nobody");
    ASSERT_EQ(live.status, 0) << live.err;
    EXPECT_EQ(live.err, "14 entries scanned, 1 directory skipped\n");
    const ToolRun replayed = runTokafind({"--from-record", "report", tree.path()}, "", true, cache / "nobody");
    EXPECT_EQ(replayed.status, 0) << replayed.err;
    EXPECT_EQ(replayed.out, live.out);
    EXPECT_TRUE(replayed.err.starts_with("14 entries scanned, 1 directory skipped (from the walk of ")) << replayed.err;
}

// A tree for the filters: every name holds "rep", so that each entry is
// ranked unless a filter leaves it out.  Times are UTC; "old" is
// 2020-01-01 12:00:00.
class TokafindFilterTree : public ::testing::Test {
protected:
    static constexpr std::int64_t kOld = 1577880000;
    static constexpr const char* kOddName = "rep-odd\xff\n.txt";

    void SetUp() override {
        tree.mkdirp("rep-dir");
        tree.mkdirp("node_modules/.rep-hidden");
        tree.mkdirp(".rep-hid");
        tree.touch("rep-small.txt", 100);
        tree.touch("rep-big.PDF", 5000);
        tree.touch(kOddName, 2048);
        tree.touch("rep-dir/rep-inner.pdf", 10);
        tree.touch("node_modules/.rep-hidden/rep-deep.txt");
        tree.touch(".rep-hid/rep-in-hidden.txt");
        ASSERT_EQ(::symlink("rep-small.txt", (tree / "rep-link").c_str()), 0);
        ASSERT_EQ(::mkfifo((tree / "rep-fifo").c_str(), 0644), 0);
        // Contents first: making an entry changes its directory's time.
        for (const char* old : {"node_modules/.rep-hidden/rep-deep.txt", ".rep-hid/rep-in-hidden.txt",
                                "rep-dir/rep-inner.pdf", "node_modules/.rep-hidden", "node_modules", ".rep-hid",
                                "rep-dir", "rep-small.txt", "rep-link", "rep-fifo"}) {
            setTime(old, kOld);
        }
        setTime("rep-big.PDF", now - 3600);
        setTime(kOddName, now - 10 * 86400);
    }
    void setTime(const std::string& relative, std::int64_t seconds) {
        const timespec times[2] = {{seconds, 0}, {seconds, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (tree / relative).c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << relative;
    }
    // The paths printed with -0, relative to the tree.
    std::set<std::string> printedPaths(const ToolRun& run) const {
        std::set<std::string> paths;
        EXPECT_TRUE(run.out.empty() || run.out.back() == '\0') << run.out;
        for (std::size_t pos = 0, end; (end = run.out.find('\0', pos)) != std::string::npos; pos = end + 1) {
            std::string path = run.out.substr(pos, end - pos);
            EXPECT_TRUE(path.starts_with(tree.path())) << path;
            paths.insert(path.substr(tree.path().size()));
        }
        return paths;
    }

    test::ScopedTimeZone utc{"UTC0"};
    const std::int64_t now = std::time(nullptr);
    TempTree tree;
};

TEST_F(TokafindFilterTree, FiltersChooseTheEntriesRanked) {
    const std::string odd = kOddName;
    const std::set<std::string> all = {"rep-small.txt",
                                       "rep-big.PDF",
                                       odd,
                                       "rep-dir",
                                       "rep-dir/rep-inner.pdf",
                                       "node_modules/.rep-hidden",
                                       "node_modules/.rep-hidden/rep-deep.txt",
                                       ".rep-hid",
                                       ".rep-hid/rep-in-hidden.txt",
                                       "rep-link",
                                       "rep-fifo"};
    auto allBut = [&all](const std::set<std::string>& left) {
        std::set<std::string> rest;
        for (const std::string& path : all) {
            if (!left.contains(path)) rest.insert(path);
        }
        return rest;
    };
    const struct {
        std::vector<std::string> filter;
        std::set<std::string> expected;
    } cases[] = {
        {{}, all},
        // The hidden directory below the excluded one is never reached.
        {{"-E", "node_modules"}, allBut({"node_modules/.rep-hidden", "node_modules/.rep-hidden/rep-deep.txt"})},
        {{"--exclude=*.txt"},
         allBut({"rep-small.txt", odd, "node_modules/.rep-hidden/rep-deep.txt", ".rep-hid/rep-in-hidden.txt"})},
        // With a "/", the whole path; the directory's trailing "/" is dropped.
        {{"-E", tree.path() + "rep-dir/"}, allBut({"rep-dir", "rep-dir/rep-inner.pdf"})},
        {{"--no-hidden"},
         allBut({"node_modules/.rep-hidden", "node_modules/.rep-hidden/rep-deep.txt", ".rep-hid",
                 ".rep-hid/rep-in-hidden.txt"})},
        {{"-t", "f"},
         {"rep-small.txt", "rep-big.PDF", odd, "rep-dir/rep-inner.pdf", "node_modules/.rep-hidden/rep-deep.txt",
          ".rep-hid/rep-in-hidden.txt"}},
        {{"-tl", "--type", "s"}, {"rep-link", "rep-fifo"}},
        {{"-t", "d"}, {"rep-dir", "node_modules/.rep-hidden", ".rep-hid"}},
        {{"-e", "pdf"}, {"rep-big.PDF", "rep-dir/rep-inner.pdf"}},
        {{"-e", ".txt", "-E", "node_modules", "--no-hidden"}, {"rep-small.txt", odd}},
        // Both bounds inclusive: 2k is 2048, the odd file's size; the
        // link's size is its target's length, 13.
        {{"-S", "+2k"}, {"rep-big.PDF", odd}},
        {{"-S", "+2k", "--size=-4K"}, {odd}},
        {{"-S", "-2047"},
         {"rep-small.txt", "rep-dir/rep-inner.pdf", "node_modules/.rep-hidden/rep-deep.txt",
          ".rep-hid/rep-in-hidden.txt", "rep-link", "rep-fifo"}},
        {{"--changed-within", "2d"}, {"rep-big.PDF"}},
        {{"--changed-within", "2weeks"}, {"rep-big.PDF", odd}},
        {{"--changed-before", "2d"}, allBut({"rep-big.PDF"})},
        {{"--changed-within", "2020-01-01 12:00:01"}, {"rep-big.PDF", odd}},
        {{"--changed-within", "2020-01-01", "--changed-before", "2020-01-02"}, allBut({"rep-big.PDF", odd})},
        {{"-d", "1"}, {"rep-small.txt", "rep-big.PDF", odd, "rep-dir", ".rep-hid", "rep-link", "rep-fifo"}},
        {{"--max-depth=2", "-t", "f", "--no-hidden"}, {"rep-small.txt", "rep-big.PDF", odd, "rep-dir/rep-inner.pdf"}},
    };
    for (const auto& c : cases) {
        for (const char* threads : {"-j1", "-j2"}) {
            std::vector<std::string> args = {threads, "-0", "--rows", "200"};
            args.insert(args.end(), c.filter.begin(), c.filter.end());
            args.insert(args.end(), {"rep", tree.path()});
            ToolRun run = runTokafind(args);
            std::string joined;
            for (const auto& a : args) joined += a + " ";
            EXPECT_EQ(run.status, 0) << joined << run.err;
            EXPECT_EQ(printedPaths(run), c.expected) << joined;
        }
    }
}

// -0 prints the full paths only, bytes as they are, for xargs -0.
TEST_F(TokafindFilterTree, Print0WritesRawPathsEndedByNul) {
    ToolRun run = runTokafind({"-0", "--rows=1", "rep-odd", tree.path()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, tree.path() + kOddName + std::string(1, '\0'));
    EXPECT_NE(run.err.find(" entries scanned\n"), std::string::npos) << "the count stays on standard error";
}

TEST_F(TokafindFilterTree, MalformedValuesNameTheirOption) {
    const struct {
        std::vector<std::string> args;
        std::string message; // the start of the one line on standard error
    } cases[] = {
        {{"--size", "+5q"}, "--size: '+5q' is not a size like +10k or -2M\n"},
        {{"-S", "10k"}, "--size: '10k' is not"},
        {{"-S+99999999999999999999g"}, "--size: '+99999999999999999999g' is not"},
        {{"--type=file"}, "--type: 'file' is not"},
        {{"-t", "x"}, "--type: 'x' is not"},
        {{"-e", "."}, "--extension: '.' is not"},
        {{"--extension", "tar.gz"}, "--extension: 'tar.gz' is not"},
        {{"-E", ""}, "--exclude: '' is not"},
        {{"--changed-within", "yesterday"}, "--changed-within: 'yesterday' is neither"},
        {{"--changed-within=30m"}, "--changed-within: '30m' is neither"},
        {{"--changed-before", "2024-02-30"}, "--changed-before: '2024-02-30' is neither"},
        {{"-d", "0"}, "--max-depth: '0' is not"},
        {{"--max-depth=two"}, "--max-depth: 'two' is not"},
        {{"-j0"}, "--threads takes a number"},
        {{"rep", tree.path(), "--size"}, "--size: no value given"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        if (args.size() < 3) args.insert(args.end(), {"rep", tree.path()});
        ToolRun run = runTokafind(args);
        EXPECT_EQ(run.status, 2) << c.message;
        EXPECT_EQ(run.out, "") << c.message;
        EXPECT_TRUE(run.err.starts_with("tokafind: " + c.message)) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << "one message and the hint, no walk";
    }
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
        ToolRun run = runTokafind({"report", c.dir}, "", c.asNobody);
        EXPECT_EQ(run.status, 2) << c.dir;
        EXPECT_EQ(run.out, "") << c.dir;
        EXPECT_EQ(run.err, "tokafind: cannot read '" + c.dir + "': " + std::strerror(c.error) + "\n");
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
        ToolRun run = runTokafind(args, "", true);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_NE(findRow(run, "report.txt"), nullptr) << "what could be read is still ranked";
        std::stringstream err(run.err);
        std::vector<std::string> lines;
        for (std::string line; std::getline(err, line);) lines.push_back(line);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), c.last);
        EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end() - 1), c.named);
        EXPECT_EQ(lines.size(), c.named.size() + 1) << run.err;
        for (const std::string& dir : c.locked) ASSERT_EQ(::chmod((tree / dir).c_str(), 0755), 0);
    }
}

} // namespace
} // namespace toka::test
