// The trash on byte paths: the home trash below a temporary XDG_DATA_HOME,
// and (as root) the trash of a volume mounted by the test.
#include <pwd.h>

#include <cstring>
#include <ctime>
#include <optional>
#include <regex>

#include "fileops/trash.h"
#include "../support/environment.h"
#include "test_support.h"

namespace toka::test {
namespace {

const std::string kUid = std::to_string(::getuid());
constexpr uid_t kOtherUser = 4003; // no one's: the tests make its files as root

std::string percentDecoded(const std::string& text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool escape = text[i] == '%' && i + 2 < text.size();
        bytes += escape ? static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)) : text[i];
        if (escape) i += 2;
    }
    return bytes;
}

// The value of key in the .trashinfo at path, as written.
std::string infoValue(const std::string& path, const std::string& key) {
    const std::string text = readFile(path);
    EXPECT_EQ(text.rfind("[Trash Info]\n", 0), 0u) << text;
    const std::size_t at = text.find("\n" + key + "=");
    if (at == std::string::npos) return "<no " + key + ">";
    const std::size_t start = at + key.size() + 2;
    return text.substr(start, text.find('\n', start) - start);
}

mode_t permissionsOf(const std::string& path) { return lstatOf(path).st_mode & 07777; }

void makeFolder(const std::string& path, mode_t mode) {
    ASSERT_EQ(::mkdir(path.c_str(), mode), 0) << path;
    ::chmod(path.c_str(), mode); // past the umask
}

// A temporary root with the home trash below it: XDG_DATA_HOME points there
// for the test; it and HOME are restored after it.
class TrashTest : public ::testing::Test {
protected:
    std::string homeTrash() const { return m_root / "data/share/Trash"; }

    TempTree m_root;
    ScopedEnvironment m_environment{{"XDG_DATA_HOME", m_root / "data/share"}};
};

struct HomeCase {
    const char* label;
    std::string name;
    char kind;              // 'f' file, 'd' folder with a file inside, 'l' dangling link
    std::string occupied;   // "info" or "files": the name is taken there already
    std::string stem;       // expected in files/ and info/
    std::string taken = {}; // the name taken there, when not the whole name
};

