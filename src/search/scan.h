#pragma once
// The search walk: lists a directory tree, counts every entry the listings
// return ("." and ".." included) and hands each one to the rating hook, in
// the listing's order.  It knows no widget: the window and tokafind each
// provide the hooks (rate, status text, event processing, stop request).
//
// Per entry, exactly in this order:
//   1. count it;
//   2. if it is a directory (not a link to one), recursion is on and it is
//      not "." or "..": walk it completely first;
//   3. rate it (name as listed, directory path with its trailing "/") -- a
//      directory is thus rated after its contents, in its parent directory;
//   4. fetch the next entry of the listing;
//   5. give the caller its turn (throttled, see ScanHooks::heartbeat);
//   6. stop this level when the stop request is set or the listing is done.
// On entering a directory whose count so far is a multiple of 12 the status
// hook gets "Suche in Verzeichnis: " + the directory's path.
//
// How it stays fast and small: getdents64 into buffers it reuses, the entry
// type from d_type (lstat only where the file system leaves it unknown), no
// stat per entry (one directoryIdentity per directory entered), one path buffer that is
// cut back to the parent's length and extended by the name.  Directory depth
// lives on an explicit stack, not on the C++ call stack, and at most
// kMaxOpenLevels directories are held open: a deeper level is closed and
// reopened through ".." of its child when the walk comes back to it, so a
// tree thousands of levels deep neither overflows the stack nor runs out of
// descriptors; every directory is opened with openat relative to its parent,
// so paths longer than PATH_MAX are no obstacle.
//
// What is not entered: symbolic links (rated like any entry, never
// followed); a directory already on the current walk path (same device and
// inode, possible through bind mounts); pseudo file systems (proc, sysfs,
// ..., see isPseudoMount) -- the root of a walk included; with
// stayOnFileSystem, any other mount.  A directory that cannot be listed is
// skipped: its own entry is still counted and rated, and the skipped hook
// hears of it (the window leaves that hook unset and stays silent).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/listing/volumes.h"
#include "search/walk_filter.h"

namespace toka {

/// The status text's prefix, followed by the directory's path.
inline constexpr std::string_view kScanStatusPrefix = "Suche in Verzeichnis: ";

struct ScanHooks {
    /// Rates one entry.  Unset: TheSimList().RateFile(name, dir, fuzzy).
    /// name and dir are valid only during the call.
    std::function<void(std::string_view name, std::string_view dir)> rate;
    /// Shows a status text.  Unset: nothing is shown.
    std::function<void(const std::string& text)> status;
    /// The caller's turn during a walk on its own thread (tokafind draws its
    /// live count here; the window never runs this walk, its walks run on
    /// worker threads).  Called at step 5 of an entry, never while an entry
    /// is half rated, and throttled: only once kEventInterval has passed
    /// since the last call, so that it does not dominate a walk of 10^6
    /// entries a second; a walk that keeps running calls it at least every
    /// ~5 ms.  Unset: not called.
    std::function<void()> heartbeat;
    /// Tested after every entry (step 6).  Unset: never stops.
    std::function<bool()> stopRequested;
    /// Hears of every directory below the root that the walk meant to enter
    /// but could not list (no permission, gone since its parent was listed,
    /// a read error part way through), with its path (ending in "/", valid
    /// only during the call) and the errno of the failing call.  A directory
    /// left out on purpose (a loop, a pseudo file system, another mount with
    /// stayOnFileSystem) is not reported.  Unset: not called.
    std::function<void(std::string_view dir, int error)> skipped;
};

struct ScanOptions {
    bool recurseDirs = true; ///< descend into subdirectories
    bool fuzzy = true;       ///< the measure the default rate hook uses
    /// Which directories are entered and which entries rated (walk_filter.h).
    /// With the default rate hook the filters on metadata are read only for
    /// an entry that would enter the list; a rate hook of the caller's hears
    /// only of entries that pass every filter.
    WalkFilter filter{};
};

class Scanner {
public:
    /// At most this many directory levels are held open at a time.
    static constexpr int kMaxOpenLevels = 48;
    /// Events are processed when this much time has passed since the last
    /// time; with the clock read every kEntriesPerClockCheck entries (about
    /// 2 us of walking) the gap stays below 5 ms.
    static constexpr std::int64_t kEventIntervalNs = 4'000'000;
    static constexpr int kEntriesPerClockCheck = 32;

    Scanner(ScanOptions options, ScanHooks hooks);
    ~Scanner();
    Scanner(const Scanner&) = delete;
    Scanner& operator=(const Scanner&) = delete;

    /// Walks the directory at path (normalised to end in one "/"; any
    /// length; links in the path itself are followed).  A root that does not
    /// exist or cannot be listed counts and rates nothing and is not handed
    /// to the skipped hook: the errno is returned instead (ENOENT for "").
    /// Returns 0 when the root was listed, and for a pseudo file system,
    /// which is left out on purpose.  With stayOnFileSystem the walk enters
    /// no other mounted file system.
    int ScanDirectory(std::string_view path, bool stayOnFileSystem = false);

    /// The search of all fixed disks: ScanDirectory of every fixed volume's
    /// path, in order, each without crossing into another mount; a volume
    /// that cannot be listed goes to the skipped hook.  The loop does not
    /// test the stop request: after a stop each remaining volume still
    /// handles one entry on each level it enters.
    void ScanFixedVolumes(const std::vector<Volume>& volumes);

    /// Entries counted since construction or the last resetCounter.  64 bits:
    /// a file server can hold more than 2^31 entries.
    std::uint64_t scannedEntries() const { return m_scanned; }
    void resetCounter() { m_scanned = 0; }

    const ScanOptions& options() const { return m_options; }

private:
    struct Impl;
    ScanOptions m_options;
    ScanHooks m_hooks;
    bool m_defaultRate = false; // rating goes straight into TheSimList
    std::uint64_t m_scanned = 0;
    std::unique_ptr<Impl> m_impl;
};

} // namespace toka
