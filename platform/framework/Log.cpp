#include "Tamo/Log.h"

#include "ModuleLifetime.h"
#include "Tamo/Path.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <limits>
#include <mutex>
#include <string_view>
#include <type_traits>

namespace Tamo {

std::atomic<bool> Log::_running{false};
std::atomic<int32_t> Log::_level{LogLevel::Debug};

namespace {

// The framework's own log file when the settings name none.
constexpr const char* DefaultPath = "C:\\ProgramData\\Tamo\\Log\\Tamo.log";
// Room for a log file's path with its terminating zero; a longer path cannot be opened.
constexpr size_t PathCapacity = 4096;
using PathText = std::array<char, PathCapacity>;

// A path as the log keeps it: zero-terminated, empty when it does not fit.
constexpr PathText MakePathText(std::string_view text) {
    PathText path{};
    if (text.size() < PathCapacity)
        for (size_t i = 0; i < text.size(); ++i)
            path[i] = text[i];
    return path;
}

// The log file, opened (and its folder made) when the first line is written, so that a path set
// after Initialize leaves no empty file at the default place.
//
// Its state is made before any code runs and never destroyed: the framework outlives the plug-in
// that uses it, and a host may still call the plug-in after the module's static objects are gone
// (a channel released from the host's exit handler writes its line then).
struct LogFile {
    std::FILE* file = nullptr;
    PathText path = MakePathText(DefaultPath);
    bool unopenable = false; // the path could not be opened: not tried again until it changes
    std::atomic<bool> unloaded{false};

    void SetPath(std::string_view text) {
        Close();
        path = MakePathText(text); // empty when it does not fit: no file is opened
    }
    // The file opened for appending; null when there is no path or it cannot be opened.
    std::FILE* Open() const {
        if (path[0] == '\0')
            return nullptr;
        std::error_code ignored;
        const auto native = Path::Native(path.data());
        if (native.has_parent_path())
            std::filesystem::create_directories(native.parent_path(), ignored);
        return std::fopen(native.string().c_str(), "ab");
    }
    // True once the file is open for the next line.
    bool Ready() {
        if (!file && !unopenable) {
            file = Open();
            unopenable = !file;
        }
        return file != nullptr;
    }
    void Close() {
        if (file)
            std::fclose(file);
        file = nullptr;
        unopenable = false;
    }
};
static_assert(std::is_trivially_destructible_v<LogFile>, "the log's state must survive the module's unload");
constinit LogFile theFile;

// The lock of the log file while the module is loaded. At the module's unload, after every other
// piece has written its last line, the file is closed and the lock goes; a line written after that
// opens the file, is appended and closes it again.
struct LogLock {
    std::mutex mutex;
    ~LogLock() {
        std::lock_guard lock(mutex);
        theFile.Close();
        theFile.unloaded = true;
    }
};
[[gnu::init_priority(zeb::lifetime::Log)]] LogLock theLock;

// One field of a line as it is written: tabs, line ends and the other control characters become
// \t, \n, \r and \xHH, so that whatever a caller passes (a host's feature name, say) neither
// splits the line nor adds fields to it.
void AppendField(std::string& line, std::string_view text) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F)
            line += c;
        else if (c == '\t')
            line += "\\t";
        else if (c == '\n')
            line += "\\n";
        else if (c == '\r')
            line += "\\r";
        else
            line += {'\\', 'x', Hex[byte >> 4], Hex[byte & 15]};
    }
}

// A message is cut as a 2000-byte buffer written with a size limit of 1999 cuts it.
constexpr size_t MessageLimit = 1998;

// One printf conversion: "%", flags, width, precision, length modifier and conversion letter.
struct Conversion {
    std::string_view text; // as it stands in the format, for conversions that cannot be made
    std::string flags;
    int width = 0;
    int precision = -1; // none given
    char letter = 0;

    bool Has(char flag) const { return flags.find(flag) != std::string::npos; }
};

