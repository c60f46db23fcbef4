#include "viewer/regular_file.h"

#include "platform/core/sys_error.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace toka {

QString systemError(const char* operation, const std::string& path) {
    return QString::fromStdString(lastError(operation, path).message());
}

LoadResult<UniqueFd> openRegularFile(const std::string& path) {
    using Result = LoadResult<UniqueFd>;
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return Result::failure(systemError("stat", path));
    if (!S_ISREG(status.st_mode)) {
        errno = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
        return Result::failure(systemError("open", path));
    }
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) return Result::failure(systemError("open", path));
    if (::fstat(fd.get(), &status) != 0) return Result::failure(systemError("fstat", path));
    if (!S_ISREG(status.st_mode)) {
        errno = EINVAL;
        return Result::failure(systemError("open", path));
    }
    return Result::success(std::move(fd));
}

LoadResult<QByteArray> readUpTo(int fd, const std::string& path, std::size_t limit, bool stopAtNul, bool& tooLong) {
    // 4 MiB reads: a 50 MB file in a dozen system calls, and at most that
    // much read past a NUL or past the limit.
    constexpr std::size_t kChunk = std::size_t{4} << 20;
    tooLong = false;
    QByteArray bytes;
    struct stat status {};
    if (::fstat(fd, &status) == 0 && status.st_size > 0)
        bytes.reserve(qsizetype(std::min<std::size_t>(std::size_t(status.st_size), limit + 1)));
    std::size_t used = 0;
    for (;;) {
        const std::size_t want = std::min(kChunk, limit + 1 - used);
        bytes.resize(qsizetype(used + want));
        const ssize_t got = ::read(fd, bytes.data() + used, want);
        if (got < 0) {
            if (errno == EINTR) continue;
            return LoadResult<QByteArray>::failure(systemError("read", path));
        }
        if (got == 0) break;
        const char* fresh = bytes.constData() + used;
        used += std::size_t(got);
        if (stopAtNul && std::memchr(fresh, '\0', std::size_t(got)) != nullptr) break;
        if (used > limit) {
            tooLong = true;
            break;
        }
    }
    bytes.resize(qsizetype(used));
    return LoadResult<QByteArray>::success(std::move(bytes));
}

} // namespace toka
