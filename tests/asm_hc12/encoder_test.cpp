// Unit tests of the 68HC12 table, operand parser and encoder, run against a
// stand-in for the assembler (fake_host.h). The byte encodings at large are
// cross-checked against GNU as by gnu_crosscheck.py; these tests cover the
// messages, the cycle counts, the pass-dependent behaviour and the forms that
// GNU as cannot express.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_host.h"
#include "hc12/opcodes.h"

namespace qorb::hc12::test {
namespace {

TEST(Hc12Table, SortedWithValidClassesAndAllRows) {
    const auto table = OpcodeTable();
    EXPECT_EQ(table.size(), 212u);
    EXPECT_EQ(ValidateTable(table), TableFault::None);
    int counts[26] = {};
    for (const OpcodeEntry& e : table) ++counts[ClassOf(e)];
    EXPECT_EQ(counts[kInherent], 88);
    EXPECT_EQ(counts[kBranch8], 19);
    EXPECT_EQ(counts[kBranch16], 18);
    EXPECT_EQ(counts[kGeneral8], 22); // with the lda/ldb aliases
    EXPECT_EQ(counts[kStore], 8);     // with sta/stb
}

TEST(Hc12Table, ValidationFindsBadClassAndOrder) {
    const OpcodeEntry badClass[] = {{"aba", 1, 0x1806, 2}, {"abx", 26, 0x1AE5, 2}};
    const OpcodeEntry zeroClass[] = {{"aba", kNonStandard, 0x1806, 2}};
    const OpcodeEntry unordered[] = {{"abx", 1, 0x1AE5, 2}, {"aba", 1, 0x1806, 2}};
    const OpcodeEntry duplicate[] = {{"aba", 1, 0x1806, 2}, {"aba", 1, 0x1806, 2}};
    std::size_t where = 99;
    EXPECT_EQ(ValidateTable(badClass, &where), TableFault::BadClass);
    EXPECT_EQ(where, 1u);
    EXPECT_EQ(ValidateTable(zeroClass), TableFault::BadClass);
    EXPECT_EQ(ValidateTable(unordered), TableFault::OutOfOrder);
    EXPECT_EQ(ValidateTable(duplicate), TableFault::OutOfOrder);
    const OpcodeEntry alias[] = {{"lda", 5 | kNonStandard, 0x86, 1}};
    EXPECT_EQ(ValidateTable(alias), TableFault::None);
}

TEST(Hc12Table, LookupIgnoresCaseAndFindsEveryRow) {
    for (const OpcodeEntry& e : OpcodeTable()) {
        EXPECT_EQ(LookupOpcode(e.name), &e) << e.name;
        std::string upper = e.name;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(LookupOpcode(upper), &e) << upper;
    }
    EXPECT_EQ(LookupOpcode(""), nullptr);
    EXPECT_EQ(LookupOpcode("ldaaa"), nullptr);
    EXPECT_EQ(LookupOpcode("ld"), nullptr);
    EXPECT_EQ(LookupOpcode(std::string(300, 'a')), nullptr);
    EXPECT_EQ(LookupOpcode(std::string("nop\0x", 5)), nullptr);
}

TEST(Hc12Parser, IndexedForms) {
    FakeHost h;
    Check(h, {
                 {"ldaa 0,x", "A6 00", 3, ""},
                 {"ldaa <0,x", "A6 E0 00", 3, ""},
                 {"ldaa >0,x", "A6 E2 00 00", 4, ""},
                 {"ldaa <300,x", "A6 E1 2C", 3, ""}, // 9-bit field, no range check
                 {"ldaa ,sp", "A6 80", 3, ""},
                 {"ldaa 15,x", "A6 0F", 3, ""},
                 {"ldaa 16,x", "A6 E0 10", 3, ""},
                 {"ldaa -16,x", "A6 10", 3, ""},
                 {"ldaa -17,y", "A6 E9 EF", 3, ""},
                 {"ldaa 255,x", "A6 E0 FF", 3, ""},
                 {"ldaa -256,x", "A6 E1 00", 3, ""},
                 {"ldaa 256,sp", "A6 F2 01 00", 4, ""},
                 {"ldaa -257,pc", "A6 FA FE FF", 4, ""},
                 {"ldaa 65535,x", "A6 E2 FF FF", 4, ""},
                 {"ldaa 65536,x", "A6 E2 00 00", 4, "A4103([-65535..65535])"},
                 {"ldaa -65536,x", "A6 E2 00 00", 4, "A4103([-65535..65535])"},
                 {"ldaa [d,x]", "A6 E7", 6, ""},
                 {"ldaa [0,pc]", "A6 FB 00 00", 6, ""},
                 {"ldaa [ 70000 , y ]", "A6 EB 11 70", 6, "A4103([-65535..65535])"},
                 {"ldaa b,y", "A6 ED", 3, ""},
                 {"ldaa A,SP", "A6 F4", 3, ""},
                 {"ldaa d,pc", "A6 FE", 3, ""},
                 {"ldaa 2,+x", "A6 21", 3, ""},
                 {"ldaa 1,x-", "A6 3F", 3, ""},
                 {"ldaa 8,-sp", "A6 A8", 3, ""},
                 {"ldaa 8,sp+", "A6 B7", 3, ""},
                 {"ldaa 1,-y", "A6 6F", 3, ""},
                 {"ldaa -1,+x", "A6 2F", 3, ""}, // an increment by -1 is a decrement
                 {"LDAA 0,X", "A6 00", 3, ""},
             });
}

TEST(Hc12Parser, IndexedErrors) {
    FakeHost h;
    Check(h, {
                 {"ldaa 9,x+", "", -1, "A2077([-8..-1, 1..8])"},
                 {"ldaa 0,x+", "", -1, "A2077([-8..-1, 1..8])"},
                 {"ldaa -9,-x", "", -1, "A2077([-8..-1, 1..8])"},
                 {"ldaa 1,pc+", "", -1, "A2081"},
                 {"ldaa 1,+pc", "", -1, "A2081"},
                 {"ldaa a,x+", "", -1, "A2066"},
                 {"ldaa [a,x]", "", -1, "A2066"},
                 {"ldaa [2,x+]", "", -1, "A2066"},
                 {"ldaa [d,+x]", "", -1, "A2066"},
                 {"ldaa [d,x", "", -1, "A2007(']')"},
                 {"ldaa 2,+pcr", "", -1, "A2082"},
                 {"ldaa a,pcr", "", -1, "A2082"},
                 {"ldaa 2,pcr+", "", -1, "A2081"},
                 {"ldaa 9,pc-", "", -1, "A2077([-8..-1, 1..8])"},
                 {"ldaa [5]", "", -1, "A4301 A2085"},
                 {"ldaa [5,]", "", -1, "A2085"},
                 {"ldaa a,q", "", -1, "A2085"},
                 {"ldaa a", "", -1, "A4301 A2085"},
             });
}

TEST(Hc12Parser, RegistersAreWholeWords) {
    FakeHost h;
    // `xa` is no register: 0 is a plain address and the rest is left over.
    EXPECT_TRUE(AsmLine(h, "ldaa 0,xa"));
    EXPECT_EQ(h.Hex(), "96 00");
    EXPECT_EQ(h.Scan().Rest(), ",xa");
    // `ab` is no accumulator but a symbol: unknown, taken as direct.
    EXPECT_TRUE(AsmLine(h, "ldaa ab"));
    EXPECT_EQ(h.Hex(), "96 00");
    // `spx` is no register either
    EXPECT_TRUE(AsmLine(h, "ldaa 4,spx"));
    EXPECT_EQ(h.Scan().Rest(), ",spx");
    h.symbols["xy"] = 0x1234;
    EXPECT_TRUE(AsmLine(h, "ldaa xy"));
    EXPECT_EQ(h.Hex(), "B6 12 34");
}

TEST(Hc12Parser, PlainAddressesAndForcing) {
    FakeHost h;
    Check(h, {
                 {"ldaa 300", "B6 01 2C", 3, ""},
                 {"ldaa <300", "96 2C", 3, "A4104([0..255])"},
                 {"ldaa >$12", "B6 00 12", 3, ""},
                 {"ldaa $FF", "96 FF", 3, ""},
                 {"ldaa <$1234", "96 34", 3, "A4104([0..255])"},
                 {"ldaa -1", "B6 FF FF", 3, "A4104([0..65535])"},
                 {"ldaa 65536", "B6 00 00", 3, "A4104([0..65535])"},
                 {"ldaa lbl", "96 00", 3, ""}, // unresolved: sized as direct
                 {"ldaa >lbl", "B6 00 00", 3, ""},
                 {"ldaa #-1", "86 FF", 1, ""},
                 {"ldaa #-256", "86 00", 1, ""},
                 {"ldaa #-257", "86 FF", 1, "A4102([0..255])"},
                 {"ldaa #256", "86 00", 1, "A4102([0..255])"},
                 {"ldd #$12345", "CC 23 45", 2, "A4102([0..65535])"},
                 {"ldd #-65536", "CC 00 00", 2, ""},
                 {"ldd #-65537", "CC FF FF", 2, "A4102([0..65535])"},
                 {"ldx #lbl", "CE 00 00", 2, ""},
                 {"lda #1", "86 01", 1, "A4303"},
                 {"stb 0,x", "6B 00", 2, "A4303"},
             });
}

TEST(Hc12Classes, ModeChecksAndMessages) {
    FakeHost h;
    Check(h, {
                 {"nop foo", "", -1, "A2073"},
                 {"nop ; comment", "A7", 1, ""},
                 {"andcc $fe", "", -1, "A2074"},
                 {"andcc", "", -1, "A2074"},
                 {"orcc #$10", "14 10", 1, ""},
                 {"ldaa", "", -1, "A2068"},
                 {"ldaa ;x", "", -1, "A2068"},
                 {"inc", "", -1, "A2068"},
                 {"inc #1", "", -1, "A2069"},
                 {"staa #1", "", -1, "A2069"},
                 {"clr #1", "", -1, "A2069"},
                 {"bset #1", "", -1, "A2069"},
                 {"bset [d,x],#1", "", -1, "A2071"},
                 {"brclr [0,x],#1,*", "", -1, "A2071"},
                 {"bset $40", "", -1, "A2007(mask)"},
                 {"bset 0,x,", "", -1, "A2007(mask)"},
                 {"brset $40,#1", "", -1, "A2007(target adress)"},
                 {"dbne q,*", "", -1, "A2084"},
                 {"dbne a", "", -1, "A2007(target address)"},
                 {"dbne ccr,*", "", -1, "A2084"},
                 {"maxa", "", -1, "A2068"},
                 {"maxa #1", "", -1, "A2069"},
                 {"maxa $12", "", -1, "A2072"},
                 {"emind $1234", "", -1, "A2072"},
                 {"call", "", -1, "A2068"},
                 {"call #1", "", -1, "A2069"},
                 {"tbl 100,x", "", -1, "A2075"},
                 {"tbl [d,x]", "", -1, "A2075"},
                 {"tbl $12", "", -1, "A2075"},
                 {"etbl", "", -1, "A2075"},
                 {"leax [d,x]", "", -1, "A2075"},
                 {"leay #1", "", -1, "A2075"},
                 {"leas $1234", "", -1, "A2075"},
                 {"movb", "", -1, "A2068"},
                 {"movb #1", "", -1, "A2007(destination)"},
                 {"movb #1,#2", "", -1, "A2067"},
                 {"movw [d,x],0,y", "", -1, "A2067"},
                 {"movw 0,x,[2,y]", "", -1, "A2067"},
                 {"tfr", "", -1, "A2068"},
                 {"tfr a", "", -1, "A2083"},
                 {"exg a,pc", "", -1, "A2083"},
                 {"sex q,d", "", -1, "A2083"},
                 {"jmp", "", -1, "A2068"},
                 {"jsr #1", "", -1, "A2069"},
                 {"trap $20", "", -1, "A2076([$30..$ff])"},
                 {"trap $2F", "", -1, "A2076([$30..$ff])"},
                 {"trap -1", "", -1, "A2076([$30..$ff])"},
                 {"trap $100", "", -1, "A2076([$30..$ff])"},
                 {"trap $30", "18 30", 10, ""},
                 {"trap $FF", "18 FF", 10, ""},
                 {"trap later", "18 00", 10, ""}, // unresolved: not checked yet
                 {"bra", "", -1, "A2014"},
                 {"emacs", "", -1, "A2014"},
             });
}

TEST(Hc12Classes, CompatibilityModeAcceptsTextAfterInherent) {
    FakeHost h;
    h.compat = true;
    EXPECT_TRUE(AsmLine(h, "nop foo bar"));
    EXPECT_EQ(h.Hex(), "A7");
    EXPECT_EQ(Messages(h), "A4302");
    EXPECT_TRUE(h.Scan().AtStatementEnd()); // the text is a comment now
}

TEST(Hc12Encoder, ClassGivenOpcodes) {
    FakeHost h;
    Check(h, {
                 {"bset $40,#1", "4C 40 01", 4, ""},
                 {"bset $40 1", "4C 40 01", 4, ""},
                 {"bclr $1234,#$80", "1D 12 34 80", 4, ""},
                 {"bset 0,x #$180", "0C 00 80", 4, ""}, // mask: low byte, no check
                 {"bset 1000,y,#1", "0C EA 03 E8 01", 6, ""},
                 {"bclr 100,x,#1", "0D E0 64 01", 4, ""},
                 {"brset $40,#1,*", "4E 40 01 FC", 4, ""},
                 {"brset $1234,#1,*", "1E 12 34 01 FB", 5, ""},
                 {"brclr 0,x,1,*", "0F 00 01 FC", 4, ""},
                 {"brclr 100,x,1,*", "0F E0 64 01 FB", 6, ""},
                 {"brclr 1000,x,1,*", "0F E2 03 E8 01 FA", 8, ""},
                 {"brset 0,x,#1 *", "0E 00 01 FC", 4, "A4301"},
                 {"call $8000,3", "4A 80 00 03", 8, ""},
                 {"call $8000", "4A 80 00 00", 8, ""},
                 {"call $12 3", "4A 00 12 03", 8, ""},
                 {"call 0,x,$103", "4B 00 03", 8, ""},
                 {"call [d,x]", "4B E7", 10, ""},
                 {"call [$1234,sp]", "4B F3 12 34", 10, ""},
                 {"jmp $12", "06 00 12", 3, ""},
                 {"jmp $1234", "06 12 34", 3, ""},
                 {"jmp 0,x", "05 00", 3, ""},
                 {"jmp [d,y]", "05 EF", 6, ""},
                 {"jsr $12", "17 12", 4, ""},
                 {"jsr $1234", "16 12 34", 4, ""},
                 {"jsr 0,y", "15 40", 4, ""},
                 {"maxa 0,x", "18 18 00", 4, ""},
                 {"maxm 100,x", "18 1C E0 64", 5, ""},
                 {"emaxd 1000,x", "18 1A E2 03 E8", 6, ""},
                 {"mina [d,x]", "18 19 E7", 7, ""},
                 {"tbl 0,x", "18 3D 00", 10, ""},
                 {"etbl 2,x+", "18 3F 31", 10, ""},
                 {"leax 100,sp", "1A F0 64", 2, ""},
                 {"leas -1000,x", "1B E2 FC 18", 2, ""},
                 {"leay b,x", "19 E5", 2, ""},
                 {"tfr a,b", "B7 01", 1, ""},
                 {"tfr x y", "B7 56", 1, ""},
                 {"exg d,x", "B7 C5", 1, ""},
                 {"sex a,d", "B7 04", 1, ""},
                 {"tfr CCR,SP", "B7 27", 1, ""},
                 {"emacs $1234", "18 12 12 34", 13, ""},
                 {"emacs $12345", "18 12 23 45", 13, ""},
                 {"swi", "3F", 9, ""},
                 {"tap", "B7 02", 1, ""},
                 {"stop", "18 3E", 255, ""},
             });
}

TEST(Hc12Encoder, CycleCorrectionsPerClass) {
    FakeHost h;
    Check(h, {
                 // stores: one cycle less for direct and most indexed forms
                 {"staa $12", "5A 12", 2, ""},
                 {"staa $1234", "7A 12 34", 3, ""},
                 {"staa 0,x", "6A 00", 2, ""},
                 {"staa 100,x", "6A E0 64", 3, ""},
                 {"staa 1000,x", "6A E2 03 E8", 3, ""},
                 {"staa [d,x]", "6A E7", 5, ""},
                 {"staa [1,x]", "6A E3 00 01", 5, ""},
                 // read-modify-write: direct is extended, one more for ext, 9- and 16-bit
                 {"inc $12", "72 00 12", 4, ""},
                 {"inc 0,x", "62 00", 3, ""},
                 {"inc 100,x", "62 E0 64", 4, ""},
                 {"inc 1000,x", "62 E2 03 E8", 5, ""},
                 {"inc [d,x]", "62 E7", 6, ""},
                 {"tst $1234", "F7 12 34", 4, ""},
                 // clr: direct is extended, one less for most indexed forms
                 {"clr $12", "79 00 12", 3, ""},
                 {"clr 0,x", "69 00", 2, ""},
                 {"clr 100,x", "69 E0 64", 3, ""},
                 {"clr 1000,x", "69 E2 03 E8", 3, ""},
                 {"clr [d,x]", "69 E7", 5, ""},
                 // 16-bit immediate adds one
                 {"ldd #1", "CC 00 01", 2, ""},
                 {"ldaa [d,x]", "A6 E7", 6, ""},
                 {"ldaa [1,x]", "A6 E3 00 01", 6, ""},
                 // moves
                 {"movb #1,0,x", "18 08 00 01", 4, ""},
                 {"movb $1234,0,x", "18 09 00 12 34", 5, ""},
                 {"movb 0,x,0,y", "18 0A 00 40", 5, ""},
                 {"movb #1,$1234", "18 0B 01 12 34", 4, ""},
                 {"movw #1,$1234", "18 03 00 01 12 34", 5, ""},
                 {"movb $1234,$5678", "18 0C 12 34 56 78", 6, ""},
                 {"movw 0,x,$1234", "18 05 00 12 34", 5, ""},
                 // branches take their base
                 {"bra *", "20 FE", 3, ""},
                 {"brn *", "21 FE", 1, ""},
                 {"lbrn *", "18 21 FF FC", 3, ""},
                 {"dbne a,*", "04 30 FD", 3, ""},
             });
}

TEST(Hc12Encoder, Branches) {
    FakeHost h;
    h.location = 0x2000;
    Check(h, {
                 {"bra *", "20 FE", 3, ""},
                 {"bra *+129", "20 7F", 3, ""},
                 {"bra *-126", "20 80", 3, ""},
                 {"bra *+130", "20 FE", 3, "A2079([-128..127])"},
                 {"bra *-127", "20 FE", 3, "A2079([-128..127])"},
                 {"bsr later", "07 FE", 4, ""},
                 {"lbra *", "18 20 FF FC", 4, ""},
                 {"lbra *+1000", "18 20 03 E4", 4, ""},
                 {"lbeq *+65539", "18 27 FF FF", 4, ""},
                 {"lbeq *+65540", "18 27 FF FE", 4, "A2079([-65535..65535])"},
                 {"lbne *-65531", "18 26 00 01", 4, ""},
                 {"lbne *-65532", "18 26 FF FE", 4, "A2079([-65535..65535])"},
                 {"lbcc later", "18 24 FF FE", 4, ""},
                 {"brset 0,x,#1,*+131", "0E 00 01 7F", 4, ""},
                 {"brset 0,x,#1,*+132", "0E 00 01 FE", 4, "A2079([-128..127])"},
                 {"brset later,#1,later", "4E 00 01 FE", 4, ""},
                 {"dbne a,*", "04 30 FD", 3, ""},
                 {"dbeq x,*+258", "04 05 FF", 3, ""},
                 {"ibne sp,*-253", "04 B7 00", 3, ""},
                 {"tbeq d,*+259", "04 54 FE", 3, "A2079([-256..255])"},
                 {"tbne y,*-254", "04 76 FE", 3, "A2079([-256..255])"},
                 {"ibeq b,later", "04 91 FE", 3, ""},
                 {"dbne SP,*+3", "04 27 00", 3, ""},
             });
}

TEST(Hc12Encoder, PcRelative) {
    FakeHost h;
    h.location = 0x1000;
    Check(h, {
                 {"ldaa $1004,pcr", "A6 C2", 3, ""},       // 4 - 2
                 {"ldaa $1011,pcr", "A6 CF", 3, ""},       // 15
                 {"ldaa $1012,pcr", "A6 F8 0F", 3, ""},    // 9-bit: 18 - 3
                 {"ldaa $0FF2,pcr", "A6 D0", 3, ""},       // -16
                 {"ldaa $0FF1,pcr", "A6 F9 EE", 3, ""},    // -15 - 3
                 {"ldaa $1102,pcr", "A6 F8 FF", 3, ""},    // 255
                 {"ldaa $1103,pcr", "A6 FA 00 FF", 4, ""}, // 16-bit: 259 - 4
                 {"ldaa <$1004,pcr", "A6 F8 01", 3, ""},
                 {"ldaa >$1004,pcr", "A6 FA 00 00", 4, ""},
                 {"ldaa [$1014,pcr]", "A6 FB 00 10", 6, ""},
                 {"ldaa later,pcr", "A6 C0", 3, ""}, // unresolved: 5-bit, value 0
                 {"maxa $1013,pcr", "18 18 F8 0F", 5, ""},
                 {"tbl $1012,pcr", "18 3D CF", 10, ""},
                 {"tbl $1013,pcr", "", -1, "A2075"},
                 {"bset $1012,pcr,#1", "0C CF 01", 4, ""}, // k = 1
                 {"bset $1013,pcr,#1", "0C F8 0F 01", 4, ""},
                 {"brset $1013,pcr,#1,*", "0E CF 01 FC", 4, ""}, // k = 2
                 {"brset $1014,pcr,#1,*", "0E F8 0F 01 FB", 6, ""},
                 {"call $1011,pcr,2", "4B CF 02", 8, ""}, // k = 0
                 {"inc $1012,pcr", "62 F8 0F", 4, ""},
             });
}

TEST(Hc12Encoder, Moves) {
    FakeHost h;
    h.location = 0x1000;
    Check(h, {
                 {"movb #1,0,x", "18 08 00 01", 4, ""},
                 {"movw 1,x+,2,y", "18 02 30 42", 5, ""},
                 {"movw #$1234,a,sp", "18 00 F4 12 34", 4, ""},
                 {"movb $12,$34", "18 0C 00 12 00 34", 6, ""}, // direct becomes extended
                 {"movb <10,x,0,y", "18 0A 0A 40", 5, ""},     // re-encoded as 5-bit
                 {"movb >-16,x,0,y", "18 0A 10 40", 5, ""},
                 {"movb 20,x,0,y", "18 0A 14 40", 5, "A2077([-16..15])"},
                 {"movb 0,y,-17,x", "18 0A 40 0F", 5, "A2077([-16..15])"},
                 {"movw #1,16,sp", "18 00 90 00 01", 4, "A2077([-16..15])"},
                 {"movb later,x,0,y", "18 0A 00 40", 5, ""},
                 // PC offsets count the way the CPU does in moves
                 {"movb 3,pc,0,x", "18 0A C4 00", 5, ""},
                 {"movb 0,x,3,pc", "18 0A 00 C2", 5, ""},
                 {"movw #1,3,pc", "18 00 C1 00 01", 4, ""},
                 {"movb #1,$1014,pcr", "18 08 CF 01", 4, ""}, // 20 - 4 - 1
                 {"movb #1,$1015,pcr", "18 08 D0 01", 4, "A2077([-16..15])"},
                 {"movb $0FF6,pcr,$100A,pcr", "18 0A D3 C5", 5, ""},
                 {"movb $0FF3,pcr,0,x", "18 0A D0 00", 5, ""}, // -13 - 4 + 1: still fits
                 {"movb $0FF2,pcr,0,x", "18 0A CF 00", 5, "A2077([-16..15])"},
             });
}

TEST(Hc12Encoder, MovesForHcs12KeepTheirOffsetBytes) {
    FakeHost h;
    h.hcs = true;
    h.location = 0x1000;
    Check(h, {
                 {"movb 20,x,0,y", "18 0A E0 14 40", 5, ""},
                 {"movb #1,1000,x", "18 08 E2 03 E8 01", 4, ""},
                 {"movw 100,x,1000,y", "18 02 E0 64 EA 03 E8", 5, ""},
                 {"movb $1234,-17,sp", "18 09 F1 EF 12 34", 5, ""},
                 {"movb 256,x,$1234", "18 0D E2 01 00 12 34", 5, ""},
                 {"movb 3,pc,0,x", "18 0A C3 00", 5, ""}, // no count correction
                 {"movb #1,$1014,pcr", "18 08 F8 0F 01", 4, ""},
                 {"movb #1,$1013,pcr", "18 08 CF 01", 4, ""},
                 // the distance counts from the end of the instruction,
                 // including the other operand's offset bytes
                 {"movb 100,x,$1014,pcr", "18 0A E0 64 CF", 5, ""},
                 {"movb 100,x,$1015,pcr", "18 0A E0 64 F8 0F", 5, ""},
                 {"movw $1016,pcr,1000,y", "18 02 F8 0F EA 03 E8", 5, ""},
                 {"movb $1014,pcr,$1014,pcr", "18 0A F8 0F CF", 5, ""},
                 {"movb $1006,pcr,$1005,pcr", "18 0A C2 C1", 5, ""},
                 {"movw $1234,$0F00,pcr", "18 01 FA FE F9 12 34", 5, ""},
                 {"movb 70000,x,0,y", "18 0A E2 11 70 40", 5, "A4103([-65535..65535])"},
                 {"movb #1,[d,x]", "", -1, "A2067"},
             });
}

TEST(Hc12Encoder, SizesDoNotDependOnThePass) {
    // Every operand form places the same bytes whether the value is known
    // yet or not, and in sizing passes as in the final pass.
    const char* lines[] = {"ldaa 20,x",      "movb 20,x,0,y", "bra *+300",
                           "lbra *+70000",   "dbne a,*+400",  "brset 0,x,#1,*+400",
                           "movb #1,20,pcr", "ldaa #300",     "bset 0,x,#1"};
    for (const char* line : lines) {
        SCOPED_TRACE(line);
        FakeHost sizing;
        sizing.finalPass = false;
        EXPECT_TRUE(AsmLine(sizing, line));
        EXPECT_EQ(Messages(sizing), "");
        FakeHost final;
        AsmLine(final, line);
        EXPECT_EQ(final.Code().count, sizing.Code().count);
        FakeHost screwed;
        screwed.screwed = true;
        EXPECT_TRUE(AsmLine(screwed, line));
        EXPECT_EQ(Messages(screwed), "");
        EXPECT_EQ(screwed.Code().count, sizing.Code().count);
    }
}

TEST(Hc12Encoder, ScrewedStateTruncatesWithoutMessages) {
    FakeHost h;
    h.screwed = true;
    Check(h, {
                 {"bra *+130", "20 80", 3, ""},
                 {"ldaa #256", "86 00", 1, ""},
                 {"ldaa <$1234", "96 34", 3, ""},
                 {"dbne a,*+300", "04 20 29", 3, ""},
                 {"lbra *+70000", "18 20 11 6C", 4, ""},
                 {"movb 20,x,0,y", "18 0A 14 40", 5, ""},
                 // parse errors are still errors
                 {"ldaa 9,x+", "", -1, "A2077([-8..-1, 1..8])"},
                 {"trap 1", "", -1, "A2076([$30..$ff])"},
             });
}

TEST(Hc12Encoder, MessageColumnsPointAtTheOperand) {
    FakeHost h;
    AsmLine(h, "ldaa   9,x+");
    ASSERT_EQ(h.messages.size(), 1u);
    EXPECT_EQ(h.messages[0].column, 3u); // the offset
    AsmLine(h, "bra  *+200");
    ASSERT_EQ(h.messages.size(), 1u);
    EXPECT_EQ(h.messages[0].column, 2u);
    AsmLine(h, "ldaa 0,x");
    EXPECT_TRUE(h.Scan().AtStatementEnd());
    AsmLine(h, "ldaa <$1234 ; c");
    ASSERT_EQ(h.messages.size(), 1u);
    EXPECT_EQ(h.messages[0].column, 1u);
    EXPECT_EQ(h.Scan().Rest(), " ; c"); // the warning leaves the scan position alone
}

TEST(Hc12Encoder, MalformedOperandsFailWithAMessage) {
    // Whatever the operand text, a handler either assembles the line or
    // reports why not; it never fails silently and never reads past the line.
    const char* operands[] = {"",   "[",       "[,",    ",",       "#",     "<",      ">",      "a,",
                              "[d", "1,+",     "1,x+,", "$",       "*",     "[d,x",   "]",      ",,",
                              "1,", "#1,",     "0,x,",  "a b",     "<>1",   "1,pcr,", "[1,pcr", "x,y",
                              "sp", "ccr,ccr", "a,*",   "#1,0,x,", ",x,,y", "1,-",    "+x"};
    for (const OpcodeEntry& row : OpcodeTable()) {
        for (const char* text : operands) {
            FakeHost h;
            const bool ok = h.Line(row.name, std::string(" ") + text);
            bool error = false;
            for (const Message& m : h.messages) error = error || m.number < 4000;
            EXPECT_NE(ok, error) << row.name << " " << text << ": " << Messages(h);
            EXPECT_LE(h.Scan().Pos(), h.Scan().Length());
            if (ok) {
                EXPECT_GT(h.Code().count, 0u) << row.name << " " << text;
            }
        }
    }
}

TEST(Hc12LineCode, ShapeWordAndCapacity) {
    LineCode code;
    code.Clear(0x1000);
    code.Put8(0x18);
    code.Put16(0x0A14);
    EXPECT_EQ(code.shape, 0x120u); // one byte, then one 16-bit item
    EXPECT_EQ(code.count, 3u);
    code.Clear(0);
    for (int i = 0; i < 4093; ++i) code.Put8(1);
    code.Put16(0x0203); // fits exactly: 4095 bytes
    EXPECT_EQ(code.count, 4095u);
    EXPECT_EQ(code.bytes[4093], 2);
    EXPECT_EQ(code.bytes[4094], 3);
    code.Put8(9); // full: ignored
    EXPECT_EQ(code.count, 4095u);
    code.Clear(0);
    for (int i = 0; i < 4094; ++i) code.Put8(1);
    code.Put16(0x0203); // only one byte left: the item is ignored whole
    EXPECT_EQ(code.count, 4094u);
    code.Put8(7);
    EXPECT_EQ(code.count, 4095u);
    EXPECT_EQ(code.bytes[4094], 7);
}

} // namespace
} // namespace qorb::hc12::test
