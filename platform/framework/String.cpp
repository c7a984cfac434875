#include "Tamo/String.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace Tamo {

int32_t String::ToInt() const {
    const int64_t value = ToInt64();
    if (value > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

int64_t String::ToInt64() const {
    errno = 0;
    const long long value = std::strtoll(_text.c_str(), nullptr, 10);
    return static_cast<int64_t>(value);
}

float String::ToFloat() const {
    return std::strtof(_text.c_str(), nullptr);
}

double String::ToDouble() const {
    return std::strtod(_text.c_str(), nullptr);
}

String String::FromInt(int64_t value) {
    return String(std::to_string(value));
}

String String::FromUInt(uint64_t value) {
    return String(std::to_string(value));
}

namespace {
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
