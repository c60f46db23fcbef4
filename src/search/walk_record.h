#pragma once
// The recorded walk: what a directory walk listed, kept in one file so that
// later searches can be answered by replaying it instead of walking again.
//
// The file is little-endian:
//   header (68 bytes)
//     "TOKAWALK", format version u32 (4), skipped directories u32 (those
//     the walk could not list, at most 2^32 - 1), the walk's start i64
//     (unix seconds) and u32 (nanoseconds), the walker's access fingerprint
//     u32 (access_rights.h), listed entries u64 (the sum of the blocks'
//     listed counts), root count u32, block count u32, options length u32,
//     body length u64, checksum of the body u32, checksum of the 64 bytes
//     before it u32 (each the low 32 bits of the bytes' XXH3-64)
//   body
//     the options (opaque: the canonical text of the options that shaped
//     the walk), each root (varint length, bytes), the blocks in the
//     order they were added, then the letter-pair index of the entries'
//     names (name_index.h).  Format 3 is the same without the index; it is
//     still read, and replayed by reading every name.
// A block is one directory the walk entered: its parent (varint: 0 for a
// root, else the parent block's id + 1, always a smaller id than its own),
// the index of the directory among the parent's entries (or of the root
// among the roots), the listed count (what the listing returned, "." and
// ".." included; at least the stored count since excluded names, "." and
// ".." are not kept), the stored count, the directory's stamp, and per
// stored entry its type (one byte), its name's length (varint, 1..255) and
// the name (no '/', no NUL, never "." or "..": a name a listing could hold
// below its directory).
// The stamp (directory_identity.h), read before the directory was listed,
// tells a verifying walk whether the listing still stands: a varint 0 when
// none was kept (a file system whose times are not trusted, a listing cut
// short by a read error); else the device + 1 and the inode (varints), the
// modification time's seconds less the walk's start's (zigzag varint) and
// its nanoseconds (varint, below 10^9), then the change time's seconds and
// nanoseconds less the modification time's (zigzag varints): 13 bytes a
// directory on /usr, about a byte more per entry there (18.8 bytes an entry
// instead of 17.6).
//
// The reader trusts nothing: every count and index is checked, and a file
// that is truncated, damaged, foreign or of another version is refused.  A
// file is read only when it is a regular file of the user's own that no one
// else may write to, opened without following a link and without waiting
// (a FIFO under a record's name is refused, not waited on); its header is
// checked before the body is read, so a file whose size is not the one its
// header gives is refused at once, however large.

#include <cstddef>
#include <iterator>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/core/directory_identity.h"
#include "platform/core/sys_error.h"
#include "platform/listing/dir_listing.h"
#include "search/name_index.h"

namespace toka {

inline constexpr std::uint32_t kWalkRecordVersion = 4;
inline constexpr std::size_t kWalkRecordHeaderSize = 68;
/// load() refuses larger files.
inline constexpr std::uint64_t kWalkRecordMaxFileSize = std::uint64_t{4} << 30;

/// One stored entry of a recorded directory; name points into the record.
struct RecordedEntry {
    std::string_view name;
    EntryType type = EntryType::Unknown;
};

/// Stored entries of one block, decoded as they are read: a record keeps no
/// table per entry, so that it costs little more memory than its file.
class RecordedEntries {
public:
    class iterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = RecordedEntry;
        using difference_type = std::ptrdiff_t;
        using reference = RecordedEntry;
        using pointer = void;
        iterator() = default;
        iterator(const char* at, std::uint32_t left) : m_at(at), m_left(left) { decode(); }
        RecordedEntry operator*() const { return m_entry; }
        iterator& operator++() {
            m_at = m_entry.name.data() + m_entry.name.size();
            --m_left;
            decode();
            return *this;
        }
        iterator operator++(int) {
            iterator before = *this;
            ++*this;
            return before;
        }
        friend bool operator==(const iterator& a, const iterator& b) { return a.m_left == b.m_left; }
        /// Where the entry in hand is encoded (for a range that starts there).
        const char* data() const { return m_at; }

    private:
        // Each entry is decoded once, when the iterator reaches it.  The
        // record was checked when parsed: a name is 1..255 bytes, so its
        // length takes one or two varint bytes.
        void decode() {
            if (m_left == 0) return;
            const auto* p = reinterpret_cast<const unsigned char*>(m_at);
            std::size_t length = p[1];
            std::size_t skip = 2;
            if (length & 0x80) {
                length = (length & 0x7F) | (std::size_t(p[2]) << 7);
                skip = 3;
            }
            m_entry = {std::string_view(m_at + skip, length), EntryType(p[0])};
        }

        const char* m_at = nullptr;
        std::uint32_t m_left = 0;
        RecordedEntry m_entry;
    };

