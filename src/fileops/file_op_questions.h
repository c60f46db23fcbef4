#pragma once
// What the file-operation engine tells its caller and asks of it: the
// operation codes, the questions it puts to the user (FileOpQuestions), the
// progress it reports and the result it returns.  No widgets: the window
// answers with dialogs, tests with scripted replies.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/core/sys_error.h"

namespace toka {

/// The operation codes of DoFileOperation.
enum class FileOpKind { Copy = 0, Move = 1, Delete = 2 };

/// What the user wants done with an item that exists at the destination.
/// Replace on two directories merges the source folder into the existing one:
/// items of the existing folder that the source does not have stay, and every
/// item present in both is asked about in turn.
enum class ExistsAction { Replace, Skip, Cancel };

struct ExistsReply {
    ExistsAction action = ExistsAction::Cancel;
    bool forAll = false; ///< give the same answer to every later conflict
};

enum class FailureAction { Skip, Cancel };

/// One side of an "already exists" question, for the dialog's text.
struct ItemInfo {
    std::string path; ///< full path, bytes as the file system has them
    bool isDirectory = false;
    bool isSymlink = false;
    std::uint64_t size = 0;           ///< lstat size (0 for directories)
    std::int64_t modifiedSeconds = 0; ///< modification time, seconds since 1970 UTC
};

enum class FailureKind {
    SystemError,             ///< a system call failed; error holds errno
    Vanished,                ///< the source no longer exists
    IntoItself,              ///< a directory copied or moved into itself or below itself
    OntoItself,              ///< an item copied or moved onto itself
    MountPoint,              ///< removal reached a mount point (any file system, bind mounts
                             ///< too): it and everything in it stay untouched
    ChangedDuringMove,       ///< a source changed after its copy began: the move keeps it, and
                             ///< the copy made before the change
    InvalidSource,           ///< the path names no item ("", "/", ending in "." or "..")
    DestinationMissing,      ///< the destination directory does not exist
    DestinationNotDirectory, ///< the destination exists but is not a directory
    LeftOver,                ///< a temporary or replaced item could not be removed
};

/// A failure of the engine: the platform's error (operation: what was
/// attempted, e.g. "write", "rename", "remove"; path: the item concerned;
/// code: errno where a system call failed, else 0) and what kind it is.
struct FileOpFailure : SysError {
    FailureKind kind = FailureKind::SystemError;

    FileOpFailure() = default;
    FileOpFailure(FailureKind failureKind, std::string action, std::string itemPath, int error)
        : SysError{std::move(action), std::move(itemPath), error}, kind(failureKind) {}

    /// One English sentence for a message box, with the system's error text.
    std::string describe() const;
};

struct FileOpProgress {
    FileOpKind operation = FileOpKind::Copy;
    std::string currentItem;              ///< full path of the source entry being worked on
    std::size_t itemsDone = 0;            ///< list items finished (done, skipped or failed)
    std::size_t itemsTotal = 0;           ///< list items in all
    std::uint64_t bytesDone = 0;          ///< bytes of regular files copied or passed over
    std::uint64_t bytesTotal = 0;         ///< bytes to copy, counted before the work (0 for delete
                                          ///< and for moves that are renames); may be exceeded
                                          ///< when a move falls back to copying or files grow
    std::chrono::milliseconds elapsed{0}; ///< since the operation started
};

/// Show the progress dialog only once the work has lasted this long, so that
/// a quick operation does not flash a window.
inline constexpr std::chrono::milliseconds kProgressDelay{500};

struct FileOpResult {
    std::size_t itemsDone = 0;    ///< list items handled completely
    std::size_t itemsSkipped = 0; ///< list items skipped, failed, or done only in part
    std::uint64_t bytesCopied = 0;
    bool cancelled = false;              ///< the user cancelled (also: declined the delete)
    std::vector<FileOpFailure> failures; ///< every failure, in order, asked or not
};

/// The questions of the engine.  Called on the caller's thread, in the middle
/// of the work; every call may take as long as the user needs.
class FileOpQuestions {
public:
    virtual ~FileOpQuestions() = default;

    /// Deleting is permanent; count is the number of list items.  false: nothing
    /// is deleted.
    virtual bool confirmDelete(std::size_t count) = 0;

    /// existing is in the way of source.  Not asked again after a forAll reply.
    virtual ExistsReply askExists(const ItemInfo& source, const ItemInfo& existing) = 0;

    /// Something went wrong with one item; Skip goes on with the next, Cancel
    /// stops the rest.  Refusals (into itself, onto itself) come here too.
    virtual FailureAction askFailure(const FileOpFailure& failure) = 0;

    /// A message with nothing to choose: the destination is missing or not a
    /// directory (the operation then ends without changing anything), or a
    /// temporary or replaced item could not be removed (LeftOver: it stays
    /// under its hidden ".toka-" name, and the work goes on).
    virtual void showError(const FileOpFailure& failure) = 0;

    /// Called every few tens of milliseconds while the engine works (between
    /// 1 MiB chunks of a large file, between directory entries).  The window
    /// shows its progress dialog once progress.elapsed >= kProgressDelay and
    /// processes its pending events here, so that the Cancel button works.
    virtual void progress(const FileOpProgress& progress) { (void)progress; }

    /// Read right after every progress check point; true stops the work as
    /// soon as what is half done has been cleaned up.  Keep it cheap.
    virtual bool cancelRequested() { return false; }
};

} // namespace toka
