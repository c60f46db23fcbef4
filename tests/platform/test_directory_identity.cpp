// Directory identity: the same directory recognised again, and the step
// into another mount noticed.

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

} // namespace
} // namespace toka::test
