#pragma once
// What the result table shows about one entry, read with lstat (never by
// opening the file): the five attribute letters, the last-change time as a
// local date and time (with the two-second steps of a DOS time for the years
// 1980 to 2107) and the 64-bit size.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

#include "platform/listing/dir_listing.h"
#include "platform/core/sys_error.h"

namespace toka {

/// The attribute bits, with the values of the original design so that code
/// and tests can speak of them by number.
enum Attribute : std::uint8_t {
    AttrReadOnly = 1,   ///< R: the owner's write bit is clear
    AttrHidden = 2,     ///< H: the name starts with "." (not "." or "..")
    AttrSystem = 4,     ///< S: character or block device, FIFO, socket
    AttrDirectory = 16, ///< D: a real directory (not a link to one)
    AttrArchive = 32,   ///< A: a regular file or a symbolic link
};

/// The attribute bits of an entry with this lstat mode and name.
std::uint8_t attributesOf(mode_t mode, std::string_view name);

/// The five letters R A S H D in that order, "-" for a clear bit:
/// a plain file "-A---", a directory "----D", a hidden FIFO "--SH-".
std::string attributeText(std::uint8_t attributes);

/// A broken-down local time.  second is 0..60.
struct LocalDateTime {
    int year = 0;
    int month = 0; ///< 1..12
    int day = 0;   ///< 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int dayOfWeek = 0; ///< 0 = Sunday .. 6 = Saturday
    friend bool operator==(const LocalDateTime&, const LocalDateTime&) = default;
};

/// A DOS date and time: date = (year-1980)<<9 | month<<5 | day,
/// time = hour<<11 | minute<<5 | second/2.
struct DosDateTime {
    std::uint16_t date = 0;
    std::uint16_t time = 0;
    friend bool operator==(const DosDateTime&, const DosDateTime&) = default;
};

/// t in the local time zone (localtime_r); nullopt when t cannot be broken
/// down (far outside the calendar's range).
std::optional<LocalDateTime> toLocalDateTime(std::time_t t);

/// The DOS date and time of a local time: seconds truncated to an even
/// number; nullopt for years before 1980 or after 2107.
std::optional<DosDateTime> toDosDateTime(const LocalDateTime& local);

/// The local time a DOS date and time stands for (day of the week filled in).
LocalDateTime fromDosDateTime(DosDateTime dos);

/// The last-change time as the table shows it: within 1980..2107 the time
/// goes through the DOS date and time (even seconds); outside, it is the
/// local time as it is.
std::optional<LocalDateTime> displayedChangeTime(std::time_t mtime);

/// What lstat says about one entry.
struct FileInfo {
    EntryType type = EntryType::Unknown;
    mode_t mode = 0;
    std::uint8_t attributes = 0;
    std::int64_t size = 0; ///< st_size; for a link the length of its target
    std::time_t mtime = 0; ///< last modification, seconds since the epoch
};

/// lstat of directory + name (directory ends in "/"), for paths of any
/// length; the attributes take the hidden bit from name.  Fails when the
/// entry is gone or cannot be examined.
Result<FileInfo> examineEntry(std::string_view directory, std::string_view name);

} // namespace toka
