#pragma once
// What a Linux desktop user expects to do with a result row besides copy,
// move and delete: open it, show it in the file manager, copy its path, move
// it to the trash, drag it into another program.
//
// Paths are bytes, absolute.  A file URL is made from the bytes themselves,
// every byte but the unreserved ones and "/" percent-encoded, so that "#",
// "?" or "%" in a name stay part of the path and a name that is not valid
// UTF-8 still names its file: QFile::decodeName turns such bytes into U+FFFD
// in Qt 6, and QUrl::fromLocalFile(QFile::decodeName(path)) then names a
// file that does not exist.  For a valid UTF-8 path the URL is the one
// QUrl::fromLocalFile gives.

#include <QString>
#include <QUrl>
#include <string>
#include <vector>

#include "fileops/trash.h"

class QMimeData;
class QWidget;

namespace toka {

/// The file URL of path (absolute, bytes).
QUrl fileUrlOf(const std::string& path);

/// Opens path with the desktop's default application for its type, through
/// QDesktopServices.  false: no application could be started.
bool openWithDefaultApplication(const std::string& path);

/// Asks the file manager to show the folder that holds path with the item
/// selected (org.freedesktop.FileManager1.ShowItems on the session bus).
/// Without a session bus, or when the call fails (no file manager offers the
/// service), the folder itself is opened with the default application; when
/// that fails too, a warning box under parent (while it exists) says so.
/// Returns at once; the fallback runs when the bus answers.  A trailing "/"
/// of path is ignored.
void showInFileManager(const std::string& path, QWidget* parent);

/// The mime data of paths for the clipboard and for dragging rows out:
/// text/uri-list (each URL followed by CR LF) and text/plain (the paths as
/// the grid shows them, one a line).  The caller owns the result.
QMimeData* mimeDataForPaths(const std::vector<std::string>& paths);

/// Puts mimeDataForPaths(paths) on the clipboard.
void copyPathsToClipboard(const std::vector<std::string>& paths);

/// Tells the user under parent about each item of paths that the trash left
/// where it was (failures: what moveAllToTrash of the platform layer
/// returned), by name and reason, in one warning box.  Items whose volume
/// offers no usable trash are instead listed in one question that offers to
/// delete them permanently (No is the default).  Returns the items the user
/// chose to delete, for the window's delete with its confirmation; empty
/// when none.
std::vector<std::string> reportTrashFailures(QWidget* parent, const std::vector<std::string>& paths,
                                             const std::vector<TrashFailure>& failures);
/// moveAllToTrash, then reportTrashFailures, on the caller's thread (for
/// tools and tests; the window trashes on a worker).
std::vector<std::string> moveToTrashReporting(QWidget* parent, const std::vector<std::string>& paths);

} // namespace toka
