#include "search/walk_record.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/mman.h>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include "platform/core/private_files.h"
#include "platform/core/unique_fd.h"
#include "search/name_index.h"

namespace toka {
namespace {

constexpr std::string_view kMagic = "TOKAWALK";
constexpr std::size_t kHeaderChecksumOffset = kWalkRecordHeaderSize - 4;
constexpr std::size_t kMaxNameLength = 255;

// The low 32 bits of the bytes' XXH3-64: checked at memory speed, which a
// record of tens of megabytes read on every search needs.
std::uint32_t checksumOf(std::string_view bytes) { return std::uint32_t(XXH3_64bits(bytes.data(), bytes.size())); }

void putFixed(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += char((value >> (8 * i)) & 0xFF);
}

void putVarint(std::string& out, std::uint64_t value) {
    while (value >= 0x80) {
        out += char((value & 0x7F) | 0x80);
        value >>= 7;
    }
    out += char(value);
}

// Signed differences as varints: 0, -1, 1, -2, ... as 0, 1, 2, 3, ...  The
// difference is taken modulo 2^64, so that every pair of times comes back.
std::uint64_t zigzag(std::uint64_t difference) { return (difference << 1) ^ (std::uint64_t(0) - (difference >> 63)); }
std::uint64_t unzigzag(std::uint64_t value) { return (value >> 1) ^ (std::uint64_t(0) - (value & 1)); }

constexpr std::uint64_t kNanosecondsPerSecond = 1'000'000'000;

void putStamp(std::string& out, const std::optional<DirectoryStamp>& stamp, FileTime start) {
    if (!stamp) {
        out += '\0';
        return;
    }
    putVarint(out, stamp->dev + 1);
    putVarint(out, stamp->ino);
    putVarint(out, zigzag(std::uint64_t(stamp->modified.seconds) - std::uint64_t(start.seconds)));
    putVarint(out, stamp->modified.nanoseconds);
    putVarint(out, zigzag(std::uint64_t(stamp->changed.seconds) - std::uint64_t(stamp->modified.seconds)));
    putVarint(out, zigzag(std::uint64_t(stamp->changed.nanoseconds) - std::uint64_t(stamp->modified.nanoseconds)));
}

// A name a listing can hold below its directory: "." and ".." never are
// (a record that had them entered would lead out of the walked tree).
bool storableName(std::string_view name) {
    return !name.empty() && name.size() <= kMaxNameLength && name != "." && name != ".."
           && name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

bool knownType(std::uint8_t type) { return type <= std::uint8_t(EntryType::Socket); }

/// Reads little-endian integers and varints from bytes, failing (and
/// staying failed) at the first read past the end.
class Reader {
public:
    explicit Reader(std::string_view bytes) : m_bytes(bytes) {}

    bool ok() const { return m_ok; }
    std::size_t remaining() const { return m_bytes.size() - m_pos; }
    std::size_t position() const { return m_pos; }

    std::uint64_t fixed(int bytes) {
        if (!need(std::size_t(bytes))) return 0;
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) value |= std::uint64_t(std::uint8_t(m_bytes[m_pos + i])) << (8 * i);
        m_pos += std::size_t(bytes);
        return value;
    }

    /// An unsigned LEB128 of at most 64 bits in its shortest form.
    std::uint64_t varint() {
        std::uint64_t value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (!need(1)) return 0;
            const auto byte = std::uint8_t(m_bytes[m_pos++]);
            if (shift == 63 && byte > 1) break;
            value |= std::uint64_t(byte & 0x7F) << shift;
            if (!(byte & 0x80)) {
                if (byte == 0 && shift > 0) break; // not the shortest form
                return value;
            }
        }
        m_ok = false;
        return 0;
    }

    std::string_view take(std::uint64_t length) {
        if (!need(length)) return {};
        const std::string_view piece = m_bytes.substr(m_pos, length);
        m_pos += length;
        return piece;
    }

private:
    bool need(std::uint64_t length) {
        if (m_ok && length <= remaining()) return true;
        m_ok = false;
        return false;
    }

