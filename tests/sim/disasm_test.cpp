// The decoders against the assemblers' tables they are built from: every
// instruction of a table can be decoded (a new class the decoder does not
// file shows up here), no alias of another assembler's spelling is ever
// printed, and what is not an instruction decodes as data. The round trip
// through the assemblers is tests/sim/cycles_test.py's.

#include <gtest/gtest.h>

#include <set>
#include <span>
#include <string>

#include "core/disasm.h"
#include "hc11/opcodes.h"
#include "hc12/opcodes.h"

using namespace qorb;
using namespace qorb::sim;

namespace {

// The mnemonics the decoder prints for every opcode with every second byte
// (the postbytes of transfers and loops pick the name), behind each prefix.
std::set<std::string> DecodedNames(CpuModel model, std::initializer_list<int> prefixes) {
    const auto dis = MakeDisassembler(model);
    std::uint8_t mem[8] = {};
    const Disassembler::Reader read = [&mem](std::uint16_t a) { return mem[a & 7]; };
    std::set<std::string> names;
    for (const int prefix : prefixes) {
        for (int op = 0; op < 256; ++op) {
            for (int next = 0; next < 256; ++next) {
                int i = 0;
                if (prefix >= 0) mem[i++] = static_cast<std::uint8_t>(prefix);
                mem[i++] = static_cast<std::uint8_t>(op);
                mem[i] = static_cast<std::uint8_t>(next);
                const DecodedInstruction d = dis->Decode(0, read);
                EXPECT_GE(d.length, 1);
                // The longest: a move between two 16-bit offsets (HCS12).
                EXPECT_LE(d.length, 8);
                names.insert(d.text.substr(0, d.text.find(' ')));
            }
        }
    }
    return names;
}

// An earlier row of the table with the same opcode and class: the decoder
// prints that spelling (asl for lsl, bcc for bhs).
bool IsSecondSpelling(std::span<const OpcodeEntry> table, const OpcodeEntry& row) {
    for (const OpcodeEntry& e : table) {
        if (&e == &row) return false;
        if (!IsNonStandard(e) && e.opcode == row.opcode && ClassOf(e) == ClassOf(row)) return true;
    }
    return false;
}

TEST(DisassemblerTest, Cpu12DecodesEveryInstructionOfTheTable) {
    const std::set<std::string> names = DecodedNames(CpuModel::Cpu12, {-1, 0x18});
    const auto table = hc12::OpcodeTable();
    for (const OpcodeEntry& row : table) {
        const bool printed = names.count(row.name) != 0;
        if (IsNonStandard(row)) {
            EXPECT_FALSE(printed) << row.name;
        } else if (ClassOf(row) == hc12::kInherent && OpcodeLength(row.opcode) == 2 &&
                   (row.opcode >> 8) != 0x18) {
            // clc, tfr and leas forms with a name of their own decode as
            // the instruction they stand for.
            EXPECT_FALSE(printed) << row.name;
        } else if (!IsSecondSpelling(table, row)) {
            EXPECT_TRUE(printed) << row.name;
        }
    }
    EXPECT_TRUE(names.count("db")) << "loop postbytes that name no register";
    for (const std::string& name : names) {
        if (name != "db") {
            EXPECT_NE(hc12::LookupOpcode(name), nullptr) << name;
        }
    }
}

TEST(DisassemblerTest, Hc11DecodesEveryInstructionOfTheTable) {
    const std::set<std::string> names = DecodedNames(CpuModel::Hc11, {-1, 0x18, 0x1A, 0xCD});
    const auto table = hc11::OpcodeTable();
    for (const OpcodeEntry& row : table) {
        const bool printed = names.count(row.name) != 0;
        if (IsNonStandard(row) || std::string(row.name) == "test") {
            // test: the test-mode opcode traps in the modes the simulator runs.
            EXPECT_FALSE(printed) << row.name;
        } else if (!IsSecondSpelling(table, row)) {
            EXPECT_TRUE(printed) << row.name;
        }
    }
    EXPECT_TRUE(names.count("db"));
    for (const std::string& name : names) {
        if (name != "db") {
            EXPECT_NE(hc11::LookupOpcode(name), nullptr) << name;
        }
    }
}

// The 68HC11's indexed forms that change their page, and bytes that are no
// instruction on a page.
TEST(DisassemblerTest, Hc11PagesAndIllegalOpcodes) {
    const auto dis = MakeDisassembler(CpuModel::Hc11);
    auto decode = [&](std::initializer_list<std::uint8_t> bytes) {
        std::uint8_t mem[8] = {};
        int i = 0;
        for (const std::uint8_t b : bytes) mem[i++] = b;
        const DecodedInstruction d = dis->Decode(0, [&mem](std::uint16_t a) { return mem[a & 7]; });
        return std::to_string(d.length) + " " + d.text;
    };
    EXPECT_EQ(decode({0xCD, 0xAC, 0x05}), "3 cpx 5,y");
    EXPECT_EQ(decode({0x1A, 0xAC, 0x05}), "3 cpy 5,x");
    EXPECT_EQ(decode({0x18, 0xAC, 0x05}), "3 cpy 5,y");
    EXPECT_EQ(decode({0xCD, 0xA3, 0x07}), "3 cpd 7,y");
    EXPECT_EQ(decode({0x1A, 0xB3, 0x12, 0x34}), "4 cpd $1234");
    EXPECT_EQ(decode({0x18, 0x1E, 0x02, 0x80, 0xFC}), "5 brset 2,y,#$80,$0001");
    EXPECT_EQ(decode({0x18, 0xEE, 0x00}), "3 ldy 0,y");
    EXPECT_EQ(decode({0x18, 0xA6, 0x01}), "3 ldaa 1,y");
    EXPECT_EQ(decode({0x41}), "1 db $41");
    EXPECT_EQ(decode({0x1A, 0xA6}), "2 db $1A,$A6");
    EXPECT_EQ(decode({0xCD, 0x8C}), "2 db $CD,$8C");
}

} // namespace
