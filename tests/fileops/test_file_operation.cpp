// The engine's behaviour on real temporary trees: what is copied and kept,
// what is refused, the questions and their answers, delete, progress.

#include <chrono>
#include <thread>

#include "test_support.h"

namespace toka::test {
namespace {

constexpr std::uint64_t MiB = 1024 * 1024;

class FileOperationTest : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(dest()); }
    std::string src(const std::string& name = "") const { return m_root / ("src/" + name); }
    std::string dest(const std::string& name = "") const { return m_root / ("dest/" + name); }
    FileOpResult run(FileOpKind kind, const std::vector<std::string>& sources,
                     std::optional<std::string> destination = std::nullopt) {
        return FileOperation(questions).run(sources, kind, destination.value_or(dest()));
    }

    TempTree m_root;
    ScriptedQuestions questions;
};

TEST_F(FileOperationTest, EmptyListDoesNothingAndAsksNothing) {
    for (FileOpKind kind : {FileOpKind::Copy, FileOpKind::Move, FileOpKind::Delete}) {
        const FileOpResult result = run(kind, {}, "/no/such/folder/");
        EXPECT_EQ(result.itemsDone + result.itemsSkipped, 0u);
    }
    EXPECT_TRUE(questions.deleteCounts.empty());
    EXPECT_TRUE(questions.errorsShown.empty());
}

TEST_F(FileOperationTest, BadDestinationGivesOneErrorAndChangesNothing) {
    writeFile(src("a"), "alpha");
    writeFile(m_root / "plain", "not a folder");
    const std::pair<std::string, FailureKind> cases[] = {
        {m_root / "gone/", FailureKind::DestinationMissing},
        {m_root / "plain/", FailureKind::DestinationNotDirectory},
        {"", FailureKind::DestinationMissing}, // no folder selected yet
    };
    const Tree before = snapshot(m_root.path());
    for (const auto& [destination, expected] : cases) {
        for (FileOpKind kind : {FileOpKind::Copy, FileOpKind::Move}) {
            SCOPED_TRACE(destination);
            questions.errorsShown.clear();
            run(kind, {src("a")}, destination);
            ASSERT_EQ(questions.errorsShown.size(), 1u);
            EXPECT_EQ(questions.errorsShown[0].kind, expected);
            EXPECT_EQ(snapshot(m_root.path()), before);
        }
    }
}

TEST_F(FileOperationTest, CopyKeepsBytesModesTimesAndLinks) {
    writeFile(src("plain.txt"), "text", 0640);
    writeFile(src("empty"), "");
    writeFile(src("bad\xff\xfe name"), "latin-1 bytes"); // not UTF-8: must survive as bytes
    writeFile(src("two\nlines"), "newline in the name", 0400);
    writeFile(src(std::string(255, 'n')), patternBytes(3 * MiB + 7, 1)); // chunks and an odd tail
    writeFile(src("folder/inner/deep.bin"), patternBytes(1000, 2), 0600);
    ::chmod(src("folder/inner").c_str(), 0550); // read-only folder: filled first, then closed
    ::symlink("../nowhere", src("dangling").c_str());
    ::symlink("folder", src("folder-link").c_str()); // a link, not a second folder
    ::mkfifo(src("pipe").c_str(), 0620);             // never opened: reading it would hang
    const struct timespec old[2] = {{1000000000, 0}, {1234567890, 123456789}};
    for (const char* name : {"plain.txt", "folder/inner", "folder", "dangling"})
        ::utimensat(AT_FDCWD, src(name).c_str(), old, AT_SYMLINK_NOFOLLOW);

    std::vector<std::string> sources;
    for (const auto& [key, entry] : snapshot(src()))
        if (key.find('/') == std::string::npos) sources.push_back(src(key));
    const FileOpResult result = run(FileOpKind::Copy, sources);

    EXPECT_EQ(result.itemsDone, sources.size());
    EXPECT_TRUE(result.failures.empty());
    EXPECT_EQ(snapshot(dest()), snapshot(src()));
    for (const auto& [key, entry] : snapshot(src())) {
        const struct stat from = lstatOf(src(key)), to = lstatOf(dest(key));
        EXPECT_EQ(from.st_mode, to.st_mode) << key;
        EXPECT_EQ(from.st_mtim.tv_sec, to.st_mtim.tv_sec) << key;
        EXPECT_EQ(from.st_mtim.tv_nsec, to.st_mtim.tv_nsec) << key;
    }
}

