// Breakpoints following their lines through edits, and their settings form.

#include "breakpoints.h"

#include <gtest/gtest.h>

namespace qorb::debug {
namespace {

FileBreakpoints Make(std::initializer_list<int> lines) {
    FileBreakpoints b;
    for (int l : lines) b.Add(l);
    return b;
}

TEST(FileBreakpoints, FollowTheirLinesThroughEdits) {
    struct Case {
        LineEdit edit;
        std::vector<int> after;
    };
    // Breakpoints on 3, 10 and 20.
    const Case cases[] = {
        {{1, 0, 2}, {5, 12, 22}},  // two lines inserted at the top
        {{10, 0, 1}, {3, 11, 21}}, // a line inserted before line 10 moves it
        {{11, 0, 4}, {3, 10, 24}}, // inserted after line 10: it stays
        {{4, 3, 0}, {3, 7, 17}},   // lines 4-6 deleted above
        {{10, 1, 0}, {3, 19}},     // line 10 deleted: its breakpoint goes
        {{10, 1, 1}, {3, 10, 20}}, // line 10 changed in place
        {{10, 1, 2}, {3, 10, 21}}, // a line break typed in line 10
        {{9, 3, 1}, {3, 18}},      // lines 9-11 replaced by one: 9 kept, 10 gone
        {{2, 0, 0}, {3, 10, 20}},  // nothing
        {{25, 5, 0}, {3, 10, 20}}, // below the last breakpoint
    };
    for (const Case& c : cases) {
        FileBreakpoints b = Make({3, 10, 20});
        b.Apply(c.edit);
        EXPECT_EQ(b.Lines(), c.after)
            << "edit at " << c.edit.line << " -" << c.edit.removed << " +" << c.edit.inserted;
    }
}

TEST(FileBreakpoints, EditsAccumulate) {
    FileBreakpoints b = Make({5});
    b.Apply({1, 0, 1}); // 6
    b.Apply({6, 0, 1}); // 7
    b.Apply({2, 2, 0}); // 5
    b.Apply({1, 0, 3}); // 8
    EXPECT_EQ(b.Lines(), std::vector<int>{8});
}

TEST(FileBreakpoints, ToggleAndSettingsForm) {
    FileBreakpoints b;
    EXPECT_TRUE(b.Toggle(40));
    EXPECT_TRUE(b.Toggle(12));
    EXPECT_TRUE(b.Toggle(41));
    EXPECT_FALSE(b.Toggle(12));
    EXPECT_TRUE(b.Toggle(12));
    EXPECT_EQ(b.Serialize(), "12,40,41");
    std::string error;
    auto back = FileBreakpoints::Parse(b.Serialize(), error);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Lines(), b.Lines());
    back = FileBreakpoints::Parse(" 7 , 3,7 ", error);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Lines(), (std::vector<int>{3, 7}));
    back = FileBreakpoints::Parse("", error);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->Empty());
}

TEST(FileBreakpoints, BadSettingsAreRefused) {
    for (const char* text : {"12,", ",12", "12;13", "0", "-3", "12,x", "99999999999", "1 2"}) {
        std::string error;
        EXPECT_FALSE(FileBreakpoints::Parse(text, error)) << text;
        EXPECT_NE(error.find("breakpoint list"), std::string::npos) << text;
    }
}

} // namespace
} // namespace qorb::debug
