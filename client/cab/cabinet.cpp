#include "cabinet.h"

#include "cab_stream.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

namespace cab {

namespace {

namespace fs = std::filesystem;
using detail::CabError;

std::string SystemText(int err) { return std::strerror(err); }

std::string Quoted(const fs::path& p) { return "'" + p.string() + "'"; }

// Paths go to the C library in the system's own form (wide on Windows, so
// that any name opens).
std::FILE* OpenFile(const fs::path& p, bool write) {
#ifdef _WIN32
    return _wfopen(p.c_str(), write ? L"wb" : L"rb");
#else
    return std::fopen(p.c_str(), write ? "wb" : "rb");
#endif
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

class FileSink : public detail::Sink {
public:
    FileSink(std::FILE* file, const fs::path& path) : file_(file), path_(path) {}
    void Write(const void* data, std::size_t size) override {
        errno = 0;
        if (std::fwrite(data, 1, size, file_) != size) Fail();
    }
    void WriteAt(std::uint64_t offset, const void* data, std::size_t size) override {
        errno = 0;
        if (std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0) Fail();
        Write(data, size);
        if (std::fseek(file_, 0, SEEK_END) != 0) Fail();
    }

private:
    [[noreturn]] void Fail() const {
        int err = errno ? errno : EIO;
        throw CabError("cannot write cabinet " + Quoted(path_) + ": " + SystemText(err));
    }
    std::FILE* file_;
    fs::path path_;
};

// Cabinets keep MS-DOS local time stamps (two-second resolution, 1980..2107).
void DosTimestamp(const fs::path& p, std::uint16_t& date, std::uint16_t& time) {
    date = 0x21; // 1980-01-01 00:00:00 when the time cannot be read
    time = 0;
    std::error_code ec;
    auto ft = fs::last_write_time(p, ec);
    if (ec) return;
    std::time_t t = std::chrono::system_clock::to_time_t(
        std::chrono::time_point_cast<std::chrono::system_clock::duration>(
            std::chrono::file_clock::to_sys(ft)));
    std::tm tm{};
#ifdef _WIN32
    if (localtime_s(&tm, &t) != 0) return;
#else
    if (!localtime_r(&t, &tm)) return;
#endif
    int year = tm.tm_year + 1900;
    if (year < 1980) return;
    if (year > 2107) {
        date = static_cast<std::uint16_t>((127 << 9) | (12 << 5) | 31);
        time = static_cast<std::uint16_t>((23 << 11) | (59 << 5) | 29);
        return;
    }
    date = static_cast<std::uint16_t>(((year - 1980) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
    time = static_cast<std::uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
}

lzx::EncoderOptions CabinetOptions() {
    lzx::EncoderOptions options;
    // Call translation gains 5-8% on machine code (full-memory dumps carry
    // the modules' code pages) and costs well under 1% on other data.
    options.e8TranslationSize = 12000000;
    return options;
}

// Returns false when cancelled; throws CabError on every failure.
bool Write(const fs::path& cabinetPath, const std::vector<CabinetFile>& files,
           const std::function<bool(std::uint64_t, std::uint64_t)>& progress, std::FILE*& out,
           bool& created) {
    std::vector<detail::FileEntry> entries;
    for (const CabinetFile& f : files) {
        std::error_code ec;
        // Opening the cabinet truncates it: never let it be one of its inputs.
        if (fs::exists(cabinetPath, ec) && fs::equivalent(f.source, cabinetPath, ec))
            throw CabError("the cabinet " + Quoted(cabinetPath) + " cannot contain itself");
        detail::FileEntry e;
        e.name = f.nameInCabinet;
        auto size = fs::file_size(f.source, ec);
        e.size = ec ? 0 : size;
        DosTimestamp(f.source, e.dosDate, e.dosTime);
        entries.push_back(std::move(e));
    }

    // Check the inputs before creating the output so that bad arguments leave
    // no file behind.
    std::vector<FilePtr> inputs;
    for (const CabinetFile& f : files) {
        errno = 0;
        FilePtr in(OpenFile(f.source, false));
        if (!in)
            throw CabError("cannot open " + Quoted(f.source) + ": " + SystemText(errno ? errno : ENOENT));
        inputs.push_back(std::move(in));
        if (inputs.size() >= 64) // don't hold many descriptors; reopen the rest later
            break;
    }

    // A failed cabinet is deleted; never let that hit a device or a directory.
    std::error_code ec;
    auto status = fs::status(cabinetPath, ec);
    if (!ec && fs::exists(status) && !fs::is_regular_file(status))
        throw CabError("cannot create cabinet " + Quoted(cabinetPath) + ": not a regular file");

    errno = 0;
    out = OpenFile(cabinetPath, true);
    if (!out)
        throw CabError("cannot create cabinet " + Quoted(cabinetPath) + ": " +
                       SystemText(errno ? errno : EIO));
    created = true;
    FileSink sink(out, cabinetPath);
    detail::CabinetStream stream(sink, CabinetOptions());
    stream.Begin(std::move(entries));

    std::vector<std::uint8_t> buffer(lzx::kFrameSize);
    std::vector<std::uint64_t> sizes;
    for (std::size_t i = 0; i < files.size(); ++i) {
        FilePtr in;
        if (i < inputs.size()) {
            in = std::move(inputs[i]);
        } else {
            errno = 0;
            in.reset(OpenFile(files[i].source, false));
            if (!in)
                throw CabError("cannot open " + Quoted(files[i].source) + ": " +
                               SystemText(errno ? errno : ENOENT));
        }
        std::uint64_t size = 0;
        for (;;) {
            errno = 0;
            std::size_t n = std::fread(buffer.data(), 1, buffer.size(), in.get());
            if (n < buffer.size() && std::ferror(in.get()))
                throw CabError("cannot read " + Quoted(files[i].source) + ": " +
                               SystemText(errno ? errno : EIO));
            if (n == 0) break;
            size += n;
            if (!stream.Append(std::span(buffer.data(), n), progress)) return false;
        }
        sizes.push_back(size);
    }
    if (!stream.Finish(sizes, progress)) return false;
    errno = 0;
    if (std::fflush(out) != 0)
        throw CabError("cannot write cabinet " + Quoted(cabinetPath) + ": " +
                       SystemText(errno ? errno : EIO));
    std::FILE* f = out;
    out = nullptr;
    errno = 0;
    if (std::fclose(f) != 0)
        throw CabError("cannot write cabinet " + Quoted(cabinetPath) + ": " +
                       SystemText(errno ? errno : EIO));
    return true;
}

} // namespace

bool WriteCabinet(const std::filesystem::path& cabinetPath, const std::vector<CabinetFile>& files,
                  const std::function<bool(std::uint64_t, std::uint64_t)>& progress, std::string* error) {
    std::string message;
    std::FILE* out = nullptr;
    bool created = false;
    try {
        if (Write(cabinetPath, files, progress, out, created)) return true;
        message = "cancelled";
    } catch (const CabError& e) {
        message = e.what();
    } catch (const std::bad_alloc&) {
        message = "out of memory";
    } catch (const std::exception& e) {
        message = e.what();
    }
    if (out) std::fclose(out);
    if (created) {
        std::error_code ec;
        fs::remove(cabinetPath, ec);
    }
    if (error) *error = message;
    return false;
}

} // namespace cab
