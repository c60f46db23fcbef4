// Order keys against the plain row comparison they stand for: keys that
// share their upper part (as the walk makes them) and keys made apart.

#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "search/walk_order.h"

namespace toka::test {
namespace {

// A key with the row of numbers it stands for.
struct Keyed {
    OrderKey key;
    std::vector<std::uint32_t> row;
};

Keyed rootOf(std::uint32_t index) { return {OrderKey::root(index), {index}}; }
Keyed entryOf(const Keyed& k, std::uint32_t i) {
    Keyed e{k.key.entry(i), k.row};
    e.row.push_back(2 * i + 1);
    return e;
}
Keyed subtreeOf(const Keyed& k, std::uint32_t i) {
    Keyed s{k.key.subtree(i), k.row};
    s.row.push_back(2 * i);
    return s;
}

void expectOrderedAsRows(const std::vector<Keyed>& keys) {
    for (std::size_t a = 0; a < keys.size(); ++a)
        for (std::size_t b = 0; b < keys.size(); ++b) {
            ASSERT_EQ(keys[a].key < keys[b].key, keys[a].row < keys[b].row) << a << " " << b;
            ASSERT_EQ(keys[a].key == keys[b].key, keys[a].row == keys[b].row) << a << " " << b;
        }
}

TEST(OrderKey, ComparesAsItsRow) {
    const Keyed root0 = rootOf(0);
    const Keyed dir = subtreeOf(root0, 3);
    const Keyed again = subtreeOf(rootOf(0), 3); // the same row, made apart
    expectOrderedAsRows({
        root0, rootOf(1), rootOf(0xFFFFFFFF), dir, again, entryOf(root0, 3), entryOf(dir, 0), entryOf(again, 0),
        subtreeOf(subtreeOf(again, 1), 7), subtreeOf(subtreeOf(dir, 1), 7), entryOf(subtreeOf(dir, 1), 2),
        entryOf(root0, 0x7FFFFFFF), Keyed{}, // the empty key before every other
    });
}

// Chains thousands deep that fork at every depth, and keys made along a
// random tree: the ancestor jumps must land on the fork whatever the depths.
TEST(OrderKey, DeepAndForkingChainsCompareAsTheirRows) {
    std::vector<Keyed> spine = {rootOf(2)};
    for (std::uint32_t level = 1; level < 3000; ++level) spine.push_back(subtreeOf(spine.back(), level % 3));
    std::vector<Keyed> keys;
    for (std::uint32_t at : {0u, 1u, 2u, 3u, 7u, 64u, 100u, 1023u, 1024u, 2047u, 2998u, 2999u}) {
        keys.push_back(spine[at]);
        keys.push_back(entryOf(spine[at], 1));
        Keyed fork = subtreeOf(spine[at], 5);
        for (std::uint32_t level = 0; level < at % 500; ++level) fork = subtreeOf(fork, level % 2);
        keys.push_back(fork);
    }
    std::mt19937 random(7);
    std::vector<Keyed> tree = {rootOf(0), rootOf(1)};
    for (int i = 0; i < 300; ++i) {
        const Keyed& parent = tree[random() % tree.size()];
        const std::uint32_t index = random() % 3;
        tree.push_back(random() % 4 ? subtreeOf(parent, index) : entryOf(parent, index));
    }
    for (std::size_t i = 0; i < tree.size(); i += 3) keys.push_back(tree[i]);
    expectOrderedAsRows(keys);
}

} // namespace
} // namespace toka::test
