#include "Tamo/String.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace Tamo {

namespace {

// A number's text as strtol and strtod see it: white space skipped, then at most one sign. The
// digits are read by std::from_chars, which follows no locale, so a host that switched to a
// comma-decimal language still reads "2.5" as 2.5.
struct NumberText {
    const char* digits;
    const char* end;
    bool negative;
};

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsSign(char c) {
    return c == '+' || c == '-';
}

NumberText Split(const std::string& text) {
    const char* at = text.data();
    const char* const end = at + text.size();
    while (at < end && IsSpace(*at))
        ++at;
    const bool negative = at < end && *at == '-';
    if (at < end && IsSign(*at))
        ++at;
    return {at, end, negative};
}

bool IsDigitOf(char c, bool hex) {
    const auto u = static_cast<unsigned char>(c);
    return (c >= '0' && c <= '9') || (hex && ((u | 0x20) >= 'a' && (u | 0x20) <= 'f'));
}

// For a number too large or too small for its type: true when it is too large. Compares the order
// of the first significant digit plus the exponent with zero; any number out of range lies far on
// one side of it.
bool TooLarge(const char* at, const char* end, bool hex) {
    const int64_t digitWeight = hex ? 4 : 1; // the exponent of "p" counts bits
    const char exponentMark = hex ? 'p' : 'e';
    int64_t order = 0;
    bool significant = false, fraction = false;
    for (; at < end; ++at) {
        if (*at == '.') {
            fraction = true;
        } else if (IsDigitOf(*at, hex)) {
            significant = significant || *at != '0';
            if (significant && !fraction)
                order += digitWeight;
            else if (!significant && fraction)
                order -= digitWeight;
        } else {
            break;
        }
    }
    if (at < end && (*at | 0x20) == exponentMark) {
        ++at;
        const bool negative = at < end && *at == '-';
        if (at < end && IsSign(*at))
            ++at;
        int64_t exponent = 0;
        for (; at < end && *at >= '0' && *at <= '9'; ++at)
            exponent = std::min<int64_t>(exponent * 10 + (*at - '0'), int64_t{1} << 40);
        order += negative ? -exponent : exponent;
    }
    return significant && order > 0;
}

template <typename T> T ReadFloating(const std::string& text) {
    const NumberText number = Split(text);
    const char* digits = number.digits;
    auto format = std::chars_format::general;
    if (number.end - digits > 2 && digits[0] == '0' && (digits[1] | 0x20) == 'x') {
        digits += 2;
        format = std::chars_format::hex;
    }
    if (digits == number.end || IsSign(*digits))
        return T(0);
    T value = 0;
    const auto result = std::from_chars(digits, number.end, value, format);
    if (result.ec == std::errc::result_out_of_range)
        value = TooLarge(digits, result.ptr, format == std::chars_format::hex)
                    ? std::numeric_limits<T>::infinity()
                    : T(0);
    else if (result.ec != std::errc())
        return T(0);
    return number.negative ? -value : value;
}

template <typename T> String ShortestPlain(T value) {
    if (std::isnan(value))
        return String("nan");
    if (std::isinf(value))
        return String(value < 0 ? "-inf" : "inf");
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    return String(std::string_view(buffer, static_cast<size_t>(result.ptr - buffer)));
}

} // namespace

int32_t String::ToInt() const {
    const int64_t value = ToInt64();
    if (value > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

int64_t String::ToInt64() const {
    const NumberText number = Split(_text);
    uint64_t magnitude = 0;
    const auto result = std::from_chars(number.digits, number.end, magnitude);
    if (result.ec == std::errc::result_out_of_range)
        magnitude = std::numeric_limits<uint64_t>::max();
    else if (result.ec != std::errc())
        return 0;
    constexpr uint64_t largest = std::numeric_limits<int64_t>::max();
    if (number.negative)
        return magnitude > largest ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(magnitude);
    return magnitude > largest ? std::numeric_limits<int64_t>::max() : static_cast<int64_t>(magnitude);
}

float String::ToFloat() const {
    return ReadFloating<float>(_text);
}

double String::ToDouble() const {
    return ReadFloating<double>(_text);
}

String String::FromInt(int64_t value) {
    return String(std::to_string(value));
}

String String::FromUInt(uint64_t value) {
    return String(std::to_string(value));
}

String String::FromFloat(float value) {
    return ShortestPlain(value);
}

String String::FromDouble(double value) {
    return ShortestPlain(value);
}

int32_t String::IndexOf(const String& text, int32_t from) const {
    if (from < 0 || static_cast<size_t>(from) > _text.size())
        return -1;
    const size_t at = _text.find(text._text, static_cast<size_t>(from));
    return at == std::string::npos ? -1 : static_cast<int32_t>(at);
}

String String::Substring(int32_t start, int32_t length) const {
    if (start < 0 || static_cast<size_t>(start) >= _text.size())
        return String();
    return String(_text.substr(static_cast<size_t>(start),
                               length < 0 ? std::string::npos : static_cast<size_t>(length)));
}

} // namespace Tamo
