// Faults a real file system will not produce on demand, injected into copy
// and move: after each one every byte of every source and of every item that
// was in the destination before is still there (a replaced item only by its
// complete replacement), and no temporary item is left.

#include "test_support.h"

namespace toka::test {
namespace {

constexpr long long MiB = 1024 * 1024;
constexpr long long kSmall = 5, kBig = 3 * MiB + 5; // sizes of "small" and "big"

struct Context {
    FaultySystem& system;
    ScriptedQuestions& questions;
    std::string srcRoot;
    std::vector<std::string> vanished; // removed by the test, not by the engine
    int calls = 0;
};

using Fault = std::function<int(Call, const std::string&, const std::string&, Context&)>;

struct FaultCase {
    const char* name;
    FileOpKind kind;
    bool crossDevice;      // every rename of a source answers EXDEV
    bool noExchange;       // the file system has no atomic exchange
    long long writeBudget; // -1: no limit
    int writeError;
    Fault fault;
    FailureAction onFailure;
    int expectedError; // an errno that must be among the failures; 0: no failure at all
    bool expectCancelled;
};

/// Descriptors open in this process: a failure path must not leak one.
std::size_t openDescriptors() {
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator{}));
}

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

int none(Call, const std::string&, const std::string&, Context&) { return 0; }

Fault onCall(Call wanted, int error, std::function<bool(const std::string&, const std::string&)> match) {
    return [=](Call call, const std::string& name, const std::string& other, Context&) {
        return call == wanted && match(name, other) ? error : 0;
    };
}

Fault cancelAfterWriting(long long bytes) {
    return [=](Call call, const std::string&, const std::string&, Context& c) {
        if (call == Call::Write && c.system.written >= bytes) c.questions.cancel = true;
        return 0;
    };
}

const auto anyName = [](const std::string&, const std::string&) { return true; };

const FaultCase kCases[] = {
    {"nothing goes wrong", FileOpKind::Copy, false, false, -1, 0, none, FailureAction::Skip, 0, false},
    {"disk full from the first byte", FileOpKind::Copy, false, false, 0, ENOSPC, none, FailureAction::Skip, ENOSPC,
     false},
    {"write fails inside the big file", FileOpKind::Copy, false, false, kSmall + 3 * MiB / 2, EIO, none,
     FailureAction::Skip, EIO, false},
    {"disk full inside the folder, then cancel", FileOpKind::Copy, false, false, kSmall + kBig + 100, ENOSPC, none,
     FailureAction::Cancel, ENOSPC, true},
    {"rename into place fails", FileOpKind::Copy, false, false, -1, 0,
     onCall(Call::Rename, EIO, [](auto& from, auto&) { return isTempName(from); }), FailureAction::Skip, EIO, false},
    {"moving the replaced folder aside fails", FileOpKind::Copy, false, true, -1, 0,
     onCall(Call::Rename, EPERM, [](auto& from, auto& to) { return from == "small" && isTempName(to); }),
     FailureAction::Skip, EPERM, false},
    // The old folder, already aside, must come back to its name.
    {"replacement fails after the old folder went aside", FileOpKind::Copy, false, true, -1, 0,
     [](Call call, const std::string& from, const std::string& to, Context& c) {
         return call == Call::Rename && isTempName(from) && to == "small" && c.calls++ == 0 ? EIO : 0;
     },
     FailureAction::Skip, EIO, false},
    {"no atomic exchange", FileOpKind::Copy, false, true, -1, 0, none, FailureAction::Skip, 0, false},
    {"no atomic exchange (move)", FileOpKind::Move, false, true, -1, 0, none, FailureAction::Skip, 0, false},
    {"fsync fails", FileOpKind::Copy, false, false, -1, 0, onCall(Call::Fsync, EIO, anyName), FailureAction::Skip, EIO,
     false},
    {"across file systems, flushing a new folder fails", FileOpKind::Move, true, false, -1, 0,
     onCall(Call::SyncFs, EIO, anyName), FailureAction::Skip, EIO, false},
    {"no room for a new folder", FileOpKind::Copy, false, false, -1, 0, onCall(Call::Mkdir, EDQUOT, anyName),
     FailureAction::Skip, EDQUOT, false},
    {"source removed between listing and copy", FileOpKind::Copy, false, false, -1, 0,
     [](Call call, const std::string& name, const std::string&, Context& c) {
         if (call == Call::Open && name == "t1" && c.vanished.empty()) {
             ::unlink((c.srcRoot + "/tree/t1").c_str());
             c.vanished.push_back("tree/t1");
         }
         return 0;
     },
     FailureAction::Skip, ENOENT, false},
    {"cancel inside the big file", FileOpKind::Copy, false, false, -1, 0, cancelAfterWriting(kSmall + MiB),
     FailureAction::Skip, 0, true},
    {"rename of a source fails", FileOpKind::Move, false, false, -1, 0,
     onCall(Call::Rename, EACCES, [](auto& from, auto& to) { return !isTempName(from) && !isTempName(to); }),
     FailureAction::Skip, EACCES, false},
    {"across file systems", FileOpKind::Move, true, false, -1, 0, none, FailureAction::Skip, 0, false},
    {"across file systems, disk full inside the folder", FileOpKind::Move, true, false, kSmall + kBig + 100, ENOSPC,
     none, FailureAction::Skip, ENOSPC, false},
    {"across file systems, cancel inside the big file", FileOpKind::Move, true, false, -1, 0,
     cancelAfterWriting(kSmall + 2 * MiB), FailureAction::Skip, 0, true},
    {"across file systems, fsync fails", FileOpKind::Move, true, false, -1, 0, onCall(Call::Fsync, EIO, anyName),
     FailureAction::Skip, EIO, false},
    {"across file systems, a source cannot be removed", FileOpKind::Move, true, false, -1, 0,
     onCall(Call::Unlink, EACCES, [](auto& name, auto&) { return name == "t2"; }), FailureAction::Skip, EACCES, false},
};

