#include "analysis.h"

#include <cstdio>
#include <unordered_set>

#include "core/assembler.h"
#include "core/impl.h" // LineState: what a line leaves for the listing
#include "core/listing.h"
#include "statement.h"
#include "text.h"

namespace qorbls {

using qorb::AppendHex;

std::set<std::string> Analysis::Included() const {
    std::set<std::string> out;
    for (const auto& [path, facts] : files)
        for (const IncludeUse& inc : facts.includes)
            if (!inc.opened.empty() && inc.opened != main) out.insert(inc.opened);
    return out;
}

namespace {

class Collector final : public qorb::RunObserver {
public:
    Collector(Analysis& a, const AssemblyOptions& o, const TextSource& t) : a_(a), opts_(o), texts_(t) {}

    bool SourceText(const std::string& path, std::string& text) override {
        return texts_ && texts_(Normal(path), text);
    }

    void Message(int number, qorb::MsgKind kind, std::string_view text, const std::string* file, int line,
                 int column) override {
        qorbls::Message m;
        m.number = number;
        m.kind = kind;
        m.text = std::string(text);
        while (!m.text.empty() && (m.text.back() == '\n' || m.text.back() == '\r')) m.text.pop_back();
        m.line = line;
        m.column = column;
        if (!file || file->empty())
            a_.unplaced.push_back(std::move(m));
        else
            Facts(*file).messages.push_back(std::move(m));
    }

    void Definition(qorb::DefinitionKind kind, std::string_view name, unsigned scope, std::int32_t value,
                    bool known, int parameters, const qorb::SourcePlace& at) override {
        if (at.expansion || at.file.empty()) return;
        Occurrence o;
        o.definition = true;
        o.kind = kind;
        o.nameKind = kind == qorb::DefinitionKind::Local   ? NameKind::Local
                     : kind == qorb::DefinitionKind::Macro ? NameKind::Macro
                                                           : NameKind::Symbol;
        o.name = std::string(name);
        o.key = Key(o.nameKind, name, scope);
        o.line = at.line;
        o.column = at.column;
        o.value = value;
        o.known = known;
        o.parameters = parameters;
        o.scope = scope;
        Facts(at.file).names.push_back(std::move(o));
    }

    void Reference(std::string_view name, bool local, bool macro, unsigned scope,
                   const qorb::SourcePlace& at) override {
        if (at.file.empty()) return;
        if (at.expansion) return ExpandedReference(name, local, scope, at);
        Occurrence o;
        o.nameKind = macro ? NameKind::Macro : local ? NameKind::Local : NameKind::Symbol;
        o.name = std::string(name);
        o.key = Key(o.nameKind, name, scope);
        o.line = at.line;
        o.column = at.column;
        o.scope = scope;
        Facts(at.file).names.push_back(std::move(o));
    }

    void Include(std::string_view written, const std::string& opened, const qorb::SourcePlace& at) override {
        if (at.expansion || at.file.empty()) return;
        IncludeUse u;
        u.line = at.line;
        u.column = at.column;
        u.written = std::string(written);
        if (!opened.empty()) {
            u.opened = Normal(opened);
            Facts(opened); // the file joins the unit even when it defines nothing
        }
        Facts(at.file).includes.push_back(std::move(u));
    }

