// The statement processor: label and command, dispatch, labels, and the
// per-line bookkeeping after each statement.

#include <algorithm>
#include <cstring>
#include <optional>

#include "directives.h"
#include "encoder_host.h"
#include "impl.h"
#include "listing.h"
#include "observe.h"
#include "preprocessor.h"
#include "sections.h"

namespace qorb {

bool Assembler::Impl::ReportAtCommand(Msg id) {
    Scanner& s = as.scan_;
    std::size_t back = s.Pos();
    s.SetPos(commandPos);
    as.Report(id);
    s.SetPos(back);
    return false;
}

// Code from assemblers that take a comment without ';' fails on every such
// line; the first one says how to accept them all.
void Assembler::Impl::CompatModeNote() {
    if (!as.final_ || compatNoteGiven) return;
    compatNoteGiven = true;
    as.Report(Msg::CompatModeAcceptsLine);
}

void AssemblerHost::CompatModeNote() { as_.I().CompatModeNote(); }

void AssemblerHost::SizeIgnoresValues() { as_.I().valuesIgnored = true; }

void AssemblerHost::RangeUnchecked() { as_.I().rangeUnchecked = true; }

std::uint32_t AssemblerHost::InstructionStart() const {
    as_.I().startRead = true;
    return as_.Location();
}

std::uint32_t AssemblerHost::Location() const {
    as_.I().locationRead = true;
    return as_.Location();
}

bool Assembler::Impl::CheckTrailing() {
    Scanner& s = as.scan_;
    std::size_t p = s.Pos();
    bool blankBefore = p < s.Length() && chars::IsBlank(s.Line()[p]);
    if (!s.SkipBlanks()) return true;
    if (as.settings_.compat) {
        as.Report(blankBefore ? Msg::UnexpectedComment : Msg::UnexpectedSyntax);
        return true;
    }
    as.Report(Msg::SyntaxError);
    if (blankBefore) CompatModeNote();
    return false;
}

CommandRows Assembler::Impl::LookupCommand(std::string_view lowerName, const std::uint64_t* key) {
    // A program uses a few dozen command words: the ones met last answer
    // from a small table indexed by a hash of the name's two words, without
    // the hash map's division and node chain.
    RecentCommand* recent = nullptr;
    if (key) {
        const std::uint64_t h = (key[0] * 0x9E3779B97F4A7C15ull) ^ (key[1] * 0xC2B2AE3D27D4EB4Full);
        recent = &recentCommands[(h >> 32) & (recentCommands.size() - 1)];
        if (recent->key[0] == key[0] && recent->key[1] == key[1]) return recent->rows;
    }
    CommandRows rows;
    auto it = commandRows.find(lowerName);
    if (it != commandRows.end()) {
        rows = it->second;
    } else {
        rows.preprocessor = FindPreprocessor(lowerName);
        rows.directive = FindDirective(lowerName);
        rows.instruction = as.target_.FindInstruction(lowerName);
        if (commandRows.size() < 4096) commandRows.emplace(std::string(lowerName), rows);
    }
    if (recent && !lowerName.empty()) {
        recent->key[0] = key[0];
        recent->key[1] = key[1];
        recent->rows = rows;
    }
    return rows;
}

// A line: comment, or [label] [command [operands]] [comment]. The steps:
// a line of a false conditional block; the local label field; the label
// and the command word; the command.
bool Assembler::Impl::ProcessStatement() {
    Scanner& s = as.scan_;
    const char* line = s.Line();
    std::size_t len = s.Length();
    stmtLabel.clear();
    stmtLocal = -1;
    if (len == 0 || line[0] == '*' || line[0] == ';') return true;
    if (!LinesActive()) return SkippedStatement();
    if (memo) {
        if (memo->learnt && memo->head != LineMemo::Head::None) return ReplayStatement(*memo);
        if (!memo->learnt) {
            memo->learnt = true;
            memo->exprFirst = static_cast<std::uint32_t>(exprMemos.size());
            learning = true;
        }
    }
    const bool blank = chars::IsBlank(line[0]);
    if (blank && !s.SkipBlanks()) return true;

    bool local = false;
    if (std::optional<bool> done = LocalLabelField(local)) return *done;
    CommandField cmd;
    if (std::optional<bool> done = LabelAndCommand(blank, local, cmd)) return *done;
    return RunCommand(cmd);
}

// Inside a false conditional block only the conditional commands count,
// so that the blocks still nest.
bool Assembler::Impl::SkippedStatement() {
    Scanner& s = as.scan_;
    std::string& word = ident;
    ls.skipped = true;
    s.SkipBlanks();
    if (s.Cur() == '#' || s.Cur() == '$') s.Advance();
    if (!as.ReadRawIdentifier(word)) return true;
    FoldLower(word);
    int row = FindPreprocessor(word);
    if (row >= 0 && PreprocessorIsConditional(row)) {
        ls.skipped = false;
        return RunPreprocessor(row);
    }
    return true;
}

// A local label `n$` (or `n$:`) at the start of the statement. Sets `local`;
// a result when the statement ends here (a line of only the label) or failed.
std::optional<bool> Assembler::Impl::LocalLabelField(bool& local) {
    Scanner& s = as.scan_;
    if (!chars::IsDigit(s.Cur())) return std::nullopt;
    std::size_t start = s.Pos();
    unsigned v = 0;
    std::size_t digits = 0;
    while (chars::IsDigit(s.Cur())) {
        if (v <= 255) v = v * 10 + static_cast<unsigned>(s.Cur() - '0');
        s.Advance();
        ++digits;
    }
    if (s.Cur() != '$' || v > 255 || digits > 3) {
        s.SetPos(start);
        return as.Report(Msg::BadLocalLabel);
    }
    s.Advance();
    s.Accept(':');
    local = true;
    localLabel = static_cast<int>(v);
    stmtLocal = localLabel;
    labelPos = start;
    if (!s.SkipBlanks()) {
        LearnHead(LineMemo::Head::LabelOnly, nullptr, CommandRows{});
        return DefineLabel();
    }
    return std::nullopt;
}

// The label (a word in the first column, or followed by ':') and the command
// word with its marks (`#` or `$` for a preprocessor command, `.` for a
// pseudo command); the word is left in `ident`. A result when the statement
// ends here or failed.
std::optional<bool> Assembler::Impl::LabelAndCommand(bool blank, bool local, CommandField& cmd) {
    Scanner& s = as.scan_;
    std::string& word = ident;
    if (s.Cur() == '#' || s.Cur() == '$') {
        cmd.marked = true;
        s.Advance();
    } else if ((blank || local) && s.Cur() == '.') {
        cmd.dot = true;
        s.Advance();
    }
    cmd.pos = s.Pos();
    if (!as.ReadRawIdentifier(word)) {
        if (cmd.marked) return as.Report(Msg::PreprocessorCommandExpected);
        if (cmd.dot) return as.Report(Msg::PseudoCommandExpected);
        if (blank || local) return as.Report(Msg::MnemonicOrPseudoCommandExpected);
        return as.Report(Msg::BadLabel);
    }
    // `loop`` in the first column (or with a colon): a backquote label.
    const bool backquote =
        !cmd.marked && !cmd.dot && !local && s.Cur() == '`' && !s.AtEnd() && (!blank || s.At(1) == ':');
    if (backquote) s.Advance();
    bool isCommand = !backquote && (cmd.marked || cmd.dot || local || (blank && s.Cur() != ':'));
    if (!isCommand) {
        label = word;
        if (backquote) label += '`';
        if (!as.settings_.caseSensitive) FoldLower(label);
        stmtLabel = label;
        labelPos = cmd.pos;
        s.Accept(':');
        if (!s.SkipBlanks()) {
            LearnHead(LineMemo::Head::LabelOnly, nullptr, CommandRows{});
            return DefineLabel();
        }
        if (s.Cur() == '.') {
            cmd.dot = true;
            s.Advance();
        }
        cmd.pos = s.Pos();
        if (!as.ReadRawIdentifier(word)) return as.Report(Msg::MnemonicOrPseudoCommandExpected);
    }
    return std::nullopt;
}

// The command word in `ident`, in the order of precedence: preprocessor
// command, pseudo command, instruction, macro.
bool Assembler::Impl::RunCommand(const CommandField& cmd) {
    // Command words are short: folded on the stack, not into a string, and
    // padded for the table of recent words (RecentCommand).
    char folded[16] = {};
    std::uint64_t key[2];
    std::string_view lower;
    const bool keyed = ident.size() <= RecentCommand::kLongest;
    if (keyed) {
        for (std::size_t i = 0; i < ident.size(); ++i) folded[i] = chars::ToLower(ident[i]);
        folded[15] = static_cast<char>(ident.size());
        std::memcpy(key, folded, sizeof key);
        lower = std::string_view(folded, ident.size());
    } else {
        ident2 = ident;
        FoldLower(ident2);
        lower = ident2;
    }
    const CommandRows rows = LookupCommand(lower, keyed ? key : nullptr);
    const bool isLoc = lower == "loc";
    if (learning && (cmd.dot || (rows.preprocessor < 0 && !cmd.marked))) {
        // `loc` may be a macro of the program's, defined after its first use.
        if (rows.directive >= 0 && !isLoc)
            LearnHead(LineMemo::Head::Directive, &cmd, CommandRows{-1, rows.directive, nullptr});
        else if (rows.directive < 0 && !cmd.dot && rows.instruction)
            LearnHead(LineMemo::Head::Instruction, &cmd, CommandRows{-1, -1, rows.instruction});
    }
    return Dispatch(cmd, rows, isLoc);
}

// Notes what the line's label and command word are, for the next time the
// line comes: its text alone decides them.
void Assembler::Impl::LearnHead(LineMemo::Head head, const CommandField* cmd, const CommandRows& rows) {
    if (!learning) return;
    if (!label.empty() && label.back() == '`') return; // scoped by `loc`: worked out every time
    if (label.size() > UINT8_MAX) return;
    LineMemo& m = *memo;
    m.head = head;
    m.local = static_cast<std::int16_t>(localLabel);
    m.labelPos = static_cast<std::uint16_t>(labelPos);
    m.labelLength = static_cast<std::uint8_t>(label.size());
    m.afterCommand = static_cast<std::uint16_t>(as.scan_.Pos());
    if (cmd) {
        m.commandPos = static_cast<std::uint16_t>(cmd->pos);
        m.dot = cmd->dot;
    }
    if (head == LineMemo::Head::Instruction) {
        const std::size_t index = as.target_.RowIndex(*rows.instruction);
        if (index > UINT16_MAX) {
            m.head = LineMemo::Head::None;
            return;
        }
        m.row = static_cast<std::uint16_t>(index);
    } else if (head == LineMemo::Head::Directive) {
        m.row = static_cast<std::uint16_t>(rows.directive);
    }
}

// A line whose label and command word were learnt: straight to the label
// and the command's row.
bool Assembler::Impl::ReplayStatement(const LineMemo& m) {
    Scanner& s = as.scan_;
    localLabel = stmtLocal = m.local;
    labelPos = m.labelPos;
    if (m.labelLength) {
        label.assign(s.Line() + m.labelPos, m.labelLength);
        if (!as.settings_.caseSensitive) FoldLower(label);
        stmtLabel = label;
    }
    s.SetPos(m.afterCommand);
    if (m.head == LineMemo::Head::LabelOnly) return DefineLabel();
    CommandField cmd;
    cmd.pos = m.commandPos;
    cmd.dot = m.dot;
    if (m.head == LineMemo::Head::Instruction)
        return Dispatch(cmd, CommandRows{-1, -1, &as.target_.Row(m.row)}, false);
    return Dispatch(cmd, CommandRows{-1, static_cast<int>(m.row), nullptr}, false);
}

extern void Assembler::Impl::NoteSettled(LineMemo& m) {
    m.settled = true;
    m.settledAnywhere = !locationRead;
    m.settledBlind = valuesIgnored;
    m.settledSize = static_cast<std::uint16_t>(as.code_.count); // at most LineCode::kCapacity
    m.settledPc = as.code_.start;
    m.settledClock = symbolClock;
    // The bytes, for the final pass.
    if (memoText && !rangeUnchecked) {
        const std::size_t index = static_cast<std::size_t>(&m - memoText->memos.data());
        m.kept = memoText->Keep(index, as.code_, m.kept);
        m.keptAnywhere = !locationRead && !startRead;
    } else {
        m.kept = false;
    }
    // The local labels the line named are those of the current scope.
    ExprOp* op = exprOps.data();
    const ExprMemo* e = exprMemos.data() + m.exprFirst;
    for (std::uint32_t i = 0; i < m.exprCount; ++i) {
        if (!e[i].HasSteps()) continue;
        for (std::uint32_t k = e[i].first; k < e[i].first + e[i].count; ++k)
            if (op[k].kind == ExprOp::Kind::Local) op[k].local.scope = scope;
    }
}

template <class Holds> bool Assembler::Impl::NamedSymbolsHold(const LineMemo& m, Holds holds) {
    const ExprOp* op = exprOps.data();
    const ExprMemo* e = exprMemos.data() + m.exprFirst;
    for (std::uint32_t i = 0; i < m.exprCount; ++i) {
        if (e[i].IsSymbol()) {
            if (!holds(SymbolEntry(e[i].first).second)) return false;
            continue;
        }
        if (e[i].IsNumber()) continue;
        for (std::uint32_t k = e[i].first; k < e[i].first + e[i].count; ++k) {
            if (op[k].kind == ExprOp::Kind::Symbol) {
                if (!holds(SymbolEntry(op[k].symbol).second)) return false;
            } else if (op[k].kind == ExprOp::Kind::Local) {
                // The local labels of the scope the line settled in.
                if (op[k].local.scope != scope) return false;
                if (!holds(locals.Get(scope, static_cast<unsigned>(op[k].local.number)))) return false;
            }
        }
    }
    return true;
}

bool Assembler::Impl::SettledSizeHolds(const LineMemo& m) {
    if (!m.settledAnywhere && as.pc_ != m.settledPc) return false;
    // A blind line's symbols need only be the same: global symbols are,
    // local labels if the scope is.
    const std::uint32_t clock = m.settledBlind ? UINT32_MAX : m.settledClock;
    return NamedSymbolsHold(m, [clock](const Symbol& s) { return s.changedAt <= clock; });
}

bool Assembler::Impl::Resettle(const LineMemo& m) {
    if (as.code_.count != 0 || !SettledSizeHolds(m)) return false;
    // Only the count matters before the final pass: the bytes are neither
    // placed nor listed.
    as.code_.count = m.settledSize;
    return true;
}

// A run of lines taken one by one would each do no more than this: a
// comment or blank line nothing; a line of only a label defines it, and so
// does a label equated to a number (equ) that settled; an
// instruction or data line that resettles (in the final pass: whose kept
// bytes hold) adds its size to the location and the section, its bytes in the
// final pass (as AfterLine's Append), and defines its label, which must keep
// its value (the line resettled with the symbols as they stood before). In
// the final pass every label must keep its value: the pass reports one that
// did not. No line of the run has a message. The run ends before the first
// line that needs more (a label defined twice, a line that must be
// assembled, a read error to report, a section at its limit); that line is
// then taken the usual way.
std::uint64_t Assembler::Impl::TakeSettledLines(FileSource& file, std::uint64_t most) {
    FileText* text = file.Text();
    if (!text || inOffset || !LinesActive() || !current) return 0;
    // After too many errors the final pass stops at the next line.
    if (as.final_ && static_cast<long long>(as.errors_) > as.settings_.errorLimit) return 0;
    const std::size_t first = file.NextIndex();
    std::size_t end = std::min(text->lines.size(), text->errorBefore);
    if (end <= first) return 0;
    if (end - first > most) end = first + static_cast<std::size_t>(most);
    const bool final = as.final_;
    Section& sec = *current;
    const bool placed = !(sec.named && sec.name == ".off");
    std::size_t i = first;
    std::size_t last = SIZE_MAX; // the last statement line taken, and its size
    std::size_t lastSize = 0;
    for (; i < end; ++i) {
        const LineMemo& m = text->memos[i];
        if (m.head == LineMemo::Head::None) {
            // Blank and comment lines are never learnt.
            const FileText::Line& line = text->lines[i];
            if (line.length == 0) continue;
            const char c = text->text[line.offset];
            if (c == '*' || c == ';') continue;
            break;
        }
        Symbol* labelled = nullptr;
        if (m.labelLength != 0 || m.local >= 0) {
            labelled = QuietLabel(m, text->text.data() + text->lines[i].offset);
            if (!labelled) break;
        }
        // Whether defining the label with `value` leaves it as it was.
        auto keeps = [labelled](std::int32_t value) {
            return labelled && labelled->defined && labelled->known && labelled->value == value;
        };
        const std::int32_t here = static_cast<std::int32_t>(as.pc_);
        const bool keepsValue = keeps(here);
        // A global label opens the scope of the numbered local labels.
        const bool opensScope = labelled && m.local < 0;
        if (m.head == LineMemo::Head::LabelOnly) {
            if (final && !keepsValue) break;
            SetSymbol(*labelled, here, true, false);
            if (opensScope) ++scope;
            last = i;
            lastSize = 0;
            continue;
        }
        if (!m.settled) break;
        if (m.head == LineMemo::Head::Directive && DirectiveIsEqu(m.row)) {
            // name equ number: the name takes the number.
            const std::int32_t value = exprMemos[m.exprFirst].Number();
            if (!labelled || (final && !keeps(value))) break;
            SetSymbol(*labelled, value, true, false);
            last = i;
            lastSize = 0;
            continue;
        }
        if (m.head != LineMemo::Head::Instruction &&
            !(m.head == LineMemo::Head::Directive && DirectiveIsPlainData(m.row)))
            break;
        if (labelled && !keepsValue) break;
        if (opensScope) ++scope;
        std::size_t n = SIZE_MAX;
        if (final) {
            if (KeptCodeHolds(m)) n = text->KeptCount(i);
        } else if (SettledSizeHolds(m)) {
            n = m.settledSize;
        }
        if (n == SIZE_MAX || (placed && sec.size + n > kMaxSectionSize)) {
            if (opensScope) --scope;
            break;
        }
        if (labelled) SetSymbol(*labelled, here, true, false);
        if (placed && n) {
            if (sec.size == 0) sec.start = as.pc_;
            sec.size += n;
            if (final) {
                const std::uint8_t* bytes = text->KeptBytes(i);
                sec.bytes.insert(sec.bytes.end(), bytes, bytes + n);
            }
        }
        as.pc_ += static_cast<std::uint32_t>(n);
        last = i;
        lastSize = n;
    }
    if (i == first) return 0;
    file.Skip(i - first);
    // The state the last line leaves, as taken one by one.
    static const LineState kFreshLine{};
    ls = kFreshLine;
    lineNumber = file.line;
    lineText = text->LineText(i - 1);
    as.scan_.Set(lineText.data(), lineText.size());
    memo = &text->memos[i - 1];
    memoText = text;
    as.code_.Clear(as.pc_);
    if (last == i - 1) {
        as.code_.start = as.pc_ - static_cast<std::uint32_t>(lastSize);
        as.code_.count = lastSize;
        if (final && lastSize) std::memcpy(as.code_.bytes, text->KeptBytes(i - 1), lastSize);
        as.scan_.SetPos(memo->afterCommand);
    }
    return i - first;
}

bool Assembler::Impl::KeptCodeHolds(const LineMemo& m) {
    if (!m.kept || (!m.keptAnywhere && as.pc_ != m.settledPc)) return false;
    // The values the bytes were made of, unchanged since; the final pass
    // reports a multiply defined symbol at every reference, and (strict)
    // one whose value was not the same in every pass.
    const std::uint32_t clock = m.settledClock;
    return NamedSymbolsHold(m, [clock](const Symbol& s) {
        return s.changedAt <= clock && s.known && !s.multiplyDefined && s.constant;
    });
}

bool Assembler::Impl::TakeSettledCode(const LineMemo& m) {
    // What the final pass alone does with a line: the listing and the
    // observer's calls want it assembled; after a failed pass it assembles
    // as it can.
    if (as.settings_.listing || as.Observer() || as.relax_ || as.screwed_) return false;
    if (!memoText || as.code_.count != 0 || !KeptCodeHolds(m)) return false;
    const std::size_t index = static_cast<std::size_t>(&m - memoText->memos.data());
    LineCode& c = as.code_;
    c.count = memoText->KeptCount(index);
    std::memcpy(c.bytes, memoText->KeptBytes(index), c.count);
    return true;
}

bool Assembler::Impl::Dispatch(const CommandField& cmd, const CommandRows& rows, bool isLoc) {
    Scanner& s = as.scan_;
    const std::string& word = ident;
    const bool hasLabel = !label.empty() || localLabel >= 0;
    commandPos = cmd.pos;
    if (!cmd.dot) {
        int row = rows.preprocessor;
        if (row >= 0) {
            bool labelOk = true;
            if (hasLabel) {
                std::size_t back = s.Pos();
                s.SetPos(labelPos);
                as.Report(Msg::NoLabelExpected);
                s.SetPos(back);
                labelOk = false;
                label.clear();
                localLabel = -1;
            }
            bool ok = RunPreprocessor(row);
            if (ok && s.SkipBlanks()) ok = CheckTrailing();
            return ok && labelOk;
        }
        if (cmd.marked) {
            s.SetPos(cmd.pos);
            return as.Report(Msg::UnknownPreprocessorCommand, {word});
        }
    }

    int drow = rows.directive;
    // Programs written for assemblers without `loc` may define a macro of
    // that name; it is theirs, as macros named like other commands are.
    if (drow >= 0 && !cmd.dot && isLoc && macros.count(as.settings_.caseSensitive ? word : "loc")) drow = -1;
    if (drow >= 0) {
        // Data lines settle as instructions do (see below).
        // In the final pass `settling` lets a data line take its settled bytes.
        const bool settling = memo && memo->head == LineMemo::Head::Directive && DirectiveIsData(drow);
        // A label equated to a number settles too: later passes take it
        // with the lines around it (TakeSettledLines).
        const bool constant = memo && memo->head == LineMemo::Head::Directive && DirectiveIsEqu(drow);
        if (constant) unsettled = false;
        resettled = false;
        bool ok = RunDirectiveRow(drow, settling);
        if (resettled) return true;
        if (ok) ok = CheckTrailing();
        if (constant)
            memo->settled = ok && !unsettled && memo->exprCount == 1 && exprMemos[memo->exprFirst].IsNumber();
        if (settling && !as.final_) {
            if (ok && !unsettled)
                NoteSettled(*memo);
            else
                memo->settled = false;
        }
        return ok;
    }
    if (cmd.dot) {
        s.SetPos(cmd.pos);
        return as.Report(Msg::UnknownPseudoCommand, {word});
    }
    if (const OpcodeEntry* row = rows.instruction) {
        EndOffset();
        if (!DefineLabel()) return false;
        // An ordinary pass needs only the instruction's size and messages: a
        // line settled at this place, over symbols that kept their values,
        // has the size it had and no message.
        const bool settling = memo && memo->head == LineMemo::Head::Instruction && !as.final_;
        if (settling && memo->settled && Resettle(*memo)) return true;
        if (as.final_ && memo && memo->head == LineMemo::Head::Instruction && memo->settled &&
            TakeSettledCode(*memo))
            return true;
        unsettled = locationRead = valuesIgnored = startRead = rangeUnchecked = false;
        bool ok = as.target_.AssembleInstruction(as, *row);
        if (ok) ok = CheckTrailing();
        if (settling) {
            if (ok && !unsettled)
                NoteSettled(*memo);
            else
                memo->settled = false;
        }
        return ok;
    }
    std::string folded = word;
    if (!as.settings_.caseSensitive) FoldLower(folded);
    auto it = macros.find(folded);
    if (it != macros.end()) {
        observe::Reference(*this, folded, -1, true, cmd.pos);
        EndOffset();
        if (!DefineLabel()) return false;
        return ExpandMacro(it->second);
    }
    s.SetPos(cmd.pos);
    return as.Report(Msg::UnknownMnemonicOrPseudoCommand, {word});
}

void Assembler::Impl::AfterLine() {
    if (as.fatals_) return;
    if (as.final_ && static_cast<long long>(as.errors_) > as.settings_.errorLimit) {
        as.Report(Msg::ErrorCountExceeded, {static_cast<int>(as.settings_.errorLimit)});
        return;
    }
    observe::Line(*this);
    if (listing) listing->Line(lineText, lineNumber, ls, as.code_);
    if (as.code_.count) Append(as.code_.bytes, as.code_.count, nullptr, 1);
    if (ls.reserved) {
        bool write = ls.alwaysWrite || (current && current->size > 0);
        if (write)
            Append(nullptr, ls.reserved, ls.pattern, ls.patternSize);
        else
            as.pc_ += static_cast<std::uint32_t>(ls.reserved);
    }
}

} // namespace qorb
