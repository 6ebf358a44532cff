#pragma once

#include "target.h"

namespace qorb {

// The program's entry: options, sources, passes, exit status (0 all sources
// assembled, 1 command-line error, 2 a source failed, 3 usage, -1 internal
// error, 255 where exit statuses have eight bits). `crash` provokes a real
// fault for the hidden -CrashMe option.
int RunAssembler(int argc, char** argv, const Target& target, void (*crash)() = nullptr);

} // namespace qorb
