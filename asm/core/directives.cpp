// The pseudo commands: data and storage, location and section control,
// listing controls and the debug dump.

#include <algorithm>

#include "directives.h"
#include "impl.h"
#include "listing.h"

namespace qorb {

namespace {

enum Flags : unsigned { kObsolete = 0x80, kKeepsOffset = 0x20, kOwnLabel = 0x10 };

struct DirRow {
    const char* name;
    int handler;
    unsigned flags;
};

// Sorted by name in byte order; searched by halving.
const DirRow kDirectives[] = {
    {"adr", 13, kObsolete},
    {"align", 7, kKeepsOffset},
    {"bsz", 15, kObsolete},
    {"byt", 12, kObsolete},
    {"clist", 31, kKeepsOffset},
    {"cpu", 0, kObsolete},
    {"db", 12, kObsolete},
    {"dc", 12, 0},
    {"dc.b", 12, 0},
    {"dc.l", 14, 0},
    {"dc.w", 13, 0},
    {"dcb", 15, 0},
    {"dcb.b", 15, 0},
    {"dcb.l", 17, 0},
    {"dcb.w", 16, 0},
    {"dfs", 18, kObsolete | kKeepsOffset},
    {"ds", 18, kKeepsOffset},
    {"ds.b", 18, kKeepsOffset},
    {"ds.l", 20, kKeepsOffset},
    {"ds.w", 19, kKeepsOffset},
    {"dw", 13, kObsolete},
    {"end", 40, 0},
    {"endm", 25, 0},
    {"endr", 28, 0},
    {"equ", 10, kKeepsOffset | kOwnLabel},
    {"even", 8, kKeepsOffset},
    {"fcb", 12, kObsolete},
    {"fcc", 41, kObsolete},
    {"fdb", 13, kObsolete},
    {"fill", 15, kObsolete},
    {"list", 29, kKeepsOffset},
    {"llen", 38, kKeepsOffset},
    {"local", 9, 0},
    {"macro", 24, kOwnLabel},
    {"mexit", 26, 0},
    {"mlist", 32, kKeepsOffset},
    {"nam", 33, kObsolete | kKeepsOffset},
    {"name", 33, kObsolete | kKeepsOffset},
    {"nolist", 30, kKeepsOffset},
    {"offset", 3, kKeepsOffset},
    {"opt", 0, kKeepsOffset},
    {"org", 6, 0},
    {"pag", 35, kObsolete | kKeepsOffset},
    {"page", 35, kKeepsOffset},
    {"plen", 37, kKeepsOffset},
    {"repeat", 27, 0},
    {"rept", 27, 0},
    {"restore", 5, 0},
    {"rmb", 18, kObsolete | kKeepsOffset},
    {"rmd", 19, kObsolete | kKeepsOffset},
    {"rmq", 20, kObsolete | kKeepsOffset},
    {"rmw", 19, kObsolete | kKeepsOffset},
    {"save", 4, kKeepsOffset},
    {"section", 1, kOwnLabel},
    {"set", 11, kKeepsOffset | kOwnLabel},
    {"spc", 36, kKeepsOffset},
    {"subttl", 34, kKeepsOffset},
    {"switch", 2, 0},
    {"tabs", 39, kKeepsOffset},
    {"title", 33, kKeepsOffset},
    {"ttl", 33, kKeepsOffset},
    {"zkdump", 42, 0},
    {"zmb", 15, kObsolete},
};

constexpr int kMaxHandler = 42;

} // namespace

int FindDirective(std::string_view lowerName) {
    const DirRow* row = FindRow(kDirectives, lowerName);
    return row ? static_cast<int>(row - kDirectives) : -1;
}

bool CheckDirectiveTable() {
    for (const DirRow& row : kDirectives)
        if (row.handler < 0 || row.handler > kMaxHandler) return false;
    return FirstUnsortedRow(kDirectives) == std::size(kDirectives);
}

std::size_t DirectiveCount() { return std::size(kDirectives); }

namespace {

class Handlers {
public:
    explicit Handlers(Assembler::Impl& im) : im_(im), as_(im.as), s_(im.as.Scan()) {}

