// Attributes, DOS date and time, and sizes from lstat.

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/listing/file_info.h"
#include "../support/environment.h"
#include "../support/temp_tree.h"

namespace toka::test {
namespace {

TEST(Attributes, TextOfModeAndName) {
    struct Case {
        mode_t mode;
        const char* name;
        const char* text;
    };
    const Case cases[] = {
        {S_IFREG | 0644, "notes.txt", "-A---"},
        {S_IFREG | 0444, "notes.txt", "RA---"}, // owner may not write
        {S_IFREG | 0466, "notes.txt", "RA---"}, // others' write bits do not count
        {S_IFDIR | 0755, "Music", "----D"},
        {S_IFDIR | 0555, ".git", "R--HD"},
        {S_IFDIR | 0755, ".", "----D"}, // "." and ".." are not hidden
        {S_IFDIR | 0755, "..", "----D"},
        {S_IFLNK | 0777, "link", "-A---"}, // a link to a directory is no directory
        {S_IFIFO | 0644, ".pipe", "--SH-"},
        {S_IFSOCK | 0755, "socket", "--S--"},
        {S_IFCHR | 0620, "tty0", "--S--"},
        {S_IFBLK | 0660, "sda", "--S--"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(attributeText(attributesOf(c.mode, c.name)), c.text) << c.name;
    }
}

TEST(DosDateTime, RangeAndTwoSecondSteps) {
    struct Case {
        const char* what;
        LocalDateTime local;
        bool representable;
        std::uint16_t date;
        std::uint16_t time;
    };
    const Case cases[] = {
        {"first day", {1980, 1, 1, 0, 0, 0}, true, 0x0021, 0x0000},
        {"last second", {2107, 12, 31, 23, 59, 59}, true, 0xFF9F, 0xBF7D},
        {"odd second truncated", {2001, 2, 3, 4, 5, 7}, true, (21 << 9) | (2 << 5) | 3, (4 << 11) | (5 << 5) | 3},
        {"leap second", {2016, 12, 31, 23, 59, 60}, true, (36 << 9) | (12 << 5) | 31, (23 << 11) | (59 << 5) | 29},
        {"before 1980", {1979, 12, 31, 23, 59, 59}, false, 0, 0},
        {"after 2107", {2108, 1, 1, 0, 0, 0}, false, 0, 0},
    };
    for (const Case& c : cases) {
        auto dos = toDosDateTime(c.local);
        ASSERT_EQ(dos.has_value(), c.representable) << c.what;
        if (!dos) continue;
        EXPECT_EQ(dos->date, c.date) << c.what;
        EXPECT_EQ(dos->time, c.time) << c.what;
    }
    LocalDateTime back = fromDosDateTime({(21 << 9) | (2 << 5) | 3, (4 << 11) | (5 << 5) | 3});
    EXPECT_EQ(back, (LocalDateTime{2001, 2, 3, 4, 5, 6, 6})); // a Saturday
}

TEST(DosDateTime, DisplayedChangeTimeIsLocal) {
    ScopedTimeZone zone("CET-1"); // one hour east of UTC, no summer time
    struct Case {
        const char* what;
        std::time_t mtime;
        LocalDateTime shown;
    };
    const Case cases[] = {
        // 2001-02-03 03:05:07 UTC: local 04:05:07, DOS seconds even
        {"in range", 981169507, {2001, 2, 3, 4, 5, 6, 6}},
        // 1970-01-01 00:00:01 UTC: before 1980, shown as it is, odd second kept
        {"before 1980", 1, {1970, 1, 1, 1, 0, 1, 4}},
        // 2200-01-01 00:00:03 UTC: after 2107, as it is
        {"after 2107", 7258118403, {2200, 1, 1, 1, 0, 3, 3}},
    };
    for (const Case& c : cases) {
        auto shown = displayedChangeTime(c.mtime);
        ASSERT_TRUE(shown) << c.what;
        EXPECT_EQ(*shown, c.shown) << c.what;
    }
}

TEST(ExamineEntry, SizesTypesAndFailures) {
    TempTree tree;
    tree.touch("empty");
    tree.touch("big", 5LL << 30); // sparse: 5 GiB of size, no blocks
    tree.mkdirp("dir");
    ASSERT_EQ(::symlink("big", (tree / "link").c_str()), 0);

    auto big = examineEntry(tree.path(), "big");
    ASSERT_TRUE(big);
    EXPECT_EQ(big->size, 5LL << 30);
    EXPECT_EQ(big->type, EntryType::Regular);

    auto link = examineEntry(tree.path(), "link");
    ASSERT_TRUE(link);
    EXPECT_EQ(link->type, EntryType::Symlink); // not followed
    EXPECT_EQ(link->size, 3);                  // the length of "big"

    auto dir = examineEntry(tree.path(), "dir");
    ASSERT_TRUE(dir);
    EXPECT_TRUE(dir->attributes & AttrDirectory);

    auto gone = examineEntry(tree.path(), "gone");
    ASSERT_FALSE(gone);
    EXPECT_EQ(gone.error().code, ENOENT);
}

TEST(ExamineEntry, WorksBeyondPathMax) {
    TempTree tree;
    const std::string name(250, 'p');
    const int fd = chainBottom(tree.path(), 20, true, name);
    const int file = ::openat(fd, "f", O_WRONLY | O_CREAT, 0644);
    ASSERT_EQ(::write(file, "12345", 5), 5);
    ::close(file);
    ::close(fd);
    std::string path = tree.path();
    for (int i = 0; i < 20; ++i) path += name + "/";
    ASSERT_GT(path.size(), static_cast<std::size_t>(PATH_MAX));
    auto info = examineEntry(path, "f");
    ASSERT_TRUE(info) << info.error().message();
    EXPECT_EQ(info->size, 5);
}

} // namespace
} // namespace toka::test
