#pragma once

// Reads the line map the assemblers write with -g: which source line placed
// each byte of the object (with the macro calls and repeat blocks that led
// there), and where each symbol got its value. The debugger asks it both
// ways: address -> line for the current position, line -> addresses for
// breakpoints and Run to Cursor.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qorb::debug {

struct SourcePlace {
    unsigned file = 0; // 1-based index into the map's files
    int line = 0;
    bool operator==(const SourcePlace&) const = default;
};

// A placed byte range. `chain` holds the placing line first, then each
// macro call or repeat block's endr line that led to it, innermost first;
// the last element is always a line of a file as the user sees it.
struct PlacedRange {
    std::uint32_t address = 0;
    std::uint32_t length = 0;
    std::vector<SourcePlace> chain;
    bool Contains(std::uint32_t a) const { return a >= address && a - address < length; }
};

struct MapSymbol {
    std::string name;
    std::uint32_t value = 0;
    std::string kind; // label, equ, set, local, section
    SourcePlace where;
};

class LineMapReader {
public:
    // Parses map text (`name` in messages). On a fault returns false with
    // `error` as "name(line): text" or "name: text"; the reader is then empty.
    bool Parse(const std::string& text, const std::string& name, std::string& error);
    bool Load(const std::string& path, std::string& error);

    const std::string& Target() const { return target_; }     // 68HC12, HCS12, 68HC11
    const std::string& SourceName() const { return source_; } // as the command line gave it
    // File n is Files()[n - 1].
    const std::vector<std::string>& Files() const { return files_; }
    std::string FileName(unsigned file) const;
    // A file by its path: exact, else the same normalised path, else the
    // only file with that last component. 0 when none.
    unsigned FindFile(const std::string& path) const;

    const std::vector<PlacedRange>& Ranges() const { return ranges_; }
    const std::vector<MapSymbol>& Symbols() const { return symbols_; }
    std::optional<std::uint32_t> Entry() const { return entry_; }

    // The range holding `address`, or nullptr for bytes without a source.
    const PlacedRange* At(std::uint32_t address) const;

    // Where execution stops for a breakpoint on file:line. A line that placed
    // code itself (a plain instruction, or a line of a macro body) gives the
    // start of each of its ranges: every expansion of a macro body line
    // stops. A line that led to code (a macro call, a repeat block's endr)
    // gives the first address of each run of code it produced. Empty for a
    // line without code.
    std::vector<std::uint32_t> AddressesOf(unsigned file, int line) const;
    // The line itself when it has code, else the next line of the file that
    // has; nullopt when nothing after it has code.
    std::optional<int> LineWithCode(unsigned file, int line) const;
    // Every range whose chain ends with `suffix` (the code of one statement
    // as seen at some macro level).
    bool EndsWith(const PlacedRange& r, const std::vector<SourcePlace>& suffix) const;

    // "name.asm:12", with " (from name.asm:30)" for each call level.
    std::string Describe(const std::vector<SourcePlace>& chain) const;
    std::string Describe(SourcePlace place) const;

private:
    void Clear();

    std::string target_, source_;
    std::vector<std::string> files_;
    std::vector<PlacedRange> ranges_;             // in the map's order
    std::vector<std::size_t> byAddress_;          // indexes into ranges_, sorted by address
    std::map<unsigned, std::set<int>> codeLines_; // per file, every line in some chain
    std::vector<MapSymbol> symbols_;
    std::optional<std::uint32_t> entry_;
};

} // namespace qorb::debug
