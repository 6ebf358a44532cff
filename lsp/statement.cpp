#include "statement.h"

#include "core/directives.h"
#include "core/preprocessor.h"
#include "text.h"

namespace qorbls {

namespace {
bool Blank(char c) { return c == ' ' || c == '\t'; }
// A word as the assembler's identifier reader takes it: `$` may start one.
std::size_t WordEnd(std::string_view line, std::size_t i) {
    if (i >= line.size() || !(IsSymbolStart(line[i]) || line[i] == '$')) return i;
    ++i;
    while (i < line.size() && IsSymbolChar(line[i])) ++i;
    return i;
}
} // namespace

Statement ParseStatement(std::string_view line, const qorb::Target& target) {
    Statement st;
    if (line.size() > kLineLimit) line = line.substr(0, kLineLimit);
    if (line.empty()) return st;
    if (line[0] == '*' || line[0] == ';') {
        st.comment = true;
        return st;
    }
    const bool blank = Blank(line[0]);
    std::size_t i = 0;
    while (i < line.size() && Blank(line[i])) ++i;
    bool local = false;
    if (i < line.size() && line[i] >= '0' && line[i] <= '9') {
        std::size_t j = i;
        while (j < line.size() && line[j] >= '0' && line[j] <= '9') ++j;
        if (j < line.size() && line[j] == '$') {
            st.labelBegin = i;
            st.labelEnd = j + 1;
            local = true;
            i = j + 1;
            if (i < line.size() && line[i] == ':') ++i;
            while (i < line.size() && Blank(line[i])) ++i;
        }
    }
    bool marked = false, dot = false;
    st.markBegin = i;
    if (i < line.size() && (line[i] == '#' || line[i] == '$') && !local) {
        marked = true;
        ++i;
    } else if ((blank || local) && i < line.size() && line[i] == '.') {
        dot = true;
        ++i;
    }
    std::size_t wordEnd = marked ? i : WordEnd(line, i);
    if (marked)
        while (wordEnd < line.size() && IsSymbolChar(line[wordEnd])) ++wordEnd;
    if (wordEnd == i) return st;
    bool isCommand = marked || dot || local || (blank && (wordEnd >= line.size() || line[wordEnd] != ':'));
    if (!isCommand) {
        st.labelBegin = i;
        st.labelEnd = wordEnd;
        if (wordEnd < line.size() && line[wordEnd] == '`') ++wordEnd;
        i = wordEnd;
        if (i < line.size() && line[i] == ':') ++i;
        while (i < line.size() && Blank(line[i])) ++i;
        st.markBegin = i;
        if (i < line.size() && line[i] == '.') {
            dot = true;
            ++i;
        }
        wordEnd = WordEnd(line, i);
        if (wordEnd == i) {
            st.operands = i;
            return st;
        }
    }
    st.commandBegin = i;
    st.commandEnd = wordEnd;
    st.command = LowerAscii(line.substr(i, wordEnd - i));
    if (!dot && qorb::FindPreprocessor(st.command) >= 0)
        st.kind = CommandKind::Preprocessor;
    else if (marked)
        st.kind = CommandKind::Other;
    else if (qorb::FindDirective(st.command) >= 0)
        st.kind = CommandKind::Directive;
    else if (!dot && target.FindInstruction(st.command))
        st.kind = CommandKind::Instruction;
    else
        st.kind = CommandKind::Other;
    i = wordEnd;
    while (i < line.size() && Blank(line[i])) ++i;
    st.operands = i;
    return st;
}

std::vector<ColourToken> ColourLine(std::string_view line, const qorb::Target& target, bool hc12) {
    std::vector<ColourToken> out;
    if (line.size() > kLineLimit) line = line.substr(0, kLineLimit);
    Statement st = ParseStatement(line, target);
    if (st.comment) {
        out.push_back({0, line.size(), TokenType::Comment});
        return out;
    }
    if (st.labelEnd > st.labelBegin) out.push_back({st.labelBegin, st.labelEnd, TokenType::Label});
    if (st.commandEnd > st.commandBegin) {
        TokenType t = st.kind == CommandKind::Preprocessor  ? TokenType::Preprocessor
                      : st.kind == CommandKind::Directive   ? TokenType::Directive
                      : st.kind == CommandKind::Instruction ? TokenType::Mnemonic
                                                            : TokenType::Symbol;
        out.push_back(
            {st.kind == CommandKind::Preprocessor ? st.markBegin : st.commandBegin, st.commandEnd, t});
    }
    std::size_t i = st.operands ? st.operands : (st.commandEnd ? st.commandEnd : st.labelEnd);
    const bool include = st.kind == CommandKind::Preprocessor && st.command == "include";
    while (i < line.size()) {
        char c = line[i];
        if (Blank(c) || c == ',' || c == '(' || c == ')' || c == '[' || c == ']' || c == '#' || c == '+' ||
            c == '-' || c == '*' || c == '/' || c == '<' || c == '>' || c == '&' || c == '|' || c == '^' ||
            c == '~' || c == '!' || c == '=') {
            ++i;
            continue;
        }
        if (c == ';') {
            out.push_back({i, line.size(), TokenType::Comment});
            break;
        }
        if (include && c != '"' && c != '\'') {
            std::size_t e = i;
            while (e < line.size() && !Blank(line[e]) && line[e] != ';') ++e;
            out.push_back({i, e, TokenType::String});
            i = e;
            continue;
        }
        auto [b, e] = TokenAt(line, i);
        if (c == '"' || c == '\'') {
            out.push_back({b, e, TokenType::String});
        } else if ((c >= '0' && c <= '9') || ((c == '%' || c == '@' || c == '$') && e > b + 1)) {
            // N$ is a local label, the others numbers
            TokenType t =
                (c >= '0' && c <= '9' && line[e - 1] == '$') ? TokenType::Symbol : TokenType::Number;
            out.push_back({b, e, t});
        } else if (IsSymbolStart(c)) {
            std::string w = LowerAscii(line.substr(b, e - b));
            bool reg = w == "a" || w == "b" || w == "d" || w == "x" || w == "y" ||
                       (hc12 && (w == "sp" || w == "pc" || w == "ccr"));
            out.push_back({b, e, reg ? TokenType::Register : TokenType::Symbol});
        }
        i = e > i ? e : i + 1;
    }
    return out;
}

} // namespace qorbls