    std::string_view m_bytes;
    std::size_t m_pos = 0;
    bool m_ok = true;
};

/// The fixed fields of a record's header.
struct Header {
    std::uint32_t version = 0;
    std::uint32_t skipped = 0;
    FileTime start;
    std::uint32_t access = 0;
    std::uint64_t listed = 0;
    std::uint64_t rootCount = 0;
    std::uint64_t blockCount = 0;
    std::uint64_t optionsLength = 0;
    std::uint64_t bodyLength = 0;
    std::uint32_t bodyChecksum = 0;
};

/// The header at the start of bytes, or std::nullopt when it is not one of
/// this version (its own checksum included, except in the fuzzer's build,
/// which could not get it right and must reach the checks behind it).
std::optional<Header> readHeader(std::string_view bytes) {
    if (bytes.size() < kWalkRecordHeaderSize || bytes.substr(0, kMagic.size()) != kMagic) return std::nullopt;
    Reader in(bytes.substr(kMagic.size(), kWalkRecordHeaderSize - kMagic.size()));
    Header header;
    const auto version = in.fixed(4);
    header.skipped = std::uint32_t(in.fixed(4));
    header.start.seconds = std::int64_t(in.fixed(8));
    const std::uint64_t nanoseconds = in.fixed(4);
    header.start.nanoseconds = std::uint32_t(nanoseconds);
    header.access = std::uint32_t(in.fixed(4));
    header.listed = in.fixed(8);
    header.rootCount = in.fixed(4);
    header.blockCount = in.fixed(4);
    header.optionsLength = in.fixed(4);
    header.bodyLength = in.fixed(8);
    header.bodyChecksum = std::uint32_t(in.fixed(4));
    const auto headerChecksum = in.fixed(4);
    // Format 3 is format 4 without the name index.
    if (!in.ok() || (version != kWalkRecordVersion && version != 3) || nanoseconds >= kNanosecondsPerSecond)
        return std::nullopt;
    header.version = std::uint32_t(version);
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    if (headerChecksum != checksumOf(bytes.substr(0, kHeaderChecksumOffset))) return std::nullopt;
#else
    (void)headerChecksum;
#endif
    return header;
}

/// A block's stamp as putStamp wrote it: std::nullopt inside when none was
/// kept; std::nullopt outside (and in failed) when the bytes are not one.
std::optional<std::optional<DirectoryStamp>> readStamp(Reader& in, FileTime start) {
    const std::uint64_t devPlusOne = in.varint();
    if (!in.ok()) return std::nullopt;
    if (devPlusOne == 0) return std::optional<DirectoryStamp>();
    DirectoryStamp stamp;
    stamp.dev = devPlusOne - 1;
    stamp.ino = in.varint();
    stamp.modified.seconds = std::int64_t(std::uint64_t(start.seconds) + unzigzag(in.varint()));
    const std::uint64_t modifiedNs = in.varint();
    stamp.changed.seconds = std::int64_t(std::uint64_t(stamp.modified.seconds) + unzigzag(in.varint()));
    const std::uint64_t changedNs = modifiedNs + unzigzag(in.varint());
    if (!in.ok() || modifiedNs >= kNanosecondsPerSecond || changedNs >= kNanosecondsPerSecond) return std::nullopt;
    stamp.modified.nanoseconds = std::uint32_t(modifiedNs);
    stamp.changed.nanoseconds = std::uint32_t(changedNs);
    return stamp;
}

} // namespace

void WalkRecordBlock::add(std::string_view name, EntryType type) {
    if (!storableName(name) || !knownType(std::uint8_t(type)))
        throw std::invalid_argument("walk record: entry cannot be stored");
    if (type == EntryType::Directory) m_directories.push_back(m_count);
    ++m_count;
    m_bytes += char(type);
    putVarint(m_bytes, name.size());
    m_bytes += name;
}

void WalkRecordBlock::clear() {
    m_bytes.clear();
    m_directories.clear();
    m_count = 0;
}

WalkRecordWriter::WalkRecordWriter(std::string options, std::vector<std::string> roots, FileTime start,
                                   std::uint32_t access)
    : m_options(std::move(options)), m_roots(std::move(roots)), m_start(start), m_access(access), m_firstEntry{0} {
    if (start.nanoseconds >= kNanosecondsPerSecond) throw std::invalid_argument("walk record: start out of range");
}

WalkRecordWriter::WalkRecordWriter(std::string options, std::vector<std::string> roots, std::int64_t createdTime)
    : WalkRecordWriter(std::move(options), std::move(roots), FileTime{createdTime, 0}, 0) {}

std::uint32_t WalkRecordWriter::addBlock(std::optional<std::uint32_t> parent, std::uint32_t indexInParent,
                                         std::uint64_t listed, const Entries& entries,
                                         const std::optional<DirectoryStamp>& stamp) {
    WalkRecordBlock block;
    for (const auto& [name, type] : entries) block.add(name, type);
    return addBlock(parent, indexInParent, listed, block, stamp);
}

