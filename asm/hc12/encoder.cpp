#include "encoder.h"

#include "operand.h"

namespace qorb::hc12 {
namespace {

bool Fits(std::int32_t v, std::int32_t lo, std::int32_t hi) { return v >= lo && v <= hi; }

std::uint8_t Low8(std::int32_t v) { return static_cast<std::uint8_t>(static_cast<std::uint32_t>(v)); }
std::uint16_t Low16(std::int32_t v) { return static_cast<std::uint16_t>(static_cast<std::uint32_t>(v)); }
std::int32_t Sub(std::int32_t a, std::int64_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

// The state of one instruction being assembled.
struct Line {
    EncoderHost& host;
    const OpcodeEntry& row;
    Scanner& scan;
    LineCode& code;
    std::size_t firstByte; // code.count when the instruction began
    bool check;            // range checks: only the final pass, never when screwed
    int cycles = 0;        // additions to the row's base cycles

    Line(EncoderHost& h, const OpcodeEntry& r)
        : host(h), row(r), scan(h.Scan()), code(h.Code()), firstByte(h.Code().count),
          check(h.FinalPass() && !h.Screwed()) {}

    // True when a range check refuses the value. An ordinary pass makes no
    // checks but says that it met such a value: the bytes may differ there.
    bool Refuses(bool outOfRange) {
        if (!outOfRange) return false;
        if (!check) host.RangeUnchecked();
        return check;
    }

    // Address of the instruction's first byte, asked for only by the
    // instructions whose bytes depend on it.
    std::uint32_t Start() const { return host.InstructionStart() + static_cast<std::uint32_t>(firstByte); }

    std::uint32_t Placed() const { return static_cast<std::uint32_t>(code.count - firstByte); }

    // Reports with the column at `column` and puts the scan position back,
    // so that a warning does not disturb the rest of the line.
    bool ReportAt(std::size_t column, Msg id, std::initializer_list<MsgArg> args = {}) {
        const std::size_t keep = scan.Pos();
        scan.SetPos(column);
        host.Report(id, args);
        scan.SetPos(keep);
        return false;
    }

    void PutOpcode(std::uint32_t opcode) {
        if (OpcodeLength(opcode) == 2)
            code.Put16(static_cast<std::uint16_t>(opcode));
        else
            code.Put8(static_cast<std::uint8_t>(opcode));
    }

    // Range warning for a known value outside [lo, hi]; the value is then
    // truncated to its field by the caller.
    void Warn(const Operand& op, std::int32_t v, std::int32_t lo, std::int32_t hi, Msg id,
              const char* range) {
        if (op.known && Refuses(!Fits(v, lo, hi))) ReportAt(op.column, id, {range});
    }

    bool Finish(bool ok) {
        code.cycles = static_cast<int>(row.cycles & 0xFF) + cycles;
        return ok;
    }
};

void EmitImmediate8(Line& l, const Operand& op) {
    l.Warn(op, op.value, -256, 255, Msg::ValueOutOfRangeTruncated, "[0..255]");
    l.code.Put8(Low8(op.value));
}

void EmitImmediate16(Line& l, const Operand& op) {
    l.Warn(op, op.value, -65536, 65535, Msg::ValueOutOfRangeTruncated, "[0..65535]");
    l.code.Put16(Low16(op.value));
}

void EmitDirect(Line& l, const Operand& op) {
    l.Warn(op, op.value, 0, 255, Msg::AddressOutOfRangeTruncated, "[0..255]");
    l.code.Put8(Low8(op.value));
}

void EmitExtended(Line& l, const Operand& op) {
    l.Warn(op, op.value, 0, 65535, Msg::AddressOutOfRangeTruncated, "[0..65535]");
    l.code.Put16(Low16(op.value));
}

void EmitOffset16(Line& l, const Operand& op) {
    l.Warn(op, op.value, -65535, 65535, Msg::OffsetOutOfRangeTruncated, "[-65535..65535]");
    l.code.Put16(Low16(op.value));
}

// Postbyte and the offset bytes it announces.
void EmitIndexed(Line& l, const Operand& op) {
    l.code.Put8(op.postbyte);
    if (op.mode == kModeIndexed9)
        l.code.Put8(Low8(op.value));
    else if (op.mode == kModeIndexed16 || op.mode == kModeIndirect16)
        EmitOffset16(l, op);
}

// The bytes after the opcode for every mode, with the cycles each mode adds.
void EmitOperand(Line& l, const Operand& op) {
    switch (op.mode) {
    case kModeImm8: EmitImmediate8(l, op); break;
    case kModeImm16:
        EmitImmediate16(l, op);
        l.cycles += 1;
        break;
    case kModeDirect:
        EmitDirect(l, op);
        l.cycles += 2;
        break;
    case kModeExtended:
        EmitExtended(l, op);
        l.cycles += 2;
        break;
    case kModeIndexed:
    case kModeIndexed9:
        EmitIndexed(l, op);
        l.cycles += 2;
        break;
    case kModeIndexed16:
        EmitIndexed(l, op);
        l.cycles += 3;
        break;
    case kModeIndirectD:
    case kModeIndirect16:
        EmitIndexed(l, op);
        l.cycles += 5;
        break;
    default: break;
    }
}

// Turns a PC-relative value (already reduced by the instruction's address)
// into the distance the CPU adds, choosing the shortest form that holds it.
// k counts the operand bytes that follow the indexed operand.
void CompletePcRelative(Operand& op, int k) {
    if (!op.pcRelative || !op.known) return;
    if (op.mode == kModeIndirect16) {
        op.value = Sub(op.value, k + 4);
        return;
    }
    std::int32_t v = Sub(op.value, k + 2);
    if (Fits(v, -16, 15) && !op.forceShort && !op.forceLong) {
        op.mode = kModeIndexed;
    } else {
        v = Sub(v, 1);
        if (op.forceLong || (!Fits(v, -256, 255) && !op.forceShort)) {
            v = Sub(v, 1);
            op.mode = kModeIndexed16;
        } else {
            op.mode = kModeIndexed9;
        }
    }
    op.value = v;
    op.postbyte = ConstantPostbyte(op.mode, kRegPC, v);
}

// 8-bit branch offset of the short and bit branches; `length` is the
// instruction's full size.
bool EmitBranch8(Line& l, const ExprResult& target, std::size_t column, std::uint32_t length) {
    const std::int32_t d = Sub(target.value, static_cast<std::int64_t>(l.Start()) + length);
    if (!target.known) {
        l.code.Put8(0xFE);
    } else if (l.Refuses(!Fits(d, -128, 127))) {
        l.code.Put8(0xFE);
        return l.ReportAt(column, Msg::BranchOutOfRange, {"[-128..127]"});
    } else {
        l.code.Put8(Low8(d));
    }
    return true;
}

bool MissingOperandChecks(Line& l, const Operand& op, bool immediateAllowed) {
    if (op.mode == kModeInherent)
        return l.ReportAt(l.scan.Pos(), Msg::InherentAddressingIllegal); // inherent addressing illegal
    if (!immediateAllowed && op.mode == kModeImm8)
        return l.ReportAt(op.column, Msg::ImmediateAddressingIllegal);
    return true;
}

// --- class handlers ---------------------------------------------------

bool Inherent(Line& l) {
    if (l.scan.SkipBlanks()) {
        if (!l.host.Compat()) {
            l.ReportAt(l.scan.Pos(), Msg::InherentAddressingRequired); // inherent addressing required
            l.host.CompatModeNote();
            return false;
        }
        l.ReportAt(l.scan.Pos(), Msg::UnexpectedComment); // unexpected comment
        l.scan.SetPos(l.scan.Length());
    }
    l.PutOpcode(l.row.opcode);
    return l.Finish(true);
}

// Classes 2, 5, 6, 7, 8 and 25: the mode adds to the row's opcode.
bool General(Line& l, int cls) {
    Operand op;
    if (!ParseOperand(l.host, op, 0)) return false;
    switch (cls) {
    case kImmediateOnly:
        if (op.mode != kModeImm8)
            return l.ReportAt(op.mode == kModeInherent ? l.scan.Pos() : op.column,
                              Msg::ImmediateAddressingRequired);
        break;
    case kGeneral8:
    case kGeneral16:
        if (!MissingOperandChecks(l, op, true)) return false;
        if (cls == kGeneral16 && op.mode == kModeImm8) op.mode = kModeImm16;
        break;
    case kReadModifyWrite:
    case kClear:
    case kStore:
        if (!MissingOperandChecks(l, op, false)) return false;
        if (cls != kStore && op.mode == kModeDirect) op.mode = kModeExtended;
        break;
    default: return l.ReportAt(op.column, Msg::IllegalAddressingMode);
    }
    CompletePcRelative(op, 0);

    const ModeOffsets add = OffsetsOf(cls);
    std::uint32_t opcode = l.row.opcode;
    if (op.mode == kModeDirect)
        opcode += add.direct;
    else if (op.mode == kModeExtended)
        opcode += add.extended;
    else if (op.IsIndexed())
        opcode += add.indexed;
    l.PutOpcode(opcode);
    EmitOperand(l, op);

    const unsigned m = op.mode;
    if (cls == kReadModifyWrite && (m & (kModeExtended | kModeIndexed9 | kModeIndexed16))) l.cycles += 1;
    if (cls == kStore &&
        (m & (kModeDirect | kModeIndexed | kModeIndexed16 | kModeIndirectD | kModeIndirect16)))
        l.cycles -= 1;
    if (cls == kClear && (m & (kModeIndexed | kModeIndexed16 | kModeIndirectD | kModeIndirect16)))
        l.cycles -= 1;
    return l.Finish(true);
}

// bset/bclr (9) and brset/brclr (10).
bool BitInstruction(Line& l, int cls) {
    Operand op;
    if (!ParseOperand(l.host, op, 0)) return false;
    if (!MissingOperandChecks(l, op, false)) return false;
    if (op.mode & kModesIndirect)
        return l.ReportAt(op.column,
                          Msg::IndexedIndirectAddressingIllegal); // indexed indirect addressing illegal

    Scanner& s = l.scan;
    s.SkipBlanks();
    s.Accept(',');
    s.SkipBlanks();
    s.Accept('#');
    if (!s.SkipBlanks()) return l.ReportAt(s.Pos(), Msg::Missing, {"mask"});
    ExprResult mask;
    if (!l.host.Evaluate(mask, false)) return false;

    ExprResult target;
    std::size_t targetColumn = 0;
    if (cls == kBitBranch) {
        if (!s.SkipBlanks()) return l.ReportAt(s.Pos(), Msg::Missing, {"target adress"});
        if (!s.Accept(',')) l.ReportAt(s.Pos(), Msg::CommaExpected);
        s.SkipBlanks();
        targetColumn = s.Pos();
        if (!l.host.Evaluate(target, false)) return false;
    }

    CompletePcRelative(op, cls == kBitBranch ? 2 : 1);
    const ModeOffsets add = OffsetsOf(cls);
    std::uint32_t opcode = l.row.opcode;
    if (op.mode == kModeDirect)
        opcode += add.direct;
    else if (op.mode == kModeExtended)
        opcode += add.extended;
    l.PutOpcode(opcode);
    EmitOperand(l, op);
    l.code.Put8(Low8(mask.value));

    bool ok = true;
    if (cls == kBitBranch) {
        ok = EmitBranch8(l, target, targetColumn, l.Placed() + 1);
        if (op.mode == kModeExtended) l.cycles += 1;
        if (op.mode == kModeIndexed9) l.cycles += 2;
        if (op.mode == kModeIndexed16) l.cycles += 3;
    } else if (op.mode == kModeIndexed16) {
        l.cycles += 1;
    }
    return l.Finish(ok);
}

// Classes 12, 13, 14, 15, 20 and 21: one operand, the class picks the opcode.
bool ClassOpcode(Line& l, int cls) {
    // A two-byte opcode's prefix counts as placed before the operand for
    // PC-relative distances.
    const std::uint32_t placed = (cls == kIndexedOnly || cls == kTableLookup) ? 1 : 0;
    Operand op;
    if (!ParseOperand(l.host, op, placed)) return false;
    CompletePcRelative(op, 0);

    switch (cls) {
    case kIndexedOnly:
        if (!MissingOperandChecks(l, op, false)) return false;
        if (op.mode & (kModeDirect | kModeExtended))
            return l.ReportAt(op.column, Msg::DirectExtendedAddressingIllegal);
        break;
    case kTableLookup:
    case kLoadAddress:
        if (cls == kTableLookup ? op.mode != kModeIndexed
                                : !(op.mode & (kModeIndexed | kModeIndexed9 | kModeIndexed16)))
            return l.ReportAt(op.mode == kModeInherent ? l.scan.Pos() : op.column,
                              Msg::IndexedAddressingRequired);
        break;
    default:
        if (!MissingOperandChecks(l, op, false)) return false;
        break;
    }

    ExprResult page;
    if (cls == kCall && !(op.mode & kModesIndirect)) {
        Scanner& s = l.scan;
        const std::size_t before = s.Pos();
        if (s.SkipBlanks()) {
            s.Accept(',');
            if (!l.host.Evaluate(page, false)) return false;
        } else {
            s.SetPos(before);
        }
    }

    const bool absolute = (op.mode & (kModeDirect | kModeExtended)) != 0;
    const ModeOffsets add = OffsetsOf(cls);
    switch (cls) {
    case kIndexedOnly:
        l.PutOpcode(l.row.opcode);
        EmitOperand(l, op);
        if (op.mode & (kModeIndexed9 | kModeIndexed16)) l.cycles += 1;
        break;
    case kCall:
        if (absolute) {
            l.PutOpcode(l.row.opcode + add.extended);
            op.mode = kModeExtended;
        } else {
            l.PutOpcode(l.row.opcode + add.indexed);
        }
        EmitOperand(l, op);
        if (op.mode & kModesIndirect)
            l.cycles -= 1;
        else
            l.code.Put8(Low8(page.value));
        break;
    case kTableLookup:
        l.PutOpcode(l.row.opcode);
        EmitOperand(l, op);
        break;
    case kLoadAddress:
        l.PutOpcode(l.row.opcode);
        EmitOperand(l, op);
        if (op.mode == kModeIndexed16) l.cycles -= 1;
        break;
    case kJump:
        if (absolute) {
            l.PutOpcode(l.row.opcode + add.extended);
            op.mode = kModeExtended;
        } else {
            l.PutOpcode(l.row.opcode + add.indexed);
        }
        EmitOperand(l, op);
        break;
    case kJumpSubroutine:
        l.PutOpcode(l.row.opcode + (op.mode == kModeDirect     ? add.direct
                                    : op.mode == kModeExtended ? add.extended
                                                               : add.indexed));
        EmitOperand(l, op);
        break;
    default: return l.ReportAt(op.column, Msg::IllegalAddressingMode);
    }
    return l.Finish(true);
}

bool Branch(Line& l, int cls) {
    l.scan.SkipBlanks();
    const std::size_t column = l.scan.Pos();
    ExprResult target;
    if (!l.host.Evaluate(target, false)) return false;
    l.host.SizeIgnoresValues();
    if (cls == kBranch8) {
        l.PutOpcode(l.row.opcode);
        return l.Finish(EmitBranch8(l, target, column, 2));
    }
    l.PutOpcode(l.row.opcode);
    const std::int32_t d = Sub(target.value, static_cast<std::int64_t>(l.Start()) + 4);
    bool ok = true;
    if (!target.known) {
        l.code.Put16(0xFFFE);
    } else if (l.Refuses(!Fits(d, -65535, 65535))) {
        l.code.Put16(0xFFFE);
        ok = l.ReportAt(column, Msg::BranchOutOfRange, {"[-65535..65535]"});
    } else {
        l.code.Put16(Low16(d));
    }
    return l.Finish(ok);
}

bool Loop(Line& l) {
    static constexpr const char* kNameList[] = {"a", "b", "", "", "d", "x", "y", "sp"};
    static constexpr WordSet kNames = Words(kNameList);
    Scanner& s = l.scan;
    s.SkipBlanks();
    const std::size_t regColumn = s.Pos();
    const int reg = MatchWord(s, kNames);
    if (reg < 0) return l.ReportAt(regColumn, Msg::LoopRegisterExpected); // A, B, D, X, Y or SP expected
    s.SkipBlanks();
    s.Accept(',');
    if (!s.SkipBlanks()) return l.ReportAt(s.Pos(), Msg::Missing, {"target address"});
    const std::size_t column = s.Pos();
    ExprResult target;
    if (!l.host.Evaluate(target, false)) return false;
    l.host.SizeIgnoresValues();

    const std::int32_t d = Sub(target.value, static_cast<std::int64_t>(l.Start()) + 3);
    auto postbyte = static_cast<std::uint8_t>((l.row.opcode & 0xFF) | static_cast<unsigned>(reg));
    bool ok = true;
    std::uint8_t offset = 0xFE;
    if (!target.known) {
        postbyte |= 0x10;
    } else if (l.Refuses(!Fits(d, -256, 255))) {
        postbyte |= 0x10;
        ok = false;
    } else {
        if (d < 0) postbyte |= 0x10;
        offset = Low8(d);
    }
    l.code.Put8(static_cast<std::uint8_t>(l.row.opcode >> 8));
    l.code.Put8(postbyte);
    l.code.Put8(offset);
    if (!ok) l.ReportAt(column, Msg::BranchOutOfRange, {"[-256..255]"});
    return l.Finish(ok);
}

bool Transfer(Line& l, int cls) {
    static constexpr const char* kNameList[] = {"a", "b", "ccr", "", "d", "x", "y", "sp"};
    static constexpr WordSet kNames = Words(kNameList);
    Scanner& s = l.scan;
    if (!s.SkipBlanks()) return l.ReportAt(s.Pos(), Msg::InherentAddressingIllegal);
    int regs[2];
    for (int i = 0; i < 2; ++i) {
        if (i == 1) {
            s.SkipBlanks();
            s.Accept(',');
            s.SkipBlanks();
        }
        const std::size_t column = s.Pos();
        regs[i] = MatchWord(s, kNames);
        if (regs[i] < 0)
            return l.ReportAt(column, Msg::TransferRegisterExpected); // A, B, CCR, D, X, Y or SP expected
    }
    l.PutOpcode(l.row.opcode);
    l.code.Put8(static_cast<std::uint8_t>((cls == kExchange ? 0x80 : 0) | (regs[0] << 4) | regs[1]));
    return l.Finish(true);
}

bool Emacs(Line& l) {
    l.scan.SkipBlanks();
    ExprResult address;
    if (!l.host.Evaluate(address, false)) return false;
    l.PutOpcode(l.row.opcode);
    l.code.Put16(Low16(address.value));
    return l.Finish(true);
}

bool Trap(Line& l) {
    l.scan.SkipBlanks();
    const std::size_t column = l.scan.Pos();
    ExprResult number;
    if (!l.host.Evaluate(number, false)) return false;
    if ((number.known && number.value < 0x30) || number.value > 255)
        return l.ReportAt(column, Msg::ValueOutOfRange, {"[$30..$ff]"}); // value out of range
    l.PutOpcode(l.row.opcode);
    l.code.Put8(Low8(number.value));
    return l.Finish(true);
}

// --- moves -----------------------------------------------------------

// Prepares an indexed move operand. The moves of the original CPU only have
// room for 5-bit offsets: the operand is re-encoded in that form. PC offsets
// are corrected by m for the way the CPU counts them in moves. With -hcs the
// operand keeps its form and its offset bytes follow the postbyte (see
// CompleteHcsMove for PC-relative operands).
// Returns false when a known offset does not fit (the caller reports it after
// placing the bytes, so that every pass places the same number).
bool PrepareMoveOperand(Line& l, Operand& op, int k, int m) {
    if (!op.IsConstantOffset() || l.host.Hcs()) return true;
    std::int32_t v = op.known ? op.value : 0;
    if (op.known && op.pcRelative) v = Sub(v, k + 2);
    if (op.known && op.reg == kRegPC) v = Sub(v, m);
    const bool fits = !op.known || Fits(v, -16, 15);
    op.mode = kModeIndexed;
    op.value = v;
    op.postbyte = ConstantPostbyte(kModeIndexed, op.reg, v);
    return fits;
}

void EmitMoveIndexed(Line& l, const Operand& op) { EmitIndexed(l, op); }

int MoveOperandBytes(const Operand& op, bool word) {
    switch (op.mode) {
    case kModeImm8: return word ? 2 : 1;
    case kModeExtended: return 2;
    case kModeIndexed9: return 2;
    case kModeIndexed16: return 3;
    default: return 1;
    }
}

// With -hcs a move operand may carry offset bytes, so a PC-relative distance
// depends on the forms of both operands: it is counted from the end of the
// instruction. With only 5-bit operands this is the same distance as for the
// original CPU before its count correction. The forms are settled by a few
// rounds; the outcome depends only on the values, so every pass agrees.
void CompleteHcsMove(Operand& src, Operand& dst, bool word) {
    Operand* ops[2] = {&src, &dst};
    const std::int32_t raw[2] = {src.value, dst.value};
    bool relative[2];
    for (int i = 0; i < 2; ++i) {
        Operand& op = *ops[i];
        relative[i] = op.pcRelative && op.known && op.IsConstantOffset();
        if (relative[i]) op.mode = kModeIndexed;
    }
    for (int round = 0; round < 4; ++round) {
        bool changed = false;
        for (int i = 0; i < 2; ++i) {
            if (!relative[i]) continue;
            Operand trial = *ops[i];
            trial.value = raw[i];
            // opcode, the other operand, and this operand's postbyte
            const int others = 2 + MoveOperandBytes(*ops[1 - i], word);
            CompletePcRelative(trial, others - 1);
            changed = changed || trial.mode != ops[i]->mode || trial.value != ops[i]->value;
            *ops[i] = trial;
        }
        if (!changed) break;
    }
}

bool Move(Line& l, bool word) {
    Scanner& s = l.scan;
    Operand src, dst;
    if (!ParseOperand(l.host, src, 0)) return false;
    if (src.mode == kModeInherent) return l.ReportAt(s.Pos(), Msg::InherentAddressingIllegal);
    s.SkipBlanks();
    s.Accept(',');
    if (!ParseOperand(l.host, dst, 0)) return false;
    if (dst.mode == kModeInherent) return l.ReportAt(s.Pos(), Msg::Missing, {"destination"});

    if (src.mode == kModeDirect) src.mode = kModeExtended;
    if (dst.mode == kModeDirect) dst.mode = kModeExtended;
    const unsigned plainIndexed = kModeIndexed | kModeIndexed9 | kModeIndexed16;
    const bool srcImm = src.mode == kModeImm8, srcExt = src.mode == kModeExtended,
               srcIdx = (src.mode & plainIndexed) != 0;
    const bool dstExt = dst.mode == kModeExtended, dstIdx = (dst.mode & plainIndexed) != 0;
    if (!(srcImm || srcExt || srcIdx) || !(dstExt || dstIdx))
        return l.ReportAt(src.column,
                          Msg::AddressingModesCombinationIllegal); // combination of adressing modes illegal

    bool srcFits = true, dstFits = true;
    std::uint32_t form;
    if (srcImm && dstIdx) {
        form = 0;
        dstFits = PrepareMoveOperand(l, dst, word ? 3 : 2, word ? 2 : 1);
    } else if (srcExt && dstIdx) {
        form = 1;
        dstFits = PrepareMoveOperand(l, dst, 3, 2);
        l.cycles += 1;
    } else if (srcIdx && dstIdx) {
        form = 2;
        srcFits = PrepareMoveOperand(l, src, 2, -1);
        dstFits = PrepareMoveOperand(l, dst, 2, 1);
        l.cycles += 1;
    } else if (srcImm && dstExt) {
        form = 3;
        if (word) l.cycles += 1;
    } else if (srcExt && dstExt) {
        form = 4;
        l.cycles += 2;
    } else {
        form = 5;
        srcFits = PrepareMoveOperand(l, src, 3, -2);
        l.cycles += 1;
    }

    if (l.host.Hcs()) CompleteHcsMove(src, dst, word);
    l.PutOpcode(l.row.opcode + form);
    auto immediate = [&](const Operand& op) { word ? EmitImmediate16(l, op) : EmitImmediate8(l, op); };
    switch (form) {
    case 0:
        EmitMoveIndexed(l, dst);
        immediate(src);
        break;
    case 1:
        EmitMoveIndexed(l, dst);
        EmitExtended(l, src);
        break;
    case 2:
        EmitMoveIndexed(l, src);
        EmitMoveIndexed(l, dst);
        break;
    case 3:
        immediate(src);
        EmitExtended(l, dst);
        break;
    case 4:
        EmitExtended(l, src);
        EmitExtended(l, dst);
        break;
    default:
        EmitMoveIndexed(l, src);
        EmitExtended(l, dst);
        break;
    }
    if (l.Refuses(!srcFits || !dstFits)) {
        l.ReportAt(srcFits ? dst.offsetColumn : src.offsetColumn, Msg::OffsetOutOfRange, {"[-16..15]"});
        return l.Finish(false);
    }
    return l.Finish(true);
}

} // namespace

bool Assemble(EncoderHost& host, const OpcodeEntry& row) {
    Line l(host, row);
    if (IsNonStandard(row)) {
        const std::size_t len = std::string_view(row.name).size();
        l.ReportAt(l.scan.Pos() >= len ? l.scan.Pos() - len : 0,
                   Msg::NonStandardMnemonic); // non-standart mnemonic
    }
    const int cls = ClassOf(row);
    switch (cls) {
    case kInherent: return Inherent(l);
    case kImmediateOnly:
    case kGeneral8:
    case kGeneral16:
    case kReadModifyWrite:
    case kStore:
    case kClear: return General(l, cls);
    case kBranch8:
    case kBranch16: return Branch(l, cls);
    case kBitSetClear:
    case kBitBranch: return BitInstruction(l, cls);
    case kLoop: return Loop(l);
    case kIndexedOnly:
    case kCall:
    case kTableLookup:
    case kLoadAddress:
    case kJump:
    case kJumpSubroutine: return ClassOpcode(l, cls);
    case kMoveByte: return Move(l, false);
    case kMoveWord: return Move(l, true);
    case kTransfer:
    case kExchange:
    case kSignExtend: return Transfer(l, cls);
    case kEmacs: return Emacs(l);
    case kTrap: return Trap(l);
    default: return host.Report(Msg::IllegalAddressingMode, {});
    }
}

} // namespace qorb::hc12
