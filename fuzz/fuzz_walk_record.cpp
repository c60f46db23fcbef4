// libFuzzer target for the recorded walk's reader: any input must parse or
// be refused without a sanitizer report, and a parsed record's accessors
// must stay within it.

#include <cstdint>
#include <string>
#include <vector>

#include "search/walk_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto record = toka::WalkRecord::parse(std::string(reinterpret_cast<const char*>(data), size));
    if (!record) return 0;
    // Touch every byte a view points at, so a view past the record shows.
    std::uint64_t sum = record->options().size() + std::uint64_t(record->createdTime()) + record->listedEntries()
                        + record->createdAt().nanoseconds + record->accessFingerprint();
    for (const std::string& root : record->roots()) sum += root.size();
    for (const std::uint32_t root : record->rootBlocks()) {
        if (root >= record->blockCount() || record->parent(root)) __builtin_trap();
    }
    for (std::uint32_t id = 0; id < record->blockCount(); ++id) {
        sum += record->indexInParent(id) + record->listed(id);
        if (const auto stamp = record->stamp(id)) {
            if (stamp->modified.nanoseconds >= 1'000'000'000u || stamp->changed.nanoseconds >= 1'000'000'000u)
                __builtin_trap();
            sum += stamp->dev + stamp->ino + std::uint64_t(stamp->changed.seconds);
        }
        for (const toka::RecordedEntry& entry : record->entries(id)) {
            for (const char c : entry.name) sum += std::uint8_t(c);
            sum += std::uint8_t(entry.type);
        }
        for (const std::uint32_t child : record->children(id)) {
            if (child <= id || record->parent(child) != id) __builtin_trap();
        }
    }
    // The letter-pair index: its lists are decoded only when a replay counts
    // them, so every bucket is counted here, and every group's bytes lie
    // within the record.
    if (const toka::NameIndex* index = record->nameIndex()) {
        std::vector<std::pair<std::uint32_t, std::uint8_t>> everyBucket;
        for (std::uint32_t b = 0; b < toka::kNameIndexBuckets; ++b) everyBucket.emplace_back(b, 1);
        std::vector<std::uint8_t> counts;
        if (index->count(everyBucket, counts) && counts.size() != index->groupCount()) __builtin_trap();
        for (std::uint64_t g = 0; g < index->groupCount(); ++g) sum += index->minLength(g) + record->groupBytes(g);
    }
    volatile std::uint64_t sink = sum;
    (void)sink;
    return 0;
}
