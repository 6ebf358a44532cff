// The 68HC11 build ends the error range with its own addressing texts and has
// no entries for the numbers that only the 68HC12 build uses.

#include <gtest/gtest.h>

#include <string>

#include "core/messages.h"
#include "hc11/target_hc11.h"

namespace {

std::string Hc11Text(int number) {
    const qorb::TargetTexts& t = qorb::hc11::GetTarget().Texts();
    const char* text = qorb::CatalogueText(number, t.messageOverrides, t.messageOverrideCount);
    return text ? text : "<none>";
}

std::string BaseText(int number) {
    const char* text = qorb::CatalogueText(number, nullptr, 0);
    return text ? text : "<none>";
}

TEST(Hc11Messages, AddressingErrorsHaveTheirOwnTexts) {
    EXPECT_EQ(Hc11Text(2067), "inherent addressing illegal\n");
    EXPECT_EQ(Hc11Text(2068), "immediate addressing illegal\n");
    EXPECT_EQ(Hc11Text(2069), "inherent addressing required\n");
    EXPECT_EQ(Hc11Text(2070), "branch out of range %s\n");
    EXPECT_EQ(Hc11Text(2071), "X or Y expected\n");
}

TEST(Hc11Messages, NumbersOfTheOtherTargetFallBackToTheGroupText) {
    const std::string fallback = BaseText(2000);
    ASSERT_EQ(fallback, "unknown error; contact technical support\n\n");
    for (int n = 2072; n <= 2085; ++n) {
        EXPECT_EQ(Hc11Text(n), fallback) << n;
        EXPECT_NE(BaseText(n), fallback) << n;
    }
}

TEST(Hc11Messages, SharedNumbersAreUnchanged) {
    for (int n : {2000, 2007, 2011, 2027, 2066, 4102, 4104, 4301, 4302, 4303}) {
        EXPECT_EQ(Hc11Text(n), BaseText(n)) << n;
    }
}

} // namespace
