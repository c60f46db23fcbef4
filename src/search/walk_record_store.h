#pragma once
// Where recorded walks live and which one answers a search: one file per
// set of roots and walk options, named after a hash of them, in
// $XDG_CACHE_HOME/tokasearch/walks (~/.cache when the variable is unset or
// not absolute).  A file is used only when its own roots and options equal
// the search's; anything else there (a damaged file, another version, a
// stray name) is ignored and, for a record, replaced by the next walk.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/sys_error.h"
#include "search/scan.h"
#include "search/walk_record.h"

namespace toka {

/// The canonical text of what shapes a walk's listing: recursion, the
/// directories it does not enter or record (exclusions, hidden entries,
/// depth, other mounts) and whether it is the search of all fixed disks.
/// The filters applied when entries are rated (kind, extension, size, time)
/// and the measure are not part of it: one record serves them all.
std::string recordedOptions(const ScanOptions& options, bool allFixedDisks);

/// $XDG_CACHE_HOME/tokasearch/walks, or ~/.cache/tokasearch/walks.
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
    /// that can be used.
    std::shared_ptr<const WalkRecord> find(const std::vector<std::string>& roots, std::string_view options) const;
    /// Writes the record in its place (replacing an older one).
    std::optional<SysError> save(const WalkRecordWriter& record) const;

    /// Every usable record, oldest first.
    std::vector<RecordSummary> list() const;
    /// Removes every record and every temporary file a writer left behind.
    /// Returns how many files were removed, or the first error.
    std::optional<SysError> forgetAll(std::size_t* removed = nullptr) const;

private:
    std::string m_directory;
};

} // namespace toka
