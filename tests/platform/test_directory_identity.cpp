// Directory identity: the same directory recognised again, and the step
// into another mount noticed.

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/listing/dir_listing.h"
#include "platform/core/directory_identity.h"
#include "temp_tree.h"

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
    // The process keeps its private mount namespace; the tree goes with the
    // mount detached.
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0
        || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        GTEST_SKIP() << "needs root for a private mount namespace";
    }
    TempTree tree;
    tree.mkdirp("source");
    tree.mkdirp("bound");
    ASSERT_EQ(::mount((tree / "source").c_str(), (tree / "bound").c_str(), nullptr, MS_BIND, nullptr), 0);
    auto top = identityOf(tree.path()), bound = identityOf(tree / "bound");
    ::umount2((tree / "bound").c_str(), MNT_DETACH);
    ASSERT_TRUE(top && bound);
    if (!bound->mountRootKnown) GTEST_SKIP() << "the kernel does not report mount roots (before 5.8)";
    EXPECT_EQ(bound->dev, top->dev) << "a bind mount keeps the device";
    EXPECT_TRUE(bound->mountRoot);
    EXPECT_TRUE(bound->crossesMountFrom(*top));
}

} // namespace
} // namespace toka::test
