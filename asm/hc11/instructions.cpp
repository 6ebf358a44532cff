#include "instructions.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "core/assembler.h"

namespace qorb::hc11 {

// One row of the instruction table. The low 6 bits of `cls` are the operand
// class; bit 0x40 marks a mnemonic that is accepted but not standard. An
// opcode of 256 or more is two bytes, high byte first.
struct OpcodeEntry {
    const char* name;
    std::uint32_t cls;
    std::uint32_t opcode;
    std::uint32_t cycles;
};

namespace {

enum Class : std::uint32_t {
    kInherent = 1,
    kBranch = 3,
    kGeneral8 = 5,
    kGeneral16 = 6,
    kModify = 7,
    kStore = 8,
    kBitSet = 9,
    kBitBranch = 10,
    kJmp = 11,
    kJsr = 12,
};

constexpr std::uint32_t kClassMask = 0x3F;
constexpr std::uint32_t kNonStandard = 0x40;
constexpr std::uint32_t N = kNonStandard;

// Sorted by name in plain byte order: looked up by halving.
constexpr OpcodeEntry kOpcodes[] = {
    {"aba", kInherent, 0x1B, 2},
    {"abx", kInherent, 0x3A, 3},
    {"aby", kInherent, 0x183A, 4},
    {"adca", kGeneral8, 0x89, 2},
    {"adcb", kGeneral8, 0xC9, 2},
    {"adda", kGeneral8, 0x8B, 2},
    {"addb", kGeneral8, 0xCB, 2},
    {"addd", kGeneral16, 0xC3, 4},
    {"anda", kGeneral8, 0x84, 2},
    {"andb", kGeneral8, 0xC4, 2},
    {"asl", kModify, 0x48, 2},
    {"asla", kInherent, 0x48, 2},
    {"aslb", kInherent, 0x58, 2},
    {"asld", kInherent, 0x05, 3},
    {"asr", kModify, 0x47, 2},
    {"asra", kInherent, 0x47, 2},
    {"asrb", kInherent, 0x57, 2},
    {"bcc", kBranch, 0x24, 3},
    {"bclr", kBitSet, 0x15, 5},
    {"bcs", kBranch, 0x25, 3},
    {"beq", kBranch, 0x27, 3},
    {"bge", kBranch, 0x2C, 3},
    {"bgt", kBranch, 0x2E, 3},
    {"bhi", kBranch, 0x22, 3},
    {"bhs", kBranch, 0x24, 3},
    {"bita", kGeneral8, 0x85, 2},
    {"bitb", kGeneral8, 0xC5, 2},
    {"ble", kBranch, 0x2F, 3},
    {"blo", kBranch, 0x25, 3},
    {"bls", kBranch, 0x23, 3},
    {"blt", kBranch, 0x2D, 3},
    {"bmi", kBranch, 0x2B, 3},
    {"bne", kBranch, 0x26, 3},
    {"bpl", kBranch, 0x2A, 3},
    {"bra", kBranch, 0x20, 3},
    {"brclr", kBitBranch, 0x13, 5},
    {"brn", kBranch, 0x21, 3},
    {"brset", kBitBranch, 0x12, 5},
    {"bset", kBitSet, 0x14, 5},
    {"bsr", kBranch, 0x8D, 6},
    {"bvc", kBranch, 0x28, 3},
    {"bvs", kBranch, 0x29, 3},
    {"cba", kInherent, 0x11, 2},
    {"clc", kInherent, 0x0C, 2},
    {"cli", kInherent, 0x0E, 2},
    {"clr", kModify, 0x4F, 2},
    {"clra", kInherent, 0x4F, 2},
    {"clrb", kInherent, 0x5F, 2},
    {"clv", kInherent, 0x0A, 2},
    {"cmpa", kGeneral8, 0x81, 2},
    {"cmpb", kGeneral8, 0xC1, 2},
    {"cmpd", kGeneral16 | N, 0x1A83, 5},
    {"com", kModify, 0x43, 2},
    {"coma", kInherent, 0x43, 2},
    {"comb", kInherent, 0x53, 2},
    {"cpd", kGeneral16, 0x1A83, 5},
    {"cpx", kGeneral16, 0x8C, 4},
    {"cpy", kGeneral16, 0x188C, 5},
    {"daa", kInherent, 0x19, 2},
    {"dec", kModify, 0x4A, 2},
    {"deca", kInherent, 0x4A, 2},
    {"decb", kInherent, 0x5A, 2},
    {"des", kInherent, 0x34, 3},
    {"dex", kInherent, 0x09, 3},
    {"dey", kInherent, 0x1809, 4},
    {"eora", kGeneral8, 0x88, 2},
    {"eorb", kGeneral8, 0xC8, 2},
    {"fdiv", kInherent, 0x03, 41},
    {"idiv", kInherent, 0x02, 41},
    {"inc", kModify, 0x4C, 2},
    {"inca", kInherent, 0x4C, 2},
    {"incb", kInherent, 0x5C, 2},
    {"ins", kInherent, 0x31, 3},
    {"inx", kInherent, 0x08, 3},
    {"iny", kInherent, 0x1808, 4},
    {"jmp", kJmp, 0x4E, 1},
    {"jsr", kJsr, 0x8D, 4},
    {"lda", kGeneral8 | N, 0x86, 2},
    {"ldaa", kGeneral8, 0x86, 2},
    {"ldab", kGeneral8, 0xC6, 2},
    {"ldb", kGeneral8 | N, 0xC6, 2},
    {"ldd", kGeneral16, 0xCC, 3},
    {"lds", kGeneral16, 0x8E, 3},
    {"ldx", kGeneral16, 0xCE, 3},
    {"ldy", kGeneral16, 0x18CE, 4},
    {"lsl", kModify, 0x48, 2},
    {"lsla", kInherent, 0x48, 2},
    {"lslb", kInherent, 0x58, 2},
    {"lsld", kInherent, 0x05, 3},
    {"lsr", kModify, 0x44, 2},
    {"lsra", kInherent, 0x44, 2},
    {"lsrb", kInherent, 0x54, 2},
    {"lsrd", kInherent, 0x04, 3},
    {"mul", kInherent, 0x3D, 10},
    {"neg", kModify, 0x40, 2},
    {"nega", kInherent, 0x40, 2},
    {"negb", kInherent, 0x50, 2},
    {"nop", kInherent, 0x01, 2},
    {"oraa", kGeneral8, 0x8A, 2},
    {"orab", kGeneral8, 0xCA, 2},
    {"psha", kInherent, 0x36, 3},
    {"pshb", kInherent, 0x37, 3},
    {"pshx", kInherent, 0x3C, 4},
    {"pshy", kInherent, 0x183C, 5},
    {"pula", kInherent, 0x32, 4},
    {"pulb", kInherent, 0x33, 4},
    {"pulx", kInherent, 0x38, 5},
    {"puly", kInherent, 0x1838, 6},
    {"rol", kModify, 0x49, 2},
    {"rola", kInherent, 0x49, 2},
    {"rolb", kInherent, 0x59, 2},
    {"ror", kModify, 0x46, 2},
    {"rora", kInherent, 0x46, 2},
    {"rorb", kInherent, 0x56, 2},
    {"rti", kInherent, 0x3B, 12},
    {"rts", kInherent, 0x39, 5},
    {"sba", kInherent, 0x10, 2},
    {"sbca", kGeneral8, 0x82, 2},
    {"sbcb", kGeneral8, 0xC2, 2},
    {"sec", kInherent, 0x0D, 2},
    {"sei", kInherent, 0x0F, 2},
    {"sev", kInherent, 0x0B, 2},
    {"sta", kStore | N, 0x87, 2},
    {"staa", kStore, 0x87, 2},
    {"stab", kStore, 0xC7, 2},
    {"stb", kStore | N, 0xC7, 2},
    {"std", kStore, 0xCD, 3},
    {"stop", kInherent, 0xCF, 2},
    {"sts", kStore, 0x8F, 3},
    {"stx", kStore, 0xCF, 3},
    {"sty", kStore, 0x18CF, 4},
    {"suba", kGeneral8, 0x80, 2},
    {"subb", kGeneral8, 0xC0, 2},
    {"subd", kGeneral16, 0x83, 4},
    {"swi", kInherent, 0x3F, 14},
    {"tab", kInherent, 0x16, 2},
    {"tap", kInherent, 0x06, 2},
    {"tba", kInherent, 0x17, 2},
    {"test", kInherent, 0x00, 5},
    {"tpa", kInherent, 0x07, 2},
    {"tst", kModify, 0x4D, 2},
    {"tsta", kInherent, 0x4D, 2},
    {"tstb", kInherent, 0x5D, 2},
    {"tsx", kInherent, 0x30, 3},
    {"tsy", kInherent, 0x1830, 4},
    {"txs", kInherent, 0x35, 3},
    {"tys", kInherent, 0x1835, 4},
    {"wai", kInherent, 0x3E, 14},
    {"xgdx", kInherent, 0x8F, 3},
    {"xgdy", kInherent, 0x188F, 4},
};

static_assert(std::size(kOpcodes) == 150, "145 standard mnemonics and 5 aliases");

// Operand modes, as bits, so that a class can test sets of them.
enum Mode : unsigned {
    kModeInherent = 1,
    kModeImmediate8 = 2,
    kModeDirect = 4,
    kModeExtended = 8,
    kModeImmediate16 = 32,
    kModeIndexedX = 64,
    kModeIndexedY = 128,
};

bool ValidClass(std::uint32_t cls) {
    switch (cls) {
    case kInherent:
    case kBranch:
    case kGeneral8:
    case kGeneral16:
    case kModify:
    case kStore:
    case kBitSet:
    case kBitBranch:
    case kJmp:
    case kJsr:
        return true;
    default:
        return false;
    }
}

// Reports at a given column and puts the scanner back, so that a warning does
// not disturb the parse of the rest of the line.
bool ReportAt(Assembler& as, std::size_t pos, int number, std::initializer_list<MsgArg> args = {}) {
    Scanner& s = as.Scan();
    std::size_t here = s.Pos();
    s.SetPos(pos);
    as.Report(number, args);
    s.SetPos(here);
    return false;
}

// True when the scanner stands on the register letter `reg` written as a
// whole word ("x" but not "xa" or "x1").
bool AtRegister(const Scanner& s, char reg) {
    char c = s.Cur();
    if (c != reg && c != static_cast<char>(reg - 'a' + 'A')) return false;
    return !chars::IsSymbolChar(s.At(1));
}

unsigned IndexRegisterAt(const Scanner& s) {
    if (AtRegister(s, 'x')) return kModeIndexedX;
    if (AtRegister(s, 'y')) return kModeIndexedY;
    return 0;
}

// `X` or `Y` standing alone for offset 0. When an operator or an index
// register follows, the word is a symbol used as a value (`x+1,y`, `x,y`).
unsigned LoneIndexRegisterAt(Scanner& s) {
    unsigned reg = IndexRegisterAt(s);
    if (reg == 0) return 0;
    std::size_t here = s.Pos();
    s.Advance();
    char next = s.SkipBlanks() ? s.Cur() : '\0';
    bool alone = next == '\0' || std::strchr("+-*/%&|^=<>!", next) == nullptr;
    if (alone && s.Accept(',')) {
        s.SkipBlanks();
        alone = IndexRegisterAt(s) == 0;
    }
    s.SetPos(here);
    return alone ? reg : 0;
}

// A parsed operand.
struct Operand {
    unsigned mode = kModeInherent;
    std::int32_t value = 0;
    bool known = false;
    bool forceShort = false;
    bool forceLong = false;
    std::size_t start = 0; // column of the operand, for messages
};

// Parses one operand: nothing, `#expr`, `expr`, `<expr`, `>expr`, `expr,X`,
// `,Y`, or `X`/`Y` alone. A comma that is not followed by an index register
// is left for the caller, so that `bset addr,#mask` can split its fields.
bool ParseOperand(Assembler& as, Operand& op) {
    Scanner& s = as.Scan();
    op = Operand{};
    if (!s.SkipBlanks()) {
        op.start = s.Pos();
        op.mode = kModeInherent;
        op.known = true;
        return true;
    }
    op.start = s.Pos();

    if (s.Accept('#')) {
        ExprResult r;
        if (!as.Evaluate(r)) return false;
        op.mode = kModeImmediate8;
        op.value = r.value;
        op.known = r.known;
        return true;
    }

    bool leadingComma = false;
    if (s.Cur() == ',') {
        op.value = 0;
        op.known = true;
        leadingComma = true;
    } else if (unsigned reg = LoneIndexRegisterAt(s)) {
        s.Advance();
        op.mode = reg;
        op.value = 0;
        op.known = true;
        return true;
    } else {
        if (s.Accept('<')) {
            op.forceShort = true;
        } else if (s.Accept('>')) {
            op.forceLong = true;
        }
        ExprResult r;
        if (!as.Evaluate(r)) return false;
        op.value = r.value;
        op.known = r.known;
    }

    std::size_t afterExpression = s.Pos();
    s.SkipBlanks();
    std::size_t commaPos = s.Pos();
    if (s.Accept(',')) {
        s.SkipBlanks();
        if (unsigned reg = IndexRegisterAt(s)) {
            s.Advance();
            op.mode = reg;
            return true;
        }
        if (leadingComma) {
            return as.Report(2071);
        }
        s.SetPos(commaPos);
    } else {
        s.SetPos(afterExpression);
    }

    if (op.forceLong || (op.known && (op.value < 0 || op.value > 255) && !op.forceShort)) {
        op.mode = kModeExtended;
    } else {
        op.mode = kModeDirect;
    }
    return true;
}

// Emission state of one instruction: the bytes go into the line code buffer
// in every pass (the sizes must match), range checks only in the final pass.
class Emitter {
public:
    explicit Emitter(Assembler& as) : as_(as), checks_(as.FinalPass() && !as.Screwed()) {}

