// Directory listings: every entry, its type from the listing, no link
// followed; directory paths.

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/listing/dir_listing.h"
#include "platform/core/paths.h"
#include "../support/temp_tree.h"

namespace toka::test {
namespace {

std::map<std::string, EntryType> listAll(DirListing& listing) {
    std::map<std::string, EntryType> entries;
    DirEntry entry;
    while (listing.next(entry)) {
        EXPECT_TRUE(entries.emplace(std::string(entry.name), entry.type).second) << "listed twice: " << entry.name;
    }
    EXPECT_FALSE(listing.error().has_value());
    return entries;
}

TEST(DirListing, ListsEveryEntryWithItsType) {
    TempTree tree;
    tree.mkdirp("sub");
    tree.mkdirp("it's here");
    tree.touch("file");
    tree.touch(".hidden");
    ASSERT_EQ(::symlink("sub", (tree / "link-to-dir").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (tree / "dangling").c_str()), 0);
    ASSERT_EQ(::mkfifo((tree / "fifo").c_str(), 0644), 0);
    tree.makeSocket("socket");

    auto listing = DirListing::open(tree.path());
    ASSERT_TRUE(listing) << listing.error().message();
    std::map<std::string, EntryType> expected = {
        {".", EntryType::Directory},         {"..", EntryType::Directory},     {"sub", EntryType::Directory},
        {"it's here", EntryType::Directory}, {"file", EntryType::Regular},     {".hidden", EntryType::Regular},
        {"link-to-dir", EntryType::Symlink}, {"dangling", EntryType::Symlink}, {"fifo", EntryType::Fifo},
        {"socket", EntryType::Socket},
    };
    EXPECT_EQ(listAll(*listing), expected);
}

TEST(DirListing, ManyEntriesSpanSeveralChunks) {
    TempTree tree;
    // 3000 names of 60 bytes: about 240 KB of records, several 32 KB reads.
    for (int i = 0; i < 3000; ++i) {
        char name[80];
        std::snprintf(name, sizeof name, "%s-%04d", std::string(54, 'x').c_str(), i);
        tree.touch(name);
    }
    auto listing = DirListing::open(tree.path());
    ASSERT_TRUE(listing);
    EXPECT_EQ(listAll(*listing).size(), 3002u);
}

TEST(DirListing, SubdirectoryDoesNotFollowLinks) {
    TempTree tree;
    tree.mkdirp("real");
    ASSERT_EQ(::symlink("real", (tree / "link").c_str()), 0);
    auto parent = openDirectory(tree.path());
    ASSERT_TRUE(parent);
    EXPECT_TRUE(openSubdirectory(parent->get(), "real"));
    auto viaLink = openSubdirectory(parent->get(), "link");
    ASSERT_FALSE(viaLink);
    EXPECT_TRUE(viaLink.error().code == ELOOP || viaLink.error().code == ENOTDIR);
    auto missing = DirListing::open(tree / "missing");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, ENOENT);
}

TEST(Paths, NormalizeDirectoryPath) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"/", "/"},
        {"//", "/"},
        {"/home/anna", "/home/anna/"},
        {"/home//anna///", "/home/anna/"},
        {"relative/dir", "relative/dir/"},
        {"", ""},                        // no directory stays none
        {"/a/./b/../c", "/a/./b/../c/"}, // left for the kernel to resolve
    };
    for (const Case& c : cases) EXPECT_EQ(normalizeDirectoryPath(c.in), c.out) << c.in;
}

} // namespace
} // namespace toka::test