    bool Run(int handler);

private:
    // Skips to the next comma (or the end) after a failed list item.
    void SkipItem() {
        while (!s_.AtStatementEnd() && s_.Cur() != ',') {
            char c = s_.Cur();
            s_.Advance();
            if (c == '"' || c == '\'') {
                while (!s_.AtEnd() && s_.Cur() != c) s_.Advance();
                s_.Accept(c);
            }
        }
    }
    bool NextItem() {
        std::size_t save = s_.Pos();
        if (s_.SkipBlanks() && s_.Accept(',')) return true;
        s_.SetPos(save);
        return false;
    }
    bool Data(int size);
    bool FillValue(int size, std::uint32_t& value);
    bool FillBlock(int size);
    bool Storage(int size);
    bool Align();
    bool Org();
    bool Offset();
    bool Equ(bool isSet);
    bool SectionCmd();
    bool Switch();
    bool SaveRestore(bool save);
    bool ListSwitch(bool* flag, bool forceOff);
    bool ListNumber(int which);
    bool Title(std::string& into);
    bool Fcc();
    void Dump();

    // Evaluates a count that must be known in pass one and lie in [lo, hi].
    bool Number(long lo, long hi, const char* range, std::int32_t& out, bool passOne, bool allowZeroOnly = false);

    Assembler::Impl& im_;
    Assembler& as_;
    Scanner& s_;
};

bool Handlers::Number(long lo, long hi, const char* range, std::int32_t& out, bool passOne, bool allowZero) {
    s_.SkipBlanks();
    std::size_t at = s_.Pos();
    ExprResult r;
    if (!as_.Evaluate(r, passOne)) return false;
    out = r.value;
    if (r.known && !(allowZero && r.value == 0) && (r.value < lo || r.value > hi)) {
        s_.SetPos(at);
        return as_.Report(2016, {range});
    }
    if (!r.known) out = 0;
    return true;
}

bool Handlers::Data(int size) {
    if (!s_.SkipBlanks()) return as_.Report(2010);
    LineCode& code = as_.Code();
    bool ok = true;
    for (;;) {
        s_.SkipBlanks();
        std::size_t at = s_.Pos();
        char c = s_.Cur();
        if (s_.AtStatementEnd() || c == ',') {
            as_.Report(2014);
            ok = false;
            if (size == 1) code.Put8(0);
            else if (size == 2) code.Put16(0);
            else code.Put32(0);
        } else if (size == 1 && (c == '"' || c == '\'')) {
            s_.Advance();
            while (!s_.AtEnd() && s_.Cur() != c) {
                code.Put8(static_cast<std::uint8_t>(s_.Cur()));
                s_.Advance();
            }
            if (s_.AtEnd()) {
                s_.SetPos(at);
                as_.Report(4201);
                s_.SetPos(s_.Length());
            } else {
                s_.Advance();
            }
        } else {
            ExprResult r;
            if (!as_.Evaluate(r)) {
                ok = false;
                SkipItem();
                r.value = 0;
            } else if (r.known) {
                std::size_t end = s_.Pos();
                if (size == 1 && (r.value < -128 || r.value > 255)) {
                    s_.SetPos(at);
                    as_.Report(4102, {"[0..255]"});
                } else if (size == 2 && (r.value < -32768 || r.value > 65535)) {
                    s_.SetPos(at);
                    as_.Report(4102, {"[0..65536]"});
                }
                s_.SetPos(end);
            }
            auto v = static_cast<std::uint32_t>(r.value);
            if (size == 1) code.Put8(static_cast<std::uint8_t>(v));
            else if (size == 2) code.Put16(static_cast<std::uint16_t>(v));
            else code.Put32(v);
        }
        if (!NextItem()) break;
    }
    return ok;
}

// Reads the optional fill value after a count: ",value" (a missing comma is
// only warned about), range-checked for the item size. False after an error.
bool Handlers::FillValue(int size, std::uint32_t& value) {
    value = 0;
    std::size_t save = s_.Pos();
    if (!s_.SkipBlanks()) {
        s_.SetPos(save);
        return true;
    }
    if (!s_.Accept(',')) as_.Report(4301);
    s_.SkipBlanks();
    std::size_t at = s_.Pos();
    ExprResult r;
    if (!as_.Evaluate(r)) return false;
    if (r.known) {
        std::size_t end = s_.Pos();
        s_.SetPos(at);
        if (size == 1 && (r.value < -128 || r.value > 255)) as_.Report(4102, {"[0..255]"});
        else if (size == 2 && (r.value < -32768 || r.value > 65535)) as_.Report(4102, {"[0..65536]"});
        s_.SetPos(end);
    }
    value = static_cast<std::uint32_t>(r.value);
    return true;
}

bool Handlers::FillBlock(int size) {
    if (!s_.SkipBlanks()) return as_.Report(2010);
    std::int32_t count = 0;
    if (!Number(0, 65535, "[0..65535]", count, false)) return false;
    std::uint32_t value = 0;
    if (!FillValue(size, value)) return false;
    std::uint8_t pattern[4];
    for (int i = 0; i < size; ++i) pattern[i] = static_cast<std::uint8_t>(value >> (8 * (size - 1 - i)));
    im_.SetReserve(static_cast<std::size_t>(count) * static_cast<std::size_t>(size), pattern, size, true);
    return true;
}

bool Handlers::Storage(int size) {
    if (!s_.SkipBlanks()) return as_.Report(2010);
    std::int32_t count = 0;
    if (!Number(0, 65535, "[0..65535]", count, false)) return false;
    std::uint8_t zero[1] = {0};
    im_.SetReserve(static_cast<std::size_t>(count) * static_cast<std::size_t>(size), zero, 1, false);
    return true;
}

bool Handlers::Align() {
    if (!s_.SkipBlanks()) return as_.Report(2010);
    std::int32_t n = 0;
    if (!Number(2, 65536, "[2..65536]", n, true)) return false;
    std::uint32_t value = 0;
    if (!FillValue(1, value)) return false;
    std::uint8_t fill = static_cast<std::uint8_t>(value);
    if (n >= 2) {
        std::uint32_t pc = as_.Location();
        std::uint32_t pad = (static_cast<std::uint32_t>(n) - pc % static_cast<std::uint32_t>(n)) % static_cast<std::uint32_t>(n);
        im_.SetReserve(pad, &fill, 1, false);
    }
    return true;
}

bool Handlers::Org() {
    if (!s_.SkipBlanks()) return as_.Report(2014);
    ExprResult r;
    if (!as_.Evaluate(r)) return false;
    std::uint32_t value = static_cast<std::uint32_t>(r.value) & 0xFFFF;
    qorb::Section* cur = im_.current;
    if (cur && cur->size > 0) {
        if (cur->named) im_.ReportAtCommand(4105);
        im_.LeaveSection();
        qorb::Section& fresh = im_.NewSection("", false);
        fresh.orgSection = true;
        im_.current = &fresh;
    }
    im_.SetLocation(value);
    im_.ls.hasValue = true;
    im_.ls.value = static_cast<std::int32_t>(value);
    return true;
}

bool Handlers::Offset() {
    if (!s_.SkipBlanks()) return as_.Report(2014);
    ExprResult r;
    if (!as_.Evaluate(r)) return false;
    qorb::Section* off = im_.FindSection(".off");
    if (!off) {
        off = &im_.NewSection(".off", true);
    }
    if (!im_.inOffset) im_.offsetReturn = im_.current;
    im_.LeaveSection();
    im_.current = off;
    im_.inOffset = true;
    im_.SetLocation(static_cast<std::uint32_t>(r.value));
    return true;
}

bool Handlers::Equ(bool isSet) {
    if (im_.label.empty() && im_.localLabel < 0) return as_.Report(2035);
    if (!s_.SkipBlanks()) return as_.Report(2014);
    ExprResult r;
    if (!as_.Evaluate(r)) return false;
    std::size_t end = s_.Pos();
    s_.SetPos(im_.labelPos);
    bool ok = im_.DefineSymbolValue(im_.label, im_.localLabel, r.value, r.known, isSet);
    s_.SetPos(end);
    im_.ls.hasValue = true;
    im_.ls.value = r.value;
    return ok;
}

bool Handlers::SectionCmd() {
    if (im_.label.empty()) return as_.Report(2035);
    std::string name = im_.label;
    std::size_t end = s_.Pos();
    s_.SetPos(im_.labelPos);
    if (name == ".off") return as_.Report(2061);
    qorb::Section* sec = im_.FindSection(name);
    // A second `section` line for the same name is the error, in every pass;
    // the record itself survives from pass to pass.
    if (sec) {
        if (sec->openedThisPass) {
            sec->redefinition = true;
            return as_.Report(2062, {name});
        }
    } else {
        sec = &im_.NewSection(name, true);
    }
    sec->openedThisPass = true;
    s_.SetPos(end);
    if (s_.SkipBlanks()) {
        std::string word;
        for (;;) {
            s_.SkipBlanks();
            if (!as_.ReadRawIdentifier(word)) return as_.Report(2009);
            if (!NextItem()) break;
        }
    }
    if (sec->size > 0) return as_.Report(2064);
    im_.LeaveSection();
    sec->saved = 0;
    im_.current = sec;
    im_.SetLocation(0);
    return true;
}

bool Handlers::Switch() {
    if (!s_.SkipBlanks()) return as_.Report(2010);
    std::size_t at = s_.Pos();
    std::string name;
    if (!as_.ReadIdentifier(name)) return as_.Report(2036);
    qorb::Section* sec = im_.FindSection(name);
    if (!sec || name == ".off") {
        s_.SetPos(at);
        return as_.Report(2063, {name});
    }
    im_.SwitchTo(sec);
    return true;
}

bool Handlers::SaveRestore(bool save) {
    int times = 0;
    if (s_.SkipBlanks()) {
        std::string word;
        for (;;) {
            s_.SkipBlanks();
            std::size_t at = s_.Pos();
            if (!as_.ReadRawIdentifier(word)) {
                if (!s_.AtStatementEnd() && s_.Cur() != ',') return as_.Report(2009);
            } else {
                FoldLower(word);
                if (word == "sect" || word == "section") ++times;
                else {
                    std::size_t end = s_.Pos();
                    s_.SetPos(at);
                    as_.Report(4203, {word});
                    s_.SetPos(end);
                }
            }
            if (!NextItem()) break;
        }
    } else {
        times = 1;
    }
    for (int i = 0; i < times; ++i) {
        if (save) {
            im_.LeaveSection();
            im_.saveStack.push_back(im_.current);
        } else {
            InputSource* top = im_.Top();
            std::size_t floor = top ? top->saveFloor : 0;
            if (im_.saveStack.size() <= floor) {
                im_.ReportAtCommand(4205);
                break;
            }
            qorb::Section* back = im_.saveStack.back();
            im_.saveStack.pop_back();
            im_.SwitchTo(back);
        }
    }
    return true;
}

bool Handlers::ListSwitch(bool* flag, bool forceOff) {
    im_.ls.control = true;
    bool on = !forceOff;
    if (!forceOff && s_.SkipBlanks()) {
        std::size_t at = s_.Pos();
        std::string word;
        if (!as_.ReadRawIdentifier(word)) return as_.Report(2008, {"on/off"});
        FoldLower(word);
        if (word == "on") on = true;
        else if (word == "off") on = false;
        else {
            s_.SetPos(at);
            return as_.Report(2008, {"on/off"});
        }
    }
    *flag = on;
    return true;
}

bool Handlers::ListNumber(int which) {
    im_.ls.control = true;
    std::int32_t n = 0;
    switch (which) {
    case 36:
        if (!Number(1, 128, "[0..128]", n, true)) return false;
        if (im_.listing && n > 0) im_.listing->Spacing(n);
        return true;
    case 37:
        if (!Number(10, 1000, "[0, 10..1000]", n, true, true)) return false;
        im_.pageLength = n;
        return true;
    case 38:
        if (!Number(10, 240, "[0, 10..240]", n, true, true)) return false;
        im_.lineLength = n;
        return true;
    default:
        if (!Number(2, 128, "[2..128]", n, true)) return false;
        if (n >= 2) im_.tabWidth = n;
        return true;
    }
}

bool Handlers::Title(std::string& into) {
    im_.ls.control = true;
    if (!s_.SkipBlanks()) return as_.Report(2024);
    char q = s_.Cur();
    if (q == '"' || q == '\'') {
        std::string text;
        if (!as_.ReadText(text, true)) return as_.Report(2024);
        into = text;
        return true;
    }
    // Unquoted titles run to the end of the line (or a comment).
    std::string text;
    while (!s_.AtStatementEnd()) text += s_.Cur(), s_.Advance();
    while (!text.empty() && chars::IsBlank(text.back())) text.pop_back();
    into = text;
    return true;
}

bool Handlers::Fcc() {
    if (!s_.SkipBlanks()) return true;
    char delim = s_.Cur();
    std::size_t at = s_.Pos();
    bool ok = true;
    if (static_cast<unsigned char>(delim) < '!') {
        as_.Report(2012);
        ok = false;
    }
    s_.Advance();
    LineCode& code = as_.Code();
    while (!s_.AtEnd() && s_.Cur() != delim) {
        code.Put8(static_cast<std::uint8_t>(s_.Cur()));
        s_.Advance();
    }
    if (s_.AtEnd()) {
        s_.SetPos(at);
        as_.Report(2013, {delim});
        s_.SetPos(s_.Length());
        return false;
    }
    s_.Advance();
    return ok;
}

void Handlers::Dump() {
    const qorb::Section* sec = im_.current;
    std::string out;
    out += FormatText("Pass: %u%s\n", {as_.Pass(), as_.FinalPass() ? " - final" : ""});
    out += FormatText("PC: %08x, Scope: %u, Section: %s\n", {as_.Location(), im_.scope, sec ? sec->name : ""});
    out += FormatText("Strict: %u, Relax: %u, Screwed: %u\n",
                      {static_cast<unsigned>(as_.Strict()), static_cast<unsigned>(as_.Relax()),
                       static_cast<unsigned>(as_.Screwed())});
    out += FormatText("Symbol: %s, Symbol: %d\n", {im_.stmtLabel, im_.stmtLocal});
    out += FormatText("Warnings: %u, Errors: %u, Fatals: %u\n\n", {as_.Warnings(), as_.Errors(), as_.Fatals()});
    as_.Print(out);
}

bool Handlers::Run(int handler) {
    switch (handler) {
    case 0:
        s_.SetPos(im_.commandPos);
        as_.Report(4002);
        s_.SetPos(s_.Length());
        return true;
    case 1: return SectionCmd();
    case 2: return Switch();
    case 3: return Offset();
    case 4: return SaveRestore(true);
    case 5: return SaveRestore(false);
    case 6: return Org();
    case 7: return Align();
    case 8: {
        std::uint8_t zero = 0;
        im_.SetReserve(as_.Location() & 1, &zero, 1, false);
        return true;
    }
    case 9: ++im_.scope; return true;
    case 10: return Equ(false);
    case 11: return Equ(true);
    case 12: return Data(1);
    case 13: return Data(2);
    case 14: return Data(4);
    case 15: return FillBlock(1);
    case 16: return FillBlock(2);
    case 17: return FillBlock(4);
    case 18: return Storage(1);
    case 19: return Storage(2);
    case 20: return Storage(4);
    case 24: return im_.MacroDefinition();
    case 25:
    case 28:
        s_.SetPos(im_.commandPos);
        return as_.Report(2060);
    case 26: return im_.Mexit();
    case 27: return im_.RepeatBlock();
    case 29: return ListSwitch(&im_.listOn, false);
    case 30: return ListSwitch(&im_.listOn, true);
    case 31: return ListSwitch(&im_.clistOn, false);
    case 32: return ListSwitch(&im_.mlistOn, false);
    case 33: return Title(im_.title);
    case 34: return Title(im_.subtitle);
    case 35:
        im_.ls.control = true;
        if (im_.listing) im_.listing->ForcePage();
        return true;
    case 36:
    case 37:
    case 38:
    case 39: return ListNumber(handler);
    case 40: im_.EndFile(); return true;
    case 41: return Fcc();
    case 42: Dump(); return true;
    default: break;
    }
    return as_.Report(1003);
}

} // namespace

void Assembler::Impl::SetLocation(std::uint32_t value) { as.pc_ = value; }

bool Assembler::Impl::RunDirectiveRow(int row) {
    if (row < 0 || row >= static_cast<int>(std::size(kDirectives))) return as.Report(1003);
    const DirRow& r = kDirectives[row];
    if (!(r.flags & kKeepsOffset)) EndOffset();
    if (r.flags & kObsolete) ReportAtCommand(4304);
    if (!(r.flags & kOwnLabel)) {
        if (!DefineLabel()) return false;
    }
    Handlers h(*this);
    return h.Run(r.handler);
}

} // namespace qorb
