#include "operand.h"

namespace qorb::hc12 {
namespace {

constexpr const char* kIndexNameList[] = {"x", "y", "sp", "pc", "pcr"};
constexpr const char* kAccumulatorNameList[] = {"a", "b", "d"};
constexpr WordSet kIndexNames = Words(kIndexNameList);
constexpr WordSet kAccumulatorNames = Words(kAccumulatorNameList);

bool Fits(std::int32_t v, std::int32_t lo, std::int32_t hi) { return v >= lo && v <= hi; }

// Step 10 of the parser: a plain address is direct unless it is known to
// need 16 bits or `>` asks for them.
void PlainAddress(Operand& op) {
    const bool wide = op.known && !Fits(op.value, 0, 255);
    op.mode = (op.forceLong || (wide && !op.forceShort)) ? kModeExtended : kModeDirect;
}

} // namespace

int MatchWord(Scanner& s, const WordSet& words) {
    // Register names have at most three letters: most operands are longer
    // words (symbols), which need not be read to their end.
    constexpr std::size_t kLongestName = 3;
    // Nor need most be read at all: no name starts with their first letter.
    const char first = chars::ToLower(s.At(0));
    if (first < 'a' || first > 'z' || !((words.initials >> (first - 'a')) & 1)) return -1;
    const char* const* names = words.names;
    const int count = words.count;
    int i = 0;
    while (i < count && names[i][0] != first) ++i;
    if (i == count) return -1;
    std::size_t len = 0;
    while (len <= kLongestName && chars::IsSymbolChar(s.At(len))) ++len;
    if (len == 0 || len > kLongestName) return -1;
    for (; i < count; ++i) {
        const char* n = names[i];
        std::size_t j = 0;
        while (j < len && n[j] != '\0' && chars::ToLower(s.At(j)) == n[j]) ++j;
        if (j == len && n[j] == '\0') {
            s.Advance(len);
            return i;
        }
    }
    return -1;
}

std::uint8_t ConstantPostbyte(unsigned mode, int reg, std::int32_t value) {
    const auto rr = static_cast<unsigned>(reg & 3);
    switch (mode) {
    case kModeIndexed9:
        return static_cast<std::uint8_t>(0xE0 + (rr << 3) + ((static_cast<std::uint32_t>(value) >> 8) & 1));
    case kModeIndexed16: return static_cast<std::uint8_t>(0xE2 + (rr << 3));
    case kModeIndirect16: return static_cast<std::uint8_t>(0xE3 + (rr << 3));
    default: return static_cast<std::uint8_t>((rr << 6) | (static_cast<std::uint32_t>(value) & 0x1F));
    }
}

namespace {

// The offset part: nothing before the comma (0), an accumulator, or an
// expression with an optional `<` or `>`.
bool ParseOffset(EncoderHost& host, Operand& op) {
    Scanner& s = host.Scan();
    op.offsetColumn = s.Pos();
    if (s.Cur() == ',') {
        op.value = 0;
        op.known = true;
    } else if (int acc = MatchWord(s, kAccumulatorNames); acc >= 0) {
        op.accumulator = acc;
    } else {
        if (s.Accept('<'))
            op.forceShort = true;
        else if (s.Accept('>'))
            op.forceLong = true;
        if (!host.EvaluateOperand(op.value, op.known)) return false;
    }
    return true;
}

// `[D,r]` or `[n,r]`; nothing else is indirect.
bool IndirectForm(EncoderHost& host, Operand& op) {
    Scanner& s = host.Scan();
    const auto rr = static_cast<unsigned>(op.reg);
    s.SkipBlanks();
    if (!s.Accept(']')) return host.Report(Msg::Missing, {"']'"});
    if (op.accumulator == 2 && !op.incDec) {
        op.mode = kModeIndirectD;
        op.postbyte = static_cast<std::uint8_t>(0xE7 + (rr << 3));
        return true;
    }
    if (op.accumulator >= 0 || op.incDec) {
        s.SetPos(op.column);
        return host.Report(Msg::IllegalAddressingMode, {});
    }
    op.mode = kModeIndirect16;
    op.postbyte = ConstantPostbyte(op.mode, op.reg, op.value);
    return true;
}

// Auto increment or decrement by 1..8. A PC-relative value has already
// become a distance, so its range says nothing: only the register counts.
bool AutoIncDec(EncoderHost& host, Operand& op, bool post, bool decrement, std::size_t regColumn) {
    Scanner& s = host.Scan();
    if (op.pcRelative) {
        s.SetPos(regColumn);
        return host.Report(Msg::PcIllegalForAutoIncDec, {});
    }
    if (op.known && !Fits(op.value, -8, -1) && !Fits(op.value, 1, 8)) {
        s.SetPos(op.offsetColumn);
        return host.Report(Msg::OffsetOutOfRange, {"[-8..-1, 1..8]"});
    }
    if (op.reg == kRegPC) {
        s.SetPos(regColumn);
        return host.Report(Msg::PcIllegalForAutoIncDec, {});
    }
    op.mode = kModeIndexed;
    std::int32_t amount = decrement ? -op.value : op.value;
    if (amount > 0) --amount;
    const auto rr = static_cast<unsigned>(op.reg);
    op.postbyte = static_cast<std::uint8_t>((rr << 6) | 0x20u | (post ? 0x10u : 0u) |
                                            (static_cast<std::uint32_t>(amount) & 0x0F));
    return true;
}

// After the register: a post increment or decrement, then the form the
// parts make (indirect, accumulator offset, constant offset, inc/dec).
bool IndexedForm(EncoderHost& host, Operand& op, bool indirect, bool pre, bool decrement,
                 std::size_t regColumn) {
    Scanner& s = host.Scan();
    bool post = false;
    if (!pre) {
        const std::size_t before = s.Pos();
        s.SkipBlanks();
        if (s.Cur() == '+' || s.Cur() == '-') {
            post = true;
            decrement = s.Cur() == '-';
            s.Advance();
        } else {
            s.SetPos(before);
        }
    }
    op.incDec = pre || post;
    const auto rr = static_cast<unsigned>(op.reg);
    if (indirect) return IndirectForm(host, op);
    if (op.accumulator >= 0) {
        if (op.incDec) {
            s.SetPos(op.column);
            return host.Report(Msg::IllegalAddressingMode, {});
        }
        op.mode = kModeIndexed;
        op.postbyte = static_cast<std::uint8_t>(0xE4 + (rr << 3) + static_cast<unsigned>(op.accumulator));
        return true;
    }
    if (op.incDec) return AutoIncDec(host, op, post, decrement, regColumn);
    if ((!op.known || Fits(op.value, -16, 15)) && !op.forceShort && !op.forceLong)
        op.mode = kModeIndexed;
    else if (op.forceLong || (op.known && !Fits(op.value, -256, 255) && !op.forceShort))
        op.mode = kModeIndexed16;
    else
        op.mode = kModeIndexed9;
    op.postbyte = ConstantPostbyte(op.mode, op.reg, op.value);
    return true;
}

} // namespace

// The steps: nothing (inherent); `#` immediate; `[`; the offset part; the
// comma (or a plain address); a pre increment or decrement; the register
// (PC-relative values become distances); the indexed form.
bool ParseOperand(EncoderHost& host, Operand& op, std::uint32_t placed) {
    Scanner& s = host.Scan();
    op = Operand{};
    if (!s.SkipBlanks()) {
        op.mode = kModeInherent;
        return true;
    }
    op.column = s.Pos();

    if (s.Accept('#')) {
        op.mode = kModeImm8;
        return host.EvaluateOperand(op.value, op.known);
    }

    const bool indirect = s.Accept('[');
    if (indirect) s.SkipBlanks();
    if (!ParseOffset(host, op)) return false;
    const std::size_t afterOffset = s.Pos();

    s.SkipBlanks();
    if (!s.Accept(',')) {
        if (!indirect && op.accumulator < 0) {
            s.SetPos(afterOffset);
            PlainAddress(op);
            return true;
        }
        host.Report(Msg::CommaExpected, {}); // comma expected; read on as if it were there
    }

    s.SkipBlanks();
    bool pre = false, decrement = false;
    if (s.Cur() == '+' || s.Cur() == '-') {
        pre = true;
        decrement = s.Cur() == '-';
        s.Advance();
        s.SkipBlanks();
    }

    const std::size_t regColumn = s.Pos();
    const int reg = MatchWord(s, kIndexNames);
    if (reg < 0) {
        s.SetPos(afterOffset);
        if (indirect || op.accumulator >= 0) {
            s.SkipBlanks();
            s.Accept(',');
            s.SkipBlanks();
            return host.Report(Msg::IndexRegisterExpected, {}); // X, Y, SP or PC expected
        }
        // A plain address; the comma belongs to the caller (bset addr,#mask).
        PlainAddress(op);
        return true;
    }
    op.reg = reg == 4 ? kRegPC : reg;
    if (reg == 4) {
        if (op.accumulator >= 0 || pre) {
            s.SetPos(regColumn);
            return host.Report(Msg::PcrNotAllowed, {}); // PCR not allowed here
        }
        op.pcRelative = true;
        if (op.known) {
            const std::uint32_t here =
                host.Location() + static_cast<std::uint32_t>(host.Code().count) + placed;
            op.value = static_cast<std::int32_t>(static_cast<std::uint32_t>(op.value) - here);
        }
    }

    return IndexedForm(host, op, indirect, pre, decrement, regColumn);
}

} // namespace qorb::hc12
