// Tamo::Log: the framework's process-wide log.
#pragma once

#include "Tamo/String.h"

#include <atomic>
#include <concepts>
#include <initializer_list>
#include <type_traits>
#include <variant>

namespace Tamo {

// One argument of a printf-style message, kept with the type the caller passed: the formatting
// reads each value by that type, whatever length modifier the conversion names.
class FormatArgument {
public:
    template <std::signed_integral T>
    FormatArgument(T value) : _value(static_cast<int64_t>(value)), _bytes(sizeof(T)) {}
    template <std::unsigned_integral T>
    FormatArgument(T value) : _value(static_cast<uint64_t>(value)), _bytes(sizeof(T)) {}
    template <std::floating_point T> FormatArgument(T value) : _value(static_cast<double>(value)) {}
    template <typename T>
    requires std::is_enum_v<T> FormatArgument(T value)
        : FormatArgument(static_cast<std::underlying_type_t<T>>(value)) {}
    FormatArgument(const char* text) : _value(text) {}
    FormatArgument(const void* pointer) : _value(pointer) {}

    // Exactly one of these holds the value.
    const int64_t* Signed() const { return std::get_if<int64_t>(&_value); }
    const uint64_t* Unsigned() const { return std::get_if<uint64_t>(&_value); }
    const double* Floating() const { return std::get_if<double>(&_value); }
    const char* const* Text() const { return std::get_if<const char*>(&_value); }
    const void* const* Pointer() const { return std::get_if<const void*>(&_value); }
    // Size in bytes of an integer as the caller passed it.
    int32_t Bytes() const { return _bytes; }

private:
    std::variant<int64_t, uint64_t, double, const char*, const void*> _value;
    int32_t _bytes = 8;
};

// Level numbers as the framework defines them; a line is written when its number is at most the
// set level.
enum LogLevel : int32_t {
    Critical = 0,
    Error = 1,
    Warning = 2,
    Notify = 3,
    Debug = 4,
    Dump = 5,
    Success = 6
};

class Log {
public:
    // Starts writing lines; before this call every line is dropped.
    static void Initialize();
    static void SetLogLevel(int32_t level);
    static void SetLogPath(const String& path);
    static void Write(int32_t level, const String& message, int32_t line, const String& function,
                      const String& file);

    // True when a line of this level would be written; callers test it before they format.
    static bool Enabled(int32_t level) {
        return _running.load(std::memory_order_relaxed) && level <= _level.load(std::memory_order_relaxed);
    }
    // The level word of a level number ("Notify", "Dump", ...).
    static const char* LevelWord(int32_t level);

    // printf-style message, cut as a 2000-byte buffer with a size limit of 1999 cuts it (at most
    // 1998 characters). Numbers are written as in the "C" locale, whatever locale the host chose.
    template <typename... Args> static String Format(const char* format, Args... args) {
        return FormatList(format, {FormatArgument(args)...});
    }
    static String FormatList(const char* format, std::initializer_list<FormatArgument> arguments);

    // Formats and writes one line, formatting only when the level is on.
    template <typename... Args>
    static void WriteFormat(int32_t level, int32_t line, const char* function, const char* file,
                            const char* format, Args... args) {
        if (!Enabled(level))
            return;
        if constexpr (sizeof...(Args) == 0)
            Write(level, String(format), line, function, file);
        else
            Write(level, Format(format, args...), line, function, file);
    }

    // Test and shutdown support: stop writing and forget the file.
    static void Shutdown();

private:
    static std::atomic<bool> _running;
    static std::atomic<int32_t> _level;
};

} // namespace Tamo
