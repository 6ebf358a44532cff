// The CPU12's instruction decoder for traces and the debugger. Names,
// opcodes and classes come from the assembler's own table: at start-up every
// row is turned into its forms (the class's mode offsets), and the forms are
// filed by opcode. The operand text is the assembler's syntax, so that a
// decoded line assembles to the same bytes.

#include <cstdio>
#include <string>

#include "core/disasm.h"
#include "core/hex.h"
#include "hc12/opcodes.h"

namespace qorb::sim {
namespace {

namespace t = qorb::hc12;

// How the bytes after an opcode read; the class says which layout its forms
// take, the mode offsets which opcode each has.
enum Layout : std::uint8_t {
    kNone,
    kInh,
    kImm8,
    kImm16,
    kDir,
    kExt,
    kIdx,
    kRel8,
    kRel16,
    kLoop,
    kBitDir,
    kBitExt,
    kBitIdx,
    kBrDir,
    kBrExt,
    kBrIdx,
    kCallExt,
    kCallIdx,
    kXfer,
    kMove,
    kTrap
};

struct Form {
    const OpcodeEntry* row = nullptr;
    Layout layout = kNone;
};

// Page 1 by opcode, and the $18 page by its second byte.
struct DecodeIndex {
    Form page[2][256];
    // The loop primitives by the kind bits of their postbyte, and the
    // register transfers by their class.
    const OpcodeEntry* loop[8] = {};
    const OpcodeEntry* transfer = nullptr;
    const OpcodeEntry* exchange = nullptr;
    const OpcodeEntry* signExtend = nullptr;

    // The first row to claim an opcode keeps it: the table is sorted by
    // name, so of two spellings (asl, lsl; bcc, bhs) the first stays.
    void File(std::uint32_t opcode, const OpcodeEntry& row, Layout layout) {
        Form* slot = nullptr;
        if (OpcodeLength(opcode) == 1)
            slot = &page[0][opcode & 0xFF];
        else if ((opcode >> 8) == 0x18)
            slot = &page[1][opcode & 0xFF];
        if (slot && !slot->row) *slot = Form{&row, layout};
    }

    void FileModes(const OpcodeEntry& row, Layout imm, Layout dir, Layout ext, Layout idx) {
        const t::ModeOffsets m = t::OffsetsOf(ClassOf(row));
        auto put = [&](int offset, Layout layout) {
            if (offset != t::kNoForm)
                File(static_cast<std::uint32_t>(static_cast<int>(row.opcode) + offset), row, layout);
        };
        put(m.immediate, imm);
        put(m.direct, dir);
        put(m.extended, ext);
        put(m.indexed, idx);
    }

    DecodeIndex() {
        for (const OpcodeEntry& row : t::OpcodeTable()) {
            // Aliases other assemblers lack never name a decoded opcode.
            if (IsNonStandard(row)) continue;
            switch (ClassOf(row)) {
            case t::kInherent:
                // Two-byte rows outside the $18 page (clc, tfr forms, leas
                // forms) are spellings of another instruction's operand:
                // File() leaves them to that instruction.
                File(row.opcode, row, kInh);
                break;
            case t::kImmediateOnly: FileModes(row, kImm8, kNone, kNone, kNone); break;
            case t::kGeneral8: FileModes(row, kImm8, kDir, kExt, kIdx); break;
            case t::kGeneral16: FileModes(row, kImm16, kDir, kExt, kIdx); break;
            case t::kReadModifyWrite:
            case t::kClear:
            case t::kStore:
            case t::kJump:
            case t::kJumpSubroutine:
            case t::kIndexedOnly:
            case t::kTableLookup:
            case t::kLoadAddress:
            case t::kEmacs: FileModes(row, kNone, kDir, kExt, kIdx); break;
            case t::kCall: FileModes(row, kNone, kNone, kCallExt, kCallIdx); break;
            case t::kBitSetClear: FileModes(row, kNone, kBitDir, kBitExt, kBitIdx); break;
            case t::kBitBranch: FileModes(row, kNone, kBrDir, kBrExt, kBrIdx); break;
            case t::kBranch8: File(row.opcode, row, kRel8); break;
            case t::kBranch16: File(row.opcode, row, kRel16); break;
            case t::kLoop:
                loop[(row.opcode >> 5) & 7] = &row;
                File(row.opcode >> 8, row, kLoop);
                break;
            case t::kTransfer:
                transfer = &row;
                File(row.opcode, row, kXfer);
                break;
            case t::kExchange: exchange = &row; break;
            case t::kSignExtend: signExtend = &row; break;
            case t::kMoveByte:
            case t::kMoveWord:
                for (std::uint32_t form = 0; form < 6; ++form) File(row.opcode + form, row, kMove);
                break;
            case t::kTrap: break;
            default: break;
            }
        }
        // What the $18 page leaves over traps.
        const OpcodeEntry* trap = t::LookupOpcode("trap");
        for (Form& f : page[1])
            if (!f.row && trap) f = Form{trap, kTrap};
    }
};

const DecodeIndex& Index() {
    static const DecodeIndex index;
    return index;
}

class Disassembler12 final : public Disassembler {
public:
    DecodedInstruction Decode(std::uint16_t address, const Reader& read) const override {
        const DecodeIndex& index = Index();
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
        Form form = index.page[0][op];
        if (op == 0x18) {
            op = next();
            form = index.page[1][op];
        }
        if (!form.row) return {static_cast<std::uint8_t>(p - address), "db " + Hex2(op)};
        std::string text = form.row->name;
        switch (form.layout) {
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
            static const char* const kRegs[8] = {"a", "b", "?", "?", "d", "x", "y", "sp"};
            const std::uint8_t lb = next();
            const std::uint8_t rel = next();
            const int off = (lb & 0x10) ? rel - 256 : rel;
            const OpcodeEntry* kind = index.loop[lb >> 5];
            if (!kind || (lb & 7) == 2 || (lb & 7) == 3) {
                text = "db " + Hex2(op) + "," + Hex2(lb) + "," + Hex2(rel);
                break;
            }
            text = std::string(kind->name) + " " + kRegs[lb & 7] + "," + Hex4(p + off);
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
            const std::string ea = form.layout == kBrDir   ? Hex2(next())
                                   : form.layout == kBrExt ? Hex4(next16())
                                                           : indexed();
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
            const OpcodeEntry* row = (pb & 0x80)         ? index.exchange
                                     : (s < 3 && d >= 3) ? index.signExtend
                                                         : form.row;
            const std::string name = row ? row->name : form.row->name;
            if ((pb & 0x80) || d != 3)
                text = name + " " + kRegs[s] + "," + kRegs[d];
            else
                text = name + " " + kRegs[s] + ",tmp2";
            break;
        }
        case kMove: {
            const std::uint32_t kind = (0x1800u | op) - form.row->opcode;
            const bool word = ClassOf(*form.row) == t::kMoveWord;
            auto imm = [&]() { return "#" + (word ? Hex4(next16()) : Hex2(next())); };
            std::string src, dst;
            switch (kind) {
            case 0:
                dst = indexed();
                src = imm();
                break;
            case 1:
                dst = indexed();
                src = Hex4(next16());
                break;
            case 2:
                src = indexed();
                dst = indexed();
                break;
            case 3:
                src = imm();
                dst = Hex4(next16());
                break;
            case 4:
                src = Hex4(next16());
                dst = Hex4(next16());
                break;
            default:
                src = indexed();
                dst = Hex4(next16());
                break;
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
