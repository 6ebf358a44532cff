// The CPU12's instruction decoder for traces. A small table of its own for
// now (see core/disasm.h); the operand syntax is the assembler's, so a line
// can be assembled again.

#include <cstdio>
#include <string>

#include "core/disasm.h"

namespace qorb::sim {
namespace {

enum Mode : std::uint8_t {
    kInh, kImm8, kImm16, kDir, kExt, kIdx, kRel8, kRel16, kLoop, kBitDir, kBitExt, kBitIdx,
    kBrDir, kBrExt, kBrIdx, kCallExt, kCallIdx, kXfer, kPage2, kMove, kTrap, kBad
};

struct Row {
    const char* name;
    Mode mode;
};

// Page 1, by opcode.
const Row kPage1[256] = {
    {"bgnd", kInh}, {"mem", kInh}, {"iny", kInh}, {"dey", kInh}, {"", kLoop}, {"jmp", kIdx}, {"jmp", kExt},
    {"bsr", kRel8}, {"inx", kInh}, {"dex", kInh}, {"rtc", kInh}, {"rti", kInh}, {"bset", kBitIdx},
    {"bclr", kBitIdx}, {"brset", kBrIdx}, {"brclr", kBrIdx},
    {"andcc", kImm8}, {"ediv", kInh}, {"mul", kInh}, {"emul", kInh}, {"orcc", kImm8}, {"jsr", kIdx},
    {"jsr", kExt}, {"jsr", kDir}, {"", kPage2}, {"leay", kIdx}, {"leax", kIdx}, {"leas", kIdx},
    {"bset", kBitExt}, {"bclr", kBitExt}, {"brset", kBrExt}, {"brclr", kBrExt},
    {"bra", kRel8}, {"brn", kRel8}, {"bhi", kRel8}, {"bls", kRel8}, {"bcc", kRel8}, {"bcs", kRel8},
    {"bne", kRel8}, {"beq", kRel8}, {"bvc", kRel8}, {"bvs", kRel8}, {"bpl", kRel8}, {"bmi", kRel8},
    {"bge", kRel8}, {"blt", kRel8}, {"bgt", kRel8}, {"ble", kRel8},
    {"pulx", kInh}, {"puly", kInh}, {"pula", kInh}, {"pulb", kInh}, {"pshx", kInh}, {"pshy", kInh},
    {"psha", kInh}, {"pshb", kInh}, {"pulc", kInh}, {"pshc", kInh}, {"puld", kInh}, {"pshd", kInh},
    {"wavr", kInh}, {"rts", kInh}, {"wai", kInh}, {"swi", kInh},
    {"nega", kInh}, {"coma", kInh}, {"inca", kInh}, {"deca", kInh}, {"lsra", kInh}, {"rola", kInh},
    {"rora", kInh}, {"asra", kInh}, {"asla", kInh}, {"lsrd", kInh}, {"call", kCallExt}, {"call", kCallIdx},
    {"bset", kBitDir}, {"bclr", kBitDir}, {"brset", kBrDir}, {"brclr", kBrDir},
    {"negb", kInh}, {"comb", kInh}, {"incb", kInh}, {"decb", kInh}, {"lsrb", kInh}, {"rolb", kInh},
    {"rorb", kInh}, {"asrb", kInh}, {"aslb", kInh}, {"asld", kInh}, {"staa", kDir}, {"stab", kDir},
    {"std", kDir}, {"sty", kDir}, {"stx", kDir}, {"sts", kDir},
    {"neg", kIdx}, {"com", kIdx}, {"inc", kIdx}, {"dec", kIdx}, {"lsr", kIdx}, {"rol", kIdx}, {"ror", kIdx},
    {"asr", kIdx}, {"asl", kIdx}, {"clr", kIdx}, {"staa", kIdx}, {"stab", kIdx}, {"std", kIdx},
    {"sty", kIdx}, {"stx", kIdx}, {"sts", kIdx},
    {"neg", kExt}, {"com", kExt}, {"inc", kExt}, {"dec", kExt}, {"lsr", kExt}, {"rol", kExt}, {"ror", kExt},
    {"asr", kExt}, {"asl", kExt}, {"clr", kExt}, {"staa", kExt}, {"stab", kExt}, {"std", kExt},
    {"sty", kExt}, {"stx", kExt}, {"sts", kExt},
    {"suba", kImm8}, {"cmpa", kImm8}, {"sbca", kImm8}, {"subd", kImm16}, {"anda", kImm8}, {"bita", kImm8},
    {"ldaa", kImm8}, {"clra", kInh}, {"eora", kImm8}, {"adca", kImm8}, {"oraa", kImm8}, {"adda", kImm8},
    {"cpd", kImm16}, {"cpy", kImm16}, {"cpx", kImm16}, {"cps", kImm16},
    {"suba", kDir}, {"cmpa", kDir}, {"sbca", kDir}, {"subd", kDir}, {"anda", kDir}, {"bita", kDir},
    {"ldaa", kDir}, {"tsta", kInh}, {"eora", kDir}, {"adca", kDir}, {"oraa", kDir}, {"adda", kDir},
    {"cpd", kDir}, {"cpy", kDir}, {"cpx", kDir}, {"cps", kDir},
    {"suba", kIdx}, {"cmpa", kIdx}, {"sbca", kIdx}, {"subd", kIdx}, {"anda", kIdx}, {"bita", kIdx},
    {"ldaa", kIdx}, {"nop", kInh}, {"eora", kIdx}, {"adca", kIdx}, {"oraa", kIdx}, {"adda", kIdx},
    {"cpd", kIdx}, {"cpy", kIdx}, {"cpx", kIdx}, {"cps", kIdx},
    {"suba", kExt}, {"cmpa", kExt}, {"sbca", kExt}, {"subd", kExt}, {"anda", kExt}, {"bita", kExt},
    {"ldaa", kExt}, {"", kXfer}, {"eora", kExt}, {"adca", kExt}, {"oraa", kExt}, {"adda", kExt},
    {"cpd", kExt}, {"cpy", kExt}, {"cpx", kExt}, {"cps", kExt},
    {"subb", kImm8}, {"cmpb", kImm8}, {"sbcb", kImm8}, {"addd", kImm16}, {"andb", kImm8}, {"bitb", kImm8},
    {"ldab", kImm8}, {"clrb", kInh}, {"eorb", kImm8}, {"adcb", kImm8}, {"orab", kImm8}, {"addb", kImm8},
    {"ldd", kImm16}, {"ldy", kImm16}, {"ldx", kImm16}, {"lds", kImm16},
    {"subb", kDir}, {"cmpb", kDir}, {"sbcb", kDir}, {"addd", kDir}, {"andb", kDir}, {"bitb", kDir},
    {"ldab", kDir}, {"tstb", kInh}, {"eorb", kDir}, {"adcb", kDir}, {"orab", kDir}, {"addb", kDir},
    {"ldd", kDir}, {"ldy", kDir}, {"ldx", kDir}, {"lds", kDir},
    {"subb", kIdx}, {"cmpb", kIdx}, {"sbcb", kIdx}, {"addd", kIdx}, {"andb", kIdx}, {"bitb", kIdx},
    {"ldab", kIdx}, {"tst", kIdx}, {"eorb", kIdx}, {"adcb", kIdx}, {"orab", kIdx}, {"addb", kIdx},
    {"ldd", kIdx}, {"ldy", kIdx}, {"ldx", kIdx}, {"lds", kIdx},
    {"subb", kExt}, {"cmpb", kExt}, {"sbcb", kExt}, {"addd", kExt}, {"andb", kExt}, {"bitb", kExt},
    {"ldab", kExt}, {"tst", kExt}, {"eorb", kExt}, {"adcb", kExt}, {"orab", kExt}, {"addb", kExt},
    {"ldd", kExt}, {"ldy", kExt}, {"ldx", kExt}, {"lds", kExt},
};

// Page 2 ($18 prefix), $00-$3F; the rest are traps.
const Row kSecondPage[64] = {
    {"movw", kMove}, {"movw", kMove}, {"movw", kMove}, {"movw", kMove}, {"movw", kMove}, {"movw", kMove},
    {"aba", kInh}, {"daa", kInh}, {"movb", kMove}, {"movb", kMove}, {"movb", kMove}, {"movb", kMove},
    {"movb", kMove}, {"movb", kMove}, {"tab", kInh}, {"tba", kInh},
    {"idiv", kInh}, {"fdiv", kInh}, {"emacs", kExt}, {"emuls", kInh}, {"edivs", kInh}, {"idivs", kInh},
    {"sba", kInh}, {"cba", kInh}, {"maxa", kIdx}, {"mina", kIdx}, {"emaxd", kIdx}, {"emind", kIdx},
    {"maxm", kIdx}, {"minm", kIdx}, {"emaxm", kIdx}, {"eminm", kIdx},
    {"lbra", kRel16}, {"lbrn", kRel16}, {"lbhi", kRel16}, {"lbls", kRel16}, {"lbcc", kRel16}, {"lbcs", kRel16},
    {"lbne", kRel16}, {"lbeq", kRel16}, {"lbvc", kRel16}, {"lbvs", kRel16}, {"lbpl", kRel16}, {"lbmi", kRel16},
    {"lbge", kRel16}, {"lblt", kRel16}, {"lbgt", kRel16}, {"lble", kRel16},
    {"trap", kTrap}, {"trap", kTrap}, {"trap", kTrap}, {"trap", kTrap}, {"trap", kTrap}, {"trap", kTrap},
    {"trap", kTrap}, {"trap", kTrap}, {"trap", kTrap}, {"trap", kTrap}, {"rev", kInh}, {"revw", kInh},
    {"wav", kInh}, {"tbl", kIdx}, {"stop", kInh}, {"etbl", kIdx},
};

std::string Hex2(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "$%02X", v & 0xFF);
    return buf;
}
std::string Hex4(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "$%04X", v & 0xFFFF);
    return buf;
}

