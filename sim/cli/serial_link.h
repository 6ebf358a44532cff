#pragma once

// The host end of the simulated serial line: a pseudo-terminal that a
// terminal program (or the IDE's Terminal pane) opens, or standard input
// and output. Characters wait in small queues between the file descriptors
// and the simulated SCI; the SCI moves them at its baud rate.

#include <termios.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "board/board.h"

namespace qorb::sim {

class HostLink final : public SerialPort {
public:
    // A new pseudo-terminal; `name` receives its slave's path.
    static std::unique_ptr<HostLink> OpenPty(std::string& name, std::string& error);
    // Standard input and output; a terminal on standard input is put in
    // raw mode (Ctrl-C still ends the simulation) until the link closes.
    static std::unique_ptr<HostLink> OpenStdio();
    ~HostLink() override;

    bool Available() override { return !rx_.empty(); }
    std::uint8_t Take() override;
    bool Put(std::uint8_t byte) override;

    // Reads what has arrived (while the receive queue has room) and writes
    // what is queued, waiting at most `timeoutMs` for something to happen.
    void Pump(int timeoutMs);
    // At the end: writes what is still queued, for at most `timeoutMs`.
    void Drain(int timeoutMs);

private:
    HostLink() = default;
    void WriteQueued();

    int in_ = -1, out_ = -1, slave_ = -1;
    bool ownFds_ = false, inEnded_ = false, outBroken_ = false;
    bool restoreTerm_ = false;
    struct termios savedTerm_ {};
    std::deque<std::uint8_t> rx_, tx_;
};

} // namespace qorb::sim
