#include "mspack_roundtrip.h"

#include "cab_stream.h"

#include <mspack.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace cabtest {

namespace {

// libmspack opens "files" by name; our names are pointers to these.
struct MemFile {
    std::vector<std::uint8_t>* data = nullptr;
    std::size_t pos = 0;
    bool writable = false;
};

struct Handle {
    MemFile* file;
};

mspack_file* MemOpen(mspack_system*, const char* name, int mode) {
    auto* f = reinterpret_cast<MemFile*>(const_cast<char*>(name));
    if (mode == MSPACK_SYS_OPEN_WRITE) f->data->clear();
    f->pos = 0;
    return reinterpret_cast<mspack_file*>(new Handle{f});
}

void MemClose(mspack_file* h) { delete reinterpret_cast<Handle*>(h); }

int MemRead(mspack_file* h, void* buffer, int bytes) {
    MemFile* f = reinterpret_cast<Handle*>(h)->file;
    if (bytes < 0) return -1;
    std::size_t n = std::min<std::size_t>(bytes, f->data->size() - std::min(f->pos, f->data->size()));
    if (n) std::memcpy(buffer, f->data->data() + f->pos, n);
    f->pos += n;
    return static_cast<int>(n);
}

int MemWrite(mspack_file* h, void* buffer, int bytes) {
    MemFile* f = reinterpret_cast<Handle*>(h)->file;
    if (bytes < 0) return -1;
    auto* p = static_cast<std::uint8_t*>(buffer);
    f->data->insert(f->data->end(), p, p + bytes);
    return bytes;
}

int MemSeek(mspack_file* h, off_t offset, int mode) {
    MemFile* f = reinterpret_cast<Handle*>(h)->file;
    off_t base = mode == MSPACK_SYS_SEEK_START ? 0
                 : mode == MSPACK_SYS_SEEK_CUR ? static_cast<off_t>(f->pos)
                                               : static_cast<off_t>(f->data->size());
    off_t target = base + offset;
    if (target < 0 || target > static_cast<off_t>(f->data->size())) return -1;
    f->pos = static_cast<std::size_t>(target);
    return 0;
}

off_t MemTell(mspack_file* h) { return static_cast<off_t>(reinterpret_cast<Handle*>(h)->file->pos); }

void MemMessage(mspack_file*, const char*, ...) {}
void* MemAlloc(mspack_system*, std::size_t bytes) { return std::malloc(bytes); }
void MemFree(void* p) { std::free(p); }
void MemCopy(void* src, void* dest, std::size_t bytes) { std::memmove(dest, src, bytes); }

mspack_system memorySystem = {MemOpen,    MemClose, MemRead, MemWrite, MemSeek, MemTell,
                              MemMessage, MemAlloc, MemFree, MemCopy,  nullptr};

struct DecompressorDeleter {
    void operator()(mscab_decompressor* d) const { mspack_destroy_cab_decompressor(d); }
};

std::string Describe(const std::vector<std::uint8_t>& want, const std::vector<std::uint8_t>& got) {
    if (want.size() != got.size())
        return "size " + std::to_string(got.size()) + ", expected " + std::to_string(want.size());
    auto diff = std::mismatch(want.begin(), want.end(), got.begin());
    return "first difference at byte " + std::to_string(diff.first - want.begin());
}

} // namespace

Extracted ExtractWithMspack(std::span<const std::uint8_t> cabinet) {
    Extracted result;
    std::unique_ptr<mscab_decompressor, DecompressorDeleter> cabd(
        mspack_create_cab_decompressor(&memorySystem));
    if (!cabd) {
        result.error = "libmspack: cannot create decompressor";
        return result;
    }
    std::vector<std::uint8_t> image(cabinet.begin(), cabinet.end());
    MemFile in{&image};
    mscabd_cabinet* cab = cabd->open(cabd.get(), reinterpret_cast<const char*>(&in));
    if (!cab) {
        result.error = "libmspack: open failed, error " + std::to_string(cabd->last_error(cabd.get()));
        return result;
    }
    if (cab->folders) result.compressionType = cab->folders->comp_type;
    for (mscabd_file* f = cab->files; f; f = f->next) {
        std::vector<std::uint8_t> out;
        MemFile outFile{&out, 0, true};
        int err = cabd->extract(cabd.get(), f, reinterpret_cast<const char*>(&outFile));
        if (err != MSPACK_ERR_OK) {
            result.error =
                "libmspack: extracting " + std::string(f->filename) + " failed, error " + std::to_string(err);
            break;
        }
        result.files.emplace_back(f->filename, std::move(out));
    }
    cabd->close(cabd.get(), cab);
    return result;
}

std::string RoundTrip(const Files& files, const cab::lzx::EncoderOptions& options) {
    std::vector<std::uint8_t> cabinet;
    try {
        cabinet = cab::detail::BuildCabinet(files, options);
    } catch (const std::exception& e) {
        return std::string("writer failed: ") + e.what();
    }
    Extracted got = ExtractWithMspack(cabinet);
    if (!got.error.empty()) return got.error;
    if (got.compressionType != 0x1503) return "compression type " + std::to_string(got.compressionType);
    if (got.files.size() != files.size()) return "file count " + std::to_string(got.files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (got.files[i].first != files[i].first)
            return "name '" + got.files[i].first + "', expected '" + files[i].first + "'";
        if (got.files[i].second != files[i].second)
            return files[i].first + ": " + Describe(files[i].second, got.files[i].second);
    }
    return {};
}

std::string FuzzRoundTrip(std::span<const std::uint8_t> input) {
    // byte 0: option bits; byte 1: how often the payload is repeated (with a
    // running counter mixed in), so small inputs still span several frames
    // and reach far back in the window.
    if (input.size() < 2) return {};
    cab::lzx::EncoderOptions options;
    options.compress = (input[0] & 1) == 0;
    options.e8TranslationSize = (input[0] & 2) ? 12000000u : 0u;
    options.searchDepth = (input[0] & 4) ? 4 : 24;
    options.niceLength = (input[0] & 8) ? 257 : 32;
    std::span<const std::uint8_t> payload = input.subspan(2);
    std::vector<std::uint8_t> data;
    int copies = 1 + input[1];
    // Mostly small cases; bit 6 lets a few reach past the 2 MB window.
    std::size_t cap = (input[0] & 64) ? std::size_t(3) << 20 : std::size_t(1) << 18;
    data.reserve(std::min(payload.size() * copies, cap + payload.size()));
    for (int c = 0; c < copies && data.size() < cap; ++c) {
        data.insert(data.end(), payload.begin(), payload.end());
        if ((input[0] & 16) && !data.empty())
            data[data.size() - 1 - (c % data.size())] ^= static_cast<std::uint8_t>(c);
    }
    Files files;
    if (input[0] & 32) {
        // Two files split at an arbitrary point of the same data.
        std::size_t cut = data.empty() ? 0 : input[1] * 131u % (data.size() + 1);
        files.emplace_back("a.dmp", std::vector<std::uint8_t>(data.begin(), data.begin() + cut));
        files.emplace_back("b.txt", std::vector<std::uint8_t>(data.begin() + cut, data.end()));
    } else {
        files.emplace_back("report.dmp", std::move(data));
    }
    return RoundTrip(files, options);
}

} // namespace cabtest
