#pragma once
// An entry's place in the order in which the one-thread walk rates entries:
// the roots one after the other, in each directory the entries in listing
// order, and a directory's contents before the directory's own entry.
//
// The key is a row of 32-bit numbers, compared as rows: a root r is [r];
// below a key k, the entry at listing index i is k + [2i + 1] and the
// contents of that entry (when it is a directory) lie below k + [2i].  So
// the contents come before their directory, and before every later entry of
// the same listing.
//
// The row is a chain (walk_chain.h): a key made from another shares its
// nodes, so a key costs one node whatever its depth, and two keys that share
// their upper part are compared where they fork, found in O(log depth)
// steps, without reading the shared part.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "search/walk_chain.h"

namespace toka {

class OrderKey {
public:
    OrderKey() = default;
    static OrderKey root(std::uint32_t index) { return OrderKey(Numbers().extended(index)); }

    /// The key of the entry at listing index i of the directory with this key.
    OrderKey entry(std::uint32_t i) const { return OrderKey(m_numbers.extended(2 * i + 1)); }
    /// The key below which the contents of that entry lie.
    OrderKey subtree(std::uint32_t i) const { return OrderKey(m_numbers.extended(2 * i)); }

    /// A prefix sorts before its extensions: a directory's key before
    /// everything below it.
    friend bool operator<(const OrderKey& a, const OrderKey& b) { return compare(a, b) < 0; }
    friend bool operator==(const OrderKey& a, const OrderKey& b) { return compare(a, b) == 0; }

private:
    using Numbers = Chain<std::uint32_t>;
    using Node = Numbers::Node;
    explicit OrderKey(Numbers numbers) : m_numbers(std::move(numbers)) {}

    static int compare(const OrderKey& a, const OrderKey& b) {
        const Node* x = a.m_numbers.node();
        const Node* y = b.m_numbers.node();
        if (x == y) return 0;
        const std::uint32_t dx = Numbers::depthOf(x);
        const std::uint32_t dy = Numbers::depthOf(y);
        const Node* u = Numbers::ancestorAt(x, std::min(dx, dy));
        const Node* v = Numbers::ancestorAt(y, std::min(dx, dy));
        if (u == v) return dx < dy ? -1 : dx > dy ? 1 : 0; // one holds the other
        const auto [p, q] = Numbers::belowFork(u, v);
        if (p->part != q->part) return p->part < q->part ? -1 : 1;
        return compareRows(x, y); // equal numbers in nodes made apart
    }

    // The plain comparison, number by number from the top.
    static int compareRows(const Node* x, const Node* y) {
        auto row = [](const Node* node) {
            std::vector<std::uint32_t> numbers;
            for (; node; node = node->parent) numbers.push_back(node->part);
            std::reverse(numbers.begin(), numbers.end());
            return numbers;
        };
        const std::vector<std::uint32_t> a = row(x);
        const std::vector<std::uint32_t> b = row(y);
        return a < b ? -1 : b < a ? 1 : 0;
    }

    Numbers m_numbers;
};

} // namespace toka
