// The verifying walk: a record checked directory by directory against the
// tree as it is now answers as the one-thread live walk of that tree (ranks,
// ties, count, skipped directories) on any number of threads, and lists
// again only the directories that changed; the rule that decides when a
// recorded listing stands; tokafind --verify.

#include <chrono>
#include <filesystem>
#include <sys/stat.h>
#include <thread>

#include "platform/listing/dir_listing.h"
#include "search/listing_check.h"
#include "walk_compare.h"

namespace toka::test {
namespace {

/// The one-thread walk with options' recursion and filter.
Outcome liveWalk(const std::vector<WalkRoot>& roots, const ScanOptions& options, Search search) {
    search.recurse = options.recurseDirs;
    search.filter = options.filter;
    return oneThread(roots, search);
}

struct Verified {
    Outcome outcome;
    std::uint64_t listed = 0;     ///< directories listed again
    std::uint64_t fromRecord = 0; ///< directories answered from the record
    bool verifying = false;
    std::shared_ptr<const WalkRecord> record;                        ///< written anew, when asked
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sameBlocks; ///< with record: blocksFromRecord
};

Verified verifyWalk(const std::shared_ptr<const WalkRecord>& record, const std::vector<WalkRoot>& roots,
                    ScanOptions options, const Search& search, unsigned threads, bool recordAnew = false) {
    Verified out;
    SimList setup;
    setup.InitSimList(search.text, static_cast<std::uint16_t>(search.listSize));
    ParallelWalkHooks hooks;
    hooks.skipped = [&](std::string_view dir, int error) { out.outcome.skipped.emplace(dir, error); };
    options.fuzzy = search.fuzzy;
    ParallelWalk walk(setup, options, threads, hooks);
    walk.verify(record);
    if (recordAnew) walk.record(recordedOptions(options, false));
    walk.start(roots);
    walk.wait();
    out.outcome.scanned = walk.scannedEntries();
    out.outcome.rootError = walk.rootError();
    SimList list;
    walk.copyList(list);
    takeRanks(list, out.outcome);
    out.listed = walk.listedDirectories();
    out.fromRecord = walk.directoriesFromRecord();
    out.verifying = walk.verifying();
    out.sameBlocks = walk.blocksFromRecord();
    if (const auto writer = recordAnew ? walk.takeRecord() : nullptr)
        out.record = std::make_shared<const WalkRecord>(*WalkRecord::parse(writer->serialize()));
    return out;
}

/// Waits until the times of what was made below path so far are settled
/// for a walk that starts now (listing_check.h).
void letTimesSettle(const std::string& path) {
    const auto fd = openDirectory(path);
    ASSERT_TRUE(fd);
    const auto status = directoryStatus(fd->get());
    ASSERT_TRUE(status);
    const std::int64_t window = racyWindowNs(status->stamp, fileSystemTrust(fd->get()));
    std::this_thread::sleep_for(std::chrono::nanoseconds(window) + std::chrono::milliseconds(5));
}

// The tie tree's shape (17 directories, two levels, the same names in each:
// whole subtrees tie) with fewer names, a chain three levels deeper, a
// hidden and an excluded directory with contents: 24 directories.
void buildMutationTree(const TempTree& tree) {
    std::vector<std::string> dirs = {""};
    for (int a = 0; a < 4; ++a) {
        dirs.push_back("d" + std::to_string(a) + "/");
        for (int b = 0; b < 3; ++b) dirs.push_back(dirs.back().substr(0, 3) + "report" + std::to_string(b) + "/");
    }
    for (const std::string& dir : dirs) {
        tree.mkdirp(dir);
        for (const char* name : {"report", "report.txt", "Report.TXT", "reports", "report-old", "report.docx"})
            tree.touch(dir + name);
    }
    for (const char* dir : {"d0/report0/deep/er/est", ".hidden/in", "skip/in"}) tree.mkdirp(dir);
    for (const char* file :
         {"d0/report0/deep/report-a", "d0/report0/deep/er/report-b", "d0/report0/deep/er/est/report-c",
          ".hidden/report-h", ".hidden/in/report-i", "skip/report-s", "skip/in/report-t"})
        tree.touch(file);
}

void removeAll(const TempTree& tree, const std::string& relative) { std::filesystem::remove_all(tree / relative); }

void move(const TempTree& tree, const std::string& from, const std::string& to) {
    ASSERT_EQ(::rename((tree / from).c_str(), (tree / to).c_str()), 0) << from;
}

// The mutation tree with its times settled, and the record of its walk.
struct RecordedMutationTree {
    TempTree tree;
    std::vector<WalkRoot> roots = {{tree.path()}};
    std::shared_ptr<const WalkRecord> record;

