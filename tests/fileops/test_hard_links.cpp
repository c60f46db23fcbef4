// Hard links kept as links: the names of one file within the copied or moved
// set become links to a single copy, wherever the names lie (one folder, two
// list items, a merged folder, below PATH_MAX or beyond it), while the copy
// is still under its temporary name or already placed.

#include <limits.h>

#include "test_support.h"

namespace toka::test {
namespace {

void link(const std::string& from, const std::string& to) {
    std::filesystem::create_directories(std::filesystem::path(to).parent_path());
    ASSERT_EQ(::link(from.c_str(), to.c_str()), 0) << to << ": " << std::strerror(errno);
}

constexpr int kChain = 2100; // "/d" 2,100 times: longer than PATH_MAX

/// "/d" `levels` times.
std::string chainPath(int levels) {
    std::string path;
    for (int i = 0; i < levels; ++i) path += "/d";
    return path;
}

/// The identity of the node at path, a link not followed, through its folder
/// (a path may be longer than PATH_MAX).
ino_t inodeOf(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string folder = path.substr(0, slash);
    int fd = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (std::size_t at = 1; fd >= 0 && at < folder.size();) {
        const std::size_t end = std::min(folder.find('/', at), folder.size());
        const int next = ::openat(fd, folder.substr(at, end - at).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = next;
        at = end + 1;
    }
    struct stat status {};
    const bool found = fd >= 0 && ::fstatat(fd, path.substr(slash + 1).c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
    ::close(fd);
    return found ? status.st_ino : 0;
}

TEST(HardLinks, NamesOfOneFileInTheSetBecomeLinksToOneCopy) {
    struct Case {
        const char* name;
        std::function<void(const std::string& src, const std::string& dest)> make;
        std::vector<std::string> items;   // below src
        std::vector<std::string> linked;  // below dest: one node
        std::vector<std::string> single;  // below dest: a node of their own
        std::vector<std::string> staying; // below src after a move
    };
    const Case cases[] = {
        {"names in one folder",
         [](auto& src, auto&) {
             writeFile(src + "/tree/a", "one file");
             link(src + "/tree/a", src + "/tree/b");
             link(src + "/tree/a", src + "/tree/sub/c");
         },
         {"tree"},
         {"tree/a", "tree/b", "tree/sub/c"},
         {},
         {}},
        {"names in two list items, one placed before the other is copied",
         [](auto& src, auto&) {
             writeFile(src + "/one/a", "one file");
             link(src + "/one/a", src + "/two/b");
         },
         {"one", "two"},
         {"one/a", "two/b"},
         {},
         {}},
        {"list items that are the names themselves, and a symbolic link with two names",
         [](auto& src, auto&) {
             writeFile(src + "/a", "one file");
             link(src + "/a", src + "/b");
             ASSERT_EQ(::symlink("a", (src + "/s").c_str()), 0);
             link(src + "/s", src + "/t");
         },
         {"a", "b", "s", "t"},
         {"a", "b"},
         {},
         {}},
        {"a name outside the set",
         [](auto& src, auto&) {
             writeFile(src + "/tree/a", "one file");
             link(src + "/tree/a", src + "/outside");
         },
         {"tree"},
         {},
         {"tree/a"},
         {"outside"}},
        {"names in a folder merged into an existing one",
         [](auto& src, auto& dest) {
             writeFile(src + "/tree/a", "one file");
             link(src + "/tree/a", src + "/tree/sub/b");
             writeFile(dest + "/tree/sub/old", "was there");
         },
         {"tree"},
         {"tree/a", "tree/sub/b"},
         {"tree/sub/old"},
         {}},
        {"names at the bottom of a chain longer than PATH_MAX",
         [](auto& src, auto&) {
             std::filesystem::create_directories(src + "/deep");
             const int at = chainBottom(src + "/deep", kChain, true);
             ASSERT_GE(at, 0) << std::strerror(errno);
             const int file = ::openat(at, "x", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
             ASSERT_EQ(::write(file, "one file", 8), 8);
             ::close(file);
             ASSERT_EQ(::linkat(at, "x", at, "y", 0), 0);
             ::close(at);
             ASSERT_GT(chainPath(kChain).size(), std::size_t{PATH_MAX});
         },
         {"deep"},
         {"deep" + chainPath(kChain) + "/x", "deep" + chainPath(kChain) + "/y"},
         {},
         {}},
    };
    for (const Case& c : cases) {
        for (const FileOpKind kind : {FileOpKind::Copy, FileOpKind::Move}) {
            SCOPED_TRACE(std::string(c.name) + (kind == FileOpKind::Copy ? ", copied" : ", moved across"));
            const TempTree root(scratchFolder());
            const std::string src = root / "src", dest = root / "dest";
            std::filesystem::create_directories(src);
            std::filesystem::create_directories(dest);
            c.make(src, dest);
            FaultySystem system;
            system.fault = [&](Call call, const std::string& from, const std::string& to) {
                return kind == FileOpKind::Move ? acrossFileSystems(call, from, to) : 0;
            };
            ScriptedQuestions questions;
            questions.existsReplies = {{ExistsAction::Replace, true}};
            std::vector<std::string> sources;
            for (const std::string& item : c.items) sources.push_back(src + "/" + item);
            const FileOpResult result = FileOperation(questions, system).run(sources, kind, dest + "/");

            EXPECT_TRUE(result.failures.empty()) << result.failures[0].describe();
            EXPECT_EQ(result.itemsDone, sources.size());
            // Temporary items are made at the top of the destination (a
            // snapshot would not reach into a chain beyond PATH_MAX).
            for (const auto& entry : std::filesystem::directory_iterator(dest))
                EXPECT_FALSE(isTempName(entry.path().filename().string())) << entry.path();
            std::set<ino_t> nodes;
            for (const std::string& name : c.linked) {
                EXPECT_NE(inodeOf(dest + "/" + name), 0u) << name;
                nodes.insert(inodeOf(dest + "/" + name));
            }
            if (!c.linked.empty()) {
                EXPECT_EQ(nodes.size(), 1u);
            }
            for (const std::string& name : c.single) {
                const ino_t node = inodeOf(dest + "/" + name);
                EXPECT_NE(node, 0u) << name;
                EXPECT_EQ(nodes.count(node), 0u) << name;
            }
            if (kind == FileOpKind::Move) {
                std::vector<std::string> left;
                for (const auto& [key, entry] : snapshot(src)) left.push_back(key);
                EXPECT_EQ(left, c.staying);
            }
        }
    }
}

TEST(HardLinks, ManyNamesOfOneFileTakeTheRoomOfOne) {
    if (const std::string why = TestMounts::unavailable(); !why.empty()) GTEST_SKIP() << why;
    constexpr int kNames = 2000;
    for (const FileOpKind kind : {FileOpKind::Copy, FileOpKind::Move}) {
        SCOPED_TRACE(kind == FileOpKind::Copy ? "copy" : "move to another file system");
        TempTree root;
        const std::string src = root / "src/links", dest = root / "dest";
        writeFile(src + "/name0", patternBytes(64 * 1024, 5));
        for (int i = 1; i < kNames; ++i) link(src + "/name0", src + "/name" + std::to_string(i));
        std::filesystem::create_directories(dest);
        TestMounts mounts(root.path());
        mounts.tmpfs(dest, "1m"); // 125 MiB as copies of their own

        ScriptedQuestions questions;
        questions.everyFailure = FailureAction::Skip;
        const FileOpResult result = FileOperation(questions).run({src}, kind, dest + "/");

        EXPECT_EQ(result.failures.size(), 0u) << result.failures[0].describe();
        EXPECT_EQ(result.itemsDone, 1u);
        const struct stat copy = lstatOf(dest + "/links/name0");
        EXPECT_EQ(copy.st_nlink, static_cast<nlink_t>(kNames));
        EXPECT_EQ(lstatOf(dest + "/links/name" + std::to_string(kNames - 1)).st_ino, copy.st_ino);
        EXPECT_EQ(readFile(dest + "/links/name1"), patternBytes(64 * 1024, 5));
        EXPECT_EQ(exists(src), kind == FileOpKind::Copy);
    }
}

} // namespace
} // namespace toka::test