class Disassembler12 final : public Disassembler {
public:
    DecodedInstruction Decode(std::uint16_t address, const Reader& read) const override {
        std::uint16_t p = address;
        auto next = [&]() { return read(p++); };
        auto next16 = [&]() {
            const unsigned hi = next();
            return static_cast<std::uint16_t>(hi << 8 | next());
        };
        // An indexed operand in the assembler's syntax.
        auto indexed = [&]() -> std::string {
            static const char* const kReg[4] = {"x", "y", "sp", "pc"};
            const std::uint8_t xb = next();
            if (!(xb & 0x20)) {
                const int off = (xb & 0x10) ? (xb & 0x0F) - 16 : (xb & 0x0F);
                return std::to_string(off) + "," + kReg[xb >> 6];
            }
            if ((xb & 0xE0) != 0xE0) {
                const int n = xb & 0x0F;
                const int delta = n < 8 ? n + 1 : 16 - n;
                const char* sign = n < 8 ? "+" : "-";
                const std::string r = kReg[xb >> 6];
                return std::to_string(delta) + "," + ((xb & 0x10) ? r + sign : sign + r);
            }
            const char* r = kReg[(xb >> 3) & 3];
            switch (xb & 7) {
            case 0:
            case 1: {
                const std::uint8_t o = next();
                return std::to_string((xb & 1) ? o - 256 : o) + "," + r;
            }
            case 2: return Hex4(next16()) + "," + r;
            case 3: return "[" + Hex4(next16()) + "," + r + "]";
            case 4: return std::string("a,") + r;
            case 5: return std::string("b,") + r;
            case 6: return std::string("d,") + r;
            default: return std::string("[d,") + r + "]";
            }
        };
        auto rel8 = [&]() {
            const auto rel = static_cast<std::int8_t>(next());
            return Hex4(p + rel);
        };

        std::uint8_t op = next();
        Row row = kPage1[op];
        std::string text;
        if (row.mode == kPage2) {
            op = next();
            row = op < 64 ? kSecondPage[op] : Row{"trap", kTrap};
        }
        text = row.name;
        switch (row.mode) {
        case kInh: break;
        case kImm8: text += " #" + Hex2(next()); break;
        case kImm16: text += " #" + Hex4(next16()); break;
        case kDir: text += " " + Hex2(next()); break;
        case kExt: text += " " + Hex4(next16()); break;
        case kIdx: text += " " + indexed(); break;
        case kRel8: text += " " + rel8(); break;
        case kRel16: {
            const std::uint16_t rel = next16();
            text += " " + Hex4(p + rel);
            break;
        }
        case kLoop: {
            static const char* const kKinds[8] = {"dbeq", "dbne", "tbeq", "tbne", "ibeq", "ibne", "", ""};
            static const char* const kRegs[8] = {"a", "b", "?", "?", "d", "x", "y", "sp"};
            const std::uint8_t lb = next();
            const std::uint8_t rel = next();
            const int off = (lb & 0x10) ? rel - 256 : rel;
            if ((lb >> 5) > 5 || (lb & 7) == 2 || (lb & 7) == 3) {
                text = "db $04," + Hex2(lb) + "," + Hex2(rel);
                break;
            }
            text = std::string(kKinds[lb >> 5]) + " " + kRegs[lb & 7] + "," + Hex4(p + off);
            break;
        }
        case kBitDir: {
            const std::string ea = Hex2(next());
            text += " " + ea + ",#" + Hex2(next());
            break;
        }
        case kBitExt: {
            const std::string ea = Hex4(next16());
            text += " " + ea + ",#" + Hex2(next());
            break;
        }
        case kBitIdx: {
            const std::string ea = indexed();
            text += " " + ea + ",#" + Hex2(next());
            break;
        }
        case kBrDir:
        case kBrExt:
        case kBrIdx: {
            const std::string ea = row.mode == kBrDir ? Hex2(next()) : row.mode == kBrExt ? Hex4(next16()) : indexed();
            const std::string mask = Hex2(next());
            text += " " + ea + ",#" + mask + "," + rel8();
            break;
        }
        case kCallExt: {
            const std::string ea = Hex4(next16());
            text += " " + ea + "," + Hex2(next());
            break;
        }
        case kCallIdx: {
            const bool indirect = (read(p) & 0xE3) == 0xE3;
            text += " " + indexed();
            if (!indirect) text += "," + Hex2(next());
            break;
        }
        case kXfer: {
            static const char* const kRegs[8] = {"a", "b", "ccr", "tmp3", "d", "x", "y", "sp"};
            const std::uint8_t pb = next();
            const unsigned s = (pb >> 4) & 7, d = pb & 7;
            const char* name = (pb & 0x80) ? "exg" : (s < 3 && d >= 3) ? "sex" : "tfr";
            if ((pb & 0x80) || d != 3)
                text = std::string(name) + " " + kRegs[s] + "," + kRegs[d];
            else
                text = std::string(name) + " " + kRegs[s] + ",tmp2";
            break;
        }
        case kMove: {
            const bool word = op < 8;
            const unsigned kind = op & 7;
            auto imm = [&]() { return "#" + (word ? Hex4(next16()) : Hex2(next())); };
            std::string src, dst;
            switch (kind) {
            case 0: dst = indexed(); src = imm(); break;
            case 1: dst = indexed(); src = Hex4(next16()); break;
            case 2: src = indexed(); dst = indexed(); break;
            case 3: src = imm(); dst = Hex4(next16()); break;
            case 4: src = Hex4(next16()); dst = Hex4(next16()); break;
            default: src = indexed(); dst = Hex4(next16()); break;
            }
            text += " " + src + "," + dst;
            break;
        }
        case kTrap: text += " " + Hex2(op); break;
        default: break;
        }
        return {static_cast<std::uint8_t>(static_cast<std::uint16_t>(p - address)), text};
    }
};

} // namespace

std::unique_ptr<Disassembler> MakeDisassembler12() { return std::make_unique<Disassembler12>(); }

} // namespace qorb::sim
