// Writes the seed records of the recorded walk reader's fuzzer: small, valid
// records of the current format that between them use every field (roots,
// options, nested blocks, every entry type, names of 1 and 255 bytes and
// odd bytes, stamps kept and not, times before and after the walk's start),
// so that mutation starts from inputs that pass the header and reach the
// checks of the body.
//
//   make_record_seeds DIR

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "search/walk_record.h"

namespace {

using toka::DirectoryStamp;
using toka::EntryType;
using toka::WalkRecordWriter;

std::vector<std::pair<const char*, std::string>> seeds() {
    std::vector<std::pair<const char*, std::string>> out;
    const toka::FileTime start{1700000000, 250000000};
    {
        WalkRecordWriter writer("recurse=1\n", {"/home/anna/"}, start, 0x1234);
        const auto top =
            writer.addBlock(std::nullopt, 0, 5, {{"docs", EntryType::Directory}, {"a.txt", EntryType::Regular}},
                            DirectoryStamp{0x803, 2, {1690000000, 7}, {1690000000, 7}});
        writer.addBlock(top, 0, 3, {{"report.pdf", EntryType::Regular}},
                        DirectoryStamp{0x803, 77, {1700000001, 999999999}, {1699999999, 0}});
        out.emplace_back("stamped.walk", writer.serialize());
    }
    {
        WalkRecordWriter writer("recurse=1\nskip-hidden=1\nexclude=*.o\n", {"/r1/", "/r 2/"}, start, 0);
        const auto first = writer.addBlock(std::nullopt, 0, 9,
                                           {{"d", EntryType::Directory},
                                            {"\xff\x01odd", EntryType::Symlink},
                                            {std::string(255, 'n'), EntryType::Socket},
                                            {"f", EntryType::Fifo},
                                            {"c", EntryType::CharDevice},
                                            {"b", EntryType::BlockDevice},
                                            {"u", EntryType::Unknown}});
        const auto d = writer.addBlock(first, 0, 3, {{"e", EntryType::Directory}});
        writer.addBlock(d, 0, 2, WalkRecordWriter::Entries{}, DirectoryStamp{0, 0, {-1, 0}, {0, 1}});
        writer.addBlock(std::nullopt, 1, 2, WalkRecordWriter::Entries{});
        writer.setSkippedDirectories(3);
        out.emplace_back("two-roots.walk", writer.serialize());
    }
    {
        WalkRecordWriter writer("", {"/"}, toka::FileTime{0, 0}, 0xFFFFFFFFu);
        writer.addBlock(std::nullopt, 0, 2, WalkRecordWriter::Entries{});
        out.emplace_back("empty.walk", writer.serialize());
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_record_seeds DIR\n");
        return 2;
    }
    for (const auto& [name, bytes] : seeds()) {
        const std::string path = std::string(argv[1]) + "/" + name;
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fclose(file) != 0) {
            std::fprintf(stderr, "make_record_seeds: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
