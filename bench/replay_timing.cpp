// Times the replay of a recorded walk (bench/replay.sh): walks the roots
// once (as the search of several disks does), recording, then replays the
// record for each TEXT with both measures and prints one line per run:
//   record <entries> <bytes> <bytes per entry> <parse ms>
//   replay <text> <fuzzy|similar> <threads> <median ms> <count>
// and, with --live, the warm live walk of the same search for the ratio:
//   live <text> <fuzzy|similar> <median ms> <count>
// With --signatures the replays use the entries' bigram signatures, as the
// window's search as you type does, after
//   signatures <ms to compute them>
// With --synthetic N no walk: a record of N entries in directories of 1000
// files, named as bench/common.bash names the few-large tree's (the kinds
// people keep, fixed by the seed), written in
//   written <ms to serialize, the letter-pair index included>
// With --unindexed each replay line is followed by the replay that reads
// every name (the record's index left aside):
//   unindexed <text> <fuzzy|similar> <threads> <median ms> <count>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "search/parallel_walk.h"
#include "search/record_replay.h"
#include "search/walk_record_store.h"
#include "timing.h"

namespace {

// bench/common.bash's file names, from another generator.
std::unique_ptr<toka::WalkRecordWriter> syntheticRecord(std::uint64_t entries) {
    static const char* const words[] = {
        "invoice", "report",     "Rechnung", "notes",       "backup",       "photo",   "IMG",     "DSC",     "song",
        "track",   "draft",      "letter",   "Bewerbung",   "Urlaub",       "meeting", "budget",  "thesis",  "chapter",
        "scan",    "screenshot", "Vertrag",  "summary",     "presentation", "holiday", "family",  "project", "config",
        "readme",  "changelog",  "Steuer",   "Kontoauszug", "recipe",       "manual",  "lecture", "slides",  "data"};
    static const char* const exts[] = {"jpg", "pdf", "txt", "docx", "mp3", "png", "odt", "xlsx", "cpp",
                                       "h",   "log", "md",  "json", "csv", "zip", "mp4", "odp"};
    static const char* const dirs[] = {"Fotos",     "Documents", "Music", "Projects", "Archive",
                                       "Downloads", "Scans",     "Work",  "Private",  "src"};
    std::mt19937 random(42);
    auto pick = [&](auto& list) { return std::string(list[random() % std::size(list)]); };
    auto number = [&](unsigned below) { return std::to_string(random() % below); };
    std::uint64_t n = 0;
    auto fileName = [&] {
        const std::uint64_t i = ++n;
        std::string name = pick(words);
        char digits[32];
        switch (i % 4) {
        case 0:
            std::snprintf(digits, sizeof digits, "_%04u%02u%02u_%06u", 1995 + unsigned(random() % 30),
                          1 + unsigned(random() % 12), 1 + unsigned(random() % 28), unsigned(random() % 999999));
            name += digits;
            break;
        case 1:
            name += "-" + pick(words) + "-v" + number(9);
            break;
        case 2:
            name += " " + number(5000) + " (" + std::to_string(i) + ")";
            break;
        default:
            std::snprintf(digits, sizeof digits, "%05u", unsigned(i % 100000));
            name += digits;
        }
        return name + "_" + std::to_string(i) + "." + pick(exts);
    };
    constexpr std::uint64_t kPerDirectory = 1000;
    const std::uint64_t directories = (entries + kPerDirectory - 1) / kPerDirectory;
    auto writer = std::make_unique<toka::WalkRecordWriter>("", std::vector<std::string>{"/synthetic/"}, 0);
    toka::WalkRecordBlock top;
    for (std::uint64_t d = 0; d < directories; ++d) {
        char name[64];
        std::snprintf(name, sizeof name, "%s %04u-%02u %06u", dirs[d % std::size(dirs)], unsigned(2000 + d % 24),
                      unsigned(1 + d % 12), unsigned(d));
        top.add(name, toka::EntryType::Directory);
    }
    const std::uint32_t root = writer->addBlock(std::nullopt, 0, directories + 2, top);
    // The files shared out evenly.
    const std::uint64_t fileCount = entries - std::min(entries, directories);
    for (std::uint64_t d = 0; d < directories; ++d) {
        toka::WalkRecordBlock block;
        const std::uint64_t files = fileCount / directories + (d < fileCount % directories ? 1 : 0);
        for (std::uint64_t f = 0; f < files; ++f) block.add(fileName(), toka::EntryType::Regular);
        writer->addBlock(root, std::uint32_t(d), files + 2, block);
    }
    return writer;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    bool live = false;
    bool withSignatures = false;
    bool unindexed = false;
    std::uint64_t synthetic = 0;
    int runs = 7;
    unsigned threads = 0;
    std::vector<std::string> positional;
    std::vector<toka::WalkRoot> roots;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--live") live = true;
        else if (args[i] == "--signatures") withSignatures = true;
        else if (args[i] == "--unindexed") unindexed = true;
        else if (args[i] == "--synthetic" && i + 1 < args.size()) synthetic = std::stoull(args[++i]);
        else if (args[i] == "--runs" && i + 1 < args.size()) runs = std::max(1, std::atoi(args[++i].c_str()));
        else if (args[i] == "--threads" && i + 1 < args.size()) threads = unsigned(std::atoi(args[++i].c_str()));
        else if (args[i] == "--root" && i + 1 < args.size()) roots.push_back({args[++i]});
        else positional.push_back(args[i]);
    }
    if ((roots.empty() == (synthetic == 0)) || positional.empty() || (live && synthetic)) {
        std::fprintf(stderr, "usage: replay_timing [--live] [--signatures] [--unindexed] [--runs N] [--threads N] "
                             "(--root DIR [--root DIR]... | --synthetic N) TEXT...\n");
        return 2;
    }
    const toka::ScanOptions options{};