    void Line(const qorb::SourcePlace& at, const qorb::LineState& ls, const qorb::LineCode& code,
              bool) override {
        if (at.file.empty()) return;
        if (code.count == 0 && !ls.hasValue && !ls.reserveLine) return;
        FileFacts& f = Facts(at.file);
        std::vector<qorbls::LineCode>* expanded = nullptr;
        if (at.expansion) {
            expanded = &f.expansion[at.line];
            if (expanded->size() >= kMaxExpansionLines) return;
        } else if (f.code.count(at.line)) {
            return; // a file included twice keeps its first code
        }
        qorbls::LineCode c;
        c.start = code.start;
        c.bytes.assign(reinterpret_cast<const char*>(code.bytes), code.count);
        c.itemSizes.assign(reinterpret_cast<const char*>(code.itemSize), code.count);
        c.cycles = code.cycles;
        c.hasValue = ls.hasValue;
        c.value = ls.value;
        c.reserveLine = ls.reserveLine;
        c.reserved = ls.reserved;
        if (expanded)
            expanded->push_back(std::move(c));
        else
            f.code.emplace(at.line, std::move(c));
    }

private:
    // A name used in an expanded line was written either in the macro call's
    // arguments or in the body itself: each use of it in the operand field of
    // the calling line, else of the body line, is the place.
    void ExpandedReference(std::string_view name, bool local, unsigned scope, const qorb::SourcePlace& at) {
        if (SameLineUses(name, local, scope, at.file, at.line)) return;
        if (at.bodyFile && !at.bodyFile->empty()) SameLineUses(name, local, scope, *at.bodyFile, at.bodyLine);
    }
    bool SameLineUses(std::string_view name, bool local, unsigned scope, const std::string& file, int line) {
        const Lines& lines = LinesOf(file);
        if (line < 1 || static_cast<std::size_t>(line) > lines.Count()) return false;
        std::string_view text = lines.Line(static_cast<std::size_t>(line - 1));
        if (text.size() > kLineLimit) text = text.substr(0, kLineLimit);
        Statement st = ParseStatement(text, *opts_.target);
        if (st.comment) return false;
        std::size_t from = st.operands ? st.operands : st.commandEnd;
        bool found = false;
        for (std::size_t i = from; i + name.size() <= text.size(); ++i) {
            char c = text[i];
            if (c == ';') break;
            if (c == '"' || c == '\'') {
                std::size_t close = text.find(c, i + 1);
                if (close == std::string_view::npos) break;
                i = close;
                continue;
            }
            if (i > 0 && (IsSymbolChar(text[i - 1]) || text[i - 1] == '\\')) continue;
            std::string_view word = text.substr(i, name.size());
            bool same = a_.caseSensitive ? word == name : LowerAscii(word) == LowerAscii(name);
            if (!same) continue;
            std::size_t end = i + name.size();
            if (end < text.size() && IsSymbolChar(text[end]) && !(local && name.back() == '$')) continue;
            if (end < text.size() && local && (text[end] >= '0' && text[end] <= '9')) continue;
            Occurrence o;
            o.nameKind = local ? NameKind::Local : NameKind::Symbol;
            o.name = std::string(name);
            o.key = Key(o.nameKind, name, scope);
            o.line = line;
            o.column = AssemblerColumn(text, i);
            o.scope = scope;
            // Every expansion of the line finds the same uses once more.
            if (expanded_.insert(Normal(file) + '\n' + std::to_string(line) + '\n' + std::to_string(o.column))
                    .second)
                Facts(file).names.push_back(std::move(o));
            found = true;
            i = end - 1;
        }
        return found;
    }
    // The assembler's column of a raw byte offset (carriage returns and
    // Ctrl-Z left out).
    static std::size_t AssemblerColumn(std::string_view line, std::size_t offset) {
        std::size_t col = 0;
        for (std::size_t i = 0; i < offset && i < line.size(); ++i)
            if (line[i] != '\r' && line[i] != 0x1A) ++col;
        return col;
    }
    const Lines& LinesOf(const std::string& file) {
        std::string path = Normal(file);
        auto it = lines_.find(path);
        if (it != lines_.end()) return it->second;
        std::string text;
        if (!texts_ || !texts_(path, text)) {
            std::FILE* f = std::fopen(path.c_str(), "rb");
            if (f) {
                char buf[65536];
                std::size_t n;
                while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
                std::fclose(f);
            }
        }
        return lines_[path] = Lines(std::move(text));
    }

    std::string Key(NameKind kind, std::string_view name, unsigned scope) const {
        switch (kind) {
        case NameKind::Local: return std::string(name) + "@" + std::to_string(scope);
        case NameKind::Macro: return "macro:" + std::string(name);
        case NameKind::Symbol: break;
        }
        return std::string(name);
    }
    std::string Normal(const std::string& name) {
        auto it = normal_.find(name);
        if (it != normal_.end()) return it->second;
        return normal_[name] = NormalPath(name, opts_.workDir);
    }
    FileFacts& Facts(const std::string& name) { return a_.files[Normal(name)]; }

