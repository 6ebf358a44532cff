#pragma once

// Loads S-record files into a board's memory. S1, S2 and S3 data records
// and the S9, S8 and S7 start records are accepted; S0 headers and S5/S6
// counts are checked and skipped. Every record is checked completely (hex
// digits, count against length, checksum, addresses within the board)
// before anything of a file is stored, so a damaged file leaves memory as it
// was.

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace qorb::sim {

class Bus;

struct LoadError {
    std::string file;
    unsigned long line = 0; // 0: the file as a whole
    std::string text;
};

// What all files loaded so far have put into memory.
class LoadedImage {
public:
    LoadedImage() : loaded_(0x10000, false) {}
    bool Loaded(std::uint16_t a) const { return loaded_[a]; }
    bool Any() const { return any_; }
    std::uint16_t Lowest() const { return lowest_; }
    // The last non-zero start address of any file, if one was given.
    std::optional<std::uint16_t> Start() const { return start_; }

    void Mark(std::uint16_t a);
    void SetStart(std::uint16_t a) { start_ = a; }

private:
    std::vector<bool> loaded_;
    bool any_ = false;
    std::uint16_t lowest_ = 0xFFFF;
    std::optional<std::uint16_t> start_;
};

// Longest line accepted: the longest record (count $FF) is 514 characters;
// anything well beyond that is not an S-record file.
inline constexpr std::size_t kMaxRecordLine = 1024;

// Parses `in` (named `name` in messages) and stores its data through
// Bus::Poke. Returns false with `error` filled on the first fault.
bool LoadSRecords(std::istream& in, const std::string& name, Bus& bus, LoadedImage& image, LoadError& error);
bool LoadSRecordFile(const std::string& path, Bus& bus, LoadedImage& image, LoadError& error);

} // namespace qorb::sim
