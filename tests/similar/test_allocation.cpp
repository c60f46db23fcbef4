// The measures, and RateFile for an entry that the list turns away, allocate
// nothing: they run once per directory entry of a walk.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "similar/measures.h"
#include "similar/simlist.h"
#include "similar/weights.h"

namespace {
std::atomic<long> g_allocations{0};
}

void* operator new(std::size_t size) {
    ++g_allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
// GCC cannot see that the replacement new above pairs with these.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace toka::test {
namespace {

// Random names over the letters of the query and a few others, many of them
// with non-ASCII letters, invalid UTF-8 or above 64 letters (four-word sets).
std::vector<std::string> sampleNames(unsigned seed) {
    std::mt19937 rng(seed);
    const std::vector<std::string> pieces = {"c",   "o", "n", "f", "i", "g", "x", ".", "\xc3\xa4", "\xe6\x97\xa5",
                                             "\xff"};
    std::vector<std::string> names;
    for (int i = 0; i < 3000; ++i) {
        const int length = std::uniform_int_distribution<int>(1, i % 7 == 0 ? 120 : 20)(rng);
        std::string name;
        for (int k = 0; k < length; ++k)
            name += pieces[std::uniform_int_distribution<std::size_t>(0, pieces.size() - 1)(rng)];
        names.push_back(name);
    }
    return names;
}

TEST(Allocation, MeasuresAllocateNothing) {
    const WeightTable w = BuildWeights();
    const std::u32string query = U"CONFIG", longQuery(120, U'C');
    const std::u32string candidates[] = {U"CONFIG.TXT", U"XCONFIGURATION", std::u32string(255, U'C'), U"AB"};
    const long before = g_allocations;
    long double sum = 0;
    for (int round = 0; round < 100; ++round) {
        for (const auto& c : candidates) {
            const auto lc = static_cast<std::uint16_t>(c.size());
            sum += SimilarMeasure(query, c, w[6], w[lc], Real48());
            sum += FuzzyMeasure(query, c, 6, w[6], Real48(), lc);
            sum += FuzzyMeasure(longQuery, c, 120, w[120], Real48(), lc);
            sum += SimilarMeasure(longQuery, c, w[120], w[lc], Real48());
        }
    }
    EXPECT_EQ(g_allocations - before, 0);
    EXPECT_GT(sum, 0);
}

TEST(Allocation, RejectedEntriesAllocateNothing) {
    for (bool fuzzy : {true, false}) {
        SimList list;
        list.InitSimList("config", 200);
        for (const auto& name : sampleNames(1)) list.RateFile(name, "/some/dir/", fuzzy);
        ASSERT_GT(list.CutOff().value(), 0.0L) << "the list has overflowed";
        long rejected = 0, allocations = 0;
        for (const auto& name : sampleNames(2)) {
            if (Real48::fromExtended(list.Score(name, fuzzy, list.CutOff())) > list.CutOff()) continue;
            const long before = g_allocations;
            list.RateFile(name, "/some/dir/", fuzzy);
            allocations += g_allocations - before;
            ++rejected;
        }
        EXPECT_GT(rejected, 2000);
        EXPECT_EQ(allocations, 0) << (fuzzy ? "fuzzy" : "similar");
    }
}

} // namespace
} // namespace toka::test
