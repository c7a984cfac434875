// Tamo::Log: the framework's process-wide log.
#pragma once

#include "Tamo/String.h"

#include <atomic>
#include <cstdio>

namespace Tamo {

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

    // printf-style message into a zero-filled 2000-byte buffer (at most 1999 characters).
    template <typename... Args> static String Format(const char* format, Args... args) {
        char buffer[2000] = {};
        std::snprintf(buffer, 1999, format, args...);
        return String(buffer);
    }

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