// Digits of a floating-point magnitude in the "C" locale's notation; `precision` < 0 asks for the
// shortest exact text (hexadecimal only).
std::string Digits(double magnitude, std::chars_format format, int precision) {
    std::string text(static_cast<size_t>(400 + std::max(precision, 0)), '\0');
    const auto result =
        precision < 0 ? std::to_chars(text.data(), text.data() + text.size(), magnitude, format)
                      : std::to_chars(text.data(), text.data() + text.size(), magnitude, format, precision);
    text.resize(static_cast<size_t>(result.ptr - text.data()));
    return text;
}

// Puts a decimal point into a number that has none, before its exponent if it has one ("#" flag).
void KeepPoint(std::string& text, char exponentMark) {
    if (text.find('.') != std::string::npos)
        return;
    const size_t at = text.find(exponentMark);
    text.insert(at == std::string::npos ? text.size() : at, 1, '.');
}

// %g: the shorter of %e and %f by printf's rule, trailing zeros removed unless "#" is given.
std::string General(double magnitude, int precision, bool keepZeros) {
    const int significant = precision < 0 ? 6 : std::max(precision, 1);
    const std::string scientific = Digits(magnitude, std::chars_format::scientific, significant - 1);
    const int exponent = magnitude == 0 ? 0 : std::atoi(scientific.c_str() + scientific.find('e') + 1);
    std::string text = significant > exponent && exponent >= -4
                           ? Digits(magnitude, std::chars_format::fixed, significant - 1 - exponent)
                           : scientific;
    if (keepZeros) {
        KeepPoint(text, 'e');
        return text;
    }
    const size_t exponentAt = std::min(text.find('e'), text.size());
    if (text.find('.') < exponentAt) {
        size_t end = exponentAt;
        while (text[end - 1] == '0')
            --end;
        if (text[end - 1] == '.')
            --end;
        text.erase(end, exponentAt - end);
    }
    return text;
}

// Sign, padding and justification of a formatted number or text.
std::string Padded(std::string prefix, std::string body, const Conversion& conversion, bool zeroPadding) {
    const size_t length = prefix.size() + body.size();
    const size_t width = static_cast<size_t>(conversion.width);
    if (width <= length)
        return prefix + body;
    if (conversion.Has('-'))
        return prefix + body + std::string(width - length, ' ');
    if (zeroPadding && conversion.Has('0'))
        return prefix + std::string(width - length, '0') + body;
    return std::string(width - length, ' ') + prefix + body;
}

