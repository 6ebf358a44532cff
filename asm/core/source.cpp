// Input sources (files, macro expansions, repeat blocks), the line loop,
// include files, conditional assembly, macros and the message commands.

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cstring>

#include "host.h"
#include "impl.h"
#include "listing.h"
#include "source.h"

namespace qorb {

namespace {

// Hostile sources could nest includes or expansions without end; the stack is
// bounded well below what the process can hold.
constexpr std::size_t kMaxSourceDepth = 1100;

class FileSource final : public InputSource {
public:
    FileSource(int fd, Assembler& as) : InputSource(SourceKind::File), fd_(fd), as_(as) {}
    ~FileSource() override {
        host::Close(fd_);
    }

    bool Next(std::string& out) override {
        out.clear();
        bool any = false;
        for (;;) {
            if (pos_ >= len_) {
                if (eof_) break;
                int e = 0;
                long n = host::Read(fd_, buf_, sizeof buf_, &e);
                if (n < 0) {
                    eof_ = true;
                    as_.Report(Msg::IoErrorReadingFile, {name, host::ErrorText(e)});
                    break;
                }
                if (n == 0) {
                    eof_ = true;
                    break;
                }
                len_ = static_cast<std::size_t>(n);
                pos_ = 0;
            }
            // Scan the buffer for the end of the line.
            const char* start = buf_ + pos_;
            const char* end = static_cast<const char*>(std::memchr(start, '\n', len_ - pos_));
            std::size_t take = end ? static_cast<std::size_t>(end - start) : len_ - pos_;
            // Carriage returns and Ctrl-Z are dropped wherever they stand.
            // Most lines have none, or only a CR before the line feed: copy
            // those at once, the others run by run.
            std::size_t plain = take;
            if (plain > 0 && start[plain - 1] == '\r') --plain;
            const bool clean = !std::memchr(start, '\r', plain) && !std::memchr(start, 0x1A, plain);
            for (std::size_t i = 0; i < (clean ? plain : take) && out.size() < kMaxLineLength;) {
                std::size_t run = clean ? plain : i;
                while (run < take && start[run] != '\r' && start[run] != 0x1A) ++run;
                out.append(start + i, std::min(run - i, kMaxLineLength - out.size()));
                i = run + 1;
            }
            any = any || take > 0;
            pos_ += take;
            if (end) {
                ++pos_;
                ++line;
                return true;
            }
        }
        // A last line without a line feed still counts when it is not empty.
        if (any && !out.empty()) {
            ++line;
            return true;
        }
        return false;
    }

    // The file's identity: the same file reached by another name is still
    // a recursive include.
    host::FileId id; // the same file under another name is the same file

private:
    int fd_;
    Assembler& as_;
    char buf_[16384];
    std::size_t pos_ = 0, len_ = 0;
    bool eof_ = false;
};

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
        if (kind == SourceKind::Repeat) pos_ = macro_->body.size();
        else ended = true;
    }

    bool Next(std::string& out) override {
        while (pos_ >= macro_->body.size()) {
            if (repeats_ <= 1 || macro_->body.empty()) return false;
            --repeats_;
            pos_ = 0;
            expansion_ = ++im_.expansionCounter;
        }
        Substitute(macro_->body[pos_++], out);
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
            if (n >= '1' && n <= '9') index = n - '1';
            else if (n >= 'a' && n <= 'z') index = n - 'a' + 9;
            else if (n >= 'A' && n <= 'Z') index = n - 'A' + 9;
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
};

std::string DirectoryOf(const std::string& file) {
    auto p = file.find_last_of(host::NativeSeparator());
    return p == std::string::npos ? std::string() : file.substr(0, p + 1);
}

// Finds `path` letting every component match without regard to case (sources
// written on Windows name "DEFS.INC" for defs.inc). Empty when nothing matches.
std::string FindIgnoringCase(const std::string& path) {
    std::string result;
    std::vector<std::string> names;
    std::size_t i = 0;
    if (!path.empty() && path[0] == '/') {
        result.push_back('/'); // assigning "/" trips a false -Wrestrict of GCC 12 under the sanitizers
        i = 1;
    }
    while (i <= path.size()) {
        std::size_t j = path.find('/', i);
        if (j == std::string::npos) j = path.size();
        std::string part = path.substr(i, j - i);
        if (part.empty() || part == "." || part == "..") {
            if (!part.empty()) result += part + (j < path.size() ? "/" : "");
            i = j + 1;
            continue;
        }
        std::string dir = result.empty() ? "." : result;
        if (!host::ListDirectory(dir, names)) return {};
        std::string found;
        for (const std::string& n : names) {
            if (host::EqualIgnoringCase(n, part)) {
                found = n;
                if (found == part) break;
            }
        }
        if (found.empty()) return {};
        result += found;
        if (j < path.size()) result += '/';
        i = j + 1;
    }
    return result;
}

} // namespace

