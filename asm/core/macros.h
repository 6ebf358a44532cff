#pragma once

// Macros and repeat blocks: their bodies and the collection of a body.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qorb {

class InputSource;

struct Macro {
    std::string name;
    std::string file;
    int line = 0;
    std::vector<std::string> body;
};

// Pending collection of a macro or repeat body.
struct Collecting {
    bool active = false;
    bool repeat = false;
    bool store = false;
    int nesting = 0;
    std::uint32_t count = 0; // repeat count
    InputSource* source = nullptr;
    std::shared_ptr<Macro> macro;
};

} // namespace qorb
