#pragma once

// Sections: the images code is placed in, each with its own location.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qorb {

// A hostile source could grow a section without end; 16 MB is far beyond
// anything a 64 KB address space can use.
inline constexpr std::size_t kMaxSectionSize = 16u << 20;

struct Section {
    std::string name; // "" for unnamed sections
    bool named = false;
    bool redefinition = false;
    bool openedThisPass = false;
    bool orgSection = false;         // unnamed section opened by org
    std::uint32_t saved = 0;         // location counter while the section is empty
    std::uint32_t start = 0;         // address of the first byte
    std::size_t size = 0;            // bytes it holds in this pass
    std::vector<std::uint8_t> bytes; // the image, filled in the final pass
};

} // namespace qorb
