// The line map reader: over maps the assembler writes (macros, repeat
// blocks, includes, symbols, the start address) and over damaged ones.

#include "linemap_reader.h"

#include <fstream>
#include <iterator>
#include <random>

#include "debug_testing.h"

namespace qorb::debug {
namespace {

using testing::Assemble;
using testing::TempFolder;

constexpr const char* kMacroProgram = R"(twice   macro
        inx
        inx
        endm
        org     $1000
start   ldaa    #1
; a comment
        twice
        rept    2
        incb
        endr

        include "part.inc"
        twice
count   rmb     2
        end     start
)";

class MapOfProgram : public ::testing::Test {
protected:
    void SetUp() override {
        dir_.Write("part.inc", "        nop\n        nop\n");
        const std::string object = Assemble(dir_, "prog.asm", kMacroProgram);
        std::string error;
        ASSERT_TRUE(map_.Load(std::filesystem::path(object).replace_extension(".dbg").string(), error))
            << error;
    }
    TempFolder dir_;
    LineMapReader map_;
};

TEST_F(MapOfProgram, EveryRecordKindIsRead) {
    EXPECT_EQ(map_.Target(), "68HC12");
    ASSERT_EQ(map_.Files().size(), 2u);
    EXPECT_EQ(map_.FileName(1), "prog.asm");
    EXPECT_EQ(map_.FileName(2), "part.inc");
    EXPECT_EQ(map_.FindFile(dir_ / "part.inc"), 2u);
    EXPECT_EQ(map_.FindFile("prog.asm"), 1u);
    EXPECT_EQ(map_.FindFile(dir_ / "other.asm"), 0u);
    ASSERT_TRUE(map_.Entry());
    EXPECT_EQ(*map_.Entry(), 0x1000u);
    bool sawStart = false, sawCount = false;
    for (const MapSymbol& s : map_.Symbols()) {
        if (s.name == "start") {
            sawStart = true;
            EXPECT_EQ(s.value, 0x1000u);
            EXPECT_EQ(s.kind, "label");
            EXPECT_EQ(s.where, (SourcePlace{1, 6}));
        }
        if (s.name == "count") sawCount = true;
    }
    EXPECT_TRUE(sawStart);
    EXPECT_TRUE(sawCount);
}

TEST_F(MapOfProgram, AddressToLineWithCallChain) {
    // ldaa #1 (2 bytes), twice (inx inx), rept: incb incb, include: nop nop,
    // twice again, rmb.
    const PlacedRange* r = map_.At(0x1001);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->chain, (std::vector<SourcePlace>{{1, 6}}));
    r = map_.At(0x1003);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->chain, (std::vector<SourcePlace>{{1, 3}, {1, 8}}));
    EXPECT_EQ(map_.Describe(r->chain), "prog.asm:3 (from prog.asm:8)");
    r = map_.At(0x1005);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->chain, (std::vector<SourcePlace>{{1, 10}, {1, 11}}));
    r = map_.At(0x1007);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->chain, (std::vector<SourcePlace>{{2, 2}}));
    ASSERT_NE(map_.At(0x100B), nullptr); // the rmb's bytes
    EXPECT_EQ(map_.At(0x0FFF), nullptr);
    EXPECT_EQ(map_.At(0x100C), nullptr);
}

TEST_F(MapOfProgram, LineToAddresses) {
    // A macro body line stops in every expansion; a call line once per
    // expansion, at its first byte; a repeat body line in every round, the
    // endr line once.
    EXPECT_EQ(map_.AddressesOf(1, 2), (std::vector<std::uint32_t>{0x1002, 0x1008}));
    EXPECT_EQ(map_.AddressesOf(1, 8), (std::vector<std::uint32_t>{0x1002}));
    EXPECT_EQ(map_.AddressesOf(1, 14), (std::vector<std::uint32_t>{0x1008}));
    EXPECT_EQ(map_.AddressesOf(1, 10), (std::vector<std::uint32_t>{0x1004, 0x1005}));
    EXPECT_EQ(map_.AddressesOf(1, 11), (std::vector<std::uint32_t>{0x1004}));
    EXPECT_EQ(map_.AddressesOf(2, 2), (std::vector<std::uint32_t>{0x1007}));
    EXPECT_TRUE(map_.AddressesOf(1, 7).empty());
    // Lines without code move to the next line with code; the include
    // line has none of its own (its file's lines have).
    EXPECT_EQ(map_.LineWithCode(1, 7), 8);
    EXPECT_EQ(map_.LineWithCode(1, 12), 14);
    EXPECT_EQ(map_.LineWithCode(1, 6), 6);
    EXPECT_FALSE(map_.LineWithCode(1, 16));
}

