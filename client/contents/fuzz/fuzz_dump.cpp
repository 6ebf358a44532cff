// Arbitrary bytes as a dump: the reader and the lines of every section.
#include "minidump_view.h"

#include <cstddef>
#include <cstdint>

volatile std::size_t g_contentsFuzzSink;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ulmarro::contents::SectionList sections;
    sections.Build(data, size);
    // The first and last lines of each section (a hostile dump may claim
    // blocks of millions of rows; their middle rows are formatted alike).
    std::size_t sum = 0;
    for (std::size_t s = 0; s < sections.SectionCount(); ++s) {
        const auto& section = sections.Section(s);
        const std::uint64_t n = section.LineCount();
        for (std::uint64_t i = 0; i < n && i < 48; ++i) sum += section.LineText(i).size();
        for (std::uint64_t i = n > 48 ? n - 48 : n; i < n; ++i) sum += section.LineText(i).size();
    }
    const std::uint64_t total = sections.LineCount();
    for (std::uint64_t i = 0; i < total && i < 4096; ++i) sum += sections.LineText(i).size();
    sum += sections.LineText(total).size(); // past the end: empty
    g_contentsFuzzSink = sum;               // keeps the formatting from being optimised away
    return 0;
}