std::uint32_t WalkRecordWriter::addBlock(std::optional<std::uint32_t> parent, std::uint32_t indexInParent,
                                         std::uint64_t listed, const WalkRecordBlock& block,
                                         const std::optional<DirectoryStamp>& stamp) {
    if (listed < block.size()) throw std::invalid_argument("walk record: fewer listed than stored entries");
    if (stamp
        && (stamp->dev == ~std::uint64_t(0) || stamp->modified.nanoseconds >= kNanosecondsPerSecond
            || stamp->changed.nanoseconds >= kNanosecondsPerSecond))
        throw std::invalid_argument("walk record: stamp out of range");
    const std::lock_guard lock(m_mutex);
    const std::size_t id = m_firstEntry.size() - 1;
    if (id >= 0xFFFFFFFFu) throw std::invalid_argument("walk record: too many blocks");
    if (parent) {
        if (*parent >= id) throw std::invalid_argument("walk record: unknown parent block");
        const std::size_t first = m_firstEntry[*parent];
        if (indexInParent >= m_firstEntry[*parent + 1] - first || !m_isDir[first + indexInParent])
            throw std::invalid_argument("walk record: parent entry is not a directory");
        if (m_entered[first + indexInParent]) throw std::invalid_argument("walk record: directory entered twice");
        m_entered[first + indexInParent] = true;
    } else if (indexInParent >= m_roots.size()) {
        throw std::invalid_argument("walk record: root index out of range");
    }
    m_blockAt.push_back(m_blocks.size());
    putVarint(m_blocks, parent ? std::uint64_t(*parent) + 1 : 0);
    putVarint(m_blocks, indexInParent);
    putVarint(m_blocks, listed);
    putVarint(m_blocks, block.size());
    putStamp(m_blocks, stamp, m_start);
    m_blocks += block.m_bytes;
    const std::size_t first = m_isDir.size();
    m_isDir.resize(first + block.size(), false);
    m_entered.resize(first + block.size(), false);
    for (const std::uint32_t dir : block.m_directories) m_isDir[first + dir] = true;
    m_firstEntry.push_back(m_isDir.size());
    m_listed += listed;
    return std::uint32_t(id);
}

void WalkRecordWriter::setSkippedDirectories(std::uint64_t count) {
    const std::lock_guard lock(m_mutex);
    m_skipped = std::uint32_t(std::min<std::uint64_t>(count, 0xFFFFFFFFu));
}

std::uint64_t WalkRecordWriter::storedEntries() const {
    const std::lock_guard lock(m_mutex);
    return m_isDir.size();
}

std::uint64_t WalkRecordWriter::storedBytes() const {
    const std::lock_guard lock(m_mutex);
    return m_blocks.size();
}

std::string WalkRecordWriter::nameIndex() const {
    // Blocks [first, last) into builder, from their bytes.
    auto build = [&](std::size_t first, std::size_t last, NameIndexBuilder& builder) {
        Reader in(std::string_view(m_blocks).substr(first < last ? m_blockAt[first] : m_blocks.size()));
        for (std::size_t block = first; block < last; ++block) {
            in.varint(); // parent
            in.varint(); // index in the parent
            in.varint(); // listed
            const std::uint64_t stored = in.varint();
            readStamp(in, m_start);
            builder.startBlock();
            for (std::uint64_t e = 0; e < stored; ++e) {
                in.fixed(1);
                builder.add(in.take(in.varint()));
            }
        }
    };
    // Two halves of the entries on two threads, when there are many.
    const std::size_t blocks = m_blockAt.size();
    const std::size_t entries = m_isDir.size();
    NameIndexBuilder index;
    if (entries < 100000 || blocks < 2 || std::thread::hardware_concurrency() < 2) {
        build(0, blocks, index);
        return index.finish();
    }
    const std::size_t middle =
        std::size_t(std::upper_bound(m_firstEntry.begin(), m_firstEntry.end() - 1, entries / 2) - m_firstEntry.begin());
    NameIndexBuilder later;
    std::thread helper([&] { build(middle, blocks, later); });
    build(0, middle, index);
    helper.join();
    index.append(later);
    return index.finish();
}

