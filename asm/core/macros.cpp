// Macros and repeat blocks: collecting a body, expanding it with its
// arguments, mexit.

#include "macros.h"

#include <charconv>
#include <cstring>

#include "impl.h"
#include "observe.h"

namespace qorb {

namespace {

class MacroSource final : public InputSource {
public:
    MacroSource(SourceKind k, std::shared_ptr<Macro> m, std::vector<std::string> args, unsigned repeats,
                Assembler::Impl& im)
        : InputSource(k), macro_(std::move(m)), args_(std::move(args)), repeats_(repeats), im_(im) {
        name = macro_->name;
        defFile = macro_->file;
        defLine = macro_->line;
        expansion_ = ++im_.expansionCounter;
    }

    const Macro* GetMacro() const { return macro_.get(); }

    void EndExpansion() override {
        if (kind == SourceKind::Repeat)
            pos_ = macro_->body.size();
        else
            ended = true;
    }

    bool Next(std::string_view& out) override {
        while (pos_ >= macro_->body.size()) {
            if (repeats_ <= 1 || macro_->body.empty()) return false;
            --repeats_;
            pos_ = 0;
            expansion_ = ++im_.expansionCounter;
        }
        Substitute(macro_->body[pos_++], text_);
        out = text_;
        ++line;
        bodyLine = static_cast<int>(pos_);
        return true;
    }

private:
    void Substitute(const std::string& in, std::string& out) const {
        out.clear();
        // Stops once the line is full: long arguments used many times must
        // not build a huge line only to cut it.
        for (std::size_t i = 0; i < in.size() && out.size() < kMaxLineLength; ++i) {
            const char* slash = static_cast<const char*>(std::memchr(in.data() + i, '\\', in.size() - i));
            std::size_t at = slash ? static_cast<std::size_t>(slash - in.data()) : in.size();
            out.append(in, i, at - i);
            i = at;
            if (i + 1 >= in.size()) {
                if (i < in.size()) out += '\\';
                break;
            }
            char n = in[i + 1];
            int index = -1;
            if (n >= '1' && n <= '9')
                index = n - '1';
            else if (n >= 'a' && n <= 'z')
                index = n - 'a' + 9;
            else if (n >= 'A' && n <= 'Z')
                index = n - 'A' + 9;
            if (index >= 0) {
                if (static_cast<std::size_t>(index) < args_.size()) out += args_[index];
                ++i;
            } else if (n == '#' || n == '0') {
                out += std::to_string(args_.size());
                ++i;
            } else if (n == '@') {
                char digits[16];
                auto end = std::to_chars(digits, digits + sizeof digits, expansion_).ptr;
                std::size_t count = static_cast<std::size_t>(end - digits);
                out += '_';
                if (count < 5) out.append(5 - count, '0');
                out.append(digits, count);
                ++i;
            } else if (n == '\\') {
                out += '\\';
                ++i;
            } else {
                out += '\\';
            }
        }
        if (out.size() > kMaxLineLength) out.resize(kMaxLineLength);
    }