/// The invariant of every case; `isMove` lets a source live on at its destination.
void expectNothingLost(const Tree& srcBefore, const Tree& destBefore, const Tree& srcAfter, const Tree& destAfter,
                       bool isMove, const std::vector<std::string>& vanished) {
    const auto at = [](const Tree& tree, const std::string& key) -> std::optional<Entry> {
        const auto it = tree.find(key);
        return it == tree.end() ? std::nullopt : std::optional<Entry>(it->second);
    };
    for (const auto& [key, entry] : srcBefore) {
        if (std::find(vanished.begin(), vanished.end(), key) != vanished.end()) continue;
        const bool kept = at(srcAfter, key) == entry || (isMove && at(destAfter, key) == entry);
        EXPECT_TRUE(kept) << "source lost: " << key;
    }
    for (const auto& [key, entry] : destBefore) {
        bool kept = at(destAfter, key) == entry;
        // A replaced item is gone only behind its complete replacement (a file
        // that replaced a folder excuses everything that was inside it).
        for (std::string q = key; !kept;) {
            const auto now = at(destAfter, q);
            kept = now && now == at(srcBefore, q) && (q == key || now->kind != 'd');
            const auto slash = q.rfind('/');
            if (slash == std::string::npos) break;
            q.resize(slash);
        }
        EXPECT_TRUE(kept) << "destination item lost: " << key;
    }
    for (const auto& [key, entry] : destAfter)
        EXPECT_TRUE(at(destBefore, key) == entry || at(srcBefore, key) == entry)
            << "incomplete or foreign item at the destination: " << key;
}

// Every case runs twice: with the kernel's copy where the file system has it,
// and with read and write only, the path of file systems without it.
class FaultMatrix : public ::testing::TestWithParam<std::tuple<FaultCase, bool>> {};

