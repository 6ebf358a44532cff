#pragma once

// The qorbsim program: loads S-record files into the flat board, runs a
// CPU core and reports registers and memory. Kept apart from main so that
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
};

int QorbsimMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

} // namespace qorb::sim
