// Times the verifying walk against the live walk in one process
// (bench/verify.sh): walks the roots once, recording, changes a share of the
// directories (or not), then verifies the record and walks live in turns,
// each on ParallelWalk::defaultThreads() workers, and prints
//   record <entries> <directories> <bytes>
//   changed <directories>
//   live <median ms>
//   verify <median ms> <directories listed again> <directories>
// Every verified answer (ranks with their score bytes, count) is compared
// with the live one; a difference ends the program with status 1.
//
// What changes, every Nth directory in name order (N = 100 / PERCENT):
//   --touch PERCENT        a file is created in it and removed again: its
//                          names stay, its times are new
//   --drop-stamps PERCENT  nothing on the disk; its stamp is left out of the
//                          record, which lists it again just the same (for
//                          trees that must not be written to, like /usr)
// --save writes the record that is verified into the user's store of
// recorded walks, for tokafind --from-record --verify to use.

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "search/parallel_walk.h"
#include "search/walk_record_store.h"
#include "timing.h"

namespace {

// A block's directory path (roots as recorded).
std::string blockPath(const toka::WalkRecord& record, std::uint32_t block) {
    std::string path;
    std::uint32_t at = block;
    while (const auto parent = record.parent(at)) {
        auto entry = record.entries(*parent).begin();
        for (std::uint32_t i = 0; i < record.indexInParent(at); ++i) ++entry;
        path.insert(0, std::string((*entry).name) + "/");
        at = *parent;
    }
    return record.roots()[record.indexInParent(at)] + path;
}

// The record again, with the stamps of the blocks in dropped left out.
std::unique_ptr<toka::WalkRecordWriter> copyRecord(const toka::WalkRecord& record, const std::vector<bool>& dropped) {
    auto writer = std::make_unique<toka::WalkRecordWriter>(std::string(record.options()), record.roots(),
                                                           record.createdAt(), record.accessFingerprint());
    for (std::uint32_t b = 0; b < record.blockCount(); ++b) {
        toka::WalkRecordBlock block;
        for (const toka::RecordedEntry entry : record.entries(b)) block.add(entry.name, entry.type);
        writer->addBlock(record.parent(b), record.indexInParent(b), record.listed(b), block,
                         dropped[b] ? std::nullopt : record.stamp(b));
    }
    writer->setSkippedDirectories(record.skippedDirectories());
    return writer;
}

struct Answer {
    std::vector<std::pair<std::array<std::uint8_t, 6>, std::string>> ranks;
    std::uint64_t scanned = 0;
    bool operator==(const Answer&) const = default;
};

Answer answerOf(const toka::ParallelWalk& walk) {
    Answer answer;
    toka::SimList list;
    walk.copyList(list);
    for (int r = 1; r <= list.ListSize() + 1; ++r)
        answer.ranks.emplace_back(list.RankScore(r).bytes(), list.RankFile(r).Dir + list.RankFile(r).Name);
    answer.scanned = walk.scannedEntries();
    return answer;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    int runs = 7;
    int touchPercent = 0;
    int dropPercent = 0;
    bool save = false;
    std::string text;
    std::vector<toka::WalkRoot> roots;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == "--runs" && hasValue) runs = std::max(1, std::atoi(args[++i].c_str()));
        else if (args[i] == "--touch" && hasValue) touchPercent = std::atoi(args[++i].c_str());
        else if (args[i] == "--drop-stamps" && hasValue) dropPercent = std::atoi(args[++i].c_str());
        else if (args[i] == "--root" && hasValue) roots.push_back({args[++i]});
        else if (args[i] == "--save") save = true;
        else text = args[i];
    }
    if (roots.empty() || text.empty() || touchPercent < 0 || dropPercent < 0 || touchPercent > 100
        || dropPercent > 100) {
        std::fprintf(stderr, "usage: verify_timing [--runs N] [--touch PERCENT | --drop-stamps PERCENT] [--save] "
                             "--root DIR [--root DIR]... TEXT\n");
        return 2;
    }
    const toka::ScanOptions options{};
    const unsigned threads = toka::ParallelWalk::defaultThreads();

    toka::SimList setup;
    setup.InitSimList("x", 1);
    toka::ParallelWalk recording(setup, options, threads);
    recording.record(toka::recordedOptions(options, false));
    recording.start(roots);
    recording.wait();
    const auto writer = recording.takeRecord();
    if (!writer) {
        std::fprintf(stderr, "verify_timing: the walk gave no record\n");
        return 1;
    }
    auto parsed = toka::WalkRecord::parse(writer->serialize());
    if (!parsed) return 1;
    auto record = std::make_shared<const toka::WalkRecord>(std::move(*parsed));
    std::printf("record %llu %zu %zu\n", static_cast<unsigned long long>(record->listedEntries()), record->blockCount(),
                writer->serialize().size());

    // Every Nth directory in name order, so that the share is spread over
    // the whole tree as changes are.
    const int percent = touchPercent + dropPercent;
    std::vector<bool> chosen(record->blockCount(), false);
    std::size_t changed = 0;
    if (percent > 0) {
        std::map<std::string, std::uint32_t> byPath;
        for (std::uint32_t b = 0; b < record->blockCount(); ++b) byPath.emplace(blockPath(*record, b), b);
        std::size_t n = 0;
        for (const auto& [path, block] : byPath) {
            if (n++ % std::size_t(100 / percent) != 0) continue;
            chosen[block] = true;
            ++changed;
            if (touchPercent == 0) continue;
            const std::string file = path + ".verify-timing-touch";
            const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd < 0 || ::close(fd) != 0 || ::unlink(file.c_str()) != 0) {
                std::fprintf(stderr, "verify_timing: cannot change %s\n", path.c_str());
                return 1;
            }
        }
    }
    std::printf("changed %zu\n", changed);
    auto verified = dropPercent > 0 ? copyRecord(*record, chosen) : nullptr;
    if (verified) {
        auto again = toka::WalkRecord::parse(verified->serialize());
        if (!again) return 1;
        record = std::make_shared<const toka::WalkRecord>(std::move(*again));
    }
    if (save) {
        const toka::WalkRecordStore store(toka::defaultRecordDirectory());
        if (auto error = store.save(verified ? *verified : *writer)) {
            std::fprintf(stderr, "verify_timing: %s\n", error->message().c_str());
            return 1;
        }
    }

    toka::SimList search;
    search.InitSimList(text, toka::MaxListSize);
    std::vector<double> liveMs, verifyMs;
    std::uint64_t listed = 0, directories = 0;
    for (int r = 0; r <= runs; ++r) { // the first round warms up
        auto start = std::chrono::steady_clock::now();
        toka::ParallelWalk live(search, options, threads);
        live.start(roots);
        live.wait();
        if (r > 0) liveMs.push_back(msSince(start));

        start = std::chrono::steady_clock::now();
        toka::ParallelWalk verifying(search, options, threads);
        verifying.verify(record);
        verifying.start(roots);
        verifying.wait();
        if (r > 0) verifyMs.push_back(msSince(start));
        listed = verifying.listedDirectories();
        directories = listed + verifying.directoriesFromRecord();
        if (!verifying.verifying() || answerOf(verifying) != answerOf(live)) {
            std::fprintf(stderr, "verify_timing: the verified answer differs from the live walk's\n");
            return 1;
        }
    }
    std::printf("live %.1f\n", median(liveMs));
    std::printf("verify %.1f %llu %llu\n", median(verifyMs), static_cast<unsigned long long>(listed),
                static_cast<unsigned long long>(directories));
    return 0;
}
