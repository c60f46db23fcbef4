#pragma once
// An entry's place in the order in which the one-thread walk rates entries:
// the roots one after the other, in each directory the entries in listing
// order, and a directory's contents before the directory's own entry.
//
// The key is a row of 32-bit numbers, stored big-endian so that comparing
// the bytes compares the rows: a root r is [r]; below a key k, the entry at
// listing index i is k + [2i + 1] and the contents of that entry (when it is
// a directory) lie below k + [2i].  So the contents come before their
// directory, and before every later entry of the same listing.

#include <cstdint>
#include <string>

namespace toka {

class OrderKey {
public:
    OrderKey() = default;
    static OrderKey root(std::uint32_t index) { return OrderKey().appended(index); }

    /// The key of the entry at listing index i of the directory with this key.
    OrderKey entry(std::uint32_t i) const { return appended(2 * i + 1); }
    /// The key below which the contents of that entry lie.
    OrderKey subtree(std::uint32_t i) const { return appended(2 * i); }

    /// A prefix sorts before its extensions: a directory's key before
    /// everything below it.
    friend bool operator<(const OrderKey& a, const OrderKey& b) { return a.m_bytes < b.m_bytes; }
    friend bool operator==(const OrderKey& a, const OrderKey& b) = default;

private:
    OrderKey appended(std::uint32_t value) const {
        OrderKey key;
        key.m_bytes.reserve(m_bytes.size() + 4);
        key.m_bytes = m_bytes;
        for (int shift = 24; shift >= 0; shift -= 8) key.m_bytes.push_back(static_cast<char>((value >> shift) & 0xFF));
        return key;
    }
    std::string m_bytes;
};

} // namespace toka
