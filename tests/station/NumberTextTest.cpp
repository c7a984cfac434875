// Numbers read from register and feature texts: the same in every locale, and bounded at the edges.
#include "Devices.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace zeb::station {

TEST(NumberText, WholeTextMustBeOneFiniteNumber) {
    EXPECT_EQ(ParseNumber("2.5"), 2.5);
    EXPECT_EQ(ParseNumber("  +2.5"), 2.5);
    EXPECT_EQ(ParseNumber("-1e3"), -1000.0);
    EXPECT_EQ(ParseNumber(".5"), 0.5);
    const std::string withNul("1\0002", 3);
    const std::string refused[] = {"",     " ",   "+",    "+-1", "1,5",   "2.5 ", "2.5x",
                                   "0x10", "inf", "-inf", "nan", "1e999", withNul};
    for (const std::string& text : refused)
        EXPECT_FALSE(ParseNumber(text).has_value()) << '"' << text << '"';
}

TEST(NumberText, LeadingNumberReadsTheBeginningAsTheCLibraryDoes) {
    const double infinity = std::numeric_limits<double>::infinity();
    EXPECT_EQ(LeadingNumber("12.5ms"), 12.5);
    EXPECT_EQ(LeadingNumber("1,5"), 1.0); // a decimal comma ends the number, whatever the locale
    EXPECT_EQ(LeadingNumber("\t+7"), 7.0);
    EXPECT_EQ(LeadingNumber("abc"), 0.0);
    EXPECT_EQ(LeadingNumber(""), 0.0);
    EXPECT_EQ(LeadingNumber("inf"), infinity); // an exposure without end
    EXPECT_EQ(LeadingNumber("-inf"), -infinity);
    EXPECT_EQ(LeadingNumber("nan"), 0.0);
    EXPECT_EQ(LeadingNumber("1e400"), infinity);
    EXPECT_EQ(LeadingNumber("-1e400"), -infinity);
    EXPECT_EQ(LeadingNumber(std::string(400, '9')), infinity);
    EXPECT_EQ(LeadingNumber("1e-400"), 0.0);
    EXPECT_EQ(LeadingNumber("-1e-400"), 0.0);
    EXPECT_EQ(LeadingNumber("0." + std::string(400, '0') + "1"), 0.0);
    EXPECT_EQ(LeadingNumber("0.001e400"), infinity);
    EXPECT_EQ(LeadingNumber("1000e-400"), 0.0);
    EXPECT_EQ(LeadingNumber("1e99999999999999999999"), infinity);
    EXPECT_EQ(LeadingNumber("1e-99999999999999999999"), 0.0);
}

TEST(NumberText, LeadingIntegerStopsAtTheFirstOtherCharacterAndSaturates) {
    EXPECT_EQ(LeadingInteger("1024"), 1024);
    EXPECT_EQ(LeadingInteger("12.9"), 12);
    EXPECT_EQ(LeadingInteger(" +3x"), 3);
    EXPECT_EQ(LeadingInteger("-4"), -4);
    EXPECT_EQ(LeadingInteger("x"), 0);
    EXPECT_EQ(LeadingInteger("99999999999999999999"), INT64_MAX);
    EXPECT_EQ(LeadingInteger("-99999999999999999999"), INT64_MIN);
    EXPECT_EQ(LeadingInteger("0F", 16), 15);
    EXPECT_EQ(LeadingInteger("ff", 16), 255);
    EXPECT_EQ(LeadingInteger("g1", 16), 0);
}

} // namespace zeb::station
