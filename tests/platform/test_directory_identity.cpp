// Directory identity: the same directory recognised again, and the step
// into another mount noticed.

#include <cerrno>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "../support/mounts.h"
#include "../support/temp_tree.h"
#include "platform/core/directory_identity.h"
#include "platform/listing/dir_listing.h"

namespace toka::test {
namespace {

std::optional<DirectoryIdentity> identityOf(const std::string& path) {
    auto fd = openDirectory(path);
    EXPECT_TRUE(fd) << path;
    return fd ? directoryIdentity(fd->get()) : std::nullopt;
}

TEST(DirectoryIdentity, SameDirectoryAndMountCrossings) {
    TempTree tree;
    tree.mkdirp("a/b");
    auto top = identityOf(tree.path()), a = identityOf(tree / "a"), b = identityOf(tree / "a/b");
    auto aAgain = identityOf(tree / "a/b/..");
    auto root = identityOf("/"), proc = identityOf("/proc");
    ASSERT_TRUE(top && a && b && aAgain && root && proc);

    EXPECT_TRUE(a->isSameDirectory(*aAgain));
    EXPECT_FALSE(a->isSameDirectory(*b));
    EXPECT_FALSE(b->crossesMountFrom(*a));
    EXPECT_FALSE(a->crossesMountFrom(*top));
    EXPECT_TRUE(proc->crossesMountFrom(*root));
    EXPECT_TRUE(proc->mountRoot || !proc->mountRootKnown);
    EXPECT_FALSE(directoryIdentity(-1).has_value());
}

TEST(DirectoryIdentity, BindMountOfTheSameFileSystemCountsAsCrossing) {
    if (const std::string why = TestMounts::unavailable(); !why.empty()) GTEST_SKIP() << why;
    TempTree tree;
    tree.mkdirp("source");
    tree.mkdirp("bound");
    TestMounts mounts(tree.path());
    mounts.bind(tree / "source", tree / "bound");
    auto top = identityOf(tree.path()), bound = identityOf(tree / "bound");
    ASSERT_TRUE(top && bound);
    if (!bound->mountRootKnown) GTEST_SKIP() << "the kernel does not report mount roots (before 5.8)";
    EXPECT_EQ(bound->dev, top->dev) << "a bind mount keeps the device";
    EXPECT_TRUE(bound->mountRoot);
    EXPECT_TRUE(bound->crossesMountFrom(*top));
}

// The stamp read through the parent, without opening the directory: what
// the directory itself says, and new after a name is added to it; no stamp
// for what is no directory, a link to one included.
TEST(DirectoryIdentity, StatusThroughTheParentIsTheDirectorysOwn) {
    TempTree tree;
    tree.mkdirp("dir");
    tree.touch("file");
    ASSERT_EQ(::symlink("dir", (tree / "link").c_str()), 0);
    const auto parent = openDirectory(tree.path());
    const auto dir = openDirectory(tree / "dir");
    ASSERT_TRUE(parent && dir);
    const auto before = directoryStatusAt(parent->get(), "dir");
    const auto own = directoryStatus(dir->get());
    ASSERT_TRUE(before && own);
    EXPECT_EQ(before->stamp, own->stamp);
    EXPECT_TRUE(before->id.isSameDirectory(own->id));
    // Past one step of the clock the kernel stamps files with (a tick, at
    // most 10 ms), so that the change shows in the times.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    tree.touch("dir/new");
    const auto after = directoryStatusAt(parent->get(), "dir");
    ASSERT_TRUE(after);
    EXPECT_NE(after->stamp, before->stamp);
    EXPECT_GT(after->stamp.changed, before->stamp.changed);
    for (const auto& [name, error] : {std::pair{"file", ENOTDIR}, {"link", ENOTDIR}, {"missing", ENOENT}}) {
        errno = 0;
        EXPECT_FALSE(directoryStatusAt(parent->get(), name).has_value()) << name;
        EXPECT_EQ(errno, error) << name;
    }
}

TEST(DirectoryIdentity, FileTimesAddNanosecondsAcrossSeconds) {
    EXPECT_EQ(addNanoseconds({10, 999'999'999}, 1), (FileTime{11, 0}));
    EXPECT_EQ(addNanoseconds({10, 0}, -1), (FileTime{9, 999'999'999}));
    EXPECT_EQ(addNanoseconds({10, 5}, -2'000'000'010), (FileTime{7, 999'999'995}));
    EXPECT_LT((FileTime{9, 999'999'999}), (FileTime{10, 0}));
}

} // namespace
} // namespace toka::test
