#pragma once
// The worker behind FileOperation::run, one per run, private to the engine.
// Its duties are spread over file_operation.cpp (the run, the questions and
// the checks before each item), merge.cpp (one item as a whole, and merges
// into an existing folder), copy.cpp (the copy of one item and its
// placing), move.cpp (renames, and moves across file systems), renames.cpp
// (temporary names, renames that refuse or replace), tree_walks.cpp (the
// walks through whole folder trees: surveying and copying them),
// metadata.cpp (owners, ACLs, attributes, mode and times of a copy),
// hard_links.cpp (links kept as links), flush.cpp (flushes that Cancel can
// stop waiting for) and removal.cpp (removing trees).  Every walk
// through a tree is iterative and holds a bounded number of descriptors
// (DirectoryChain), whatever the tree's depth.

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "fileops/directory_chain.h"
#include "platform/core/unique_fd.h"
#include "fileops/file_identity.h"
#include "fileops/file_op_questions.h"
#include "platform/core/system_calls.h"

namespace toka::fileops {

using Clock = std::chrono::steady_clock;

/// What became of one entry.
enum class Outcome {
    Done,      ///< completely
    Partial,   ///< a folder that exists at its target, some entries inside were skipped
    Skipped,   ///< nothing done (the user skipped it, or skipped past its failure)
    Cancelled, ///< stop everything
};

inline Outcome worse(Outcome a, Outcome b) { return static_cast<int>(a) > static_cast<int>(b) ? a : b; }

/// dirPath + "/" + name, with one "/" between them.
std::string childPath(const std::string& dirPath, const std::string& name);

/// Cuts path back to length (the path of a folder) and appends name below it.
void setChildPath(std::string& path, std::size_t length, const std::string& name);

/// How removeEntry treats what it meets.
enum class RemoveMode {
    Delete,  ///< the user's delete: progress, cancel, a question on each failure
    Copied,  ///< sources of a finished cross-device move: only unchanged entries of the copied set
    Discard, ///< the engine's own temporary item, or the item the user chose to replace:
             ///< no questions, no cancel; the caller reports what is left over
};

/// The item a copy reads: the entry `name` of the directory dirFd.
struct CopySource {
    int dirFd;
    const std::string& name;
    const std::string& path;   ///< its full path, for progress and messages
    const struct stat& status; ///< as looked at before the copy, a link not followed
};

/// The name a copy is created under.
enum class CopyName {
    Temporary, ///< a hidden temporary name picked for it: the copy of a list item, renamed into place once complete
    Given,     ///< the target's name as it stands: an entry inside a folder copy that nobody sees yet
};

/// Where a copy goes and what it promises once done.
struct CopyTarget {
    int dirFd;
    std::string& name; ///< the name given, or (Temporary) the name picked
    CopyName naming;
    const std::string& path; ///< its final path, for messages
    bool flush;              ///< on disk before it counts as done: fsync for a file, syncfs for a folder tree
                             ///< (a move's copy, and one that replaces an item)
    CopiedItems* copied;     ///< when set, gets every source entry copied, stamped as before its copy began
    std::size_t item;        ///< the copied item (Worker::m_placedItems) it lies in
    bool inheritsAcl;        ///< made below a folder with a default ACL, which new nodes take
    /// The folder dirFd, as it was made by this run (an entry of a folder
    /// copy), else null.
    const struct stat* folder = nullptr;
};

class Worker {
public:
    Worker(FileOpQuestions& questions, SystemCalls& system, FileOpKind kind);

    FileOpResult run(const std::vector<std::string>& sources, const std::string& destination);

private:
    // ----- talking to the user -----
    bool checkpoint();
    Outcome fail(FailureKind kind, const char* action, const std::string& path, int error = 0);
    Outcome failSource(const char* action, const std::string& path, int error);
    ExistsAction askExists(const ItemInfo& source, const ItemInfo& existing);
    void reportLeftOver(const std::string& path, int error);

