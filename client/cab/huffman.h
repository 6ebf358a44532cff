// Length-limited canonical Huffman codes as LZX transmits them: code lengths
// only, codes assigned in order of length, then symbol.
#pragma once

#include <cstdint>
#include <span>

namespace cab::lzx {

// Code lengths for the given symbol frequencies, none longer than maxLength.
// The result is always a complete code with at least two symbols (unused
// symbols get length 0), because decoders reject incomplete code tables.
void BuildCodeLengths(std::span<const std::uint32_t> freq, int maxLength, std::span<std::uint8_t> lengths);

// Canonical codes for the lengths (MSB-first bit patterns).
void AssignCodes(std::span<const std::uint8_t> lengths, std::span<std::uint16_t> codes);

} // namespace cab::lzx
