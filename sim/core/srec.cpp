#include "core/srec.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "core/bus.h"

namespace qorb::sim {

void LoadedImage::Mark(std::uint16_t a) {
    loaded_[a] = true;
    if (!any_ || a < lowest_) lowest_ = a;
    any_ = true;
}

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string Hex(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "$%X", static_cast<unsigned>(v));
    return buf;
}

// Reads one line of at most kMaxRecordLine characters; longer lines are
// reported, not stored. Returns false at the end of the input.
bool ReadLine(std::istream& in, std::string& line, bool& tooLong) {
    line.clear();
    tooLong = false;
    std::streambuf* sb = in.rdbuf();
    bool any = false;
    for (;;) {
        const int c = sb->sbumpc();
        if (c == std::char_traits<char>::eof()) return any;
        any = true;
        if (c == '\n') return true;
        if (line.size() == kMaxRecordLine) {
            // Not read any further: an endless line (a device, a binary
            // file) must not keep the loader reading.
            tooLong = true;
            return true;
        }
        line.push_back(static_cast<char>(c));
    }
}

} // namespace

bool LoadSRecords(std::istream& in, const std::string& name, Bus& bus, LoadedImage& image, LoadError& error) {
    // The file's bytes are staged and stored only when all of it is sound.
    std::vector<std::uint8_t> stage(0x10000, 0);
    std::vector<bool> staged(0x10000, false);
    std::optional<std::uint16_t> start;
    unsigned long lineNo = 0;
    std::string line;
    bool tooLong = false;
    auto fail = [&](std::string text) {
        error = {name, lineNo, std::move(text)};
        return false;
    };

    while (ReadLine(in, line, tooLong)) {
        ++lineNo;
        if (tooLong)
            return fail("line longer than " + std::to_string(kMaxRecordLine) +
                        " characters: not an S-record");
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        if (line.empty()) continue;
        if (line[0] != 'S' && line[0] != 's') return fail("not an S-record (a record starts with 'S')");
        if (line.size() < 2 || line[1] < '0' || line[1] > '9') return fail("unknown record type");
        const int type = line[1] - '0';
        if (type == 4) return fail("unknown record type S4");
        if ((line.size() - 2) % 2 != 0) return fail("odd number of hex digits");
        std::vector<std::uint8_t> bytes;
        for (std::size_t i = 2; i < line.size(); i += 2) {
            const int hi = HexValue(line[i]), lo = HexValue(line[i + 1]);
            if (hi < 0 || lo < 0)
                return fail("bad hex digit in column " + std::to_string(hi < 0 ? i + 1 : i + 2));
            bytes.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
        }
        if (bytes.empty()) return fail("record without a count");
        if (bytes[0] + 1u != bytes.size())
            return fail("count " + Hex(bytes[0]) + " does not match the record's " +
                        std::to_string(bytes.size() - 1) + " bytes");
        unsigned sum = 0;
        for (std::size_t i = 0; i + 1 < bytes.size(); ++i) sum += bytes[i];
        const std::uint8_t expected = static_cast<std::uint8_t>(~sum);
        if (bytes.back() != expected)
            return fail("checksum error (record has " + Hex(bytes.back()) + ", its bytes give " +
                        Hex(expected) + ")");

        static const int kAddressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
        const int ab = kAddressBytes[type];
        if (bytes.size() < static_cast<std::size_t>(ab) + 2) return fail("record too short for its address");
        std::uint32_t address = 0;
        for (int i = 0; i < ab; ++i) address = address << 8 | bytes[1 + i];
        const std::size_t dataBegin = 1 + ab, dataEnd = bytes.size() - 1;

        switch (type) {
        case 0: // header
        case 5: // record counts
        case 6: break;
        case 1:
        case 2:
        case 3: {
            const std::size_t n = dataEnd - dataBegin;
            if (n > 0 && address + (n - 1) > 0xFFFF)
                return fail("address " +
                            Hex(static_cast<std::uint32_t>(std::max<std::uint64_t>(address, 0x10000))) +
                            " is beyond $FFFF (this board has 64 KB)");
            for (std::size_t i = 0; i < n; ++i) {
                stage[address + i] = bytes[dataBegin + i];
                staged[address + i] = true;
            }
            break;
        }
        default: // 7, 8, 9: start address
            if (dataEnd != dataBegin) return fail("start record with data bytes");
            if (address > 0xFFFF)
                return fail("start address " + Hex(address) + " is beyond $FFFF (this board has 64 KB)");
            // Several files (or one made by joining files) may carry several
            // start records: the last non-zero one counts.
            if (address != 0) start = static_cast<std::uint16_t>(address);
            break;
        }
    }
    if (in.bad()) {
        lineNo = 0;
        return fail("read error");
    }
    for (std::uint32_t a = 0; a < 0x10000; ++a)
        if (staged[a]) {
            bus.Poke(static_cast<std::uint16_t>(a), stage[a]);
            image.Mark(static_cast<std::uint16_t>(a));
        }
    if (start) image.SetStart(*start);
    return true;
}

bool LoadSRecordFile(const std::string& path, Bus& bus, LoadedImage& image, LoadError& error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = {path, 0, "is a directory, not an S-record file"};
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = {path, 0, std::string("cannot open: ") + std::strerror(errno)};
        return false;
    }
    return LoadSRecords(in, path, bus, image, error);
}

} // namespace qorb::sim