    // ----- the list items and the checks before each -----
    Outcome transferItem(const std::string& path, int destFd, const std::string& destPath);
    Outcome deleteItem(const std::string& path);
    void collectDestinationAncestors(int destFd);
    bool isRefusedDirectory(const FileId& id) const;
    /// A directory to write into, readable or not (then opened as O_PATH).
    int openDirectory(int dirFd, const char* name, int extraFlags);
    /// "copy" or "move", as failures name the operation.
    const char* transferVerb() const;
    /// What the checks before the copy or move of one item found.
    struct TransferCheck {
        std::optional<Outcome> end;          ///< set when the item ends here: refused, vanished, skipped, cancelled
        struct stat status {};               ///< the source item, a link not followed
        std::string destPath;                ///< its path in the destination
        std::optional<struct stat> existing; ///< what stands under its name there, which the user chose to replace
        TransferCheck& endWith(Outcome outcome) {
            end = outcome;
            return *this;
        }
        bool mergesFolders() const { return existing && S_ISDIR(status.st_mode) && S_ISDIR(existing->st_mode); }
    };
    /// The checks every item to copy or move (the entry `name` of srcDirFd,
    /// into the directory destDirFd) passes before anything is created, in
    /// this order: Cancel; the source still there; no folder into itself;
    /// what already stands under its name in the destination: the item
    /// itself (refused), or the exists question (skip, cancel or replace).
    TransferCheck checkTransfer(int srcDirFd, const std::string& name, const std::string& srcPath, int destDirFd,
                                const std::string& destDirPath);

    // ----- surveys (tree_walks.cpp) -----
    struct Survey {
        std::uint64_t bytes = 0;       ///< of the regular files in the tree
        bool holdsDestination = false; ///< the destination directory is one of its folders
    };
    /// Walks the item `name` of parentFd as a copy would (into mounts, not
    /// along links) and stops early once it meets the destination.
    Survey survey(int parentFd, const std::string& name);
    /// Whether copying the folder `name` would copy into itself: the
    /// destination is inside it, seen through a bind mount, say, that the
    /// ".." chain of the destination does not pass.
    bool holdsDestination(int parentFd, const std::string& name);

    // ----- one item and merges (merge.cpp) -----
    /// Copies or moves (m_kind) the entry `name` of srcDirFd into the
    /// directory destDirFd: its checks, then a merge where it meets a folder
    /// of its name, else transferChecked.
    Outcome transferInto(int srcDirFd, const std::string& name, const std::string& srcPath, int destDirFd,
                         const std::string& destDirPath);
    /// The copy or move of an item that passed its checks and merges nothing.
    Outcome transferChecked(int srcDirFd, const std::string& name, const std::string& srcPath, int destDirFd,
                            const TransferCheck& check);
    /// Merges the source folder `name` of srcDirFd into the folder of that
    /// name in destDirFd, without recursion: every entry goes as a list item
    /// would (checked, then merged, copied or moved).  A move removes each
    /// source folder it emptied.
    Outcome merge(int srcDirFd, const std::string& name, const std::string& srcPath, int destDirFd,
                  const std::string& destPath);
    struct MergeLevel;
    /// Opens the folder `name` on both sides (srcDirFd and destDirFd: the
    /// deepest levels of the chains, or the item's directories for the top)
    /// and enters both chains; empty when entered, else what became of it.
    std::optional<Outcome> enterMerge(DirectoryChain& sources, DirectoryChain& targets, int srcDirFd, int destDirFd,
                                      const std::string& name, const std::string& srcPath, const std::string& destPath,
                                      MergeLevel& level);

