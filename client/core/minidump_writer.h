#pragma once

#include "failure.h"
#include "process.h"

#include <cstdint>
#include <string>

namespace ulmarro {

// Dump type flags that the writer honours (the DumpType setting); other bits
// are kept in the header only.
constexpr std::uint32_t kDumpWithDataSegments = 0x1; // writable data of every module
constexpr std::uint32_t kDumpWithFullMemory = 0x2;   // every readable range (Memory64List)

// Writes a minidump of a suspended process to an open file descriptor. The
// environment and the command line of the process are never written: they
// often carry secrets (CrashedProcess::BlankPrivateData says how far that goes).
Failure WriteMinidump(const CrashedProcess& process, std::uint32_t dumpType, int fd);

// What the dump leaves out, in the words the Details dialog shows the user.
inline constexpr const char* kDumpPrivacyNote =
    "The report does not contain the program's environment or command line: every copy of an "
    "environment value or command-line argument longer than three characters is blanked out of the "
    "memory it holds.";

} // namespace ulmarro
