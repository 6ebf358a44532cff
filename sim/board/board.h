#pragma once

// A board: the memory map a program sees (RAM, ROM, EEPROM, the register
// block, addresses where nothing answers) and the devices behind the
// register block (serial interface, timer, real-time interrupt, ports).
// The flat board of the bare simulator has none of this and never builds a
// Board, so its core keeps the unchecked memory path.

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "core/cpu.h"
#include "core/srec.h"

namespace qorb::sim {

class Machine;

// What happens on a write to ROM or an access to an address where nothing
// is mapped.
enum class AccessPolicy : std::uint8_t { Ignore, Warn, Stop };

struct MemoryRange {
    enum Kind : std::uint8_t { Ram, Rom, Eeprom };
    Kind kind;
    std::uint16_t first, last;
};

struct BoardProfile {
    std::string name;
    bool flat = true;            // no map, no devices: every address is RAM
    std::optional<CpuModel> cpu; // the board's CPU (flat: from the command line)
    std::uint32_t eclock = 0;    // E-clock (bus clock) in Hz
    std::vector<MemoryRange> memory;
    // The register block's address out of reset. On the 68HC11 INIT moves
    // it, together with the internal RAM (internalRam: size in bytes, its
    // reset address is INIT's RAM field, $0000).
    std::optional<std::uint16_t> registers;
    std::uint16_t internalRam = 0;
    // The 68HC12 variant's register layout: the MC68HC912B32's or the
    // MC9S12DP256's.
    bool s12 = false;
    AccessPolicy romWrite = AccessPolicy::Ignore, unmapped = AccessPolicy::Ignore;
    // What the board's own ROM holds at the reset vector, when the program
    // does not bring one (a boot ROM that starts the monitor in EEPROM).
    std::optional<std::uint16_t> resetVector;
    // S-records the board holds at power-on (a monitor in its ROM or
    // EEPROM), loaded before the program: the places to look for the file,
    // the first one found is taken. Empty: the board has none.
    std::vector<std::string> firmware;
    // What the firmware is, for messages ("the monitor minibug11m8e.s19").
    std::string firmwareName;
};

// The boards known by name: flat, hc912b32, s12dp256, hc11e9, mini11.
std::optional<BoardProfile> BuiltinBoard(const std::string& name);
std::vector<std::string> BuiltinBoardNames();
// Reads a board file (INI). On a fault returns nullopt with `error` set to
// "file(line): text" or "file: text".
std::optional<BoardProfile> ReadBoardFile(const std::string& path, std::string& error);
// A board as users name it: a known name first, else a board file; on a fault
// returns nullopt with `error` set (an unknown name lists the known ones).
std::optional<BoardProfile> FindBoard(const std::string& nameOrFile, std::string& error);
std::optional<BoardProfile> ParseBoardText(const std::string& text, const std::string& name,
                                           std::string& error);

// The host end of the serial line: the terminal, a pseudo-terminal or
// standard input and output.
class SerialPort {
public:
    virtual ~SerialPort() = default;
    virtual bool Available() = 0;
    virtual std::uint8_t Take() = 0;
    // False when the host cannot take more now (its queue is full): the
    // character stays in the shift register, as behind a held-off line.
    virtual bool Put(std::uint8_t byte) = 0;
};

class Board {
public:
    // Builds the board's map and devices on `machine`'s bus. Messages
    // (warnings, --trace-ports) go to `diag`.
    Board(const BoardProfile& profile, Machine& machine, std::ostream& diag);
    ~Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    const BoardProfile& Profile() const { return profile_; }
    void SetSerial(SerialPort* port);
    // The host calls this when characters have arrived for the receiver.
    void SerialInput();
    void SetTracePorts(bool on);

    // What a loaded byte at `a` would land on: nullptr when memory (RAM,
    // ROM, EEPROM, internal RAM) holds it, else what is there.
    const char* LoadTarget(std::uint16_t a) const;
    // The first byte of `image` that memory would not hold: its address
    // and what is there instead. False when every byte has memory.
    bool Misplaced(const LoadedImage& image, std::uint16_t& at, const char*& what) const;

    // The address and kind of the access that stopped the run (policy
    // stop), if one did.
    struct Fault {
        std::uint16_t address;
        std::string text;
    };
    const std::optional<Fault>& StopFault() const { return fault_; }
    // A debugger that resumes after the stop: the next fault stops again.
    void ClearStopFault() { fault_.reset(); }

    struct Impl;

private:
    BoardProfile profile_;
    std::unique_ptr<Impl> impl_;
    std::optional<Fault> fault_;
};

} // namespace qorb::sim
