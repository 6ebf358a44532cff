// Conditional assembly: if/ifdef/ifc and their relatives, elif, else, endif.

#include "conditionals.h"

#include "impl.h"

namespace qorb {

// The conditional blocks below this are the enclosing source's.
std::size_t Assembler::Impl::CondFloor() const {
    InputSource* top = Top();
    return top ? top->condFloor : 0;
}

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
        TakeBackquote(name);
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
    if (conds.size() <= CondFloor() || conds.back().elseSeen) return as.Report(Msg::UnexpectedElif);
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
    if (conds.size() <= CondFloor() || conds.back().elseSeen) return as.Report(Msg::UnexpectedElse);
    CondEntry& e = conds.back();
    if (e.takenByElif) e.enclosingActive = false;
    e.taking = !e.taking;
    e.elseSeen = true;
    return true;
}

bool Assembler::Impl::Endif() {
    ls.conditional = true;
    if (conds.size() <= CondFloor()) return as.Report(Msg::UnexpectedEndif);
    conds.pop_back();
    return true;
}

} // namespace qorb
