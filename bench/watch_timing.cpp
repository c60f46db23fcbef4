// Times a record kept current (bench/watch.sh): walks the root once,
// recording, keeps the record current with a RecordWatch and prints
//   record <entries> <directories>
//   watch <directories watched> <ms until settled> <KB before> <KB after> <record KB>
//   live <median ms of a live walk of the root>
//   change <median ms from a file made to the answer that holds it>
//   idle <median ms of a question when nothing changed>
// KB before and after: the process's resident set with the record in
// memory, before the watch and once it settled (its walk done on threads of
// its own), freed memory given back to the system first; the kernel's
// memory for the watches is not in it.  Changes
// are made only with --change DIR (a directory below the root): a file is
// made there, the watch asked for the record, and the answer searched for
// the file; an answer without it ends the program with status 1.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <malloc.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/listing/directory_watch.h"
#include "search/record_replay.h"
#include "search/record_watch.h"
#include "search/walk_record_store.h"
#include "timing.h"

namespace {

long residentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

std::shared_ptr<const toka::WalkRecord> recordWalk(const std::vector<toka::WalkRoot>& roots, double* ms) {
    toka::SimList search;
    search.InitSimList("invoice", toka::MaxListSize);
    const auto start = std::chrono::steady_clock::now();
    toka::ParallelWalk walk(search, {}, toka::ParallelWalk::defaultThreads());
    walk.record(toka::recordedOptions({}, false));
    walk.start(roots);
    walk.wait();
    if (ms) *ms = msSince(start);
    const auto writer = walk.takeRecord();
    if (!writer) return nullptr;
    auto record = toka::WalkRecord::parse(writer->serialize());
    return record ? std::make_shared<const toka::WalkRecord>(std::move(*record)) : nullptr;
}

bool holds(const toka::RecordWatch::Answer& answer, const std::string& name) {
    toka::SimList search;
    search.InitSimList(name, 1);
    toka::RecordReplay replay(answer.record, search, {true, false});
    replay.run(0, answer.signatures.get());
    return replay.list().RankFile(1).Name == name;
}

} // namespace

int main(int argc, char** argv) {
    int runs = 10;
    std::string root, change;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) runs = std::atoi(argv[++i]);
        else if (arg == "--change" && i + 1 < argc) change = argv[++i];
        else root = arg;
    }
    if (root.empty() || runs < 1) {
        std::fprintf(stderr, "usage: watch_timing [--runs N] [--change DIR] ROOT\n");
        return 2;
    }
    const std::vector<toka::WalkRoot> roots = {{root}};
    std::shared_ptr<const toka::WalkRecord> record = recordWalk(roots, nullptr);
    if (!record) {
        std::fprintf(stderr, "watch_timing: %s gave no record\n", root.c_str());
        return 1;
    }
    std::printf("record %llu %zu\n", static_cast<unsigned long long>(record->listedEntries()), record->blockCount());

    ::malloc_trim(0);
    const long before = residentKb();
    const auto start = std::chrono::steady_clock::now();
    toka::RecordWatch::Settings settings;
    settings.budget = toka::DirectoryWatch::budget();
    toka::RecordWatch watch(roots, {}, record, settings);
    const std::size_t recordKb = record->bytes().size() / 1024;
    record.reset();
    watch.latest(std::chrono::seconds(60));
    const double settled = msSince(start);
    ::malloc_trim(0);
    std::printf("watch %zu %.1f %ld %ld %zu\n", watch.watchedDirectories(), settled, before, residentKb(), recordKb);
    std::vector<double> live;
    for (int run = 0; run < runs; ++run) {
        double ms = 0;
        recordWalk(roots, &ms);
        live.push_back(ms);
    }
    std::printf("live %.1f\n", median(live));

    std::vector<double> changes, idle;
    for (int run = 0; run < runs; ++run) {
        if (!change.empty()) {
            const std::string name = "watched-" + std::to_string(::getpid()) + "-" + std::to_string(run);
            const std::string path = change + "/" + name;
            const auto made = std::chrono::steady_clock::now();
            std::ofstream(path).put('x');
            const toka::RecordWatch::Answer answer = watch.latest(std::chrono::seconds(60));
            changes.push_back(msSince(made));
            ::unlink(path.c_str());
            if (!holds(answer, name)) {
                std::fprintf(stderr, "watch_timing: the answer lacks %s\n", path.c_str());
                return 1;
            }
            watch.latest(std::chrono::seconds(60)); // the removal walked too
        }
        const auto asked = std::chrono::steady_clock::now();
        watch.latest(std::chrono::seconds(60));
        idle.push_back(msSince(asked));
    }
    if (!changes.empty()) std::printf("change %.1f\n", median(changes));
    std::printf("idle %.3f\n", median(idle));
    return 0;
}
