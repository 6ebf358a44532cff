// Compression benchmark for report cabinets: our LZX cabinet against deflate
// (zlib level 6) in 32 KB blocks, the MSZIP way, and as one continuous stream.
//
//   cab_bench [--depth N] [--nice N] FILE...   size and time per file
//   cab_bench --gen-dump FILE BYTES            writes a synthetic dump-shaped file
//   cab_bench --cabinet CAB FILE...            WriteCabinet, as the client calls it
#include "cab_stream.h"
#include "cabinet.h"
#include "test_data.h"

#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::uint8_t> ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Each 32 KB block deflated on its own, plus the 8-byte block header and the
// 2-byte "CK" signature a cabinet's MSZIP block carries.
std::uint64_t DeflateBlocks(const std::vector<std::uint8_t>& data) {
    std::uint64_t total = 0;
    std::vector<std::uint8_t> out(compressBound(32768) + 64);
    for (std::size_t at = 0; at < data.size(); at += 32768) {
        std::size_t n = std::min<std::size_t>(32768, data.size() - at);
        z_stream z{};
        deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
        z.next_in = const_cast<Bytef*>(data.data() + at);
        z.avail_in = static_cast<uInt>(n);
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        deflate(&z, Z_FINISH);
        total += 8 + 2 + std::min<std::uint64_t>(z.total_out, n + 5);
        deflateEnd(&z);
    }
    return total;
}

std::uint64_t DeflateStream(const std::vector<std::uint8_t>& data) {
    uLongf size = compressBound(data.size());
    std::vector<std::uint8_t> out(size);
    compress2(out.data(), &size, data.data(), data.size(), 6);
    return size;
}

struct Result {
    std::uint64_t size;
    double seconds;
    double cpuSeconds;
    cab::lzx::EncoderStats stats;
};

Result Lzx(const std::vector<std::uint8_t>& data, const cab::lzx::EncoderOptions& o) {
    auto start = Clock::now();
    std::clock_t cpu = std::clock();
    cab::detail::MemorySink sink;
    cab::detail::CabinetStream stream(sink, o);
    stream.Begin({{"report.dmp", data.size()}});
    stream.Append(data, nullptr);
    stream.Finish({data.size()}, nullptr);
    double s = std::chrono::duration<double>(Clock::now() - start).count();
    double c = double(std::clock() - cpu) / CLOCKS_PER_SEC;
    return {sink.bytes.size(), s, c, stream.encoder().stats()};
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--gen-dump") == 0) {
        auto d = cabtest::DumpLikeBytes(std::stoull(argv[3]), 2026);
        std::ofstream(argv[2], std::ios::binary)
            .write(reinterpret_cast<const char*>(d.data()), static_cast<std::streamsize>(d.size()));
        return 0;
    }
    if (argc >= 4 && std::strcmp(argv[1], "--cabinet") == 0) {
        std::vector<cab::CabinetFile> files;
        for (int i = 3; i < argc; ++i) {
            std::string path = argv[i];
            files.push_back({path.substr(path.find_last_of('/') + 1), path});
        }
        std::uint64_t blocks = 0;
        std::string error;
        auto start = Clock::now();
        std::clock_t cpu = std::clock();
        bool ok = cab::WriteCabinet(
            argv[2], files,
            [&](std::uint64_t, std::uint64_t) {
                ++blocks;
                return true;
            },
            &error);
        std::printf("%s: %s, %llu blocks, %.2f s wall, %.2f s cpu\n", argv[2], ok ? "written" : error.c_str(),
                    (unsigned long long)blocks, std::chrono::duration<double>(Clock::now() - start).count(),
                    double(std::clock() - cpu) / CLOCKS_PER_SEC);
        return ok ? 0 : 1;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: cab_bench [--depth N] [--nice N] FILE... | --gen-dump FILE BYTES | "
                             "--cabinet CAB FILE...\n");
        return 2;
    }
    std::printf("%-28s %11s %11s %11s %11s %7s %7s %8s %8s  %s\n", "file", "bytes", "lzx-cab", "lzx+e8",
                "deflate32k", "ratio", "e8", "wall s", "cpu s", "blocks v/a/u");
    int worst = 0;
    cab::lzx::EncoderOptions plain;
    int first = 1;
    // Tuning knobs for experiments: --depth N --nice N before the files.
    while (first + 1 < argc && argv[first][0] == '-' && argv[first][1] == '-') {
        if (std::strcmp(argv[first], "--depth") == 0)
            plain.searchDepth = std::stoi(argv[first + 1]);
        else if (std::strcmp(argv[first], "--nice") == 0)
            plain.niceLength = std::stoi(argv[first + 1]);
        first += 2;
    }
    for (int i = first; i < argc; ++i) {
        auto data = ReadFile(argv[i]);
        cab::lzx::EncoderOptions e8 = plain;
        e8.e8TranslationSize = 12000000;
        Result a = Lzx(data, plain);
        Result b = Lzx(data, e8);
        std::uint64_t d = DeflateBlocks(data);
        std::uint64_t ds = DeflateStream(data);
        double ratio = d ? double(a.size) / double(d) : 0;
        std::string name = argv[i];
        if (name.size() > 28) name = "..." + name.substr(name.size() - 25);
        std::printf("%-28s %11zu %11llu %11llu %11llu %7.3f %7.3f %8.2f %8.2f  %llu/%llu/%llu  (deflate "
                    "stream %llu)\n",
                    name.c_str(), data.size(), (unsigned long long)a.size, (unsigned long long)b.size,
                    (unsigned long long)d, ratio, d ? double(b.size) / double(d) : 0, a.seconds, a.cpuSeconds,
                    (unsigned long long)a.stats.verbatimBlocks, (unsigned long long)a.stats.alignedBlocks,
                    (unsigned long long)a.stats.uncompressedBlocks, (unsigned long long)ds);
        if (ratio > 1.1) worst = 1;
    }
    return worst;
}