    std::shared_ptr<Macro> macro_;
    std::vector<std::string> args_;
    unsigned repeats_;
    Assembler::Impl& im_;
    std::size_t pos_ = 0;
    unsigned expansion_ = 0;
    std::string text_; // the line delivered last
};

} // namespace

namespace {
// The command word of a line as the statement syntax finds it (lower case),
// for counting nested definitions without processing the lines.
std::string CommandWord(std::string_view line) {
    std::size_t i = 0, n = line.size();
    if (n == 0 || line[0] == '*' || line[0] == ';') return {};
    auto word = [&](std::string& out) {
        out.clear();
        if (i < n && (chars::IsSymbolStart(line[i]) || line[i] == '\\')) {
            out += line[i++];
            while (i < n && (chars::IsSymbolChar(line[i]) || line[i] == '\\')) out += line[i++];
        }
        FoldLower(out);
        return !out.empty();
    };
    bool blank = chars::IsBlank(line[0]);
    while (i < n && chars::IsBlank(line[i])) ++i;
    if (i < n && chars::IsDigit(line[i])) {
        while (i < n && chars::IsDigit(line[i])) ++i;
        if (i < n && line[i] == '$') ++i;
        if (i < n && line[i] == ':') ++i;
        while (i < n && chars::IsBlank(line[i])) ++i;
        blank = true;
    }
    if (i < n && (line[i] == '#' || (line[i] == '.' && blank))) ++i;
    std::string first;
    if (!word(first)) return {};
    if (blank && !(i < n && line[i] == ':')) return first;
    if (i < n && line[i] == ':') ++i;
    while (i < n && chars::IsBlank(line[i])) ++i;
    if (i < n && line[i] == '.') ++i;
    std::string second;
    word(second);
    return second;
}
} // namespace

void Assembler::Impl::StartCollecting(bool repeat, std::shared_ptr<Macro> macro, std::uint32_t count) {
    collecting = Collecting{};
    collecting.active = true;
    collecting.repeat = repeat;
    collecting.macro = std::move(macro);
    collecting.store = collecting.macro != nullptr;
    collecting.count = count;
    collecting.source = Top();
}

void Assembler::Impl::CollectLine(std::string_view line) {
    std::string word = CommandWord(line);
    if (!word.empty() && word[0] == '\\') word.erase(0, 1);
    if (collecting.repeat) {
        if (word == "rept" || word == "repeat")
            ++collecting.nesting;
        else if (word == "endr" && collecting.nesting-- == 0) {
            auto macro = std::move(collecting.macro);
            std::uint32_t count = collecting.count;
            collecting = Collecting{};
            if (count > 0 && macro && !macro->body.empty()) {
                if (sources.size() >= kMaxSourceDepth) {
                    as.Report(Msg::OutOfMemory);
                    return;
                }
                PushSource(std::make_unique<MacroSource>(SourceKind::Repeat, std::move(macro),
                                                         std::vector<std::string>{}, count, *this));
            }
            return;
        }
    } else {
        if (word == "macro")
            ++collecting.nesting;
        else if (word == "endm" && collecting.nesting-- == 0) {
            collecting = Collecting{};
            return;
        }
    }
    if (collecting.store && collecting.macro) {
        if (collecting.macro->body.size() >= 1000000) {
            as.Report(Msg::OutOfMemory);
            return;
        }
        collecting.macro->body.emplace_back(line);
    }
}

// Where a body being defined now lives: the file line, or for a definition
// inside an expansion, the line of the enclosing macro's body.
void Assembler::Impl::DefinitionPlace(std::string& file, int& line) const {
    InputSource* top = Top();
    file = top->kind == SourceKind::File ? top->name : top->defFile;
    line = top->kind == SourceKind::File ? top->line : top->defLine + top->bodyLine;
}

bool Assembler::Impl::MacroDefinition() {
    if (label.empty() || localLabel >= 0) return as.Report(Msg::DirectiveRequiresLabel);
    std::shared_ptr<Macro> macro;
    std::string file;
    int line = 0;
    DefinitionPlace(file, line);
    bool ok = true;
    auto it = macros.find(label);
    if (as.pass_ == 1 && LinesActive()) {
        if (it != macros.end()) {
            as.scan_.SetPos(labelPos);
            ok = as.Report(Msg::MacroRedefinition, {label});
        } else {
            macro = std::make_shared<Macro>();
            macro->name = label;
            macro->file = file;
            macro->line = line;
            macros.emplace(label, macro);
        }
    } else if (it != macros.end() && (it->second->file != file || it->second->line != line)) {
        // The table keeps the first definition; a later one with the same
        // name must be reported in the pass that prints messages too.
        as.scan_.SetPos(labelPos);
        ok = as.Report(Msg::MacroRedefinition, {label});
    }
    observe::MacroDefinition(*this, label);
    ls.hasLabel = false;
    StartCollecting(false, macro, 0);
    return ok;
}

bool Assembler::Impl::RepeatBlock() {
    ExprResult count;
    Scanner& s = as.scan_;
    s.SkipBlanks();
    std::size_t at = s.Pos();
    bool ok = as.Evaluate(count, true);
    if (ok && count.known && (count.value < 0 || count.value > 65535)) {
        s.SetPos(at);
        as.Report(Msg::ExpressionOutOfRange, {"[0..65535]"});
        ok = false;
    }
    auto macro = std::make_shared<Macro>();
    DefinitionPlace(macro->file, macro->line);
    // The block is always collected so that its lines are not processed.
    StartCollecting(true, macro, ok && count.known ? static_cast<std::uint32_t>(count.value) : 0);
    collecting.store = true;
    return ok;
}

bool Assembler::Impl::ExpandMacro(std::shared_ptr<Macro> macro) {
    for (auto& s : sources) {
        if (s->kind == SourceKind::Macro && !macro->name.empty() &&
            static_cast<MacroSource*>(s.get())->GetMacro()->name == macro->name) {
            as.scan_.SetPos(commandPos);
            return as.Report(Msg::RecursiveMacroCall);
        }
    }
    if (sources.size() >= kMaxSourceDepth) return as.Report(Msg::OutOfMemory);
    Scanner& s = as.scan_;
    std::vector<std::string> args;
    if (s.SkipBlanks()) {
        for (;;) {
            s.SkipBlanks();
            std::string arg;
            char c = s.Cur();
            if (!s.AtStatementEnd() && (c == '"' || c == '\'')) {
                arg += c;
                s.Advance();
                while (!s.AtEnd() && s.Cur() != c) arg += s.Cur(), s.Advance();
                if (!s.AtEnd()) arg += c, s.Advance();
            } else if (!s.AtStatementEnd() && c == '<') {
                s.Advance();
                while (!s.AtEnd() && s.Cur() != '>') arg += s.Cur(), s.Advance();
                s.Accept('>');
            } else {
                while (!s.AtStatementEnd() && s.Cur() != ',' && !chars::IsBlank(s.Cur()))
                    arg += s.Cur(), s.Advance();
            }
            args.push_back(std::move(arg));
            std::size_t save = s.Pos();
            if (s.SkipBlanks() && s.Accept(',')) continue;
            s.SetPos(save);
            break;
        }
    }
    s.SetPos(s.Length());
    auto expansion =
        std::make_unique<MacroSource>(SourceKind::Macro, std::move(macro), std::move(args), 1, *this);
    expansion->callerLocScope = locScope;
    PushSource(std::move(expansion));
    return true;
}

bool Assembler::Impl::Mexit() {
    InputSource* top = Top();
    if (!top || top->kind == SourceKind::File) {
        as.scan_.SetPos(commandPos);
        return as.Report(Msg::DirectiveNotAllowedOutsideMacro);
    }
    if (conds.size() > top->condFloor) conds.resize(top->condFloor);
    top->EndExpansion();
    return true;
}

} // namespace qorb
