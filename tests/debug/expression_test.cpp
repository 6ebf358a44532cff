// Watch expressions against the assembler itself: each expression is
// assembled as an equate and the value the assembler wrote into the line
// map must be the value the watch evaluator gives.

#include "expression.h"

#include "debug_testing.h"
#include "linemap_reader.h"

namespace qorb::debug {
namespace {

using testing::Assemble;
using testing::TempFolder;

const char* const kExpressions[] = {
    "1+2*3",
    "(1+2)*3",
    "10-2-3",
    "100/7/2",
    "100%7*2",
    "1<<4|1",
    "1 << 2 + 1",
    "$F0&$3C|1",
    "$F0!.$3C!+1",
    "6^3&1",
    "6!x3",
    "-5/2",
    "-5%3",
    "~0",
    "!0+!7",
    "-(3)",
    "2 > 1 && 0 || 4",
    "3 = 3",
    "3 == 4",
    "3 != 4",
    "3 <> 3",
    "2 <= 2",
    "2 >= 3",
    "1 < 2 < 3",
    "$7FFFFFFF+1",
    "-1>>4",
    "1!<8!>2",
    "%1010+@17",
    "0x1F+1Fh",
    "101b+17q+17o",
    "12d+12",
    "'A'+'\\n'",
    "low($1234)",
    "high($1234)",
    "page($123456)",
    "HIGH(base)+1",
    "base+2*size",
    "Base",
    "defined(base)",
    "defined(nope)",
    "size*size-base/3",
};

TEST(WatchExpressions, SameValuesAsTheAssembler) {
    TempFolder dir;
    std::string source = "base equ $0C00\nsize equ 24\n";
    for (std::size_t i = 0; i < std::size(kExpressions); ++i)
        source += "e" + std::to_string(i) + " equ " + kExpressions[i] + "\n";
    const std::string object = Assemble(dir, "exprs.asm", source + "        org $1000\n        nop\n");
    LineMapReader map;
    std::string error;
    ASSERT_TRUE(map.Load(std::filesystem::path(object).replace_extension(".dbg").string(), error)) << error;

    ExpressionContext context;
    context.symbol = [&](const std::string& name) -> std::optional<std::int32_t> {
        for (const MapSymbol& s : map.Symbols())
            if (s.name == name || (name == "Base" && s.name == "base"))
                return static_cast<std::int32_t>(s.value);
        return std::nullopt;
    };
    for (std::size_t i = 0; i < std::size(kExpressions); ++i) {
        const auto expected = context.symbol("e" + std::to_string(i));
        ASSERT_TRUE(expected) << kExpressions[i];
        const auto got = EvaluateExpression(kExpressions[i], context, error);
        ASSERT_TRUE(got) << kExpressions[i] << ": " << error;
        EXPECT_EQ(*got, *expected) << kExpressions[i];
    }
}

TEST(WatchExpressions, LocationIsThePc) {
    ExpressionContext context;
    context.location = 0x1234;
    std::string error;
    EXPECT_EQ(EvaluateExpression("*+2", context, error), 0x1236);
    EXPECT_EQ(EvaluateExpression("$ - 4", context, error), 0x1230);
}

TEST(WatchExpressions, FaultsAreNamed) {
    ExpressionContext context;
    context.symbol = [](const std::string& n) -> std::optional<std::int32_t> {
        if (n == "zero") return 0;
        return std::nullopt;
    };
    const std::pair<const char*, const char*> cases[] = {
        {"", "missing expression"},
        {"1+", "missing expression"},
        {"4/zero", "division by zero"},
        {"4%0", "division by zero"},
        {"nosuch+1", "unknown symbol 'nosuch'"},
        {"(1+2", "missing ')'"},
        {"12q3", "bad number"},
        {"$12 $13", "unexpected"},
        {"1$", "local labels"},
        {"sqrt(4)", "unknown function"},
        {"1 + #2", "bad number"},
    };
    for (const auto& [text, message] : cases) {
        std::string error;
        EXPECT_FALSE(EvaluateExpression(text, context, error)) << text;
        EXPECT_NE(error.find(message), std::string::npos) << text << " -> " << error;
    }
    std::string deep(300, '(');
    std::string error;
    EXPECT_FALSE(EvaluateExpression(deep + "1" + std::string(300, ')'), context, error));
    EXPECT_NE(error.find("256"), std::string::npos) << error;
}

} // namespace
} // namespace qorb::debug
