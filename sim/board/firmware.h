#pragma once

// A board's firmware: the S-records its ROM or EEPROM holds at power-on
// (the mini11's monitor), loaded before the program as the board would
// have them, and the program loaded over it as if it had been downloaded.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "board/board.h"
#include "core/srec.h"

namespace qorb::sim {

class Bus;

struct Firmware {
    std::string path; // the file that was loaded
    LoadedImage image;
    // The firmware's bytes as loaded (only the image's addresses count).
    std::vector<std::uint8_t> bytes;
    // Where the board starts: its reset vector once the firmware is in.
    std::uint16_t reset = 0;
};

// The file of `profile`'s firmware, else nullopt with `error` naming the
// places looked in.
std::optional<std::string> FindFirmware(const BoardProfile& profile, std::string& error);

// Finds and loads `profile`'s firmware into `board`'s memory (after the Board
// is built: it sets the erased ROM first). Nullopt with `error` set when it
// is missing, damaged or lands where the board has no memory.
std::optional<Firmware> LoadFirmware(const BoardProfile& profile, const Board& board, Bus& bus,
                                     std::string& error);

// After the program is loaded: its first byte that changed a firmware byte,
// as an error text naming the address and both files; nullopt when none did
// (the same bytes again, such as the monitor's own object, are no change).
std::optional<std::string> FirmwareOverlap(const Firmware& firmware, const LoadedImage& program,
                                           const Bus& bus, const std::string& programName);

} // namespace qorb::sim