TEST_F(FileOperationTest, RefusesIntoItselfOntoItselfAndNonItems) {
    writeFile(src("dir/sub/file"), "x");
    ::symlink(src("dir").c_str(), (m_root / "alias").c_str());
    struct Case {
        FileOpKind kind;
        std::string source, destination;
        FailureKind expected;
    } cases[] = {
        {FileOpKind::Copy, src("dir"), src("dir/"), FailureKind::IntoItself},
        {FileOpKind::Copy, src("dir"), src("dir/sub/"), FailureKind::IntoItself},
        {FileOpKind::Move, src("dir"), src("dir/sub/"), FailureKind::IntoItself},
        // Reached through a link, the destination still lies inside the source.
        {FileOpKind::Copy, src("dir"), m_root / "alias/sub/", FailureKind::IntoItself},
        {FileOpKind::Copy, src("dir/sub/file"), src("dir/sub/"), FailureKind::OntoItself},
        {FileOpKind::Move, src("dir"), src(), FailureKind::OntoItself},
        {FileOpKind::Copy, src("dir/"), src(), FailureKind::OntoItself},
        // A marked empty row would give the root: never an item to delete.
        {FileOpKind::Delete, "/", "", FailureKind::InvalidSource},
        {FileOpKind::Delete, src("dir/.."), "", FailureKind::InvalidSource},
    };
    const Tree before = snapshot(m_root.path());
    questions.everyFailure = FailureAction::Skip;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source + " -> " + c.destination);
        questions.failuresAsked.clear();
        EXPECT_EQ(run(c.kind, {c.source}, c.destination).itemsSkipped, 1u);
        ASSERT_EQ(questions.failuresAsked.size(), 1u);
        EXPECT_EQ(questions.failuresAsked[0].kind, c.expected);
        EXPECT_EQ(snapshot(m_root.path()), before);
    }
}

TEST_F(FileOperationTest, ExistingItemsFollowTheAnswers) {
    using A = ExistsAction;
    struct Case {
        std::vector<ExistsReply> replies;
        std::size_t questionsAsked;
        bool replacedA, replacedB, cancelled;
    } cases[] = {
        {{{A::Replace}, {A::Replace}}, 2, true, true, false},
        {{{A::Skip}, {A::Replace}}, 2, false, true, false}, // answers go in the list's order
        {{{A::Replace, true}}, 1, true, true, false},
        {{{A::Skip, true}}, 1, false, false, false},
        {{{A::Cancel}}, 1, false, false, true}, // and b is not even asked about
    };
    for (FileOpKind kind : {FileOpKind::Copy, FileOpKind::Move}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "move " << (kind == FileOpKind::Move) << ", case " << (&c - cases));
            writeFile(src("a"), "new a");
            writeFile(src("b"), "new b");
            writeFile(dest("a"), "old a");
            writeFile(dest("b"), "old b");
            questions.existsAsked.clear();
            questions.existsReplies.assign(c.replies.begin(), c.replies.end());
            EXPECT_EQ(run(kind, {src("a"), src("b")}).cancelled, c.cancelled);
            EXPECT_EQ(questions.existsAsked.size(), c.questionsAsked);
            EXPECT_EQ(readFile(dest("a")), c.replacedA ? "new a" : "old a");
            EXPECT_EQ(readFile(dest("b")), c.replacedB ? "new b" : "old b");
            EXPECT_EQ(exists(src("a")), !(kind == FileOpKind::Move && c.replacedA));
            EXPECT_EQ(exists(src("b")), !(kind == FileOpKind::Move && c.replacedB));
        }
    }
}

TEST_F(FileOperationTest, ReplacingAFolderMergesIntoIt) {
    for (FileOpKind kind : {FileOpKind::Copy, FileOpKind::Move}) {
        std::filesystem::remove_all(dest("d"));
        writeFile(dest("d/keep"), "only in the destination");
        writeFile(dest("d/x"), "old x");
        writeFile(dest("d/y"), "old y");
        writeFile(src("d/x"), "new x");
        writeFile(src("d/y"), "new y");
        writeFile(src("d/sub/fresh"), "fresh");
        // The folder question, then one per clashing file in listing order.
        questions.existsAsked.clear();
        questions.existsReplies = {{ExistsAction::Replace}, {ExistsAction::Replace}, {ExistsAction::Skip}};
        run(kind, {src("d")});
        ASSERT_EQ(questions.existsAsked.size(), 3u);
        const std::string replaced = questions.existsAsked[1].first.path == src("d/x") ? "x" : "y";
        const std::string skipped = replaced == "x" ? "y" : "x";
        EXPECT_EQ(readFile(dest("d/" + replaced)), "new " + replaced);
        EXPECT_EQ(readFile(dest("d/" + skipped)), "old " + skipped);
        EXPECT_EQ(readFile(dest("d/keep")), "only in the destination");
        EXPECT_EQ(readFile(dest("d/sub/fresh")), "fresh");
        if (kind == FileOpKind::Move) { // only the skipped file stays behind
            EXPECT_EQ(snapshot(src("d")), (Tree{{skipped, {'f', "new " + skipped}}}));
        }
    }
}

