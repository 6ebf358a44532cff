#pragma once

#include <cstdint>
#include <string>

namespace ulmarro {

// A failure as the client reports it: a COM-style code (system errors are
// 0x80070000 plus the error number) and the system's text for it.
struct Failure {
    std::uint32_t code = 0;
    std::string text;

    bool failed() const { return code != 0; }
    // "text (0x%08X)", or "Error Code: 0x%08X" when there is no text.
    std::string Describe() const;
};

Failure FailureFromErrno(int error);
Failure FailureWithText(std::uint32_t code, const std::string& text);

} // namespace ulmarro
