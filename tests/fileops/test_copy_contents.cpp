// How a file's contents are copied: holes stay holes, every fallback from
// the kernel's copy to read and write gives the same bytes, files that grow
// or lie about their size are read to their end, and a sparse file much
// larger than the destination volume fits when its data does.

#include "test_support.h"

namespace toka::test {
namespace {

constexpr off_t KiB = 1024, MiB = 1024 * KiB, GiB = 1024 * MiB;

/// Data at offset; everything between the pieces is a hole.
struct Piece {
    off_t offset;
    std::size_t size;
};

void writeSparse(const std::string& path, off_t size, const std::vector<Piece>& pieces) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path;
    unsigned seed = 1;
    for (const Piece& piece : pieces) {
        const std::string bytes = patternBytes(piece.size, seed++);
        ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), piece.offset), static_cast<ssize_t>(bytes.size()));
    }
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
}

/// The data extents of a file as SEEK_DATA / SEEK_HOLE see them.
std::vector<std::pair<off_t, off_t>> dataExtents(int fd) {
    std::vector<std::pair<off_t, off_t>> extents;
    for (off_t at = 0;;) {
        const off_t data = ::lseek(fd, at, SEEK_DATA);
        if (data < 0) break;
        at = ::lseek(fd, data, SEEK_HOLE);
        extents.emplace_back(data, at);
    }
    return extents;
}

/// Equal sizes and equal bytes, read only where either file has data (the
/// rest is a hole in both, zeros by definition): a 5 GiB file costs little.
void expectSameBytes(const std::string& a, const std::string& b) {
    const int fa = ::open(a.c_str(), O_RDONLY), fb = ::open(b.c_str(), O_RDONLY);
    ASSERT_TRUE(fa >= 0 && fb >= 0) << a << " " << b;
    EXPECT_EQ(lstatOf(a).st_size, lstatOf(b).st_size);
    auto extents = dataExtents(fa);
    for (const auto& extent : dataExtents(fb)) extents.push_back(extent);
    std::string bytesA, bytesB;
    for (const auto& [from, to] : extents)
        for (off_t at = from; at < to; at += 4 * MiB) {
            const auto size = static_cast<std::size_t>(std::min<off_t>(4 * MiB, to - at));
            bytesA.assign(size, '\0');
            bytesB.assign(size, '\0');
            // Past the end of one file pread reads nothing, so the sizes check above tells.
            (void)::pread(fa, bytesA.data(), size, at);
            (void)::pread(fb, bytesB.data(), size, at);
            ASSERT_TRUE(bytesA == bytesB) << "bytes differ in [" << at << ", " << at + off_t(size) << ")";
        }
    ::close(fa);
    ::close(fb);
}

/// The real system behind knobs that make it refuse or shorten each offload.
struct OffloadSystem : FaultySystem {
    int cloneError = 0;           ///< FICLONE's answer; 0: the system's own
    bool cloneLeavesJunk = false; ///< the failed clone wrote into the destination first
    int copyRangeError = 0;       ///< copy_file_range's answer from the first call on
    std::size_t copyRangeCap = 0; ///< at most this many bytes a call (0: no cap)
    int copyRangeZeroAfter = -1;  ///< calls let through before it answers 0 for ever
    int seekDataError = 0;        ///< SEEK_DATA's answer
    int writes = 0;

    int cloneFile(int destFd, int srcFd) override {
        if (cloneError == 0) return FaultySystem::cloneFile(destFd, srcFd);
        if (cloneLeavesJunk) {
            struct stat status {};
            ::fstat(srcFd, &status);
            const std::string junk(static_cast<std::size_t>(status.st_size), 'J');
            (void)::pwrite(destFd, junk.data(), junk.size(), 0);
        }
        return errno = cloneError, -1;
    }
    ssize_t copyFileRange(int inFd, off_t* inOffset, int outFd, off_t* outOffset, std::size_t size) override {
        if (copyRangeError) return errno = copyRangeError, -1;
        if (copyRangeZeroAfter >= 0 && kernelCopies >= copyRangeZeroAfter) return 0;
        if (copyRangeCap) size = std::min(size, copyRangeCap);
        return FaultySystem::copyFileRange(inFd, inOffset, outFd, outOffset, size);
    }
    ssize_t write(int fd, const void* buffer, std::size_t size) override {
        ++writes;
        return FaultySystem::write(fd, buffer, size);
    }
    off_t seek(int fd, off_t offset, int whence) override {
        if (whence == SEEK_DATA && seekDataError) return errno = seekDataError, -1;
        return FaultySystem::seek(fd, offset, whence);
    }
};

/// Copies the file `name` of `from` into the folder `to` with the engine.
FileOpResult copyWith(SystemCalls& system, const std::string& from, const std::string& to,
                      ScriptedQuestions& questions) {
    return FileOperation(questions, system).run({from}, FileOpKind::Copy, to + "/");
}