    RecordedMutationTree() {
        buildMutationTree(tree);
        letTimesSettle(tree.path());
        record = recordWalk(roots, {});
    }
};

const std::vector<Search> kSearches = bothMeasures({"report"}, {200, 17});

TEST(VerifyWalk, AnswersAsTheLiveWalkOfTheTreeAsItIsNow) {
    struct Case {
        const char* what;
        std::vector<std::string> roots; // below the tree; none: the tree
        ScanOptions options;
        std::function<void(const TempTree&)> change;
        std::uint64_t listedAgain; // directories the verifying walk lists
    };
    const ScanOptions plain;
    const ScanOptions noHidden{.filter = {.skipHidden = true}};
    const ScanOptions excluding{.filter = {.exclude = {"skip"}}};
    const std::vector<Case> cases = {
        {"nothing changed", {}, plain, [](const TempTree&) {}, 0},
        {"file created at the top", {}, plain, [](const TempTree& t) { t.touch("report-new"); }, 1},
        {"file created five levels down",
         {},
         plain,
         [](const TempTree& t) { t.touch("d0/report0/deep/er/est/rep"); },
         1},
        {"file deleted", {}, plain, [](const TempTree& t) { ::unlink((t / "d2/report1/report.txt").c_str()); }, 1},
        {"file renamed in its directory", {}, plain, [](const TempTree& t) { move(t, "d3/report", "d3/reported"); }, 1},
        {"file moved to another directory",
         {},
         plain,
         [](const TempTree& t) { move(t, "d1/report.docx", "d2/report0/report.docx"); },
         2},
        // The subtree keeps its stamps but not its place: at a new path it
        // is new, and listed.
        {"directory moved to another parent",
         {},
         plain,
         [](const TempTree& t) { move(t, "d0/report0/deep", "d3/deep"); },
         5},
        {"file replaced by a directory",
         {},
         plain,
         [](const TempTree& t) {
             ::unlink((t / "d1/report-old").c_str());
             t.mkdirp("d1/report-old");
             t.touch("d1/report-old/report");
         },
         2},
        {"directory replaced by a file",
         {},
         plain,
         [](const TempTree& t) {
             removeAll(t, "d2/report2");
             t.touch("d2/report2");
         },
         1},
        {"directory replaced by a link to another",
         {},
         plain,
         [](const TempTree& t) {
             removeAll(t, "d3/report1");
             ASSERT_EQ(::symlink("../d0", (t / "d3/report1").c_str()), 0);
         },
         1},
        {"new directories",
         {},
         plain,
         [](const TempTree& t) {
             t.mkdirp("new/er");
             t.touch("new/er/report");
         },
         3},
        // Only the change time tells: the modification time is set back
        // as tar and rsync -t do.
        {"file created, the directory's time set back",
         {},
         plain,
         [](const TempTree& t) {
             struct stat before {};
             ASSERT_EQ(::stat((t / "d2").c_str(), &before), 0);
             t.touch("d2/report-sneaked");
             const timespec times[2] = {before.st_atim, before.st_mtim};
             ASSERT_EQ(::utimensat(AT_FDCWD, (t / "d2").c_str(), times, 0), 0);
         },
         1},
        {"hidden directories left out",
         {},
         noHidden,
         [](const TempTree& t) {
             t.touch(".hidden/in/report-h");
             t.mkdirp(".hidden/report-d");
         },
         0},
        // A new directory named as excluded changes its parent only.
        {"excluded directories left out",
         {},
         excluding,
         [](const TempTree& t) {
             t.touch("skip/in/report-x");
             t.mkdirp("d1/skip");
             t.touch("d1/skip/report");
         },
         1},
        {"several roots, a change below the second",
         {"d1", "d2"},
         plain,
         [](const TempTree& t) { t.touch("d2/report0/report-new"); },
         1},
    };
    for (const Case& c : cases) {
        TempTree tree;
        buildMutationTree(tree);
        std::vector<WalkRoot> roots;
        for (const std::string& root : c.roots) roots.push_back({tree / root});
        if (roots.empty()) roots.push_back({tree.path()});
        letTimesSettle(tree.path());
        const auto record = recordWalk(roots, c.options);
        ASSERT_TRUE(record) << c.what;
        c.change(tree);
        for (const Search& search : kSearches) {
            const Outcome expected = liveWalk(roots, c.options, search);
            for (unsigned threads : {1u, 3u}) {
                const Verified verified = verifyWalk(record, roots, c.options, search, threads);
                EXPECT_TRUE(verified.verifying) << c.what;
                EXPECT_EQ(verified.outcome, expected)
                    << c.what << ", " << search.fuzzy << " " << search.listSize << ", " << threads << " threads";
                EXPECT_EQ(verified.listed, c.listedAgain) << c.what << ", " << threads << " threads";
            }
        }
    }
}

TEST(VerifyWalk, TheRandomTreesAnswerAsTheLiveWalkWithAFewDirectoriesChanged) {
    // Many different scores: the cut-off moves all through the walk, also
    // between the directories answered from the record.
    TempTree tree;
    buildRandomTree(tree, 7);
    letTimesSettle(tree.path());
    const std::vector<WalkRoot> roots = {{tree.path()}};
    const auto record = recordWalk(roots, {});
    ASSERT_TRUE(record);
    std::vector<std::string> dirs;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(tree.path()))
        if (entry.is_directory()) dirs.push_back(entry.path());
    std::sort(dirs.begin(), dirs.end());
    for (std::size_t i = 0; i < dirs.size(); i += 7) ::close(::creat((dirs[i] + "/abcab.new").c_str(), 0644));
    for (const Search& search : bothMeasures({"abcab", "dea"}, {200, 9, 1}))
        for (unsigned threads : {1u, 2u, 5u})
            EXPECT_EQ(verifyWalk(record, roots, {}, search, threads).outcome, liveWalk(roots, {}, search))
                << search.text << " " << search.fuzzy << " " << search.listSize << ", " << threads << " threads";

