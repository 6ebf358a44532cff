#include "huffman.h"

#include <algorithm>
#include <queue>
#include <vector>

namespace cab::lzx {

namespace {

// Plain Huffman lengths; returns the longest.
int HuffmanLengths(const std::vector<std::uint32_t>& freq, const std::vector<int>& symbols,
                   std::span<std::uint8_t> lengths) {
    struct Node {
        std::uint64_t weight;
        int parent;
    };
    std::vector<Node> nodes;
    nodes.reserve(symbols.size() * 2);
    using Item = std::pair<std::uint64_t, int>;
    std::priority_queue<Item, std::vector<Item>, std::greater<>> heap;
    for (int s : symbols) {
        heap.emplace(freq[s], static_cast<int>(nodes.size()));
        nodes.push_back({freq[s], -1});
    }
    while (heap.size() > 1) {
        auto [wa, a] = heap.top();
        heap.pop();
        auto [wb, b] = heap.top();
        heap.pop();
        int parent = static_cast<int>(nodes.size());
        nodes.push_back({wa + wb, -1});
        nodes[a].parent = parent;
        nodes[b].parent = parent;
        heap.emplace(wa + wb, parent);
    }
    // Parents are created after their children, so one backward pass gives depths.
    std::vector<int> depth(nodes.size(), 0);
    for (int i = static_cast<int>(nodes.size()) - 2; i >= 0; --i) depth[i] = depth[nodes[i].parent] + 1;
    int longest = 0;
    for (std::size_t i = 0; i < symbols.size(); ++i) {
        lengths[symbols[i]] = static_cast<std::uint8_t>(std::min(depth[i], 255));
        longest = std::max(longest, depth[i]);
    }
    return longest;
}

} // namespace

void BuildCodeLengths(std::span<const std::uint32_t> freq, int maxLength, std::span<std::uint8_t> lengths) {
    const int n = static_cast<int>(freq.size());
    std::fill(lengths.begin(), lengths.end(), 0);
    std::vector<std::uint32_t> f(freq.begin(), freq.end());
    std::vector<int> used;
    for (int s = 0; s < n; ++s)
        if (f[s]) used.push_back(s);
    // A single-symbol or empty code is padded to two symbols of length 1.
    if (used.size() < 2) {
        int first = used.empty() ? 0 : used[0];
        int second = first == 0 ? 1 : 0;
        lengths[first] = 1;
        lengths[second] = 1;
        return;
    }
    // Flatten the frequencies until the tree fits; equal weights give a
    // balanced tree, so this ends for any maxLength >= log2(symbols).
    while (HuffmanLengths(f, used, lengths) > maxLength) {
        for (int s : used) f[s] = (f[s] >> 1) | 1;
    }
}

void AssignCodes(std::span<const std::uint8_t> lengths, std::span<std::uint16_t> codes) {
    int count[33] = {};
    for (std::uint8_t l : lengths) ++count[l];
    count[0] = 0;
    unsigned next[33] = {};
    unsigned code = 0;
    for (int bits = 1; bits <= 32; ++bits) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    for (std::size_t s = 0; s < lengths.size(); ++s)
        codes[s] = lengths[s] ? static_cast<std::uint16_t>(next[lengths[s]]++) : 0;
}

} // namespace cab::lzx
