#include "platform/listing/file_info.h"

#include <climits>
#include <fcntl.h>
#include <sys/stat.h>

namespace toka {

std::uint8_t attributesOf(mode_t mode, std::string_view name) {
    std::uint8_t attributes = 0;
    if ((mode & S_IWUSR) == 0) attributes |= AttrReadOnly;
    switch (mode & S_IFMT) {
    case S_IFDIR:
        attributes |= AttrDirectory;
        break;
    case S_IFREG:
    case S_IFLNK:
        attributes |= AttrArchive;
        break;
    default:
        attributes |= AttrSystem;
        break;
    }
    if (!name.empty() && name[0] == '.' && !isDotOrDotDot(name)) attributes |= AttrHidden;
    return attributes;
}

std::string attributeText(std::uint8_t attributes) {
    std::string text(5, '-');
    if (attributes & AttrReadOnly) text[0] = 'R';
    if (attributes & AttrArchive) text[1] = 'A';
    if (attributes & AttrSystem) text[2] = 'S';
    if (attributes & AttrHidden) text[3] = 'H';
    if (attributes & AttrDirectory) text[4] = 'D';
    return text;
}

std::optional<LocalDateTime> toLocalDateTime(std::time_t t) {
    std::tm parts{};
    if (::localtime_r(&t, &parts) == nullptr) return std::nullopt;
    LocalDateTime local;
    local.year = parts.tm_year + 1900;
    local.month = parts.tm_mon + 1;
    local.day = parts.tm_mday;
    local.hour = parts.tm_hour;
    local.minute = parts.tm_min;
    local.second = parts.tm_sec;
    local.dayOfWeek = parts.tm_wday;
    return local;
}

std::optional<DosDateTime> toDosDateTime(const LocalDateTime& local) {
    if (local.year < 1980 || local.year > 2107) return std::nullopt;
    DosDateTime dos;
    dos.date = static_cast<std::uint16_t>(((local.year - 1980) << 9) | (local.month << 5) | local.day);
    // A leap second (60) cannot be written: it reads as 58, the last even one.
    int second = local.second > 59 ? 59 : local.second;
    dos.time = static_cast<std::uint16_t>((local.hour << 11) | (local.minute << 5) | (second / 2));
    return dos;
}

namespace {

// Day of the week of a proleptic Gregorian date, 0 = Sunday (Sakamoto).
int dayOfWeek(int year, int month, int day) {
    static constexpr int offsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (month < 3) year -= 1;
    int month0 = (month - 1) % 12;
    return (year + year / 4 - year / 100 + year / 400 + offsets[month0] + day) % 7;
}

} // namespace

LocalDateTime fromDosDateTime(DosDateTime dos) {
    LocalDateTime local;
    local.year = 1980 + (dos.date >> 9);
    local.month = (dos.date >> 5) & 0x0F;
    local.day = dos.date & 0x1F;
    local.hour = dos.time >> 11;
    local.minute = (dos.time >> 5) & 0x3F;
    local.second = 2 * (dos.time & 0x1F);
    if (local.month >= 1 && local.month <= 12) {
        local.dayOfWeek = dayOfWeek(local.year, local.month, local.day);
    }
    return local;
}

std::optional<LocalDateTime> displayedChangeTime(std::time_t mtime) {
    auto local = toLocalDateTime(mtime);
    if (!local) return std::nullopt;
    if (auto dos = toDosDateTime(*local)) return fromDosDateTime(*dos);
    return local;
}

Result<FileInfo> examineEntry(std::string_view directory, std::string_view name) {
    struct stat st;
    std::string full;
    full.reserve(directory.size() + name.size());
    full.append(directory).append(name);
    if (full.size() < PATH_MAX) {
        if (::lstat(full.c_str(), &st) != 0) return lastError("lstat", full);
    } else {
        // Too long for one call: stat relative to the opened directory.
        auto dirFd = openDirectory(directory);
        if (!dirFd) return dirFd.error();
        std::string zname(name);
        if (::fstatat(dirFd->get(), zname.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            return lastError("fstatat", full);
        }
    }
    FileInfo info;
    info.type = entryTypeFromMode(st.st_mode);
    info.mode = st.st_mode;
    info.attributes = attributesOf(st.st_mode, name);
    info.size = st.st_size;
    info.mtime = st.st_mtim.tv_sec;
    return info;
}

} // namespace toka
