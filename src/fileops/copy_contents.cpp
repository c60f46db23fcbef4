#include "fileops/copy_contents.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

namespace toka {
namespace {

constexpr off_t kUnbounded = std::numeric_limits<off_t>::max();

/// Answers of FICLONE that only mean "not here": nothing was changed.
bool isCloneUnsupported(int error) {
    switch (error) {
    case EOPNOTSUPP: // the file system has no reflinks (ext4, tmpfs)
    case ENOTTY:     // the ioctl is unknown to it
    case ENOSYS:
    case EXDEV:   // two file systems
    case EINVAL:  // unaligned sizes, inline extents
    case ETXTBSY: // the destination is a swap file or being executed
    case EPERM:   // immutable or append-only
    case EBADF:
    case EISDIR:
        return true;
    default:
        return false;
    }
}

class ContentCopier {
public:
    ContentCopier(SystemCalls& system, int in, int out, const struct stat& source, std::vector<char>& buffer,
                  const ContentCopyProgress& progress, bool tryReflink)
        : m_system(system), m_in(in), m_out(out), m_source(source), m_buffer(buffer), m_progress(progress),
          m_tryReflink(tryReflink) {}

    ContentCopyResult run();

private:
    /// What a step of the copy met.
    enum class Step { Going, EndOfFile, Stop };

    /// true when the work is over: cloned, cancelled, or failed (m_result).
    bool tryClone();
    Step copyExtents();
    Step copyRange(off_t end);
    Step offloadChunk(off_t end);
    Step streamChunk(off_t end);
    /// lseek(SEEK_DATA or SEEK_HOLE) on the source from m_offset.
    off_t probe(int whence);
    Step passed(off_t bytes);
    Step failed(ContentCopyStatus status, int error);

    SystemCalls& m_system;
    const int m_in;
    const int m_out;
    const struct stat& m_source;
    std::vector<char>& m_buffer;
    const ContentCopyProgress& m_progress;
    const bool m_tryReflink;

