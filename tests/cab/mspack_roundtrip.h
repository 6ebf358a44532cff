// Independent check of our cabinets: libmspack's decompressor, in memory.
#pragma once

#include "lzx_encoder.h"

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace cabtest {

using Files = std::vector<std::pair<std::string, std::vector<std::uint8_t>>>;

struct Extracted {
    std::string error; // empty on success
    int compressionType = -1;
    Files files;
};

// Opens a cabinet image with libmspack (checksums verified) and extracts every file.
Extracted ExtractWithMspack(std::span<const std::uint8_t> cabinet);

// Builds a cabinet of `files` with our writer, extracts it with libmspack and
// compares. Returns an empty string when everything matches.
std::string RoundTrip(const Files& files, const cab::lzx::EncoderOptions& options);

// The fuzz target's view of an input: option bits, a tiling factor, payload.
std::string FuzzRoundTrip(std::span<const std::uint8_t> input);

} // namespace cabtest