TEST_F(TrashTest, HomeTrashTakesAnyNameUnderAFreeStem) {
    const std::string longName(255, 'a');
    // Bytes that are no UTF-8 character are cut anywhere, never to nothing.
    const std::string odd(250, '\x80'), euros = [] {
        std::string text;
        for (int i = 0; i < 85; ++i) text += "\xe2\x82\xac";
        return text;
    }();
    const std::string afterCharacter = std::string(243, 'a') + "\xc3\x80" + std::string(10, '\x80');
    const HomeCase cases[] = {
        {"plain", "report.txt", 'f', "", "report.txt"},
        // Not UTF-8, a line break that would end the Path= line, and "%".
        {"odd bytes", "caf\xe9\n100%\xff.txt", 'f', "", "caf\xe9\n100%\xff.txt"},
        {"folder", "album", 'd', "", "album"},
        {"link itself, not its target", "link", 'l', "", "link"},
        {"info taken", "report.txt", 'f', "info", "report.txt.2"},
        // files/ holds an item without info file: the first info must go again.
        {"files taken", "report.txt", 'f', "files", "report.txt.2"},
        // STEM.trashinfo must fit in 255 bytes.
        {"longest name", longName, 'f', "", longName.substr(0, 245)},
        {"continuation bytes after a letter", "a" + odd, 'f', "", ("a" + odd).substr(0, 245)},
        {"continuation bytes only", odd, 'f', "", odd.substr(0, 245)},
        {"continuation bytes, stem taken", odd, 'f', "info", odd.substr(0, 243) + ".2", odd.substr(0, 245)},
        {"cut inside a character", euros, 'f', "", euros.substr(0, 243)},
        {"cut after a character", afterCharacter, 'f', "", afterCharacter.substr(0, 245)},
    };
    for (const HomeCase& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string item = m_root / ("items/" + c.name);
        std::filesystem::remove_all(homeTrash());
        if (c.kind == 'd') writeFile(item + "/inner", "inside");
        if (c.kind == 'f') writeFile(item, "content");
        if (c.kind == 'l') ::symlink("/no/such/target", item.c_str());
        const std::string taken = c.taken.empty() ? c.name : c.taken;
        if (!c.occupied.empty())
            writeFile(homeTrash() + "/" + c.occupied + "/" + taken + (c.occupied == "info" ? ".trashinfo" : ""), "x");
        const std::time_t before = std::time(nullptr);

        const Result<TrashedItem> trashed = moveToTrash(item + (c.kind == 'd' ? "/" : ""));

        ASSERT_TRUE(trashed.ok()) << trashed.error().message();
        EXPECT_EQ(trashed->pathInTrash, homeTrash() + "/files/" + c.stem);
        EXPECT_EQ(trashed->infoPath, homeTrash() + "/info/" + c.stem + ".trashinfo");
        EXPECT_FALSE(exists(item));
        EXPECT_EQ(lstatOf(trashed->pathInTrash).st_mode & S_IFMT, c.kind == 'd'   ? S_IFDIR
                                                                  : c.kind == 'l' ? S_IFLNK
                                                                                  : S_IFREG);
        if (c.occupied == "files") {
            EXPECT_FALSE(exists(homeTrash() + "/info/" + taken + ".trashinfo"));
        } else if (c.occupied.empty()) { // else the test made the folders
            for (const char* folder : {"", "/files", "/info"})
                EXPECT_EQ(permissionsOf(homeTrash() + folder), 0700u) << folder;
        }
        const std::string path = infoValue(trashed->infoPath, "Path");
        EXPECT_EQ(percentDecoded(path), item);
        EXPECT_TRUE(std::regex_match(path, std::regex("(/|[A-Za-z0-9._~-]|%[0-9A-F]{2})*"))) << path;
        const std::string date = infoValue(trashed->infoPath, "DeletionDate");
        std::tm local{};
        ASSERT_TRUE(::strptime(date.c_str(), "%Y-%m-%dT%H:%M:%S", &local)) << date;
        local.tm_isdst = -1;
        EXPECT_NEAR(double(std::mktime(&local)), double(before), 2.0) << date;
    }
}

TEST_F(TrashTest, HomeTrashDefaultsToHomeAndIsMadeWithTheDataFolder) {
    m_environment.set("XDG_DATA_HOME", std::nullopt);
    m_environment.set("HOME", m_root / "home");
    writeFile(m_root / "report.txt", "content");
    const Result<TrashedItem> trashed = moveToTrash(m_root / "report.txt");
    ASSERT_TRUE(trashed.ok()) << trashed.error().message();
    EXPECT_EQ(trashed->pathInTrash, m_root / "home/.local/share/Trash/files/report.txt");
    EXPECT_EQ(permissionsOf(m_root / "home/.local"), 0700u);
}

struct FailureCase {
    const char* setup; // also the label
    int code;
    bool noUsableTrash;
};