void Assembler::Impl::PushSource(std::unique_ptr<InputSource> src) {
    src->condFloor = conds.size();
    src->saveFloor = saveStack.size();
    sources.push_back(std::move(src));
}

bool Assembler::Impl::PushFile(const std::string& name, const std::string& opened) {
    if (sources.size() >= kMaxSourceDepth) return as.Report(Msg::OutOfMemory);
    int error = 0;
    host::FileId id;
    int fd = host::OpenRead(opened, &error, &id);
    if (fd < 0) return as.Report(Msg::CannotOpen, {name, host::ErrorText(error)});
    NoteInput(id, name);
    auto src = std::make_unique<FileSource>(fd, as);
    src->name = name;
    src->id = id;
    PushSource(std::move(src));
    return true;
}

bool Assembler::Impl::RunPass() {
    if (!PushFile(sourceDisplay, sourcePath)) return false;
    std::string& text = lineText;
    // Nested repeat blocks multiply: two of 65535 would run four billion
    // lines, and a symbol that never resolves repeats that for every pass.
    // All passes of a source together process at most twenty times the
    // lines of the largest real program (which needs about four times its
    // length). An ordinary pass leaves as many lines for the final pass as
    // it used itself, so that the final pass, which alone prints, reaches
    // the place where the budget ran out and reports it there.
    constexpr std::uint64_t kMaxLinesPerSource = 20'000'000;
    std::uint64_t lines = 0;
    while (!sources.empty()) {
        if (as.fatals_) break;
        InputSource* top = sources.back().get();
        if (top->ended || !top->Next(text)) {
            if (as.fatals_) break;
            EndSource();
            continue;
        }
        ++lines;
        if (linesSpent + (as.final_ ? lines : 2 * lines) > kMaxLinesPerSource) {
            budgetSpent = true;
            as.scan_.Set(text.data(), 0);
            as.Report(Msg::OutOfMemory);
            break;
        }
        ProcessLine(top);
        AfterLine();
    }
    linesSpent += lines;
    sources.clear();
    lineActive = false;
    return as.errors_ == 0 && as.fatals_ == 0;
}

void Assembler::Impl::ProcessLine(InputSource* src) {
    as.scan_.Set(lineText.data(), lineText.size());
    as.code_.Clear(as.pc_);
    ls = LineState{};
    ls.macroLine = src->kind != SourceKind::File;
    lineNumber = src->line;
    label.clear();
    localLabel = -1;
    labelPos = 0;
    lineActive = true;
    if (collecting.active) {
        CollectLine(lineText);
        return;
    }
    ProcessStatement();
}

void Assembler::Impl::EndSource() {
    InputSource* top = sources.back().get();
    if (collecting.active && collecting.source == top) {
        as.Report(collecting.repeat ? Msg::EndrExpected : Msg::EndmExpected);
        collecting = Collecting{};
    }
    lineCounter += static_cast<unsigned>(top->line);
    bool condReported = false, saveReported = false;
    if (!as.fatals_) {
        if (conds.size() > top->condFloor) {
            as.Report(Msg::UnmatchedIf);
            condReported = true;
        }
        if (saveStack.size() > top->saveFloor) {
            as.Report(Msg::UnmatchedSave);
            saveReported = true;
        }
    }
    sources.pop_back();
    if (!sources.empty()) {
        InputSource* outer = sources.back().get();
        if (condReported) outer->condFloor = std::max(outer->condFloor, conds.size());
        if (saveReported) outer->saveFloor = std::max(outer->saveFloor, saveStack.size());
    }
}

// ---------------------------------------------------------------------------
// include

