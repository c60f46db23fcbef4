#pragma once
// Saving the result rows to a file: as CSV, or as a plain list of full
// paths.  Formatting is pure (no widget, no system call), so the window
// takes a snapshot of its rows on its own thread and hands the rest to a
// worker, which formats and writes the file with saveFileAtomically.
//
// Names are bytes, and a saved name must be the same name: every name,
// location and path is written with its own bytes.  The file is therefore
// UTF-8 wherever the names are (and in every other cell), and holds a name
// that is not valid UTF-8 byte for byte, not decoded as the table shows it
// (Latin-1) nor replaced.  A program that reads the file as bytes gets every
// path exactly; one that insists on UTF-8 may show such a name with
// replacement marks, but never as another valid name.

#include <QStringList>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/sys_error.h"
#include "platform/core/system_calls.h"

namespace toka {

class ResultModel;

/// One row as the table shows it.
struct ExportRow {
    std::string name;     ///< bytes, as listed
    std::string location; ///< bytes, the directory with its trailing "/"
    /// The other cells as shown (UTF-8): empty while a row's details are
    /// not read, as in the table.
    std::string date;
    std::string time;
    std::string attributes;
    std::string size;
    std::string measure;
    /// The full path: location + name.
    std::string path() const { return location + name; }
};

/// The model's rows in the order shown (its sort order), without the empty
/// row of a model that has no entries.  No file-system call.
std::vector<ExportRow> shownRows(const ResultModel& model);

/// The model's column captions, in column order.
QStringList columnCaptions(const ResultModel& model);

/// RFC 4180 CSV: a header line with `captions` (the table's seven, in its
/// order) and "Path", then one line per row with the seven cells and the
/// full path.  Every line ends in CR LF; a field that holds a comma, a
/// double quote, CR or LF is enclosed in double quotes, its quotes doubled;
/// other fields stand as they are.  No rows: the header line alone.
std::string resultsAsCsv(const std::vector<ExportRow>& rows, const QStringList& captions);

/// How a path list ends each path.
enum class PathListEnd {
    LineFeed, ///< one path a line: what text tools read; a path that holds a
              ///< line feed itself reads as two there
    Nul       ///< each path ended by a NUL byte: exact for every name (xargs -0)
};

/// The rows' full paths, in row order, each followed by `end`.  No rows:
/// empty.
std::string resultsAsPathList(const std::vector<ExportRow>& rows, PathListEnd end = PathListEnd::LineFeed);

/// Writes `contents` to `path` so that the file is at no moment partly
/// written: into a new hidden file in the same folder (mode 0666 less the
/// umask, or the permissions of the regular file it replaces), flushed to
/// the disk, renamed over `path`, and the folder flushed.  A symbolic link
/// at `path` is replaced, not followed.  On any failure the hidden file is
/// removed, whatever stood at `path` is left as it was, and the error names
/// the failing step ("create", "write", "fsync", "close", "rename") with
/// `path` and errno: ENOSPC for a full disk, EROFS or EACCES for a folder
/// that cannot be written, EISDIR when `path` is a directory or ends in "/".
/// Blocks on the file system: call it off the window's thread.
std::optional<SysError> saveFileAtomically(const std::string& path, std::string_view contents,
                                           SystemCalls& system = posixSystemCalls());

} // namespace toka
