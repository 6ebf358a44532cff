#include "cab_stream.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace cab::detail {

namespace {

constexpr std::uint32_t kHeaderSize = 36;
constexpr std::uint32_t kFolderEntrySize = 8;
constexpr std::uint32_t kFileEntrySize = 16;
constexpr std::uint16_t kCompressionLzx21 = 0x0003 | (lzx::kWindowBits << 8);
constexpr std::uint16_t kAttribArchive = 0x20;
constexpr std::uint16_t kAttribNameIsUtf8 = 0x80;
constexpr std::size_t kMaxNameBytes = 255;

void Put16(std::vector<std::uint8_t>& v, std::uint32_t x) {
    v.push_back(static_cast<std::uint8_t>(x));
    v.push_back(static_cast<std::uint8_t>(x >> 8));
}

void Put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}

std::uint32_t Narrow32(std::uint64_t x, const char* what) {
    if (x > std::numeric_limits<std::uint32_t>::max())
        throw CabError(std::string("cabinet too large: ") + what + " exceeds 4 GB");
    return static_cast<std::uint32_t>(x);
}

} // namespace

void MemorySink::Write(const void* data, std::size_t size) {
    auto* p = static_cast<const std::uint8_t*>(data);
    bytes.insert(bytes.end(), p, p + size);
}

void MemorySink::WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
    if (offset > bytes.size() || size > bytes.size() - offset)
        throw CabError("internal error: rewrite beyond the end of the cabinet");
    std::memcpy(bytes.data() + offset, data, size);
}

std::uint32_t Checksum(const std::uint8_t* data, std::size_t size, std::uint32_t seed) {
    std::uint32_t sum = seed;
    std::size_t i = 0;
    for (; i + 4 <= size; i += 4)
        sum ^= std::uint32_t(data[i]) | std::uint32_t(data[i + 1]) << 8 | std::uint32_t(data[i + 2]) << 16 |
               std::uint32_t(data[i + 3]) << 24;
    std::uint32_t tail = 0;
    for (; i < size; ++i) tail = (tail << 8) | data[i];
    return sum ^ tail;
}

CabinetStream::CabinetStream(Sink& sink, const lzx::EncoderOptions& options)
    : sink_(sink), options_(options) {
    frame_.reserve(lzx::kFrameSize);
}

void CabinetStream::Begin(std::vector<FileEntry> files) {
    if (files.empty()) throw CabError("no files to put into the cabinet");
    if (files.size() > 0xFFFF) throw CabError("too many files for one cabinet (at most 65535)");
    std::uint64_t total = 0;
    std::uint64_t entries = kHeaderSize + kFolderEntrySize;
    for (const FileEntry& f : files) {
        if (f.name.empty()) throw CabError("empty file name in cabinet");
        if (f.name.size() > kMaxNameBytes)
            throw CabError("file name too long for a cabinet (at most 255 bytes): " + f.name);
        if (f.name.find('\0') != std::string::npos) throw CabError("file name contains a NUL character");
        total += f.size;
        entries += kFileEntrySize + f.name.size() + 1;
    }
    if (total > kMaxFolderBytes)
        throw CabError("files too large for one cabinet: " + std::to_string(total) + " bytes, at most " +
                       std::to_string(kMaxFolderBytes));
    files_ = std::move(files);
    expectedTotal_ = total;
    if (total > lzx::kMaxE8StreamBytes) options_.e8TranslationSize = 0;
    encoder_ = std::make_unique<lzx::Encoder>(options_);
    dataStart_ = static_cast<std::uint32_t>(entries);
    WriteEntries();
    written_ = dataStart_;
}