TEST_P(FaultMatrix, LosesNothingAndLeavesNoTemporaryItem) {
    const FaultCase& c = std::get<0>(GetParam());
    const bool noOffload = std::get<1>(GetParam());
    TempTree root;
    const std::string src = root / "src", dest = root / "dest";
    writeFile(src + "/small", "hello");
    writeFile(src + "/big", patternBytes(kBig, 11));
    writeFile(src + "/tree/t1", patternBytes(3 * MiB / 2, 12));
    writeFile(src + "/tree/t2", "two");
    writeFile(src + "/tree/sub/t3", "three");
    writeFile(dest + "/small/inner", "a folder that the file small replaces");
    writeFile(dest + "/big", patternBytes(1000, 13));
    writeFile(dest + "/tree/t2", "old two");
    writeFile(dest + "/tree/keep", "only in the destination");
    const Tree srcBefore = snapshot(src), destBefore = snapshot(dest);

    FaultySystem system;
    ScriptedQuestions questions;
    Context context{system, questions, src, {}};
    system.writeBudget = c.writeBudget;
    system.writeError = c.writeError;
    system.noExchange = c.noExchange;
    system.noOffload = noOffload;
    system.fault = [&](Call call, const std::string& name, const std::string& other) {
        if (c.crossDevice && acrossFileSystems(call, name, other)) return EXDEV;
        return c.fault(call, name, other, context);
    };
    questions.existsReplies = {{ExistsAction::Replace, true}}; // file over folder, folder merge
    questions.everyFailure = c.onFailure;

    const std::size_t descriptors = openDescriptors();
    const FileOpResult result =
        FileOperation(questions, system).run({src + "/small", src + "/big", src + "/tree"}, c.kind, dest + "/");
    EXPECT_EQ(openDescriptors(), descriptors);
    if (c.kind == FileOpKind::Copy || c.crossDevice) {
        EXPECT_EQ(system.kernelCopies > 0, !noOffload) << "the kernel's copy carried the bytes";
    }

    expectNothingLost(srcBefore, destBefore, snapshot(src), snapshot(dest), c.kind == FileOpKind::Move,
                      context.vanished);
    EXPECT_EQ(temporaryItems(root.path()), std::vector<std::string>{});
    EXPECT_EQ(result.cancelled, c.expectCancelled);
    if (c.expectedError == 0) {
        EXPECT_TRUE(result.failures.empty()) << result.failures[0].describe();
    } else {
        EXPECT_TRUE(std::any_of(result.failures.begin(), result.failures.end(),
                                [&](const FileOpFailure& f) { return f.code == c.expectedError; }));
    }
    if (c.expectedError == 0 && !c.expectCancelled) {
        // Nothing went wrong: everything arrived and, for a move, left its source.
        EXPECT_EQ(result.itemsDone, 3u);
        const Tree destAfter = snapshot(dest);
        for (const auto& [key, entry] : srcBefore)
            EXPECT_TRUE(destAfter.count(key) && destAfter.at(key) == entry) << key;
        EXPECT_EQ(destAfter.count("tree/keep"), 1u);
        if (c.kind == FileOpKind::Move) {
            EXPECT_EQ(snapshot(src), Tree{});
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<FaultMatrix::ParamType>& test) {
                             std::string name;
                             for (char ch : std::string(std::get<0>(test.param).name))
                                 name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             return name + (std::get<1>(test.param) ? "_readWrite" : "_offload");
                         });

} // namespace
} // namespace toka::test