TEST_F(TrashTest, AFailureLeavesTheItemAndNoInfoFile) {
    const FailureCase cases[] = {
        {"missing item", ENOENT, false},
        {"trash is a file", ENOTDIR, true},
        // The item's folder refuses: deleting it would fail as well.
        {"rename fails", EACCES, false},
        {"fsync fails", EIO, true},
        // The item is there: the trash is what failed, not the item.
        {"trash folder gone at the rename", ENOENT, true},
        {"item gone at the rename", ENOENT, false},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.setup);
        const std::string setup = c.setup, item = m_root / "items/report.txt";
        std::filesystem::remove_all(homeTrash());
        std::filesystem::remove_all(m_root / "items");
        if (setup != "missing item") writeFile(item, "content");
        if (setup == "trash is a file") writeFile(homeTrash(), "not a folder");
        std::optional<std::string> infoAtRename;
        FaultySystem system;
        system.fault = [&](Call call, const std::string& name, const std::string&) {
            if (call == Call::Fsync && setup == "fsync fails") return EIO;
            if (call != Call::Rename || name != item) return 0;
            if (setup == "item gone at the rename") ::unlink(item.c_str());
            if (setup == "trash folder gone at the rename") return ENOENT;
            if (setup != "rename fails") return 0;
            infoAtRename = readFile(homeTrash() + "/info/report.txt.trashinfo");
            return EACCES;
        };

        const std::vector<TrashFailure> failures = moveAllToTrash({item}, system);

        ASSERT_EQ(failures.size(), 1u);
        EXPECT_EQ(failures[0].path, item);
        EXPECT_EQ(failures[0].error.code, c.code) << failures[0].error.message();
        EXPECT_EQ(failures[0].noUsableTrash, c.noUsableTrash) << failures[0].error.message();
        EXPECT_EQ(exists(item), setup != "missing item" && setup != "item gone at the rename");
        if (setup == "rename fails") { // the info file stood complete before the rename
            ASSERT_TRUE(infoAtRename.has_value());
            EXPECT_NE(infoAtRename->find("\nPath=" + item + "\n"), std::string::npos) << *infoAtRename;
        }
        if (setup != "missing item" && setup != "trash is a file") {
            EXPECT_EQ(snapshot(homeTrash()), (Tree{{"files", {'d', {}}}, {"info", {'d', {}}}}));
        }
    }
}

// The info files of a batch are made durable together before its first
// rename, not one flush per item; a flush that fails leaves every item.
TEST_F(TrashTest, ABatchFlushesItsInfoFilesOnceBeforeItsRenames) {
    for (const bool flushFails : {false, true}) {
        SCOPED_TRACE(flushFails ? "flush fails" : "flush works");
        std::filesystem::remove_all(homeTrash());
        std::filesystem::remove_all(m_root / "items");
        std::vector<std::string> items;
        for (int i = 0; i < 20; ++i) items.push_back(m_root / ("items/file" + std::to_string(i)));
        // Two items of one name; one whose name an item without info file
        // takes in files/ just before its rename; one missing.
        items.insert(items.end(), {m_root / "items/a/same", m_root / "items/b/same", m_root / "items/raced"});
        for (const std::string& item : items) writeFile(item, item);
        items.insert(items.begin() + 5, m_root / "items/gone");
        int flushes = 0, unflushedInfos = 0, renames = 0, flushesSinceRename = 0;
        FaultySystem system;
        system.fault = [&](Call call, const std::string& name, const std::string&) {
            if (call == Call::Open && name.ends_with(".trashinfo")) ++unflushedInfos;
            if (call == Call::Fsync || call == Call::SyncFs) ++flushes, ++flushesSinceRename, unflushedInfos = 0;
            if (call == Call::SyncFs && flushFails) return EIO;
            if (call != Call::Rename) return 0;
            ++renames, flushesSinceRename = 0;
            EXPECT_EQ(unflushedInfos, 0) << name << " renamed before its info file was flushed";
            if (name == m_root / "items/raced" && !exists(homeTrash() + "/files/raced"))
                writeFile(homeTrash() + "/files/raced", "another");
            return 0;
        };

        const std::vector<TrashFailure> failures = moveAllToTrash(items, system);

        ASSERT_EQ(failures.size(), flushFails ? items.size() : 1u);
        EXPECT_EQ(failures[flushFails ? 5 : 0].path, m_root / "items/gone");
        EXPECT_EQ(failures[flushFails ? 5 : 0].error.code, ENOENT);
        if (flushFails) {
            EXPECT_EQ(failures[0].error.code, EIO) << failures[0].error.message();
            EXPECT_TRUE(failures[0].noUsableTrash);
            EXPECT_EQ(snapshot(homeTrash() + "/info"), Tree{});
            EXPECT_EQ(readFile(items[0]), items[0]);
            continue;
        }
        // The raced item needed a second round, with a flush of its own; and
        // files/ and info/ are flushed once after the last rename.
        EXPECT_LE(flushes, 6);
        EXPECT_GE(flushesSinceRename, 1);
        EXPECT_EQ(renames, 24);
        for (const auto& [stem, item] : std::map<std::string, std::string>{{"file7", "items/file7"},
                                                                           {"same", "items/a/same"},
                                                                           {"same.2", "items/b/same"},
                                                                           {"raced.2", "items/raced"}}) {
            EXPECT_EQ(readFile(homeTrash() + "/files/" + stem), m_root / item) << stem;
            EXPECT_EQ(percentDecoded(infoValue(homeTrash() + "/info/" + stem + ".trashinfo", "Path")), m_root / item);
        }
        EXPECT_EQ(readFile(homeTrash() + "/files/raced"), "another");
        EXPECT_FALSE(exists(homeTrash() + "/info/raced.trashinfo"));
    }
}

