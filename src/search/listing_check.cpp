#include "search/listing_check.h"

namespace toka {

std::int64_t racyWindowNs(const DirectoryStamp& stamp, const FileSystemTrust& trust) {
    const bool wholeSeconds =
        trust.wholeSecondTimesPossible && stamp.modified.nanoseconds == 0 && stamp.changed.nanoseconds == 0;
    return (wholeSeconds ? 1'000'000'000 : 1) + kFileClockLagNs;
}

bool isSettledBefore(const DirectoryStamp& stamp, FileTime start, const FileSystemTrust& trust) {
    const FileTime limit = addNanoseconds(start, -racyWindowNs(stamp, trust));
    return stamp.modified < limit && stamp.changed < limit;
}

bool recordedListingStands(const std::optional<DirectoryStamp>& recorded, const DirectoryStamp& now,
                           const FileSystemTrust& trust, FileTime recordStart) {
    return recorded && trust.trusted && *recorded == now && isSettledBefore(now, recordStart, trust);
}

} // namespace toka
