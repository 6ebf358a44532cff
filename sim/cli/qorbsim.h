#pragma once

// The qorbsim program: loads S-record files into a board (the flat one by
// default), runs a CPU core, serves the board's serial line, and reports
// registers and memory. Kept apart from main so that
// the tests and the fuzz target drive the real program in-process.

#include <ostream>

namespace qorb::sim {

// Exit statuses.
enum : int {
    kExitStopAddress = 0,
    kExitUsage = 1,
    kExitCycleLimit = 3,
    kExitIllegal = 4,
    kExitStopped = 5,
    kExitBackground = 6,
    kExitAccessFault = 7, // an access the board's policy stops on
    kExitInterrupted = 8, // SIGINT, SIGTERM or SIGHUP while a serial line was attached
};

int QorbsimMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

} // namespace qorb::sim