bool Assembler::Impl::Include() {
    std::string& name = ident;
    std::size_t at = as.scan_.Pos();
    if (!as.ReadText(name, false)) return as.Report(Msg::FilenameExpected);
    std::string written = name;
    std::string wanted = host::NativeSeparators(written);

    std::vector<std::string> candidates;
    if (host::IsAbsolute(wanted)) {
        candidates.push_back(wanted);
    } else {
        candidates.push_back(wanted);
        for (auto it = sources.rbegin(); it != sources.rend(); ++it) {
            if ((*it)->kind != SourceKind::File) continue;
            std::string dir = DirectoryOf(host::NativeSeparators((*it)->name));
            if (!dir.empty()) candidates.push_back(dir + wanted);
        }
        for (const std::string& d : as.settings_.includeDirs) {
            std::string dir = host::NativeSeparators(d);
            if (!dir.empty() && dir.back() != host::NativeSeparator()) dir += host::NativeSeparator();
            candidates.push_back(dir + wanted);
        }
    }
    int error = 0;
    std::string chosen;
    int fd = -1;
    host::FileId opened;
    for (const std::string& c : candidates) {
        int e = 0;
        fd = host::OpenRead(c, &e, &opened);
        if (fd >= 0) {
            chosen = c;
            break;
        }
        // A file that exists but cannot be read says more than "not found".
        if (error == 0 || !host::IsNotFound(e)) error = e;
    }
    if (fd < 0) {
        for (const std::string& c : candidates) {
            std::string found = FindIgnoringCase(c);
            if (found.empty()) continue;
            int e = 0;
            fd = host::OpenRead(found, &e, &opened);
            if (fd >= 0) {
                chosen = found;
                break;
            }
        }
    }
    if (fd < 0) {
        if (!as.final_) {
            InputSource* file = InnermostFile();
            std::string where = file ? FormatText("%s(%d): ", {file->name, file->line}) : std::string();
            std::pair<std::string, std::string> entry{where, written};
            if (std::find(failedIncludeList.begin(), failedIncludeList.end(), entry) == failedIncludeList.end())
                failedIncludeList.push_back(entry);
        }
        as.scan_.SetPos(at);
        as.scan_.SkipBlanks();
        return as.Report(Msg::CannotOpen, {written, host::ErrorText(error)});
    }
    for (auto& s : sources) {
        if (s->kind != SourceKind::File) continue;
        auto* f = static_cast<FileSource*>(s.get());
        if (f->name == chosen || (f->id.inode != 0 && f->id == opened)) {
            host::Close(fd);
            as.scan_.SetPos(at);
            as.scan_.SkipBlanks();
            return as.Report(Msg::RecursiveInclude);
        }
    }
    // An output this run has emptied already (the listing, when the final
    // pass opens an include no earlier pass opened) is no source any more.
    std::string clash = EmptiedOutput(opened);
    if (!clash.empty()) {
        host::Close(fd);
        as.scan_.SetPos(at);
        as.scan_.SkipBlanks();
        return as.Report(Msg::CannotOpen, {written, clash});
    }
    if (sources.size() >= kMaxSourceDepth) {
        host::Close(fd);
        return as.Report(Msg::OutOfMemory);
    }
    NoteInput(opened, written);
    auto src = std::make_unique<FileSource>(fd, as);
    src->name = chosen;
    src->id = opened;
    PushSource(std::move(src));
    return true;
}

// ---------------------------------------------------------------------------
// Conditionals

bool Assembler::Impl::OpenConditional(PreCommand cmd) {
    ls.conditional = true;
    bool active = LinesActive();
    CondEntry e;
    e.enclosingActive = active;
    if (!active) {
        as.scan_.SetPos(as.scan_.Length());
        conds.push_back(e);
        return true;
    }
    bool cond = false;
    bool ok = EvaluateCondition(cmd, cond);
    e.taking = ok && cond;
    conds.push_back(e);
    return ok;
}

