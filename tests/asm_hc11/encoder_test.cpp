// Unit tests of the 68HC11 table, operand parser and encoder, run against the
// stand-in assembler (tests/asm/fake_host.h). The encodings at large are
// cross-checked against GNU as by gnu_crosscheck.py; these tests cover the
// messages and their columns, the cycle counts, the pass-dependent behaviour
// and the forms GNU as does not take.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "asm/fake_host.h"
#include "hc11/encoder.h"
#include "hc11/opcodes.h"

namespace qorb::hc11 {
namespace {

class Host final : public qorb::test::FakeHost {
public:
    Host() : qorb::test::FakeHost(LookupOpcode, Assemble) {}
};

using qorb::test::AsmLine;
using qorb::test::Check;
using qorb::test::Messages;

TEST(Hc11Table, SortedWithKnownClassesAndAllRows) {
    const auto table = OpcodeTable();
    EXPECT_EQ(table.size(), 150u);
    EXPECT_EQ(ValidateTable(table), TableFault::None);
    int nonStandard = 0;
    for (const OpcodeEntry& e : table) {
        nonStandard += IsNonStandard(e);
        EXPECT_EQ(LookupOpcode(e.name), &e) << e.name;
    }
    EXPECT_EQ(nonStandard, 5); // lda ldb sta stb cmpd
    // The classes the 68HC12 has and this target does not are refused.
    const OpcodeEntry foreign[] = {{"aba", 2, 0x1B, 2}};
    std::size_t where = 9;
    EXPECT_EQ(ValidateTable(foreign, &where), TableFault::BadClass);
    EXPECT_EQ(where, 0u);
}

TEST(Hc11Table, IndexedFormsBelongToSixteenBitRows) {
    for (const IndexedForm& f : IndexedForms()) {
        bool found = false;
        for (const OpcodeEntry& e : OpcodeTable())
            found = found || (e.opcode == f.opcode && (ClassOf(e) == kGeneral16 || ClassOf(e) == kStore));
        EXPECT_TRUE(found) << std::hex << f.opcode;
        EXPECT_EQ(FindIndexedForm(f.opcode), &f);
    }
    EXPECT_EQ(FindIndexedForm(0x86), nullptr);
}

TEST(Hc11Encoder, GeneralModesAndCycles) {
    Host h;
    Check(h, {
                 {"ldaa #$12", "86 12", 2, ""},
                 {"ldaa $12", "96 12", 3, ""},
                 {"ldaa $1234", "B6 12 34", 4, ""},
                 {"ldaa >$12", "B6 00 12", 4, ""},
                 {"ldaa <$12", "96 12", 3, ""},
                 {"ldaa 5,x", "A6 05", 4, ""},
                 {"ldaa 5,y", "18 A6 05", 5, ""},
                 {"ldaa ,x", "A6 00", 4, ""},
                 {"ldaa x", "A6 00", 4, ""}, // a lone index register: offset 0
                 {"ldaa Y", "18 A6 00", 5, ""},
                 {"ldd #$1234", "CC 12 34", 3, ""},
                 {"ldd #-1", "CC FF FF", 3, ""},
                 {"lsl $12", "78 00 12", 6, ""}, // read-modify-write: no direct form
                 {"clr 1,y", "18 6F 01", 7, ""},
                 {"jmp $12", "7E 00 12", 3, ""},
                 {"jsr $12", "9D 12", 5, ""},
                 {"staa 0,y", "18 A7 00", 5, ""},
             });
}

TEST(Hc11Encoder, PagePrefixExceptions) {
    Host h;
    Check(h, {
                 {"cpx 3,x", "AC 03", 6, ""},
                 {"cpx 3,y", "CD AC 03", 7, ""},
                 {"ldy 3,x", "1A EE 03", 6, ""},
                 {"ldy 3,y", "18 EE 03", 6, ""},
                 {"cpd #1", "1A 83 00 01", 5, ""},
                 {"cpd 3,x", "1A A3 03", 7, ""},
                 {"cpd 3,y", "CD A3 03", 7, ""},
                 {"sty $1234", "18 FF 12 34", 6, ""},
             });
}

TEST(Hc11Encoder, RegistersAndSymbolsNamedLikeThem) {
    Host h;
    h.symbols["x"] = 4;
    // An operator after X makes it a symbol used as a value.
    Check(h, {
                 {"ldaa x+1,y", "18 A6 05", 5, ""},
                 {"ldaa x,y", "18 A6 04", 5, ""},
                 {"ldaa xa", "96 00", 3, ""}, // no register: an unknown symbol
             });
    EXPECT_TRUE(AsmLine(h, "ldaa 0,xa"));
    EXPECT_EQ(h.Hex(), "96 00");
    EXPECT_EQ(h.Scan().Rest(), ",xa"); // left for the core to report
}

TEST(Hc11Encoder, ModeErrors) {
    Host h;
    Check(h, {
                 {"ldaa", "", -1, "A2067"},
                 {"staa #1", "", -1, "A2068"},
                 {"bset #1,#2", "", -1, "A2068"},
                 {"nop 1", "", -1, "A2069"},
                 {"ldaa ,z", "", -1, "A2071"},
                 {"bset $12", "", -1, "A2007(mask)"},
                 {"brset $12,#1", "", -1, "A2007(target adress)"},
                 {"brset $12,#1,", "", -1, "A2007(target adress)"},
             });
}

TEST(Hc11Encoder, RangeWarningsInTheFinalPass) {
    Host h;
    Check(h, {
                 {"ldaa #$1FF", "86 FF", 2, "A4102([0..255])"},
                 {"ldaa #-256", "86 00", 2, ""},
                 {"ldd #$12345", "CC 23 45", 3, "A4102([0..65535])"},
                 {"ldaa <$1234", "96 34", 3, "A4104([0..255])"},
                 {"ldaa 256,x", "A6 00", 4, "A4104([0..255])"},
                 {"ldaa -1", "B6 FF FF", 4, "A4104([0..65535])"},
                 {"bset $1234,#1", "14 34 01", 6, "A4104([0..255])"},
                 {"lda #1", "86 01", 2, "A4303"},
             });
    for (bool finalPass : {false, true}) {
        Host quiet;
        quiet.finalPass = finalPass;
        quiet.screwed = finalPass;
        EXPECT_TRUE(AsmLine(quiet, "ldaa #$1FF"));
        EXPECT_EQ(quiet.Hex(), "86 FF");
        EXPECT_EQ(Messages(quiet), "");
    }
}

TEST(Hc11Encoder, Branches) {
    Host h; // at $1000
    Check(h, {
                 {"bra $1000", "20 FE", 3, ""},
                 {"bne $1081", "26 7F", 3, ""},
                 {"beq $0F82", "27 80", 3, ""},
                 {"bra $1082", "20 FE", 3, "A2070([-128..127])"},
                 {"bsr later", "8D FE", 6, ""}, // unresolved: a branch to itself
                 {"brset $12,#$80,$1004", "12 12 80 00", 6, ""},
                 {"brclr 1,y,#3,$1000", "18 1F 01 03 FB", 8, ""},
                 {"brset 1,x,#3,$1100", "1E 01 03 FE", 7, "A2070([-128..127])"},
                 {"bclr 2,x,#$0F", "1D 02 0F", 7, ""},
                 {"bset $40 1", "14 40 01", 6, ""}, // comma and # may be left out
             });
    Host sizing;
    sizing.finalPass = false;
    EXPECT_TRUE(AsmLine(sizing, "bra $2000"));
    EXPECT_EQ(sizing.Hex(), "20 FE"); // out of range is only an error in the final pass
    EXPECT_EQ(Messages(sizing), "");
}

TEST(Hc11Encoder, InherentAndCompatibilityMode) {
    Host h;
    Check(h, {
                 {"nop", "01", 2, ""},
                 {"nop ; comment", "01", 2, ""},
                 {"ABY", "18 3A", 4, ""},
                 {"idiv", "02", 41, ""},
             });
    h.compat = true;
    EXPECT_TRUE(AsmLine(h, "nop remark"));
    EXPECT_EQ(h.Hex(), "01");
    EXPECT_EQ(Messages(h), "A4302");
    EXPECT_TRUE(h.Scan().AtEnd());
}

TEST(Hc11Encoder, MessageColumnsPointAtTheirField) {
    Host h;
    AsmLine(h, "ldaa <$1234"); // operands " <$1234"
    ASSERT_EQ(h.messages.size(), 1u);
    EXPECT_EQ(h.messages[0].column, 1u);
    AsmLine(h, "brset $12,#1 *"); // the missing comma, before the target
    ASSERT_EQ(h.messages.size(), 1u);
    EXPECT_EQ(h.messages[0].number, 4301);
    EXPECT_EQ(h.messages[0].column, 8u);
    EXPECT_EQ(h.Hex(), "12 12 01 FC");
}

} // namespace
} // namespace qorb::hc11