    bool Checking() const { return checks_; }

    void Opcode(std::uint32_t opcode) {
        if (opcode > 0xFF) {
            as_.Code().Put16(static_cast<std::uint16_t>(opcode));
        } else {
            as_.Code().Put8(static_cast<std::uint8_t>(opcode));
        }
    }

    // An 8-bit address or unsigned offset: 0..255.
    void AddressByte(const Operand& op) {
        if (checks_ && op.known && (op.value < 0 || op.value > 255)) {
            ReportAt(as_, op.start, 4104, {"[0..255]"});
        }
        as_.Code().Put8(static_cast<std::uint8_t>(op.value));
    }

    void AddressWord(const Operand& op) {
        if (checks_ && op.known && (op.value < 0 || op.value > 65535)) {
            ReportAt(as_, op.start, 4104, {"[0..65535]"});
        }
        as_.Code().Put16(static_cast<std::uint16_t>(op.value));
    }

    // Immediate data names its nominal range but lets negative values pass.
    void ImmediateByte(const Operand& op) {
        if (checks_ && op.known && (op.value < -256 || op.value > 255)) {
            ReportAt(as_, op.start, 4102, {"[0..255]"});
        }
        as_.Code().Put8(static_cast<std::uint8_t>(op.value));
    }

    void ImmediateWord(const Operand& op) {
        if (checks_ && op.known && (op.value < -65536 || op.value > 65535)) {
            ReportAt(as_, op.start, 4102, {"[0..65535]"});
        }
        as_.Code().Put16(static_cast<std::uint16_t>(op.value));
    }