struct Layout {
    const char* name;
    off_t size;
    std::vector<Piece> pieces;
};

const Layout kLayouts[] = {
    // Unaligned pieces straddle block boundaries; the hole at the end must
    // come from ftruncate, since no write reaches it.
    {"dataAtStartMiddleEndHoleAtEnd", 12 * MiB, {{0, 5000}, {5 * MiB + 100, 7000}, {9 * MiB - 3, 2 * MiB + 10}}},
    {"onlyAHole", 8 * MiB, {}},
    {"dataToTheLastByte", 6 * MiB, {{4 * KiB, 4 * KiB}, {6 * MiB - 1000, 1000}}},
    {"noHoles", 3 * MiB + 5, {{0, 3 * MiB + 5}}},
};

void PrintTo(const Layout& layout, std::ostream* os) { *os << layout.name; }

struct Seam {
    const char* name;
    std::function<void(OffloadSystem&)> setUp;
    bool readWrite;  ///< the bytes go through read and write
    bool keepsHoles; ///< false where the source cannot tell holes from data
};

const Seam kSeams[] = {
    {"system", [](OffloadSystem&) {}, false, true},
    {"noReflink", [](OffloadSystem& s) { s.cloneError = EOPNOTSUPP; }, false, true},
    // A clone that failed half-way must not leave its bytes in the holes.
    {"reflinkFailsAfterWriting", [](OffloadSystem& s) { s.cloneError = EIO, s.cloneLeavesJunk = true; }, false, true},
    {"copyRangeAcrossDevices", [](OffloadSystem& s) { s.copyRangeError = EXDEV; }, true, true},
    {"copyRangeMissing", [](OffloadSystem& s) { s.copyRangeError = ENOSYS; }, true, true},
    {"copyRangeShort", [](OffloadSystem& s) { s.copyRangeCap = 1000; }, false, true},
    // The rest of the extent, after the offsets of a kernel copy, by read and write.
    {"copyRangeStopsAfterOneCall", [](OffloadSystem& s) { s.copyRangeZeroAfter = 1; }, true, true},
    {"noSeekData", [](OffloadSystem& s) { s.seekDataError = EINVAL; }, false, false},
};

void PrintTo(const Seam& seam, std::ostream* os) { *os << seam.name; }

class CopyContents : public ::testing::TestWithParam<std::tuple<Layout, Seam>> {
protected:
    TempTree m_root;
    ScriptedQuestions m_questions;
};

