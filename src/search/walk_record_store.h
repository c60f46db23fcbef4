#pragma once
// Where recorded walks live and which one answers a search: one file per
// set of roots and walk options, named after a hash of them, in
// $XDG_CACHE_HOME/tokasearch/walks (~/.cache when the variable is unset or
// not absolute).  A file is used only when its own roots and options equal
// the search's; anything else there (a damaged file, another version, a
// stray name) is ignored and, for a record, replaced by the next walk.
//
// Records are the user's alone.  The folder and its parent (the program's
// folder in the cache) are made with mode 0700 and used only while they are
// folders of the user's own, not symbolic links, that no one else may write
// to; a record is read only when it is such a file.  Anything else is
// refused with the reason, and nothing is read from it or written into it.
// Every record is reached through the descriptor of the folder checked, so
// nothing can be swapped in between the check and the use.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/sys_error.h"
#include "platform/core/unique_fd.h"
#include "search/scan.h"
#include "search/walk_record.h"

namespace toka {

/// The canonical text of what shapes a walk's listing: recursion, the
/// directories it does not enter or record (exclusions, hidden entries,
/// depth, other mounts) and whether it is the search of all fixed disks.
/// The filters applied when entries are rated (kind, extension, size, time)
/// and the measure are not part of it: one record serves them all.
std::string recordedOptions(const ScanOptions& options, bool allFixedDisks);

/// $XDG_CACHE_HOME/tokasearch/walks, or ~/.cache/tokasearch/walks with the
/// home from the password database when HOME is unset; "" when there is no
/// home at all (then nothing is recorded: never a shared place like /tmp).
std::string defaultRecordDirectory();

/// What --list-records and the window tell of one record.
struct RecordSummary {
    std::string path;
    std::vector<std::string> roots;
    std::string options;
    std::int64_t createdTime = 0;
    std::uint64_t listedEntries = 0;
    std::uint64_t fileSize = 0;
};

class WalkRecordStore {
public:
    explicit WalkRecordStore(std::string directory);

    const std::string& directory() const { return m_directory; }
    /// The file that holds the record of these roots (normalised, as the
    /// walk lists them) and options.
    std::string pathFor(const std::vector<std::string>& roots, std::string_view options) const;

    /// The record of these roots and options, or null when there is none
    /// that can be used.  refused, when given, is set when the folder or the
    /// record was refused (another user's, writable by others, a link, not a
    /// regular file), and left alone when there is simply no record.
    std::shared_ptr<const WalkRecord> find(const std::vector<std::string>& roots, std::string_view options,
                                           std::optional<SysError>* refused = nullptr) const;
    /// Writes the record in its place (replacing an older one), making the
    /// folder when missing.
    std::optional<SysError> save(const WalkRecordWriter& record) const;

    /// Every usable record, oldest first.  refused as for find (the folder).
    std::vector<RecordSummary> list(std::optional<SysError>* refused = nullptr) const;
    /// Removes every record and every temporary file a writer left behind.
    /// Returns how many files were removed, or the first error.
    std::optional<SysError> forgetAll(std::size_t* removed = nullptr) const;

    /// The folder, open, once it is found to be the user's own; made (with
    /// its missing ancestors, mode 0700) when create is set.  A folder that
    /// does not exist gives ENOENT; one refused gives a SysError whose
    /// detail says why.
    Result<UniqueFd> openFolder(bool create) const;

private:
    /// The file name (without the folder) of the record of roots and options.
    std::string nameFor(const std::vector<std::string>& roots, std::string_view options) const;

    std::string m_directory;
};

} // namespace toka
