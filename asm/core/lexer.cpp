// The scanner's primitives: identifiers and texts.

#include <cstring>

#include "impl.h"

namespace qorb {

void FoldLower(std::string& s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

bool Assembler::ReadRawIdentifier(std::string& out, char extraStart) {
    out.clear();
    char c = scan_.Cur();
    if (scan_.AtEnd() || !(chars::IsSymbolStart(c) || (extraStart && c == extraStart))) return false;
    // The whole identifier is consumed; its name is cut at 256 characters.
    std::size_t start = scan_.Pos();
    scan_.Advance();
    while (!scan_.AtEnd() && chars::IsSymbolChar(scan_.Cur())) scan_.Advance();
    std::size_t len = scan_.Pos() - start;
    if (len > kMaxSymbolLength) len = kMaxSymbolLength;
    out.assign(scan_.Line() + start, len);
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
