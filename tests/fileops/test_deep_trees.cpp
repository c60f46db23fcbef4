// A folder chain far deeper than PATH_MAX, than a low descriptor limit and
// than a recursive walk would fit into a thread's 8 MiB stack: a move across
// file systems (a copy, then the removal of the source), a delete and a merge
// into an equally deep chain go through it completely.

#include <sys/resource.h>

#include "test_support.h"

namespace toka::test {
namespace {

constexpr int kLevels = 20000;
constexpr std::size_t kStack = std::size_t{8} << 20;

/// Makes root/d/d/.../d, `levels` deep, with the file `leafName` at the
/// bottom.  Each level is made relative to its parent: the paths exceed PATH_MAX.
std::string buildChain(const std::string& root, int levels, const char* leafName = "leaf") {
    const int fd = chainBottom(root, levels, true);
    if (fd < 0) return "could not build the chain: " + std::string(std::strerror(errno));
    const int leaf = ::openat(fd, leafName, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    const bool written = leaf >= 0 && ::write(leaf, "bottom", 6) == 6;
    ::close(leaf);
    ::close(fd);
    return written ? "" : "could not write the leaf";
}

/// "" when root holds the chain that buildChain made with each of leafNames
/// at its bottom, else what differs.
std::string checkChain(const std::string& root, int levels, std::vector<const char*> leafNames = {"leaf"}) {
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int depth = 0;
    for (int next; fd >= 0 && (next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)) >= 0;
         ++depth) {
        ::close(fd);
        fd = next;
    }
    bool bottom = true;
    for (const char* leafName : leafNames) {
        char bytes[16] = {};
        const int leaf = fd >= 0 ? ::openat(fd, leafName, O_RDONLY | O_CLOEXEC) : -1;
        bottom = bottom && leaf >= 0 && ::read(leaf, bytes, sizeof bytes) == 6 && std::string(bytes) == "bottom";
        if (leaf >= 0) ::close(leaf);
    }
    if (fd >= 0) ::close(fd);
    if (depth != levels || !bottom)
        return root + " holds " + std::to_string(depth) + " levels" + (bottom ? "" : ", not every leaf");
    return "";
}

/// The first failure of a run, or "" when there was none.
std::string problemsOf(const char* what, const FileOpResult& result) {
    if (!result.failures.empty()) return std::string(what) + ": " + result.failures[0].describe().substr(0, 300);
    if (result.itemsDone != 1) return std::string(what) + ": not done";
    return "";
}

struct Limit {
    const char* name;
    rlim_t descriptors; // 0: as many as the hard limit allows
};

class DeepTree : public ::testing::TestWithParam<Limit> {};

// The case's limit of open descriptors for this process; "" or why not.
std::string limitDescriptors(const Limit& wanted) {
    struct rlimit limit {};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = wanted.descriptors ? wanted.descriptors : limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) return "setrlimit: " + std::string(std::strerror(errno));
    return {};
}

TEST_P(DeepTree, MovesAndDeletesEveryLevel) {
    const TempTree root(scratchFolder());
    const std::string problem = inChildProcess(kStack, [&]() -> std::string {
        if (std::string p = limitDescriptors(GetParam()); !p.empty()) return p;
        for (const char* folder : {"src", "moved"}) ::mkdir((root / folder).c_str(), 0755);
        if (std::string p = buildChain(root / "src", kLevels); !p.empty()) return p;

        // A move across file systems walks the tree three times: the survey
        // for a destination inside it, the copy, the removal of the source.
        ScriptedQuestions questions;
        questions.everyFailure = FailureAction::Cancel;
        FaultySystem across;
        across.fault = acrossFileSystems;
        std::string p = problemsOf(
            "move", FileOperation(questions, across).run({root / "src/d"}, FileOpKind::Move, root / "moved/"));
        if (p.empty()) p = checkChain(root / "moved", kLevels);
        if (p.empty() && exists(root / "src/d")) p = "the moved chain stayed in its source";
        if (p.empty())
            p = problemsOf("delete", FileOperation(questions).run({root / "moved/d"}, FileOpKind::Delete, ""));
        if (p.empty() && exists(root / "moved/d")) p = "delete left the chain";
        return p;
    });
    EXPECT_EQ(problem, "");
}

TEST_P(DeepTree, MergesIntoAnEquallyDeepTree) {
    const TempTree root(scratchFolder());
    const std::string problem = inChildProcess(kStack, [&]() -> std::string {
        if (std::string p = limitDescriptors(GetParam()); !p.empty()) return p;
        struct Case {
            const char* name;
            FileOpKind kind;
            bool across;
        } cases[] = {{"copy", FileOpKind::Copy, false},
                     {"move", FileOpKind::Move, false},
                     {"move across file systems", FileOpKind::Move, true}};
        for (const Case& c : cases) {
            for (const char* folder : {"src", "dest"}) ::mkdir((root / folder).c_str(), 0755);
            if (std::string p = buildChain(root / "src", kLevels, "new"); !p.empty()) return p;
            if (std::string p = buildChain(root / "dest", kLevels, "old"); !p.empty()) return p;
            ScriptedQuestions questions;
            questions.everyFailure = FailureAction::Cancel;
            questions.existsReplies = {{ExistsAction::Replace, true}}; // every level merges
            FaultySystem across;
            across.fault = acrossFileSystems;
            SystemCalls& system = c.across ? across : posixSystemCalls();
            std::string p =
                problemsOf(c.name, FileOperation(questions, system).run({root / "src/d"}, c.kind, root / "dest/"));
            if (p.empty()) p = checkChain(root / "dest", kLevels, {"old", "new"});
            if (p.empty() && c.kind == FileOpKind::Copy) p = checkChain(root / "src", kLevels, {"new"});
            if (p.empty() && c.kind == FileOpKind::Move && exists(root / "src/d"))
                p = std::string(c.name) + ": the emptied source folders stayed";
            if (!p.empty()) return p;
            root.clear();
        }
        return "";
    });
    EXPECT_EQ(problem, "");
}

INSTANTIATE_TEST_SUITE_P(DescriptorLimits, DeepTree, ::testing::Values(Limit{"Low", 64}, Limit{"AsHighAsAllowed", 0}),
                         [](const ::testing::TestParamInfo<Limit>& test) { return test.param.name; });

} // namespace
} // namespace toka::test
