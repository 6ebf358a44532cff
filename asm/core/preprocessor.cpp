// The preprocessor command table, its dispatch, define and the message
// commands (fail, warn, messg).

#include "preprocessor.h"

#include <iterator>

#include "impl.h"

namespace qorb {

namespace {
struct PreRow {
    const char* name;
    PreCommand command;
    bool conditional; // also runs inside a false block
    bool obsolete;
};

// Sorted by name in byte order; searched by halving.
// clang-format off
const PreRow kPreTable[] = {
    {"define", PreCommand::Define, false, false},
    {"elif", PreCommand::Elif, true, false},
    {"else", PreCommand::Else, true, false},
    {"elsec", PreCommand::Else, true, false},
    {"endc", PreCommand::Endif, true, false},
    {"endif", PreCommand::Endif, true, false},
    {"err", PreCommand::Fail, false, true},
    {"fail", PreCommand::Fail, false, false},
    {"if", PreCommand::If, true, false},
    {"ifc", PreCommand::Ifc, true, false},
    {"ifdef", PreCommand::Ifdef, true, false},
    {"ifeq", PreCommand::Ifeq, true, false},
    {"ifge", PreCommand::Ifge, true, false},
    {"ifgt", PreCommand::Ifgt, true, false},
    {"ifle", PreCommand::Ifle, true, false},
    {"iflt", PreCommand::Iflt, true, false},
    {"ifnc", PreCommand::Ifnc, true, false},
    {"ifndef", PreCommand::Ifndef, true, false},
    {"ifne", PreCommand::Ifne, true, false},
    {"include", PreCommand::Include, false, false},
    {"messg", PreCommand::Messg, false, false},
    {"msg", PreCommand::Messg, false, false},
    {"warn", PreCommand::Warn, false, false},
};
// clang-format on
} // namespace

int FindPreprocessor(std::string_view lowerName) {
    const PreRow* row = FindRow(kPreTable, lowerName);
    return row ? static_cast<int>(row - kPreTable) : -1;
}

bool CheckPreprocessorTable() { return FirstUnsortedRow(kPreTable) == std::size(kPreTable); }

const char* PreprocessorName(int row) {
    return row >= 0 && static_cast<std::size_t>(row) < std::size(kPreTable) ? kPreTable[row].name : nullptr;
}

bool PreprocessorIsConditional(int row) { return row >= 0 && kPreTable[row].conditional; }

bool Assembler::Impl::RunPreprocessor(int row) {
    if (row < 0 || row >= static_cast<int>(std::size(kPreTable)))
        return as.Report(Msg::PreprocessorTableCorrupt);
    const PreRow& r = kPreTable[row];
    if (r.obsolete) ReportAtCommand(Msg::ObsoleteDirective);
    Scanner& s = as.scan_;
    if (OpensConditional(r.command)) return OpenConditional(r.command);
    switch (r.command) {
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
        Msg id = r.command == PreCommand::Fail   ? Msg::ErrorText
                 : r.command == PreCommand::Warn ? Msg::WarningText
                                                 : Msg::NoteText;
        as.Report(id, {text});
        s.SetPos(s.Length());
        return r.command != PreCommand::Fail;
    }
    default: break;
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

} // namespace qorb