bool Assembler::Impl::EvaluateCondition(PreCommand cmd, bool& cond) {
    Scanner& s = as.scan_;
    switch (cmd) {
    case PreCommand::If:
    case PreCommand::Ifeq:
    case PreCommand::Ifne:
    case PreCommand::Ifge:
    case PreCommand::Ifgt:
    case PreCommand::Ifle:
    case PreCommand::Iflt: {
        ExprResult a, b;
        if (!as.Evaluate(a, true)) return false;
        if (cmd == PreCommand::If) {
            cond = a.value != 0;
            return true;
        }
        std::size_t save = s.Pos();
        if (s.SkipBlanks() && s.Accept(',')) {
            if (!as.Evaluate(b, true)) return false;
        } else {
            s.SetPos(save);
        }
        switch (cmd) {
        case PreCommand::Ifeq: cond = a.value == b.value; break;
        case PreCommand::Ifne: cond = a.value != b.value; break;
        case PreCommand::Ifge: cond = a.value >= b.value; break;
        case PreCommand::Ifgt: cond = a.value > b.value; break;
        case PreCommand::Ifle: cond = a.value <= b.value; break;
        default: cond = a.value < b.value; break;
        }
        return true;
    }
    case PreCommand::Ifc:
    case PreCommand::Ifnc: {
        std::string first, second;
        if (!as.ReadText(first, false)) {
            s.SkipBlanks();
            return as.Report(Msg::StringExpected);
        }
        s.SkipBlanks();
        if (!s.Accept(',')) as.Report(Msg::CommaExpected);
        if (!as.ReadText(second, false)) {
            s.SkipBlanks();
            return as.Report(Msg::StringExpected);
        }
        cond = (first == second) == (cmd == PreCommand::Ifc);
        return true;
    }
    case PreCommand::Ifdef:
    case PreCommand::Ifndef: {
        s.SkipBlanks();
        std::string& name = ident;
        if (!as.ReadIdentifier(name)) return as.Report(Msg::IfdefExpectsIdentifier);
        Symbol* sym = as.FindSymbol(name);
        bool defined = sym && sym->DefinedInPass(as.Pass());
        cond = defined == (cmd == PreCommand::Ifdef);
        return true;
    }
    default: return false;
    }
}

bool Assembler::Impl::Elif() {
    ls.conditional = true;
    InputSource* top = Top();
    std::size_t floor = top ? top->condFloor : 0;
    if (conds.size() <= floor || conds.back().elseSeen) return as.Report(Msg::UnexpectedElif);
    CondEntry& e = conds.back();
    if (e.takenByElif || !e.enclosingActive || e.taking) {
        as.scan_.SetPos(as.scan_.Length());
        if (e.taking) e.enclosingActive = false;
        e.taking = false;
        return true;
    }
    bool cond = false;
    bool ok = EvaluateCondition(PreCommand::If, cond);
    CondEntry& again = conds.back();
    again.taking = ok && cond;
    if (again.taking) again.takenByElif = true;
    return ok;
}

bool Assembler::Impl::Else() {
    ls.conditional = true;
    InputSource* top = Top();
    std::size_t floor = top ? top->condFloor : 0;
    if (conds.size() <= floor || conds.back().elseSeen) return as.Report(Msg::UnexpectedElse);
    CondEntry& e = conds.back();
    if (e.takenByElif) e.enclosingActive = false;
    e.taking = !e.taking;
    e.elseSeen = true;
    return true;
}

bool Assembler::Impl::Endif() {
    ls.conditional = true;
    InputSource* top = Top();
    std::size_t floor = top ? top->condFloor : 0;
    if (conds.size() <= floor) return as.Report(Msg::UnexpectedEndif);
    conds.pop_back();
    return true;
}

// ---------------------------------------------------------------------------
// Preprocessor command table

namespace {
struct PreRow {
    const char* name;
    PreCommand command;
    bool conditional; // also runs inside a false block
    bool obsolete;
};

// Sorted by name in byte order; searched by halving.
const PreRow kPreTable[] = {
    {"define", PreCommand::Define, false, false}, {"elif", PreCommand::Elif, true, false},
    {"else", PreCommand::Else, true, false},      {"elsec", PreCommand::Else, true, false},
    {"endc", PreCommand::Endif, true, false},     {"endif", PreCommand::Endif, true, false},
    {"err", PreCommand::Fail, false, true},       {"fail", PreCommand::Fail, false, false},
    {"if", PreCommand::If, true, false},          {"ifc", PreCommand::Ifc, true, false},
    {"ifdef", PreCommand::Ifdef, true, false},    {"ifeq", PreCommand::Ifeq, true, false},
    {"ifge", PreCommand::Ifge, true, false},      {"ifgt", PreCommand::Ifgt, true, false},
    {"ifle", PreCommand::Ifle, true, false},      {"iflt", PreCommand::Iflt, true, false},
    {"ifnc", PreCommand::Ifnc, true, false},      {"ifndef", PreCommand::Ifndef, true, false},
    {"ifne", PreCommand::Ifne, true, false},      {"include", PreCommand::Include, false, false},
    {"messg", PreCommand::Messg, false, false},   {"msg", PreCommand::Messg, false, false},
    {"warn", PreCommand::Warn, false, false},
};
} // namespace