struct BadMap {
    const char* text;
    const char* message;
};

TEST(LineMapReader, DamagedMapsSayWhatIsWrong) {
    const BadMap cases[] = {
        {"", "empty file"},
        {"QORBMAP\t1\t68HC12\tx.asm\nF\t1\t/x.asm\nL\t1000\t2\t1", "truncated"},
        {"S1130000\n", "not a line map"},
        {"QORBMAP\t2\t68HC12\tx.asm\n", "version 2 is not supported"},
        {"QORBMAP\t1\n", "needs a version, a target"},
        {"QORBMAP\t1\t68HC12\tx.asm\nF\t2\t/x.asm\n", "count up from 1"},
        {"QORBMAP\t1\t68HC12\tx.asm\nL\t1000\t2\t1\t3\n", "(2): L record names file '1'"},
        {"QORBMAP\t1\t68HC12\tx.asm\nF\t1\t/x.asm\nL\t10G0\t2\t1\t3\n", "bad address '10G0'"},
        {"QORBMAP\t1\t68HC12\tx.asm\nF\t1\t/x.asm\nL\t1000\t0\t1\t3\n", "bad length"},
        {"QORBMAP\t1\t68HC12\tx.asm\nF\t1\t/x.asm\nL\t1000\t2\t1\n", "file/line pairs"},
        {"QORBMAP\t1\t68HC12\tx.asm\nF\t1\t/x.asm\nS\tx\t10\tlabel\n", "S record needs"},
        {"QORBMAP\t1\t68HC12\tx.asm\nE\n", "E record needs an address"},
    };
    for (const BadMap& c : cases) {
        LineMapReader r;
        std::string error;
        EXPECT_FALSE(r.Parse(c.text, "bad.dbg", error)) << c.text;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        EXPECT_EQ(error.rfind("bad.dbg", 0), 0u) << error;
        EXPECT_TRUE(r.Ranges().empty());
    }
}

TEST(LineMapReader, SkipsUnknownRecordsAndUnescapesPaths) {
    LineMapReader r;
    std::string error;
    ASSERT_TRUE(r.Parse("QORBMAP\t1\t68HC11\ta.asm\nF\t1\t/d/a\\tb\\\\c.asm\nX\tnew\tkind\n"
                        "L\t0010\t3\t1\t4\nE\tC000\n",
                        "m.dbg", error))
        << error;
    EXPECT_EQ(r.Files().at(0), "/d/a\tb\\c.asm");
    ASSERT_NE(r.At(0x12), nullptr);
    EXPECT_EQ(r.At(0x12)->chain.front().line, 4);
    EXPECT_EQ(r.Entry(), 0xC000u);
}

// Cut and damaged copies of a real map: each is read or refused with a
// message, never a crash (the sanitizer build runs this too).
TEST_F(MapOfProgram, DamagedCopiesAreReadOrRefused) {
    std::ifstream in(std::filesystem::path(dir_ / "prog.dbg"), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(text.size(), 100u);
    std::mt19937 random(12345);
    const char noise[] = {'\t', '\n', '\\', '0', 'F', 'L', 'S', 'E', '9', 'x', '\0', '\xFF'};
    for (int i = 0; i < 3000; ++i) {
        std::string damaged = text;
        switch (i % 3) {
        case 0: damaged.resize(random() % text.size()); break;
        case 1:
            for (int k = 0; k < 3; ++k) damaged[random() % damaged.size()] = noise[random() % sizeof noise];
            break;
        default: damaged.erase(random() % damaged.size(), 1 + random() % 20); break;
        }
        LineMapReader r;
        std::string error;
        if (!r.Parse(damaged, "damaged.dbg", error)) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        for (std::uint32_t a = 0xFF0; a < 0x1010; ++a) {
            const PlacedRange* p = r.At(a);
            if (!p) continue;
            for (const SourcePlace& place : p->chain) {
                EXPECT_LE(place.file, r.Files().size());
            }
        }
        for (int line = 1; line < 20; ++line) r.AddressesOf(1, line);
    }
}

TEST(LineMapReader, LoadFailsClearly) {
    TempFolder dir;
    LineMapReader r;
    std::string error;
    EXPECT_FALSE(r.Load(dir / "missing.dbg", error));
    EXPECT_NE(error.find("missing.dbg"), std::string::npos);
    EXPECT_FALSE(r.Load(dir / "", error));
    EXPECT_NE(error.find("folder"), std::string::npos) << error;
}

} // namespace
} // namespace qorb::debug
