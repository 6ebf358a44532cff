#include "failure.h"

#include <cstdio>
#include <cstring>

namespace ulmarro {

std::string Failure::Describe() const {
    char buffer[32];
    if (text.empty()) {
        std::snprintf(buffer, sizeof buffer, "Error Code: 0x%08X", code);
        return buffer;
    }
    std::snprintf(buffer, sizeof buffer, " (0x%08X)", code);
    return text + buffer;
}

Failure FailureFromErrno(int error) {
    Failure f;
    if (error <= 0) error = EIO;
    f.code = 0x80070000u | (static_cast<std::uint32_t>(error) & 0xFFFFu);
    f.text = std::strerror(error);
    return f;
}

Failure FailureWithText(std::uint32_t code, const std::string& text) { return Failure{code, text}; }

} // namespace ulmarro
