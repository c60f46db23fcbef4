#pragma once
// What a search looks at besides the name: directories it never enters,
// hidden entries, the kind, the extension, the size and the modification
// time of the entries it rates, how deep it goes.
//
// Filters decide which entries are rated, never the order in which they are:
// the ranking, ties included, is that of the engine fed with only the
// entries that pass, in the walk's order.  Entering and counting:
//   - an excluded directory, a hidden one when hidden entries are left out,
//     and a directory below maxDepth are not entered: their entries are
//     neither listed, nor counted, nor rated (their own entry is counted in
//     its parent, as every listed entry is, and is not rated when excluded
//     or hidden);
//   - a directory on another mount is not entered with oneFileSystem.
// Rating: an entry is rated when it passes every filter that is set.  The
// filters that need the entry's metadata (size, time) read it (one lstat)
// only for an entry whose score would let it into the list, so that they
// cost the walk nearly nothing.
//
// The default-constructed filter lets everything through: the walk as it
// always was.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/listing/dir_listing.h"

namespace toka {

/// The kinds of entries a search may be limited to (bits of WalkFilter::kinds).
enum KindBits : unsigned {
    kKindFile = 1u << 0,      ///< regular files
    kKindDirectory = 1u << 1, ///< directories
    kKindSymlink = 1u << 2,   ///< symbolic links
    kKindSpecial = 1u << 3,   ///< FIFOs, sockets, device nodes
};

struct WalkFilter {
    /// Glob patterns (fnmatch: *, ?, [...]).  Without "/" a pattern is
    /// matched against an entry's name; with "/" against its whole path
    /// (a directory's without the trailing "/"), "*" not crossing a "/".
    std::vector<std::string> exclude{};
    /// Leave out names that start with ".", and do not enter such directories.
    bool skipHidden = false;
    /// KindBits; 0: every kind.
    unsigned kinds = 0;
    /// Extensions without the dot, matched case-insensitively (ASCII letters)
    /// against the part of the name after its last dot; empty: any name.
    std::vector<std::string> extensions{};
    /// Size bounds in bytes, both inclusive; a directory has no size and
    /// does not pass a size bound.
    std::optional<std::uint64_t> minSize{};
    std::optional<std::uint64_t> maxSize{};
    /// Modification time bounds in seconds since the epoch: at or after
    /// modifiedFrom, before modifiedUntil.
    std::optional<std::int64_t> modifiedFrom{};
    std::optional<std::int64_t> modifiedUntil{};
    /// A directory search does not cross into other mounts (the search of
    /// all fixed disks never does).
    bool oneFileSystem = false;
    /// Levels below the root to rate: 1 rates the root's own entries only;
    /// 0: no limit.
    int maxDepth = 0;

    /// Whether anything is set (the default filter lets everything through).
    bool active() const;
    /// One line per filter that is set, for the user ("Size: at least 1 MB").
    std::vector<std::string> describe() const;

    friend bool operator==(const WalkFilter&, const WalkFilter&) = default;
};

/// A filter prepared for a walk: patterns sorted by how they match, the
/// extensions folded.  Pure: the workers of one walk share one.
class FilterMatcher {
public:
    FilterMatcher() = default;
    explicit FilterMatcher(const WalkFilter& filter);

    bool active() const { return m_active; }
    const WalkFilter& filter() const { return m_filter; }

    /// Whether the walk may enter the directory name (full path dirPath +
    /// name) found at depth (1 for the root's entries).
    bool mayEnter(std::string_view dirPath, std::string_view name, int depth) const;

    /// The checks made on every entry, before it is scored: hidden, kind,
    /// extension.  type may be Unknown when no kind is asked for; otherwise
    /// it must be resolved.
    bool passesEarly(std::string_view name, EntryType type) const;
    /// Whether passesEarly needs the entry's type.
    bool needsType() const { return m_filter.kinds != 0; }
    /// The checks made only on an entry whose score would let it into the
    /// list: the exclude patterns, size, time.  dirFd is the open directory
    /// of the entry, or -1 (the path is used); dirPath ends in "/".  False
    /// when the metadata is needed and cannot be read (the entry is gone).
    bool passesLate(int dirFd, std::string_view dirPath, std::string_view name, EntryType type) const;
    /// Whether passesLate checks anything.
    bool needsLate() const { return m_needsLate; }

    /// Whether a recorded walk keeps the entry: not when it is excluded,
    /// nor when it is hidden and hidden entries are left out, so that such
    /// a name never reaches the disk.
    bool keepsInRecord(std::string_view dirPath, std::string_view name) const;

private:
    bool excludedByName(std::string_view name) const;
    bool excludedByPath(std::string_view dirPath, std::string_view name) const;

    WalkFilter m_filter;
    bool m_active = false;
    bool m_needsLate = false;
    std::vector<std::string> m_literalNames; // patterns without any glob character
    std::vector<std::string> m_suffixes;     // "*.ext" and the like: the part after "*"
    std::vector<std::string> m_nameGlobs;    // the other name patterns
    std::vector<std::string> m_pathGlobs;    // patterns with "/"
    std::vector<std::string> m_foldedExtensions;
};

} // namespace toka
