// The 68HC11's instruction decoder for traces and the debugger. Names,
// opcodes and classes come from the assembler's own table: at start-up every
// row is turned into its forms (the class's mode offsets, the Y forms behind
// their page prefix, the table's indexed-form exceptions), and the forms are
// filed by page and opcode. The operand text is the assembler's syntax.

#include <cstdio>
#include <string>

#include "core/disasm.h"
#include "core/hex.h"
#include "hc11/opcodes.h"

namespace qorb::sim {

bool Hc11OpcodeLegal(int page, std::uint8_t op);

namespace {

namespace t = qorb::hc11;

enum Layout : std::uint8_t {
    kNone,
    kInh,
    kImm8,
    kImm16,
    kDir,
    kExt,
    kIdxX,
    kIdxY,
    kRel,
    kBitDir,
    kBitX,
    kBitY,
    kBrDir,
    kBrX,
    kBrY
};

struct Form {
    const OpcodeEntry* row = nullptr;
    Layout layout = kNone;
};

// The page of a prefix byte (1: none), 0 when the byte is no prefix.
int PageOf(std::uint32_t prefix) {
    switch (prefix) {
    case 0x00: return 1;
    case 0x18: return 2;
    case 0x1A: return 3;
    case 0xCD: return 4;
    default: return 0;
    }
}

struct DecodeIndex {
    Form page[4][256];

    // The first row to claim an opcode keeps it: the table is sorted by
    // name, so of two spellings (asl, lsl; bcc, bhs) the first stays.
    void File(std::uint32_t opcode, const OpcodeEntry& row, Layout layout) {
        const int pg = PageOf(opcode > 0xFF ? (opcode >> 8) & 0xFF : 0);
        if (pg == 0) return;
        Form& slot = page[pg - 1][opcode & 0xFF];
        if (!slot.row) slot = Form{&row, layout};
    }

    void FileModes(const OpcodeEntry& row, bool bit) {
        const int cls = ClassOf(row);
        const t::ModeOffsets m = t::OffsetsOf(cls);
        auto at = [&](int offset) {
            return static_cast<std::uint32_t>(static_cast<int>(row.opcode) + offset);
        };
        if (m.immediate != t::kNoForm) File(at(m.immediate), row, cls == t::kGeneral16 ? kImm16 : kImm8);
        if (m.direct != t::kNoForm)
            File(at(m.direct), row, bit ? (cls == t::kBitSet ? kBitDir : kBrDir) : kDir);
        if (m.extended != t::kNoForm) File(at(m.extended), row, kExt);
        if (m.indexedX == t::kNoForm) return;
        const Layout onX = bit ? (cls == t::kBitSet ? kBitX : kBrX) : kIdxX;
        const Layout onY = bit ? (cls == t::kBitSet ? kBitY : kBrY) : kIdxY;
        if (const t::IndexedForm* e = bit ? nullptr : t::FindIndexedForm(row.opcode)) {
            File(e->onX ? e->onX : at(m.indexedX), row, onX);
            File(e->onY, row, onY);
            return;
        }
        File(at(m.indexedX), row, onX);
        File(0x1800 | (at(m.indexedX) & 0xFF), row, onY);
    }

    DecodeIndex() {
        for (const OpcodeEntry& row : t::OpcodeTable()) {
            // Aliases other assemblers lack never name a decoded opcode.
            if (IsNonStandard(row)) continue;
            switch (ClassOf(row)) {
            case t::kInherent: File(row.opcode, row, kInh); break;
            case t::kBranch: File(row.opcode, row, kRel); break;
            case t::kBitSet:
            case t::kBitBranch: FileModes(row, true); break;
            default: FileModes(row, false); break;
            }
        }
    }
};

const DecodeIndex& Index() {
    static const DecodeIndex index;
    return index;
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
        int page = PageOf(op);
        if (page > 1)
            op = next();
        else
            page = 1;
        const Form form = Index().page[page - 1][op];
        if (!form.row || !Hc11OpcodeLegal(page, op)) {
            // The bytes up to the illegal opcode, as data.
            std::string text = "db " + Hex2(read(address));
            if (page != 1) text += "," + Hex2(op);
            return {static_cast<std::uint8_t>(p - address), text};
        }
        auto idx = [&](Layout l) {
            return std::to_string(next()) + ((l == kIdxY || l == kBitY || l == kBrY) ? ",y" : ",x");
        };
        auto rel = [&]() {
            const auto r = static_cast<std::int8_t>(next());
            return Hex4(p + r);
        };
        std::string text = form.row->name;
        switch (form.layout) {
        case kImm8: text += " #" + Hex2(next()); break;
        case kImm16: text += " #" + Hex4(next16()); break;
        case kDir: text += " " + Hex2(next()); break;
        case kExt: text += " " + Hex4(next16()); break;
        case kIdxX:
        case kIdxY: text += " " + idx(form.layout); break;
        case kRel: text += " " + rel(); break;
        case kBitDir: {
            const std::string ea = Hex2(next());
            text += " " + ea + ",#" + Hex2(next());
            break;
        }
        case kBitX:
        case kBitY: {
            const std::string ea = idx(form.layout);
            text += " " + ea + ",#" + Hex2(next());
            break;
        }
        case kBrDir:
        case kBrX:
        case kBrY: {
            const std::string ea = form.layout == kBrDir ? Hex2(next()) : idx(form.layout);
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
