// The framework stand-in: text numbers, the settings file, Windows paths and log file names.
#include "Main.h"
#include "Tamo.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <limits>

TEST(String, NumbersReadLikeStrtolAndStrtod) {
    EXPECT_EQ(Tamo::String("42").ToInt(), 42);
    EXPECT_EQ(Tamo::String("  -17abc").ToInt(), -17);
    EXPECT_EQ(Tamo::String("abc").ToInt(), 0);
    EXPECT_EQ(Tamo::String("99999999999").ToInt(), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(Tamo::String("4294967295").ToInt64(), 4294967295LL);
    EXPECT_FLOAT_EQ(Tamo::String("2.5e1x").ToFloat(), 25.0f);
    EXPECT_DOUBLE_EQ(Tamo::String("").ToDouble(), 0.0);
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
    EXPECT_EQ(
        zeb::test::TestEnvironment::ReadFile(path),
#if defined(_WIN32)
        "; comment\r\n[Log]\r\nLogEnabled = True\r\nMine=1\r\nLogLevel=Debug\r\n\r\n[Other]\r\nX=y\r\n\r\n"
        "[Exceptions]\r\nLightingDetection=True\r\n"
#else
        "; comment\n[Log]\nLogEnabled = True\nMine=1\nLogLevel=Debug\n\n[Other]\nX=y\n\n[Exceptions]\n"
        "LightingDetection=True\n"
#endif
    );
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
#endif
