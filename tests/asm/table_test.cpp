// The table toolkit: every command table is in the order the halving search
// needs, the order check finds what would break the search, and lookups fold
// case only where they are meant to.

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "core/directives.h"
#include "core/preprocessor.h"
#include "core/table.h"
#include "hc11/opcodes.h"
#include "hc11/target_hc11.h"
#include "hc12/opcodes.h"
#include "hc12/target_hc12.h"

namespace qorb {
namespace {

struct Row {
    const char* name;
};

TEST(Tables, EveryTableIsSortedForHalving) {
    EXPECT_TRUE(CheckDirectiveTable());
    EXPECT_TRUE(CheckPreprocessorTable());
    EXPECT_EQ(FirstUnsortedRow(hc12::OpcodeTable()), hc12::OpcodeTable().size());
    EXPECT_EQ(FirstUnsortedRow(hc11::OpcodeTable()), hc11::OpcodeTable().size());
}

TEST(Tables, OrderCheckFindsTheFirstRowOutOfPlace) {
    const Row sorted[] = {{"Zeta"}, {"a"}, {"ab"}, {"b"}, {"\x80"}}; // bytes, unsigned
    EXPECT_EQ(FirstUnsortedRow(sorted), 5u);
    const Row twice[] = {{"a"}, {"b"}, {"b"}};
    EXPECT_EQ(FirstUnsortedRow(twice), 2u);
    const Row swapped[] = {{"a"}, {"c"}, {"b"}, {"d"}};
    EXPECT_EQ(FirstUnsortedRow(swapped), 2u);
    const Row prefix[] = {{"ab"}, {"a"}};
    EXPECT_EQ(FirstUnsortedRow(prefix), 1u);
    const Row high[] = {{"\x80"}, {"z"}};
    EXPECT_EQ(FirstUnsortedRow(high), 1u);
}

TEST(Tables, LookupFoldsOnlyWhenAsked) {
    const Row rows[] = {{"dc"}, {"dc.b"}, {"ds"}, {"org"}};
    EXPECT_EQ(FindRow(rows, "dc.b"), &rows[1]);
    EXPECT_EQ(FindRow(rows, "DC.B"), nullptr);
    EXPECT_EQ(FindRow(rows, "DC.B", Folding::Lower), &rows[1]);
    EXPECT_EQ(FindRow(rows, "oRg", Folding::Lower), &rows[3]);
    EXPECT_EQ(FindRow(rows, "d"), nullptr);
    EXPECT_EQ(FindRow(rows, ""), nullptr);
    EXPECT_EQ(FindRow(rows, std::string("dc\0b", 4)), nullptr);
    EXPECT_EQ(FindRow(rows, std::string(kMaxTableName + 1, 'a'), Folding::Lower), nullptr);
}

TEST(Tables, ValidationNamesTheFaultyRow) {
    const OpcodeEntry rows[] = {{"aba", 1, 0, 0}, {"abx", 1, 0, 0}, {"aby", 9, 0, 0}, {"abc", 1, 0, 0}};
    auto onlyOne = [](int cls) { return cls == 1; };
    std::size_t where = 99;
    EXPECT_EQ(ValidateTable(rows, onlyOne, &where), TableFault::BadClass);
    EXPECT_EQ(where, 2u);
    EXPECT_EQ(ValidateTable(
                  rows, [](int) { return true; }, &where),
              TableFault::OutOfOrder);
    EXPECT_EQ(where, 3u);
    EXPECT_EQ(ValidateTable(std::span(rows, 2), onlyOne), TableFault::None);
}

TEST(Tables, TargetsFindEveryMnemonicInAnyCase) {
    for (const Target* t : {&hc12::GetTarget(), &hc11::GetTarget()}) {
        const auto table = t == &hc12::GetTarget() ? hc12::OpcodeTable() : hc11::OpcodeTable();
        for (const OpcodeEntry& e : table) {
            std::string upper = e.name;
            for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            EXPECT_EQ(t->FindInstruction(e.name), &e);
            EXPECT_EQ(t->FindInstruction(upper), &e) << upper;
        }
        EXPECT_EQ(t->FindInstruction("org"), nullptr);
    }
}

} // namespace
} // namespace qorb
