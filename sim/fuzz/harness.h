#pragma once

// Runs one arbitrary input through qorbsim's own entry point. Shared by the
// libFuzzer target and the replay test that re-runs the saved corpus in
// ordinary builds.

#include <cstddef>
#include <cstdint>

namespace qorb::sim::fuzz {

// The first byte picks the CPU (bit 0: 68HC11), -hcs (bit 1), --trace
// (bit 2), --regs (bit 3) and a dump of all memory (bit 4). Up to the first
// NUL the rest is extra command-line words, one a line; after it comes the
// S-record file. Every run is bounded by a cycle limit the harness adds
// last. Returns the program's exit status.
int RunInput(const std::uint8_t* data, std::size_t size);

} // namespace qorb::sim::fuzz
