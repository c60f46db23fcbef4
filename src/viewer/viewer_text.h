#pragma once
// Text for the file viewer's memo.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <string>

#include "viewer/load_result.h"

namespace toka {

/// The memo holds at most 64 MiB of text.
inline constexpr std::size_t kViewerTextCapacity = std::size_t{64} * 1024 * 1024;

/// Normalises and decodes the bytes of a text file, as the memo shows it:
/// the text ends at the first NUL byte; CR, LF, CR LF and LF CR each end
/// one line and become one "\n" (pairs are taken from the left, so
/// "\r\n\r" is two line ends); the whole text is decoded as UTF-8 when it
/// is valid UTF-8, otherwise every byte as Windows-1252.
QString decodeViewerText(const char* bytes, std::size_t size);

/// Reads the file at `path` (bytes of a file name) and decodes it with
/// decodeViewerText.  Only regular files are read: a directory, FIFO,
/// device or socket fails at once without blocking.  Fails when the file
/// cannot be opened or read, and when the text before the first NUL byte is
/// longer than kViewerTextCapacity bytes; reading stops at the first NUL,
/// so a huge file with an early NUL loads quickly.
LoadResult<QString> loadViewerText(const std::string& path);

} // namespace toka
