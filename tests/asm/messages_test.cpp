// The message catalogue and the report rules that no source line can reach.

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>

#include "core/assembler.h"
#include "core/messages.h"
#include "hc11/target_hc11.h"
#include "hc12/target_hc12.h"

namespace qorb {
namespace {

std::string Capture(Assembler& as, int number, std::initializer_list<MsgArg> args = {}) {
    std::FILE* f = std::tmpfile();
    as.SetOutput(f, f);
    as.Report(static_cast<Msg>(number), args);
    std::fflush(f);
    std::rewind(f);
    std::string text;
    char buf[512];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
    as.SetOutput(stdout, stderr);
    return text;
}

TEST(Catalogue, GroupFallbacksAndTableEnd) {
    EXPECT_STREQ(CatalogueText(4150), "\n");
    EXPECT_STREQ(CatalogueText(2500), "unknown error; contact technical support\n\n");
    EXPECT_STREQ(CatalogueText(1999), nullptr);
    EXPECT_STREQ(CatalogueText(1013), "unknown fatal error; contact technical support\n\n");
    EXPECT_STREQ(CatalogueText(2085), "X, Y, SP or PC expected\n");
    EXPECT_STREQ(CatalogueText(2086), CatalogueText(2000));
    EXPECT_STREQ(CatalogueText(4009), "ignoring start address in an included file\n");
    EXPECT_STREQ(CatalogueText(4010), CatalogueText(4000));
    EXPECT_STREQ(CatalogueText(4999), nullptr);
    EXPECT_STREQ(CatalogueText(5004), "'-mc' accepts this line\n");
    EXPECT_STREQ(CatalogueText(5005), CatalogueText(5000));
    // A second text keeps its number and its own words.
    EXPECT_EQ(MessageNumber(Msg::HashNotAllowedInData), 2015);
    EXPECT_STREQ(CatalogueText(static_cast<int>(Msg::HashNotAllowedInData)), "'#' is not allowed in data\n");
    EXPECT_STREQ(CatalogueText(2015), "bad number\n");
    EXPECT_EQ(KindOf(Msg::HashNotAllowedInData), MsgKind::Error);
    EXPECT_STREQ(CatalogueText(3000), nullptr);
}

// Each id stands at its number's place in its group, so the number a call
// site names is the text it prints; and within what a program can print no
// text serves two numbers (the group heads aside, which are the fallbacks).
TEST(Catalogue, IdsAndTextsCorrespondOneToOne) {
    std::map<std::string, int> seen;
    for (const CatalogueGroup& g : CatalogueGroups()) {
        ASSERT_FALSE(g.rows.empty());
        for (std::size_t i = 0; i < g.rows.size(); ++i) {
            const int id = static_cast<int>(g.rows[i].id);
            SCOPED_TRACE(id);
            EXPECT_EQ(id, g.first + static_cast<int>(i));
            EXPECT_LE(id, g.last);
            EXPECT_EQ(KindOf(g.rows[i].id), KindOf(g.first));
            ASSERT_NE(g.rows[i].text, nullptr);
            EXPECT_EQ(std::string(g.rows[i].text).back(), '\n');
            EXPECT_STREQ(CatalogueText(g.rows[i].id), g.rows[i].text);
            if (i > 0) {
                EXPECT_TRUE(seen.emplace(g.rows[i].text, id).second) << "also " << seen[g.rows[i].text];
            }
        }
    }
    for (const CatalogueGroup& g : CatalogueGroups()) EXPECT_EQ(seen.count(g.rows[0].text), 0u) << g.first;
}

TEST(Catalogue, TargetTextsReplaceWithoutDuplicating) {
    for (const Target* t : {&hc12::GetTarget(), &hc11::GetTarget()}) {
        const TargetTexts& texts = t->Texts();
        std::map<int, int> overridden;
        for (std::size_t i = 0; i < texts.messageOverrideCount; ++i) {
            const MessageOverride& o = texts.messageOverrides[i];
            EXPECT_EQ(++overridden[static_cast<int>(o.id)], 1) << static_cast<int>(o.id);
            if (o.text) {
                EXPECT_STRNE(o.text, CatalogueText(o.id)) << static_cast<int>(o.id);
            }
        }
        std::map<std::string, int> seen;
        for (const CatalogueGroup& g : CatalogueGroups()) {
            const char* fallback = g.rows[0].text;
            for (int n = g.first + 1; n < g.first + static_cast<int>(g.rows.size()); ++n) {
                const char* text = CatalogueText(n, texts.messageOverrides, texts.messageOverrideCount);
                if (text == fallback) continue;
                EXPECT_TRUE(seen.emplace(text, n).second)
                    << texts.programName << " " << n << " also " << seen[text];
            }
        }
    }
}

TEST(Catalogue, KindsAndClasses) {
    EXPECT_EQ(KindOf(1998), MsgKind::Fatal);
    EXPECT_EQ(KindOf(2899), MsgKind::Invalid);
    EXPECT_EQ(KindOf(2900), MsgKind::CommandLineError);
    EXPECT_EQ(KindOf(4399), MsgKind::Invalid);
    EXPECT_EQ(WarningClass(4099), 1);
    EXPECT_EQ(WarningClass(4100), 2);
    EXPECT_EQ(WarningClass(4398), 4);
    EXPECT_EQ(WarningClass(4901), 0);
}

TEST(Catalogue, Formatting) {
    EXPECT_EQ(FormatText("%s(%d): ", {"x.asm", 12}), "x.asm(12): ");
    EXPECT_EQ(FormatText("A%04d", {42}), "A0042");
    EXPECT_EQ(FormatText("%-6s|%c%08x", {"ab", '*', 0x1234}), "ab    |*00001234");
    EXPECT_EQ(FormatText("'%u$'", {7u}), "'7$'");
    // Missing arguments never read garbage.
    EXPECT_EQ(FormatText("%s-%d", {}), "-0");
}

TEST(Report, NumbersOutsideEveryRangeSayTheTableIsCorrupt) {
    Assembler as(hc12::GetTarget(), Settings{});
    EXPECT_EQ(Capture(as, 3500), "\nFATAL ERROR: Message Table corrupt\n");
    EXPECT_EQ(as.Errors() + as.Warnings() + as.Fatals(), 0u);
}

TEST(Report, FallbackTextsAndPrefixes) {
    Assembler as(hc12::GetTarget(), Settings{});
    EXPECT_EQ(Capture(as, 2500), "Error A2500: unknown error; contact technical support\n\n");
    Settings all;
    all.warningLevel = 4;
    Assembler loud(hc12::GetTarget(), all);
    EXPECT_EQ(Capture(loud, 4150), "Warning A4150: \n");
    EXPECT_EQ(Capture(loud, 4901, {"q"}), "Command-line warning D4901: ignoring unknown option 'q'\n");
    EXPECT_EQ(Capture(loud, 5000), "Note A5000: unknown information message; contact technical support\n");
}

TEST(Report, WarningLevelFiltersWithoutCounting) {
    Assembler as(hc12::GetTarget(), Settings{});
    EXPECT_EQ(Capture(as, 4301), "");
    EXPECT_EQ(as.Warnings(), 0u);
    Settings none;
    none.warningLevel = 0;
    Assembler quiet(hc12::GetTarget(), none);
    EXPECT_EQ(Capture(quiet, 4001, {"x"}), "");
    EXPECT_EQ(Capture(quiet, 4904, {"Fo"}),
              "Command-line warning D4904: ignoring option 'Fo': missing argument\n");
    EXPECT_EQ(quiet.Warnings(), 1u);
}

TEST(Report, TargetTextsOverrideTheAddressingErrors) {
    Assembler hc11(hc11::GetTarget(), Settings{});
    EXPECT_EQ(Capture(hc11, 2071), "Error A2071: X or Y expected\n");
    EXPECT_EQ(Capture(hc11, 2080), "Error A2080: unknown error; contact technical support\n\n");
    Assembler hc12(hc12::GetTarget(), Settings{});
    EXPECT_EQ(Capture(hc12, 2080), "Error A2080: branch to illegal target\n");
}

} // namespace
} // namespace qorb

#include "core/directives.h"
#include "core/preprocessor.h"

namespace qorb {
namespace {

TEST(CommandTables, SortedForHalvingSearch) {
    EXPECT_TRUE(CheckDirectiveTable());
    EXPECT_TRUE(CheckPreprocessorTable());
    EXPECT_GE(FindDirective("dc.b"), 0);
    EXPECT_GE(FindDirective("zmb"), 0);
    EXPECT_GE(FindDirective("adr"), 0);
    EXPECT_EQ(FindDirective("DC.B"), -1); // callers fold to lower case first
    EXPECT_GE(FindPreprocessor("ifndef"), 0);
    EXPECT_EQ(FindPreprocessor("ifn"), -1);
}

} // namespace
} // namespace qorb
