#pragma once
// Opening a file for the viewer without ever blocking: the viewer runs on
// the window's thread, and opening a FIFO for reading waits for a writer.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <string>

#include "platform/core/unique_fd.h"
#include "viewer/load_result.h"

namespace toka {

/// Opens `path` for reading when it is a regular file (a symbolic link to
/// one counts).  A directory, FIFO, device or socket fails without being
/// opened; the type is checked again on the open descriptor, which is opened
/// non-blocking, so a file swapped for a FIFO in between cannot block either.
/// The error names the operation, the path and the system's reason.
LoadResult<UniqueFd> openRegularFile(const std::string& path);

/// Reads from `fd` until end of file, a NUL byte when `stopAtNul`, or more
/// than `limit` bytes.  `tooLong` tells the last case apart (the bytes are
/// then `limit + 1` long).  Retries interrupted reads.
LoadResult<QByteArray> readUpTo(int fd, const std::string& path, std::size_t limit, bool stopAtNul, bool& tooLong);

/// The current errno as a load error: "operation path: reason", the text
/// of SysError::message.
QString systemError(const char* operation, const std::string& path);

} // namespace toka
