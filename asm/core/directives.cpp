// The pseudo commands: data and storage, location and section control,
// listing controls and the debug dump.

#include <algorithm>

#include "directives.h"
#include "impl.h"
#include "listing.h"

namespace qorb {

namespace {

enum Flags : unsigned { kObsolete = 0x80, kKeepsOffset = 0x20, kOwnLabel = 0x10 };

// What a pseudo command does: one handler each.
enum class Directive : unsigned char {
    Unsupported, // another assembler's command: ignored with a warning
    Section,     // opens the section the line's label names
    Switch,      // goes on in a section opened before
    Offset,      // counts addresses without placing code, until the next code
    Save,        // pushes the current section
    Restore,     // goes back to the section `save` pushed
    Org,         // sets the location (in a new unnamed section once code was placed)
    Align,       // pads to a multiple of its operand
    Even,        // pads to an even address
    Local,       // starts a new scope of local labels
    Loc,         // starts a new scope of backquote labels
    Equ,         // gives the label a constant value
    Set,         // gives the label a value that may be set again
    DataBytes,   // places bytes and strings
    DataWords,   // places 16-bit words
    DataLongs,   // places 32-bit words
    FillBytes,   // places a count of one byte value
    FillWords,   // places a count of one word value
    FillLongs,   // places a count of one long value
    SpaceBytes,  // reserves a count of bytes
    SpaceWords,  // reserves a count of words
    SpaceLongs,  // reserves a count of longs
    Macro,       // defines a macro named by the label, up to `endm`
    Endm,        // ends a macro definition (an error outside one)
    Mexit,       // leaves the macro expansion
    Repeat,      // repeats the block up to `endr`
    Endr,        // ends a repeat block (an error outside one)
    List,        // listing on or off
    Nolist,      // listing off
    Clist,       // lists the lines of false conditional blocks, or not
    Mlist,       // lists macro expansions, or not
    Title,       // the listing's page title
    Subtitle,    // the listing's page subtitle
    Page,        // starts a new listing page
    Space,       // empty lines in the listing
    PageLength,  // lines of a listing page (0: no pages)
    LineLength,  // characters of a listing line
    Tabs,        // tab width of the listing
    End,         // ends the source file
    Fcc,         // places the characters between two delimiters
    Dump,        // prints the assembler's state (for its developers)
    Count
};

struct DirRow {
    const char* name;
    Directive handler;
    unsigned flags;
};

// Sorted by name in byte order; searched by halving.
// clang-format off
const DirRow kDirectives[] = {
    {"adr", Directive::DataWords, kObsolete},
    {"align", Directive::Align, kKeepsOffset},
    {"bsz", Directive::FillBytes, kObsolete},
    {"byt", Directive::DataBytes, kObsolete},
    {"clist", Directive::Clist, kKeepsOffset},
    {"cpu", Directive::Unsupported, kObsolete},
    {"db", Directive::DataBytes, kObsolete},
    {"dc", Directive::DataBytes, 0},
    {"dc.b", Directive::DataBytes, 0},
    {"dc.l", Directive::DataLongs, 0},
    {"dc.w", Directive::DataWords, 0},
    {"dcb", Directive::FillBytes, 0},
    {"dcb.b", Directive::FillBytes, 0},
    {"dcb.l", Directive::FillLongs, 0},
    {"dcb.w", Directive::FillWords, 0},
    {"dfs", Directive::SpaceBytes, kObsolete | kKeepsOffset},
    {"ds", Directive::SpaceBytes, kKeepsOffset},
    {"ds.b", Directive::SpaceBytes, kKeepsOffset},
    {"ds.l", Directive::SpaceLongs, kKeepsOffset},
    {"ds.w", Directive::SpaceWords, kKeepsOffset},
    {"dw", Directive::DataWords, kObsolete},
    {"end", Directive::End, 0},
    {"endm", Directive::Endm, 0},
    {"endr", Directive::Endr, 0},
    {"equ", Directive::Equ, kKeepsOffset | kOwnLabel},
    {"even", Directive::Even, kKeepsOffset},
    {"fcb", Directive::DataBytes, kObsolete},
    {"fcc", Directive::Fcc, kObsolete},
    {"fdb", Directive::DataWords, kObsolete},
    {"fill", Directive::FillBytes, kObsolete},
    {"list", Directive::List, kKeepsOffset},
    {"llen", Directive::LineLength, kKeepsOffset},
    {"loc", Directive::Loc, 0},
    {"local", Directive::Local, 0},
    {"macro", Directive::Macro, kOwnLabel},
    {"mexit", Directive::Mexit, 0},
    {"mlist", Directive::Mlist, kKeepsOffset},
    {"nam", Directive::Title, kObsolete | kKeepsOffset},
    {"name", Directive::Title, kObsolete | kKeepsOffset},
    {"nolist", Directive::Nolist, kKeepsOffset},
    {"offset", Directive::Offset, kKeepsOffset},
    {"opt", Directive::Unsupported, kKeepsOffset},
    {"org", Directive::Org, 0},
    {"pag", Directive::Page, kObsolete | kKeepsOffset},
    {"page", Directive::Page, kKeepsOffset},
    {"plen", Directive::PageLength, kKeepsOffset},
    {"repeat", Directive::Repeat, 0},
    {"rept", Directive::Repeat, 0},
    {"restore", Directive::Restore, 0},
    {"rmb", Directive::SpaceBytes, kObsolete | kKeepsOffset},
    {"rmd", Directive::SpaceWords, kObsolete | kKeepsOffset},
    {"rmq", Directive::SpaceLongs, kObsolete | kKeepsOffset},
    {"rmw", Directive::SpaceWords, kObsolete | kKeepsOffset},
    {"save", Directive::Save, kKeepsOffset},
    {"section", Directive::Section, kOwnLabel},
    {"set", Directive::Set, kKeepsOffset | kOwnLabel},
    {"spc", Directive::Space, kKeepsOffset},
    {"subttl", Directive::Subtitle, kKeepsOffset},
    {"switch", Directive::Switch, 0},
    {"tabs", Directive::Tabs, kKeepsOffset},
    {"title", Directive::Title, kKeepsOffset},
    {"ttl", Directive::Title, kKeepsOffset},
    {"zkdump", Directive::Dump, 0},
    {"zmb", Directive::FillBytes, kObsolete},
};
// clang-format on

} // namespace

int FindDirective(std::string_view lowerName) {
    const DirRow* row = FindRow(kDirectives, lowerName);
    return row ? static_cast<int>(row - kDirectives) : -1;
}

const char* DirectiveName(int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= std::size(kDirectives)) return nullptr;
    return kDirectives[row].name;
}