    Analysis& a_;
    const AssemblyOptions& opts_;
    const TextSource& texts_;
    std::unordered_map<std::string, std::string> normal_;
    std::unordered_map<std::string, Lines> lines_;
    std::unordered_set<std::string> expanded_;
};

bool Number(const std::string& s, long long& v) {
    if (s.empty() || s.size() > 12) return false;
    v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    return true;
}

// The assembler options a settings file may give; the others (outputs,
// listings) mean nothing to an editor and are left out.
qorb::Settings SettingsFrom(const AssemblyOptions& o) {
    qorb::Settings s;
    s.hcs = o.hcs;
    s.includeDirs = o.include;
    for (const std::string& w : o.options) {
        if (w.size() < 2 || (w[0] != '-' && w[0] != '/')) continue;
        std::string n = w.substr(1);
        long long v = 0;
        if (n == "case")
            s.caseSensitive = true;
        else if (n == "mc")
            s.compat = true;
        else if (n == "hcs")
            s.hcs = true;
        else if (n == "dw" || n == "w0")
            s.warningLevel = 0;
        else if (n.size() == 2 && (n[0] == 'W' || n[0] == 'w') && n[1] >= '0' && n[1] <= '4')
            s.warningLevel = n[1] - '0';
        else if (n.rfind("i", 0) == 0 && n.size() > 1)
            s.includeDirs.push_back(NormalPath(n.substr(1), o.workDir));
        else if (n.rfind("Amax", 0) == 0 && Number(n.substr(4), v))
            s.maxPasses = v;
        else if (n.rfind("Amin", 0) == 0 && Number(n.substr(4), v))
            s.minPasses = v;
        else if (n.rfind("Ae", 0) == 0 && Number(n.substr(2), v))
            s.errorLimit = v;
    }
    return s;
}

std::FILE* Discard() {
    static std::FILE* f = std::fopen("/dev/null", "w");
    return f;
}

} // namespace

std::unique_ptr<Analysis> Assemble(const std::string& mainPath, const AssemblyOptions& options,
                                   const TextSource& texts) {
    auto a = std::make_unique<Analysis>();
    a->main = mainPath;
    a->target = options.target;
    a->files[mainPath];
    qorb::Settings settings = SettingsFrom(options);
    a->caseSensitive = settings.caseSensitive;
    Collector collector(*a, options, texts);
    qorb::Assembler as(*options.target, settings);
    as.SetOutput(Discard(), Discard());
    as.SetObserver(&collector);
    if (options.target->CheckTables(as))
        as.AssembleSource(mainPath, mainPath, options.objectPath, options.objectPath, std::string(),
                          std::string());
    return a;
}

// The same fields the listing writes (see the listing of the assembler):
// the address, then as many whole items as fit on a line, then more lines.
std::string ListingCodeField(const LineCode& code, std::string* cycles) {
    std::string out;
    std::size_t next = 0;
    auto address = [&](std::uint32_t a) { qorb::AppendListingAddress(out, a); };
    auto bytes = [&]() {
        next = qorb::AppendListingItems(out, reinterpret_cast<const std::uint8_t*>(code.bytes.data()),
                                        reinterpret_cast<const std::uint8_t*>(code.itemSizes.data()),
                                        code.bytes.size(), next);
    };
    if (code.hasValue) {
        out.append(9, ' ');
        out += '=';
        AppendHex(out, static_cast<std::uint32_t>(code.value), 8);
    } else if (code.reserveLine) {
        address(code.start);
        out += '+';
        AppendHex(out, static_cast<std::uint32_t>(std::min<std::size_t>(code.reserved, 0xFFFFFFFFu)), 4);
    } else if (!code.bytes.empty()) {
        address(code.start);
        bytes();
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    while (next < code.bytes.size()) {
        out += '\n';
        std::size_t lineStart = out.size();
        out.append(7, ' ');
        address(code.start + static_cast<std::uint32_t>(next));
        bytes();
        while (out.size() > lineStart && out.back() == ' ') out.pop_back();
    }
    if (cycles) {
        cycles->clear();
        if (code.cycles >= 0 && !code.hasValue && !code.reserveLine) {
            *cycles = "[";
            AppendHex(*cycles, static_cast<std::uint32_t>(code.cycles) & 0xFF, 2);
            *cycles += ']';
        }
    }
    return out;
}

} // namespace qorbls
