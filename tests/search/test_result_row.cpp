// The seven cells of a result row, read from real files.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "../support/environment.h"
#include "../support/temp_tree.h"
#include "search/result_row.h"

namespace toka::test {
namespace {

// 2001-02-03 03:05:07 UTC, 04:05:07 in CET.
constexpr std::time_t kSaturdayMorning = 981169507;

void setChangeTime(const std::string& path, std::time_t when) {
    timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

const Real48 kFull = Real48::fromExtended(1.0L);

TEST(ResultRow, SizeTexts) {
    TempTree tree;
    struct Case {
        long long bytes;
        const char* text;
    };
    const Case cases[] = {
        {0, "0"},
        {10239, "10239"}, // the last size without a unit
        {10240, "10 KB"},
        {10485759, "10239 KB"}, // one byte below 10 MiB
        {10485760, "10 MB"},
        {5LL << 30, "5120 MB"}, // a sparse 5 GiB file: beyond 32 bits
    };
    for (const Case& c : cases) {
        std::string name = "size-" + std::to_string(c.bytes);
        tree.touch(name, c.bytes);
        ResultRow row = buildResultRow({name, tree.path()}, kFull, cLocaleFormat());
        EXPECT_EQ(row.size, c.text) << c.bytes;
        EXPECT_EQ(row.attributes, "-A---");
    }
}

TEST(ResultRow, RowsOfFilesDirectoriesAndVanishedEntries) {
    ScopedTimeZone zone("CET-1");
    TempTree tree;
    tree.touch("plain.txt", 42);
    tree.touch("readonly.txt", 7);
    ASSERT_EQ(::chmod((tree / "readonly.txt").c_str(), 0444), 0);
    tree.mkdirp("folder");
    for (const char* name : {"plain.txt", "readonly.txt", "folder"}) {
        setChangeTime(tree / name, kSaturdayMorning);
    }
    struct Case {
        const char* name;
        ResultRow expected;
    };
    const Case cases[] = {
        {"plain.txt", {"plain.txt", tree.path(), "2001-02-03", "04:05:06", "-A---", "42", "100"}},
        // Opening it for writing would fail; lstat reads its size all the same.
        {"readonly.txt", {"readonly.txt", tree.path(), "2001-02-03", "04:05:06", "RA---", "7", "100"}},
        {"folder", {"folder", tree.path(), "", "", "----D", "", "100"}},
        // Gone since it was rated: the refresh still shows the row.
        {"vanished", {"vanished", tree.path(), "", "", "", "?", "100"}},
    };
    for (const Case& c : cases) {
        ResultRow row = buildResultRow({c.name, tree.path()}, kFull, cLocaleFormat());
        EXPECT_EQ(row.name, c.expected.name);
        EXPECT_EQ(row.location, c.expected.location);
        EXPECT_EQ(row.date, c.expected.date) << c.name;
        EXPECT_EQ(row.time, c.expected.time) << c.name;
        EXPECT_EQ(row.attributes, c.expected.attributes) << c.name;
        EXPECT_EQ(row.size, c.expected.size) << c.name;
        EXPECT_EQ(row.measure, c.expected.measure) << c.name;
        EXPECT_EQ(row.isDirectory(), std::string(c.name) == "folder");
    }
}

TEST(ResultRow, MeasureTextsAreTruncatedWithTheLocaleSeparator) {
    struct Case {
        long double score;
        const char* point;
        const char* comma;
    };
    const Case cases[] = {
        {1.0L, "100", "100"},          {0.5L, "50", "50"},
        {5.0L / 12, "41.66", "41,66"}, // 41.666..: truncated, not rounded
        {0.999999L, "99.99", "99,99"}, // never raised to 100
        {0.00015L, "0.01", "0,01"},    {0.00009L, "0", "0"},
    };
    LocaleFormat comma = cLocaleFormat();
    comma.decimalSeparator = ",";
    for (const Case& c : cases) {
        Real48 stored = Real48::fromExtended(c.score);
        EXPECT_EQ(measureText(stored, cLocaleFormat()), c.point) << static_cast<double>(c.score);
        EXPECT_EQ(measureText(stored, comma), c.comma) << static_cast<double>(c.score);
    }
}

TEST(ResultRow, DateAndTimePatterns) {
    const LocalDateTime afternoon{2001, 2, 3, 16, 5, 6, 6};
    const LocalDateTime midnight{2024, 12, 9, 0, 7, 0, 1};
    struct Case {
        const char* pattern;
        LocalDateTime when;
        const char* text;
    };
    const Case cases[] = {
        {"dd.MM.yyyy", afternoon, "03.02.2001"}, // German short date
        {"M/d/yy", afternoon, "2/3/01"},         // US short date
        {"h:mm:ss AP", afternoon, "4:05:06 PM"},
        {"h:mm:ss ap", midnight, "12:07:00 am"}, // 12-hour clock has no hour 0
        {"HH:mm:ss t", afternoon, "16:05:06"},   // no time zone in the table
        {"HH 'h' mm", afternoon, "16 h 05"},     // quoted literal
        {"d MMM yyyy", midnight, "9 Dec 2024"},
        {"dddd, MMMM d", midnight, "Monday, December 9"},
        {"'o''clock' H", afternoon, "o'clock 16"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(formatDateTime(c.when, c.pattern, cLocaleFormat()), c.text) << c.pattern;
    }
}

TEST(ResultRow, RowsFollowTheRanksUpToTheRowLimit) {
    TempTree tree;
    for (const char* name : {"report.txt", "report-old.txt", "reporter.doc"}) tree.touch(name);
    SimList list;
    list.InitSimList("report", MaxListSize);
    for (const char* name : {"report.txt", "qqqq.zz", "report-old.txt", "reporter.doc"}) {
        list.RateFile(name, tree.path(), false);
    }
    ASSERT_GT(list.RankScore(3).value(), 0.0L);
    ASSERT_EQ(list.RankScore(4).value(), 0.0L);

    std::vector<ResultRow> two = buildResultRows(list, 2, cLocaleFormat());
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0].name, list.RankFile(1).Name);
    EXPECT_EQ(two[1].name, list.RankFile(2).Name);
    EXPECT_EQ(two[0].measure, measureText(list.RankScore(1), cLocaleFormat()));

    EXPECT_EQ(buildResultRows(list, 30, cLocaleFormat()).size(), 3u) << "stops at the first empty rank";
    SimList empty;
    empty.InitSimList("", MaxListSize);
    EXPECT_TRUE(buildResultRows(empty, 30, cLocaleFormat()).empty());
}

} // namespace
} // namespace toka::test
