#pragma once
// A chain shared between the levels of a walk: each node holds its own part
// (a number of an order key, a directory's name) and a counted reference to
// the node above it, so that everything below a directory shares the nodes
// of its path instead of copying them.  A level costs one node, however
// deep it lies.
//
// Each node also points to an ancestor further up (skew-binary jumps: the
// distances double along a run of jumps), so that the ancestor at any depth
// and the first node two chains share are found in O(log depth) steps.
// Chains are read from any thread; the counts are atomic, and a chain is
// released without recursion, however long it is.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace toka {

template <class Part>
class Chain {
public:
    struct Node {
        Part part;
        const Node* parent;  // counted: every node holds one reference to it
        const Node* jump;    // an ancestor, not counted (parent keeps it)
        std::uint32_t depth; // 1 for the first node of a chain
        mutable std::atomic<std::size_t> refs{1};
    };

    Chain() = default;
    Chain(const Chain& other) noexcept : m_node(other.m_node) { retain(m_node); }
    Chain(Chain&& other) noexcept : m_node(std::exchange(other.m_node, nullptr)) {}
    Chain& operator=(Chain other) noexcept {
        std::swap(m_node, other.m_node);
        return *this;
    }
    ~Chain() { release(m_node); }

    /// This chain with part added below its last node (an empty chain gets
    /// its first node).
    Chain extended(Part part) const {
        retain(m_node);
        return Chain(new Node{std::move(part), m_node, jumpBelow(m_node), depth() + 1});
    }

    bool empty() const { return m_node == nullptr; }
    std::uint32_t depth() const { return depthOf(m_node); }
    const Node* node() const { return m_node; }
    /// The last node's part; the chain must not be empty.
    const Part& last() const { return m_node->part; }

    static std::uint32_t depthOf(const Node* node) { return node ? node->depth : 0; }

    /// node's ancestor at depth (node itself at its own depth; null at 0).
    static const Node* ancestorAt(const Node* node, std::uint32_t depth) {
        while (depthOf(node) > depth) node = depthOf(node->jump) >= depth ? node->jump : node->parent;
        return node;
    }

    /// For two different nodes at the same depth: the ancestors of each
    /// (themselves included) right below the deepest node the two share
    /// (or at depth 1 when they share none).
    static std::pair<const Node*, const Node*> belowFork(const Node* a, const Node* b) {
        while (a->parent != b->parent) {
            // Jumps of nodes at one depth lead to one depth: when they still
            // differ, the fork lies above them.
            if (a->jump != b->jump) {
                a = a->jump;
                b = b->jump;
            } else {
                a = a->parent;
                b = b->parent;
            }
        }
        return {a, b};
    }

private:
    explicit Chain(const Node* node) : m_node(node) {}

    // A child of parent jumps two of parent's jumps up when those two are
    // of equal length, else to parent (no parent counts as depth 0).
    static const Node* jumpBelow(const Node* parent) {
        if (!parent) return nullptr;
        const Node* once = parent->jump;
        const Node* twice = once ? once->jump : nullptr;
        return parent->depth - depthOf(once) == depthOf(once) - depthOf(twice) ? twice : parent;
    }

    static void retain(const Node* node) {
        if (node) node->refs.fetch_add(1, std::memory_order_relaxed);
    }
    static void release(const Node* node) {
        while (node && node->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            const Node* parent = node->parent;
            delete node;
            node = parent;
        }
    }

    const Node* m_node = nullptr;
};

} // namespace toka