    // Relative offset of a branch whose next instruction starts at `next`.
    // An unresolved target gets the placeholder $FE (a branch to itself
    // when it is a two-byte branch); a distance out of range gets it too,
    // and an error.
    bool BranchOffset(const ExprResult& target, std::uint32_t next, std::size_t column) {
        std::int64_t distance =
            static_cast<std::int64_t>(target.value) - static_cast<std::int64_t>(next);
        if (!target.known) {
            as_.Code().Put8(0xFE);
            return true;
        }
        if (checks_ && (distance < -128 || distance > 127)) {
            as_.Code().Put8(0xFE);
            return ReportAt(as_, column, 2070, {"[-128..127]"});
        }
        as_.Code().Put8(static_cast<std::uint8_t>(distance));
        return true;
    }

private:
    Assembler& as_;
    bool checks_;
};

// The indexed forms of the 16-bit instructions whose opcode already uses a
// page prefix, or that need one for Y: the page changes and, where the
// prefixed form saves a fetch, one cycle less.
struct IndexedException {
    std::uint32_t opcode;  // immediate form as it stands in the table
    std::uint32_t onX;     // indexed on X, 0 for the ordinary form
    std::uint32_t onY;     // indexed on Y
    int cyclesY;           // correction for indexed on Y
};

constexpr IndexedException kIndexedExceptions[] = {
    {0x8C, 0, 0xCDAC, 0},          // cpx
    {0xCE, 0, 0xCDEE, 0},          // ldx
    {0xCF, 0, 0xCDEF, 0},          // stx
    {0x188C, 0x1AAC, 0x18AC, -1},  // cpy
    {0x18CE, 0x1AEE, 0x18EE, -1},  // ldy
    {0x18CF, 0x1AEF, 0x18EF, -1},  // sty
    {0x1A83, 0x1AA3, 0xCDA3, -1},  // cpd
};

const IndexedException* FindIndexedException(std::uint32_t opcode) {
    for (const IndexedException& e : kIndexedExceptions) {
        if (e.opcode == opcode) return &e;
    }
    return nullptr;
}

// Opcode and extra cycles of an indexed general instruction.
void IndexedOpcode(std::uint32_t opcode, unsigned mode, std::uint32_t& out, int& cycles) {
    if (const IndexedException* e = FindIndexedException(opcode)) {
        if (mode == kModeIndexedX && e->onX != 0) {
            out = e->onX;
            cycles = 2;
            return;
        }
        if (mode == kModeIndexedY) {
            out = e->onY;
            cycles = 3 + e->cyclesY;
            return;
        }
    }
    if (mode == kModeIndexedX) {
        out = opcode + 0x20;
        cycles = 2;
    } else {
        out = 0x1800 | ((opcode + 0x20) & 0xFF);
        cycles = 3;
    }
}

bool CheckOperandPresent(Assembler& as, const Operand& op) {
    if (op.mode == kModeInherent) return ReportAt(as, op.start, 2067);
    return true;
}

// Classes 5, 6, 7, 8, 11, 12: one operand, the mode picks the opcode.
bool AssembleGeneral(Assembler& as, const OpcodeEntry& row, std::uint32_t cls) {
    Operand op;
    if (!ParseOperand(as, op)) return false;
    if (!CheckOperandPresent(as, op)) return false;

    bool takesImmediate = cls == kGeneral8 || cls == kGeneral16;
    if (op.mode == kModeImmediate8 && !takesImmediate) return ReportAt(as, op.start, 2068);
    if (op.mode == kModeImmediate8 && cls == kGeneral16) op.mode = kModeImmediate16;
    // Read-modify-write and jmp have no direct form.
    if (op.mode == kModeDirect && (cls == kModify || cls == kJmp)) op.mode = kModeExtended;

    Emitter out(as);
    int cycles = static_cast<int>(row.cycles & 0xFF);
    switch (op.mode) {
    case kModeImmediate8:
        out.Opcode(row.opcode);
        out.ImmediateByte(op);
        break;
    case kModeImmediate16:
        out.Opcode(row.opcode);
        out.ImmediateWord(op);
        break;
    case kModeDirect:
        out.Opcode(row.opcode + 0x10);
        out.AddressByte(op);
        cycles += 1;
        break;
    case kModeExtended:
        out.Opcode(row.opcode + 0x30);
        out.AddressWord(op);
        cycles += 2;
        break;
    case kModeIndexedX:
    case kModeIndexedY: {
        std::uint32_t opcode = 0;
        int extra = 0;
        IndexedOpcode(row.opcode, op.mode, opcode, extra);
        out.Opcode(opcode);
        out.AddressByte(op);
        cycles += extra;
        break;
    }
    default:
        return ReportAt(as, op.start, 2066);
    }
    if (cls == kModify) cycles += 2;
    as.Code().cycles = cycles;
    return true;
}

// Classes 9 and 10: operand, mask and (class 10) branch target. The comma
// and the `#` before the mask may be left out.
bool AssembleBit(Assembler& as, const OpcodeEntry& row, std::uint32_t cls) {
    Scanner& s = as.Scan();
    Operand op;
    if (!ParseOperand(as, op)) return false;
    if (!CheckOperandPresent(as, op)) return false;
    if (op.mode == kModeImmediate8) return ReportAt(as, op.start, 2068);
    // There is no extended form: a long address is cut to its low byte (with
    // the range warning of a direct address).
    if (op.mode == kModeExtended) op.mode = kModeDirect;

    s.SkipBlanks();
    s.Accept(',');
    s.SkipBlanks();
    s.Accept('#');
    if (!s.SkipBlanks()) return as.Report(2007, {"mask"});
    ExprResult mask;
    if (!as.Evaluate(mask)) return false;

    ExprResult target;
    std::size_t targetPos = 0;
    if (cls == kBitBranch) {
        s.SkipBlanks();
        std::size_t sepPos = s.Pos();
        if (!s.Accept(',')) {
            if (s.AtStatementEnd()) return as.Report(2007, {"target adress"});
            ReportAt(as, sepPos, 4301);
        }
        if (!s.SkipBlanks()) return as.Report(2007, {"target adress"});
        targetPos = s.Pos();
        if (!as.Evaluate(target)) return false;
    }

    Emitter out(as);
    std::uint32_t opcode = row.opcode;
    std::size_t length = 3;
    int cycles = static_cast<int>(row.cycles & 0xFF);
    std::uint32_t indexedStep = cls == kBitSet ? 8 : 12;
    switch (op.mode) {
    case kModeDirect:
        cycles += 1;
        break;
    case kModeIndexedX:
        opcode += indexedStep;
        cycles += 2;
        break;
    case kModeIndexedY:
        opcode = 0x1800 | (opcode + indexedStep);
        length = 4;
        cycles += 3;
        break;
    default:
        return ReportAt(as, op.start, 2066);
    }
    if (cls == kBitBranch) ++length;

    out.Opcode(opcode);
    out.AddressByte(op);
    as.Code().Put8(static_cast<std::uint8_t>(mask.value));
    as.Code().cycles = cycles;
    if (cls == kBitBranch) {
        return out.BranchOffset(target, as.Location() + static_cast<std::uint32_t>(length),
                                targetPos);
    }
    return true;
}

bool AssembleBranch(Assembler& as, const OpcodeEntry& row) {
    Scanner& s = as.Scan();
    s.SkipBlanks();
    std::size_t targetPos = s.Pos();
    ExprResult target;
    if (!as.Evaluate(target)) return false;
    Emitter out(as);
    out.Opcode(row.opcode);
    as.Code().cycles = static_cast<int>(row.cycles & 0xFF);
    return out.BranchOffset(target, as.Location() + 2, targetPos);
}

bool AssembleInherent(Assembler& as, const OpcodeEntry& row) {
    Scanner& s = as.Scan();
    if (s.SkipBlanks()) {
        if (!as.GetSettings().compat) return as.Report(2069);
        // Old sources put remarks right after the mnemonic: take the rest
        // of the line as a comment.
        as.Report(4302);
        s.SetPos(s.Length());
    }
    Emitter out(as);
    out.Opcode(row.opcode);
    as.Code().cycles = static_cast<int>(row.cycles & 0xFF);
    return true;
}

} // namespace

bool CheckTables(Assembler& as) {
    for (std::size_t i = 0; i < std::size(kOpcodes); ++i) {
        const OpcodeEntry& row = kOpcodes[i];
        bool ordered = i == 0 || std::strcmp(kOpcodes[i - 1].name, row.name) < 0;
        if (!ordered || !ValidClass(row.cls & kClassMask)) return as.Report(1004);
    }
    return true;
}

const void* FindInstruction(std::string_view name) {
    // Mnemonics are never case-sensitive, whatever the symbol setting; no
    // mnemonic is longer than five letters.
    char lower[8];
    if (name.size() >= sizeof lower) return nullptr;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        lower[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    std::string_view key(lower, name.size());
    auto first = std::begin(kOpcodes);
    auto last = std::end(kOpcodes);
    auto it = std::lower_bound(first, last, key, [](const OpcodeEntry& row, std::string_view k) {
        return std::string_view(row.name) < k;
    });
    if (it == last || std::string_view(it->name) != key) return nullptr;
    return &*it;
}

bool AssembleInstruction(Assembler& as, const void* handle) {
    const OpcodeEntry& row = *static_cast<const OpcodeEntry*>(handle);
    std::uint32_t cls = row.cls & kClassMask;
    if (row.cls & kNonStandard) {
        // Point the warning at the mnemonic, which ends where the scanner stands.
        Scanner& s = as.Scan();
        std::size_t start = s.Pos();
        while (start > 0 && chars::IsSymbolChar(s.Line()[start - 1])) --start;
        ReportAt(as, start, 4303);
    }

    switch (cls) {
    case kInherent:
        return AssembleInherent(as, row);
    case kBranch:
        return AssembleBranch(as, row);
    case kGeneral8:
    case kGeneral16:
    case kModify:
    case kStore:
    case kJmp:
    case kJsr:
        return AssembleGeneral(as, row, cls);
    case kBitSet:
    case kBitBranch:
        return AssembleBit(as, row, cls);
    default:
        return as.Report(1004);
    }
}

} // namespace qorb::hc11
