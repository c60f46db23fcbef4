#pragma once
// When a directory's recorded listing may stand in for listing it again:
// the rule of the verifying walk (parallel_walk.h).
//
// A name is added, removed or renamed in a directory only with new
// modification and change times (directory_identity.h), so a directory
// whose device, inode and both times are those recorded holds the names
// recorded, in the order recorded, provided that
//   - its file system is trusted (file_system_trust.h): the times are set
//     on every change and not cached from elsewhere;
//   - the recorded times are not racy: a change made after the walk read
//     them could have left them as they were when both fall into the same
//     step of the file system's clock.  Times older than the walk's start
//     by more than one step (the file system's own, plus the kernel's clock
//     tick, by which file times lag the real clock) cannot be repeated by a
//     later change; newer ones can, and such a directory is treated as
//     changed, as git treats racy index entries;
//   - the process has the rights it had (access_rights.h), so that what
//     could be listed then can be listed now.

#include <optional>

#include "platform/core/directory_identity.h"
#include "platform/listing/file_system_trust.h"

namespace toka {

/// How far file times may lag the real clock: the kernel stamps files from
/// a clock that advances once per tick, 10 ms at the slowest tick (100 Hz).
inline constexpr std::int64_t kFileClockLagNs = 10'000'000;

/// The span before a walk's start within which a directory's times are
/// racy: the step of the file system's times (a nanosecond, or a whole
/// second when the stamp's times carry no nanoseconds and whole seconds are
/// possible there) plus kFileClockLagNs.
std::int64_t racyWindowNs(const DirectoryStamp& stamp, const FileSystemTrust& trust);

/// Whether both of the stamp's times lie before start minus racyWindowNs.
bool isSettledBefore(const DirectoryStamp& stamp, FileTime start, const FileSystemTrust& trust);

/// Whether a directory whose stamp is now may be answered from its recorded
/// listing: a stamp was recorded with it (recorded), equal to now, on a
/// trusted file system, settled before recordStart, the start of the walk
/// that recorded it.
bool recordedListingStands(const std::optional<DirectoryStamp>& recorded, const DirectoryStamp& now,
                           const FileSystemTrust& trust, FileTime recordStart);

} // namespace toka
