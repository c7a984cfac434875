// Numbers in register and feature texts, read and written the same way in every locale (a host may
// switch its process to decimal commas).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zeb::station {

// Decimal text of a number: integers plainly, other values shortest round-trip without exponent.
std::string NumberText(double value);
// Leading spaces and a plus sign are allowed, as the C library allows them.
// The whole text as a finite number; none when the text is anything else.
std::optional<double> ParseNumber(const std::string& text);
// The number the text begins with, as the C library reads it: "inf" and numbers too large for a
// double are infinite, numbers too close to 0 are 0; 0 when the text begins with no number.
double LeadingNumber(const std::string& text);
int64_t LeadingInteger(const std::string& text, int base = 10);

} // namespace zeb::station
