// The framework stand-in: text numbers, the settings file, Windows paths and log file names.
#include "Main.h"
#include "Tamo.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

// The same value, or both not a number of the same sign. (Where nothing is read, C libraries
// differ in the sign of the zero they return.)
template <typename T> bool SameNumber(T a, T b) {
    return (std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b)) || a == b;
}

std::string Printf(const char* format, ...) {
    char buffer[4096];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    return buffer;
}

} // namespace

TEST(String, NumbersReadLikeStrtolAndStrtod) {
    EXPECT_EQ(Tamo::String("42").ToInt(), 42);
    EXPECT_EQ(Tamo::String("  -17abc").ToInt(), -17);
    EXPECT_EQ(Tamo::String("abc").ToInt(), 0);
    EXPECT_EQ(Tamo::String("99999999999").ToInt(), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(Tamo::String("4294967295").ToInt64(), 4294967295LL);
    EXPECT_FLOAT_EQ(Tamo::String("2.5e1x").ToFloat(), 25.0f);
    EXPECT_DOUBLE_EQ(Tamo::String("").ToDouble(), 0.0);
}

// Every reading the C library makes of these texts in the "C" locale, to the bit.
TEST(String, NumbersReadExactlyAsTheCLibraryReadsThemInTheCLocale) {
    ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    const std::string texts[] = {
        // Signs, spaces, decimal points and exponents.
        "2.5", " \t\n\v\f\r-2.5", "+3", "-0", "+-1", "-+1", "--1", "- 1", "1,5", "0,5", ".5", "5.", ".", "-.",
        "1e", "1e+", "1e-2x", "1E3",
        // Hexadecimal.
        "0x1p3", "-0X1.8P1", "0x", "0xg", "0x-1", "0x.8", "0x1p",
        // Infinities and not-a-numbers.
        "inf", "-Infinity", "INFINITE", "nan", "-nan", "NaN(123)",
        // Out of range, subnormal, and at the edges of float and of the integers.
        "1e400", "-1e400", "1e-400", "-1e-400", "4e-320", "1e39", "1e-46", "3.4028235e38", "3.4028236e38",
        "0." + std::string(45, '0') + "1", "1" + std::string(401, '0'), "0." + std::string(403, '0') + "1",
        "0e999999999999999999999", "1e-99999999999999999999", "1e99999999999999999999", "9223372036854775807",
        "9223372036854775808", "-9223372036854775808", "-9223372036854775809", "18446744073709551616",
        "2147483648", "-2147483649",
        // Not numbers, or only their beginning.
        "007", "12abc", "abc", "", " ", "+", "-", "\xEF\xBB\xBF" + std::string("1")};
    for (const std::string& entry : texts) {
        const char* text = entry.c_str();
        const Tamo::String value(text);
        EXPECT_TRUE(SameNumber(value.ToDouble(), std::strtod(text, nullptr))) << '"' << text << '"';
        EXPECT_TRUE(SameNumber(value.ToFloat(), std::strtof(text, nullptr))) << '"' << text << '"';
        EXPECT_EQ(value.ToInt64(), static_cast<int64_t>(std::strtoll(text, nullptr, 10)))
            << '"' << text << '"';
    }
    EXPECT_TRUE(std::signbit(Tamo::String("-0").ToDouble()));
    EXPECT_TRUE(std::signbit(Tamo::String("-1e-400").ToFloat()));
    EXPECT_FALSE(std::signbit(Tamo::String("--1").ToDouble()));
}

TEST(String, ShortestPlainTextRoundTrips) {
    EXPECT_EQ(Tamo::String::FromFloat(10000.0f), "10000");
    EXPECT_EQ(Tamo::String::FromFloat(1100.0f), "1100");
    EXPECT_EQ(Tamo::String::FromFloat(0.5f), "0.5");
    EXPECT_EQ(Tamo::String::FromFloat(1e9f / 10000.0f), "100000");
    EXPECT_EQ(Tamo::String::FromDouble(1.5), "1.5");
    EXPECT_EQ(Tamo::String::FromFloat(1e-7f), "0.0000001");
    for (float value : {0.1f, 123.456f, 3.0e7f, -0.002f, 57.6f}) {
        const Tamo::String text = Tamo::String::FromFloat(value);
        EXPECT_EQ(text.ToFloat(), value) << text.CStr();
        EXPECT_EQ(text.IndexOf("e"), -1) << text.CStr();
    }
    EXPECT_EQ(Tamo::String::FromUInt(4294967295u), "4294967295");
    EXPECT_EQ(Tamo::String("abcdef").Substring(2, 3), "cde");
    EXPECT_EQ(Tamo::String("abcdef").Substring(9), "");
    EXPECT_TRUE(Tamo::String("Dervo::Morvane::Controller::Connect").StartsWith("Dervo::Morvane::Controller"));
}

TEST(IniFile, SaveKeepsTheUsersLinesAndAddsMissingDefaults) {
    zeb::test::TestEnvironment environment;
    const auto path = environment.Folder() / "Config.conf";
    zeb::test::TestEnvironment::WriteFile(path,
                                          "; comment\n[Log]\nLogEnabled = True\nMine=1\n\n[Other]\nX=y\n");
    Tamo::IniFile settings;
    settings.AddValue("Log", "LogEnabled", "False");
    settings.AddValue("Log", "LogLevel", "Debug");
    settings.AddValue("Exceptions", "LightingDetection", "True");
    settings.Load(path.string().c_str(), false);
    settings.Save("");
    EXPECT_EQ(zeb::test::TestEnvironment::ReadFile(path),
              "; comment\n[Log]\nLogEnabled = True\nMine=1\nLogLevel=Debug\n\n[Other]\nX=y\n\n[Exceptions]\n"
              "LightingDetection=True\n");
    EXPECT_EQ(settings.EntryValue("Log", "LogEnabled"), "True");
    EXPECT_EQ(settings.EntryValue("Exceptions", "LightingDetection"), "True");
    EXPECT_EQ(settings.EntryValue("Log", "LogPath"), "");
    EXPECT_FALSE(std::filesystem::exists(path.string() + ".tmp"));
    // A second load and save changes nothing.
    const std::string before = zeb::test::TestEnvironment::ReadFile(path);
    Tamo::IniFile again;
    again.AddValue("Log", "LogLevel", "Debug");
    again.Load(path.string().c_str(), false);
    again.Save("");
    EXPECT_EQ(zeb::test::TestEnvironment::ReadFile(path), before);
}

TEST(LogFilePath, FollowsTheStandardPathRules) {
    using Tamo::Morvane::Zeb::Main;
    EXPECT_EQ(Main::LogFilePath("D:\\Logs\\trace.txt"), "D:\\Logs\\trace.txt");
    EXPECT_EQ(Main::LogFilePath("D:\\Logs\\trace"), "D:\\Logs\\trace.log");
    EXPECT_EQ(Main::LogFilePath("D:\\Logs\\"), "D:\\Logs\\Tamo.Morvane.Zeb.log");
    EXPECT_EQ(Main::LogFilePath("D:\\Logs"), "D:\\Logs.log");
    EXPECT_EQ(Main::LogFilePath("/var/log/zeb/.hidden"), "/var/log/zeb/.hidden.log");
    EXPECT_EQ(Main::LogFilePath("D:/a.b/run.1.txt"), "D:/a.b/run.1.txt");
}

#if !defined(_WIN32)
TEST(Path, DriveCLivesBelowItsFolder) {
    zeb::test::TestEnvironment environment; // sets ZEB_DRIVE_C
    const auto drive = environment.Folder() / "drive_c";
    EXPECT_EQ(Tamo::Path::Native("C:\\\\ProgramData\\Brelan\\Tamo.Morvane.Zeb\\Config.conf"),
              drive / "ProgramData/Brelan/Tamo.Morvane.Zeb/Config.conf");
    EXPECT_EQ(Tamo::Path::Native("relative\\file.txt"), std::filesystem::path("relative/file.txt"));
    EXPECT_EQ(Tamo::Path::Native("/abs/file"), std::filesystem::path("/abs/file"));
}

TEST(Path, OtherDrivesLiveBesideDriveC) {
    zeb::test::TestEnvironment environment; // sets ZEB_DRIVE_C
    zeb::test::TestEnvironment::SetVariable("XDG_DATA_HOME", (environment.Folder() / "data").string());
    EXPECT_EQ(Tamo::Path::Native("D:\\Logs\\zeb.log"), environment.Folder() / "drive_d/Logs/zeb.log");
    EXPECT_EQ(Tamo::Path::Native("z:/x"), environment.Folder() / "drive_z/x");
    zeb::test::TestEnvironment::SetVariable("ZEB_DRIVE_C", (environment.Folder() / "c//").string());
    EXPECT_EQ(Tamo::Path::Native("C:\\x"), environment.Folder() / "c//x");
    EXPECT_EQ(Tamo::Path::Native("E:\\x"), environment.Folder() / "drive_e/x");
    // Without ZEB_DRIVE_C every drive lives in the user's data folder.
    zeb::test::TestEnvironment::SetVariable("ZEB_DRIVE_C", "");
    EXPECT_EQ(Tamo::Path::Native("D:\\x"), environment.Folder() / "data/zeb/drive_d/x");
    EXPECT_EQ(Tamo::Path::Native("C:\\x"), environment.Folder() / "data/zeb/drive_c/x");
}
#endif

// The log's message formatting writes what the C library writes in the "C" locale.
TEST(LogFormat, WritesWhatPrintfWritesInTheCLocale) {
    ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    const char* const floating[] = {
        "%f",    "%.2f",  "%0.2f",   "%0.4f",      "%.0f",  "%#.0f",   "%10.3f", "%-10.3f|",
        "%+f",   "% f",   "%010.2f", "%-+012.3e|", "%e",    "%.0e",    "%#.0e",  "%E",
        "%g",    "%.3g",  "%#g",     "%#.3g",      "%.0g",  "%G",      "%12g|",  "%-12G|",
        "%+.1f", "%010f", "%F",      "%.10g",      "%.17g", "%5.1f%%", "%.30f",  "%.300f"};
    const double inf = std::numeric_limits<double>::infinity(),
                 nan = std::numeric_limits<double>::quiet_NaN();
    const double values[] = {0.0,     -0.0,        2.5,      -2.5, 0.125, 1.0 / 3.0, 99.995,  0.5,    1.5,
                             2.5e-5,  123456789.0, 1e-5,     1e15, 1e16,  1e300,     -1e-300, 5e-324, 0.0001,
                             0.00001, 9.9999999,   100000.0, 1e6,  inf,   -inf,      nan};
    for (const char* format : floating)
        for (double value : values)
            EXPECT_EQ(Tamo::Log::Format(format, value).Std(), Printf(format, value))
                << format << " " << value;
    EXPECT_EQ(Tamo::Log::Format("%*.*f|%-*d|", 9, 2, 3.14159, 5, 42).Std(),
              Printf("%*.*f|%-*d|", 9, 2, 3.14159, 5, 42));
    EXPECT_EQ(Tamo::Log::Format("%.*f", -3, 2.5).Std(), Printf("%.*f", -3, 2.5));
    EXPECT_EQ(Tamo::Log::Format("%*d|", -6, 7).Std(), Printf("%*d|", -6, 7));
    EXPECT_EQ(Tamo::Log::Format("%0.2f;%0.4f;%0.4f", 127.0 / 3, 0.0, 1.0).Std(), "42.33;0.0000;1.0000");
#if !defined(_WIN32) // the C library of Windows writes hexadecimal floating point its own way
    for (const char* format : {"%a", "%.3a", "%A", "%#.0a", "%+015a"})
        for (double value : {0.0, 1.0, -2.5, 0.1, 1e300, -1e-300})
            EXPECT_EQ(Tamo::Log::Format(format, value).Std(), Printf(format, value))
                << format << " " << value;
#endif

    const int32_t integers[] = {0, 7, -7, 2147483647, -2147483647 - 1, 255};
    for (const char* format : {"%d", "%i", "%5d", "%-5d|", "%05d", "%+d", "% d", "%.3d", "%u", "%x", "%X",
                               "%#x", "%o", "%#o", "%08.3x", "%c"})
        for (int32_t value : integers)
            EXPECT_EQ(Tamo::Log::Format(format, value).Std(), Printf(format, value))
                << format << " " << value;
    EXPECT_EQ(Tamo::Log::Format("%s=%5s|%-5s|%.2s|%%|%d%%", "Key", "ab", "cd", "xyz", 50).Std(),
              Printf("%s=%5s|%-5s|%.2s|%%|%d%%", "Key", "ab", "cd", "xyz", 50));
    EXPECT_EQ(Tamo::Log::Format("%ld %lld %hd %zu", 1, -2LL, 3, size_t{4}).Std(), "1 -2 3 4");
    EXPECT_EQ(Tamo::Log::Format("no arguments 100%%").Std(), "no arguments 100%");
}

// Arguments are read by the type the caller passed, never beyond the ones it passed.
TEST(LogFormat, ReadsEachArgumentByItsOwnType) {
    EXPECT_EQ(Tamo::Log::Format("%d", int64_t{5000000000}), "5000000000");
    EXPECT_EQ(Tamo::Log::Format("%d", uint64_t{18446744073709551615u}), "18446744073709551615");
    EXPECT_EQ(Tamo::Log::Format("%x %u", int8_t{-1}, int16_t{-1}), "ff 65535");
    EXPECT_EQ(Tamo::Log::Format("%f %d", 3, 2.9), "3.000000 2");
    EXPECT_EQ(Tamo::Log::Format("%s|%s|%s", static_cast<const char*>(nullptr), 12, 0.5), "(null)|12|0.5");
    EXPECT_EQ(Tamo::Log::Format("%d and %s and %", 1), "1 and %s and %");
    EXPECT_EQ(Tamo::Log::Format("%y %d", 2), "%y 2");
    EXPECT_EQ(Tamo::Log::Format("%s", Tamo::String("text")), "text");
}

// A message is cut at 1998 characters, as a 2000-byte buffer written with a limit of 1999 cuts it.
TEST(LogFormat, LongMessagesAreCutAt1998Characters) {
    const std::string long3000(3000, 'x');
    EXPECT_EQ(Tamo::Log::Format("%s", long3000.c_str()).Std(), std::string(1998, 'x'));
    EXPECT_EQ(Tamo::Log::Format("ab%2000d", 1).Std(), Printf("ab%2000d", 1).substr(0, 1998));
    EXPECT_EQ(Tamo::Log::Format("%.5000f", 1.0).Std(), "1." + std::string(1996, '0'));
    EXPECT_EQ(Tamo::Log::Format("%*d", 2147483647, 1).Std(), std::string(1998, ' '));
    EXPECT_EQ(Tamo::Log::Format("%.*f", 2147483647, 0.5).Std(), "0.5" + std::string(1995, '0'));
    EXPECT_EQ(Tamo::Log::Format(long3000.c_str()).Std(), std::string(1998, 'x'));
}

// The log keeps its path in a buffer of its own: a path too long for it is refused whole, never
// cut to a shorter path that could name another file.
TEST(LogFile, APathTooLongForTheLogWritesNothingAndTheNextPathWorks) {
    zeb::test::TestEnvironment environment;
    std::string deep = environment.Folder().string();
    while (deep.size() < 5000)
        deep += "/d";
    Tamo::Log::Initialize();
    Tamo::Log::SetLogPath((deep + "/zeb.log").c_str());
    Tamo::Log::Write(Tamo::Notify, "lost", 1, "F", "Test");
    EXPECT_FALSE(std::filesystem::exists(environment.Folder() / "d")) << "a cut path was written";

    Tamo::Log::SetLogPath(environment.LogFile().string().c_str());
    Tamo::Log::Write(Tamo::Notify, "kept", 2, "F", "Test");
    Tamo::Log::Shutdown();
    EXPECT_EQ(environment.LogMessages(), std::vector<std::string>{"kept"});
}

// A byte-order mark and CR LF line endings, as Windows editors write them.
TEST(IniFile, ByteOrderMarkAndLineEndingsStayAsTheUserWroteThem) {
    zeb::test::TestEnvironment environment;
    const auto path = environment.Folder() / "Config.conf";
    const std::string user = "\xEF\xBB\xBF[Log]\r\nLogEnabled=True\r\n; mine\r\n\r\n[Other]\r\nX = y \r\n";
    zeb::test::TestEnvironment::WriteFile(path, user);
    Tamo::IniFile settings;
    settings.AddValue("Log", "LogEnabled", "False");
    settings.AddValue("Log", "LogLevel", "Debug");
    settings.AddValue("Exceptions", "LightingDetection", "True");
    settings.Load(path.string().c_str(), false);
    EXPECT_EQ(settings.EntryValue("Log", "LogEnabled"), "True");
    EXPECT_EQ(settings.EntryValue("Other", "X"), "y");
    settings.Save("");
    EXPECT_EQ(
        zeb::test::TestEnvironment::ReadFile(path),
        "\xEF\xBB\xBF[Log]\r\nLogEnabled=True\r\n; mine\r\nLogLevel=Debug\r\n\r\n[Other]\r\nX = y \r\n\r\n"
        "[Exceptions]\r\nLightingDetection=True\r\n");

    // Lines ending in LF keep LF on every system; a last line without an ending is left so when
    // nothing follows it.
    zeb::test::TestEnvironment::WriteFile(path, "[Exceptions]\nLightingDetection=False");
    Tamo::IniFile unix;
    unix.AddValue("Exceptions", "LightingDetection", "True");
    unix.Load(path.string().c_str(), false);
    unix.Save("");
    EXPECT_EQ(zeb::test::TestEnvironment::ReadFile(path), "[Exceptions]\nLightingDetection=False");
    unix.AddValue("Log", "LogEnabled", "False");
    unix.Save("");
    EXPECT_EQ(zeb::test::TestEnvironment::ReadFile(path),
              "[Exceptions]\nLightingDetection=False\n\n[Log]\nLogEnabled=False\n");

    // A file that holds nothing but the mark.
    zeb::test::TestEnvironment::WriteFile(path, "\xEF\xBB\xBF");
    Tamo::IniFile marked;
    marked.AddValue("Log", "LogEnabled", "False");
    marked.Load(path.string().c_str(), false);
    marked.Save("");
#if defined(_WIN32)
    EXPECT_EQ(zeb::test::TestEnvironment::ReadFile(path), "\xEF\xBB\xBF[Log]\r\nLogEnabled=False\r\n");
#else
    EXPECT_EQ(zeb::test::TestEnvironment::ReadFile(path), "\xEF\xBB\xBF[Log]\nLogEnabled=False\n");
#endif
    // Only a mark at the very start is one.
    zeb::test::TestEnvironment::WriteFile(path, "\n\xEF\xBB\xBF[Log]\nLogEnabled=True\n");
    Tamo::IniFile late;
    late.Load(path.string().c_str(), false);
    EXPECT_EQ(late.EntryValue("Log", "LogEnabled"), "");
}
