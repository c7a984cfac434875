#include "Numbers.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

namespace zeb::station {

namespace {

// Where the number of a text begins: after leading spaces and a plus sign.
const char* NumberStart(const std::string& text) {
    const char* at = text.c_str();
    while (*at == ' ' || *at == '\t' || *at == '\n' || *at == '\r' || *at == '\f' || *at == '\v')
        ++at;
    if (*at == '+' && at[1] != '-')
        ++at;
    return at;
}

} // namespace

std::optional<double> ParseNumber(const std::string& text) {
    const char* start = NumberStart(text);
    const char* end = text.c_str() + text.size();
    double value = 0;
    const auto [stop, error] = std::from_chars(start, end, value);
    if (error != std::errc() || stop != end || start == end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

namespace {

// Whether a decimal text that no double can hold is too large (rather than too close to 0): the
// power of ten of its first significant digit plus its exponent is positive.
bool TooLarge(const char* begin, const char* end) {
    const char* at = begin;
    if (at != end && *at == '-')
        ++at;
    int64_t power = 0;
    int64_t integerDigits = 0;
    bool significant = false;
    for (; at != end && std::isdigit(static_cast<unsigned char>(*at)); ++at)
        if (significant || *at != '0') {
            significant = true;
            ++integerDigits;
        }
    if (integerDigits > 0)
        power = integerDigits - 1;
    else if (at != end && *at == '.')
        for (power = -1, ++at; at != end && *at == '0'; ++at)
            --power;
    while (at != end && *at != 'e' && *at != 'E')
        ++at;
    int64_t exponent = 0;
    if (at != end) {
        const char* digits = at + 1;
        if (digits != end && *digits == '+')
            ++digits;
        if (std::from_chars(digits, end, exponent).ec == std::errc::result_out_of_range)
            exponent = *digits == '-' ? INT64_MIN / 2 : INT64_MAX / 2;
    }
    return power + exponent > 0;
}

} // namespace

double LeadingNumber(const std::string& text) {
    const char* start = NumberStart(text);
    double value = 0;
    const auto [stop, error] = std::from_chars(start, text.c_str() + text.size(), value);
    if (error == std::errc::result_out_of_range) {
        const double magnitude = TooLarge(start, stop) ? std::numeric_limits<double>::infinity() : 0.0;
        return start[0] == '-' ? -magnitude : magnitude;
    }
    return error == std::errc() && !std::isnan(value) ? value : 0;
}

int64_t LeadingInteger(const std::string& text, int base) {
    const char* start = NumberStart(text);
    int64_t value = 0;
    const auto [stop, error] = std::from_chars(start, text.c_str() + text.size(), value, base);
    if (error == std::errc::result_out_of_range)
        return start[0] == '-' ? INT64_MIN : INT64_MAX;
    return error == std::errc() ? value : 0;
}

std::string NumberText(double value) {
    if (std::isfinite(value) && value == std::floor(value) && std::fabs(value) < 9e15)
        return std::to_string(static_cast<int64_t>(value));
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    return std::string(buffer, result.ptr);
}

} // namespace zeb::station
