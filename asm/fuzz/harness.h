#pragma once

// Runs one arbitrary input through the assembler program's own entry point,
// inside a private scratch directory. Shared by the libFuzzer target and the
// replay test that re-runs the saved corpus in ordinary builds.

#include <cstddef>
#include <cstdint>

#include "core/target.h"

namespace qorb::fuzz {

// The first byte selects command-line options (bit 0 -l, 1 -lc, 2 symbol
// listing, 3 -case, 4 -mc, 5 -hcs, 6 -W4, 7 a low pass limit); the rest is
// the source file. Includes resolve against the scratch directory, which
// holds a few small include files (defs.inc, sub/nest.inc, sub/deeper.inc).
// Returns the program's exit status. `target` and `program` select the
// assembler (qorb12 by default).
int AssembleInput(const std::uint8_t* data, std::size_t size);
int AssembleInput(const std::uint8_t* data, std::size_t size, const Target& target, const char* program);

} // namespace qorb::fuzz