std::string WalkRecordWriter::serialize(bool withIndex) const {
    const std::lock_guard lock(m_mutex);
    std::string body = m_options;
    for (const std::string& root : m_roots) {
        putVarint(body, root.size());
        body += root;
    }
    body += m_blocks;
    if (withIndex) body += nameIndex();

    std::string bytes(kMagic);
    putFixed(bytes, withIndex ? kWalkRecordVersion : 3, 4);
    putFixed(bytes, m_skipped, 4);
    putFixed(bytes, std::uint64_t(m_start.seconds), 8);
    putFixed(bytes, m_start.nanoseconds, 4);
    putFixed(bytes, m_access, 4);
    putFixed(bytes, m_listed, 8);
    putFixed(bytes, m_roots.size(), 4);
    putFixed(bytes, m_firstEntry.size() - 1, 4);
    putFixed(bytes, m_options.size(), 4);
    putFixed(bytes, body.size(), 8);
    putFixed(bytes, checksumOf(body), 4);
    putFixed(bytes, checksumOf(bytes), 4);
    bytes += body;
    return bytes;
}

namespace {

std::optional<SysError> writeAll(int fd, std::string_view bytes, const std::string& path) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return lastError("write", path);
        }
        bytes.remove_prefix(std::size_t(written));
    }
    return std::nullopt;
}

} // namespace

std::optional<SysError> WalkRecordWriter::save(const std::string& path) const {
    const std::size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.empty()) return SysError{"open", path, EISDIR};
    if (auto error = makePrivateDirectories(dir)) return error;
    const UniqueFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dirFd.valid()) return lastError("open", dir);
    return saveAt(dirFd.get(), base, dir);
}

