// What a copy keeps besides its contents: owners, POSIX ACLs, extended
// attributes, the set-user-ID, set-group-ID and sticky bits and times, on a
// copy and on a move to another file system; that a copy is at no moment
// more open than its source; and that what cannot be kept is reported.

#include <sys/sysmacros.h>

#include "metadata_support.h"

namespace toka::test {
namespace {

constexpr uid_t kOwner = 4001, kOther = 4002, kNamed = 4003;
constexpr gid_t kGroup = 4100, kSecondGroup = 4200, kOtherGroup = 4300;

void own(const std::string& path, uid_t uid, gid_t gid) {
    ASSERT_EQ(::lchown(path.c_str(), uid, gid), 0) << path << ": " << std::strerror(errno);
}

void setTimes(const std::string& path, long long seconds) {
    const struct timespec times[2] = {{seconds, 111}, {seconds, 222}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

/// The items of the owner kOwner:kGroup that a copy made by root must keep
/// as they are, below dir.
std::vector<std::string> makeRootTree(const std::string& dir) {
    writeFile(dir + "/secret", "only for two", 0600);
    setAcl(dir + "/secret", "u::rw,u:4003:rw,g::-,m::rw,o::-");
    setAttribute(dir + "/secret", "user.note", "kept");
    setAttribute(dir + "/secret", "trusted.origin", "root's");
    writeFile(dir + "/shared/inner", "inside", 0640);
    own(dir + "/shared/inner", kOwner, kGroup);
    ::chmod((dir + "/shared").c_str(), 02770);
    setAcl(dir + "/shared", "u::rwx,u:4003:rwx,g::rwx,m::rwx,o::-", ACL_TYPE_DEFAULT);
    setAttribute(dir + "/shared", "user.folder", "too");
    writeFile(dir + "/program", "#!/bin/sh\n", 0755);
    ::mkfifo((dir + "/pipe").c_str(), 0600);
    ::symlink("secret", (dir + "/link").c_str());
    setAttribute(dir + "/link", "trusted.link", "of the link itself");
    for (const char* item : {"secret", "shared", "program", "pipe", "link"}) own(dir + "/" + item, kOwner, kGroup);
    // After the owner, which clears them.
    ::chmod((dir + "/program").c_str(), 04755);
    ::chmod((dir + "/pipe").c_str(), 0620);
    ::chmod((dir + "/shared").c_str(), 02770);
    for (const char* item : {"secret", "shared/inner", "shared", "program", "pipe", "link"})
        setTimes(dir + "/" + item, 1000000 + static_cast<long long>(std::strlen(item)));
    return {"secret", "shared", "shared/inner", "program", "pipe", "link"};
}

class MetadataTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "owners of other users need root";
    }
    TempTree m_root;
};

TEST_F(MetadataTest, CopyAndMoveAcrossFileSystemsKeepEverything) {
    for (const FileOpKind kind : {FileOpKind::Copy, FileOpKind::Move}) {
        SCOPED_TRACE(kind == FileOpKind::Copy ? "copy" : "move to another file system");
        const std::string src = m_root / "src", dest = m_root / "dest";
        const std::vector<std::string> items = makeRootTree(src);
        std::map<std::string, Metadata> before;
        for (const std::string& item : items) before[item] = metadataOf(src + "/" + item);
        std::filesystem::create_directories(dest);
        TestMounts mounts(m_root.path());
        if (kind == FileOpKind::Move) {
            if (const std::string why = TestMounts::unavailable(); !why.empty()) GTEST_SKIP() << why;
            mounts.tmpfs(dest, "4m");
        }

        ScriptedQuestions questions;
        std::vector<std::string> sources;
        for (const char* top : {"secret", "shared", "program", "pipe", "link"}) sources.push_back(src + "/" + top);
        const FileOpResult result = FileOperation(questions).run(sources, kind, dest + "/");

        EXPECT_EQ(result.itemsDone, sources.size());
        EXPECT_TRUE(result.failures.empty()) << result.failures[0].describe();
        for (const std::string& item : items) EXPECT_EQ(metadataOf(dest + "/" + item), before[item]) << item;
        EXPECT_EQ(lstatOf(dest).st_dev != lstatOf(src).st_dev, kind == FileOpKind::Move);
        EXPECT_EQ(snapshot(src).empty(), kind == FileOpKind::Move);
        std::filesystem::remove_all(src);
        ::umount2(dest.c_str(), MNT_DETACH);
        std::filesystem::remove_all(dest);
    }
}

/// Who may read a node: "u:ID" and "g:ID" for users and groups (its owner,
/// its owning group and named entries, each as far as the mask lets it),
/// "o" for everybody.  Root, who reads everything anyway, is left out.
std::set<std::string> readersOf(const std::string& path) {
    std::set<std::string> readers;
    struct stat status {};
    acl_t acl = ::stat(path.c_str(), &status) == 0 ? acl_get_file(path.c_str(), ACL_TYPE_ACCESS) : nullptr;
    if (!acl) return {"error: " + std::string(std::strerror(errno))};
    bool maskReads = true;
    acl_entry_t entry;
    for (int which = ACL_FIRST_ENTRY; acl_get_entry(acl, which, &entry) == 1; which = ACL_NEXT_ENTRY) {
        acl_tag_t tag;
        acl_permset_t permissions;
        acl_get_tag_type(entry, &tag);
        acl_get_permset(entry, &permissions);
        if (tag == ACL_MASK) maskReads = acl_get_perm(permissions, ACL_READ) == 1;
    }
    for (int which = ACL_FIRST_ENTRY; acl_get_entry(acl, which, &entry) == 1; which = ACL_NEXT_ENTRY) {
        acl_tag_t tag;
        acl_permset_t permissions;
        acl_get_tag_type(entry, &tag);
        acl_get_permset(entry, &permissions);
        if (acl_get_perm(permissions, ACL_READ) != 1) continue;
        const auto id = [&] {
            void* qualifier = acl_get_qualifier(entry);
            const unsigned value = *static_cast<unsigned*>(qualifier);
            acl_free(qualifier);
            return std::to_string(value);
        };
        if (tag == ACL_USER_OBJ) readers.insert("u:" + std::to_string(status.st_uid));
        if (tag == ACL_USER && maskReads) readers.insert("u:" + id());
        if (tag == ACL_GROUP_OBJ && maskReads) readers.insert("g:" + std::to_string(status.st_gid));
        if (tag == ACL_GROUP && maskReads) readers.insert("g:" + id());
        if (tag == ACL_OTHER) readers.insert("o");
    }
    acl_free(acl);
    readers.erase("u:0");
    return readers;
}

/// The system, looking after every call that creates or changes a node of
/// the copy at who may read that node: never anyone the source denies.
struct ReaderWatch : FaultySystem {
    std::set<std::string> allowed;  // the source's readers
    std::set<FileId> copies;        // the nodes the engine created
    std::vector<std::string> wider; // every moment a copy was more open, and by whom

