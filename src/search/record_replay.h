#pragma once
// A recorded walk replayed through the engine: the record's entries are
// rated in the order the walk rated them (each directory's contents before
// its own entry), with the walk's filters, so that for a tree unchanged
// since it was recorded the list is exactly the live walk's, ties and
// overflow slot included.
//
// Several threads share the work as the threaded walk does: the entries in
// order are cut into chunks; a thread scores a chunk's names against the
// merged list's cut-off and last rank (lower bounds for everything still to
// come), keeps the few that could enter, and the chunks' candidates are
// rated into the one list in chunk order.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "search/scan.h"
#include "search/walk_record.h"
#include "similar/simlist.h"

namespace toka {

/// Every recorded entry's BigramFilter::signature, blocks in id order and
/// entries in their order within each: with them a replay turns most names
/// away without reading them.  Worth it for a record replayed many times
/// (as the user types); computing them costs about one replay.
std::vector<std::uint64_t> recordSignatures(const WalkRecord& record, unsigned threads = 0);

/// The signatures of an earlier record, and which blocks of a record made
/// from it by a verifying walk (ParallelWalk::blocksFromRecord) hold the
/// same entries as which of its blocks, as (new, old) pairs.
struct KnownSignatures {
    const WalkRecord& record;
    const std::vector<std::uint64_t>& signatures;
    const std::vector<std::pair<std::uint32_t, std::uint32_t>>& sameBlocks;
};
/// recordSignatures of record, copied from known for the blocks it holds
/// (a pair whose blocks differ in their entry counts is not taken).
std::vector<std::uint64_t> recordSignatures(const WalkRecord& record, const KnownSignatures& known,
                                            unsigned threads = 0);

class RecordReplay {
public:
    /// search: a list set up by InitSimList; options: the measure and the
    /// filters (those that shaped the record are already applied to it).
    RecordReplay(std::shared_ptr<const WalkRecord> record, const SimList& search, ScanOptions options);

    /// Rates every recorded entry; returns when the list is complete.  The
    /// calling thread takes part.  threads 0: one per core.
    /// signatures: recordSignatures of the record, or null.  useIndex
    /// false reads every name even when the record has a letter-pair index
    /// (the same list, for comparison).
    void run(unsigned threads = 0, const std::vector<std::uint64_t>* signatures = nullptr, bool useIndex = true);

    /// The list after run.
    const SimList& list() const { return m_list; }
    /// The walk's count of listed entries.
    std::uint64_t scannedEntries() const { return m_record->listedEntries(); }
    /// A block's directory path as the walk spelled it (ending in "/").
    std::string directoryPath(std::uint32_t block) const;

private:
    std::shared_ptr<const WalkRecord> m_record;
    ScanOptions m_options;
    SimList m_scorer; // scores names on every thread; never changes
    SimList m_list;
    std::vector<std::string_view> m_blockNames; // per block: its name in its parent
};

} // namespace toka
