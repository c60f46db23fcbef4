// The trash on byte paths: the home trash below a temporary XDG_DATA_HOME,
// and (as root) the trash of a volume mounted by the test.
#include <sched.h>
#include <sys/mount.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <regex>

#include "platform/fileops/trash.h"
#include "test_support.h"

namespace toka::test {
namespace {

const std::string kUid = std::to_string(::getuid());

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
    void SetUp() override {
        for (const char* name : {"XDG_DATA_HOME", "HOME"})
            if (const char* value = std::getenv(name)) m_saved.emplace_back(name, value);
        ::setenv("XDG_DATA_HOME", (m_root / "data/share").c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("XDG_DATA_HOME");
        for (const auto& [name, value] : m_saved) ::setenv(name.c_str(), value.c_str(), 1);
    }
    std::string homeTrash() const { return m_root / "data/share/Trash"; }

    TempDir m_root;
    std::vector<std::pair<std::string, std::string>> m_saved;
};

struct HomeCase {
    const char* label;
    std::string name;
    char kind;            // 'f' file, 'd' folder with a file inside, 'l' dangling link
    std::string occupied; // "info" or "files": the name is taken there already
    std::string stem;     // expected in files/ and info/
};

TEST_F(TrashTest, HomeTrashTakesAnyNameUnderAFreeStem) {
    const std::string longName(255, 'a');
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
    };
    for (const HomeCase& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string item = m_root / ("items/" + c.name);
        std::filesystem::remove_all(homeTrash());
        if (c.kind == 'd') writeFile(item + "/inner", "inside");
        if (c.kind == 'f') writeFile(item, "content");
        if (c.kind == 'l') ::symlink("/no/such/target", item.c_str());
        if (!c.occupied.empty())
            writeFile(homeTrash() + "/" + c.occupied + "/" + c.name + (c.occupied == "info" ? ".trashinfo" : ""), "x");
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
            EXPECT_FALSE(exists(homeTrash() + "/info/" + c.name + ".trashinfo"));
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
    ::unsetenv("XDG_DATA_HOME");
    ::setenv("HOME", (m_root / "home").c_str(), 1);
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
            if (call != Call::Rename || name != item || setup != "rename fails") return 0;
            infoAtRename = readFile(homeTrash() + "/info/report.txt.trashinfo");
            return EACCES;
        };

        const std::vector<TrashFailure> failures = moveAllToTrash({item}, system);

        ASSERT_EQ(failures.size(), 1u);
        EXPECT_EQ(failures[0].path, item);
        EXPECT_EQ(failures[0].error.code, c.code) << failures[0].error.message();
        EXPECT_EQ(failures[0].noUsableTrash, c.noUsableTrash) << failures[0].error.message();
        EXPECT_EQ(exists(item), setup != "missing item");
        if (setup == "rename fails") { // the info file stood complete before the rename
            ASSERT_TRUE(infoAtRename.has_value());
            EXPECT_NE(infoAtRename->find("\nPath=" + item + "\n"), std::string::npos) << *infoAtRename;
        }
        if (setup == "rename fails" || setup == "fsync fails") {
            EXPECT_EQ(snapshot(homeTrash()), (Tree{{"files", {'d', {}}}, {"info", {'d', {}}}}));
        }
    }
}

// A volume of its own, mounted in a mount namespace of the test process, so
// that no mount outlives the process.
class VolumeTrashTest : public TrashTest {
protected:
    void SetUp() override {
        TrashTest::SetUp();
        if (::geteuid() != 0) GTEST_SKIP() << "mounting a test volume needs root";
        static const bool isolated =
            ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        if (!isolated) GTEST_SKIP() << "no private mount namespace: " << std::strerror(errno);
        std::filesystem::create_directories(volume());
        std::filesystem::create_directories(m_root / "shared");
        ASSERT_EQ(::mount("tmpfs", volume().c_str(), "tmpfs", 0, "mode=0755"), 0) << std::strerror(errno);
        m_mounts = 1;
    }
    void TearDown() override {
        while (m_mounts > 0 && ::umount2(volume().c_str(), MNT_DETACH) == 0) --m_mounts;
        TrashTest::TearDown();
    }
    std::string volume() const { return m_root / "volume"; }

    int m_mounts = 0; // stacked on volume()
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
        {"bind mount",
         [&](auto& top) {
             ASSERT_EQ(::mount((m_root / "shared").c_str(), top.c_str(), nullptr, MS_BIND, nullptr), 0);
             ++m_mounts;
         },
         own},
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

} // namespace
} // namespace toka::test