    void look(int fd, const char* step) {
        struct stat status {};
        if (::fstat(fd, &status) != 0 || !copies.count(idOf(status))) return;
        for (const std::string& reader : readersOf("/proc/self/fd/" + std::to_string(fd)))
            if (!allowed.count(reader)) wider.push_back(std::string(step) + ": " + reader);
    }
    int openAt(int dirFd, const char* name, int flags, mode_t mode) override {
        const int fd = FaultySystem::openAt(dirFd, name, flags, mode);
        struct stat status {};
        if (fd >= 0 && (flags & O_CREAT) && ::fstat(fd, &status) == 0) copies.insert(idOf(status));
        if (fd >= 0) look(fd, "open");
        return fd;
    }
    int mkdirAt(int dirFd, const char* name, mode_t mode) override {
        const int result = FaultySystem::mkdirAt(dirFd, name, mode);
        struct stat status {};
        if (result == 0 && ::fstatat(dirFd, name, &status, AT_SYMLINK_NOFOLLOW) == 0) copies.insert(idOf(status));
        return result;
    }
    int fchown(int fd, uid_t uid, gid_t gid) override {
        const int result = FaultySystem::fchown(fd, uid, gid);
        look(fd, "chown");
        return result;
    }
    int fchmod(int fd, mode_t mode) override {
        const int result = FaultySystem::fchmod(fd, mode);
        look(fd, "chmod");
        return result;
    }
    int setXattr(int fd, const char* name, const void* value, std::size_t size) override {
        const int result = FaultySystem::setXattr(fd, name, value, size);
        look(fd, name);
        return result;
    }
    int removeXattr(int fd, const char* name) override {
        const int result = FaultySystem::removeXattr(fd, name);
        look(fd, "remove an attribute");
        return result;
    }
    int futimens(int fd, const struct timespec times[2]) override {
        const int result = FaultySystem::futimens(fd, times);
        look(fd, "times");
        return result;
    }
};

TEST_F(MetadataTest, ACopyIsNeverMoreOpenThanItsSource) {
    struct Case {
        const char* name;
        bool folder;
        mode_t mode;
        const char* acl;         // the source's access ACL, "" none
        const char* destDefault; // a default ACL of the destination folder, "" none
    } cases[] = {
        {"a private file with a named user", false, 0600, "u::rw,u:4003:rw,g::-,m::rw,o::-", ""},
        {"a private folder with a named user", true, 0700, "u::rwx,u:4003:rwx,g::-,m::rwx,o::-", ""},
        {"a named group, the owning group shut out", false, 0640, "u::rw,g::-,g:4200:r,m::r,o::-", ""},
        {"a file into a folder whose default ACL names another user", false, 0640, "",
         "u::rwx,u:4005:rwx,g::rx,m::rwx,o::-"},
        {"a folder into a folder whose default ACL names another user", true, 0750, "",
         "u::rwx,u:4005:rwx,g::rx,m::rwx,o::-"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string item = m_root / "src/item", dest = m_root / "dest";
        if (c.folder) writeFile(item + "/inner", "x", 0600);
        else writeFile(item, "private", 0600);
        own(item, kOwner, kGroup);
        ::chmod(item.c_str(), c.mode);
        if (*c.acl) setAcl(item, c.acl);
        std::filesystem::create_directories(dest);
        if (*c.destDefault) setAcl(dest, c.destDefault, ACL_TYPE_DEFAULT);

        ReaderWatch system;
        system.allowed = readersOf(item);
        system.allowed.insert("error: none"); // never met: keeps a failed look visible
        ScriptedQuestions questions;
        const FileOpResult result = FileOperation(questions, system).run({item}, FileOpKind::Copy, dest + "/");

        EXPECT_EQ(result.itemsDone, 1u);
        EXPECT_EQ(system.wider, std::vector<std::string>{});
        EXPECT_EQ(readersOf(dest + "/item"), readersOf(item));
        EXPECT_EQ(metadataOf(dest + "/item"), metadataOf(item));
        std::filesystem::remove_all(m_root / "src");
        std::filesystem::remove_all(dest);
    }
}

TEST_F(MetadataTest, AUserKeepsTheGroupsTheyBelongToAndNoOneElsesOwner) {
    struct Item {
        const char* name;
        uid_t uid;
        gid_t gid;
        mode_t mode;
        // What the copy made by kOwner (groups kGroup, kSecondGroup) has.
        gid_t copyGroup;
        mode_t copyMode;
    } items[] = {
        {"own file, second group, set-group-ID", kOwner, kSecondGroup, 02755, kSecondGroup, 02755},
        {"own folder, set-group-ID", kOwner, kGroup, 02770, kGroup, 02770},
        {"someone else's program", kOther, kOtherGroup, 06755, kGroup, 0755},
        {"someone else's file of a group of ours", kOther, kSecondGroup, 02644, kSecondGroup, 02644},
    };
    const std::string src = m_root / "src", dest = m_root / "dest";
    ::chmod(m_root.path().c_str(), 0755);
    std::filesystem::create_directories(dest);
    own(dest, kOwner, kGroup);
    std::vector<std::string> sources;
    for (const Item& item : items) {
        const std::string path = src + "/" + item.name;
        if (item.mode & 070) {
            if (std::string(item.name).find("folder") != std::string::npos) writeFile(path + "/inside", "x", 0644);
            else writeFile(path, "x", 0644);
        }
        own(path, item.uid, item.gid);
        ::chmod(path.c_str(), item.mode);
        sources.push_back(path);
    }
    writeFile(src + "/with ACL and attribute", "x", 0640);
    own(src + "/with ACL and attribute", kOwner, kGroup);
    setAcl(src + "/with ACL and attribute", "u::rw,u:4003:r,g::r,m::r,o::-");
    setAttribute(src + "/with ACL and attribute", "user.kept", "yes");
    sources.push_back(src + "/with ACL and attribute");
    ::chmod(src.c_str(), 0755);

    const std::string problem = inChildProcess(std::size_t{8} << 20, [&]() -> std::string {
        if (std::string p = becomeUser(kOwner, kGroup, {kGroup, kSecondGroup}); !p.empty()) return p;
        ScriptedQuestions questions;
        const FileOpResult result = FileOperation(questions).run(sources, FileOpKind::Copy, dest + "/");
        if (!result.failures.empty()) return result.failures[0].describe();
        return result.itemsDone == sources.size() ? "" : "not every item was copied";
    });
    ASSERT_EQ(problem, "");
    for (const Item& item : items) {
        SCOPED_TRACE(item.name);
        const struct stat copy = lstatOf(dest + "/" + item.name);
        EXPECT_EQ(copy.st_uid, kOwner);
        EXPECT_EQ(copy.st_gid, item.copyGroup);
        EXPECT_EQ(copy.st_mode & 07777, item.copyMode);
    }
    EXPECT_EQ(metadataOf(dest + "/with ACL and attribute"), metadataOf(src + "/with ACL and attribute"));
}

TEST(Metadata, WhatCannotBeKeptIsReported) {
    struct Case {
        const char* name;
        FileOpKind kind;
        const char* refused; // the attribute whose setting fails, "*" every listing and setting
        int error;
        FailureAction answer;
        const char* reported; // in the failure's operation; nullptr: nothing reported
    } cases[] = {
        {"an attribute the destination refuses", FileOpKind::Copy, "user.note", EOPNOTSUPP, FailureAction::Skip,
         "the extended attribute \"user.note\""},
        {"an ACL the destination refuses", FileOpKind::Copy, "system.posix_acl_access", EOPNOTSUPP, FailureAction::Skip,
         "the access control list"},
        {"a move whose attribute is refused keeps its source", FileOpKind::Move, "user.note", EIO, FailureAction::Skip,
         "the extended attribute \"user.note\""},
        {"cancelled there", FileOpKind::Move, "user.note", EIO, FailureAction::Cancel,
         "the extended attribute \"user.note\""},
        {"no attributes on either side", FileOpKind::Copy, "*", EOPNOTSUPP, FailureAction::Skip, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempTree root;
        const std::string file = root / "src/file";
        writeFile(file, "contents", 0640);
        std::filesystem::create_directories(root / "dest");
        const bool bare = std::string(c.refused) == "*";
        if (!bare) {
            if (::setxattr(file.c_str(), "user.note", "n", 1, 0) != 0) GTEST_SKIP() << "no user.* attributes here";
            setAcl(file, "u::rw,u:4003:r,g::r,m::r,o::-");
        }
        FaultySystem system;
        system.fault = [&](Call call, const std::string& name, const std::string& other) {
            if (const int error = acrossFileSystems(call, name, other)) return error;
            if (bare && (call == Call::SetXattr || call == Call::ListXattrs)) return c.error;
            return call == Call::SetXattr && name == c.refused ? c.error : 0;
        };
        ScriptedQuestions questions;
        questions.everyFailure = c.answer;
        const FileOpResult result = FileOperation(questions, system).run({file}, c.kind, root / "dest/");

        const bool cancelled = c.answer == FailureAction::Cancel;
        EXPECT_EQ(result.cancelled, cancelled);
        EXPECT_EQ(temporaryItems(root.path()), std::vector<std::string>{});
        if (!c.reported) {
            EXPECT_TRUE(result.failures.empty()) << result.failures[0].describe();
            EXPECT_EQ(result.itemsDone, 1u);
            continue;
        }
        ASSERT_EQ(questions.failuresAsked.size(), 1u);
        EXPECT_EQ(questions.failuresAsked[0].code, c.error);
        EXPECT_EQ(questions.failuresAsked[0].path, file);
        EXPECT_NE(questions.failuresAsked[0].operation.find(c.reported), std::string::npos)
            << questions.failuresAsked[0].operation;
        // Nothing of the source goes for a copy that lacks some of it; the
        // copy stays unless the user cancelled.
        EXPECT_EQ(readFile(file), "contents");
        EXPECT_EQ(exists(root / "dest/file"), !cancelled);
        if (!cancelled) {
            EXPECT_EQ(readFile(root / "dest/file"), "contents");
            EXPECT_EQ(result.itemsSkipped, 1u);
        }
    }
}

} // namespace
} // namespace toka::test
