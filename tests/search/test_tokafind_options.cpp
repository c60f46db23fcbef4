// tokafind's value parsers and how the filter options fill the filter.

#include <gtest/gtest.h>

#include "../support/environment.h"
#include "tokafind_options.h"

namespace toka::tokafind {
namespace {

TEST(TokafindValues, Sizes) {
    const struct {
        const char* text;
        std::optional<SizeBound> expected;
    } cases[] = {
        {"+0", SizeBound{true, 0}},
        {"-0", SizeBound{false, 0}},
        {"+10", SizeBound{true, 10}},
        {"+10b", SizeBound{true, 10}},
        {"+1k", SizeBound{true, 1024}},
        {"-2M", SizeBound{false, 2u << 20}},
        {"+3GiB", SizeBound{true, 3ull << 30}},
        {"+1kb", SizeBound{true, 1024}},
        {"+18446744073709551615", SizeBound{true, UINT64_MAX}},
        {"+17179869183g", SizeBound{true, 17179869183ull << 30}}, // the largest number of g that fits
        {"+17179869184g", std::nullopt},
        {"+99999999999999999999g", std::nullopt},
        {"+18446744073709551616", std::nullopt},
        {"10k", std::nullopt}, // the sign says which bound
        {"+", std::nullopt},
        {"+k", std::nullopt},
        {"+5q", std::nullopt},
        {"+5kk", std::nullopt},
        {"+5t", std::nullopt},
        {"+5 k", std::nullopt},
        {"+-5", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(parseSize(c.text), c.expected) << c.text;
}

TEST(TokafindValues, DurationsAndDates) {
    test::ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    const std::int64_t now = 2'000'000'000;
    const struct {
        const char* text;
        std::optional<std::int64_t> expected; // seconds before now, or a time
    } durations[] = {
        {"10s", 10},
        {"30min", 1800},
        {"12h", 43200},
        {"3d", 259200},
        {"2weeks", 1209600},
        {"1y", 31536000},
        {"1 Hour", 3600},
        {"1h30min", 5400},
        {"0s", 0},
        {"30m", std::nullopt}, // minutes or months: neither
        {"10", std::nullopt},
        {"h", std::nullopt},
        {"", std::nullopt},
        {"-3d", std::nullopt},
        {"99999999999999999999s", std::nullopt},
        {"9999999999999y", std::nullopt},
    };
    for (const auto& c : durations) EXPECT_EQ(parseDuration(c.text), c.expected) << c.text;
    const struct {
        const char* text;
        std::optional<std::int64_t> expected;
    } dates[] = {
        {"2024-01-15", 1705273200},          // local midnight, an hour before UTC's
        {"2024-07-01", 1719784800},          // summer time: two hours
        {"2024-02-29", 1709161200},          // a leap day
        {"2024-01-15 13:45:10", 1705322710}, //
        {"2024-01-15T13:45:10", 1705322710},
        {"2024-02-30", std::nullopt},
        {"2023-02-29", std::nullopt},
        {"1900-02-29", std::nullopt},
        {"2024-13-01", std::nullopt},
        {"2024-00-10", std::nullopt},
        {"2024-1-15", std::nullopt},
        {"2024-01-15 24:00:00", std::nullopt},
        {"2024-01-15 12:60:00", std::nullopt},
        {"2024-01-15 12:00", std::nullopt},
    };
    for (const auto& c : dates) {
        EXPECT_EQ(parseDate(c.text), c.expected) << c.text;
        EXPECT_EQ(parseTimePoint(c.text, now), c.expected) << c.text;
    }
    EXPECT_EQ(parseTimePoint("2weeks", now), now - 1209600);
}

// The options a filter is made of, and the bounds given more than once.
TEST(TokafindValues, OptionsFillTheFilter) {
    Options options;
    ASSERT_EQ(parseArguments({"tokafind",
                              "-E",
                              "node_modules",
                              "--exclude=build/",
                              "-Ecache",
                              "--no-hidden",
                              "-t",
                              "f",
                              "--type=l",
                              "-e",
                              ".PDF",
                              "-etxt",
                              "-S",
                              "+1k",
                              "--size=+2k",
                              "-S-1m",
                              "-S",
                              "-3m",
                              "--changed-within",
                              "3d",
                              "--changed-within=1d",
                              "--changed-before",
                              "2024-01-15",
                              "-d2",
                              "--one-file-system",
                              "-0",
                              "text",
                              "dir"},
                             1'000'000'000, options),
              std::nullopt);
    WalkFilter expected;
    expected.exclude = {"node_modules", "build", "cache"};
    expected.skipHidden = true;
    expected.kinds = kKindFile | kKindSymlink;
    expected.extensions = {"PDF", "txt"};
    expected.minSize = 2048;
    expected.maxSize = 1u << 20;
    expected.modifiedFrom = 1'000'000'000 - 86400;
    expected.modifiedUntil = parseDate("2024-01-15");
    expected.oneFileSystem = true;
    expected.maxDepth = 2;
    EXPECT_EQ(options.filter, expected);
    EXPECT_TRUE(options.print0);
    EXPECT_EQ(options.text, "text");
    EXPECT_EQ(options.dir, "dir");
}

TEST(TokafindValues, KindLetters) {
    const std::pair<const char*, unsigned> cases[] = {
        {"f", kKindFile}, {"d", kKindDirectory}, {"l", kKindSymlink}, {"s", kKindSpecial}};
    for (const auto& [letter, bit] : cases) {
        Options options;
        ASSERT_EQ(parseArguments({"tokafind", "-t", letter, "text"}, 0, options), std::nullopt) << letter;
        EXPECT_EQ(options.filter.kinds, bit) << letter;
    }
}

// Every mistake is one message that names what is wrong, before any walk.
TEST(TokafindValues, MistakesNameTheirOption) {
    const struct {
        std::vector<std::string> args;
        std::string message; // its start
    } cases[] = {
        {{"--frobnicate", "text"}, "unknown option '--frobnicate'"},
        {{"--rows", "0", "text"}, "--rows takes a number from 1 to 200, not '0'"},
        {{"--rows", "201", "text"}, "--rows takes a number from 1 to 200, not '201'"},
        {{"--rows", "ten", "text"}, "--rows takes a number from 1 to 200, not 'ten'"},
        {{}, "no search text"},
        {{"--all-fixed-disks", "text", "dir"}, "--all-fixed-disks takes no directory"},
        {{"text", "dir", "extra"}, "unexpected argument 'extra'"},
        {{"--size", "+5q", "text"}, "--size: '+5q' is not a size like +10k or -2M"},
        {{"-S", "10k", "text"}, "--size: '10k' is not"},
        {{"-S+99999999999999999999g", "text"}, "--size: '+99999999999999999999g' is not"},
        {{"--type=file", "text"}, "--type: 'file' is not"},
        {{"-t", "x", "text"}, "--type: 'x' is not"},
        {{"-e", ".", "text"}, "--extension: '.' is not"},
        {{"--extension", "tar.gz", "text"}, "--extension: 'tar.gz' is not"},
        {{"-E", "", "text"}, "--exclude: '' is not"},
        {{"--changed-within", "yesterday", "text"}, "--changed-within: 'yesterday' is neither"},
        {{"--changed-within=30m", "text"}, "--changed-within: '30m' is neither"},
        {{"--changed-before", "2024-02-30", "text"}, "--changed-before: '2024-02-30' is neither"},
        {{"-d", "0", "text"}, "--max-depth: '0' is not"},
        {{"--max-depth=two", "text"}, "--max-depth: 'two' is not"},
        {{"-j0", "text"}, "--threads takes a number"},
        {{"text", "dir", "--size"}, "--size: no value given"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"tokafind"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Options options;
        const std::optional<std::string> error = parseArguments(args, 0, options);
        ASSERT_TRUE(error.has_value()) << c.message;
        EXPECT_TRUE(error->starts_with(c.message)) << *error;
    }
}

// One use of the records at a time; listing and forgetting search nothing.
TEST(TokafindValues, RecordOptions) {
    const struct {
        std::vector<std::string> args;
        RecordUse use;
        std::optional<std::string> error;
    } cases[] = {
        {{"text"}, RecordUse::none, std::nullopt},
        {{"--record", "-j1", "text", "dir"}, RecordUse::record, std::nullopt},
        {{"--from-record", "text", "--from-record"}, RecordUse::fromRecord, std::nullopt},
        {{"--list-records"}, RecordUse::list, std::nullopt},
        {{"--forget-records"}, RecordUse::forget, std::nullopt},
        {{"--record", "--from-record", "text"}, {}, "--record and --from-record cannot be combined"},
        {{"--list-records", "--forget-records"}, {}, "--list-records and --forget-records cannot be combined"},
        {{"--list-records", "text"}, {}, "--list-records takes no TEXT or DIR"},
        {{"--forget-records", "--", "-x"}, {}, "--forget-records takes no TEXT or DIR"},
        {{"--from-record"}, {}, "no search text"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"tokafind"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Options options;
        EXPECT_EQ(parseArguments(args, 0, options), c.error) << c.args[0];
        if (!c.error) {
            EXPECT_EQ(options.records, c.use) << c.args[0];
        }
    }
}

// --verify with a record to check; --record beside --from-record only then.
TEST(TokafindValues, VerifyOptions) {
    const struct {
        std::vector<std::string> args;
        RecordUse use;
        bool update;
        std::optional<std::string> error;
    } cases[] = {
        {{"--from-record", "--verify", "text"}, RecordUse::fromRecord, false, std::nullopt},
        {{"--verify", "--record", "text"}, RecordUse::record, false, std::nullopt},
        {{"--from-record", "--verify", "--record", "text"}, RecordUse::fromRecord, true, std::nullopt},
        {{"--record", "text", "--from-record", "--verify"}, RecordUse::fromRecord, true, std::nullopt},
        {{"--verify", "text"}, {}, false, "--verify needs --from-record or --record"},
        {{"--verify", "--list-records"}, {}, false, "--verify needs --from-record or --record"},
        {{"--record", "--verify", "--from-record", "--list-records"},
         {},
         false,
         "--from-record and --list-records cannot be combined"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"tokafind"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Options options;
        EXPECT_EQ(parseArguments(args, 0, options), c.error) << c.args[0] << " " << c.args[1];
        if (!c.error) {
            EXPECT_EQ(options.records, c.use) << c.args[0] << " " << c.args[1];
            EXPECT_TRUE(options.verify);
            EXPECT_EQ(options.updateRecord, c.update) << c.args[0] << " " << c.args[1];
        }
    }
}

} // namespace
} // namespace toka::tokafind
