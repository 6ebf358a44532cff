// The cabinet container around the LZX stream, independent of where the bytes
// go: WriteCabinet streams it into a file, tests and the fuzz target into memory.
#pragma once

#include "lzx_encoder.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace cab::detail {

// Every failure inside the writer; the message is what the caller shows.
class CabError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Sink {
public:
    virtual ~Sink() = default;
    virtual void Write(const void* data, std::size_t size) = 0;
    // Overwrites bytes already written (the header is completed last).
    virtual void WriteAt(std::uint64_t offset, const void* data, std::size_t size) = 0;
};

class MemorySink : public Sink {
public:
    void Write(const void* data, std::size_t size) override;
    void WriteAt(std::uint64_t offset, const void* data, std::size_t size) override;
    std::vector<std::uint8_t> bytes;
};

struct FileEntry {
    std::string name;
    std::uint64_t size = 0;       // expected size; the real size is given to Finish
    std::uint16_t dosDate = 0x21; // 1980-01-01
    std::uint16_t dosTime = 0;
};

// Data block checksum: XOR of little-endian 32-bit words, the 1-3 trailing
// bytes folded in big-endian order; seed chains the data and header parts.
std::uint32_t Checksum(const std::uint8_t* data, std::size_t size, std::uint32_t seed);

// Largest folder a cabinet can describe: 65535 data blocks of 32 KB.
inline constexpr std::uint64_t kMaxFolderBytes = 65535ull * lzx::kFrameSize;

class CabinetStream {
public:
    // Called after each data block with (bytes consumed, total expected);
    // returning false cancels.
    using BlockCallback = std::function<bool(std::uint64_t, std::uint64_t)>;

    CabinetStream(Sink& sink, const lzx::EncoderOptions& options);

    // Writes header, folder and file entries; they are rewritten by Finish.
    void Begin(std::vector<FileEntry> files);
    // Appends folder data (the files' contents, in order). Returns false when
    // the block callback cancelled.
    bool Append(std::span<const std::uint8_t> data, const BlockCallback& onBlock);
    // Flushes the last block and completes the entries with the sizes read.
    bool Finish(const std::vector<std::uint64_t>& actualSizes, const BlockCallback& onBlock);

    std::uint64_t consumed() const { return consumed_; }
    const lzx::Encoder& encoder() const { return *encoder_; }

private:
    bool EmitFrame(const BlockCallback& onBlock);
    void WriteEntries();

    Sink& sink_;
    lzx::EncoderOptions options_;
    std::unique_ptr<lzx::Encoder> encoder_;
    std::vector<FileEntry> files_;
    std::vector<std::uint8_t> frame_;
    std::vector<std::uint8_t> packed_;
    std::uint64_t expectedTotal_ = 0;
    std::uint64_t consumed_ = 0;
    std::uint64_t written_ = 0;
    std::uint32_t blocks_ = 0;
    std::uint32_t dataStart_ = 0;
};

// Builds a whole cabinet in memory (tests, fuzzing).
std::vector<std::uint8_t>
BuildCabinet(const std::vector<std::pair<std::string, std::vector<std::uint8_t>>>& files,
             const lzx::EncoderOptions& options);

} // namespace cab::detail
