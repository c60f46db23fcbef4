#pragma once
// The seven cells of a result row, built from one rank of the similarity
// list and from the file system (lstat only: no file is ever opened).
//
//   File      the name as listed (bytes, as the listing returned them)
//   Location  the directory, with its trailing "/"
//   Date      last change, in the locale's short date format; empty for a
//             directory or an entry that is gone
//   Time      last change, in the locale's long time format (even seconds
//             for the years 1980..2107); empty likewise
//   Attribs   R A S H D, e.g. "-A---"; empty for an entry that is gone
//   Size      bytes up to 10239, then "N KB" up to 10485759, then "N MB";
//             empty for a directory; "?" when it cannot be read
//   Measure   the similarity in percent truncated to two decimals, with the
//             locale's decimal separator: "100", "50", "41.66"
//
// The locale comes in as a LocaleFormat, so this layer needs no Qt: the
// window fills one from QLocale::system(), tokafind uses cLocaleFormat().

#include <array>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/listing/file_info.h"
#include "similar/real48.h"
#include "similar/simlist.h"

namespace toka {

/// The regional settings the row texts need.  Patterns use the letters of
/// QLocale's format strings, so the window can pass them on as they are:
///   d dd ddd dddd     day, two-digit day, short/long day name
///   M MM MMM MMMM     month, two-digit month, short/long month name
///   yy yyyy           two-/four-digit year
///   h hh              hour (12-hour when the pattern has AP/ap/A/a)
///   H HH              hour, always 24-hour
///   m mm s ss         minute, second
///   z zzz             milliseconds (always 0 here)
///   AP A / ap a       AM/PM text, upper/lower case
///   t ...             time zone: left out, as the table shows none
///   '...'             literal text; '' is a quote
/// Any other character is copied.
struct LocaleFormat {
    std::string shortDateFormat = "yyyy-MM-dd";
    std::string longTimeFormat = "HH:mm:ss";
    std::string decimalSeparator = ".";
    std::string amText = "AM";
    std::string pmText = "PM";
    std::array<std::string, 12> shortMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::array<std::string, 12> longMonthNames{"January", "February", "March",     "April",   "May",      "June",
                                               "July",    "August",   "September", "October", "November", "December"};
    /// Sunday first.
    std::array<std::string, 7> shortDayNames{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    std::array<std::string, 7> longDayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                            "Thursday", "Friday", "Saturday"};
};

/// ISO date (yyyy-MM-dd), 24-hour time with seconds, "." as separator: what
/// scripts can read.
LocaleFormat cLocaleFormat();

/// The local date-time written with a date or time pattern (see above).
std::string formatDateTime(const LocalDateTime& when, std::string_view pattern, const LocaleFormat& locale);

/// The measure text of a score: score * 10000 truncated toward zero, times
/// 0.01 in extended precision, at most 15 significant digits, no trailing
/// zeros, the locale's decimal separator.  1 -> "100", 0.41666.. -> "41.66".
std::string measureText(Real48 score, const LocaleFormat& locale);
std::string measureText(long double score, const LocaleFormat& locale);

/// The size text of a byte count: "10239", "10 KB", "10239 KB", "10 MB",
/// "5120 MB" for 5 GiB.  Negative sizes do not occur (lstat).
std::string sizeText(std::int64_t bytes);

/// The size text of a size that could not be read.
inline constexpr const char* kUnknownSizeText = "?";

struct ResultRow {
    std::string name;
    std::string location;
    std::string date;
    std::string time;
    std::string attributes;
    std::string size;
    std::string measure;
    /// A directory's row is drawn in bold: its attribute text ends in "D".
    bool isDirectory() const { return attributes.size() == 5 && attributes[4] == 'D'; }
};

/// One rank of the list as the table shows it before anything is read from
/// the file system: the entry, its score and the measure text.
struct RankedEntry {
    std::string name;     ///< bytes, as listed
    std::string location; ///< the directory, with its trailing "/"
    Real48 score;
    std::string measure;
    /// The full path: the location ends in "/", so this is one separator.
    std::string path() const { return location + name; }
};

/// Ranks 1, 2, ... while the rank holds an entry (its score is above 0) and
/// the rank is at most maxRows.  No file-system call: the list is only read.
std::vector<RankedEntry> rankedEntries(const SimList& list, int maxRows, const LocaleFormat& locale);

/// What lstat tells of an entry, as the Date, Time, Attribs and Size cells
/// show it, with the values the table sorts these columns by.
struct EntryDetails {
    std::string date;
    std::string time;
    std::string attributes;
    std::string size;
    bool directory = false;
    /// The size in bytes of an entry that shows one (not a directory, not
    /// an entry that is gone).
    std::optional<std::int64_t> bytes;
    /// The last change of an entry that shows a date.
    std::optional<std::time_t> changed;
};

/// The details of an entry that lstat described as info; null info is an
/// entry that is gone or cannot be examined: no date, time or attributes,
/// size "?".  No file-system call.
EntryDetails entryDetails(const FileInfo* info, const LocaleFormat& locale);

/// The details of directory + name, read with lstat now.
EntryDetails readEntryDetails(std::string_view directory, std::string_view name, const LocaleFormat& locale);

/// The row of one entry with its score; reads the file system afresh.
/// An entry that no longer exists (or cannot be examined) gives empty
/// date, time and attributes and "?" as size; the measure is always shown.
ResultRow buildResultRow(const rFileRec& entry, Real48 score, const LocaleFormat& locale);

/// The rows of ranks 1, 2, ... while the rank holds an entry (its score is
/// above 0) and the row number is at most maxRows.  Empty when the list has
/// no entry.  The list is only read.
std::vector<ResultRow> buildResultRows(const SimList& list, int maxRows, const LocaleFormat& locale);

} // namespace toka