    RecordedEntries() = default;
    /// count entries encoded from at on, inside a record that parse accepted.
    RecordedEntries(const char* at, std::uint32_t count) : m_at(at), m_count(count) {}
    iterator begin() const { return {m_at, m_count}; }
    iterator end() const { return {nullptr, 0}; }
    std::uint32_t size() const { return m_count; }

private:
    const char* m_at = nullptr;
    std::uint32_t m_count = 0;
};

/// One directory's stored entries, encoded as the walk lists them.
class WalkRecordBlock {
public:
    /// Throws std::invalid_argument for a name the reader would refuse
    /// (empty, over 255 bytes, with "/" or NUL) or an unknown type.
    void add(std::string_view name, EntryType type);
    std::uint32_t size() const { return m_count; }
    void clear();

private:
    friend class WalkRecordWriter;
    std::string m_bytes;
    std::vector<std::uint32_t> m_directories; ///< indices of the directory entries
    std::uint32_t m_count = 0;
};

/// Collects the blocks of a walk as workers finish directories, then writes
/// the record.  addBlock may be called from several threads at once.
class WalkRecordWriter {
public:
    using Entries = std::vector<std::pair<std::string, EntryType>>;

    /// start: when the walk began, before it read any directory's stamp;
    /// access: the walker's accessFingerprint.
    WalkRecordWriter(std::string options, std::vector<std::string> roots, FileTime start, std::uint32_t access);
    /// A record whose start is createdTime (unix seconds) and whose access
    /// fingerprint is 0, which no verifying walk takes for its own.
    WalkRecordWriter(std::string options, std::vector<std::string> roots, std::int64_t createdTime);

    /// Adds the directory the walk entered and returns its block id.
    /// parent: std::nullopt for a root block, and then indexInParent is the
    /// root's index.  stamp: the directory's, read before it was listed, or
    /// none when its listing cannot be trusted later.  Throws
    /// std::invalid_argument for what the reader would refuse (an unknown
    /// parent, an index that is not a directory of it, a name that cannot be
    /// stored, listed < entries.size(), nanoseconds of 10^9 or more).
    std::uint32_t addBlock(std::optional<std::uint32_t> parent, std::uint32_t indexInParent, std::uint64_t listed,
                           const WalkRecordBlock& block, const std::optional<DirectoryStamp>& stamp = std::nullopt);
    std::uint32_t addBlock(std::optional<std::uint32_t> parent, std::uint32_t indexInParent, std::uint64_t listed,
                           const Entries& entries, const std::optional<DirectoryStamp>& stamp = std::nullopt);

    const std::string& options() const { return m_options; }
    const std::vector<std::string>& roots() const { return m_roots; }
    /// The directories the walk could not list, told again by a replay.
    void setSkippedDirectories(std::uint64_t count);

    /// Entries stored so far, and the bytes they take.
    std::uint64_t storedEntries() const;
    std::uint64_t storedBytes() const;

    /// The record's bytes as they go into the file.  Without the index
    /// (format 3): a record made again and again, replayed in memory with
    /// the names' signatures, spares building the index each time.
    std::string serialize(bool withIndex = true) const;

    /// Writes the record to path: under a temporary name in the same
    /// directory (created with mode 0700 when missing), mode 0600, flushed to
    /// disk, then renamed into place.  std::nullopt on success.
    std::optional<SysError> save(const std::string& path) const;
    /// The same into the directory open as dirFd, whose path dirPath only
    /// names it in errors: nothing is looked up by path, so a directory
    /// checked once cannot be swapped for another meanwhile.
    std::optional<SysError> saveAt(int dirFd, const std::string& name, const std::string& dirPath) const;

private:
    /// The letter-pair index of the blocks so far (the caller holds m_mutex).
    std::string nameIndex() const;

    mutable std::mutex m_mutex;
    std::string m_options;
    std::vector<std::string> m_roots;
    FileTime m_start;
    std::uint32_t m_access = 0;
    std::uint32_t m_skipped = 0;
    std::string m_blocks;                  ///< the encoded blocks, in id order
    std::uint64_t m_listed = 0;            ///< sum of the blocks' listed counts
    std::vector<bool> m_isDir;             ///< per stored entry of all blocks
    std::vector<std::size_t> m_firstEntry; ///< per block, into m_isDir; one extra at the end
    std::vector<std::size_t> m_blockAt;    ///< per block, its offset in m_blocks
    std::vector<bool> m_entered;           ///< per stored entry: a block was added for it
};