std::string FloatingText(double value, const Conversion& conversion) {
    const char letter = static_cast<char>(conversion.letter | 0x20);
    const bool upper = conversion.letter != letter;
    const double magnitude = std::fabs(value);
    std::string prefix = std::signbit(value)   ? "-"
                         : conversion.Has('+') ? "+"
                         : conversion.Has(' ') ? " "
                                               : "";
    const int precision = conversion.precision;
    const int fixedPrecision = precision < 0 ? 6 : precision;
    std::string body;
    if (std::isnan(value)) {
        body = "nan";
    } else if (std::isinf(value)) {
        body = "inf";
    } else if (letter == 'f') {
        body = Digits(magnitude, std::chars_format::fixed, fixedPrecision);
        if (conversion.Has('#'))
            KeepPoint(body, 'e');
    } else if (letter == 'e') {
        body = Digits(magnitude, std::chars_format::scientific, fixedPrecision);
        if (conversion.Has('#'))
            KeepPoint(body, 'e');
    } else if (letter == 'g') {
        body = General(magnitude, precision, conversion.Has('#'));
    } else {
        prefix += "0x";
        body = Digits(magnitude, std::chars_format::hex, precision);
        if (conversion.Has('#'))
            KeepPoint(body, 'p');
    }
    if (upper) {
        for (char& c : prefix)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        for (char& c : body)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return Padded(prefix, body, conversion, std::isfinite(value));
}

// The argument as a floating-point value, converting integers.
double AsFloating(const FormatArgument& argument) {
    if (const double* value = argument.Floating())
        return *value;
    if (const int64_t* value = argument.Signed())
        return static_cast<double>(*value);
    if (const uint64_t* value = argument.Unsigned())
        return static_cast<double>(*value);
    return 0;
}

// The argument as an integer: its value, or the bits a conversion of another width would read.
// Floating values are cut towards zero, saturated at the limits.
int64_t AsSigned(const FormatArgument& argument) {
    if (const int64_t* value = argument.Signed())
        return *value;
    if (const uint64_t* value = argument.Unsigned())
        return static_cast<int64_t>(*value);
    if (const double* value = argument.Floating()) {
        if (std::isnan(*value))
            return 0;
        if (*value >= 9.2233720368547758e18)
            return std::numeric_limits<int64_t>::max();
        if (*value <= -9.2233720368547758e18)
            return std::numeric_limits<int64_t>::min();
        return static_cast<int64_t>(*value);
    }
    if (const void* const* pointer = argument.Pointer())
        return static_cast<int64_t>(reinterpret_cast<uintptr_t>(*pointer));
    return static_cast<int64_t>(reinterpret_cast<uintptr_t>(*argument.Text()));
}

// A signed argument read by an unsigned conversion gives the bits of its own width, as printf does.
uint64_t AsUnsigned(const FormatArgument& argument) {
    const int64_t value = AsSigned(argument);
    if (argument.Signed() && argument.Bytes() < 8)
        return static_cast<uint64_t>(value) & ((uint64_t{1} << (8 * argument.Bytes())) - 1);
    return static_cast<uint64_t>(value);
}

// Integers, characters, texts and pointers are not touched by the locale: the C library writes
// them, one conversion at a time, with the argument's full width.
template <typename T> std::string Printed(const std::string& format, T value) {
    char buffer[MessageLimit + 1];
    const int written = std::snprintf(buffer, sizeof buffer, format.c_str(), value);
    return std::string(buffer, static_cast<size_t>(std::clamp(written, 0, static_cast<int>(MessageLimit))));
}

// The C library's format of one conversion, with the given length modifier and letter.
std::string ConversionFormat(const Conversion& conversion, const char* length, char letter) {
    std::string text = "%" + conversion.flags;
    if (conversion.width > 0)
        text += std::to_string(conversion.width);
    if (conversion.precision >= 0)
        text += "." + std::to_string(conversion.precision);
    return text + length + letter;
}

std::string ArgumentText(const FormatArgument& argument) {
    if (const char* const* text = argument.Text())
        return *text ? *text : "(null)";
    if (argument.Floating())
        return String::FromDouble(*argument.Floating()).Std();
    if (argument.Unsigned())
        return std::to_string(*argument.Unsigned());
    return std::to_string(AsSigned(argument));
}

std::string ConversionText(const Conversion& conversion, const FormatArgument& argument) {
    switch (conversion.letter) {
    case 'd':
    case 'i':
        if (argument.Unsigned())
            return Printed(ConversionFormat(conversion, "ll", 'u'),
                           static_cast<unsigned long long>(*argument.Unsigned()));
        return Printed(ConversionFormat(conversion, "ll", 'd'), static_cast<long long>(AsSigned(argument)));
    case 'o':
    case 'u':
    case 'x':
    case 'X':
        return Printed(ConversionFormat(conversion, "ll", conversion.letter),
                       static_cast<unsigned long long>(AsUnsigned(argument)));
    case 'c':
        return Printed(ConversionFormat(conversion, "", 'c'), static_cast<int>(AsSigned(argument)));
    case 's':
        return Printed(ConversionFormat(conversion, "", 's'), ArgumentText(argument).c_str());
    case 'p':
        return Printed(ConversionFormat(conversion, "", 'p'),
                       reinterpret_cast<const void*>(AsSigned(argument)));
    default:
        return FloatingText(AsFloating(argument), conversion);
    }
}

// Reads a width or precision: digits, or "*" taking the next argument. Stays within the message
// limit, since nothing beyond it is ever seen.
int Number(const char*& at, const FormatArgument*& next, const FormatArgument* end, bool& negative) {
    int64_t value = 0;
    if (*at == '*') {
        ++at;
        value = next < end ? AsSigned(*next++) : 0;
    } else {
        for (; *at >= '0' && *at <= '9'; ++at)
            value = std::min<int64_t>(value * 10 + (*at - '0'), 1 << 30);
    }
    negative = value < 0;
    return static_cast<int>(std::min<int64_t>(value < 0 ? -value : value, MessageLimit + 1));
}

} // namespace

