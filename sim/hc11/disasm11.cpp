// The 68HC11's instruction decoder for traces (a small table of its own for
// now, see core/disasm.h), in the assembler's operand syntax.

#include <cstdio>
#include <cstring>
#include <string>

#include "core/disasm.h"

namespace qorb::sim {

bool Hc11OpcodeLegal(int page, std::uint8_t op);

namespace {

enum Mode : std::uint8_t { kBad, kInh, kImm8, kImm16, kDir, kExt, kIdx, kRel, kBitDir, kBitIdx, kBrDir, kBrIdx };

struct Row {
    const char* name;
    Mode mode;
};

const Row kPage1[256] = {
    {"test", kBad}, {"nop", kInh}, {"idiv", kInh}, {"fdiv", kInh}, {"lsrd", kInh}, {"asld", kInh}, {"tap", kInh},
    {"tpa", kInh}, {"inx", kInh}, {"dex", kInh}, {"clv", kInh}, {"sev", kInh}, {"clc", kInh}, {"sec", kInh},
    {"cli", kInh}, {"sei", kInh},
    {"sba", kInh}, {"cba", kInh}, {"brset", kBrDir}, {"brclr", kBrDir}, {"bset", kBitDir}, {"bclr", kBitDir},
    {"tab", kInh}, {"tba", kInh}, {"", kBad}, {"daa", kInh}, {"", kBad}, {"aba", kInh}, {"bset", kBitIdx},
    {"bclr", kBitIdx}, {"brset", kBrIdx}, {"brclr", kBrIdx},
    {"bra", kRel}, {"brn", kRel}, {"bhi", kRel}, {"bls", kRel}, {"bcc", kRel}, {"bcs", kRel}, {"bne", kRel},
    {"beq", kRel}, {"bvc", kRel}, {"bvs", kRel}, {"bpl", kRel}, {"bmi", kRel}, {"bge", kRel}, {"blt", kRel},
    {"bgt", kRel}, {"ble", kRel},
    {"tsx", kInh}, {"ins", kInh}, {"pula", kInh}, {"pulb", kInh}, {"des", kInh}, {"txs", kInh}, {"psha", kInh},
    {"pshb", kInh}, {"pulx", kInh}, {"rts", kInh}, {"abx", kInh}, {"rti", kInh}, {"pshx", kInh}, {"mul", kInh},
    {"wai", kInh}, {"swi", kInh},
    {"nega", kInh}, {"", kBad}, {"", kBad}, {"coma", kInh}, {"lsra", kInh}, {"", kBad}, {"rora", kInh},
    {"asra", kInh}, {"asla", kInh}, {"rola", kInh}, {"deca", kInh}, {"", kBad}, {"inca", kInh}, {"tsta", kInh},
    {"", kBad}, {"clra", kInh},
    {"negb", kInh}, {"", kBad}, {"", kBad}, {"comb", kInh}, {"lsrb", kInh}, {"", kBad}, {"rorb", kInh},
    {"asrb", kInh}, {"aslb", kInh}, {"rolb", kInh}, {"decb", kInh}, {"", kBad}, {"incb", kInh}, {"tstb", kInh},
    {"", kBad}, {"clrb", kInh},
    {"neg", kIdx}, {"", kBad}, {"", kBad}, {"com", kIdx}, {"lsr", kIdx}, {"", kBad}, {"ror", kIdx}, {"asr", kIdx},
    {"asl", kIdx}, {"rol", kIdx}, {"dec", kIdx}, {"", kBad}, {"inc", kIdx}, {"tst", kIdx}, {"jmp", kIdx},
    {"clr", kIdx},
    {"neg", kExt}, {"", kBad}, {"", kBad}, {"com", kExt}, {"lsr", kExt}, {"", kBad}, {"ror", kExt}, {"asr", kExt},
    {"asl", kExt}, {"rol", kExt}, {"dec", kExt}, {"", kBad}, {"inc", kExt}, {"tst", kExt}, {"jmp", kExt},
    {"clr", kExt},
    {"suba", kImm8}, {"cmpa", kImm8}, {"sbca", kImm8}, {"subd", kImm16}, {"anda", kImm8}, {"bita", kImm8},
    {"ldaa", kImm8}, {"", kBad}, {"eora", kImm8}, {"adca", kImm8}, {"oraa", kImm8}, {"adda", kImm8},
    {"cpx", kImm16}, {"bsr", kRel}, {"lds", kImm16}, {"xgdx", kInh},
    {"suba", kDir}, {"cmpa", kDir}, {"sbca", kDir}, {"subd", kDir}, {"anda", kDir}, {"bita", kDir},
    {"ldaa", kDir}, {"staa", kDir}, {"eora", kDir}, {"adca", kDir}, {"oraa", kDir}, {"adda", kDir},
    {"cpx", kDir}, {"jsr", kDir}, {"lds", kDir}, {"sts", kDir},
    {"suba", kIdx}, {"cmpa", kIdx}, {"sbca", kIdx}, {"subd", kIdx}, {"anda", kIdx}, {"bita", kIdx},
    {"ldaa", kIdx}, {"staa", kIdx}, {"eora", kIdx}, {"adca", kIdx}, {"oraa", kIdx}, {"adda", kIdx},
    {"cpx", kIdx}, {"jsr", kIdx}, {"lds", kIdx}, {"sts", kIdx},
    {"suba", kExt}, {"cmpa", kExt}, {"sbca", kExt}, {"subd", kExt}, {"anda", kExt}, {"bita", kExt},
    {"ldaa", kExt}, {"staa", kExt}, {"eora", kExt}, {"adca", kExt}, {"oraa", kExt}, {"adda", kExt},
    {"cpx", kExt}, {"jsr", kExt}, {"lds", kExt}, {"sts", kExt},
    {"subb", kImm8}, {"cmpb", kImm8}, {"sbcb", kImm8}, {"addd", kImm16}, {"andb", kImm8}, {"bitb", kImm8},
    {"ldab", kImm8}, {"", kBad}, {"eorb", kImm8}, {"adcb", kImm8}, {"orab", kImm8}, {"addb", kImm8},
    {"ldd", kImm16}, {"", kBad}, {"ldx", kImm16}, {"stop", kInh},
    {"subb", kDir}, {"cmpb", kDir}, {"sbcb", kDir}, {"addd", kDir}, {"andb", kDir}, {"bitb", kDir},
    {"ldab", kDir}, {"stab", kDir}, {"eorb", kDir}, {"adcb", kDir}, {"orab", kDir}, {"addb", kDir},
    {"ldd", kDir}, {"std", kDir}, {"ldx", kDir}, {"stx", kDir},
    {"subb", kIdx}, {"cmpb", kIdx}, {"sbcb", kIdx}, {"addd", kIdx}, {"andb", kIdx}, {"bitb", kIdx},
    {"ldab", kIdx}, {"stab", kIdx}, {"eorb", kIdx}, {"adcb", kIdx}, {"orab", kIdx}, {"addb", kIdx},
    {"ldd", kIdx}, {"std", kIdx}, {"ldx", kIdx}, {"stx", kIdx},
    {"subb", kExt}, {"cmpb", kExt}, {"sbcb", kExt}, {"addd", kExt}, {"andb", kExt}, {"bitb", kExt},
    {"ldab", kExt}, {"stab", kExt}, {"eorb", kExt}, {"adcb", kExt}, {"orab", kExt}, {"addb", kExt},
    {"ldd", kExt}, {"std", kExt}, {"ldx", kExt}, {"stx", kExt},
};

// The X-register instructions behind the $18 prebyte name Y.
std::string ToY(const char* name) {
    static const char* const kPairs[][2] = {{"inx", "iny"}, {"dex", "dey"}, {"tsx", "tsy"},   {"txs", "tys"},
                                            {"pulx", "puly"}, {"abx", "aby"}, {"pshx", "pshy"}, {"cpx", "cpy"},
                                            {"xgdx", "xgdy"}, {"ldx", "ldy"}, {"stx", "sty"}};
    for (const auto& p : kPairs)
        if (std::strcmp(name, p[0]) == 0) return p[1];
    return name;
}

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

class Disassembler11 final : public Disassembler {
public:
    DecodedInstruction Decode(std::uint16_t address, const Reader& read) const override {
        std::uint16_t p = address;
        auto next = [&]() { return read(p++); };
        auto next16 = [&]() {
            const unsigned hi = next();
            return static_cast<std::uint16_t>(hi << 8 | next());
        };
        std::uint8_t op = next();
        int page = 1;
        if (op == 0x18 || op == 0x1A || op == 0xCD) {
            page = op == 0x18 ? 2 : op == 0x1A ? 3 : 4;
            op = next();
        }
        if (!Hc11OpcodeLegal(page, op)) {
            // The bytes up to the illegal opcode, as data.
            std::string text = "db " + Hex2(read(address));
            if (page != 1) text += "," + Hex2(op);
            return {static_cast<std::uint8_t>(p - address), text};
        }
        Row row = kPage1[op];
        std::string name = row.name;
        const char* ireg = (page == 2 || page == 4) ? "y" : "x";
        if (page == 2) name = ToY(row.name);
        if (page >= 3) {
            if ((op & 0x0F) == 3) name = "cpd";
            else if (op == 0xAC) name = page == 3 ? "cpy" : "cpx";
            else if (op == 0xEE) name = page == 3 ? "ldy" : "ldx";
            else if (op == 0xEF) name = page == 3 ? "sty" : "stx";
        }
        auto idx = [&]() { return std::to_string(next()) + "," + ireg; };
        auto rel = [&]() {
            const auto r = static_cast<std::int8_t>(next());
            return Hex4(p + r);
        };
        std::string text = name;
        switch (row.mode) {
        case kImm8: text += " #" + Hex2(next()); break;
        case kImm16: text += " #" + Hex4(next16()); break;
        case kDir: text += " " + Hex2(next()); break;
        case kExt: text += " " + Hex4(next16()); break;
        case kIdx: text += " " + idx(); break;
        case kRel: text += " " + rel(); break;
        case kBitDir: {
            const std::string ea = Hex2(next());
            text += " " + ea + ",#" + Hex2(next());
            break;
        }
        case kBitIdx: {
            const std::string ea = idx();
            text += " " + ea + ",#" + Hex2(next());
            break;
        }
        case kBrDir:
        case kBrIdx: {
            const std::string ea = row.mode == kBrDir ? Hex2(next()) : idx();
            const std::string mask = Hex2(next());
            text += " " + ea + ",#" + mask + "," + rel();
            break;
        }
        default: break;
        }
        return {static_cast<std::uint8_t>(p - address), text};
    }
};

} // namespace

std::unique_ptr<Disassembler> MakeDisassembler11() { return std::make_unique<Disassembler11>(); }

} // namespace qorb::sim