void CabinetStream::WriteEntries() {
    std::vector<std::uint8_t> h;
    h.reserve(dataStart_);
    // CFHEADER
    h.insert(h.end(), {'M', 'S', 'C', 'F'});
    Put32(h, 0);
    Put32(h, Narrow32(std::max<std::uint64_t>(written_, dataStart_), "cabinet size"));
    Put32(h, 0);
    Put32(h, kHeaderSize + kFolderEntrySize); // first file entry
    Put32(h, 0);
    h.push_back(3); // version 1.3
    h.push_back(1);
    Put16(h, 1); // folders
    Put16(h, static_cast<std::uint32_t>(files_.size()));
    Put16(h, 0); // flags: no reserve area, no neighbouring cabinets
    Put16(h, 0); // set id
    Put16(h, 0); // index in set
    // CFFOLDER
    Put32(h, dataStart_);
    Put16(h, blocks_);
    Put16(h, kCompressionLzx21);
    // CFFILE entries
    std::uint64_t offset = 0;
    for (const FileEntry& f : files_) {
        Put32(h, Narrow32(f.size, "file size"));
        Put32(h, Narrow32(offset, "file offset"));
        Put16(h, 0); // folder 0
        Put16(h, f.dosDate);
        Put16(h, f.dosTime);
        bool ascii = std::all_of(f.name.begin(), f.name.end(), [](char c) { return (c & 0x80) == 0; });
        Put16(h, kAttribArchive | (ascii ? 0 : kAttribNameIsUtf8));
        h.insert(h.end(), f.name.begin(), f.name.end());
        h.push_back(0);
        offset += f.size;
    }
    if (written_ == 0)
        sink_.Write(h.data(), h.size());
    else
        sink_.WriteAt(0, h.data(), h.size());
}

bool CabinetStream::Append(std::span<const std::uint8_t> data, const BlockCallback& onBlock) {
    if (data.size() > kMaxFolderBytes - consumed_ - frame_.size())
        throw CabError("files too large for one cabinet: more than " + std::to_string(kMaxFolderBytes) +
                       " bytes");
    if (options_.e8TranslationSize && data.size() > lzx::kMaxE8StreamBytes - consumed_ - frame_.size())
        throw CabError("a file grew beyond 1 GB while it was being read");
    while (!data.empty()) {
        std::size_t take = std::min<std::size_t>(data.size(), lzx::kFrameSize - frame_.size());
        frame_.insert(frame_.end(), data.begin(), data.begin() + take);
        data = data.subspan(take);
        if (frame_.size() == lzx::kFrameSize && !EmitFrame(onBlock)) return false;
    }
    return true;
}

bool CabinetStream::EmitFrame(const BlockCallback& onBlock) {
    if (!encoder_) throw CabError("internal error: cabinet data before its entries");
    encoder_->EncodeFrame(frame_, packed_);
    // A block's compressed size field is 16 bits; LZX never expands a frame
    // by more than a few bytes over its 32 KB, so this only guards the encoder.
    if (packed_.size() > 0xFFFF) throw CabError("internal error: compressed block too large");
    std::uint8_t head[8];
    std::uint32_t sizes = static_cast<std::uint32_t>(packed_.size()) | std::uint32_t(frame_.size()) << 16;
    for (int i = 0; i < 4; ++i) head[4 + i] = static_cast<std::uint8_t>(sizes >> (8 * i));
    std::uint32_t sum = Checksum(head + 4, 4, Checksum(packed_.data(), packed_.size(), 0));
    for (int i = 0; i < 4; ++i) head[i] = static_cast<std::uint8_t>(sum >> (8 * i));
    sink_.Write(head, sizeof head);
    sink_.Write(packed_.data(), packed_.size());
    written_ += sizeof head + packed_.size();
    consumed_ += frame_.size();
    ++blocks_;
    frame_.clear();
    return !onBlock || onBlock(consumed_, std::max(consumed_, expectedTotal_));
}

bool CabinetStream::Finish(const std::vector<std::uint64_t>& actualSizes, const BlockCallback& onBlock) {
    if (actualSizes.size() != files_.size()) throw CabError("internal error: file count changed");
    if (!frame_.empty() && !EmitFrame(onBlock)) return false;
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < files_.size(); ++i) {
        files_[i].size = actualSizes[i];
        total += actualSizes[i];
    }
    if (total != consumed_) throw CabError("internal error: file sizes do not add up to the data written");
    Narrow32(written_, "cabinet size");
    WriteEntries();
    return true;
}

std::vector<std::uint8_t>
BuildCabinet(const std::vector<std::pair<std::string, std::vector<std::uint8_t>>>& files,
             const lzx::EncoderOptions& options) {
    MemorySink sink;
    CabinetStream stream(sink, options);
    std::vector<FileEntry> entries;
    std::vector<std::uint64_t> sizes;
    for (const auto& [name, data] : files) {
        entries.push_back({name, data.size()});
        sizes.push_back(data.size());
    }
    stream.Begin(std::move(entries));
    for (const auto& f : files) stream.Append(f.second, nullptr);
    stream.Finish(sizes, nullptr);
    return std::move(sink.bytes);
}

} // namespace cab::detail