String Log::FormatList(const char* format, std::initializer_list<FormatArgument> arguments) {
    std::string text;
    const FormatArgument* next = arguments.begin();
    const char* at = format ? format : "";
    while (*at && text.size() < MessageLimit) {
        if (*at != '%') {
            text += *at++;
            continue;
        }
        const char* const start = at++;
        if (*at == '%') {
            text += *at++;
            continue;
        }
        Conversion conversion;
        for (; *at && std::strchr("-+ #0", *at); ++at)
            conversion.flags += *at;
        bool negative = false;
        conversion.width = Number(at, next, arguments.end(), negative);
        if (negative)
            conversion.flags += '-';
        if (*at == '.') {
            ++at;
            conversion.precision = Number(at, next, arguments.end(), negative);
            if (negative)
                conversion.precision = -1;
        }
        while (*at && std::strchr("hljztLq", *at))
            ++at;
        conversion.letter = *at;
        if (*at)
            ++at;
        conversion.text = std::string_view(start, static_cast<size_t>(at - start));
        if (!conversion.letter || !std::strchr("diouxXcspfFeEgGaA", conversion.letter) ||
            next == arguments.end())
            text += conversion.text; // no such conversion, or no argument for it: shown as written
        else
            text += ConversionText(conversion, *next++);
    }
    // The message ends at the limit, or earlier at a zero character ("%c" of 0).
    text.resize(std::min({text.size(), text.find('\0'), MessageLimit}));
    return String(std::move(text));
}

const char* Log::LevelWord(int32_t level) {
    switch (level) {
    case Critical:
        return "Critical";
    case Error:
        return "Error";
    case Warning:
        return "Warning";
    case Notify:
        return "Notify";
    case Debug:
        return "Debug";
    case Dump:
        return "Dump";
    case Success:
        return "Success";
    default:
        return "Level";
    }
}

void Log::Initialize() {
    std::lock_guard lock(theLock.mutex);
    theFile.Close();
    _running = true;
}

void Log::SetLogLevel(int32_t level) {
    _level = level;
}

void Log::SetLogPath(const String& path) {
    std::lock_guard lock(theLock.mutex);
    theFile.SetPath(path.Std());
}

void Log::Shutdown() {
    std::lock_guard lock(theLock.mutex);
    _running = false;
    theFile.SetPath(DefaultPath);
    _level = LogLevel::Debug;
}

void Log::Write(int32_t level, const String& message, int32_t line, const String& function,
                const String& file) {
    if (!Enabled(level))
        return;
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm parts{};
#if defined(_WIN32)
    gmtime_s(&parts, &seconds);
#else
    gmtime_r(&seconds, &parts);
#endif
    char stamp[48];
    const size_t stampLength = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &parts);
    std::snprintf(stamp + stampLength, sizeof stamp - stampLength, ".%03d\t%s\t", static_cast<int>(millis),
                  LevelWord(level));
    std::string_view text = message.Std();
    if (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);

    std::string entry = stamp;
    AppendField(entry, file.Std());
    entry += '\t' + std::to_string(line) + '\t';
    AppendField(entry, function.Std());
    entry += '\t';
    AppendField(entry, text);
    entry += '\n';

    if (theFile.unloaded.load(std::memory_order_acquire)) {
        if (std::FILE* appended = theFile.Open()) {
            std::fwrite(entry.data(), 1, entry.size(), appended);
            std::fclose(appended);
        }
        return;
    }
    std::lock_guard lock(theLock.mutex);
    if (!theFile.Ready())
        return;
    std::fwrite(entry.data(), 1, entry.size(), theFile.file);
    std::fflush(theFile.file);
}

} // namespace Tamo