/// A record read back: the roots, the options and the tree of blocks, with
/// the entries' names as views into the record's own bytes.
class WalkRecord {
public:
    /// The record in bytes, or std::nullopt when anything in it is wrong.
    static std::optional<WalkRecord> parse(std::string bytes);
    /// Reads the file at path (at most kWalkRecordMaxFileSize bytes) and
    /// parses it; std::nullopt when it cannot be read or is not a record.
    /// refusal, when given, is set to why a file there was not even read
    /// (not a regular file, another user's, writable by others, a link),
    /// and left empty for a file that is missing or damaged.
    static std::optional<WalkRecord> load(const std::string& path, std::string* refusal = nullptr);
    /// The same for the entry name of the directory open as dirFd.
    static std::optional<WalkRecord> loadAt(int dirFd, const std::string& name, std::string* refusal = nullptr);

    WalkRecord(WalkRecord&&) noexcept = default;
    WalkRecord& operator=(WalkRecord&&) noexcept = default;

    std::string_view options() const { return m_options; }
    const std::vector<std::string>& roots() const { return m_roots; }
    /// The record as its file holds it.
    std::string_view bytes() const { return m_bytes; }
    /// When the recorded walk began (unix seconds): createdAt's seconds.
    std::int64_t createdTime() const { return m_start.seconds; }
    /// When the recorded walk began, before it read any directory's stamp.
    FileTime createdAt() const { return m_start; }
    /// The recording walker's accessFingerprint.
    std::uint32_t accessFingerprint() const { return m_access; }
    std::uint64_t listedEntries() const { return m_listed; }
    /// The directories the recorded walk could not list.
    std::uint32_t skippedDirectories() const { return m_skipped; }

    std::size_t blockCount() const { return m_blocks.size(); }
    /// The block's parent block, std::nullopt for a root block.
    std::optional<std::uint32_t> parent(std::uint32_t block) const;
    /// The directory's index among its parent's entries (a root's index).
    std::uint32_t indexInParent(std::uint32_t block) const { return m_blocks.at(block).index; }
    std::uint64_t listed(std::uint32_t block) const { return m_blocks.at(block).listed; }
    /// The directory's stamp as the walk read it, std::nullopt when none was
    /// kept.
    std::optional<DirectoryStamp> stamp(std::uint32_t block) const;
    RecordedEntries entries(std::uint32_t block) const;
    /// The blocks whose parent is block, in id order.
    std::span<const std::uint32_t> children(std::uint32_t block) const;
    /// The root blocks, in id order.
    std::span<const std::uint32_t> rootBlocks() const;
    /// The letter-pair index over the entries (name_index.h), or null for a
    /// record without one (format 3).
    const NameIndex* nameIndex() const { return m_nameIndex ? &*m_nameIndex : nullptr; }
    /// The index's group of the block's first entry (its entries are taken
    /// kNameIndexGroup at a time), and a group's bytes in the record: a
    /// group can be stepped over without reading its names.
    std::uint64_t firstGroup(std::uint32_t block) const { return m_blocks.at(block).firstGroup; }
    std::uint32_t groupBytes(std::uint64_t group) const { return m_groupBytes[group]; }

private:
    static constexpr std::uint32_t kNoParent = 0xFFFFFFFFu;
    struct Block {
        std::uint64_t listed = 0;
        std::uint64_t entriesAt = 0; ///< offset of the first entry in the record's bytes
        std::uint32_t parent = kNoParent;
        std::uint32_t index = 0;
        std::uint32_t entryCount = 0;
        std::uint32_t firstChild = 0; ///< into m_children
        std::uint32_t childCount = 0;
        std::uint64_t stampAt = 0; ///< offset of the stamp in the record's bytes
        std::uint64_t firstGroup = 0;
    };

    WalkRecord() = default;

    /// The record's bytes, owned apart from the record, so that views into
    /// them stay valid when the record moves.
    /// bodyChecksum: the body's checksum when the caller computed it already.
    static std::optional<WalkRecord> parseOwned(std::shared_ptr<const char> owner, std::string_view bytes,
                                                std::optional<std::uint32_t> bodyChecksum);
    /// load on a descriptor opened without following a link (fd -1: the
    /// open failed with openError).
    static std::optional<WalkRecord> loadOpened(int fd, int openError, std::string* refusal);
    std::shared_ptr<const char> m_owner;
    std::string_view m_bytes;
    std::string_view m_options;
    std::vector<std::string> m_roots;
    FileTime m_start;
    std::uint32_t m_access = 0;
    std::uint64_t m_listed = 0;
    std::uint32_t m_skipped = 0;
    std::vector<Block> m_blocks;
    std::vector<std::uint32_t> m_children;
    std::size_t m_rootChildrenFirst = 0;
    std::size_t m_rootChildrenCount = 0;
    std::optional<NameIndex> m_nameIndex;
    std::vector<std::uint16_t> m_groupBytes; ///< per group: at most 4 entries of 258 bytes
};

} // namespace toka
