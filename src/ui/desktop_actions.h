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

class QMimeData;

namespace toka {

/// The file URL of path (absolute, bytes).
QUrl fileUrlOf(const std::string& path);

/// Opens path with the desktop's default application for its type, through
/// QDesktopServices.  false: no application could be started.
bool openWithDefaultApplication(const std::string& path);

/// Asks the file manager to show the folder that holds path with the item
/// selected (org.freedesktop.FileManager1.ShowItems on the session bus).
/// Without a session bus, or when the call fails (no file manager offers the
/// service), the folder itself is opened with the default application.
/// Returns at once; the fallback runs when the bus answers.  A trailing "/"
/// of path is ignored.
void showInFileManager(const std::string& path);

/// The mime data of paths for the clipboard and for dragging rows out:
/// text/uri-list (each URL followed by CR LF) and text/plain (the paths as
/// the grid shows them, one a line).  The caller owns the result.
QMimeData* mimeDataForPaths(const std::vector<std::string>& paths);

/// Puts mimeDataForPaths(paths) on the clipboard.
void copyPathsToClipboard(const std::vector<std::string>& paths);

struct TrashOutcome {
    bool trashed = false;
    QString pathInTrash;  ///< absolute path of the item in the trash, when trashed
    QString error;        ///< one sentence for a message box, when not trashed
};

/// Moves path (file, link or folder) into the user's trash as the freedesktop
/// trash layout wants it (QFile::moveToTrash), after making sure that the
/// trash folder exists: Qt 6.4 otherwise puts the item into "files/" below
/// the working directory and reports success.  A result that is not an
/// existing absolute path counts as a failure (an item found below the
/// working directory is put back).  Not trashed: a name that is not valid
/// UTF-8 (Qt cannot name it), a missing item, a trash that cannot be created
/// or is on another file system; the item is then where it was, unless the
/// error says otherwise.
TrashOutcome moveToTrash(const std::string& path);

} // namespace toka
