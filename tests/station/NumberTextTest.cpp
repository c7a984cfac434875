// Numbers read from register and feature texts: the same in every locale, and bounded at the edges.
#include "Devices.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <tuple>
#include <utility>

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
    // "inf" is an exposure without end; numbers beyond the double's range saturate.
    for (const std::string& text : {std::string("inf"), std::string("1e400"), std::string(400, '9'),
                                    std::string("0.001e400"), std::string("1e99999999999999999999")})
        EXPECT_EQ(LeadingNumber(text), infinity) << text;
    for (const char* text : {"-inf", "-1e400"})
        EXPECT_EQ(LeadingNumber(text), -infinity) << text;
    for (const std::string& text :
         {std::string("abc"), std::string(), std::string("nan"), std::string("1e-400"),
          std::string("-1e-400"), "0." + std::string(400, '0') + "1", std::string("1000e-400"),
          std::string("1e-99999999999999999999")})
        EXPECT_EQ(LeadingNumber(text), 0.0) << text;
}

TEST(NumberText, LeadingIntegerStopsAtTheFirstOtherCharacterAndSaturates) {
    const std::tuple<const char*, int, int64_t> cases[] = {
        {"1024", 10, 1024}, {"12.9", 10, 12}, {" +3x", 10, 3},
        {"-4", 10, -4},     {"x", 10, 0},     {"99999999999999999999", 10, INT64_MAX},
        {"0F", 16, 15},     {"ff", 16, 255},  {"-99999999999999999999", 10, INT64_MIN},
        {"g1", 16, 0}};
    for (const auto& [text, base, number] : cases)
        EXPECT_EQ(LeadingInteger(text, base), number) << text;
}

} // namespace zeb::station
