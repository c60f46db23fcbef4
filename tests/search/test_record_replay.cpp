// A recorded walk replayed through the engine against the live walk: the
// same ranks (score bytes, ties, overflow slot) and count on every number
// of threads; what a record keeps and leaves out; which record answers a
// search.
#include <fstream>
#include <sys/stat.h>

#include "search/record_replay.h"
#include "search/walk_record_store.h"
#include "similar/text.h"
#include "walk_compare.h"

namespace toka::test {
namespace {

Outcome replayed(const std::shared_ptr<const WalkRecord>& record, const Search& search, unsigned threads,
                 bool withSignatures = false, bool useIndex = true) {
    const std::vector<std::uint64_t> signatures = recordSignatures(*record, 2);
    return replayOf(record, search, threads, withSignatures ? &signatures : nullptr, useIndex);
}

void expectReplayAsLive(const std::vector<WalkRoot>& roots, const std::vector<Search>& searches) {
    const auto recorded = recordWalk(roots, {true});
    const auto flat = recordWalk(roots, {false});
    ASSERT_TRUE(recorded && flat);
    for (const Search& search : searches) {
        const Outcome expected = liveRanks(roots, search);
        // Threads 3: every name read, without the record's index.
        for (unsigned threads : {1u, 2u, 3u, 5u}) {
            const bool withSignatures = threads == 2 || threads == 5;
            EXPECT_EQ(replayed(search.recurse ? recorded : flat, search, threads, withSignatures, threads != 3),
                      expected)
                << "\"" << search.text << "\" " << (search.fuzzy ? "fuzzy" : "similar") << " size " << search.listSize
                << (search.recurse ? "" : " flat") << ", " << threads << " threads"
                << (withSignatures ? " with signatures" : "") << (threads == 3 ? " without the index" : "");
        }
    }
}

TEST(RecordReplay, AnUnchangedTreeRanksAsTheLiveWalk) {
    TempTree ties, random1, random2;
    buildTieTree(ties);
    buildRandomTree(random1, 1);
    buildRandomTree(random2, 2);
    ties.touch(std::string("odd-\xff\n-report"));
    auto searches = bothMeasures({"report", "rep", "abcab", "dea"}, {200, 17, 1});
    searches.push_back({"report", true, 200, false});
    searches.push_back({"abcab", false, 9, false});
    const std::vector<std::vector<WalkRoot>> rootSets = {
        {{ties.path()}}, {{random1.path()}}, {{random2.path(), true, true}, {ties.path(), true, true}}};
    for (const auto& roots : rootSets) expectReplayAsLive(roots, searches);
}

// Names and texts at the edges of the letter-pair index and of the score
// bounds the replay steps over groups with: no pairs, one letter, folded
// and unfolded non-ASCII, invalid UTF-8, 255 bytes, texts past 255 code
// points (whose length is taken modulo 256), exact copies that fill a list
// with the highest score.
const std::vector<std::string> kEdgeNames = {"invoice",
                                             "INVOICE.pdf",
                                             "invoice_20200101_123456_1.pdf",
                                             "in",
                                             "i",
                                             "aaa",
                                             "aaaaaaaaaaaa",
                                             "Rechnung \xc3\x84rger",
                                             "rechnung \xc3\xa4rger",
                                             "\xff\xfe invoice",
                                             "caf\xc3\xa9",
                                             "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.txt",
                                             std::string(255, 'a'),
                                             "invoice" + std::string(248, 'x'),
                                             [] {
                                                 std::string euros;
                                                 for (int i = 0; i < 85; ++i) euros += "\xe2\x82\xac";
                                                 return euros;
                                             }()};
const std::vector<std::string> kEdgeTexts = {"i",
                                             "in",
                                             "inv",
                                             "invoice",
                                             "INVOICE",
                                             "\xc3\xa4rger",
                                             "\xc3\x84rger",
                                             "aaaa",
                                             "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e",
                                             "\xff\xfe",
                                             "xyz",
                                             "a a",
                                             [] {
                                                 std::string text;
                                                 for (int i = 0; i < 43; ++i) text += "invoice";
                                                 return text;
                                             }(),
                                             std::string(256, 'a'),
                                             std::string(260, 'a')};

TEST(RecordReplay, EdgeNamesAndTextsRankAsTheLiveWalk) {
    TempTree tree;
    for (const std::string dir : {"", "sub/", "sub/deeper/"}) {
        if (!dir.empty()) tree.mkdirp(dir);
        for (const std::string& name : kEdgeNames) tree.touch(dir + name);
        for (int copy = 0; copy < 12; ++copy) tree.touch(dir + "invoice~" + std::to_string(copy));
    }
    TempTree random;
    buildRandomTree(random, 5);
    expectReplayAsLive({{tree.path()}, {random.path()}}, bothMeasures(kEdgeTexts, {1, 5, 200}));
}

// What the replay steps over by: a name's length bounds its score, and a
// group's pair count and shortest length bound the first pass.  Names of
// repeated pairs count more of their own pairs than of the query's.
TEST(RecordReplay, TheBoundsNeverTurnAwayANameThatCouldEnter) {
    std::vector<std::string> names = kEdgeNames;
    std::vector<std::string> texts = kEdgeTexts;
    for (const char* more : {"aab", "abab", "aaa", "aaaa", "abababab", "invoic", "nvoice"}) {
        names.push_back(more);
        texts.push_back(more);
    }
    for (const std::string& text : texts) {
        SimList list;
        list.InitSimList(text, 1);
        const BigramFilter& filter = list.Filter();
        for (const std::string& name : names) {
            NameIndexBuilder builder;
            builder.add(name);
            const std::string section = builder.finish();
            const auto index = NameIndex::parse(section, 1);
            ASSERT_TRUE(index);
            const int length = static_cast<int>(DecodeName(name).size());
            for (const bool fuzzy : {true, false}) {
                const std::string what = text + " / " + name + (fuzzy ? " fuzzy" : " similar");
                EXPECT_LE(Real48::fromExtended(list.Score(name, fuzzy, Real48())), list.ScoreBound(fuzzy, length))
                    << what;
                std::vector<std::uint8_t> counts;
                ASSERT_TRUE(index->count(nameIndexQuery(list.SearchText(), filter.queryLength(fuzzy)), counts));
                for (const long double cutOff : {0.0L, 0.25L, 0.5L, 0.6L, 0.75L, 0.9L, 1.0L}) {
                    if (!NameIndex::mayReach(counts[0], index->minLength(0), filter.queryLength(fuzzy), fuzzy,
                                             cutOff)) {
                        EXPECT_TRUE(filter.rejects(name, fuzzy, cutOff)) << what << " at " << double(cutOff);
                    }
                }
            }
        }
    }
}

TEST(RecordReplay, RatesEachDirectoryAfterItsContentsWhateverOrderItsBlockCameIn) {
    // The walk's threads add blocks as they finish: here the second
    // subdirectory's block and the second root's come first.
    constexpr auto Dir = EntryType::Directory;
    constexpr auto File = EntryType::Regular;
    WalkRecordWriter writer("", {"/r/", "/s/"}, 0);
    writer.addBlock(std::nullopt, 1, 1, {{"report", File}});
    const std::uint32_t top =
        writer.addBlock(std::nullopt, 0, 6, {{"report", Dir}, {"reports", Dir}, {"report", File}});
    writer.addBlock(top, 1, 2, {{"report", File}, {"reports", File}});
    writer.addBlock(top, 0, 1, {{"report", File}});
    const auto record = std::make_shared<const WalkRecord>(*WalkRecord::parse(writer.serialize()));
    const std::vector<std::pair<std::string, std::string>> walkOrder = {
        {"report", "/r/report/"}, {"report", "/r/"}, {"report", "/r/reports/"}, {"reports", "/r/reports/"},
        {"reports", "/r/"},       {"report", "/r/"}, {"report", "/s/"}};
    for (const Search& search : bothMeasures({"report"}, {1, 2, 3, 200})) {
        SimList expected;
        expected.InitSimList(search.text, std::uint16_t(search.listSize));
        for (const auto& [name, dir] : walkOrder) expected.RateFile(name, dir, search.fuzzy);
        Outcome want;
        want.scanned = 10;
        takeRanks(expected, want);
        EXPECT_EQ(replayed(record, search, 1), want) << search.fuzzy << " " << search.listSize;
    }
}

TEST(RecordReplay, ARealTreeRanksAsTheLiveWalk) {
    if (::access("/usr/share", R_OK) != 0) GTEST_SKIP() << "no /usr/share";
    const std::vector<WalkRoot> roots = {{"/usr/share/"}};
    const auto record = recordWalk(roots, {true});
    ASSERT_TRUE(record);
    for (const Search& search : bothMeasures({"readme", "libc.so"}, {200}))
        EXPECT_EQ(replayed(record, search, 2, true), liveRanks(roots, search)) << search.text << " " << search.fuzzy;
}

TEST(RecordReplay, OnlyAWalkThatRanToItsEndIsRecorded) {
    TempTree tree;
    buildRandomTree(tree, 3);
    SimList setup;
    setup.InitSimList("abc", 200);
    struct Case {
        const char* what;
        std::string root;
        bool record;
        bool stop;
        bool expected;
    };
    const std::vector<Case> cases = {{"whole walk", tree.path(), true, false, true},
                                     {"not asked to record", tree.path(), false, false, false},
                                     {"stopped", tree.path(), true, true, false},
                                     {"missing root", tree / "missing", true, false, false},
                                     {"empty root", "", true, false, false}};
    for (const Case& c : cases) {
        ParallelWalk walk(setup, {}, 2);
        if (c.record) walk.record("options\n");
        if (c.stop) walk.requestStop();
        walk.start({{c.root}});
        walk.wait();
        const auto writer = walk.takeRecord();
        EXPECT_EQ(writer != nullptr, c.expected) << c.what;
        if (writer) {
            EXPECT_EQ(writer->roots(), std::vector<std::string>{normalizeDirectoryPath(c.root)});
            const auto record = WalkRecord::parse(writer->serialize());
            ASSERT_TRUE(record) << c.what;
            EXPECT_EQ(record->listedEntries(), walk.scannedEntries()) << c.what;
        }
    }
}

TEST(RecordReplay, OptionsThatShapeTheListingNameTheRecord) {
    const ScanOptions plain{};
    struct Case {
        const char* what;
        ScanOptions options;
        bool allFixedDisks;
        bool sameRecord;
    };
    const std::vector<Case> cases = {
        {"other measure", {true, false}, false, true},
        {"kinds", {.filter = {.kinds = kKindFile}}, false, true},
        {"extensions", {.filter = {.extensions = {"pdf"}}}, false, true},
        {"size and time", {.filter = {.minSize = 5, .modifiedFrom = 100}}, false, true},
        {"flat", {false}, false, false},
        {"all fixed disks", plain, true, false},
        {"one file system", {.filter = {.oneFileSystem = true}}, false, false},
        {"hidden left out", {.filter = {.skipHidden = true}}, false, false},
        {"depth", {.filter = {.maxDepth = 3}}, false, false},
        {"exclusion", {.filter = {.exclude = {"a"}}}, false, false},
        {"exclusion with a line break", {.filter = {.exclude = {"a\nexclude=b"}}}, false, false},
    };
    const WalkRecordStore store("/cache");
    const std::string base = recordedOptions(plain, false);
    for (const Case& c : cases) {
        const std::string options = recordedOptions(c.options, c.allFixedDisks);
        EXPECT_EQ(options == base, c.sameRecord) << c.what;
        EXPECT_EQ(store.pathFor({"/r/"}, options) == store.pathFor({"/r/"}, base), c.sameRecord) << c.what;
    }
    // The order of the exclusions does not matter; the roots do.
    EXPECT_EQ(recordedOptions({.filter = {.exclude = {"a", "b"}}}, false),
              recordedOptions({.filter = {.exclude = {"b", "a", "b"}}}, false));
    EXPECT_NE(store.pathFor({"/r/"}, base), store.pathFor({"/s/"}, base));
    EXPECT_NE(store.pathFor({"/a/", "/b/"}, base), store.pathFor({"/a/b/"}, base));
    EXPECT_TRUE(store.pathFor({"/r/"}, base).starts_with("/cache/"));
}

TEST(RecordReplay, TheStoreUsesOnlyARecordOfTheSameRootsAndOptions) {
    TempTree cache, a, b;
    buildRandomTree(a, 4);
    b.touch("single");
    const WalkRecordStore store(cache / "walks");
    EXPECT_EQ(store.find({a.path() + "/"}, "o\n"), nullptr); // no directory yet
    auto save = [&](const TempTree& tree, const std::string& options) {
        SimList setup;
        setup.InitSimList("x", 1);
        ParallelWalk walk(setup, {}, 2);
        walk.record(options);
        walk.start({{tree.path()}});
        walk.wait();
        const auto writer = walk.takeRecord();
        ASSERT_TRUE(writer);
        ASSERT_FALSE(store.save(*writer).has_value());
    };
    const std::vector<std::string> rootA = {normalizeDirectoryPath(a.path())};
    const std::vector<std::string> rootB = {normalizeDirectoryPath(b.path())};
    save(a, "o\n");
    save(b, "o\n");
    const auto found = store.find(rootA, "o\n");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->roots(), rootA);
    EXPECT_EQ(store.find(rootA, "p\n"), nullptr);
    EXPECT_EQ(store.list().size(), 2u);

    // b's record under a's name is not a's record; a damaged one is none.
    std::filesystem::copy_file(store.pathFor(rootB, "o\n"), store.pathFor(rootA, "o\n"),
                               std::filesystem::copy_options::overwrite_existing);
    EXPECT_EQ(store.find(rootA, "o\n"), nullptr);
    EXPECT_EQ(store.list().size(), 1u);
    save(a, "o\n");
    ASSERT_NE(store.find(rootA, "o\n"), nullptr);
    {
        std::fstream file(store.pathFor(rootA, "o\n"), std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(70);
        file.put('\x7f');
    }
    EXPECT_EQ(store.find(rootA, "o\n"), nullptr);

    // Forgetting removes the records and a writer's leftovers, nothing else.
    std::ofstream(store.directory() + "/.0123456789abcdef.walk.tmp-1-2") << "x";
    std::ofstream(store.directory() + "/notes.txt") << "x";
    std::size_t removed = 0;
    EXPECT_FALSE(store.forgetAll(&removed).has_value());
    EXPECT_EQ(removed, 3u);
    EXPECT_TRUE(store.list().empty());
    EXPECT_TRUE(std::filesystem::exists(store.directory() + "/notes.txt"));
}

} // namespace
} // namespace toka::test
