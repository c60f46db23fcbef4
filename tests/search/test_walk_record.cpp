// The recorded walk's file: what the writer stores comes back whole, and the
// reader refuses every damaged, truncated or inconsistent record.

#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sys/stat.h>
#include <xxhash.h>

#include <gtest/gtest.h>

#include "../support/temp_tree.h"
#include "search/walk_record.h"

namespace toka::test {
namespace {

using Entries = WalkRecordWriter::Entries;
constexpr auto Dir = EntryType::Directory;
constexpr auto File = EntryType::Regular;

const FileTime kStart{1700000000, 123456789};
/// The blocks' stamps in sampleWriter, by block id.
const std::vector<std::optional<DirectoryStamp>> kStamps = {
    DirectoryStamp{0x803, 1234567, {1690000000, 5}, {1690000000, 5}},
    // A change time before the modification time, and their nanoseconds
    // the other way round: both differences negative.
    DirectoryStamp{0, ~std::uint64_t(0), {1800000000, 999999999}, {-5, 0}},
    std::nullopt,
    DirectoryStamp{~std::uint64_t(0) - 1, 1, {INT64_MIN, 0}, {INT64_MAX, 999999999}},
};

/// Two roots; the first has a subdirectory entered twice down, the second
/// an empty listing.  Names with odd bytes; "." and ".." counted, not kept.
std::unique_ptr<WalkRecordWriter> sampleWriter() {
    auto writer = std::make_unique<WalkRecordWriter>("case=0\nhidden=1\n", std::vector<std::string>{"/r1", "/r 2"},
                                                     kStart, 0xA5A5F00Du);
    const std::uint32_t top = writer->addBlock(std::nullopt, 0, 7,
                                               {{"...", Dir},
                                                {"a b\xff\x01\x7f", File},
                                                {"sub", Dir},
                                                {"link", EntryType::Symlink},
                                                {std::string(255, 'n'), EntryType::Socket}},
                                               kStamps[0]);
    const std::uint32_t sub = writer->addBlock(top, 2, 3, {{"x", File}, {"deep", Dir}}, kStamps[1]);
    writer->addBlock(std::nullopt, 1, 2, Entries{}, kStamps[2]);
    writer->addBlock(sub, 1, 2, Entries{}, kStamps[3]);
    return writer;
}

std::string varint(std::uint64_t value) {
    std::string out;
    for (; value >= 0x80; value >>= 7) out += char((value & 0x7F) | 0x80);
    return out + char(value);
}

std::string fixed(std::uint64_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += char(value >> (8 * i));
    return out;
}

std::uint32_t checksum(const std::string& bytes) { return std::uint32_t(XXH3_64bits(bytes.data(), bytes.size())); }

/// A record of the given body with correct lengths and checksums.
std::string craft(const std::string& body, std::uint32_t roots, std::uint32_t blocks, std::uint64_t total,
                  std::uint32_t version = kWalkRecordVersion, std::uint32_t startNanoseconds = 0) {
    std::string bytes = "TOKAWALK" + fixed(version, 4) + fixed(0, 4) + fixed(5, 8) + fixed(startNanoseconds, 4)
                        + fixed(7, 4) + fixed(total, 8) + fixed(roots, 4) + fixed(blocks, 4) + fixed(0, 4)
                        + fixed(body.size(), 8) + fixed(checksum(body), 4);
    bytes += fixed(checksum(bytes), 4);
    return bytes + body;
}

std::string entry(EntryType type, const std::string& name) { return char(type) + varint(name.size()) + name; }

/// stamp: its bytes; one 0 byte for none.
std::string block(std::uint64_t parentPlusOne, std::uint64_t index, std::uint64_t listed,
                  std::vector<std::string> entries, const std::string& stamp = std::string(1, '\0')) {
    std::string out = varint(parentPlusOne) + varint(index) + varint(listed) + varint(entries.size()) + stamp;
    for (const auto& e : entries) out += e;
    return out;
}

/// A letter-pair index section: lists maps a bucket to its bytes and
/// whether they are a bitmap; the other buckets' lists are empty.
std::string indexSection(const std::string& minLengths,
                         const std::map<std::uint32_t, std::pair<std::string, bool>>& lists,
                         std::uint64_t group = kNameIndexGroup, std::uint64_t buckets = kNameIndexBuckets) {
    std::string table, bytes;
    for (std::uint32_t b = 0; b < buckets; ++b) {
        const auto it = lists.find(b);
        if (it == lists.end()) {
            table += varint(0);
            continue;
        }
        table += varint(it->second.first.size() * 2 + (it->second.second ? 1 : 0));
        bytes += it->second.first;
    }
    return varint(group) + varint(buckets) + minLengths + table + bytes;
}

/// Root "/r" with a directory "d" and a file "f"; "d" entered.
const std::string kRoot = varint(2) + "/r";
const std::string kTop = block(0, 0, 3, {entry(Dir, "d"), entry(File, "f")});

void touchAll(const WalkRecord& record) {
    std::size_t sum = record.options().size() + record.roots().size() + record.rootBlocks().size();
    for (std::uint32_t id = 0; id < record.blockCount(); ++id) {
        for (const RecordedEntry& e : record.entries(id)) sum += e.name.size();
        sum += record.children(id).size() + record.parent(id).value_or(0) + record.indexInParent(id);
    }
    EXPECT_GE(sum, record.blockCount());
}

TEST(WalkRecord, RoundTripThroughAFile) {
    const TempTree tree;
    const std::string path = tree.path() + "/new/dir/walk.rec";
    ASSERT_FALSE(sampleWriter()->save(path).has_value());

    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    ASSERT_EQ(::stat((tree.path() + "/new/dir").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    std::vector<std::string> names;
    for (const auto& file : std::filesystem::directory_iterator(tree.path() + "/new/dir"))
        names.push_back(file.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"walk.rec"});

    const auto record = WalkRecord::load(path);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->options(), "case=0\nhidden=1\n");
    EXPECT_EQ(record->roots(), (std::vector<std::string>{"/r1", "/r 2"}));
    EXPECT_EQ(record->createdTime(), 1700000000);
    EXPECT_EQ(record->createdAt(), kStart);
    EXPECT_EQ(record->accessFingerprint(), 0xA5A5F00Du);
    for (std::uint32_t id = 0; id < kStamps.size(); ++id) EXPECT_EQ(record->stamp(id), kStamps[id]) << id;
    EXPECT_EQ(record->listedEntries(), 14u);
    ASSERT_EQ(record->blockCount(), 4u);

    const auto stored = record->entries(0);
    const std::vector<RecordedEntry> names0(stored.begin(), stored.end());
    ASSERT_EQ(names0.size(), 5u);
    EXPECT_EQ(names0[0].name, "...");
    EXPECT_EQ(names0[1].name, "a b\xff\x01\x7f");
    EXPECT_EQ(names0[3].type, EntryType::Symlink);
    EXPECT_EQ(names0[4].name, std::string(255, 'n'));
    EXPECT_EQ(names0[4].type, EntryType::Socket);

    struct Expected {
        std::optional<std::uint32_t> parent;
        std::uint32_t index;
        std::uint64_t listed;
        std::size_t entries;
        std::vector<std::uint32_t> children;
    };
    const std::vector<Expected> expected{
        {std::nullopt, 0, 7, 5, {1}}, {0, 2, 3, 2, {3}}, {std::nullopt, 1, 2, 0, {}}, {1, 1, 2, 0, {}}};
    for (std::uint32_t id = 0; id < expected.size(); ++id) {
        EXPECT_EQ(record->parent(id), expected[id].parent) << id;
        EXPECT_EQ(record->indexInParent(id), expected[id].index) << id;
        EXPECT_EQ(record->listed(id), expected[id].listed) << id;
        EXPECT_EQ(record->entries(id).size(), expected[id].entries) << id;
        const auto children = record->children(id);
        EXPECT_EQ(std::vector<std::uint32_t>(children.begin(), children.end()), expected[id].children) << id;
    }
    const auto roots = record->rootBlocks();
    EXPECT_EQ(std::vector<std::uint32_t>(roots.begin(), roots.end()), (std::vector<std::uint32_t>{0, 2}));
}

TEST(WalkRecord, EveryTruncationAndEveryFlippedByteIsRefused) {
    const std::string bytes = sampleWriter()->serialize();
    ASSERT_TRUE(WalkRecord::parse(bytes).has_value());
    for (std::size_t length = 0; length < bytes.size(); ++length)
        EXPECT_FALSE(WalkRecord::parse(bytes.substr(0, length)).has_value()) << length;
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        std::string damaged = bytes;
        damaged[at] = char(damaged[at] ^ 0x5A);
        EXPECT_FALSE(WalkRecord::parse(damaged).has_value()) << at;
    }
}

TEST(WalkRecord, RefusesInconsistentRecordsWithValidChecksums) {
    const std::string sub = block(1, 0, 0, {});
    struct Case {
        const char* what;
        std::string bytes;
        bool valid;
    };
    const std::vector<Case> cases{
        {"consistent", craft(kRoot + kTop + sub, 1, 2, 3), true},
        {"parent is the block itself", craft(kRoot + kTop + block(2, 0, 0, {}), 1, 2, 3), false},
        {"index past the parent's entries", craft(kRoot + kTop + block(1, 2, 0, {}), 1, 2, 3), false},
        {"index at a file", craft(kRoot + kTop + block(1, 1, 0, {}), 1, 2, 3), false},
        {"directory entered twice", craft(kRoot + kTop + sub + sub, 1, 3, 3), false},
        {"root index past the roots", craft(kRoot + block(0, 1, 0, {}), 1, 1, 0), false},
        {"name with a slash", craft(kRoot + block(0, 0, 1, {entry(File, "a/b")}), 1, 1, 1), false},
        {"name with a NUL", craft(kRoot + block(0, 0, 1, {entry(File, std::string("a\0b", 3))}), 1, 1, 1), false},
        {"empty name", craft(kRoot + block(0, 0, 1, {entry(File, "")}), 1, 1, 1), false},
        {"name of 256 bytes", craft(kRoot + block(0, 0, 1, {entry(File, std::string(256, 'a'))}), 1, 1, 1), false},
        {"unknown type", craft(kRoot + block(0, 0, 1, {entry(EntryType(8), "a")}), 1, 1, 1), false},
        {"more stored than listed", craft(kRoot + block(0, 0, 0, {entry(File, "a")}), 1, 1, 0), false},
        {"total mismatch", craft(kRoot + kTop + sub, 1, 2, 4), false},
        {"trailing byte", craft(kRoot + kTop + sub + '\0', 1, 2, 3), false},
        {"block count too small", craft(kRoot + kTop + sub, 1, 1, 3), false},
        {"block count too large", craft(kRoot + kTop + sub, 1, 3, 3), false},
        {"huge block count", craft(kRoot, 1, 0xFFFFFFFFu, 0), false},
        {"other version", craft(kRoot + kTop + sub, 1, 2, 3, kWalkRecordVersion + 1), false},
        // The letter-pair index after the blocks (two entries: one group).
        {"index", craft(kRoot + kTop + sub + indexSection("\x01", {{7, {"\x01", false}}}), 1, 2, 3), true},
        {"format 3, without an index", craft(kRoot + kTop + sub, 1, 2, 3, 3), true},
        {"format 3 with an index", craft(kRoot + kTop + sub + indexSection("\x01", {}), 1, 2, 3, 3), false},
        {"index of another group size", craft(kRoot + kTop + sub + indexSection("\x01", {}, 8), 1, 2, 3), false},
        {"index of other buckets", craft(kRoot + kTop + sub + indexSection("\x01", {}, 4, 1024), 1, 2, 3), false},
        {"index of another group count", craft(kRoot + kTop + sub + indexSection("\x01\x01", {}), 1, 2, 3), false},
        {"bitmap of the wrong size",
         craft(kRoot + kTop + sub + indexSection("\x01", {{7, {std::string("\x01\x00", 2), true}}}), 1, 2, 3), false},
        {"index cut short",
         craft(kRoot + kTop + sub + indexSection("\x01", {{7, {"\x01", false}}}).substr(0, 50), 1, 2, 3), false},
        {"start's nanoseconds of a whole second", craft(kRoot + kTop + sub, 1, 2, 3, kWalkRecordVersion, 1000000000),
         false},
        // Stamps: device + 1, inode, modified seconds less the start's and
        // nanoseconds, changed seconds and nanoseconds less modified's.
        {"stamp",
         craft(kRoot + block(0, 0, 0, {}, varint(1) + varint(2) + varint(3) + varint(4) + varint(5) + varint(6)), 1, 1,
               0),
         true},
        {"modified nanoseconds of a whole second",
         craft(kRoot
                   + block(0, 0, 0, {}, varint(1) + varint(2) + varint(3) + varint(1000000000) + varint(0) + varint(0)),
               1, 1, 0),
         false},
        {"changed nanoseconds below zero",
         craft(kRoot + block(0, 0, 0, {}, varint(1) + varint(2) + varint(3) + varint(4) + varint(0) + varint(9)), 1, 1,
               0),
         false},
        {"stamp cut short", craft(kRoot + block(0, 0, 0, {}, varint(1) + varint(2) + varint(3)), 1, 1, 0), false},
        // A walk never lists "." or ".." below a directory: entered, they
        // would lead out of the walked tree.
        {"'..' entered",
         craft(kRoot + block(0, 0, 1, {entry(Dir, "..")}) + block(1, 0, 1, {entry(File, "passwd")}), 1, 2, 2), false},
        {"'.' kept", craft(kRoot + block(0, 0, 1, {entry(Dir, ".")}), 1, 1, 1), false},
        {"'...' kept", craft(kRoot + block(0, 0, 1, {entry(Dir, "...")}), 1, 1, 1), true},
        {"overlong varint", craft(kRoot + "\x80\x00" + block(0, 0, 0, {}).substr(1), 1, 1, 0), false},
    };
    for (const Case& c : cases) {
        const auto record = WalkRecord::parse(c.bytes);
        EXPECT_EQ(record.has_value(), c.valid) << c.what;
        if (record) touchAll(*record);
    }
}

TEST(WalkRecord, ADamagedIndexListIsNotUsed) {
    // Two groups; the query's one bucket weighs 3.
    struct Case {
        const char* what;
        std::string list;
        bool bitmap;
        bool usable;
        std::vector<std::uint8_t> counts;
    };
    const std::vector<Case> cases = {
        {"gaps", "\x01\x01", false, true, {3, 3}},
        {"second group only", "\x02", false, true, {0, 3}},
        {"bitmap", "\x02", true, true, {0, 3}},
        {"bitmap bits past the groups", "\xfd", true, true, {3, 0}},
        {"gap of 0", std::string("\x01\x00", 2), false, false, {}},
        {"group past the end", "\x03", false, false, {}},
        {"varint cut short", "\x01\x81", false, false, {}},
        {"varint too long", "\x81\x80\x80\x80\x80\x01", false, false, {}},
    };
    for (const Case& c : cases) {
        const std::string bytes = indexSection("\x05\x05", {{7, {c.list, c.bitmap}}});
        const auto index = NameIndex::parse(bytes, 2);
        ASSERT_TRUE(index) << c.what;
        std::vector<std::uint8_t> counts;
        EXPECT_EQ(index->count({{7, 3}}, counts), c.usable) << c.what;
        if (c.usable) {
            EXPECT_EQ(counts, c.counts) << c.what;
        }
    }
}

TEST(WalkRecord, AnIndexBuiltInPartsIsTheIndexBuiltAtOnce) {
    // Blocks of 0 to 9 names over a small alphabet, so that lists of every
    // bucket continue from one part into the next.
    std::mt19937 random(7);
    std::vector<std::vector<std::string>> blocks(40);
    for (auto& names : blocks)
        for (int k = int(random() % 10); k > 0; --k)
            names.push_back(std::string("abcab", 1 + random() % 5) + "xyz"[random() % 3]);
    auto build = [&](std::size_t first, std::size_t last, NameIndexBuilder& builder) {
        for (std::size_t b = first; b < last; ++b) {
            builder.startBlock();
            for (const std::string& name : blocks[b]) builder.add(name);
        }
    };
    NameIndexBuilder whole;
    build(0, blocks.size(), whole);
    for (const std::size_t middle : {std::size_t(1), std::size_t(13), blocks.size() - 1, blocks.size()}) {
        NameIndexBuilder first, second;
        build(0, middle, first);
        build(middle, blocks.size(), second);
        first.append(second);
        EXPECT_EQ(first.finish(), whole.finish()) << middle;
    }
}

TEST(WalkRecord, WriterRefusesWhatTheReaderWouldRefuse) {
    WalkRecordWriter writer("", {"/r"}, 0);
    const std::uint32_t top = writer.addBlock(std::nullopt, 0, 2, {{"d", Dir}, {"f", File}});
    EXPECT_THROW(writer.addBlock(top, 1, 0, Entries{}), std::invalid_argument);          // a file
    EXPECT_THROW(writer.addBlock(top + 1, 0, 0, Entries{}), std::invalid_argument);      // no such block
    EXPECT_THROW(writer.addBlock(std::nullopt, 1, 0, Entries{}), std::invalid_argument); // no such root
    EXPECT_THROW(writer.addBlock(top, 0, 0, {{"a", File}}), std::invalid_argument);      // listed < stored
    EXPECT_THROW(writer.addBlock(top, 0, 1, {{"a/b", File}}), std::invalid_argument);
    EXPECT_THROW(writer.addBlock(top, 0, 1, {{"..", Dir}}), std::invalid_argument);
    EXPECT_THROW(writer.addBlock(top, 0, 0, Entries{}, DirectoryStamp{1, 2, {3, 1000000000}, {3, 0}}),
                 std::invalid_argument);
    EXPECT_THROW(writer.addBlock(top, 0, 0, Entries{}, DirectoryStamp{~std::uint64_t(0), 2, {3, 0}, {3, 0}}),
                 std::invalid_argument); // no device + 1
    writer.addBlock(top, 0, 0, Entries{});
    EXPECT_THROW(writer.addBlock(top, 0, 0, Entries{}), std::invalid_argument); // entered twice
    EXPECT_TRUE(WalkRecord::parse(writer.serialize()).has_value());
}

TEST(WalkRecord, FuzzCorpusParsesOrIsRefusedCleanly) {
    const std::filesystem::path folder = TOKA_TEST_DATA "/../../fuzz/corpus-record";
    std::size_t files = 0;
    for (const auto& file : std::filesystem::directory_iterator(folder)) {
        std::ifstream in(file.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (const auto record = WalkRecord::parse(bytes)) touchAll(*record);
        ++files;
    }
    EXPECT_GE(files, 3u);
}

} // namespace
} // namespace toka::test