    // ----- copy (copy.cpp) -----
    Outcome createCopy(const CopySource& source, const CopyTarget& target);
    Outcome copyFile(const CopySource& source, const CopyTarget& target);
    /// The copy of a folder tree (tree_walks.cpp).  The folder itself always
    /// gets a temporary name: folders below it are entered by the walk.
    Outcome copyDirectory(const CopySource& source, const CopyTarget& target);
    struct CopyLevel;
    /// Opens the source folder `name` below the deepest level of sources,
    /// creates its copy below the deepest level of targets and enters both;
    /// empty when entered, else what became of the folder.
    std::optional<Outcome> enterCopy(DirectoryChain& sources, DirectoryChain& targets, const std::string& name,
                                     const std::string& srcPath, const std::string& destPath, CopyLevel& level);
    Outcome copySymlink(const CopySource& source, const CopyTarget& target);
    Outcome copyNode(const CopySource& source, const CopyTarget& target);
    /// Gives the link or node just made for source under target's name its
    /// metadata, through descriptors of both; on failure the node goes.
    Outcome keepNodeMetadata(const CopySource& source, const CopyTarget& target);
    /// Creates the target's item through create(name), under the name its
    /// naming asks for; create's result, or -1 with errno.
    template <class Create>
    int createNamed(const CopyTarget& target, Create create);
    /// Copies the item under a temporary name and places it under its own.
    /// copied: as in CopyTarget.
    Outcome copyAndPlace(const CopySource& source, int destDirFd, const TransferCheck& check, CopiedItems* copied);
    /// Renames the finished copy tempName of dirFd to finalName, replacing
    /// what check found there; on failure the copy is removed.  flushed: the
    /// copy is on disk, and so is its new name once placed (the directory is
    /// flushed too).
    Outcome place(int dirFd, const std::string& tempName, const std::string& finalName, const TransferCheck& check,
                  bool flushed);

    // ----- move (move.cpp) -----
    /// The move of a checked item: a rename, or moveAcross where it answers EXDEV.
    Outcome moveChecked(int srcDirFd, const std::string& name, const std::string& srcPath, int destDirFd,
                        const TransferCheck& check);
    /// The move of an item to another file system: copied, placed, flushed,
    /// and only then are the copied source entries removed.
    Outcome moveAcross(int srcDirFd, const std::string& name, const std::string& srcPath, int destDirFd,
                       const TransferCheck& check);

    // ----- hard links (hard_links.cpp) -----
    /// Where the first copy of a source with several links lies: in the
    /// copied item `item`, at the path `inside` below it ("" for the item
    /// itself), with the identity `copy`.
    struct FirstCopy {
        std::size_t item;
        std::string inside;
        FileId copy;
        FileStamp source; ///< the source's, as it was copied
    };
    /// Where an item this run copied lies now, relative to the run's
    /// destination directory: the folder that holds it ("" or ending in "/")
    /// and its name there, the temporary one until it is placed.
    struct PlacedItem {
        std::string directory;
        std::string name;
        std::string path; ///< its final path, which the paths of the entries inside begin with
        bool holdsFirstCopy = false;
    };
    /// Starts the record of a new item to copy, whose final path is destPath.
    std::size_t beginItem(const std::string& destPath);
    /// Makes target a new link to the first copy of source, where this run
    /// made one; empty when there is none to link to (then it is copied).
    std::optional<Outcome> linkToFirstCopy(const CopySource& source, const CopyTarget& target);
    /// Records the copy just made under target as the first of source.
    void recordFirstCopy(const CopySource& source, const CopyTarget& target);
    /// Opens the directory at `path` (components below dirFd, "/" between
    /// them), not following links; the descriptor, or -1 with errno.
    int openBelow(int dirFd, const std::string& path);

    // ----- metadata (metadata.cpp) -----
    /// Gives the copy open as copyFd (made: its status) the owner, extended
    /// attributes, ACLs, mode and times of the source open as sourceFd
    /// (source: its status); either may be an O_PATH descriptor.  Done, or
    /// Partial when something could not be kept (asked about, the user
    /// skipped: the copy stays, but is not taken for a complete one), or
    /// Cancelled.
    /// inherited: the copy may have taken an ACL from a default ACL of its
    /// new folder (see givesDefaultAcl).
    Outcome keepMetadata(int sourceFd, int copyFd, const struct stat& source, const struct stat& made,
                         const std::string& path, bool inherited);
    /// Whether nodes made in the folder open as dirFd take an ACL from it:
    /// it has a default ACL (or cannot be asked).
    bool givesDefaultAcl(int dirFd);
    /// listxattr into names: its length, 0 where the file system has no
    /// attributes, -1 with errno.
    ssize_t listAttributes(int fd, std::vector<char>& names);

    // ----- flushes (flush.cpp) -----
    static constexpr int kFlushCancelled = -1;
    /// Flushes what fd is open as to the disk (fsync; with wholeFileSystem
    /// syncfs), on a thread of its own, and waits for it at the progress
    /// checkpoints.  0 once on disk, the flush's errno, or kFlushCancelled
    /// when Cancel ended the wait (the flush then ends unwatched).
    int flush(int fd, bool wholeFileSystem);