    // Recorded anew, the blocks taken whole from the record keep their
    // names' signatures: the same as those signed anew.
    for (unsigned threads : {1u, 3u}) {
        const Verified anew = verifyWalk(record, roots, {}, kSearches[0], threads, true);
        ASSERT_TRUE(anew.record);
        EXPECT_EQ(anew.sameBlocks.size(), anew.fromRecord);
        EXPECT_GT(anew.fromRecord, anew.listed);
        const std::vector<std::uint64_t> before = recordSignatures(*record);
        EXPECT_EQ(recordSignatures(*anew.record, {*record, before, anew.sameBlocks}), recordSignatures(*anew.record));
    }
}

TEST(VerifyWalk, ADirectoryThatCannotBeReadIsSkippedAsTheLiveWalkSkipsIt) {
    TempTree tree;
    buildMutationTree(tree);
    if (::geteuid() == 0) {
        // The unprivileged user owns the tree, so that it may close
        // directories to itself.
        ::chown(tree.path().c_str(), 65534, 65534);
        for (const auto& entry : std::filesystem::recursive_directory_iterator(tree.path()))
            ::lchown(entry.path().c_str(), 65534, 65534);
    }
    letTimesSettle(tree.path());
    const long same = runUnprivileged([&] {
        const std::vector<WalkRoot> roots = {{tree.path()}};
        const auto record = recordWalk(roots, {});
        if (!record) return 0L;
        ::chmod((tree / "d1/report0").c_str(), 0); // a leaf, answered through its parent until now
        ::chmod((tree / "d0").c_str(), 0300);      // no listing, though its subdirectories could be entered
        ::mkdir((tree / "d2/closed").c_str(), 0);  // a new one
        const Outcome expected = liveWalk(roots, {}, kSearches[0]);
        bool equal = expected.skipped.size() == 3;
        for (unsigned threads : {1u, 3u})
            equal = equal && verifyWalk(record, roots, {}, kSearches[0], threads).outcome == expected;
        return long(equal);
    });
    EXPECT_EQ(same, 1);
}

/// The path of a block's directory below its root, ending in "/" ("" for a root).
std::string blockPath(const WalkRecord& record, std::uint32_t block) {
    std::string path;
    for (std::uint32_t at = block; record.parent(at);) {
        const std::uint32_t parent = *record.parent(at);
        auto entry = record.entries(parent).begin();
        for (std::uint32_t i = 0; i < record.indexInParent(at); ++i) ++entry;
        path.insert(0, std::string((*entry).name) + "/");
        at = parent;
    }
    return path;
}

/// record as if its walk had started at start and read stamp for the
/// directory at path (below the root).
std::shared_ptr<const WalkRecord> restamped(const WalkRecord& record, FileTime start, const std::string& path,
                                            const DirectoryStamp& stamp) {
    WalkRecordWriter writer(std::string(record.options()), record.roots(), start, record.accessFingerprint());
    for (std::uint32_t b = 0; b < record.blockCount(); ++b) {
        WalkRecordBlock block;
        for (const RecordedEntry entry : record.entries(b)) block.add(entry.name, entry.type);
        writer.addBlock(record.parent(b), record.indexInParent(b), record.listed(b), block,
                        blockPath(record, b) == path ? std::optional(stamp) : record.stamp(b));
    }
    return std::make_shared<const WalkRecord>(*WalkRecord::parse(writer.serialize()));
}

TEST(VerifyWalk, ADirectoryChangedWithinTheTickOfTheRecordsStartIsListedAgain) {
    // A walk reads a directory's stamp, a file is created in it within the
    // same tick of the file clock, and the walk lists it without the file:
    // the recorded stamp then equals the directory's after the change.  Such
    // a record is made here from the stamp read after the change.
    const RecordedMutationTree recorded;
    const auto& [tree, roots, record] = recorded;
    ASSERT_TRUE(record);
    const Outcome before = liveWalk(roots, {}, kSearches[0]);
    tree.touch("d1/report0/report-late");
    const Outcome after = liveWalk(roots, {}, kSearches[0]);
    ASSERT_NE(before, after);
    const auto fd = openDirectory(tree / "d1/report0");
    ASSERT_TRUE(fd);
    const DirectoryStamp changed = directoryStatus(fd->get())->stamp;
    const std::int64_t window = racyWindowNs(changed, fileSystemTrust(fd->get()));
    struct Case {
        const char* what;
        FileTime start;
        std::uint64_t listedAgain;
        const Outcome& expected;
    };
    const std::vector<Case> cases = {
        {"start in the change's tick: racy", changed.changed, 1, after},
        {"start a window after the change", addNanoseconds(changed.changed, window), 1, after},
        // The control: with the stamp settled, the recorded listing stands,
        // and the created file is not seen.  Only the rule above keeps it
        // from standing.
        {"start more than a window after the change", addNanoseconds(changed.changed, window + 1), 0, before},
    };
    for (const Case& c : cases) {
        const auto forged = restamped(*record, c.start, "d1/report0/", changed);
        for (unsigned threads : {1u, 3u}) {
            const Verified verified = verifyWalk(forged, roots, {}, kSearches[0], threads);
            EXPECT_EQ(verified.outcome, c.expected) << c.what << ", " << threads << " threads";
            EXPECT_EQ(verified.listed, c.listedAgain) << c.what << ", " << threads << " threads";
        }
    }
}

TEST(VerifyWalk, TheVerifiedWalkRecordsAnewWithoutListingTheRestAgain) {
    const RecordedMutationTree recorded;
    const auto& [tree, roots, first] = recorded;
    ASSERT_TRUE(first);
    tree.touch("d3/report2/report-new");
    letTimesSettle(tree.path());
    const Verified second = verifyWalk(first, roots, {}, kSearches[0], 3, true);
    ASSERT_TRUE(second.record);
    EXPECT_EQ(second.listed, 1u);
    // The new record answers for the tree as it is, and stands for all of it.
    const Outcome expected = liveWalk(roots, {}, kSearches[0]);
    EXPECT_EQ(second.outcome, expected);
    EXPECT_EQ(second.record->listedEntries(), expected.scanned);
    const Verified third = verifyWalk(second.record, roots, {}, kSearches[0], 2);
    EXPECT_EQ(third.outcome, expected);
    EXPECT_EQ(third.listed, 0u);
    EXPECT_EQ(third.fromRecord, second.listed + second.fromRecord);
}

TEST(VerifyWalk, ARecordOfOtherRootsOptionsOrRightsIsNotUsed) {
    const RecordedMutationTree recorded;
    const auto& [tree, roots, record] = recorded;
    ASSERT_TRUE(record);
    WalkRecordWriter otherRights(std::string(record->options()), record->roots(), record->createdAt(),
                                 record->accessFingerprint() + 1);
    otherRights.addBlock(std::nullopt, 0, 2, WalkRecordWriter::Entries{}, record->stamp(0));
    const auto foreign = std::make_shared<const WalkRecord>(*WalkRecord::parse(otherRights.serialize()));
    struct Case {
        const char* what;
        std::shared_ptr<const WalkRecord> record;
        std::vector<WalkRoot> roots;
        ScanOptions options;
        bool used;
    };
    const std::vector<Case> cases = {
        {"the same", record, roots, {}, true},
        {"other roots", record, {{tree / "d1"}}, {}, false},
        {"other options", record, roots, {.filter = {.skipHidden = true}}, false},
        {"other rights", foreign, roots, {}, false},
        {"the rating filters may differ", record, roots, {.filter = {.kinds = kKindFile}}, true},
    };
    for (const Case& c : cases) {
        const Verified verified = verifyWalk(c.record, c.roots, c.options, kSearches[0], 2);
        EXPECT_EQ(verified.verifying, c.used) << c.what;
        EXPECT_EQ(verified.outcome, liveWalk(c.roots, c.options, kSearches[0])) << c.what;
    }
}

// Directory stamps as the rule sees them; start at 1000 s, the tmpfs window
// 10 ms + 1 ns, ext4's a whole second more for times without nanoseconds.
TEST(VerifyWalk, ARecordedListingStandsOnlyForTheSameSettledStampOnATrustedFileSystem) {
    const FileTime start{1000, 0};
    const FileSystemTrust tmpfs = fileSystemTrustOfMagic(0x01021994);
    const FileSystemTrust ext4 = fileSystemTrustOfMagic(0xEF53);
    const FileSystemTrust nfs = fileSystemTrustOfMagic(0x6969);
    const DirectoryStamp old{8, 42, {900, 5}, {900, 7}};
    auto with = [&](std::function<void(DirectoryStamp&)> change) {
        DirectoryStamp stamp = old;
        change(stamp);
        return stamp;
    };
    const FileTime racyLimit = addNanoseconds(start, -kFileClockLagNs - 1);
    struct Case {
        const char* what;
        std::optional<DirectoryStamp> recorded;
        DirectoryStamp now;
        FileSystemTrust trust;
        bool stands;
    };
    const std::vector<Case> cases = {
        {"unchanged", old, old, tmpfs, true},
        {"no stamp recorded", std::nullopt, old, tmpfs, false},
        {"untrusted file system", old, old, nfs, false},
        {"other device", old, with([](DirectoryStamp& s) { ++s.dev; }), tmpfs, false},
        {"other inode", old, with([](DirectoryStamp& s) { ++s.ino; }), tmpfs, false},
        {"modified a nanosecond later", old, with([](DirectoryStamp& s) { ++s.modified.nanoseconds; }), tmpfs, false},
        {"changed a nanosecond later", old, with([](DirectoryStamp& s) { ++s.changed.nanoseconds; }), tmpfs, false},
        // The window's edge: not older than start minus the window is racy.
        {"modified at the window's start", with([&](DirectoryStamp& s) { s.modified = racyLimit; }),
         with([&](DirectoryStamp& s) { s.modified = racyLimit; }), tmpfs, false},
        {"changed at the window's start", with([&](DirectoryStamp& s) { s.changed = racyLimit; }),
         with([&](DirectoryStamp& s) { s.changed = racyLimit; }), tmpfs, false},
        {"changed just before the window", with([&](DirectoryStamp& s) { s.changed = addNanoseconds(racyLimit, -1); }),
         with([&](DirectoryStamp& s) { s.changed = addNanoseconds(racyLimit, -1); }), tmpfs, true},
        {"changed after the start (clock set back)", with([](DirectoryStamp& s) {
             s.changed = {2000, 0};
         }),
         with([](DirectoryStamp& s) {
             s.changed = {2000, 0};
         }),
         tmpfs, false},
        // Whole seconds on ext4: a change in the same second as 999.5 s
        // keeps the time at 999 s.
        {"ext4, whole seconds, the second before the start", DirectoryStamp{8, 42, {999, 0}, {999, 0}},
         DirectoryStamp{8, 42, {999, 0}, {999, 0}}, ext4, false},
        {"ext4, whole seconds, two seconds before", DirectoryStamp{8, 42, {998, 0}, {998, 0}},
         DirectoryStamp{8, 42, {998, 0}, {998, 0}}, ext4, true},
        {"ext4 with nanoseconds, a tick before", DirectoryStamp{8, 42, {999, 900000000}, {999, 900000000}},
         DirectoryStamp{8, 42, {999, 900000000}, {999, 900000000}}, ext4, true},
    };
    for (const Case& c : cases) EXPECT_EQ(recordedListingStands(c.recorded, c.now, c.trust, start), c.stands) << c.what;
}

// tokafind --verify: prints what the live walk prints, says how much it
// listed, and with --record writes the record anew.
TEST(VerifyWalk, TokafindVerifiesARecordAndRecordsAnew) {
    TempTree tree, cache;
    buildMutationTree(tree);
    letTimesSettle(tree.path());
    auto tokafind = [&](std::vector<std::string> args) {
        args.insert(args.begin(), TOKA_TOOLS_DIR "/tokafind");
        args.insert(args.end(), {"zebra", tree.path()});
        return runProgram(args, {.environment = {{"XDG_CACHE_HOME", cache.path()}}});
    };
    EXPECT_EQ(tokafind({"--from-record", "--verify"}).status, 3) << "no record yet";
    EXPECT_EQ(tokafind({"--verify", "--record"}).status, 0) << "walks and records";
    tree.touch("d2/report0/zebra-new");
    letTimesSettle(tree.path());
    const ProgramRun live = tokafind({"-j1"});
    ASSERT_EQ(live.status, 0);
    ASSERT_NE(live.out.find("zebra-new"), std::string::npos);
    for (const char* threads : {"-j1", "-j3"}) {
        const ProgramRun verified = tokafind({threads, "--from-record", "--verify"});
        EXPECT_EQ(verified.status, 0);
        EXPECT_EQ(verified.out, live.out) << threads;
        const std::string summary = live.err.substr(0, live.err.size() - 1);
        EXPECT_TRUE(verified.err.starts_with(summary + " (verified against the walk of ")) << verified.err;
        EXPECT_NE(verified.err.find(": 1 of 24 directories listed again)"), std::string::npos) << verified.err;
    }
    // Without --record the record stays as it was: the replay misses the
    // new file; with it, the record is the tree's as it is now.
    EXPECT_NE(tokafind({"--from-record"}).out, live.out);
    EXPECT_EQ(tokafind({"--from-record", "--verify", "--record"}).status, 0);
    EXPECT_EQ(tokafind({"--from-record"}).out, live.out);
    EXPECT_NE(tokafind({"--from-record", "--verify"}).err.find(": 0 of 24 directories"), std::string::npos);
}

} // namespace
} // namespace toka::test