    ContentCopyResult m_result;
    bool m_offload = true; ///< copy_file_range still worth trying on this file
    off_t m_offset = 0;    ///< the next byte of the source to copy
    off_t m_written = 0;   ///< the destination's length so far
    // The descriptors' file offsets, which read and write use: SEEK_DATA and
    // SEEK_HOLE move the source's, copy_file_range leaves both alone.
    off_t m_inPosition = 0;
    off_t m_outPosition = 0;
};

ContentCopyResult ContentCopier::run() {
    // A size of 0 may be a /proc file with contents nonetheless, which the
    // kernel's copy has answered with 0 bytes on some versions.  Read to the
    // end: for a file that is really empty that costs one read.
    if (m_source.st_size == 0) {
        m_offload = false;
        copyRange(kUnbounded);
        return m_result;
    }
    if (m_tryReflink && tryClone()) return m_result;

    // Allocated blocks that cover the size: no hole worth finding, so no
    // SEEK_DATA / SEEK_HOLE round trips for the ordinary file.
    const bool mayHaveHoles = m_source.st_blocks * 512 < m_source.st_size;
    if ((mayHaveHoles ? copyExtents() : copyRange(kUnbounded)) == Step::Stop) return m_result;

    if (m_offset > m_written && m_system.truncate(m_out, m_offset) < 0) failed(ContentCopyStatus::WriteFailed, errno);
    return m_result;
}

bool ContentCopier::tryClone() {
    if (m_system.cloneFile(m_out, m_in) == 0) {
        passed(m_source.st_size);
        return true;
    }
    const int error = errno;
    m_result.noReflinks =
        error == EOPNOTSUPP || error == ENOTTY || error == ENOSYS || error == EXDEV || error == ENOTSUP;
    // An unexpected failure may have left part of a clone behind; the copy
    // skips holes and must start from an empty file.
    if (!isCloneUnsupported(error) && m_system.truncate(m_out, 0) < 0) {
        failed(ContentCopyStatus::WriteFailed, errno);
        return true;
    }
    return false;
}

ContentCopier::Step ContentCopier::copyExtents() {
    for (;;) {
        const off_t data = probe(SEEK_DATA);
        if (data < 0 && errno != ENXIO) {
            // The file system cannot tell data from holes (some /proc and
            // FUSE files): everything from here on is data.
            m_offload = false;
            return copyRange(kUnbounded);
        }
        if (data < 0) {
            // No data from m_offset on: the rest up to the end is a hole.
            // Data that arrived between the two looks is copied first.
            struct stat now {};
            if (m_system.fstat(m_in, &now) < 0) return failed(ContentCopyStatus::ReadFailed, errno);
            if (now.st_size <= m_offset) return Step::EndOfFile;
            if (probe(SEEK_DATA) >= 0) continue;
            if (passed(now.st_size - m_offset) == Step::Stop) return Step::Stop;
            m_offset = now.st_size;
            return Step::EndOfFile;
        }
        if (data > m_offset && passed(data - m_offset) == Step::Stop) return Step::Stop;
        m_offset = data;
        const off_t hole = probe(SEEK_HOLE);
        if (hole < 0) return failed(ContentCopyStatus::ReadFailed, errno);
        // The last extent ends at the end of file as it was a moment ago: a
        // file that has grown since goes on in the next extent.  A file cut
        // short between the two looks is copied as data to its end.
        const Step step = copyRange(hole > m_offset ? hole : kUnbounded);
        if (step != Step::Going) return step;
    }
}

ContentCopier::Step ContentCopier::copyRange(off_t end) {
    while (m_offset < end) {
        const Step step = m_offload ? offloadChunk(end) : streamChunk(end);
        if (step != Step::Going) return step;
    }
    return Step::Going;
}

ContentCopier::Step ContentCopier::offloadChunk(off_t end) {
    const auto size = static_cast<std::size_t>(std::min<off_t>(static_cast<off_t>(m_buffer.size()), end - m_offset));
    off_t in = m_offset, out = m_offset;
    const ssize_t n = m_system.copyFileRange(m_in, &in, m_out, &out, size);
    if (n > 0) {
        m_offset += n;
        m_written = std::max(m_written, m_offset);
        return passed(n);
    }
    // 0 past the size the file had when opened is its end; before it, the
    // file system copies nothing this way.  Every failure (EXDEV, ENOSYS,
    // EOPNOTSUPP, EINVAL, but also ENOSPC or EIO) hands the rest of the file
    // to read and write, which report a real fault on its side.
    if (n == 0 && m_offset >= m_source.st_size) return Step::EndOfFile;
    m_offload = false;
    return Step::Going;
}

ContentCopier::Step ContentCopier::streamChunk(off_t end) {
    if (m_inPosition != m_offset) {
        if (m_system.seek(m_in, m_offset, SEEK_SET) < 0) return failed(ContentCopyStatus::ReadFailed, errno);
        m_inPosition = m_offset;
    }
    if (m_outPosition != m_offset) { // past a hole: the file system leaves it unallocated
        if (m_system.seek(m_out, m_offset, SEEK_SET) < 0) return failed(ContentCopyStatus::WriteFailed, errno);
        m_outPosition = m_offset;
    }
    const auto size = static_cast<std::size_t>(std::min<off_t>(static_cast<off_t>(m_buffer.size()), end - m_offset));
    const ssize_t got = m_system.read(m_in, m_buffer.data(), size);
    if (got < 0) return failed(ContentCopyStatus::ReadFailed, errno);
    if (got == 0) return Step::EndOfFile;
    for (ssize_t done = 0; done < got;) {
        const ssize_t n = m_system.write(m_out, m_buffer.data() + done, static_cast<std::size_t>(got - done));
        if (n < 0) return failed(ContentCopyStatus::WriteFailed, errno);
        if (n == 0) return failed(ContentCopyStatus::WriteFailed, ENOSPC);
        done += n;
    }
    m_offset += got;
    m_inPosition = m_outPosition = m_offset;
    m_written = std::max(m_written, m_offset);
    return passed(got);
}

off_t ContentCopier::probe(int whence) {
    const off_t found = m_system.seek(m_in, m_offset, whence);
    if (found >= 0) m_inPosition = found;
    return found;
}

ContentCopier::Step ContentCopier::passed(off_t bytes) {
    if (!m_progress(static_cast<std::uint64_t>(bytes))) return Step::Going;
    m_result = {ContentCopyStatus::Cancelled, 0};
    return Step::Stop;
}

ContentCopier::Step ContentCopier::failed(ContentCopyStatus status, int error) {
    m_result = {status, error};
    return Step::Stop;
}

} // namespace

ContentCopyResult copyContents(SystemCalls& system, int inFd, int outFd, const struct stat& source,
                               std::vector<char>& buffer, const ContentCopyProgress& progress, bool tryReflink) {
    return ContentCopier(system, inFd, outFd, source, buffer, progress, tryReflink).run();
}

} // namespace toka
