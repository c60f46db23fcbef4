// Which copies are flushed to the disk before they count as done, and that
// Cancel ends the wait for a flush at once.

#include <atomic>
#include <chrono>

#include "test_support.h"

namespace toka::test {
namespace {

TEST(Flushes, OnlyWhereTheCopyProtectsData) {
    struct Case {
        const char* name;
        FileOpKind kind;
        bool across;      // renames answer EXDEV
        const char* item; // "file" or "folder", into dest/
        bool replaces;    // dest/<item> holds a file to replace
        int fsyncs;       // of the copied file, at least (its directory's follows)
        int syncfs;
    } cases[] = {
        {"a fresh copy of a file", FileOpKind::Copy, false, "file", false, 0, 0},
        {"a fresh copy of a folder", FileOpKind::Copy, false, "folder", false, 0, 0},
        {"a copy that replaces a file", FileOpKind::Copy, false, "file", true, 1, 0},
        {"a folder that replaces a file", FileOpKind::Copy, false, "folder", true, 0, 1},
        {"a file moved across file systems", FileOpKind::Move, true, "file", false, 1, 0},
        {"a folder moved across file systems", FileOpKind::Move, true, "folder", false, 0, 1},
        {"a rename", FileOpKind::Move, false, "file", false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempTree root;
        writeFile(root / "src/file", "contents");
        writeFile(root / "src/folder/inner", "inner");
        std::filesystem::create_directories(root / "dest");
        if (c.replaces) writeFile(root / "dest" + "/" + c.item, "old");
        std::atomic<int> fsyncs = 0, syncfs = 0;
        FaultySystem system;
        system.fault = [&](Call call, const std::string& from, const std::string& to) {
            if (c.across && acrossFileSystems(call, from, to)) return EXDEV;
            if (call == Call::Fsync) ++fsyncs;
            if (call == Call::SyncFs) ++syncfs;
            return 0;
        };
        ScriptedQuestions questions;
        if (c.replaces) questions.existsReplies = {{ExistsAction::Replace}};
        const FileOpResult result =
            FileOperation(questions, system).run({root / "src" + "/" + c.item}, c.kind, root / "dest/");

        EXPECT_EQ(result.itemsDone, 1u);
        EXPECT_EQ(snapshot(root / "dest" + "/" + c.item).size(), std::string(c.item) == "folder" ? 1u : 0u);
        // A flushed copy flushes its directory once it is placed.
        const int flushed = c.fsyncs + c.syncfs;
        EXPECT_EQ(fsyncs.load(), flushed ? c.fsyncs + 1 : 0);
        EXPECT_EQ(syncfs.load(), c.syncfs);
    }
}

/// Questions whose Cancel is pressed from the flushing thread.
struct CancelFromAnyThread : ScriptedQuestions {
    std::atomic<bool> pressed = false;
    bool cancelRequested() override { return pressed; }
};

TEST(Flushes, CancelEndsTheWaitAndKeepsTheSource) {
    for (const char* item : {"file", "folder"}) {
        SCOPED_TRACE(item);
        TempTree root;
        writeFile(root / "src/file", patternBytes(1 << 20, 3));
        writeFile(root / "src/folder/inner", "inner");
        std::filesystem::create_directories(root / "dest");
        const Tree before = snapshot(root / "src");
        CancelFromAnyThread questions;
        std::atomic<bool> released = false;
        FaultySystem system; // declared after `released`: it waits for the flush on destruction
        system.fault = [&](Call call, const std::string& from, const std::string& to) {
            if (acrossFileSystems(call, from, to)) return EXDEV;
            if (call == Call::Fsync || call == Call::SyncFs) {
                // A disk that takes its time: Cancel is pressed meanwhile.
                questions.pressed = true;
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
                while (!released && std::chrono::steady_clock::now() < deadline)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            return 0;
        };
        const auto start = std::chrono::steady_clock::now();
        const FileOpResult result =
            FileOperation(questions, system).run({root / "src" + "/" + item}, FileOpKind::Move, root / "dest/");
        const auto waited = std::chrono::steady_clock::now() - start;
        released = true;

        EXPECT_LT(waited, std::chrono::seconds(2));
        EXPECT_TRUE(result.cancelled);
        EXPECT_EQ(snapshot(root / "src"), before);
        EXPECT_FALSE(exists(root / "dest" + "/" + item));
        EXPECT_EQ(temporaryItems(root.path()), std::vector<std::string>{});
    }
}

} // namespace
} // namespace toka::test
