#pragma once
// Helpers of the file-operation tests: snapshots of trees' bytes, scripted
// answers to the engine's questions and a SystemCalls that injects faults.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../support/mounts.h"
#include "../support/process.h"
#include "../support/temp_tree.h"
#include "fileops/file_operation.h"

namespace toka::test {

/// Bytes that differ from chunk to chunk, so a misplaced or repeated chunk shows.
inline std::string patternBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

inline struct stat lstatOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return status;
}

inline bool exists(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

inline bool isTempName(const std::string& name) { return name.rfind(".toka-", 0) == 0; }

/// One entry as far as losing data goes: its kind ('f', 'd', 'l', 'p' FIFO)
/// and its bytes (file contents, link target).
struct Entry {
    char kind;
    std::string bytes;
    friend bool operator==(const Entry&, const Entry&) = default;
};
using Tree = std::map<std::string, Entry>; // relative path -> entry

inline void snapshotInto(const std::string& dir, const std::string& prefix, Tree& tree) {
    DIR* listing = ::opendir(dir.c_str());
    while (const dirent* e = listing ? ::readdir(listing) : nullptr) {
        const std::string name = e->d_name, path = dir + "/" + name, key = prefix + name;
        if (name == "." || name == "..") continue;
        const struct stat status = lstatOf(path);
        if (S_ISDIR(status.st_mode)) {
            tree[key] = {'d', {}};
            snapshotInto(path, key + "/", tree);
        } else if (S_ISREG(status.st_mode)) {
            tree[key] = {'f', readFile(path)};
        } else if (S_ISLNK(status.st_mode)) {
            std::string target(4096, '\0');
            target.resize(static_cast<std::size_t>(::readlink(path.c_str(), target.data(), target.size())));
            tree[key] = {'l', target};
        } else {
            tree[key] = {S_ISFIFO(status.st_mode) ? 'p' : '?', {}};
        }
    }
    if (listing) ::closedir(listing);
}

inline Tree snapshot(const std::string& root) {
    Tree tree;
    snapshotInto(root, "", tree);
    return tree;
}

/// Paths below root that carry one of the engine's temporary names.
inline std::vector<std::string> temporaryItems(const std::string& root) {
    std::vector<std::string> found;
    for (const auto& [key, entry] : snapshot(root))
        if (isTempName(key.substr(key.rfind('/') + 1))) found.push_back(key);
    return found;
}

/// Answers from a script; a question the script does not expect fails the test.
struct ScriptedQuestions : FileOpQuestions {
    bool deleteAnswer = true;
    std::deque<ExistsReply> existsReplies;
    std::optional<FailureAction> everyFailure;
    bool cancel = false; // what cancelRequested answers

    std::vector<std::size_t> deleteCounts;
    std::vector<std::pair<ItemInfo, ItemInfo>> existsAsked;
    std::vector<FileOpFailure> failuresAsked, errorsShown;

    bool confirmDelete(std::size_t count) override {
        deleteCounts.push_back(count);
        return deleteAnswer;
    }
    ExistsReply askExists(const ItemInfo& source, const ItemInfo& existing) override {
        existsAsked.emplace_back(source, existing);
        if (existsReplies.empty()) ADD_FAILURE() << "unexpected question: " << existing.path << " exists";
        if (existsReplies.empty()) return {ExistsAction::Cancel};
        const ExistsReply reply = existsReplies.front();
        existsReplies.pop_front();
        return reply;
    }
    FailureAction askFailure(const FileOpFailure& failure) override {
        failuresAsked.push_back(failure);
        if (!everyFailure) ADD_FAILURE() << "unexpected failure: " << failure.describe();
        return everyFailure.value_or(FailureAction::Cancel);
    }
    void showError(const FileOpFailure& failure) override { errorsShown.push_back(failure); }
    bool cancelRequested() override { return cancel; }
};

/// Write stands for every call that writes file contents (write,
/// copy_file_range, a reflink).
/// SetXattr: name is the attribute's; ListXattrs: a listing of any node's.
enum class Call { Open, Read, Write, Rename, Unlink, Mkdir, Fsync, SyncFs, SetXattr, ListXattrs };

/// The system, except where `fault` answers an errno for a call (0 lets it
/// through).  name is the entry's name; for Rename the old name, other the new.
struct FaultySystem : SystemCalls {
    std::function<int(Call, const std::string& name, const std::string& other)> fault;
    long long writeBudget = -1; ///< bytes that may still be written; -1 no limit
    int writeError = ENOSPC;    ///< the error once the budget is spent
    bool noExchange = false;    ///< a file system without RENAME_EXCHANGE
    bool noOffload = false;     ///< neither reflinks nor copy_file_range: read and write only
    long long written = 0;
    int readFd = -1;      ///< the descriptor of the Read call being asked about
    int kernelCopies = 0; ///< copy_file_range calls let through

    int inject(Call call, const std::string& name = {}, const std::string& other = {}) {
        const int error = fault ? fault(call, name, other) : 0;
        errno = error;
        return error;
    }
    int openAt(int dirFd, const char* name, int flags, mode_t mode) override {
        return inject(Call::Open, name) ? -1 : SystemCalls::openAt(dirFd, name, flags, mode);
    }
    ssize_t read(int fd, void* buffer, std::size_t size) override {
        readFd = fd;
        return inject(Call::Read) ? -1 : SystemCalls::read(fd, buffer, size);
    }
    ssize_t write(int fd, const void* buffer, std::size_t size) override {
        return limitedWrite(size, [&](std::size_t n) { return SystemCalls::write(fd, buffer, n); });
    }
    // The kernel's copy writes too: the same faults and the same budget.
    ssize_t copyFileRange(int inFd, off_t* inOffset, int outFd, off_t* outOffset, std::size_t size) override {
        if (noOffload) return errno = ENOSYS, -1;
        ++kernelCopies;
        return limitedWrite(
            size, [&](std::size_t n) { return SystemCalls::copyFileRange(inFd, inOffset, outFd, outOffset, n); });
    }
    // A reflink writes no bytes, so a budget could not stop it: a disk with a
    // budget has none, and the copy spends it through the calls above.
    int cloneFile(int destFd, int srcFd) override {
        if (noOffload || writeBudget >= 0) return errno = EOPNOTSUPP, -1;
        if (inject(Call::Write)) return -1;
        struct stat status {};
        if (SystemCalls::cloneFile(destFd, srcFd) < 0) return -1;
        written += ::fstat(srcFd, &status) == 0 ? status.st_size : 0;
        return 0;
    }
    /// A write of up to size bytes by `call`: fault, budget and count.
    template <class Write>
    ssize_t limitedWrite(std::size_t size, Write call) {
        if (inject(Call::Write)) return -1;
        if (writeBudget == 0) return errno = writeError, -1;
        // A disk that fills up takes what still fits, then refuses.
        if (writeBudget > 0) size = std::min<std::size_t>(size, static_cast<std::size_t>(writeBudget));
        const ssize_t n = call(size);
        written += std::max<ssize_t>(n, 0);
        if (writeBudget > 0) writeBudget -= std::max<ssize_t>(n, 0);
        return n;
    }
    int renameAt(int oldDirFd, const char* oldName, int newDirFd, const char* newName, unsigned flags) override {
        if (noExchange && (flags & RENAME_EXCHANGE)) return errno = EINVAL, -1;
        if (inject(Call::Rename, oldName, newName)) return -1;
        return SystemCalls::renameAt(oldDirFd, oldName, newDirFd, newName, flags);
    }
    int unlinkAt(int dirFd, const char* name, int flags) override {
        return inject(Call::Unlink, name) ? -1 : SystemCalls::unlinkAt(dirFd, name, flags);
    }
    int mkdirAt(int dirFd, const char* name, mode_t mode) override {
        return inject(Call::Mkdir, name) ? -1 : SystemCalls::mkdirAt(dirFd, name, mode);
    }
    int setXattr(int fd, const char* name, const void* value, std::size_t size) override {
        return inject(Call::SetXattr, name) ? -1 : SystemCalls::setXattr(fd, name, value, size);
    }
    ssize_t listXattrs(int fd, char* names, std::size_t size) override {
        return inject(Call::ListXattrs) ? -1 : SystemCalls::listXattrs(fd, names, size);
    }
    int fsync(int fd) override { return inject(Call::Fsync) ? -1 : SystemCalls::fsync(fd); }
    int syncFileSystem(int fd) override { return inject(Call::SyncFs) ? -1 : SystemCalls::syncFileSystem(fd); }

    // A flush runs on a thread of its own with a duplicate of its descriptor,
    // which it closes last; a run cancelled meanwhile returns without it.
    // This object lives until every such flush has closed its descriptor.
    int duplicate(int fd) override {
        const int copy = SystemCalls::duplicate(fd);
        const std::lock_guard<std::mutex> lock(m_flushesMutex);
        if (copy >= 0) m_flushes.insert(copy);
        return copy;
    }
    int close(int fd) override {
        const int result = SystemCalls::close(fd);
        const int error = errno;
        const std::lock_guard<std::mutex> lock(m_flushesMutex);
        m_flushes.erase(fd);
        errno = error;
        return result;
    }
    ~FaultySystem() override {
        for (;;) {
            {
                const std::lock_guard<std::mutex> lock(m_flushesMutex);
                if (m_flushes.empty()) break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

private:
    std::mutex m_flushesMutex;
    std::set<int> m_flushes;
};

/// A fault for FaultySystem: every rename of a list item or of an entry below
/// it (neither name a temporary one) answers EXDEV, as between two file systems.
inline int acrossFileSystems(Call call, const std::string& from, const std::string& to) {
    return call == Call::Rename && !isTempName(from) && !isTempName(to) ? EXDEV : 0;
}

} // namespace toka::test
