// Symbols: lookup, references (with the pass rules for unknown and
// inconstant values) and definitions by labels, equ, set and define.

#include "symbols.h"

#include <algorithm>
#include <cstring>

#include "impl.h"
#include "observe.h"

namespace qorb {

Symbol* Assembler::FindSymbol(std::string_view name) {
    auto it = symbols_.find(impl_->SymbolKey(name));
    return it == symbols_.end() ? nullptr : &it->second;
}

Symbol& Assembler::GetSymbol(std::string_view name) { return symbols_.find_or_add(name).first->second; }

Symbol& Assembler::GetLocal(unsigned number) { return impl_->locals.Get(impl_->scope, number); }

namespace {
constexpr ReferenceMessages kSymbolReference = {Msg::UndefinedSymbol, Msg::SymbolMustBeKnownInPassOne,
                                                Msg::MultiplyDefinedSymbolReference,
                                                Msg::InconstantSymbolReference, true};
constexpr ReferenceMessages kLocalReference = {Msg::UndefinedLocal, Msg::LocalMustBeKnownInPassOne,
                                               Msg::MultiplyDefinedLocalReference,
                                               Msg::InconstantLocalReference, false};
} // namespace

// A backquote label is kept under its name and the number of its `loc`
// scope (`loop`0003`); messages show it as written.
std::string_view Assembler::Impl::SymbolKey(std::string_view name) {
    if (name.empty() || name.back() != '`') return name;
    scopedName.assign(name);
    scopedName += FormatText("%04u", {locScope});
    return scopedName;
}

void Assembler::Impl::TakeBackquote(std::string& name) {
    if (as.scan_.Cur() == '`' && !as.scan_.AtEnd()) {
        as.scan_.Advance();
        name += '`';
    }
}

bool Assembler::Impl::ReferenceSymbol(std::string_view name, bool knownInPassOne, ExprResult& r,
                                      std::uint32_t* entry) {
    observe::Reference(*this, name, -1, false, as.scan_.Pos());
    const std::string_view key = SymbolKey(name);
    auto [it, added] = as.symbols_.find_or_add(key);
    if (added) as.unresolved_ = true;
    if (entry) *entry = static_cast<std::uint32_t>(as.symbols_.IndexOf(it));
    return Reference(it->second, name, kSymbolReference, knownInPassOne, r);
}

// A reference the line cache knows the entry of: a plain name, kept under
// the name itself.
bool Assembler::Impl::ReferenceEntry(std::pair<const std::string, Symbol>& entry, bool knownInPassOne,
                                     ExprResult& r) {
    observe::Reference(*this, entry.first, -1, false, as.scan_.Pos());
    return Reference(entry.second, std::string_view(entry.first), kSymbolReference, knownInPassOne, r);
}

const ExprMemo* Assembler::Impl::KnownExpression(std::size_t pos) {
    if (!memo || memo->exprCount == 0 || as.scan_.Line() != lineText.data()) return nullptr;
    // Every pass asks for a line's expressions in the same order.
    const ExprMemo* first = exprMemos.data() + memo->exprFirst;
    if (exprCursor < memo->exprCount && first[exprCursor].pos == pos) return &first[exprCursor++];
    for (std::uint32_t i = 0; i < memo->exprCount; ++i)
        if (first[i].pos == pos) {
            exprCursor = i + 1;
            return &first[i];
        }
    return nullptr;
}

bool Assembler::Impl::LearnExpression(std::size_t pos, std::size_t end, std::size_t first) {
    if (!learning || memo->exprCount == UINT8_MAX) return false;
    ExprMemo m;
    m.pos = static_cast<std::uint16_t>(pos);
    m.end = static_cast<std::uint16_t>(end);
    m.count = static_cast<std::uint16_t>(exprOps.size() - first);
    m.first = static_cast<std::uint32_t>(first);
    if (m.count == 1 && exprOps[first].kind == ExprOp::Kind::Number) {
        m.count = 0;
        m.first = static_cast<std::uint32_t>(exprOps[first].value);
        exprOps.resize(first);
    } else if (m.count == 1 && exprOps[first].kind == ExprOp::Kind::Symbol && exprOps[first].end == end) {
        m.count = ExprMemo::kSymbolOnly;
        m.namePos = exprOps[first].pos;
        m.first = exprOps[first].symbol;
        exprOps.resize(first);
    }
    exprMemos.push_back(m);
    ++memo->exprCount;
    return true;
}

bool Assembler::Impl::ReferenceLocal(unsigned number, bool knownInPassOne, ExprResult& r) {
    observe::Reference(*this, {}, static_cast<int>(number), false, as.scan_.Pos());
    Symbol& s = as.GetLocal(number);
    if (!s.defined && !s.known) as.unresolved_ = true;
    return Reference(s, number, kLocalReference, knownInPassOne, r);
}

// A symbol's value for an expression: undefined after pass one is an error,
// a value that must be known in pass one must have been, and the final pass
// warns of doubtful values.
bool Assembler::Impl::Reference(Symbol& s, const MsgArg& name, const ReferenceMessages& m,
                                bool knownInPassOne, ExprResult& r) {
    s.used = true;
    if (!s.defined && as.pass_ > 1) return as.Report(m.undefined, {name});
    if (!s.known) {
        as.unresolved_ = true;
        unsettled = true;
    }
    if (knownInPassOne) {
        if (as.pass_ == 1 && !s.known)
            s.unknownInPassOne = true;
        else if (as.pass_ > 1 && s.unknownInPassOne)
            return as.Report(m.mustBeKnown, {name});
    }
    if (s.known) {
        r.value = s.value;
        r.known = true;
    }
    if (as.final_) {
        if (s.multiplyDefined)
            as.Report(m.multiplyDefined, {name});
        else if (as.strict_ && s.known && !s.constant)
            as.Report(m.inconstant, {name});
        else if (m.warnUnresolved && as.strict_ && !s.known)
            as.Report(Msg::UnresolvedSymbolReference, {name});
    }
    return true;
}

void Assembler::Impl::SetSymbol(Symbol& s, std::int32_t value, bool known, bool isSet) {
    const bool wasDefined = s.defined, wasKnown = s.known;
    const std::int32_t oldValue = s.value;
    if (known && isSet) {
        // set symbols change value within a pass on purpose
        s.constant = true;
        s.value = value;
    } else if (known) {
        if (s.known && s.used && s.value != value) {
            as.unresolved_ = true;
            s.constant = false;
        } else {
            s.constant = true;
        }
        s.value = value;
    }
    s.defined = true;
    s.definedInPass = as.pass_;
    if (isSet)
        s.isSet = true;
    else
        s.isOther = true;
    if (known)
        s.known = true;
    else
        as.unresolved_ = true;
    if (!wasDefined || wasKnown != s.known || oldValue != s.value) s.changedAt = ++symbolClock;
}

// Defines a global symbol (local < 0) or local label with a value. Used by
// labels, equ, set and define; the caller has positioned the scanner at the
// name for messages.
bool Assembler::Impl::DefineSymbolValue(std::string_view name, int local, std::int32_t value, bool known,
                                        bool isSet) {
    observe::Definition(*this, name, local, value, known, isSet);
    Symbol* s;
    if (local >= 0) {
        s = &as.GetLocal(static_cast<unsigned>(local));
    } else if (memo && memo->defined && as.symbols_.At(memo->defined - 1).first == name) {
        // Learnt: a plain name is kept under itself.
        s = &as.symbols_.At(memo->defined - 1).second;
    } else {
        const std::string_view key = SymbolKey(name);
        auto it = as.symbols_.find_or_add(key).first;
        s = &it->second;
        if (learning && !name.empty() && name.back() != '`')
            memo->defined = static_cast<std::uint32_t>(as.symbols_.IndexOf(it) + 1);
    }
    if (isSet) {
        if (s->defined && s->isOther) {
            return local >= 0 ? as.Report(Msg::LocalCannotBeReused, {local})
                              : as.Report(Msg::SymbolCannotBeReused, {name});
        }
    } else if (s->defined && s->isSet) {
        return local >= 0 ? as.Report(Msg::LocalCannotBeReused, {local})
                          : as.Report(Msg::SymbolCannotBeReused, {name});
    }
    // A definition that fails leaves the symbol as it was, so a duplicate
    // label does not also make the first definition look inconstant.
    if (!isSet && s->DefinedInPass(as.pass_)) {
        s->multiplyDefined = true;
        return local >= 0 ? as.Report(Msg::LocalRedefinition, {local})
                          : as.Report(Msg::SymbolRedefinition, {name});
    }
    SetSymbol(*s, value, known, isSet);
    if (as.final_ && mapWanted && known) {
        const char* kind = local >= 0 ? "local" : isSet ? "set" : definingLabel ? "label" : "equ";
        if (local >= 0)
            lineMap.Symbol(std::to_string(local) + "$", value, kind, sources);
        else // a backquote label under its scoped name, as the listing shows it
            lineMap.Symbol(SymbolKey(name), value, kind, sources);
    }
    if (as.final_ && as.strict_) {
        if (isSet && known) return true;
        if (!known)
            return local >= 0 ? as.Report(Msg::LocalCannotBeResolved, {local})
                              : as.Report(Msg::SymbolCannotBeResolved, {name});
        if (!s->constant)
            return local >= 0 ? as.Report(Msg::LocalInconstant, {local})
                              : as.Report(Msg::SymbolInconstant, {name});
    }
    return true;
}

Symbol* Assembler::Impl::QuietLabel(const LineMemo& m, const char* line) {
    Symbol* s;
    if (m.local >= 0) {
        s = &as.GetLocal(static_cast<unsigned>(m.local));
    } else {
        if (m.defined == 0) return nullptr;
        auto& entry = as.symbols_.At(m.defined - 1);
        // The name DefineSymbolValue compares: the label as the line has it.
        const std::string& name = entry.first;
        if (name.size() != m.labelLength) return nullptr;
        const char* text = line + m.labelPos;
        if (std::memcmp(text, name.data(), name.size()) != 0) {
            if (as.settings_.caseSensitive) return nullptr;
            for (std::size_t k = 0; k < name.size(); ++k)
                if (chars::ToLower(text[k]) != name[k]) return nullptr;
        }
        s = &entry.second;
    }
    if ((s->defined && s->isSet) || s->DefinedInPass(as.pass_)) return nullptr;
    return s;
}

bool Assembler::Impl::DefineLabel() {
    if (label.empty() && localLabel < 0) return true;
    Scanner& s = as.scan_;
    std::size_t back = s.Pos();
    s.SetPos(labelPos);
    definingLabel = true;
    bool ok = DefineSymbolValue(label, localLabel, static_cast<std::int32_t>(as.pc_), true, false);
    definingLabel = false;
    // Backquote labels are local to their `loc` scope and leave the
    // scope of the numbered local labels alone.
    if (localLabel < 0 && (label.empty() || label.back() != '`')) ++scope;
    s.SetPos(back);
    if (ok) ls.hasLabel = true;
    label.clear();
    localLabel = -1;
    return ok;
}

void Assembler::PrintUnresolved(std::FILE* to) {
    std::vector<const std::pair<const std::string, Symbol>*> list;
    for (const auto& entry : symbols_)
        if (!entry.second.known || !entry.second.constant) list.push_back(&entry);
    std::sort(list.begin(), list.end(), [](auto* a, auto* b) { return a->first < b->first; });
    for (auto* e : list) {
        if (!e->second.known)
            std::fputs(FormatText("%-30s  ?\n", {e->first}).c_str(), to);
        else
            std::fputs(FormatText("%-30s  %08x\n", {e->first, e->second.value}).c_str(), to);
    }
}

} // namespace qorb
