#pragma once
// The search walk on several threads, with the ranking of the one-thread
// walk (scan.h).
//
// The one-thread walk rates entries in listing order, each directory's
// contents before the directory itself, and the list's ties and cut-off
// depend on that order.  Here every directory is a task: a worker lists it,
// counts and scores its entries and hands its subdirectories back as new
// tasks, and each entry carries its place in the one-thread order (an order
// key).  The entries whose scores could let them into the list are kept as
// candidates; once every entry before a point of that order is listed, the
// candidates before it are rated into the one list in order.  The list thus
// goes through exactly the states that the one-thread walk gives it, and its
// cut-off and last rank so far are lower bounds for every entry still to
// come: the workers keep as candidates only entries that beat them.
//
// The rules of the one-thread walk hold: no symbolic link followed, no
// directory entered twice on one path, pseudo file systems never entered,
// a fixed-disk root not crossing into other mounts, unreadable directories
// skipped and reported.  Memory and descriptors stay bounded per thread: a
// task holds a name and its parent's place in a chain of the directories
// entered, not a descriptor, and a worker holds at most three descriptors
// at a time.  Paths and order keys are chains shared between the levels
// (walk_chain.h), so a chain of directories thousands of levels deep costs
// memory in proportion to its depth, not to its depth squared; a full path
// is spelt out only for a directory being listed and for an entry that the
// list takes.
//
// Verifying a record (verify): the walk goes through the tree as it is now,
// but a directory whose stamp stands (listing_check.h: the same device,
// inode, modification and change times as recorded, on a trusted file
// system, not racy) gives its recorded entries instead of being listed.  A
// subdirectory whose recorded entries hold no directory to enter is checked
// by one statx through its parent's descriptor and not even opened; one
// that holds some is opened, as its own subdirectories are checked through
// it.  Every other directory (changed, new, racy, on an untrusted file
// system, recorded without a stamp) is listed, and its subdirectories are
// matched to their recorded blocks by name.  Every rule of the live walk
// (filters, loops, mounts, unreadable directories) is applied to the
// recorded entries as to listed ones, so the answer is the live walk's:
// the same ranks, ties, count and skipped directories as a live walk of the
// tree as it is now, whatever the number of threads.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/listing/volumes.h"
#include "search/scan.h"
#include "search/walk_record.h"
#include "similar/simlist.h"

namespace toka {

struct WalkRoot {
    std::string path;              ///< any spelling; links in it are followed
    bool stayOnFileSystem = false; ///< enter no other mount below it
    /// A root that cannot be listed goes to the skipped hook (one disk of
    /// all fixed disks) instead of rootError (the one root of a search).
    bool reportAsSkipped = false;
};

/// The roots of the search of all fixed disks, in the one-thread walk's order.
std::vector<WalkRoot> fixedVolumeRoots(const std::vector<Volume>& volumes);
/// The roots' paths as the walk lists them (normalised, ending in "/"): the
/// roots of its record.
std::vector<std::string> walkRootPaths(const std::vector<WalkRoot>& roots);

struct ParallelWalkHooks {
    /// As ScanHooks::skipped; called from the workers, one call at a time.
    std::function<void(std::string_view dir, int error)> skipped;
    /// Called by a worker before it lists dir (several workers may call it
    /// at once).  A caller that blocks here holds that worker, as a hung
    /// network mount would.
    std::function<void(std::string_view dir)> listing;
    /// Called once, from the last worker, after the final list is in place.
    std::function<void()> finished;
};

class ParallelWalk {
public:
    /// search: a list set up by InitSimList (text and size); its ranks are
    /// the start of the walk's list.
    ParallelWalk(const SimList& search, ScanOptions options, unsigned threads, ParallelWalkHooks hooks = {});
    /// Stops the walk and waits for its workers.
    ~ParallelWalk();
    ParallelWalk(const ParallelWalk&) = delete;
    ParallelWalk& operator=(const ParallelWalk&) = delete;

    /// Records what the walk lists (walk_record.h), with options as the
    /// record's options text.  Before start.
    void record(std::string options);
    /// The record of a walk that ran to its end and listed its first root;
    /// null for a walk that was stopped, failed at its root, or was not
    /// recorded.  Once the walk has finished; the walk gives it away.
    std::unique_ptr<WalkRecordWriter> takeRecord();
    /// The directories that could not be listed (or only in part) so far.
    std::uint64_t skippedDirectories() const;

    /// Verifies record instead of listing every directory (see above).
    /// record must be one of the same roots (walkRootPaths) and options
    /// (recordedOptions) made by a walk with the same access rights
    /// (accessFingerprint); another is not used, and the walk lists every
    /// directory.  With record, the walk records anew as usual: directories
    /// answered from the old record go into the new one as they were.
    /// Before start.
    void verify(std::shared_ptr<const WalkRecord> record);
    /// Whether the record given to verify is used; once started.
    bool verifying() const;
    /// Directories listed so far, and directories answered from the record
    /// being verified.
    std::uint64_t listedDirectories() const;
    std::uint64_t directoriesFromRecord() const;
    /// The blocks of the new record (takeRecord) whose entries are those of
    /// a block of the record verified, as (new block, old block) pairs in no
    /// set order; once the walk is done.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> blocksFromRecord() const;

    /// Starts the workers and returns; nothing of the tree is touched on the
    /// caller's thread.  Once only.
    void start(std::vector<WalkRoot> roots);
    /// Waits until every worker has ended.
    void wait();
    bool finished() const;
    /// The workers end within one listing chunk; the list keeps what was
    /// rated up to then.
    void requestStop();
    bool stopRequested() const;

    /// Entries counted so far by all workers.
    std::uint64_t scannedEntries() const;
    /// Copies the list as it stands: exactly the one-thread walk's once the
    /// walk has finished; before, the entries rated so far, in order (those
    /// beyond a directory still being listed provisionally).
    void copyList(SimList& dest) const;
    /// Once the walk has finished: moves the final list into dest instead of
    /// copying it (a deep tree's paths are long).  The walk keeps no list:
    /// copyList is not to be called after.
    void takeList(SimList& dest);
    /// A directory being listed, or "" before the first.
    std::string currentDirectory() const;
    /// The errno that kept the first root from being listed (0: listed, or
    /// left out on purpose).  Valid once the walk has finished.
    int rootError() const;

    /// Twice the number of cores: a worker waiting for a directory to be read
    /// from disk leaves its core to another (a cold walk gains about a fifth
    /// over one worker per core; a warm one neither gains nor loses).
    static unsigned defaultThreads();

private:
    struct Shared;
    std::unique_ptr<Shared> m_shared;
};

} // namespace toka
