// The scanner's primitives: identifiers and texts.

#include <algorithm>
#include <cstring>

#include "impl.h"

namespace qorb {

void FoldLower(std::string& s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

bool Assembler::ReadRawIdentifier(std::string& out, char extraStart) {
    const char* line = scan_.Line();
    const std::size_t length = scan_.Length();
    const std::size_t start = scan_.Pos();
    const char c = start < length ? line[start] : '\0';
    if (start >= length || !(chars::IsSymbolStart(c) || (extraStart && c == extraStart))) {
        out.clear();
        return false;
    }
    // The whole identifier is consumed; its name is cut at 256 characters.
    std::size_t end = start + 1;
    while (end < length && chars::IsSymbolChar(line[end])) ++end;
    scan_.SetPos(end);
    // clear + append: assign's general replacement path costs more than
    // the copy of a short name.
    out.clear();
    out.append(line + start, std::min(end - start, kMaxSymbolLength));
    return true;
}

bool Assembler::ReadIdentifier(std::string& out, char extraStart) {
    if (!ReadRawIdentifier(out, extraStart)) return false;
    if (!settings_.caseSensitive) FoldLower(out);
    return true;
}

bool Assembler::ReadText(std::string& out, bool quotesRequired) {
    out.clear();
    if (!scan_.SkipBlanks()) return false;
    char q = scan_.Cur();
    if (q == '"' || q == '\'') {
        std::size_t start = scan_.Pos();
        scan_.Advance();
        while (!scan_.AtEnd() && scan_.Cur() != q) out += scan_.Cur(), scan_.Advance();
        if (scan_.AtEnd()) {
            scan_.SetPos(start);
            out.clear();
            return false;
        }
        scan_.Advance();
        return true;
    }
    if (quotesRequired) return false;
    while (!scan_.AtEnd() && !chars::IsBlank(scan_.Cur()) && scan_.Cur() != ',' && scan_.Cur() != ';')
        out += scan_.Cur(), scan_.Advance();
    return !out.empty();
}

} // namespace qorb
