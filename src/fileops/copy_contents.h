#pragma once
// Copying the bytes of one regular file into a new one, as cheaply as the
// file systems allow, with holes kept as holes.
//
// In order of preference:
// 1. A reflink (FICLONE): the copy shares the source's blocks until either
//    is written; no data moves.  Only within one file system that has it.
// 2. copy_file_range per data extent: the kernel copies (or the server, on
//    a network file system) without the bytes passing through the process.
// 3. read and write in chunks of the caller's buffer.
// Each step falls back to the next when the file systems refuse it; from
// the first refusal on, the rest of the file takes the next step.
//
// Holes: where the source's allocated blocks do not cover its size, its data
// extents are found with SEEK_DATA and SEEK_HOLE and only they are copied;
// the destination gets its final size with ftruncate, so a hole at the end
// stays a hole too.  A 5 GiB disk image with 4 KiB of data takes 4 KiB.
//
// The copy always runs to the source's end of file, not to the size it had
// when opened: a file that grows meanwhile is copied as far as it has grown,
// and files that report a size of 0 (under /proc) are read to their end.

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/core/system_calls.h"

namespace toka {

enum class ContentCopyStatus { Done, Cancelled, ReadFailed, WriteFailed };

struct ContentCopyResult {
    ContentCopyStatus status = ContentCopyStatus::Done;
    int error = 0; ///< errno of ReadFailed (the source) or WriteFailed (the destination)
    /// The reflink was refused as one the two file systems never make (not
    /// supported, or two file systems): the caller may skip it for the next
    /// file between them.
    bool noReflinks = false;
};

/// Called after every chunk, and for every hole passed over, with the bytes
/// of the source just passed; answers true to stop the copy (Cancel).
using ContentCopyProgress = std::function<bool(std::uint64_t bytes)>;

/// Copies the contents of the regular file open for reading as inFd into the
/// new, empty file open for writing as outFd; both descriptors at offset 0.
/// source is inFd's status (its size and allocated blocks choose the method).
/// buffer (not empty) sets the size of a chunk, for read/write and for
/// copy_file_range alike, so that progress is called about as often either way.
///
/// Returns Done, Cancelled when progress answered true, or the failure: a
/// failed read (or seek on the source) as ReadFailed, a failed write, copy
/// or ftruncate of the destination as WriteFailed.  A failure of an offload
/// other than "not supported" is retried with read and write, so that it is
/// reported as they report it.  On every outcome but Done the destination
/// holds part of the contents: the caller removes it.
/// tryReflink: false skips step 1.
ContentCopyResult copyContents(SystemCalls& system, int inFd, int outFd, const struct stat& source,
                               std::vector<char>& buffer, const ContentCopyProgress& progress, bool tryReflink = true);

} // namespace toka
