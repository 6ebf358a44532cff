#pragma once

// The breakpoints of one source file as the editor sees them: line numbers
// that follow their text while the file is edited, and a text form for the
// settings. Pure data: the session resolves lines to addresses when a
// program is debugged.

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qorb::debug {

// An edit as lines: `removed` lines starting at `line` (1-based) were
// deleted and `inserted` lines put in their place. A change inside one
// line is {line, 1, 1}; a line break typed in line 5 is {5, 1, 2}; a line
// inserted before line 5 is {5, 0, 1}.
struct LineEdit {
    int line = 1;
    int removed = 0;
    int inserted = 0;
};

class FileBreakpoints {
public:
    bool Has(int line) const { return lines_.count(line) != 0; }
    // Adds or removes; returns true when the line has one afterwards.
    bool Toggle(int line);
    void Add(int line);
    void Remove(int line) { lines_.erase(line); }
    void Clear() { lines_.clear(); }
    bool Empty() const { return lines_.empty(); }
    std::vector<int> Lines() const { return {lines_.begin(), lines_.end()}; }

    // Moves the breakpoints with their text. Lines that stay (the first
    // min(removed, inserted) of a replaced block) keep theirs; a breakpoint
    // on a deleted line goes with it (its text is gone, and stopping on an
    // unrelated line would surprise); lines after the edit shift.
    void Apply(const LineEdit& edit);

    // "12,40,41": the settings' form. Parse accepts exactly that (blanks
    // allowed); anything else leaves the set empty and says why.
    std::string Serialize() const;
    static std::optional<FileBreakpoints> Parse(const std::string& text, std::string& error);

private:
    std::set<int> lines_;
};

} // namespace qorb::debug