struct RefusedTrashCase {
    const char* label;
    std::function<void(const std::string& trash)> prepare;
    std::string refused; // below the home trash
    std::string reason;  // in the error's message
};

// XDG_DATA_HOME in a shared place may hold a trash that another user made to
// catch what this one trashes, or that others could reach into.
TEST_F(TrashTest, AHomeTrashOthersCouldReachIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "another user's trash needs root to make";
    const auto folders = [](const std::string& trash, mode_t mode) {
        for (const char* folder : {"", "/files", "/info"}) makeFolder(trash + folder, mode);
    };
    const RefusedTrashCase cases[] = {
        {"another user's, open to all",
         [&](auto& trash) {
             folders(trash, 0777);
             for (const char* folder : {"", "/files", "/info"})
                 ASSERT_EQ(::chown((trash + folder).c_str(), kOtherUser, kOtherUser), 0);
         },
         "", "owned by user 4003"},
        {"own, writable by others", [&](auto& trash) { folders(trash, 0757); }, "", "others may write to"},
        {"own, writable by the group", [&](auto& trash) { folders(trash, 0770); }, "", "others may write to"},
        {"a link to an own folder",
         [&](auto& trash) {
             folders(m_root / "elsewhere", 0700);
             ASSERT_EQ(::symlink((m_root / "elsewhere").c_str(), trash.c_str()), 0);
         },
         "", "symbolic link"},
        {"files/ of another user",
         [&](auto& trash) {
             folders(trash, 0700);
             ASSERT_EQ(::chown((trash + "/files").c_str(), kOtherUser, kOtherUser), 0);
         },
         "/files", "owned by user 4003"},
        {"info/ writable by others",
         [&](auto& trash) {
             folders(trash, 0700);
             ::chmod((trash + "/info").c_str(), 0733);
         },
         "/info", "others may write to"},
        {"info/ a link",
         [&](auto& trash) {
             for (const char* folder : {"", "/files", "/elsewhere"}) makeFolder(trash + folder, 0700);
             ASSERT_EQ(::symlink("elsewhere", (trash + "/info").c_str()), 0);
         },
         "/info", "symbolic link"},
    };
    const std::string item = m_root / "private/report.txt";
    writeFile(item, "secret");
    ::chmod((m_root / "private").c_str(), 0700);
    std::filesystem::create_directories(m_root / "data/share");
    for (const RefusedTrashCase& c : cases) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove_all(homeTrash());
        std::filesystem::remove_all(m_root / "elsewhere");
        c.prepare(homeTrash());
        const Tree before = snapshot(m_root / "data");

        const std::vector<TrashFailure> failures = moveAllToTrash({item});

        ASSERT_EQ(failures.size(), 1u);
        EXPECT_EQ(failures[0].error.path, homeTrash() + c.refused);
        EXPECT_NE(failures[0].error.message().find(c.reason), std::string::npos) << failures[0].error.message();
        EXPECT_TRUE(failures[0].noUsableTrash); // the window offers to delete it
        EXPECT_EQ(readFile(item), "secret");
        EXPECT_EQ(snapshot(m_root / "data"), before);
    }
}

