#pragma once
// tokafind's command line: the options, their values and the usage text.
// Kept apart from the search so that every value parser can be tested
// without running the tool.
//
// Values the filters take (the manual page and --help say the same):
//   size      "+N" at least N bytes, "-N" at most N; N a whole number with
//             an optional unit, case-insensitive: b (bytes, the default),
//             k, m, g, each 1024 times the one before, the letter optionally
//             followed by "b" or "ib" (10k = 10kb = 10KiB = 10240 bytes)
//   duration  one or more of number + unit, as "2weeks", "3d", "1h30min":
//             s/sec/second(s), min/minute(s), h/hour(s), d/day(s),
//             w/week(s), y/year(s), a year being 365 days
//   date      "YYYY-MM-DD" (that day's local midnight) or
//             "YYYY-MM-DD HH:MM:SS" (local time; a "T" may stand for the blank)

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "search/walk_filter.h"

namespace toka::tokafind {

/// What tokafind does with recorded walks (walk_record_store.h).
enum class RecordUse {
    none,       ///< walk live; read and write no record
    record,     ///< walk live and record the walk
    fromRecord, ///< replay the walk's record instead of walking
    list,       ///< list the records; no search
    forget,     ///< remove every record; no search
};

struct Options {
    bool fuzzy = true;
    bool recurse = true;
    bool allFixedDisks = false;
    int rows = 30;
    bool showErrors = false;
    unsigned threads = 1;
    /// The full paths only, each ended by a NUL byte.
    bool print0 = false;
    RecordUse records = RecordUse::none;
    /// With records fromRecord or record: walk, but answer from the record
    /// every directory that has not changed since (--verify).
    bool verify = false;
    /// With verify and fromRecord: write the record anew from the verified
    /// walk (--record given as well).
    bool updateRecord = false;
    WalkFilter filter;
    std::string text;
    std::string dir;
    bool help = false;
};

extern const char* const kUsage;

/// One bound of --size: "+N" (at least) or "-N" (at most), in bytes.
struct SizeBound {
    bool atLeast = true;
    std::uint64_t bytes = 0;
    friend bool operator==(const SizeBound&, const SizeBound&) = default;
};

/// "+N[unit]" or "-N[unit]"; nullopt when malformed or beyond 2^64 - 1 bytes.
std::optional<SizeBound> parseSize(std::string_view text);
/// A duration in seconds; nullopt when malformed or beyond 2^62 seconds.
std::optional<std::int64_t> parseDuration(std::string_view text);
/// A local date or date and time as seconds since the epoch; nullopt when
/// malformed or no such day or time (2024-02-30, 24:00:00).
std::optional<std::int64_t> parseDate(std::string_view text);
/// The time a --changed-within or --changed-before value names: a date, or
/// now minus a duration.
std::optional<std::int64_t> parseTimePoint(std::string_view text, std::int64_t now);

/// Reads the arguments (argv[0] is the program) into options, whose
/// threads field holds the default on entry; now is the time the durations
/// count back from.  Returns the message of a usage error, naming the
/// option ("--size: '+5q' is not a size like +10k or -2M"), or nullopt.
/// --list-records and --forget-records take no TEXT or DIR; two different
/// record options are a usage error, but for --from-record with --record
/// when --verify is given; --verify needs --from-record or --record.
std::optional<std::string> parseArguments(const std::vector<std::string>& args, std::int64_t now, Options& options);

} // namespace toka::tokafind