std::optional<SysError> WalkRecordWriter::saveAt(int dirFd, const std::string& name, const std::string& dirPath) const {
    const std::string bytes = serialize();
    static std::atomic<unsigned> counter{0};
    std::string temporary;
    UniqueFd fd;
    for (int attempt = 0; attempt < 100 && fd.get() < 0; ++attempt) {
        temporary = "." + name + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        fd = UniqueFd(::openat(dirFd, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd.get() < 0 && errno != EEXIST) return lastError("open", dirPath + "/" + temporary);
    }
    if (fd.get() < 0) return lastError("open", dirPath + "/" + temporary);

    std::optional<SysError> error = writeAll(fd.get(), bytes, dirPath + "/" + temporary);
    if (!error && ::fsync(fd.get()) != 0) error = lastError("fsync", dirPath + "/" + temporary);
    if (!error && ::close(fd.release()) != 0) error = lastError("close", dirPath + "/" + temporary);
    if (!error && ::renameat(dirFd, temporary.c_str(), dirFd, name.c_str()) != 0)
        error = lastError("rename", dirPath + "/" + name);
    if (error) {
        ::unlinkat(dirFd, temporary.c_str(), 0);
        return error;
    }
    // The rename itself reaches the disk with the directory.
    ::fsync(dirFd);
    return std::nullopt;
}

std::optional<WalkRecord> WalkRecord::parse(std::string bytes) {
    auto owned = std::make_shared<const std::string>(std::move(bytes));
    const std::string_view all = *owned;
    return parseOwned(std::shared_ptr<const char>(owned, owned->data()), all, std::nullopt);
}

std::optional<WalkRecord> WalkRecord::parseOwned(std::shared_ptr<const char> owner, std::string_view all,
                                                 std::optional<std::uint32_t> knownBodyChecksum) {
    WalkRecord record;
    record.m_owner = std::move(owner);
    record.m_bytes = all;
    const std::optional<Header> header = readHeader(all);
    if (!header) return std::nullopt;
    record.m_skipped = header->skipped;
    record.m_start = header->start;
    record.m_access = header->access;
    record.m_listed = header->listed;
    const std::uint64_t rootCount = header->rootCount;
    const std::uint64_t blockCount = header->blockCount;
    const std::string_view body = all.substr(kWalkRecordHeaderSize);
    if (header->bodyLength != body.size()) return std::nullopt;
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    if (header->bodyChecksum != (knownBodyChecksum ? *knownBodyChecksum : checksumOf(body))) return std::nullopt;
#else
    (void)knownBodyChecksum;
#endif

    Reader in(body);
    record.m_options = in.take(header->optionsLength);
    // Each root takes at least one byte and each block at least five: no
    // count read from the file reserves more than the file could hold.
    if (rootCount > in.remaining() || blockCount > in.remaining() / 5) return std::nullopt;
    record.m_roots.reserve(rootCount);
    for (std::uint64_t i = 0; i < rootCount && in.ok(); ++i) {
        const std::string_view root = in.take(in.varint());
        if (root.empty() || root.find('\0') != std::string_view::npos) return std::nullopt;
        record.m_roots.emplace_back(root);
    }
    if (!in.ok()) return std::nullopt;

    record.m_blocks.reserve(blockCount);
    std::vector<std::size_t> firstEntryOf;       // per block, into entryState
    std::vector<bool> entered(rootCount, false); // per root
    // Per stored entry: bit 0 a directory, bit 1 entered by a block.
    std::vector<std::uint8_t> entryState;
    std::vector<std::uint32_t> childCounts(blockCount + 1, 0); // the last: roots
    std::uint64_t listedSum = 0;
    for (std::uint64_t id = 0; id < blockCount; ++id) {
        Block block;
        const std::uint64_t parentPlusOne = in.varint();
        const std::uint64_t index = in.varint();
        block.listed = in.varint();
        const std::uint64_t stored = in.varint();
        if (!in.ok() || parentPlusOne > id || index > 0xFFFFFFFFu || stored > block.listed) return std::nullopt;
        block.index = std::uint32_t(index);
        if (parentPlusOne == 0) {
            if (index >= rootCount || entered[index]) return std::nullopt;
            entered[index] = true;
            ++childCounts[blockCount];
        } else {
            block.parent = std::uint32_t(parentPlusOne - 1);
            const Block& parent = record.m_blocks[block.parent];
            if (index >= parent.entryCount) return std::nullopt;
            std::uint8_t& state = entryState[firstEntryOf[block.parent] + index];
            if (state != 1) return std::nullopt; // a file, or a directory entered twice
            state = 3;
            ++childCounts[block.parent];
        }
        block.stampAt = kWalkRecordHeaderSize + in.position();
        if (!readStamp(in, record.m_start)) return std::nullopt;
        if (!in.ok() || block.listed > ~listedSum) return std::nullopt;
        listedSum += block.listed;
        // Each entry takes at least three bytes.
        if (stored > in.remaining() / 3) return std::nullopt;
        block.entriesAt = kWalkRecordHeaderSize + in.position();
        block.entryCount = std::uint32_t(stored);
        block.firstGroup = record.m_groupBytes.size();
        firstEntryOf.push_back(entryState.size());
        std::size_t groupAt = in.position();
        for (std::uint64_t e = 0; e < stored; ++e) {
            const auto type = std::uint8_t(in.fixed(1));
            const std::string_view name = in.take(in.varint());
            if (!in.ok() || !knownType(type) || !storableName(name)) return std::nullopt;
            entryState.push_back(type == std::uint8_t(EntryType::Directory) ? 1 : 0);
            if (e % kNameIndexGroup == kNameIndexGroup - 1 || e + 1 == stored) {
                record.m_groupBytes.push_back(std::uint16_t(in.position() - groupAt));
                groupAt = in.position();
            }
        }
        record.m_blocks.push_back(block);
    }
    if (listedSum != record.m_listed) return std::nullopt;
    if (in.remaining() != 0) {
        if (header->version < 4) return std::nullopt;
        record.m_nameIndex = NameIndex::parse(in.take(in.remaining()), record.m_groupBytes.size());
        if (!record.m_nameIndex) return std::nullopt;
    }

    // Children in id order: a counting sort over the parents.
    std::vector<std::uint32_t> next(blockCount + 1, 0);
    std::uint32_t offset = 0;
    for (std::size_t i = 0; i <= blockCount; ++i) {
        next[i] = offset;
        offset += childCounts[i];
        if (i < blockCount) {
            record.m_blocks[i].firstChild = next[i];
            record.m_blocks[i].childCount = childCounts[i];
        }
    }
    record.m_rootChildrenFirst = next[blockCount];
    record.m_rootChildrenCount = childCounts[blockCount];
    record.m_children.resize(blockCount);
    for (std::uint32_t id = 0; id < blockCount; ++id) {
        const std::uint32_t parent = record.m_blocks[id].parent;
        record.m_children[next[parent == kNoParent ? blockCount : parent]++] = id;
    }
    return record;
}

namespace {

// Never through a link, never waiting: a FIFO put under a record's name
// would otherwise hold the reader for good.
constexpr int kRecordOpenFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

bool readFully(int fd, char* at, std::size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t got = ::pread(fd, at, size, offset);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        at += got;
        size -= std::size_t(got);
        offset += got;
    }
    return true;
}

} // namespace

std::optional<WalkRecord> WalkRecord::load(const std::string& path, std::string* refusal) {
    const UniqueFd fd(::open(path.c_str(), kRecordOpenFlags));
    return loadOpened(fd.get(), errno, refusal);
}