TEST_F(TrashTest, WithoutHomeTheHomeComesFromThePasswordDatabase) {
    if (const std::string reason = TestMounts::unavailable(); !reason.empty()) GTEST_SKIP() << reason;
    const passwd* user = ::getpwuid(::getuid());
    ASSERT_TRUE(user && user->pw_dir[0] == '/');
    const std::string home = user->pw_dir;
    // The user's home shows a folder of the test, in the test's own mounts.
    writeFile(m_root / "home/report.txt", "content");
    ASSERT_EQ(::mount((m_root / "home").c_str(), home.c_str(), nullptr, MS_BIND, nullptr), 0) << std::strerror(errno);
    m_environment.set("XDG_DATA_HOME", std::nullopt);
    m_environment.set("HOME", std::nullopt);
    const Result<TrashedItem> trashed = moveToTrash(home + "/report.txt");
    ::umount2(home.c_str(), MNT_DETACH);
    ASSERT_TRUE(trashed.ok()) << trashed.error().message();
    EXPECT_EQ(trashed->pathInTrash, home + "/.local/share/Trash/files/report.txt");
    EXPECT_EQ(readFile(m_root / "home/.local/share/Trash/files/report.txt"), "content");
}

// What rename(2) would refuse for its folder is refused before a trash is
// made: another user runs the trash, as its folders do not let them.
TEST_F(TrashTest, AnItemItsFolderKeepsIsRefusedBeforeAnyTrashIsMade) {
    if (::geteuid() != 0) GTEST_SKIP() << "another user needs root";
    ::chmod(m_root.path().c_str(), 0755);
    makeFolder(m_root / "data", 0700);
    ASSERT_EQ(::chown((m_root / "data").c_str(), kOtherUser, kOtherUser), 0);
    makeFolder(m_root / "locked", 0755); // root's
    writeFile(m_root / "locked/report.txt", "content", 0666);
    ASSERT_EQ(::chown((m_root / "locked/report.txt").c_str(), kOtherUser, kOtherUser), 0);
    makeFolder(m_root / "sticky", 01777);
    writeFile(m_root / "sticky/report.txt", "content", 0666); // root's
    makeFolder(m_root / "own", 0777);
    makeFolder(m_root / "own/album", 0755); // root's: its ".." cannot change
    const std::string problem = inChildProcess(1 << 20, [&]() -> std::string {
        if (std::string p = becomeUser(kOtherUser, kOtherUser); !p.empty()) return p;
        for (const auto& [item, code] : std::map<std::string, int>{
                 {"locked/report.txt", EACCES}, {"sticky/report.txt", EPERM}, {"own/album", EACCES}}) {
            const std::vector<TrashFailure> failures = moveAllToTrash({m_root / item});
            if (failures.size() != 1 || failures[0].error.code != code || failures[0].noUsableTrash)
                return item + ": " + (failures.empty() ? "trashed" : failures[0].error.message());
            if (!exists(m_root / item) || exists(m_root / "data/share")) return item + ": the trash was made for it";
        }
        return "";
    });
    EXPECT_EQ(problem, "");
}

// A volume of its own, mounted in a mount namespace of the test process, so
// that no mount outlives the process.
class VolumeTrashTest : public TrashTest {
protected:
    void SetUp() override {
        if (const std::string why = TestMounts::unavailable(); !why.empty()) GTEST_SKIP() << why;
        std::filesystem::create_directories(volume());
        std::filesystem::create_directories(m_root / "shared");
        m_mounts.mount(volume(), "tmpfs", "mode=0755");
    }
    std::string volume() const { return m_root / "volume"; }

    TestMounts m_mounts{m_root.path()};
};

struct VolumeCase {
    const char* label;
    std::function<void(const std::string& top)> prepare;
    std::string trash; // below the volume; empty: refused
    int code = 0;      // the error when refused
};

