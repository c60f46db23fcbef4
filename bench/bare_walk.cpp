// bare_walk: the floor of the walk benchmark.  Lists every directory below
// DIR with getdents64 on one thread and does nothing else: no names are
// copied, decoded or rated, nothing is printed but the count of entries on
// standard error.  Same system calls as the search's walk (open relative to
// the parent, 32 KiB per getdents64 call, the entry type from the listing,
// no symbolic link followed), so the time left over in tokafind -j1 is the
// search's own.  Counts every record of every listing, "." and ".."
// included, as tokafind's "entries scanned" does.
// Usage: bare_walk DIR

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr std::size_t kChunkSize = 32 * 1024;

// The record layout of getdents64 (struct linux_dirent64).
struct Dirent64 {
    std::uint64_t ino;
    std::int64_t off;
    unsigned short reclen;
    unsigned char type;
    char name[1];
};

std::uint64_t g_entries = 0;

void walk(int fd) {
    alignas(8) char buffer[kChunkSize];
    for (;;) {
        const long filled = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        if (filled <= 0) break;
        for (long at = 0; at < filled;) {
            const auto* entry = reinterpret_cast<const Dirent64*>(buffer + at);
            at += entry->reclen;
            const char* name = entry->name;
            ++g_entries;
            if (entry->type != DT_DIR) continue;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
            const int child = ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child < 0) continue;
            walk(child);
            ::close(child);
        }
    }
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fputs("Usage: bare_walk DIR\n", stderr);
        return 2;
    }
    const int fd = ::open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "bare_walk: %s: %s\n", argv[1], std::strerror(errno));
        return 2;
    }
    walk(fd);
    ::close(fd);
    std::fprintf(stderr, "%llu entries\n", static_cast<unsigned long long>(g_entries));
    return 0;
}