int FindPreprocessor(std::string_view lowerName) {
    const PreRow* row = FindRow(kPreTable, lowerName);
    return row ? static_cast<int>(row - kPreTable) : -1;
}

bool CheckPreprocessorTable() { return FirstUnsortedRow(kPreTable) == std::size(kPreTable); }

bool PreprocessorIsConditional(int row) { return row >= 0 && kPreTable[row].conditional; }

bool Assembler::Impl::RunPreprocessor(int row) {
    if (row < 0 || row >= static_cast<int>(std::size(kPreTable))) return as.Report(Msg::PreprocessorTableCorrupt);
    const PreRow& r = kPreTable[row];
    if (r.obsolete) ReportAtCommand(Msg::ObsoleteDirective);
    Scanner& s = as.scan_;
    switch (r.command) {
    case PreCommand::If:
    case PreCommand::Ifeq:
    case PreCommand::Ifne:
    case PreCommand::Ifge:
    case PreCommand::Ifgt:
    case PreCommand::Ifle:
    case PreCommand::Iflt:
    case PreCommand::Ifc:
    case PreCommand::Ifnc:
    case PreCommand::Ifdef:
    case PreCommand::Ifndef: return OpenConditional(r.command);
    case PreCommand::Elif: return Elif();
    case PreCommand::Else: return Else();
    case PreCommand::Endif: return Endif();
    case PreCommand::Include: return Include();
    case PreCommand::Define: return Define();
    case PreCommand::Fail:
    case PreCommand::Warn:
    case PreCommand::Messg: {
        s.SkipBlanks();
        std::string text(s.Rest());
        Msg id = r.command == PreCommand::Fail ? Msg::ErrorText : r.command == PreCommand::Warn ? Msg::WarningText : Msg::NoteText;
        as.Report(id, {text});
        s.SetPos(s.Length());
        return r.command != PreCommand::Fail;
    }
    }
    return as.Report(Msg::PreprocessorTableCorrupt);
}

bool Assembler::Impl::Define() {
    Scanner& s = as.scan_;
    if (!s.SkipBlanks()) return as.Report(Msg::DirectiveRequiresLabel);
    std::size_t at = s.Pos();
    std::string name;
    if (!as.ReadIdentifier(name)) return as.Report(Msg::BadLabel);
    ExprResult v;
    v.known = true;
    v.value = 1;
    std::size_t after = s.Pos();
    if (s.SkipBlanks()) {
        if (!as.Evaluate(v)) return false;
    } else {
        s.SetPos(after);
    }
    std::size_t end = s.Pos();
    s.SetPos(at);
    Symbol* sym = as.FindSymbol(name);
    bool ok;
    if (sym && sym->isSet && sym->defined) sym->isSet = false; // define takes the symbol over
    ok = DefineSymbolValue(name, -1, v.value, v.known, false);
    s.SetPos(end);
    ls.hasValue = true;
    ls.value = v.value;
    return ok;
}

// ---------------------------------------------------------------------------
// Macros and repeat blocks

namespace {
// The command word of a line as the statement syntax finds it (lower case),
// for counting nested definitions without processing the lines.
std::string CommandWord(const std::string& line) {
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

void Assembler::Impl::CollectLine(const std::string& line) {
    std::string word = CommandWord(line);
    if (!word.empty() && word[0] == '\\') word.erase(0, 1);
    if (collecting.repeat) {
        if (word == "rept" || word == "repeat") ++collecting.nesting;
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
        if (word == "macro") ++collecting.nesting;
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
        collecting.macro->body.push_back(line);
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
                while (!s.AtStatementEnd() && s.Cur() != ',' && !chars::IsBlank(s.Cur())) arg += s.Cur(), s.Advance();
            }
            args.push_back(std::move(arg));
            std::size_t save = s.Pos();
            if (s.SkipBlanks() && s.Accept(',')) continue;
            s.SetPos(save);
            break;
        }
    }
    s.SetPos(s.Length());
    PushSource(std::make_unique<MacroSource>(SourceKind::Macro, std::move(macro), std::move(args), 1, *this));
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

void Assembler::Impl::EndFile() {
    for (auto it = sources.rbegin(); it != sources.rend(); ++it) {
        (*it)->ended = true;
        if ((*it)->kind == SourceKind::File) break;
    }
}

} // namespace qorb