TEST_F(FileOperationTest, DeleteNeverFollowsLinksOutOfTheTree) {
    writeFile(m_root / "outside/precious", "keep me");
    writeFile(src("tree/sub/file"), "doomed");
    ::symlink((m_root / "outside").c_str(), src("tree/sub/link-to-dir").c_str());
    ::symlink((m_root / "outside/precious").c_str(), src("tree/link-to-file").c_str());
    ::symlink((m_root / "outside").c_str(), src("top-link").c_str());

    questions.deleteAnswer = false;
    EXPECT_TRUE(run(FileOpKind::Delete, {src("tree")}).cancelled);
    EXPECT_TRUE(exists(src("tree/sub/file")));

    // An entry that cannot go keeps its folders, and is asked about once.
    FaultySystem system;
    system.fault = [](Call call, const std::string& name, const std::string&) {
        return call == Call::Unlink && name == "file" ? EACCES : 0;
    };
    questions.deleteAnswer = true;
    questions.everyFailure = FailureAction::Skip;
    FileOpResult result = FileOperation(questions, system).run({src("tree"), src("top-link/")}, FileOpKind::Delete, "");
    EXPECT_EQ(questions.deleteCounts, (std::vector<std::size_t>{1, 2}));
    ASSERT_EQ(questions.failuresAsked.size(), 1u);
    EXPECT_EQ(questions.failuresAsked[0].code, EACCES);
    EXPECT_EQ(result.itemsSkipped, 1u);
    EXPECT_EQ(snapshot(src()).size(), 3u); // tree, tree/sub, tree/sub/file
    EXPECT_FALSE(exists(src("top-link")));

    EXPECT_EQ(run(FileOpKind::Delete, {src("tree")}).itemsDone, 1u);
    EXPECT_FALSE(exists(src("tree")));
    EXPECT_EQ(snapshot(m_root / "outside"), (Tree{{"precious", {'f', "keep me"}}}));
}

TEST_F(FileOperationTest, VanishedSourceIsReportedAndTheRestIsDone) {
    writeFile(src("here"), "here");
    questions.everyFailure = FailureAction::Skip;
    for (FileOpKind kind : {FileOpKind::Copy, FileOpKind::Delete}) {
        questions.failuresAsked.clear();
        const FileOpResult result = run(kind, {src("gone"), src("here"), m_root / "no/parent"});
        ASSERT_EQ(questions.failuresAsked.size(), 2u);
        EXPECT_EQ(questions.failuresAsked[0].kind, FailureKind::Vanished);
        EXPECT_EQ(questions.failuresAsked[1].kind, FailureKind::Vanished);
        EXPECT_EQ(result.itemsDone, 1u);
        EXPECT_EQ(result.itemsSkipped, 2u);
    }
    EXPECT_EQ(readFile(dest("here")), "here");
    EXPECT_FALSE(exists(src("here")));
}

TEST_F(FileOperationTest, ProgressNamesTheWorkAndCancelStopsWithinAChunk) {
    writeFile(src("small"), "x");
    writeFile(src("big"), patternBytes(4 * MiB, 5));
    struct Recorder : ScriptedQuestions {
        std::vector<FileOpProgress> seen;
        void progress(const FileOpProgress& p) override { seen.push_back(p); }
    } recorder;
    FaultySystem slow; // a slow disk, so that the progress interval passes during the copy
    slow.fault = [&](Call call, const std::string&, const std::string&) {
        if (call == Call::Write) std::this_thread::sleep_for(std::chrono::milliseconds(30));
        recorder.cancel = slow.written > static_cast<long long>(MiB);
        return 0;
    };
    const FileOpResult result = FileOperation(recorder, slow).run({src("small"), src("big")}, FileOpKind::Copy, dest());
    EXPECT_TRUE(result.cancelled);
    EXPECT_LE(result.bytesCopied, 2 * MiB + 1); // not the whole file
    EXPECT_FALSE(exists(dest("big")));
    EXPECT_EQ(readFile(dest("small")), "x");
    ASSERT_FALSE(recorder.seen.empty());
    const FileOpProgress& last = recorder.seen.back();
    EXPECT_EQ(last.currentItem, src("big"));
    EXPECT_EQ(last.bytesTotal, 4 * MiB + 1);
    EXPECT_EQ(last.itemsDone, 1u);
    EXPECT_EQ(last.itemsTotal, 2u);
    EXPECT_GE(last.elapsed.count(), 25);
}

TEST_F(FileOperationTest, MoveOnOneFileSystemIsARename) {
    writeFile(src("d/f"), patternBytes(5000, 3));
    const ino_t inode = lstatOf(src("d")).st_ino;
    run(FileOpKind::Move, {src("d")});
    EXPECT_EQ(lstatOf(dest("d")).st_ino, inode);
    EXPECT_FALSE(exists(src("d")));
}

TEST_F(FileOperationTest, MoveAcrossRealFileSystems) {
    struct stat shm {
    }, here{};
    if (::stat("/dev/shm", &shm) != 0 || ::stat(m_root.path().c_str(), &here) != 0 || shm.st_dev == here.st_dev)
        GTEST_SKIP() << "no second file system; the EXDEV fault cases cover this path";
    TempTree other("/dev/shm");
    writeFile(other / "d/big", patternBytes(2 * MiB + 1, 4), 0604);
    ::symlink("big", (other / "d/link").c_str());
    const Tree before = snapshot(other.path());
    EXPECT_EQ(run(FileOpKind::Move, {other / "d"}).itemsDone, 1u);
    EXPECT_EQ(snapshot(dest()), before);
    EXPECT_EQ(lstatOf(dest("d/big")).st_mode & 07777, 0604u);
    EXPECT_FALSE(exists(other / "d"));
}

} // namespace
} // namespace toka::test
