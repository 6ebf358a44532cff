#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ulmarro {

// The client's command line. The crash hook passes -t, -e and -i; -m is
// accepted and kept; every other letter is ignored.
struct CommandLine {
    std::uint64_t threadId = 0;         // 0: the crashed process is our parent
    std::uint64_t exceptionAddress = 0; // 0: no exception information
    std::string applicationId;
    std::string message; // the -m value, kept only
};

// Parses a raw command line whose first word is the program name.
CommandLine ParseCommandLine(const std::string& raw);

// Rebuilds a raw command line from main()'s arguments.
std::string JoinArguments(int argc, char** argv);

enum class Registration { None, Register, Unregister };

// "RegServer" / "UnregServer" after '-' or '/' anywhere among the arguments.
Registration FindRegistrationSwitch(int argc, char** argv);

} // namespace ulmarro
