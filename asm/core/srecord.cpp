// S-record files: writing the object file, and recognising S-record files
// (a source given by mistake; an object left from an earlier build).

#include "srecord.h"

#include <algorithm>

#include "host.h"
#include "impl.h"

namespace qorb {

namespace {
const char kHex[] = "0123456789ABCDEF";

// Each byte's two hex digits, for the data of the records.
struct HexPairs {
    char digits[512];
    constexpr HexPairs() : digits() {
        for (int b = 0; b < 256; ++b) {
            digits[2 * b] = "0123456789ABCDEF"[b >> 4];
            digits[2 * b + 1] = "0123456789ABCDEF"[b & 0xF];
        }
    }
};
constexpr HexPairs kHexPairs;
} // namespace

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// "S", the type, the count of the bytes that follow, an address of 2, 3 or
// 4 bytes by type, the data, and a checksum that makes the bytes after the
// type sum to $FF.
bool IsSRecord(std::string_view line) {
    static const unsigned kAddressBytes[] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
    if (line.size() < 4 || line[0] != 'S' || line[1] < '0' || line[1] > '9' || line[1] == '4') return false;
    unsigned count = 0, sum = 0;
    for (std::size_t i = 2; i < line.size(); i += 2) {
        if (i + 1 >= line.size()) return false;
        int hi = HexValue(line[i]), lo = HexValue(line[i + 1]);
        if (hi < 0 || lo < 0) return false;
        unsigned byte = static_cast<unsigned>(hi * 16 + lo);
        if (i == 2) count = byte;
        sum += byte;
    }
    return count >= kAddressBytes[line[1] - '0'] + 1 && line.size() == 4 + 2 * count && (sum & 0xFF) == 0xFF;
}

} // namespace

RecordFile ScanRecords(int handle, bool blankLines, std::string* first) {
    constexpr std::size_t kLongestRecord = 4 + 2 * 255;
    char buf[16384];
    std::string line;
    bool tooLong = false, any = false, firstTaken = false;
    auto judge = [&]() {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (first && !firstTaken) *first = line;
        firstTaken = true;
        bool blank = std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t'; });
        bool good = (blank && blankLines && !tooLong) || (!tooLong && IsSRecord(line));
        any = any || (good && !blank);
        line.clear();
        tooLong = false;
        return good;
    };
    int e = 0;
    long got;
    while ((got = host::Read(handle, buf, sizeof buf, &e)) > 0) {
        for (long i = 0; i < got; ++i) {
            if (buf[i] == '\n') {
                if (!judge()) return RecordFile::Other;
            } else if (line.size() <= kLongestRecord) {
                line += buf[i];
            } else {
                tooLong = true;
            }
        }
    }
    if (got < 0) return RecordFile::Other;
    if ((!line.empty() || tooLong) && !judge()) return RecordFile::Other;
    return any ? RecordFile::Records : RecordFile::Empty;
}

// A source that failed writes no object file, so one left from an earlier
// build would be taken for this build's result and downloaded to the board.
// Only what this assembler writes is removed: a regular file that is none
// of the run's files, whose first line is our header record and whose every
// line is an S-record. Anything else named like the object (a source, an
// edited or foreign S-record file, a device) is never touched.
void Assembler::Impl::DiscardStaleObject(const std::string& path) {
    host::FileId id, opened;
    if (!host::Identify(path, &id) || !Clash(id).empty()) return;
    int error = 0;
    int h = host::OpenRead(path, &error, &opened); // regular files only, never blocks
    if (h < 0) return;
    std::string first;
    bool ours = opened == id && ScanRecords(h, false, &first) == RecordFile::Records && first == "S0030000FC";
    host::Close(h);
    if (ours) host::RemoveFile(path);
}

bool Assembler::Impl::WriteObject(const std::string& path, const std::string& shown) {
    std::string out = "S0030000FC\r\n";
    std::size_t total = 0;
    for (const auto& s : sections) total += s->bytes.size();
    out.reserve(32 + total / 16 * 44 + 44);
    // Each record is built in a small buffer and appended at once.
    auto emit = [&](const Section& s) {
        char rec[48];
        auto put = [](char*& p, std::uint32_t v, int digits) {
            for (int i = digits - 1; i >= 0; --i) *p++ = kHex[(v >> (4 * i)) & 0xF];
        };
        for (std::size_t off = 0; off < s.bytes.size(); off += 16) {
            std::size_t n = std::min<std::size_t>(16, s.bytes.size() - off);
            std::uint32_t addr = (s.start + static_cast<std::uint32_t>(off)) & 0xFFFF;
            unsigned sum = static_cast<unsigned>(n + 3) + (addr >> 8) + (addr & 0xFF);
            char* p = rec;
            *p++ = 'S';
            *p++ = '1';
            put(p, static_cast<std::uint32_t>(n + 3), 2);
            put(p, addr, 4);
            const std::uint8_t* data = s.bytes.data() + off;
            for (std::size_t i = 0; i < n; ++i) {
                const char* pair = kHexPairs.digits + 2 * data[i];
                *p++ = pair[0];
                *p++ = pair[1];
                sum += data[i];
            }
            put(p, ~sum & 0xFF, 2);
            *p++ = '\r';
            *p++ = '\n';
            out.append(rec, static_cast<std::size_t>(p - rec));
        }
    };
    for (const auto& s : sections)
        if (s->named) emit(*s);
    for (const auto& s : sections)
        if (!s->named) emit(*s);
    // The trailer carries the start address that `end` gave (0 without).
    char s9[16] = "S903";
    char* p = s9 + 4;
    const std::uint32_t start = startAddress & 0xFFFF;
    const unsigned sum = 3u + (start >> 8) + (start & 0xFF);
    for (std::uint32_t v : {start >> 12, start >> 8, start >> 4, start, (~sum) >> 4, ~sum})
        *p++ = kHex[v & 0xF];
    *p++ = '\r';
    *p++ = '\n';
    out.append(s9, static_cast<std::size_t>(p - s9));
    // Written whole or not at all: a partial object would send a truncated
    // program to the board.
    return WriteWholeOutput(path, shown, out);
}

} // namespace qorb
