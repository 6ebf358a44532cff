#include "cab_stream.h"
#include "cabinet.h"
#include "lzx_encoder.h"
#include "mspack_roundtrip.h"
#include "test_data.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;
using cab::lzx::EncoderOptions;
using cabtest::Files;

namespace {

std::vector<std::uint8_t> Mixed(std::size_t n, std::uint64_t seed) {
    std::vector<std::uint8_t> v = cabtest::DumpLikeBytes(n / 2, seed);
    auto r = cabtest::RandomBytes(n / 8, seed + 1);
    auto t = cabtest::TextBytes(n - v.size() - r.size(), seed + 2);
    v.insert(v.end(), r.begin(), r.end());
    v.insert(v.end(), t.begin(), t.end());
    return v;
}

EncoderOptions Stored() {
    EncoderOptions o;
    o.compress = false;
    return o;
}

EncoderOptions WithE8() {
    EncoderOptions o;
    o.e8TranslationSize = 12000000;
    return o;
}

class TempDir {
public:
    TempDir() {
        static int counter = 0;
        path_ = fs::temp_directory_path() /
                ("ulmarrocab-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

void WriteFile(const fs::path& p, const std::vector<std::uint8_t>& data) {
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

std::vector<std::uint8_t> ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint64_t CompressedSize(const std::vector<std::uint8_t>& data, const EncoderOptions& o,
                             cab::lzx::EncoderStats* stats = nullptr) {
    cab::detail::MemorySink sink;
    cab::detail::CabinetStream stream(sink, o);
    stream.Begin({{"x", data.size()}});
    stream.Append(data, nullptr);
    stream.Finish({data.size()}, nullptr);
    if (stats) *stats = stream.encoder().stats();
    return sink.bytes.size();
}

} // namespace

TEST(CabChecksum, FoldsTailBytesBigEndian) {
    const std::uint8_t d[] = {0x01, 0x02, 0x03, 0x04, 0x10, 0x20, 0x30};
    EXPECT_EQ(cab::detail::Checksum(d, 4, 0), 0x04030201u);
    EXPECT_EQ(cab::detail::Checksum(d, 7, 0), 0x04030201u ^ 0x102030u);
    EXPECT_EQ(cab::detail::Checksum(d, 5, 0xFF), 0x04030201u ^ 0x10u ^ 0xFFu);
    EXPECT_EQ(cab::detail::Checksum(d, 6, 0), 0x04030201u ^ 0x1020u);
}

// Every size around the frame boundaries, every kind of data, every block
// type the encoder can choose, decoded by libmspack.
TEST(LzxRoundTrip, SizesPatternsAndModes) {
    const std::size_t sizes[] = {0, 1, 2, 10, 11, 12, 32767, 32768, 32769, 65536, 300001};
    using Gen = std::vector<std::uint8_t> (*)(std::size_t, std::uint64_t);
    const std::pair<const char*, Gen> gens[] = {
        {"zeros", [](std::size_t n, std::uint64_t) { return std::vector<std::uint8_t>(n, 0); }},
        {"random", cabtest::RandomBytes},
        {"text", cabtest::TextBytes},
        {"dump", cabtest::DumpLikeBytes},
        {"mixed", Mixed},
    };
    const std::pair<const char*, EncoderOptions> modes[] = {
        {"stored", Stored()}, {"lzx", {}}, {"lzx+e8", WithE8()}};
    for (std::size_t n : sizes)
        for (const auto& [gname, gen] : gens)
            for (const auto& [mname, mode] : modes) {
                Files files{{"report.dmp", gen(n, n)}};
                EXPECT_EQ(cabtest::RoundTrip(files, mode), "") << gname << " " << n << " bytes, " << mname;
            }
}

TEST(LzxRoundTrip, SeveralFilesShareTheFolderStream) {
    Files files{{"empty.txt", {}},
                {"a.dmp", cabtest::DumpLikeBytes(40000, 1)},
                {"b.txt", cabtest::TextBytes(5, 2)},
                {"c.bin", Mixed(70001, 3)},
                {"d.dmp", cabtest::DumpLikeBytes(40000, 1)}};
    EXPECT_EQ(cabtest::RoundTrip(files, {}), "");
    EXPECT_EQ(cabtest::RoundTrip(files, WithE8()), "");
}

// A block repeated just inside the window's reach must be found; one just
// beyond it must not be referenced (the decoder would fail or read garbage).
TEST(LzxRoundTrip, MatchesReachToTheEndOfTheWindowButNotBeyond) {
    const std::size_t block = 60000;
    auto a = cabtest::RandomBytes(block, 7);
    for (std::size_t gap :
         {std::size_t(cab::lzx::kWindowSize - 3 - block), std::size_t(cab::lzx::kWindowSize)}) {
        std::vector<std::uint8_t> data = a;
        data.resize(data.size() + gap, 0);
        data.insert(data.end(), a.begin(), a.end());
        Files files{{"far.bin", data}};
        auto cabinet = cab::detail::BuildCabinet(files, {});
        cabtest::Extracted got = cabtest::ExtractWithMspack(cabinet);
        ASSERT_EQ(got.error, "") << "gap " << gap;
        EXPECT_TRUE(got.files == files) << "gap " << gap;
        if (gap < cab::lzx::kWindowSize)
            EXPECT_LT(cabinet.size(), block * 11 / 10) << "repeat within the window not found";
        else
            EXPECT_GT(cabinet.size(), block * 2) << "random data beyond the window cannot shrink";
    }
}

TEST(LzxEncoder, CompressesDumpsAndStoresNoise) {
    auto dump = cabtest::DumpLikeBytes(1 << 20, 11);
    cab::lzx::EncoderStats stats;
    std::uint64_t packed = CompressedSize(dump, {}, &stats);
    EXPECT_LT(packed, dump.size() / 3);
    EXPECT_GT(stats.verbatimBlocks + stats.alignedBlocks, 0u);

    auto noise = cabtest::RandomBytes(1 << 18, 12);
    std::uint64_t stored = CompressedSize(noise, Stored());
    EXPECT_LE(CompressedSize(noise, {}, &stats), stored);
    EXPECT_EQ(stats.uncompressedBlocks, 8u);
}

// Far matches whose offsets are multiples of 8 make aligned-offset blocks pay.
TEST(LzxEncoder, UsesAlignedBlocksWhenOffsetsShareLowBits) {
    cabtest::Rng r(5);
    auto pool = cabtest::RandomBytes(1 << 16, 6);
    std::vector<std::uint8_t> data(pool);
    while (data.size() < (1u << 19)) {
        std::size_t from = 8 * r.Below(static_cast<std::uint32_t>(data.size() / 8 - 64));
        std::size_t len = 8 + r.Below(24);
        std::size_t pad = (8 - (data.size() + len) % 8) % 8;
        data.insert(data.end(), data.begin() + static_cast<std::ptrdiff_t>(from),
                    data.begin() + static_cast<std::ptrdiff_t>(from + len));
        for (std::size_t i = 0; i < pad; ++i) data.push_back(static_cast<std::uint8_t>(r.Next()));
    }
    cab::lzx::EncoderStats stats;
    CompressedSize(data, {}, &stats);
    EXPECT_GT(stats.alignedBlocks, 0u);
    EXPECT_EQ(cabtest::RoundTrip({{"aligned.bin", data}}, {}), "");
}

// --- independent extractors -------------------------------------------------

namespace {

bool Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// Extracts `cabinet` with each tool and compares every file with `expected`.
void CheckWithTools(const fs::path& cabinet, const Files& expected, const TempDir& dir) {
    for (const char* tool : {"cabextract", "gcab", "7z", "bsdtar"})
        ASSERT_TRUE(Run(std::string("command -v ") + tool)) << tool << " is not installed (scripts/setup.sh)";
    const std::string cabArg = "'" + cabinet.string() + "'";
    EXPECT_TRUE(Run("cabextract -q -t " + cabArg)) << "cabextract -t " << cabinet;
    struct Tool {
        const char* name;
        std::string command; // %D: output directory
    };
    const Tool tools[] = {
        {"cabextract", "cabextract -q -d %D " + cabArg},
        {"gcab", "gcab -x -C %D " + cabArg},
        {"7z", "7z x -y -o%D " + cabArg},
        {"bsdtar", "bsdtar -x -f " + cabArg + " -C %D"},
    };
    for (const Tool& tool : tools) {
        fs::path out = dir / (std::string("out-") + tool.name);
        fs::create_directories(out);
        std::string cmd = tool.command;
        cmd.replace(cmd.find("%D"), 2, "'" + out.string() + "'");
        ASSERT_TRUE(Run(cmd)) << tool.name << " failed on " << cabinet;
        for (const auto& [name, data] : expected) {
            fs::path p = out / name;
            ASSERT_TRUE(fs::exists(p)) << tool.name << " did not extract " << name;
            EXPECT_TRUE(ReadFile(p) == data) << tool.name << ": " << name << " differs";
        }
        fs::remove_all(out);
    }
    cabtest::Extracted got = cabtest::ExtractWithMspack(ReadFile(cabinet));
    ASSERT_EQ(got.error, "");
    EXPECT_EQ(got.compressionType, 0x1503);
    EXPECT_TRUE(got.files == expected) << "libmspack";
}

} // namespace

TEST(CabinetTools, ExtractByteIdentically) {
    TempDir dir;
    Files files{{"empty.txt", {}},
                {"one.bin", {0x42}},
                {"report.dmp", cabtest::DumpLikeBytes(100001, 21)},
                {"mixed.bin", Mixed(3 << 20, 22)},
                {"text-\xC3\xA4.txt", cabtest::TextBytes(32768, 23)}};
    std::vector<cab::CabinetFile> inputs;
    for (const auto& [name, data] : files) {
        WriteFile(dir / ("src-" + name), data);
        inputs.push_back({name, dir / ("src-" + name)});
    }
    fs::path cabinet = dir / "report.cab";
    std::string error;
    ASSERT_TRUE(cab::WriteCabinet(cabinet, inputs, nullptr, &error)) << error;
    CheckWithTools(cabinet, files, dir);

    // Real minidumps (of `sleep`, normal and with data segments, written by
    // the report client's dump writer through bench/cab/make_dump).
    Files dumps;
    std::vector<cab::CabinetFile> dumpInputs;
    for (const char* name : {"sleep-normal.dmp", "sleep-data.dmp"}) {
        fs::path p = fs::path(CAB_DATA_DIR) / name;
        dumps.emplace_back(name, ReadFile(p));
        ASSERT_FALSE(dumps.back().second.empty()) << p;
        dumpInputs.push_back({name, p});
    }
    ASSERT_TRUE(cab::WriteCabinet(dir / "dumps.cab", dumpInputs, nullptr, &error)) << error;
    CheckWithTools(dir / "dumps.cab", dumps, dir);

    // The other encodings the writer can produce: stored blocks, no E8
    // translation; E8 translation around the short last frame (decoders
    // leave the last 10 bytes of a frame alone); an empty folder.
    const std::pair<Files, EncoderOptions> variants[] = {
        {{{"code.bin", cabtest::DumpLikeBytes(300000, 24)}}, Stored()},
        {{{"code.bin", cabtest::DumpLikeBytes(300000, 24)}}, EncoderOptions{}},
        {{{"a.bin", cabtest::DumpLikeBytes(32768 + 7, 25)},
          {"b.bin", cabtest::DumpLikeBytes(32768 + 11, 26)}},
         WithE8()},
        {{{"c.bin", cabtest::DumpLikeBytes(32768 + 10, 27)}}, WithE8()},
        {{{"nothing.dmp", {}}}, EncoderOptions{}},
        // Stored frames after compressed ones, the last of odd length.
        {{{"m.bin", Mixed(200000, 28)}, {"noise.bin", cabtest::RandomBytes(100001, 29)}}, WithE8()},
    };
    for (const auto& [variant, options] : variants) {
        WriteFile(dir / "variant.cab", cab::detail::BuildCabinet(variant, options));
        CheckWithTools(dir / "variant.cab", variant, dir);
    }
}

// --- WriteCabinet: progress, cancel, failures ----------------------------------

TEST(WriteCabinet, ReportsProgressPerBlockAndCancels) {
    TempDir dir;
    auto data = cabtest::DumpLikeBytes(5 * 32768 + 100, 31);
    WriteFile(dir / "a.dmp", data);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
    std::string error;
    ASSERT_TRUE(cab::WriteCabinet(
        dir / "a.cab", {{"a.dmp", dir / "a.dmp"}},
        [&](std::uint64_t done, std::uint64_t total) {
            calls.emplace_back(done, total);
            return true;
        },
        &error));
    ASSERT_EQ(calls.size(), 6u);
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].second, data.size());
        EXPECT_EQ(calls[i].first, std::min<std::uint64_t>((i + 1) * 32768, data.size()));
    }

