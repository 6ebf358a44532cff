#include "opcodes.h"

#include <algorithm>
#include <array>

#include "core/assembler.h"

namespace qorb::hc12 {
namespace {

// name, class, opcode, base cycles
constexpr OpcodeEntry kTable[] = {
    {"aba", 1, 0x1806, 2},
    {"abx", 1, 0x1AE5, 2},
    {"aby", 1, 0x19ED, 2},
    {"adca", 5, 0x89, 1},
    {"adcb", 5, 0xC9, 1},
    {"adda", 5, 0x8B, 1},
    {"addb", 5, 0xCB, 1},
    {"addd", 6, 0xC3, 1},
    {"anda", 5, 0x84, 1},
    {"andb", 5, 0xC4, 1},
    {"andcc", 2, 0x10, 1},
    {"asl", 7, 0x48, 1},
    {"asla", 1, 0x48, 1},
    {"aslb", 1, 0x58, 1},
    {"asld", 1, 0x59, 1},
    {"asr", 7, 0x47, 1},
    {"asra", 1, 0x47, 1},
    {"asrb", 1, 0x57, 1},
    {"bcc", 3, 0x24, 3},
    {"bclr", 9, 0x0D, 2},
    {"bcs", 3, 0x25, 3},
    {"beq", 3, 0x27, 3},
    {"bge", 3, 0x2C, 3},
    {"bgnd", 1, 0x00, 5},
    {"bgt", 3, 0x2E, 3},
    {"bhi", 3, 0x22, 3},
    {"bhs", 3, 0x24, 3},
    {"bita", 5, 0x85, 1},
    {"bitb", 5, 0xC5, 1},
    {"ble", 3, 0x2F, 3},
    {"blo", 3, 0x25, 3},
    {"bls", 3, 0x23, 3},
    {"blt", 3, 0x2D, 3},
    {"bmi", 3, 0x2B, 3},
    {"bne", 3, 0x26, 3},
    {"bpl", 3, 0x2A, 3},
    {"bra", 3, 0x20, 3},
    {"brclr", 10, 0x0F, 2},
    {"brn", 3, 0x21, 1},
    {"brset", 10, 0x0E, 2},
    {"bset", 9, 0x0C, 2},
    {"bsr", 3, 0x07, 4},
    {"bvc", 3, 0x28, 3},
    {"bvs", 3, 0x29, 3},
    {"call", 13, 0x4B, 6},
    {"cba", 1, 0x1817, 2},
    {"clc", 1, 0x10FE, 1},
    {"cli", 1, 0x10EF, 1},
    {"clr", 25, 0x49, 1},
    {"clra", 1, 0x87, 1},
    {"clrb", 1, 0xC7, 1},
    {"clv", 1, 0x10FD, 1},
    {"cmpa", 5, 0x81, 1},
    {"cmpb", 5, 0xC1, 1},
    {"com", 7, 0x41, 1},
    {"coma", 1, 0x41, 1},
    {"comb", 1, 0x51, 1},
    {"cpd", 6, 0x8C, 1},
    {"cps", 6, 0x8F, 1},
    {"cpx", 6, 0x8E, 1},
    {"cpy", 6, 0x8D, 1},
    {"daa", 1, 0x1807, 3},
    {"dbeq", 11, 0x0400, 3},
    {"dbne", 11, 0x0420, 3},
    {"dec", 7, 0x43, 1},
    {"deca", 1, 0x43, 1},
    {"decb", 1, 0x53, 1},
    {"des", 1, 0x1B9F, 2},
    {"dex", 1, 0x09, 1},
    {"dey", 1, 0x03, 1},
    {"ediv", 1, 0x11, 11},
    {"edivs", 1, 0x1814, 12},
    {"emacs", 22, 0x1812, 13},
    {"emaxd", 12, 0x181A, 2},
    {"emaxm", 12, 0x181E, 2},
    {"emind", 12, 0x181B, 2},
    {"eminm", 12, 0x181F, 2},
    {"emul", 1, 0x13, 3},
    {"emuls", 1, 0x1813, 3},
    {"eora", 5, 0x88, 1},
    {"eorb", 5, 0xC8, 1},
    {"etbl", 14, 0x183F, 8},
    {"exg", 18, 0xB7, 1},
    {"fdiv", 1, 0x1811, 12},
    {"ibeq", 11, 0x0480, 3},
    {"ibne", 11, 0x04A0, 3},
    {"idiv", 1, 0x1810, 12},
    {"idivs", 1, 0x1815, 12},
    {"inc", 7, 0x42, 1},
    {"inca", 1, 0x42, 1},
    {"incb", 1, 0x52, 1},
    {"ins", 1, 0x1B81, 2},
    {"inx", 1, 0x08, 1},
    {"iny", 1, 0x02, 1},
    {"jmp", 20, 0x05, 1},
    {"jsr", 21, 0x15, 2},
    {"lbcc", 4, 0x1824, 4},
    {"lbcs", 4, 0x1825, 4},
    {"lbeq", 4, 0x1827, 4},
    {"lbge", 4, 0x182C, 4},
    {"lbgt", 4, 0x182E, 4},
    {"lbhi", 4, 0x1822, 4},
    {"lbhs", 4, 0x1824, 4},
    {"lble", 4, 0x182F, 4},
    {"lblo", 4, 0x1825, 4},
    {"lbls", 4, 0x1823, 4},
    {"lblt", 4, 0x182D, 4},
    {"lbmi", 4, 0x182B, 4},
    {"lbne", 4, 0x1826, 4},
    {"lbpl", 4, 0x182A, 4},
    {"lbra", 4, 0x1820, 4},
    {"lbrn", 4, 0x1821, 3},
    {"lbvc", 4, 0x1828, 4},
    {"lbvs", 4, 0x1829, 4},
    {"lda", 5 | kNonStandard, 0x86, 1},
    {"ldaa", 5, 0x86, 1},
    {"ldab", 5, 0xC6, 1},
    {"ldb", 5 | kNonStandard, 0xC6, 1},
    {"ldd", 6, 0xCC, 1},
    {"lds", 6, 0xCF, 1},
    {"ldx", 6, 0xCE, 1},
    {"ldy", 6, 0xCD, 1},
    {"leas", 15, 0x1B, 0},
    {"leax", 15, 0x1A, 0},
    {"leay", 15, 0x19, 0},
    {"lsl", 7, 0x48, 1},
    {"lsla", 1, 0x48, 1},
    {"lslb", 1, 0x58, 1},
    {"lsld", 1, 0x59, 1},
    {"lsr", 7, 0x44, 1},
    {"lsra", 1, 0x44, 1},
    {"lsrb", 1, 0x54, 1},
    {"lsrd", 1, 0x49, 1},
    {"maxa", 12, 0x1818, 2},
    {"maxm", 12, 0x181C, 2},
    {"mem", 1, 0x01, 5},
    {"mina", 12, 0x1819, 2},
    {"minm", 12, 0x181D, 2},
    {"movb", 16, 0x1808, 4},
    {"movw", 24, 0x1800, 4},
    {"mul", 1, 0x12, 3},
    {"neg", 7, 0x40, 1},
    {"nega", 1, 0x40, 1},
    {"negb", 1, 0x50, 1},
    {"nop", 1, 0xA7, 1},
    {"oraa", 5, 0x8A, 1},
    {"orab", 5, 0xCA, 1},
    {"orcc", 2, 0x14, 1},
    {"psha", 1, 0x36, 2},
    {"pshb", 1, 0x37, 2},
    {"pshc", 1, 0x39, 2},
    {"pshd", 1, 0x3B, 2},
    {"pshx", 1, 0x34, 2},
    {"pshy", 1, 0x35, 2},
    {"pula", 1, 0x32, 3},
    {"pulb", 1, 0x33, 3},
    {"pulc", 1, 0x38, 3},
    {"puld", 1, 0x3A, 3},
    {"pulx", 1, 0x30, 3},
    {"puly", 1, 0x31, 3},
    {"rev", 1, 0x183A, 255},
    {"revw", 1, 0x183B, 255},
    {"rol", 7, 0x45, 1},
    {"rola", 1, 0x45, 1},
    {"rolb", 1, 0x55, 1},
    {"ror", 7, 0x46, 1},
    {"rora", 1, 0x46, 1},
    {"rorb", 1, 0x56, 1},
    {"rtc", 1, 0x0A, 6},
    {"rti", 1, 0x0B, 8},
    {"rts", 1, 0x3D, 5},
    {"sba", 1, 0x1816, 2},
    {"sbca", 5, 0x82, 1},
    {"sbcb", 5, 0xC2, 1},
    {"sec", 1, 0x1401, 1},
    {"sei", 1, 0x1410, 1},
    {"sev", 1, 0x1402, 1},
    {"sex", 19, 0xB7, 1},
    {"sta", 8 | kNonStandard, 0x4A, 1},
    {"staa", 8, 0x4A, 1},
    {"stab", 8, 0x4B, 1},
    {"stb", 8 | kNonStandard, 0x4B, 1},
    {"std", 8, 0x4C, 1},
    {"stop", 1, 0x183E, 255},
    {"sts", 8, 0x4F, 1},
    {"stx", 8, 0x4E, 1},
    {"sty", 8, 0x4D, 1},
    {"suba", 5, 0x80, 1},
    {"subb", 5, 0xC0, 1},
    {"subd", 6, 0x83, 1},
    {"swi", 1, 0x3F, 9},
    {"tab", 1, 0x180E, 2},
    {"tap", 1, 0xB702, 1},
    {"tba", 1, 0x180F, 2},
    {"tbeq", 11, 0x0440, 3},
    {"tbl", 14, 0x183D, 8},
    {"tbne", 11, 0x0460, 3},
    {"tfr", 17, 0xB7, 1},
    {"tpa", 1, 0xB720, 1},
    {"trap", 23, 0x18, 10},
    {"tst", 7, 0xC7, 1},
    {"tsta", 1, 0x97, 1},
    {"tstb", 1, 0xD7, 1},
    {"tsx", 1, 0xB775, 1},
    {"tsy", 1, 0xB776, 1},
    {"txs", 1, 0xB757, 1},
    {"tys", 1, 0xB767, 1},
    {"wai", 1, 0x3E, 255},
    {"wav", 1, 0x183C, 255},
    {"wavr", 1, 0x3C, 255},
    {"xgdx", 1, 0xB7C5, 1},
    {"xgdy", 1, 0xB7C6, 1},
};

static_assert(std::size(kTable) == 212);

} // namespace

std::span<const OpcodeEntry> OpcodeTable() { return kTable; }

const OpcodeEntry* LookupOpcode(std::string_view name) {
    constexpr std::size_t kMaxName = 256;
    if (name.empty() || name.size() > kMaxName) return nullptr;
    std::array<char, kMaxName> folded;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        folded[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    const std::string_view key(folded.data(), name.size());
    const auto* end = std::end(kTable);
    const auto* it = std::lower_bound(std::begin(kTable), end, key, [](const OpcodeEntry& e, std::string_view k) {
        return CompareTableName(e.name, k) < 0;
    });
    if (it == end || CompareTableName(it->name, key) != 0) return nullptr;
    return it;
}

TableFault ValidateTable(std::span<const OpcodeEntry> table, std::size_t* where) {
    for (std::size_t i = 0; i < table.size(); ++i) {
        const int cls = ClassOf(table[i]);
        if (cls < kInherent || cls > kClear) {
            if (where) *where = i;
            return TableFault::BadClass;
        }
        if (i > 0 && !(std::string_view(table[i - 1].name) < std::string_view(table[i].name))) {
            if (where) *where = i;
            return TableFault::OutOfOrder;
        }
    }
    return TableFault::None;
}

} // namespace qorb::hc12
