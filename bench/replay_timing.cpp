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

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "search/parallel_walk.h"
#include "search/record_replay.h"
#include "search/walk_record_store.h"
#include "timing.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    bool live = false;
    bool withSignatures = false;
    int runs = 7;
    unsigned threads = 0;
    std::vector<std::string> positional;
    std::vector<toka::WalkRoot> roots;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--live") live = true;
        else if (args[i] == "--signatures") withSignatures = true;
        else if (args[i] == "--runs" && i + 1 < args.size()) runs = std::max(1, std::atoi(args[++i].c_str()));
        else if (args[i] == "--threads" && i + 1 < args.size()) threads = unsigned(std::atoi(args[++i].c_str()));
        else if (args[i] == "--root" && i + 1 < args.size()) roots.push_back({args[++i]});
        else positional.push_back(args[i]);
    }
    if (roots.empty() || positional.empty()) {
        std::fprintf(stderr, "usage: replay_timing [--live] [--signatures] [--runs N] [--threads N] --root DIR "
                             "[--root DIR]... TEXT...\n");
        return 2;
    }
    const toka::ScanOptions options{};

    toka::SimList setup;
    setup.InitSimList("x", 1);
    toka::ParallelWalk walk(setup, options, toka::ParallelWalk::defaultThreads());
    walk.record(toka::recordedOptions(options, false));
    walk.start(roots);
    walk.wait();
    const auto writer = walk.takeRecord();
    if (!writer) {
        std::fprintf(stderr, "replay_timing: the walk gave no record\n");
        return 1;
    }
    std::string bytes = writer->serialize();
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
