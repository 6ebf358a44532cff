#include "opcodes.h"

#include <iterator>

namespace qorb::hc11 {
namespace {

constexpr std::uint32_t N = kNonStandard;

// Sorted by name in plain byte order: looked up by halving.
// clang-format off
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
// clang-format on

static_assert(std::size(kOpcodes) == 150, "145 standard mnemonics and 5 aliases");

// clang-format off
constexpr IndexedForm kIndexedForms[] = {
    {0x8C, 0, 0xCDAC, 0},          // cpx
    {0xCE, 0, 0xCDEE, 0},          // ldx
    {0xCF, 0, 0xCDEF, 0},          // stx
    {0x188C, 0x1AAC, 0x18AC, -1},  // cpy
    {0x18CE, 0x1AEE, 0x18EE, -1},  // ldy
    {0x18CF, 0x1AEF, 0x18EF, -1},  // sty
    {0x1A83, 0x1AA3, 0xCDA3, -1},  // cpd
};
// clang-format on

} // namespace

std::span<const OpcodeEntry> OpcodeTable() { return kOpcodes; }

const OpcodeEntry* LookupOpcode(std::string_view name) { return FindRow(kOpcodes, name, Folding::Lower); }

bool ValidClass(int cls) {
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
    case kJsr: return true;
    default: return false;
    }
}

TableFault ValidateTable(std::span<const OpcodeEntry> table, std::size_t* where) {
    return qorb::ValidateTable(table, ValidClass, where);
}

std::span<const IndexedForm> IndexedForms() { return kIndexedForms; }

const IndexedForm* FindIndexedForm(std::uint32_t opcode) {
    for (const IndexedForm& e : kIndexedForms)
        if (e.opcode == opcode) return &e;
    return nullptr;
}

} // namespace qorb::hc11
