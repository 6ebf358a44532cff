#include "encoder.h"

#include "messages.h"
#include "operand.h"

namespace qorb::hc11 {
namespace {

// Reports at a given column and puts the scanner back, so that a warning does
// not disturb the parse of the rest of the line.
bool ReportAt(EncoderHost& host, std::size_t pos, Msg id, std::initializer_list<MsgArg> args = {}) {
    Scanner& s = host.Scan();
    std::size_t here = s.Pos();
    s.SetPos(pos);
    host.Report(id, args);
    s.SetPos(here);
    return false;
}

// Emission state of one instruction: the bytes go into the line code buffer
// in every pass (the sizes must match), range checks only in the final pass.
class Emitter {
public:
    explicit Emitter(EncoderHost& host) : host_(host), checks_(host.FinalPass() && !host.Screwed()) {}

    bool Checking() const { return checks_; }

    // True when a range check refuses the value. An ordinary pass makes no
    // checks but says that it met such a value: the bytes may differ there.
    bool Refuses(bool outOfRange) {
        if (!outOfRange) return false;
        if (!checks_) host_.RangeUnchecked();
        return checks_;
    }

    void Opcode(std::uint32_t opcode) {
        if (opcode > 0xFF) {
            host_.Code().Put16(static_cast<std::uint16_t>(opcode));
        } else {
            host_.Code().Put8(static_cast<std::uint8_t>(opcode));
        }
    }

    // An 8-bit address or unsigned offset: 0..255.
    void AddressByte(const Operand& op) {
        if (op.known && Refuses(op.value < 0 || op.value > 255)) {
            ReportAt(host_, op.start, Msg::AddressOutOfRangeTruncated, {"[0..255]"});
        }
        host_.Code().Put8(static_cast<std::uint8_t>(op.value));
    }

    void AddressWord(const Operand& op) {
        if (op.known && Refuses(op.value < 0 || op.value > 65535)) {
            ReportAt(host_, op.start, Msg::AddressOutOfRangeTruncated, {"[0..65535]"});
        }
        host_.Code().Put16(static_cast<std::uint16_t>(op.value));
    }

    // Immediate data names its nominal range but lets negative values pass.
    void ImmediateByte(const Operand& op) {
        if (op.known && Refuses(op.value < -256 || op.value > 255)) {
            ReportAt(host_, op.start, Msg::ValueOutOfRangeTruncated, {"[0..255]"});
        }
        host_.Code().Put8(static_cast<std::uint8_t>(op.value));
    }

    void ImmediateWord(const Operand& op) {
        if (op.known && Refuses(op.value < -65536 || op.value > 65535)) {
            ReportAt(host_, op.start, Msg::ValueOutOfRangeTruncated, {"[0..65535]"});
        }
        host_.Code().Put16(static_cast<std::uint16_t>(op.value));
    }

