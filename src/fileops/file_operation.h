#pragma once
// The program's own copy / move / delete of a list of files and folders.
//
// The window hands over the marked entries as full paths (directory + name;
// bytes, any name the file system allows), the operation and the selected
// directory.  The engine asks its questions through FileOpQuestions and
// reports progress through it; all system calls go through SystemCalls.
//
// Nothing is lost on any path through the code:
// - A copy is written under a hidden temporary name (".toka-" and six random
//   letters) in the destination directory and renamed to its final name only
//   when complete.  A folder is built completely under its temporary name;
//   inside it entries get their final names at once, since nobody else sees
//   them yet.  A cancelled or failed copy removes its temporary item; the
//   final name never holds a half-written file while the system runs.
// - A copy is flushed to the disk (fsync for a file, syncfs for a folder
//   tree, then its directory) before it is renamed into place where that
//   protects data: before a move removes its source, and before a copy
//   replaces an item.  A fresh copy of an item that stays at its source is
//   not flushed; like cp's, it reaches the disk as the system writes it
//   back, and a crash before then may leave it empty or short under its
//   final name, never its source.  Every flush runs on a thread of its own:
//   Cancel ends the wait at once (the copy that waited is then discarded, or,
//   once in place, stays, its source with it).
// - Without a replacement the final rename refuses to replace
//   (RENAME_NOREPLACE).  A replaced file or link goes in the same atomic
//   rename.  Where a folder and a non-folder replace each other, the existing
//   item is first renamed aside to a temporary name in its own directory, the
//   new one renamed into place (the old one is renamed back if that fails)
//   and only then the old one removed; for a finished copy one atomic
//   exchange with its temporary item does the first two steps.  What of the
//   old item cannot be removed stays under its temporary name, beside the
//   new one.  Replace on two folders merges (see ExistsAction).
// - A move within one file system is a rename.  Where the rename answers
//   EXDEV, the item is copied completely, renamed into place and flushed,
//   and only then are the source entries removed: exactly those that were
//   copied (by device and inode) and have not changed since their copy began
//   (size, modification and change time, to the nanosecond).  An entry
//   skipped after a failure stays in the source; so does one written to
//   during the move, reported as ChangedDuringMove, beside its copy.
// - Copy or move of a folder into itself or below itself and of an item onto
//   itself are refused through askFailure before anything is created.
//   "Inside" is a matter of identity, not of path spelling: the source's
//   device and inode against every directory up the destination's ".."
//   chain (symbolic links in the path do not fool it), and, since a bind
//   mount of a folder inside the source leads out of that chain, a survey of
//   the source tree for the destination's own device and inode.
// - Every removal (delete, the sources of a move, a replaced or temporary
//   item) opens each directory with O_NOFOLLOW relative to its parent and
//   removes with unlinkat, so it never follows a symbolic link, and it never
//   descends into a mount point: a directory of another file system or the
//   root of any mount, bind mounts of the same file system included (statx,
//   STATX_ATTR_MOUNT_ROOT; kernels before 5.8 show other devices only).  The
//   mount stays untouched, with everything in it, and is reported.
// - A source that vanished is a failure of that item only.
//
// Kept on copies (and moves across file systems), as cp -a keeps them:
// - contents, with the holes of a sparse file kept as holes (a 5 GiB disk
//   image holding 4 KiB of data takes 4 KiB at the destination; see
//   copy_contents.h); symbolic links as links, FIFOs and sockets as new
//   nodes (device nodes where the process may create them);
// - hard links within the copied or moved set: a file with several names
//   is copied once per run, its other names become links to that copy
//   (names outside the set are not followed; a name whose link fails gets a
//   copy of its own);
// - owner and group where the process may give them (root: any; a user:
//   a group the user belongs to);
// - extended attributes of every namespace the process may write, POSIX
//   ACLs among them (the access ACL, and the default ACL of a folder); an
//   ACL the copy would inherit from its new folder is removed where the
//   source has none;
// - the permission bits, with sticky, set-user-ID only where the owner is
//   kept and set-group-ID only where the group is kept;
// - access and modification times.
// A copy is created private (0600, a folder 0700) and given all this only
// when full, owner first, times last (see metadata.cpp), so at no moment is
// it more open than its source, and metadata goes through descriptors of
// the new node, never by a name that someone could have turned into a link
// meanwhile.  What cannot be kept (an attribute the destination refuses, an
// ACL that says more than the permission bits on a file system without
// ACLs, an owner that root could not give) is asked about through
// askFailure; the copy stays, but a move keeps that source entry (and the
// folders around it) too.  Attributes of a namespace an unprivileged process
// may not write (trusted.*, security.*), and an owner a user may not give,
// are dropped without a question, as the copy belongs to the user.
//
// Limits: walks through a folder tree (the survey, the copy, a merge into an
// existing folder, every removal) keep their levels on the heap and a
// bounded number of directories open per tree (DirectoryChain), so a tree of
// any depth, 20,000 levels and more, merged or not, is copied, moved and
// deleted with an 8 MiB stack and a descriptor limit as low as 64.  A merge
// keeps both of its sides open while the item at its deepest level is
// copied.  A run remembers where the first copy of each file with several
// names went (some 100 bytes a file, plus its path); a link to a first copy
// deeper than PATH_MAX is made through its folders, one open per level.  A
// process killed during the work leaves at most its hidden
// ".toka-" item in the destination directory.

#include <string>
#include <vector>

#include "fileops/file_op_questions.h"
#include "platform/core/system_calls.h"

namespace toka {

class FileOperation {
public:
    explicit FileOperation(FileOpQuestions& questions, SystemCalls& system = posixSystemCalls());

    /// Copies or moves every item of sources into destination, or deletes
    /// them (destination is then not looked at), in the order given.
    ///
    /// sources: full paths; a trailing "/" is ignored; a path whose last
    /// component is empty, "." or ".." is refused as an invalid source.
    /// destination: a directory path, normally ending in "/".
    ///
    /// An empty list returns at once without a question.  For copy and move a
    /// destination that is missing or not a directory gives one showError and
    /// changes nothing.  Delete asks confirmDelete first.  Runs on the
    /// caller's thread until done or cancelled.
    FileOpResult run(const std::vector<std::string>& sources, FileOpKind kind, const std::string& destination);

private:
    FileOpQuestions& m_questions;
    SystemCalls& m_system;
};

} // namespace toka
