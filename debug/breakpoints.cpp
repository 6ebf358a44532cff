#include "breakpoints.h"

#include <algorithm>

namespace qorb::debug {

bool FileBreakpoints::Toggle(int line) {
    if (lines_.erase(line)) return false;
    Add(line);
    return Has(line);
}

void FileBreakpoints::Add(int line) {
    if (line >= 1) lines_.insert(line);
}

void FileBreakpoints::Apply(const LineEdit& edit) {
    if (edit.line < 1 || edit.removed < 0 || edit.inserted < 0) return;
    const int kept = std::min(edit.removed, edit.inserted);
    const int shift = edit.inserted - edit.removed;
    std::set<int> moved;
    for (const int l : lines_) {
        if (l < edit.line + kept)
            moved.insert(l);
        else if (l >= edit.line + edit.removed)
            moved.insert(l + shift);
        // else: the line was deleted
    }
    lines_ = std::move(moved);
}

std::string FileBreakpoints::Serialize() const {
    std::string out;
    for (const int l : lines_) {
        if (!out.empty()) out += ',';
        out += std::to_string(l);
    }
    return out;
}

std::optional<FileBreakpoints> FileBreakpoints::Parse(const std::string& text, std::string& error) {
    FileBreakpoints result;
    std::size_t i = 0;
    auto blanks = [&]() {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    };
    blanks();
    if (i == text.size()) return result;
    for (;;) {
        blanks();
        const std::size_t start = i;
        long v = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && v <= 100000000)
            v = v * 10 + (text[i++] - '0');
        if (i == start || v < 1 || v > 100000000) {
            error = "breakpoint list '" + text + "': expected a line number at position " +
                    std::to_string(start + 1);
            return std::nullopt;
        }
        result.Add(static_cast<int>(v));
        blanks();
        if (i == text.size()) return result;
        if (text[i] != ',') {
            error = "breakpoint list '" + text + "': expected ',' at position " + std::to_string(i + 1);
            return std::nullopt;
        }
        ++i;
    }
}

} // namespace qorb::debug