    std::unique_ptr<toka::WalkRecordWriter> writer;
    if (synthetic) {
        writer = syntheticRecord(synthetic);
    } else {
        toka::SimList setup;
        setup.InitSimList("x", 1);
        toka::ParallelWalk walk(setup, options, toka::ParallelWalk::defaultThreads());
        walk.record(toka::recordedOptions(options, false));
        walk.start(roots);
        walk.wait();
        writer = walk.takeRecord();
    }
    if (!writer) {
        std::fprintf(stderr, "replay_timing: the walk gave no record\n");
        return 1;
    }
    const auto writeStart = std::chrono::steady_clock::now();
    std::string bytes = writer->serialize();
    std::printf("written %.1f\n", msSince(writeStart));
    writer.reset();
    const std::size_t size = bytes.size();
    const auto parseStart = std::chrono::steady_clock::now();
    auto parsed = toka::WalkRecord::parse(std::move(bytes));
    const double parseMs = msSince(parseStart);
    if (!parsed) return 1;
    const auto record = std::make_shared<const toka::WalkRecord>(std::move(*parsed));
    std::printf("record %llu %zu %.2f %.1f\n", static_cast<unsigned long long>(record->listedEntries()), size,
                double(size) / double(record->listedEntries()), parseMs);
    std::vector<std::uint64_t> signatures;
    if (withSignatures) {
        const auto start = std::chrono::steady_clock::now();
        signatures = toka::recordSignatures(*record, threads);
        std::printf("signatures %.1f\n", msSince(start));
    }

    for (std::size_t t = 0; t < positional.size(); ++t) {
        for (const bool fuzzy : {true, false}) {
            toka::SimList search;
            search.InitSimList(positional[t], toka::MaxListSize);
            std::vector<double> times;
            std::uint64_t count = 0;
            for (int r = 0; r < runs; ++r) {
                const auto start = std::chrono::steady_clock::now();
                toka::RecordReplay replay(record, search, {true, fuzzy});
                replay.run(threads, withSignatures ? &signatures : nullptr);
                times.push_back(msSince(start));
                count = replay.scannedEntries();
            }
            std::printf("replay %s %s %u %.1f %llu\n", positional[t].c_str(), fuzzy ? "fuzzy" : "similar", threads,
                        median(times), static_cast<unsigned long long>(count));
            if (unindexed) {
                times.clear();
                for (int r = 0; r < runs; ++r) {
                    const auto start = std::chrono::steady_clock::now();
                    toka::RecordReplay replay(record, search, {true, fuzzy});
                    replay.run(threads, withSignatures ? &signatures : nullptr, false);
                    times.push_back(msSince(start));
                }
                std::printf("unindexed %s %s %u %.1f %llu\n", positional[t].c_str(), fuzzy ? "fuzzy" : "similar",
                            threads, median(times), static_cast<unsigned long long>(count));
            }
            if (!live) continue;
            times.clear();
            for (int r = 0; r < runs; ++r) {
                const auto start = std::chrono::steady_clock::now();
                toka::ParallelWalk again(search, {true, fuzzy}, toka::ParallelWalk::defaultThreads());
                again.start(roots);
                again.wait();
                times.push_back(msSince(start));
                count = again.scannedEntries();
            }
            std::printf("live %s %s %.1f %llu\n", positional[t].c_str(), fuzzy ? "fuzzy" : "similar", median(times),
                        static_cast<unsigned long long>(count));
        }
    }
    return 0;
}
