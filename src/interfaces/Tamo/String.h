// Tamo::String: the framework's 8-bit text type, the one text type of the system.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Tamo {

class String {
public:
    String() = default;
    String(const char* text) : _text(text ? text : "") {}
    String(std::string text) : _text(std::move(text)) {}
    String(std::string_view text) : _text(text) {}

    int32_t Length() const { return static_cast<int32_t>(_text.size()); }
    const char* CStr() const { return _text.c_str(); }
    operator const char*() const { return _text.c_str(); }
    const std::string& Std() const { return _text; }

    // Numbers are read from the text's beginning the way strtol/strtod read them in the "C"
    // locale, whatever locale the host process chose; text that is no number gives 0. Integers
    // saturate at the limits of their type.
    int32_t ToInt() const;
    int64_t ToInt64() const;
    float ToFloat() const;
    double ToDouble() const;

    static String FromInt(int64_t value);
    static String FromUInt(uint64_t value);
    // Shortest decimal text that reads back to the same value, plain notation (no exponent), with
    // a decimal point in every locale.
    static String FromFloat(float value);
    static String FromDouble(double value);

    bool StartsWith(const String& prefix) const {
        return _text.compare(0, prefix._text.size(), prefix._text) == 0;
    }
    // Position of the first occurrence of `text` at or after `from`, or -1.
    int32_t IndexOf(const String& text, int32_t from = 0) const;
    String Substring(int32_t start, int32_t length = -1) const;

    bool operator==(const String& other) const { return _text == other._text; }
    bool operator!=(const String& other) const { return _text != other._text; }
    bool operator==(const char* other) const { return _text == (other ? other : ""); }
    bool operator!=(const char* other) const { return !(*this == other); }
    bool operator<(const String& other) const { return _text < other._text; }

    String operator+(const String& other) const { return String(_text + other._text); }
    String operator+(const char* other) const { return String(_text + (other ? other : "")); }
    String& operator+=(const String& other) {
        _text += other._text;
        return *this;
    }

private:
    std::string _text;
};

inline String operator+(const char* left, const String& right) {
    return String(std::string(left ? left : "") + right.Std());
}

} // namespace Tamo