TEST_F(VolumeTrashTest, ItemOnAnotherVolumeStaysOnIt) {
    const std::string own = "/.Trash-" + kUid;
    const VolumeCase cases[] = {
        {"made when missing", nullptr, own},
        {"shared sticky .Trash", [](auto& top) { makeFolder(top + "/.Trash", 01777); }, "/.Trash/" + kUid},
        {".Trash without sticky bit", [](auto& top) { makeFolder(top + "/.Trash", 0777); }, own},
        {".Trash as a link to a sticky folder",
         [](auto& top) {
             makeFolder(top + "/sticky", 01777);
             ASSERT_EQ(::symlink("sticky", (top + "/.Trash").c_str()), 0);
         },
         own},
        // O_DIRECTORY | O_NOFOLLOW refuses a link with ENOTDIR.
        {".Trash-$uid as a link", [&](auto& top) { ASSERT_EQ(::symlink("sub", (top + own).c_str()), 0); }, "", ENOTDIR},
        {".Trash-$uid of another user",
         [&](auto& top) {
             makeFolder(top + own, 0700);
             ASSERT_EQ(::chown((top + own).c_str(), 12345, 12345), 0);
         },
         "", EPERM},
        // The home's file system again: the same device, but renames answer EXDEV.
        {"bind mount", [&](auto& top) { m_mounts.bind(m_root / "shared", top); }, own},
    };
    for (const VolumeCase& c : cases) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove_all(homeTrash());
        for (const auto& entry : std::filesystem::directory_iterator(volume())) std::filesystem::remove_all(entry);
        if (c.prepare) c.prepare(volume());
        const std::string item = volume() + "/sub/a b\xff";
        writeFile(item, "content");
        const dev_t device = lstatOf(item).st_dev;

        const std::vector<TrashFailure> failures = moveAllToTrash({item});

        EXPECT_FALSE(exists(homeTrash() + "/files/a b\xff"));
        if (c.trash.empty()) {
            ASSERT_EQ(failures.size(), 1u);
            EXPECT_EQ(failures[0].error.code, c.code) << failures[0].error.message();
            EXPECT_TRUE(failures[0].noUsableTrash);
            EXPECT_TRUE(exists(item));
            continue;
        }
        ASSERT_TRUE(failures.empty()) << failures[0].error.message();
        const std::string trash = volume() + c.trash;
        EXPECT_EQ(readFile(trash + "/files/a b\xff"), "content");
        EXPECT_EQ(lstatOf(trash + "/files/a b\xff").st_dev, device);
        // Path= is relative to the volume's top directory.
        EXPECT_EQ(infoValue(trash + "/info/a b\xff.trashinfo", "Path"), "sub/a%20b%FF");
        EXPECT_EQ(permissionsOf(trash), 0700u);
    }
}

// An item that cannot go is refused before any trash folder is made for it:
// nothing is left behind, on its volume or in the home.
TEST_F(VolumeTrashTest, ARefusedItemMakesNoTrashFolder) {
    const std::string inTrash = "volume/.Trash-" + kUid + "/files";
    const std::pair<std::string, int> cases[] = {
        {"items/gone", ENOENT},
        {"items/mount point", EBUSY}, // on the home's volume
        {"volume/mount point", EBUSY},
        {"data", EINVAL}, // holds the home trash
        {inTrash, EINVAL},
    };
    writeFile(m_root / "data/keep", "keep");
    for (const std::string& folder : {std::string("items/mount point"), std::string("volume/mount point"), inTrash})
        std::filesystem::create_directories(m_root / folder);
    m_mounts.bind(m_root / "data", m_root / "items/mount point");
    m_mounts.tmpfs(m_root / "volume/mount point");
    const Tree before = snapshot(m_root.path());
    for (const auto& [item, code] : cases) {
        SCOPED_TRACE(item);
        const std::vector<TrashFailure> failures = moveAllToTrash({m_root / item});
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_EQ(failures[0].error.code, code) << failures[0].error.message();
        EXPECT_FALSE(failures[0].noUsableTrash);
        EXPECT_EQ(snapshot(m_root.path()), before);
    }
}

} // namespace
} // namespace toka::test