bool CheckDirectiveTable() {
    for (const DirRow& row : kDirectives)
        if (row.handler >= Directive::Count) return false;
    return FirstUnsortedRow(kDirectives) == std::size(kDirectives);
}

std::size_t DirectiveCount() { return std::size(kDirectives); }

namespace {

class Handlers {
public:
    explicit Handlers(Assembler::Impl& im) : im_(im), as_(im.as), s_(im.as.Scan()) {}

    bool Run(Directive handler);

private:
    bool End();
    bool StartOperandFollows() const;
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
    bool ListNumber(Directive which);
    bool Title(std::string& into);
    bool Fcc();
    void Dump();

    // Evaluates a count that must be known in pass one and lie in [lo, hi].
    bool Number(long lo, long hi, const char* range, std::int32_t& out, bool passOne,
                bool allowZeroOnly = false);

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
        return as_.Report(Msg::ExpressionOutOfRange, {range});
    }
    if (!r.known) out = 0;
    return true;
}

bool Handlers::Data(int size) {
    if (!s_.SkipBlanks()) return as_.Report(Msg::MissingArgument);
    LineCode& code = as_.Code();
    bool ok = true;
    for (;;) {
        s_.SkipBlanks();
        std::size_t at = s_.Pos();
        char c = s_.Cur();
        if (s_.AtStatementEnd() || c == ',') {
            as_.Report(Msg::MissingExpression);
            ok = false;
            if (size == 1)
                code.Put8(0);
            else if (size == 2)
                code.Put16(0);
            else
                code.Put32(0);
        } else if (size == 1 && (c == '"' || c == '\'')) {
            s_.Advance();
            while (!s_.AtEnd() && s_.Cur() != c) {
                code.Put8(static_cast<std::uint8_t>(s_.Cur()));
                s_.Advance();
            }
            if (s_.AtEnd()) {
                s_.SetPos(at);
                as_.Report(Msg::MissingClosingQuote);
                s_.SetPos(s_.Length());
            } else {
                s_.Advance();
            }
        } else {
            ExprResult r;
            if (c == '#') {
                // Another assembler's habit (`dw #5`): its own words, and
                // the item fails like any other.
                as_.Report(Msg::HashNotAllowedInData);
                ok = false;
                SkipItem();
                r.value = 0;
            } else if (!as_.Evaluate(r)) {
                ok = false;
                SkipItem();
                r.value = 0;
            } else if (r.known) {
                std::size_t end = s_.Pos();
                if (size == 1 && (r.value < -128 || r.value > 255)) {
                    s_.SetPos(at);
                    as_.Report(Msg::ValueOutOfRangeTruncated, {"[0..255]"});
                } else if (size == 2 && (r.value < -32768 || r.value > 65535)) {
                    s_.SetPos(at);
                    as_.Report(Msg::ValueOutOfRangeTruncated, {"[0..65536]"});
                }
                s_.SetPos(end);
            }
            auto v = static_cast<std::uint32_t>(r.value);
            if (size == 1)
                code.Put8(static_cast<std::uint8_t>(v));
            else if (size == 2)
                code.Put16(static_cast<std::uint16_t>(v));
            else
                code.Put32(v);
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
    if (!s_.Accept(',')) as_.Report(Msg::CommaExpected);
    s_.SkipBlanks();
    std::size_t at = s_.Pos();
    ExprResult r;
    if (!as_.Evaluate(r)) return false;
    if (r.known) {
        std::size_t end = s_.Pos();
        s_.SetPos(at);
        if (size == 1 && (r.value < -128 || r.value > 255))
            as_.Report(Msg::ValueOutOfRangeTruncated, {"[0..255]"});
        else if (size == 2 && (r.value < -32768 || r.value > 65535))
            as_.Report(Msg::ValueOutOfRangeTruncated, {"[0..65536]"});
        s_.SetPos(end);
    }
    value = static_cast<std::uint32_t>(r.value);
    return true;
}

bool Handlers::FillBlock(int size) {
    if (!s_.SkipBlanks()) return as_.Report(Msg::MissingArgument);
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
    if (!s_.SkipBlanks()) return as_.Report(Msg::MissingArgument);
    std::int32_t count = 0;
    if (!Number(0, 65535, "[0..65535]", count, false)) return false;
    std::uint8_t zero[1] = {0};
    im_.SetReserve(static_cast<std::size_t>(count) * static_cast<std::size_t>(size), zero, 1, false);
    return true;
}

bool Handlers::Align() {
    if (!s_.SkipBlanks()) return as_.Report(Msg::MissingArgument);
    std::int32_t n = 0;
    if (!Number(2, 65536, "[2..65536]", n, true)) return false;
    std::uint32_t value = 0;
    if (!FillValue(1, value)) return false;
    std::uint8_t fill = static_cast<std::uint8_t>(value);
    if (n >= 2) {
        std::uint32_t pc = as_.Location();
        std::uint32_t pad = (static_cast<std::uint32_t>(n) - pc % static_cast<std::uint32_t>(n)) %
                            static_cast<std::uint32_t>(n);
        im_.SetReserve(pad, &fill, 1, false);
    }
    return true;
}

bool Handlers::Org() {
    if (!s_.SkipBlanks()) return as_.Report(Msg::MissingExpression);
    ExprResult r;
    if (!as_.Evaluate(r)) return false;
    std::uint32_t value = static_cast<std::uint32_t>(r.value) & 0xFFFF;
    qorb::Section* cur = im_.current;
    if (cur && cur->size > 0) {
        if (cur->named) im_.ReportAtCommand(Msg::SwitchingToUnnamedSection);
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
    if (!s_.SkipBlanks()) return as_.Report(Msg::MissingExpression);
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

// `end [start]`: the operand is the program's start address for the S9
// record. Under -mc the text is an operand only when it is one complete
// expression (a word with nothing but a comment after it); anything else
// stays a comment, as it always was there.
bool Handlers::End() {
    bool ok = true;
    const std::size_t back = s_.Pos();
    if (!s_.SkipBlanks() || !StartOperandFollows()) {
        s_.SetPos(back); // a comment: reported as before
    } else {
        const std::size_t at = s_.Pos();
        ExprResult r;
        ok = as_.Evaluate(r);
        if (ok) {
            im_.ls.hasValue = true;
            im_.ls.value = r.value;
            const std::size_t after = s_.Pos();
            s_.SetPos(at);
            int files = 0;
            for (const auto& src : im_.sources) files += src->kind == SourceKind::File;
            if (files > 1) {
                // A library's own test program may end with its start; the
                // program that includes it decides where to start.
                as_.Report(Msg::IncludedStartAddressIgnored);
            } else {
                // The main file's `end` is its last line read: there is
                // exactly one such line, so one start address.
                im_.startGiven = true;
                im_.startAddress = static_cast<std::uint32_t>(r.value);
            }
            s_.SetPos(after);
        }
    }
    im_.EndFile();
    return ok;
}

bool Handlers::StartOperandFollows() const {
    if (!as_.GetSettings().compat) return true;
    std::size_t p = s_.Pos();
    const char* line = s_.Line();
    while (p < s_.Length() && !chars::IsBlank(line[p]) && line[p] != ';') ++p;
    while (p < s_.Length() && chars::IsBlank(line[p])) ++p;
    return p >= s_.Length() || line[p] == ';';
}

bool Handlers::Equ(bool isSet) {
    if (im_.label.empty() && im_.localLabel < 0) return as_.Report(Msg::DirectiveRequiresLabel);
    if (!s_.SkipBlanks()) return as_.Report(Msg::MissingExpression);
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
    if (im_.label.empty()) return as_.Report(Msg::DirectiveRequiresLabel);
    std::string name = im_.label;
    std::size_t end = s_.Pos();
    s_.SetPos(im_.labelPos);
    if (name == ".off") return as_.Report(Msg::ReservedSectionName);
    qorb::Section* sec = im_.FindSection(name);
    // A second `section` line for the same name is the error, in every pass;
    // the record itself survives from pass to pass.
    if (sec) {
        if (sec->openedThisPass) {
            sec->redefinition = true;
            return as_.Report(Msg::SectionRedefinition, {name});
        }
    } else {
        sec = &im_.NewSection(name, true);
    }
    sec->openedThisPass = true;
    if (as_.FinalPass() && im_.mapWanted) im_.lineMap.SectionOpened(sec, im_.sources);
    s_.SetPos(end);
    if (s_.SkipBlanks()) {
        std::string word;
        for (;;) {
            s_.SkipBlanks();
            if (!as_.ReadRawIdentifier(word)) return as_.Report(Msg::BadArgument);
            if (!NextItem()) break;
        }
    }
    if (sec->size > 0) return as_.Report(Msg::IllegalOrigin);
    im_.LeaveSection();
    sec->saved = 0;
    im_.current = sec;
    im_.SetLocation(0);
    return true;
}

bool Handlers::Switch() {
    if (!s_.SkipBlanks()) return as_.Report(Msg::MissingArgument);
    std::size_t at = s_.Pos();
    std::string name;
    if (!as_.ReadIdentifier(name)) return as_.Report(Msg::BadSymbol);
    qorb::Section* sec = im_.FindSection(name);
    if (!sec || name == ".off") {
        s_.SetPos(at);
        return as_.Report(Msg::SectionNotDefined, {name});
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
                if (!s_.AtStatementEnd() && s_.Cur() != ',') return as_.Report(Msg::BadArgument);
            } else {
                FoldLower(word);
                if (word == "sect" || word == "section")
                    ++times;
                else {
                    std::size_t end = s_.Pos();
                    s_.SetPos(at);
                    as_.Report(Msg::IgnoringUnknownOption, {word});
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
                im_.ReportAtCommand(Msg::IgnoringUnexpectedRestore);
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
        if (!as_.ReadRawIdentifier(word)) return as_.Report(Msg::Expected, {"on/off"});
        FoldLower(word);
        if (word == "on")
            on = true;
        else if (word == "off")
            on = false;
        else {
            s_.SetPos(at);
            return as_.Report(Msg::Expected, {"on/off"});
        }
    }
    *flag = on;
    return true;
}

bool Handlers::ListNumber(Directive which) {
    im_.ls.control = true;
    std::int32_t n = 0;
    switch (which) {
    case Directive::Space:
        if (!Number(1, 128, "[0..128]", n, true)) return false;
        if (im_.listing && n > 0) im_.listing->Spacing(n);
        return true;
    case Directive::PageLength:
        if (!Number(10, 1000, "[0, 10..1000]", n, true, true)) return false;
        im_.pageLength = n;
        return true;
    case Directive::LineLength:
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
    if (!s_.SkipBlanks()) return as_.Report(Msg::StringExpected);
    char q = s_.Cur();
    if (q == '"' || q == '\'') {
        std::string text;
        if (!as_.ReadText(text, true)) return as_.Report(Msg::StringExpected);
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
        as_.Report(Msg::BadDelimiter);
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
        as_.Report(Msg::MissingDelimiter, {delim});
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
    out +=
        FormatText("PC: %08x, Scope: %u, Section: %s\n", {as_.Location(), im_.scope, sec ? sec->name : ""});
    out += FormatText("Strict: %u, Relax: %u, Screwed: %u\n",
                      {static_cast<unsigned>(as_.Strict()), static_cast<unsigned>(as_.Relax()),
                       static_cast<unsigned>(as_.Screwed())});
    out += FormatText("Symbol: %s, Symbol: %d\n", {im_.stmtLabel, im_.stmtLocal});
    out +=
        FormatText("Warnings: %u, Errors: %u, Fatals: %u\n\n", {as_.Warnings(), as_.Errors(), as_.Fatals()});
    as_.Print(out);
}

bool Handlers::Run(Directive handler) {
    switch (handler) {
    case Directive::Unsupported:
        s_.SetPos(im_.commandPos);
        as_.Report(Msg::IgnoringUnsupportedPseudoCommand);
        s_.SetPos(s_.Length());
        return true;
    case Directive::Section: return SectionCmd();
    case Directive::Switch: return Switch();
    case Directive::Offset: return Offset();
    case Directive::Save: return SaveRestore(true);
    case Directive::Restore: return SaveRestore(false);
    case Directive::Org: return Org();
    case Directive::Align: return Align();
    case Directive::Even: {
        std::uint8_t zero = 0;
        im_.SetReserve(as_.Location() & 1, &zero, 1, false);
        return true;
    }
    case Directive::Local: ++im_.scope; return true;
    case Directive::Loc: im_.locScope = ++im_.locScopes; return true;
    case Directive::Equ: return Equ(false);
    case Directive::Set: return Equ(true);
    case Directive::DataBytes: return Data(1);
    case Directive::DataWords: return Data(2);
    case Directive::DataLongs: return Data(4);
    case Directive::FillBytes: return FillBlock(1);
    case Directive::FillWords: return FillBlock(2);
    case Directive::FillLongs: return FillBlock(4);
    case Directive::SpaceBytes: return Storage(1);
    case Directive::SpaceWords: return Storage(2);
    case Directive::SpaceLongs: return Storage(4);
    case Directive::Macro: return im_.MacroDefinition();
    case Directive::Endm:
    case Directive::Endr: s_.SetPos(im_.commandPos); return as_.Report(Msg::DirectiveNotAllowedOutsideMacro);
    case Directive::Mexit: return im_.Mexit();
    case Directive::Repeat: return im_.RepeatBlock();
    case Directive::List: return ListSwitch(&im_.listOn, false);
    case Directive::Nolist: return ListSwitch(&im_.listOn, true);
    case Directive::Clist: return ListSwitch(&im_.clistOn, false);
    case Directive::Mlist: return ListSwitch(&im_.mlistOn, false);
    case Directive::Title: return Title(im_.title);
    case Directive::Subtitle: return Title(im_.subtitle);
    case Directive::Page:
        im_.ls.control = true;
        if (im_.listing) im_.listing->ForcePage();
        return true;
    case Directive::Space:
    case Directive::PageLength:
    case Directive::LineLength:
    case Directive::Tabs: return ListNumber(handler);
    case Directive::End: return End();
    case Directive::Fcc: return Fcc();
    case Directive::Dump: Dump(); return true;
    case Directive::Count: break;
    }
    return as_.Report(Msg::PseudoCodeTableCorrupt);
}

} // namespace

bool DirectiveIsData(int row) {
    if (row < 0 || row >= static_cast<int>(std::size(kDirectives))) return false;
    const Directive d = kDirectives[row].handler;
    return d == Directive::DataBytes || d == Directive::DataWords || d == Directive::DataLongs;
}

bool DirectiveIsPlainData(int row) {
    return DirectiveIsData(row) && !(kDirectives[row].flags & (kObsolete | kOwnLabel | kKeepsOffset));
}

bool DirectiveIsEqu(int row) {
    return row >= 0 && row < static_cast<int>(std::size(kDirectives)) &&
           kDirectives[row].handler == Directive::Equ;
}

bool Assembler::Impl::RunDirectiveRow(int row, bool settling) {
    if (row < 0 || row >= static_cast<int>(std::size(kDirectives)))
        return as.Report(Msg::PseudoCodeTableCorrupt);
    const DirRow& r = kDirectives[row];
    if (!(r.flags & kKeepsOffset)) EndOffset();
    if (r.flags & kObsolete) ReportAtCommand(Msg::ObsoleteDirective);
    if (!(r.flags & kOwnLabel)) {
        if (!DefineLabel()) return false;
    }
    if (settling) {
        if (memo->settled && (as.final_ ? TakeSettledCode(*memo) : Resettle(*memo))) {
            resettled = true;
            return true;
        }
        unsettled = locationRead = valuesIgnored = startRead = rangeUnchecked = false;
    }
    Handlers h(*this);
    return h.Run(r.handler);
}

} // namespace qorb