namespace toka::test {
namespace {

TEST(CrossDeviceMove, KeepsASourceThatChangedAfterItsCopyBegan) {
    struct Case {
        const char* name;
        Call when;    // the call during which "changed" is written to
        bool changes; // false: the call passes, nothing is written
    } cases[] = {
        {"overwritten after its first chunk was copied", Call::Read, true},
        {"grown after the copy was flushed", Call::SyncFs, true},
        // Removing one of two hard links changes the other's change time.
        {"hard links are no change", Call::Read, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempTree root;
        const std::string changed = root / "src/tree/changed";
        const std::string original = patternBytes(3 * 1024 * 1024 + 5, 21);
        writeFile(changed, original);
        writeFile(root / "src/tree/same", "same");
        ::link((root / "src/tree/same").c_str(), (root / "src/tree/same-link").c_str());
        std::filesystem::create_directories(root / "dest");

        FaultySystem system;
        // Chunks read one by one, so that the change lands between two of
        // them; the check before removal does not depend on how bytes move.
        system.noOffload = true;
        int reads = 0;
        system.fault = [&](Call call, const std::string& from, const std::string& to) {
            if (acrossFileSystems(call, from, to)) return EXDEV;
            struct stat file {};
            const bool fromChanged =
                call != Call::Read
                || (::fstat(system.readFd, &file) == 0 && file.st_ino == lstatOf(changed).st_ino && ++reads == 2);
            if (c.changes && call == c.when && fromChanged) {
                const int fd = ::open(changed.c_str(), O_WRONLY | O_APPEND * (c.when != Call::Read));
                EXPECT_EQ(::write(fd, "CHANGED", 7), 7);
                ::close(fd);
            }
            return 0;
        };
        ScriptedQuestions questions;
        questions.everyFailure = FailureAction::Skip;
        const FileOpResult result =
            FileOperation(questions, system).run({root / "src/tree"}, FileOpKind::Move, root / "dest/");

        EXPECT_EQ(readFile(root / "dest/tree/changed"), original);
        EXPECT_EQ(readFile(root / "dest/tree/same-link"), "same");
        EXPECT_FALSE(exists(root / "src/tree/same"));
        EXPECT_EQ(temporaryItems(root.path()), std::vector<std::string>{});
        if (!c.changes) {
            EXPECT_EQ(result.itemsDone, 1u);
            EXPECT_TRUE(result.failures.empty());
            EXPECT_FALSE(exists(root / "src/tree"));
            continue;
        }
        EXPECT_NE(readFile(changed), original); // the new bytes are still there
        EXPECT_EQ(readFile(changed).find("CHANGED"), c.when == Call::Read ? 0 : original.size());
        EXPECT_EQ(result.itemsSkipped, 1u);
        ASSERT_EQ(questions.failuresAsked.size(), 1u);
        EXPECT_EQ(questions.failuresAsked[0].kind, FailureKind::ChangedDuringMove);
        EXPECT_EQ(questions.failuresAsked[0].path, changed);
    }
}

/// Someone who may write into the destination swaps each new node for a
/// symbolic link to `target` right after it was made.
struct NodeSwappingSystem : FaultySystem {
    std::string target;
    int mknodAt(int dirFd, const char* name, mode_t mode, dev_t device) override {
        const int result = SystemCalls::mknodAt(dirFd, name, mode, device);
        if (result == 0 && ::unlinkat(dirFd, name, 0) == 0) ::symlinkat(target.c_str(), dirFd, name);
        return result;
    }
};

TEST(NewNodes, OnlyTheCreatedNodeGetsTheSourcesMode) {
    for (const char* source : {"pipe", "folder/pipe"}) {
        SCOPED_TRACE(source);
        TempTree root;
        writeFile(root / "victim", "not yours", 0600);
        std::filesystem::create_directories(root / "src/folder");
        std::filesystem::create_directories(root / "dest");
        for (const char* pipe : {"src/pipe", "src/folder/pipe"}) {
            ::mkfifo((root / pipe).c_str(), 0600);
            ::chmod((root / pipe).c_str(), 0777); // the umask kept it from mkfifo
        }
        NodeSwappingSystem system;
        system.target = root / "victim";
        ScriptedQuestions questions;
        questions.everyFailure = FailureAction::Skip;
        const std::string top = std::string(source) == "pipe" ? "pipe" : "folder";
        const FileOpResult result =
            FileOperation(questions, system).run({root / ("src/" + top)}, FileOpKind::Copy, root / "dest/");

        EXPECT_EQ(lstatOf(root / "victim").st_mode & 07777, 0600u);
        EXPECT_EQ(result.itemsSkipped, 1u);
        EXPECT_EQ(questions.failuresAsked.size(), 1u);
        EXPECT_FALSE(exists(root / ("dest/" + std::string(source))));
        EXPECT_EQ(temporaryItems(root.path()), std::vector<std::string>{});
    }
}

TEST(Discard, GivesReadPermissionBackOnlyToItsOwnFolder) {
    TempTree root;
    writeFile(root / "src/folder/file", "x");
    std::filesystem::create_directories(root / "dest");
    std::filesystem::create_directories(root / "victim");
    ::chmod((root / "victim").c_str(), 0755);
    // The flush of a move's copy fails, so the new folder is discarded; its
    // first open then finds no read permission, and by then a link to
    // "victim" has its name.
    FaultySystem system;
    bool flushFailed = false, swapped = false;
    system.fault = [&](Call call, const std::string& name, const std::string& other) {
        if (acrossFileSystems(call, name, other)) return EXDEV;
        if (call == Call::SyncFs) return flushFailed = true, EIO;
        if (call != Call::Open || !flushFailed || !isTempName(name) || swapped) return 0;
        swapped = true;
        ::rename((root / ("dest/" + name)).c_str(), (root / "aside").c_str());
        ::symlink((root / "victim").c_str(), (root / ("dest/" + name)).c_str());
        return EACCES;
    };
    ScriptedQuestions questions;
    questions.everyFailure = FailureAction::Skip;
    FileOperation(questions, system).run({root / "src/folder"}, FileOpKind::Move, root / "dest/");

    ASSERT_TRUE(swapped);
    EXPECT_EQ(readFile(root / "src/folder/file"), "x");
    EXPECT_EQ(lstatOf(root / "victim").st_mode & 07777, 0755u);
    ASSERT_EQ(questions.errorsShown.size(), 1u); // the link stays under the hidden name
    EXPECT_EQ(questions.errorsShown[0].kind, FailureKind::LeftOver);
}

} // namespace
} // namespace toka::test
