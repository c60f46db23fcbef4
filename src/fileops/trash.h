#pragma once
// The freedesktop.org trash, on byte paths: any name the file system allows
// can be trashed, valid UTF-8 or not.
//
// An item goes into a trash on its own volume by one rename, never by a copy
// and a delete: trashing takes no room and no time, and an item whose volume
// offers no usable trash stays where it is.
// - The home trash, $XDG_DATA_HOME/Trash ($HOME/.local/share/Trash when
//   XDG_DATA_HOME is unset, empty or relative; the home from the password
//   database when HOME is unset too), takes the items on the device that
//   holds it.  It is made when missing (the data folder on the way too, all
//   mode 0700), with its folders files/ and info/.  Should the rename still
//   answer EXDEV (a bind mount between the item and the trash), the item goes
//   to its mount's trash instead.
// - An item on another volume goes to the trash in the top directory of its
//   mount ($topdir, the highest folder above the item on the same mount):
//   $topdir/.Trash/$uid when $topdir/.Trash is a folder (not a symbolic link)
//   with the sticky bit, so that no user can remove or swap another's trash;
//   else $topdir/.Trash-$uid, made with mode 0700 when missing.
// - A trash folder (the home's Trash or a volume's, and their files/ and
//   info/) is used only when it is a folder of the user's own that nobody
//   else may write to, not a symbolic link: a data folder in a shared place
//   may hold another user's trash, made to catch what this one trashes.
//   Such a trash is refused, and its items stay where they are.
// - An item is checked before any trash folder is made for it: missing, a
//   mount point, in a folder that may not be changed, the trash or a folder
//   holding it are refused, and nothing is made for them.
// - Every item gets a stem that is free in files/ and info/: its name, then
//   name.2, name.3, ... (cut so that STEM.trashinfo fits the file system's
//   longest name; a cut never splits a UTF-8 character, but bytes that are
//   no character are cut anywhere, so that no stem is ever empty).
//   info/STEM.trashinfo is created first (O_EXCL, O_NOFOLLOW) and flushed,
//   then the item renamed to files/STEM (RENAME_NOREPLACE); when the rename
//   fails, the info file is removed again, and a stem taken meanwhile sends
//   the item on to the next one.  A batch flushes each trash once for all
//   its info files before its first rename, and files/ and info/ once after
//   the last.  The info file holds the original path percent-encoded byte by
//   byte (absolute for the home trash, relative to $topdir for a volume's
//   trash) and the deletion date in local time.

#include <string>
#include <vector>

#include "platform/core/system_calls.h"
#include "platform/core/sys_error.h"

namespace toka {

/// Where a trashed item went.
struct TrashedItem {
    std::string pathInTrash; ///< the trash's files/STEM
    std::string infoPath;    ///< the trash's info/STEM.trashinfo
};

/// Moves the item at path (absolute; a file, folder or symbolic link, never
/// the link's target; a trailing "/" is ignored) into the trash of its
/// volume, through system.
///
/// On failure the item is where it was.  The error's path is the item's own
/// when the item is the problem (missing, not absolute, its folder may not be
/// changed, a mount point, the trash, in it or an ancestor of it); any other
/// path (empty when the user has no home) names the trash that could not be
/// made, used or written, and the item is then intact.
Result<TrashedItem> moveToTrash(const std::string& path, SystemCalls& system = posixSystemCalls());

/// An item that moveAllToTrash left where it was.
struct TrashFailure {
    std::string path; ///< as given
    SysError error;
    /// Its volume offers no usable trash (see moveToTrash): the item is
    /// intact, and deleting it permanently is the way left.
    bool noUsableTrash = false;
};

/// moveToTrash for every item of paths, as one batch (see above); the
/// failures in the order of paths.  Safe to call from any thread.
std::vector<TrashFailure> moveAllToTrash(const std::vector<std::string>& paths,
                                         SystemCalls& system = posixSystemCalls());

} // namespace toka