    // Relative offset of a branch whose next instruction starts at `next`.
    // An unresolved target gets the placeholder $FE (a branch to itself
    // when it is a two-byte branch); a distance out of range gets it too,
    // and an error.
    bool BranchOffset(const ExprResult& target, std::uint32_t next, std::size_t column) {
        std::int64_t distance = static_cast<std::int64_t>(target.value) - static_cast<std::int64_t>(next);
        if (!target.known) {
            host_.Code().Put8(0xFE);
            return true;
        }
        if (Refuses(distance < -128 || distance > 127)) {
            host_.Code().Put8(0xFE);
            return ReportAt(host_, column, msg::BranchOutOfRange, {"[-128..127]"});
        }
        host_.Code().Put8(static_cast<std::uint8_t>(distance));
        return true;
    }

private:
    EncoderHost& host_;
    bool checks_;
};

// Opcode and extra cycles of an indexed general instruction.
void IndexedOpcode(std::uint32_t opcode, std::uint32_t cls, unsigned mode, std::uint32_t& out, int& cycles) {
    if (const IndexedForm* e = FindIndexedForm(opcode)) {
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
    const std::uint32_t onX = opcode + OffsetsOf(static_cast<int>(cls)).indexedX;
    if (mode == kModeIndexedX) {
        out = onX;
        cycles = 2;
    } else {
        out = 0x1800 | (onX & 0xFF);
        cycles = 3;
    }
}

bool CheckOperandPresent(EncoderHost& host, const Operand& op) {
    if (op.mode == kModeInherent) return ReportAt(host, op.start, msg::InherentAddressingIllegal);
    return true;
}

// Classes 5, 6, 7, 8, 11, 12: one operand, the mode picks the opcode.
bool AssembleGeneral(EncoderHost& host, const OpcodeEntry& row, std::uint32_t cls) {
    Operand op;
    if (!ParseOperand(host, op)) return false;
    if (!CheckOperandPresent(host, op)) return false;

    bool takesImmediate = cls == kGeneral8 || cls == kGeneral16;
    if (op.mode == kModeImmediate8 && !takesImmediate)
        return ReportAt(host, op.start, msg::ImmediateAddressingIllegal);
    if (op.mode == kModeImmediate8 && cls == kGeneral16) op.mode = kModeImmediate16;
    // Read-modify-write and jmp have no direct form.
    if (op.mode == kModeDirect && (cls == kModify || cls == kJmp)) op.mode = kModeExtended;

    Emitter out(host);
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
        out.Opcode(row.opcode + OffsetsOf(static_cast<int>(cls)).direct);
        out.AddressByte(op);
        cycles += 1;
        break;
    case kModeExtended:
        out.Opcode(row.opcode + OffsetsOf(static_cast<int>(cls)).extended);
        out.AddressWord(op);
        cycles += 2;
        break;
    case kModeIndexedX:
    case kModeIndexedY: {
        std::uint32_t opcode = 0;
        int extra = 0;
        IndexedOpcode(row.opcode, cls, op.mode, opcode, extra);
        out.Opcode(opcode);
        out.AddressByte(op);
        cycles += extra;
        break;
    }
    default: return ReportAt(host, op.start, Msg::IllegalAddressingMode);
    }
    if (cls == kModify) cycles += 2;
    host.Code().cycles = cycles;
    return true;
}

// Classes 9 and 10: operand, mask and (class 10) branch target. The comma
// and the `#` before the mask may be left out.
bool AssembleBit(EncoderHost& host, const OpcodeEntry& row, std::uint32_t cls) {
    Scanner& s = host.Scan();
    Operand op;
    if (!ParseOperand(host, op)) return false;
    if (!CheckOperandPresent(host, op)) return false;
    if (op.mode == kModeImmediate8) return ReportAt(host, op.start, msg::ImmediateAddressingIllegal);
    // There is no extended form: a long address is cut to its low byte (with
    // the range warning of a direct address).
    if (op.mode == kModeExtended) op.mode = kModeDirect;

    s.SkipBlanks();
    s.Accept(',');
    s.SkipBlanks();
    s.Accept('#');
    if (!s.SkipBlanks()) return host.Report(Msg::Missing, {"mask"});
    ExprResult mask;
    if (!host.Evaluate(mask, false)) return false;

    ExprResult target;
    std::size_t targetPos = 0;
    if (cls == kBitBranch) {
        s.SkipBlanks();
        std::size_t sepPos = s.Pos();
        if (!s.Accept(',')) {
            if (s.AtStatementEnd()) return host.Report(Msg::Missing, {"target adress"});
            ReportAt(host, sepPos, Msg::CommaExpected);
        }
        if (!s.SkipBlanks()) return host.Report(Msg::Missing, {"target adress"});
        targetPos = s.Pos();
        if (!host.Evaluate(target, false)) return false;
    }

    Emitter out(host);
    std::uint32_t opcode = row.opcode;
    std::size_t length = 3;
    int cycles = static_cast<int>(row.cycles & 0xFF);
    const std::uint32_t indexedStep = OffsetsOf(static_cast<int>(cls)).indexedX;
    switch (op.mode) {
    case kModeDirect: cycles += 1; break;
    case kModeIndexedX:
        opcode += indexedStep;
        cycles += 2;
        break;
    case kModeIndexedY:
        opcode = 0x1800 | (opcode + indexedStep);
        length = 4;
        cycles += 3;
        break;
    default: return ReportAt(host, op.start, Msg::IllegalAddressingMode);
    }
    if (cls == kBitBranch) ++length;

    out.Opcode(opcode);
    out.AddressByte(op);
    host.Code().Put8(static_cast<std::uint8_t>(mask.value));
    host.Code().cycles = cycles;
    if (cls == kBitBranch) {
        return out.BranchOffset(target, host.InstructionStart() + static_cast<std::uint32_t>(length),
                                targetPos);
    }
    return true;
}

bool AssembleBranch(EncoderHost& host, const OpcodeEntry& row) {
    Scanner& s = host.Scan();
    s.SkipBlanks();
    std::size_t targetPos = s.Pos();
    ExprResult target;
    if (!host.Evaluate(target, false)) return false;
    host.SizeIgnoresValues();
    Emitter out(host);
    out.Opcode(row.opcode);
    host.Code().cycles = static_cast<int>(row.cycles & 0xFF);
    return out.BranchOffset(target, host.InstructionStart() + 2, targetPos);
}

bool AssembleInherent(EncoderHost& host, const OpcodeEntry& row) {
    Scanner& s = host.Scan();
    if (s.SkipBlanks()) {
        if (!host.Compat()) {
            host.Report(msg::InherentAddressingRequired, {});
            host.CompatModeNote();
            return false;
        }
        // Old sources put remarks right after the mnemonic: take the rest
        // of the line as a comment.
        host.Report(Msg::UnexpectedComment, {});
        s.SetPos(s.Length());
    }
    Emitter out(host);
    out.Opcode(row.opcode);
    host.Code().cycles = static_cast<int>(row.cycles & 0xFF);
    return true;
}

} // namespace

bool Assemble(EncoderHost& host, const OpcodeEntry& row) {
    std::uint32_t cls = row.cls & kClassMask;
    if (row.cls & kNonStandard) {
        // Point the warning at the mnemonic, which ends where the scanner stands.
        Scanner& s = host.Scan();
        std::size_t start = s.Pos();
        while (start > 0 && chars::IsSymbolChar(s.Line()[start - 1])) --start;
        ReportAt(host, start, Msg::NonStandardMnemonic);
    }

    switch (cls) {
    case kInherent: return AssembleInherent(host, row);
    case kBranch: return AssembleBranch(host, row);
    case kGeneral8:
    case kGeneral16:
    case kModify:
    case kStore:
    case kJmp:
    case kJsr: return AssembleGeneral(host, row, cls);
    case kBitSet:
    case kBitBranch: return AssembleBit(host, row, cls);
    default: return host.Report(Msg::OpcodeTableCorrupt, {});
    }
}

} // namespace qorb::hc11
