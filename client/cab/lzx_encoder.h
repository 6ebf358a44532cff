// LZX compressor producing the cabinet flavour of the format: a 2 MB window,
// 32 KB frames each padded to a 16-bit boundary, optional x86 call (E8)
// translation announced by the stream's first bit.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace cab::lzx {

inline constexpr unsigned kWindowBits = 21;
inline constexpr std::uint32_t kWindowSize = 1u << kWindowBits;
inline constexpr std::uint32_t kFrameSize = 32768;
// Decoders undo E8 translation only in the first 32768 frames (1 GB).
inline constexpr std::uint64_t kMaxE8StreamBytes = std::uint64_t(kFrameSize) * 32768;

struct EncoderOptions {
    // false: every frame goes out as an uncompressed block (valid, no gain).
    bool compress = true;
    // Non-zero: E8 call translation with this translation size.
    std::uint32_t e8TranslationSize = 0;
    // Match finder effort: candidates looked at per position (at most 32),
    // and the match length that ends the search early.
    int searchDepth = 32;
    int niceLength = 96;
};

struct EncoderStats {
    std::uint64_t verbatimBlocks = 0;
    std::uint64_t alignedBlocks = 0;
    std::uint64_t uncompressedBlocks = 0;
};

class Encoder {
public:
    explicit Encoder(const EncoderOptions& options = {});
    ~Encoder();
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    // Encodes the next frame of the stream: exactly kFrameSize bytes, fewer
    // only for the last frame. `out` receives the frame's compressed bytes,
    // which form one cabinet data block.
    void EncodeFrame(std::span<const std::uint8_t> frame, std::vector<std::uint8_t>& out);

    const EncoderStats& stats() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace cab::lzx
