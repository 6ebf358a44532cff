#include "analysis.h"

#include <cstdio>

#include "core/assembler.h"
#include "core/impl.h" // LineState: what a line leaves for the listing
#include "text.h"

namespace qorbls {

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
        if (at.expansion || at.file.empty()) return;
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
        if (at.expansion || at.file.empty()) return;
        if (code.count == 0 && !ls.hasValue && !ls.reserveLine) return;
        FileFacts& f = Facts(at.file);
        if (f.code.count(at.line)) return; // a file included twice keeps its first code
        qorbls::LineCode c;
        c.start = code.start;
        c.bytes.assign(reinterpret_cast<const char*>(code.bytes), code.count);
        c.itemSizes.assign(reinterpret_cast<const char*>(code.itemSize), code.count);
        c.cycles = code.cycles;
        c.hasValue = ls.hasValue;
        c.value = ls.value;
        c.reserveLine = ls.reserveLine;
        c.reserved = ls.reserved;
        f.code.emplace(at.line, std::move(c));
    }

private:
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

const char kHex[] = "0123456789ABCDEF";
void AppendHex(std::string& out, std::uint32_t v, int digits) {
    for (int i = digits - 1; i >= 0; --i) out += kHex[(v >> (4 * i)) & 0xF];
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
    auto address = [&](std::uint32_t a) {
        if (a <= 0xFFFF) {
            out += "    ";
            AppendHex(out, a, 4);
        } else {
            AppendHex(out, a, 8);
        }
        out += ' ';
    };
    auto bytes = [&]() {
        std::size_t shown = 0;
        while (next < code.bytes.size()) {
            std::size_t size = static_cast<unsigned char>(code.itemSizes[next]);
            if (size == 0) size = 1;
            if (next + size > code.bytes.size()) size = code.bytes.size() - next;
            std::size_t limit = size == 4 ? 8 : 6;
            if (shown > 0 && shown + size > limit) break;
            for (std::size_t i = 0; i < size; ++i) AppendHex(out, static_cast<unsigned char>(code.bytes[next + i]), 2);
            out += ' ';
            next += size;
            shown += size;
        }
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
