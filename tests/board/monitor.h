#pragma once

// A board monitor as the IDE meets it on the serial line: a prompt, a few
// commands, and LOAD, which takes S-records one per line, checks them and
// stores their data in a 64 KB memory image. In EEPROM mode it answers '*'
// after each record it has taken, the per-line handshake that paces
// downloads into slow memory.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace board {

struct MonitorOptions {
    bool eeprom = false;      // '*' after each record taken
    int recordDelayMs = 0;    // time each record takes to "program"
    bool echo = true;         // echo typed command characters
    std::string prompt = ">"; // shown after a line break
    uint8_t fill = 0xFF;      // memory contents before any load
};

// Where the monitor's answers and side effects go.
class MonitorHost {
public:
    virtual ~MonitorHost() = default;
    virtual void Send(std::string_view text) = 0;
    virtual void Pause(int ms) = 0;
    // A LOAD has ended with its terminator record: the image is complete.
    virtual void LoadFinished() = 0;
};

class Monitor {
public:
    Monitor(const MonitorOptions& options, MonitorHost& host);

    void Start();                         // banner and first prompt
    void Receive(std::string_view bytes); // bytes from the line

    const std::array<uint8_t, 0x10000>& memory() const { return memory_; }
    bool loading() const { return loading_; }
    int recordsTaken() const { return records_; }

private:
    void Line(const std::string& line);
    void Command(const std::string& line);
    void Record(const std::string& line);
    void Prompt();
    void EndLoad();

    MonitorOptions options_;
    MonitorHost& host_;
    std::array<uint8_t, 0x10000> memory_;
    std::string line_;
    bool loading_ = false;
    bool lastWasCr_ = false;
    int records_ = 0;
};

} // namespace board
