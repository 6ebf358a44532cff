#pragma once

// Text of the crashed process that a report must not carry: the values of its
// environment and its command-line arguments. The program may have copied
// them anywhere (a value it read into a string on the heap, an argument
// parsed into a list), so every copy found in the memory the dump captures
// is blanked, not only the blocks the kernel set up at start.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ulmarro {

class PrivateStrings {
public:
    // Texts of three characters or fewer are not taken: blanking every "C" or
    // "yes" would wreck the dump and protect nothing. Each text is looked for
    // as its bytes and as UTF-16LE (the IDE keeps its text in UTF-16).
    void Add(std::string_view text);
    // The NUL-separated strings of /proc/<pid>/environ (values only, the part
    // after the first '=') or /proc/<pid>/cmdline.
    void AddEnvironmentBlock(std::string_view block);
    void AddArgumentBlock(std::string_view block);

    bool empty() const { return needles_.empty(); }
    std::size_t count() const { return needles_.size(); }
    // Length in bytes of the longest string looked for.
    std::size_t longest() const { return longest_; }

    // Zeroes, within buffer[from, to), every occurrence of a string that
    // overlaps that part. The bytes around it are context: a string that
    // starts before `from` or ends after `to` is found through them.
    void Blank(std::uint8_t* buffer, std::size_t size, std::size_t from, std::size_t to) const;

private:
    void AddNeedle(std::string bytes);

    std::vector<std::string> needles_;
    // Candidates by their first four bytes, behind a bit filter that
    // rejects nearly every position of the memory scanned at once.
    std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> byPrefix_;
    std::vector<std::uint64_t> filter_ = std::vector<std::uint64_t>(1024, 0);
    std::size_t longest_ = 0;
};

} // namespace ulmarro