TEST_P(CopyContents, SameBytesAndNoMoreBlocks) {
    const auto& [layout, seam] = GetParam();
    const std::string source = m_root / "source", dest = m_root / "dest";
    std::filesystem::create_directories(dest);
    writeSparse(source, layout.size, layout.pieces);
    const struct stat before = lstatOf(source);
    off_t dataBytes = 0;
    for (const Piece& piece : layout.pieces) dataBytes += static_cast<off_t>(piece.size);
    if (dataBytes < layout.size && before.st_blocks * 512 >= before.st_size)
        GTEST_SKIP() << m_root.path() << " keeps no holes";

    OffloadSystem system;
    seam.setUp(system);
    const FileOpResult result = copyWith(system, source, dest, m_questions);
    EXPECT_EQ(result.itemsDone, 1u);
    EXPECT_EQ(result.bytesCopied, static_cast<std::uint64_t>(layout.size));
    expectSameBytes(source, dest + "/source");
    if (seam.keepsHoles) {
        EXPECT_LE(lstatOf(dest + "/source").st_blocks, before.st_blocks + 64);
    }
    if (!layout.pieces.empty() && seam.keepsHoles) {
        EXPECT_EQ(system.writes > 0, seam.readWrite) << "read and write carried the bytes";
        EXPECT_EQ(system.kernelCopies > 0, !seam.readWrite || system.copyRangeZeroAfter > 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, CopyContents,
                         ::testing::Combine(::testing::ValuesIn(kLayouts), ::testing::ValuesIn(kSeams)),
                         [](const auto& test) {
                             return std::string(std::get<0>(test.param).name) + "_" + std::get<1>(test.param).name;
                         });

TEST(CopyContentsTest, AReflinkIsAskedForOnceBetweenFileSystemsThatMakeNone) {
    struct Case {
        const char* name;
        int answer;     // of every reflink asked for
        int expectAsks; // of three files
    } cases[] = {
        {"not supported", EOPNOTSUPP, 1},
        {"two file systems", EXDEV, 1},
        {"refused for this file only", EINVAL, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        struct RefusingReflinks : FaultySystem {
            int answer = 0, asks = 0;
            int cloneFile(int, int) override { return ++asks, errno = answer, -1; }
        } system;
        system.answer = c.answer;
        TempTree root;
        for (const char* name : {"a", "b", "c"}) writeFile(root / "src/" + name, patternBytes(5000, 1));
        std::filesystem::create_directories(root / "dest");
        ScriptedQuestions questions;
        EXPECT_EQ(copyWith(system, root / "src", root / "dest", questions).itemsDone, 1u);
        EXPECT_EQ(system.asks, c.expectAsks);
        EXPECT_EQ(readFile(root / "dest/src/c"), patternBytes(5000, 1));
    }
}

TEST(CopyContentsTest, FileThatGrowsDuringTheCopyIsCopiedToItsNewEnd) {
    for (const bool sparse : {false, true})
        for (const bool noOffload : {false, true}) {
            SCOPED_TRACE(std::string(sparse ? "sparse" : "dense") + (noOffload ? ", read/write" : ", offload"));
            TempTree root;
            const std::string source = root / "source";
            std::filesystem::create_directories(root / "dest");
            writeSparse(source, 4 * MiB, sparse ? std::vector<Piece>{{0, 1000}} : std::vector<Piece>{{0, 4 * MiB}});
            OffloadSystem system;
            system.cloneError = EOPNOTSUPP; // so that the first write call is one of the copy
            system.noOffload = noOffload;
            bool grown = false;
            system.fault = [&](Call call, const std::string&, const std::string&) {
                if (call == Call::Write && !grown) {
                    grown = true;
                    std::ofstream(source, std::ios::binary | std::ios::app) << patternBytes(3000, 9);
                }
                return 0;
            };
            ScriptedQuestions questions;
            copyWith(system, source, root / "dest", questions);
            EXPECT_TRUE(grown);
            EXPECT_EQ(lstatOf(root / "dest/source").st_size, 4 * MiB + 3000);
            expectSameBytes(source, root / "dest/source");
        }
}

TEST(CopyContentsTest, FilesThatMisstateTheirSizeAreReadToTheirEnd) {
    // /proc reports 0 bytes, sysfs 4096 for a few bytes of text.
    for (const std::string path : {"/proc/version", "/proc/self/cmdline", "/sys/kernel/address_bits"}) {
        if (!exists(path)) continue;
        SCOPED_TRACE(path);
        TempTree root;
        ScriptedQuestions questions;
        copyWith(posixSystemCalls(), path, root.path(), questions);
        const std::string copy = readFile(root / path.substr(path.rfind('/') + 1));
        EXPECT_FALSE(copy.empty());
        EXPECT_EQ(copy, readFile(path));
    }
}

TEST(CopyContentsTest, CancelInsideASparseFileLeavesNothing) {
    for (const bool noOffload : {false, true}) {
        TempTree root;
        std::filesystem::create_directories(root / "dest");
        writeSparse(root / "source", 64 * MiB, {{0, 3 * MiB}, {40 * MiB, MiB}});
        FaultySystem system;
        system.noOffload = noOffload;
        ScriptedQuestions questions;
        system.fault = [&](Call call, const std::string&, const std::string&) {
            questions.cancel = call == Call::Write && system.written >= MiB;
            return 0;
        };
        const FileOpResult result = copyWith(system, root / "source", root / "dest", questions);
        EXPECT_TRUE(result.cancelled);
        EXPECT_LT(result.bytesCopied, static_cast<std::uint64_t>(3 * MiB));
        EXPECT_EQ(snapshot(root / "dest"), Tree{});
    }
}

TEST(CopyContentsTest, FiveGiBSparseFileFitsOnA64MiBVolume) {
    if (const std::string why = TestMounts::unavailable(); !why.empty()) GTEST_SKIP() << why;
    TempTree root;
    const std::string volume = root / "volume";
    std::filesystem::create_directories(volume);
    TestMounts mounts(root.path());
    mounts.tmpfs(volume, "64m");
    // From this volume's own file system (the kernel copies) and from /tmp's (read and write).
    for (const std::string& source : {volume + "/image", root / "image"}) {
        SCOPED_TRACE(source);
        writeSparse(source, 5 * GiB, {{0, 4 * KiB}, {2 * GiB + 7, 3000}, {5 * GiB - 100, 100}});
        std::filesystem::create_directories(volume + "/dest");
        ScriptedQuestions questions;
        const FileOpResult result = copyWith(posixSystemCalls(), source, volume + "/dest", questions);
        EXPECT_EQ(result.itemsDone, 1u);
        EXPECT_TRUE(result.failures.empty()) << result.failures[0].describe();
        expectSameBytes(source, volume + "/dest/image");
        EXPECT_LE(lstatOf(volume + "/dest/image").st_blocks, 64);
        std::filesystem::remove_all(volume + "/dest");
        std::filesystem::remove(source);
    }
}

} // namespace
} // namespace toka::test
