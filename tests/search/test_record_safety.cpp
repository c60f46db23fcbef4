// Recorded walks kept for the user alone: a folder or record that someone
// else owns, may write to or has turned into a link or a FIFO is refused
// with its reason, never read or written into; an oversized file is refused
// from its header; without HOME the records go to the user's home from the
// password database, never to a shared place.
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <fstream>
#include <future>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../support/environment.h"
#include "search/walk_record_store.h"
#include "walk_compare.h"

namespace toka::test {
namespace {

constexpr uid_t kOtherUser = 4003;

/// A store in a private cache, with one saved record of root "/r/".
struct StoreWithRecord {
    StoreWithRecord() : store(cache / "tokasearch/walks") {
        WalkRecordWriter writer("o\n", {"/r/"}, 1700000000);
        const std::uint32_t top = writer.addBlock(std::nullopt, 0, 3, {{"sub", EntryType::Directory}});
        writer.addBlock(top, 0, 1, {{"passwd", EntryType::Regular}});
        EXPECT_FALSE(store.save(writer).has_value());
        recordPath = store.pathFor({"/r/"}, "o\n");
    }
    std::shared_ptr<const WalkRecord> find(std::optional<SysError>* refused) const {
        return store.find({"/r/"}, "o\n", refused);
    }
    std::string walks() const { return store.directory(); }

    TempTree cache;
    WalkRecordStore store;
    std::string recordPath;
};

std::uint64_t bytesReadByThisProcess() {
    std::ifstream io("/proc/self/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") return value;
    }
    return 0;
}

TEST(RecordSafety, FoldersAndRecordsThatAreNotTheUsersOwnAreRefusedWithTheirReason) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to give files to another user";
    struct Case {
        const char* what;
        std::function<void(const StoreWithRecord&)> spoil;
        const char* reason; // in the refusal's message
    };
    const auto replaceBy = [](const std::string& path, auto make) {
        ASSERT_EQ(::rename(path.c_str(), (path + ".kept").c_str()), 0);
        make(path + ".kept", path);
    };
    const std::vector<Case> cases = {
        {"folder of another user",
         [](const StoreWithRecord& s) { ASSERT_EQ(::chown(s.walks().c_str(), kOtherUser, kOtherUser), 0); },
         "it belongs to user 4003"},
        {"folder others may write to", [](const StoreWithRecord& s) { ASSERT_EQ(::chmod(s.walks().c_str(), 0777), 0); },
         "other users may write to it (mode 0777)"},
        {"program folder of another user",
         [](const StoreWithRecord& s) { ASSERT_EQ(::chown((s.cache / "tokasearch").c_str(), kOtherUser, 0), 0); },
         "it belongs to user 4003"},
        {"folder a symbolic link",
         [&](const StoreWithRecord& s) {
             replaceBy(s.walks(), [](const std::string& kept, const std::string& path) {
                 ASSERT_EQ(::symlink(kept.c_str(), path.c_str()), 0);
             });
         },
         "it is a symbolic link"},
        {"record of another user",
         [](const StoreWithRecord& s) { ASSERT_EQ(::chown(s.recordPath.c_str(), kOtherUser, kOtherUser), 0); },
         "it belongs to user 4003"},
        {"record others may write to",
         [](const StoreWithRecord& s) { ASSERT_EQ(::chmod(s.recordPath.c_str(), 0622), 0); },
         "other users may write to it (mode 0622)"},
        {"record a symbolic link",
         [&](const StoreWithRecord& s) {
             replaceBy(s.recordPath, [](const std::string& kept, const std::string& path) {
                 ASSERT_EQ(::symlink(kept.c_str(), path.c_str()), 0);
             });
         },
         "it is a symbolic link"},
        {"record a FIFO",
         [&](const StoreWithRecord& s) {
             replaceBy(s.recordPath,
                       [](const std::string&, const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); });
         },
         "it is not a regular file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const StoreWithRecord s;
        std::optional<SysError> refused;
        ASSERT_NE(s.find(&refused), nullptr);
        ASSERT_FALSE(refused.has_value());
        c.spoil(s);

        // Looked up on a thread of its own: a reader that waits on a FIFO
        // is let go by a writer below, and fails the case instead of the run.
        auto lookup = std::async(std::launch::async, [&s, &refused] { return s.find(&refused); });
        if (lookup.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << "the lookup waits on the record";
            ::close(::open(s.recordPath.c_str(), O_WRONLY | O_NONBLOCK));
        }
        EXPECT_EQ(lookup.get(), nullptr);
        ASSERT_TRUE(refused.has_value());
        EXPECT_NE(refused->message().find(c.reason), std::string::npos) << refused->message();

        // Nothing is written into a refused folder, nor where its link leads.
        WalkRecordWriter other("p\n", {"/r/"}, 0);
        other.addBlock(std::nullopt, 0, 0, WalkRecordWriter::Entries{});
        const bool folderRefused = refused->path == s.walks() || refused->path == s.cache / "tokasearch";
        EXPECT_EQ(s.store.save(other).has_value(), folderRefused);
        if (folderRefused) {
            const auto name = std::filesystem::path(s.store.pathFor({"/r/"}, "p\n")).filename();
            EXPECT_FALSE(std::filesystem::exists(s.walks() + ".kept/" + name.string()));
            std::optional<SysError> listRefused;
            EXPECT_TRUE(s.store.list(&listRefused).empty());
            EXPECT_TRUE(listRefused.has_value());
            EXPECT_TRUE(s.store.forgetAll().has_value());
        }
    }
}

TEST(RecordSafety, ARecordWhoseSizeDisagreesWithItsHeaderIsRefusedUnread) {
    const StoreWithRecord s;
    ASSERT_NE(s.find(nullptr), nullptr);
    // A valid record padded with a hole to 2 GiB: refused from its header,
    // without its body being read.
    ASSERT_EQ(::truncate(s.recordPath.c_str(), off_t{2} << 30), 0);
    const std::uint64_t before = bytesReadByThisProcess();
    std::optional<SysError> refused;
    EXPECT_EQ(s.find(&refused), nullptr);
    EXPECT_LT(bytesReadByThisProcess() - before, std::uint64_t{1} << 20);
    EXPECT_FALSE(refused.has_value()) << "a damaged record is no record, and no alarm";
}

TEST(RecordSafety, WithoutHomeTheRecordsGoToTheHomeOfThePasswordDatabase) {
    const struct passwd* user = ::getpwuid(::geteuid());
    ASSERT_NE(user, nullptr);
    const std::string expected = std::string(user->pw_dir) + "/.cache/tokasearch/walks";
    ScopedEnvironment environment{{"XDG_CACHE_HOME", std::nullopt}};
    for (const char* home : {static_cast<const char*>(nullptr), "", "relative/home"}) {
        environment.set("HOME", home ? std::optional<std::string>(home) : std::nullopt);
        EXPECT_EQ(defaultRecordDirectory(), expected) << (home ? home : "unset");
    }
    environment.set("HOME", "/home/anna");
    environment.set("XDG_CACHE_HOME", "/var/cache/anna");
    EXPECT_EQ(defaultRecordDirectory(), "/var/cache/anna/tokasearch/walks");
}

} // namespace
} // namespace toka::test