    int seen = 0;
    EXPECT_FALSE(cab::WriteCabinet(
        dir / "b.cab", {{"a.dmp", dir / "a.dmp"}}, [&](std::uint64_t, std::uint64_t) { return ++seen < 2; },
        &error));
    EXPECT_EQ(error, "cancelled");
    EXPECT_FALSE(fs::exists(dir / "b.cab"));
}

TEST(WriteCabinet, FailuresSayWhyAndLeaveNoCabinet) {
    TempDir dir;
    WriteFile(dir / "a.dmp", cabtest::TextBytes(1000, 1));
    std::string error;

    EXPECT_FALSE(cab::WriteCabinet(dir / "x.cab", {{"a.dmp", dir / "a.dmp"}, {"b.dmp", dir / "missing.dmp"}},
                                   nullptr, &error));
    EXPECT_NE(error.find("missing.dmp"), std::string::npos) << error;
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(dir / "x.cab"));

    EXPECT_FALSE(cab::WriteCabinet(dir / "no-dir" / "x.cab", {{"a.dmp", dir / "a.dmp"}}, nullptr, &error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;

    fs::create_directories(dir / "sub");
    EXPECT_FALSE(cab::WriteCabinet(dir / "x.cab", {{"sub", dir / "sub"}}, nullptr, &error));
    EXPECT_NE(error.find("Is a directory"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(dir / "x.cab"));

    // Writing a cabinet over one of its own inputs would destroy the input.
    auto before = ReadFile(dir / "a.dmp");
    EXPECT_FALSE(cab::WriteCabinet(dir / "a.dmp", {{"a.dmp", dir / "a.dmp"}}, nullptr, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(ReadFile(dir / "a.dmp") == before);

    // Never write into (and then delete) something that is not a plain file.
    EXPECT_FALSE(cab::WriteCabinet("/dev/null", {{"a.dmp", dir / "a.dmp"}}, nullptr, &error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    EXPECT_TRUE(fs::exists("/dev/null"));

    EXPECT_FALSE(cab::WriteCabinet(dir / "x.cab", {}, nullptr, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(cab::WriteCabinet(dir / "x.cab", {{std::string(256, 'n'), dir / "a.dmp"}}, nullptr, &error));
    EXPECT_NE(error.find("too long"), std::string::npos) << error;
    EXPECT_FALSE(cab::WriteCabinet(dir / "x.cab", {{"", dir / "a.dmp"}}, nullptr, &error));
    EXPECT_FALSE(fs::exists(dir / "x.cab"));
}

// A write that fails half-way (here: the file size limit) is reported with
// the system's text and the partial cabinet is removed.
TEST(WriteCabinet, WriteErrorRemovesThePartialCabinet) {
    TempDir dir;
    WriteFile(dir / "noise.bin", cabtest::RandomBytes(1 << 20, 3));
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 200000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    bool ok = cab::WriteCabinet(dir / "n.cab", {{"noise.bin", dir / "noise.bin"}}, nullptr, &error);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(ok);
    EXPECT_NE(error.find("File too large"), std::string::npos) << error;
    EXPECT_NE(error.find("n.cab"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(dir / "n.cab"));
}

// The entries are completed from the bytes actually read, not from the size
// the file claimed beforehand (here: a /proc file that reports size 0).
TEST(WriteCabinet, RecordsTheSizeActuallyRead) {
    fs::path src = "/proc/self/cmdline";
    if (!fs::exists(src)) GTEST_SKIP() << "no /proc";
    auto expected = ReadFile(src);
    ASSERT_FALSE(expected.empty());
    TempDir dir;
    std::string error;
    ASSERT_TRUE(cab::WriteCabinet(dir / "p.cab", {{"cmdline", src}}, nullptr, &error)) << error;
    cabtest::Extracted got = cabtest::ExtractWithMspack(ReadFile(dir / "p.cab"));
    ASSERT_EQ(got.error, "");
    ASSERT_EQ(got.files.size(), 1u);
    EXPECT_TRUE(got.files[0].second == expected);
}

TEST(WriteCabinet, StoresDosTimestampAndUtf8Flag) {
    TempDir dir;
    fs::path src = dir / "a.dmp";
    WriteFile(src, {1, 2, 3});
    std::tm tm{};
    tm.tm_year = 2024 - 1900;
    tm.tm_mon = 4;
    tm.tm_mday = 6;
    tm.tm_hour = 7;
    tm.tm_min = 8;
    tm.tm_sec = 10;
    tm.tm_isdst = -1;
    auto sys = std::chrono::system_clock::from_time_t(std::mktime(&tm));
    fs::last_write_time(src, std::chrono::file_clock::from_sys(sys));
    std::string error;
    ASSERT_TRUE(cab::WriteCabinet(dir / "a.cab", {{"d\xC3\xBCmp.dmp", src}}, nullptr, &error)) << error;
    // The entry as libmspack parses it.
    auto image = ReadFile(dir / "a.cab");
    cabtest::Extracted got = cabtest::ExtractWithMspack(image);
    ASSERT_EQ(got.error, "");
    ASSERT_EQ(got.files.size(), 1u);
    // CFFILE at offset 44: date at +10, time at +12, attributes at +14.
    auto u16 = [&](std::size_t at) { return image[at] | image[at + 1] << 8; };
    EXPECT_EQ(u16(44 + 10), (44 << 9) | (5 << 5) | 6);
    EXPECT_EQ(u16(44 + 12), (7 << 11) | (8 << 5) | 5);
    EXPECT_EQ(u16(44 + 14), 0x20 | 0x80);
}

// Saved fuzz inputs: each must still round-trip.
TEST(LzxFuzzCorpus, Replays) {
    fs::path corpus = fs::path(CAB_CORPUS_DIR);
    ASSERT_TRUE(fs::is_directory(corpus)) << corpus;
    int count = 0;
    for (const auto& entry : fs::directory_iterator(corpus)) {
        if (!entry.is_regular_file()) continue;
        auto input = ReadFile(entry.path());
        EXPECT_EQ(cabtest::FuzzRoundTrip(input), "") << entry.path();
        ++count;
    }
    EXPECT_GT(count, 0);
}