    // ----- remove (removal.cpp) -----
    /// Removes the entry `name` of parentFd with everything below it, never
    /// following a link nor entering a mount point.  only (mode Copied): the
    /// entries that may go.
    Outcome removeEntry(int parentFd, const std::string& name, const std::string& path, RemoveMode mode,
                        CopiedItems* only);
    /// What every step of one removeEntry shares.
    struct Removal {
        RemoveMode mode;
        CopiedItems* only;    ///< mode Copied: the entries that may go
        dev_t device;         ///< of the folder holding the removed item: a folder on another is a mount point
        DirectoryChain chain; ///< the folders entered
    };
    /// Removes one entry, or opens a folder and enters it into removal.chain
    /// (then empty, with names its listing).
    std::optional<Outcome> removeOrEnter(Removal& removal, int parentFd, const std::string& name,
                                         const std::string& path, std::vector<std::string>& names);
    Outcome removalFailure(RemoveMode mode, FailureKind kind, const char* action, const std::string& path, int error);
    /// Removes the engine's own item `name` of dirFd (a temporary item, or the
    /// item the user chose to replace) without questions; what is left over is
    /// reported once, located by `sibling`, a path in the same directory.
    void discard(int dirFd, const std::string& name, const std::string& sibling);

    // ----- renames and names (renames.cpp) -----
    std::string randomTempName();
    template <class Create>
    int createUnderTempName(std::string& name, Create create);
    int renameNoReplace(int oldDirFd, const std::string& oldName, int newDirFd, const std::string& newName);
    int renameReplacing(int oldDirFd, const std::string& oldName, const std::string& oldPath, int newDirFd,
                        const std::string& newName, const std::string& newPath);

    FileOpQuestions& m_questions;
    SystemCalls& m_system;
    FileOpKind m_kind;
    FileOpResult m_result;
    bool m_cancelled = false;
    int m_discardError = 0; ///< errno of the last failure while discarding
    std::optional<ExistsAction> m_existsForAll;

    FileOpProgress m_progress;
    Clock::time_point m_start;
    Clock::time_point m_lastReport;
    std::vector<char> m_buffer;
    // May give any owner and write every namespace of attributes.
    bool m_privileged = false;
    // The owner and group of the nodes the process makes.
    uid_t m_user = 0;
    gid_t m_group = 0;
    std::vector<char> m_attributeNames, m_copyAttributeNames, m_attributeValue;
    std::mt19937 m_random;

    // The run's destination directory, and its path as every destination
    // path begins.
    int m_destinationFd = -1;
    std::string m_destinationPath;
    std::vector<PlacedItem> m_placedItems;
    // Sources with several links, by identity, copied once: their other
    // names become links to the first copy.
    std::map<FileId, FirstCopy> m_firstCopies;
    // Pairs of file systems (source, destination device) that make no
    // reflinks: their files go without asking for one.
    std::set<std::pair<dev_t, dev_t>> m_withoutReflinks;
    // Sources with several links that the survey counted.
    std::set<FileId> m_surveyedLinks;

    // The destination directory and every directory above it: a folder among
    // them cannot be copied or moved into the destination.
    std::set<FileId> m_destinationAncestors;
    FileId m_destination{};
    // The list item in hand was surveyed before the work began and does not
    // hold the destination: its folders need no second survey.
    bool m_itemSurveyed = false;
    // Folders this run created: a copy that meets one of them (a bind mount
    // that loops back into the destination) must not copy its own output.
    std::set<FileId> m_createdDirectories;
    // The source folders on the path of the copy, against loops.
    std::set<FileId> m_activeSources;
};

template <class Create>
int Worker::createUnderTempName(std::string& name, Create create) {
    // 62^6 names: a hundred clashes in a row mean something else is wrong.
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = randomTempName();
        const int result = create(name);
        if (result >= 0 || errno != EEXIST) return result;
    }
    errno = EEXIST;
    return -1;
}

template <class Create>
int Worker::createNamed(const CopyTarget& target, Create create) {
    return target.naming == CopyName::Temporary ? createUnderTempName(target.name, create) : create(target.name);
}

} // namespace toka::fileops