std::optional<WalkRecord> WalkRecord::loadAt(int dirFd, const std::string& name, std::string* refusal) {
    const UniqueFd fd(::openat(dirFd, name.c_str(), kRecordOpenFlags));
    return loadOpened(fd.get(), errno, refusal);
}

std::optional<WalkRecord> WalkRecord::loadOpened(int fd, int openError, std::string* refusal) {
    if (refusal) refusal->clear();
    auto refuse = [refusal](std::string why) {
        if (refusal) *refusal = std::move(why);
        return std::nullopt;
    };
    if (fd < 0) {
        if (openError == ELOOP) return refuse("it is a symbolic link");
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) return std::nullopt;
    if (!S_ISREG(info.st_mode)) return refuse("it is not a regular file");
    if (std::string why = notPrivateBecause(info); !why.empty()) return refuse(std::move(why));

    // The header first: a file whose size is not the one it gives is
    // refused before its body is read.
    const auto size = std::uint64_t(info.st_size);
    if (size < kWalkRecordHeaderSize || size > kWalkRecordMaxFileSize) return std::nullopt;
    char headerBytes[kWalkRecordHeaderSize];
    if (!readFully(fd, headerBytes, sizeof headerBytes, 0)) return std::nullopt;
    const std::optional<Header> header = readHeader(std::string_view(headerBytes, sizeof headerBytes));
    if (!header || header->bodyLength != size - kWalkRecordHeaderSize) return std::nullopt;

    // The file is read straight into memory of its size, mapped with its
    // pages in place: a record may be large, and page faults one at a time
    // would cost more than the reading.  (The file itself is not mapped: a
    // file cut short under a mapping would end the program.)
    const auto length = std::size_t(size);
    void* memory = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return std::nullopt;
    // In huge pages where the system gives them (a fault per 2 MB instead
    // of per 4 KB: a fifth off answering from few-large's record), in place
    // before the reading; on a kernel without either, the reading faults
    // them in.
    (void)::madvise(memory, length, MADV_HUGEPAGE);
    (void)::madvise(memory, length, MADV_POPULATE_WRITE);
    const std::shared_ptr<const char> owner(static_cast<const char*>(memory),
                                            [length](const char* p) { ::munmap(const_cast<char*>(p), length); });
    auto* at = static_cast<char*>(memory);
    std::memcpy(at, headerBytes, sizeof headerBytes);
    // The body's checksum is taken piece by piece as it arrives, while the
    // piece is still in the processor's cache.
    const std::unique_ptr<XXH3_state_t, XXH_errorcode (*)(XXH3_state_t*)> state(XXH3_createState(), XXH3_freeState);
    if (!state || XXH3_64bits_reset(state.get()) != XXH_OK) return std::nullopt;
    constexpr std::size_t kPiece = std::size_t{1} << 18;
    std::size_t filled = kWalkRecordHeaderSize;
    while (filled < length) {
        const ssize_t got = ::pread(fd, at + filled, std::min(kPiece, length - filled), off_t(filled));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::nullopt;
        if (got == 0) break; // cut short since fstat: the checks refuse it
        XXH3_64bits_update(state.get(), at + filled, std::size_t(got));
        filled += std::size_t(got);
    }
    return parseOwned(owner, std::string_view(at, filled), std::uint32_t(XXH3_64bits_digest(state.get())));
}

std::optional<std::uint32_t> WalkRecord::parent(std::uint32_t block) const {
    const std::uint32_t parent = m_blocks.at(block).parent;
    if (parent == kNoParent) return std::nullopt;
    return parent;
}

std::optional<DirectoryStamp> WalkRecord::stamp(std::uint32_t block) const {
    // Checked when parsed: decoded again here, so that a record keeps no
    // more than an offset per block.
    Reader in(m_bytes.substr(m_blocks.at(block).stampAt));
    return readStamp(in, m_start).value_or(std::nullopt);
}

RecordedEntries WalkRecord::entries(std::uint32_t block) const {
    const Block& b = m_blocks.at(block);
    return {m_bytes.data() + b.entriesAt, b.entryCount};
}

std::span<const std::uint32_t> WalkRecord::children(std::uint32_t block) const {
    const Block& b = m_blocks.at(block);
    return {m_children.data() + b.firstChild, b.childCount};
}

std::span<const std::uint32_t> WalkRecord::rootBlocks() const {
    return {m_children.data() + m_rootChildrenFirst, m_rootChildrenCount};
}

} // namespace toka
