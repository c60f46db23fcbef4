// libFuzzer target for the recorded walk's reader: any input must parse or
// be refused without a sanitizer report, and a parsed record's accessors
// must stay within it.

#include <cstdint>
#include <string>

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
    volatile std::uint64_t sink = sum;
    (void)sink;
    return 0;
}
