// Start-up: the settings file, the log, discovery and channel names.
#include "HostTest.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

namespace zeb::test {

class Startup : public HostTest {};

TEST_F(Startup, FirstStartCreatesSettingsWithDefaultsAndNoLog) {
    environment.UseStation(AreaStation().dump());
    plugin = std::make_unique<host::Plugin>();
    Channel();
    const std::string settings = TestEnvironment::ReadFile(environment.SettingsFile());
    EXPECT_NE(settings.find("[Log]"), std::string::npos);
    EXPECT_NE(settings.find("LogEnabled=False"), std::string::npos);
    EXPECT_NE(settings.find("LogLevel=Debug"), std::string::npos);
    EXPECT_NE(settings.find("[Exceptions]"), std::string::npos);
    EXPECT_NE(settings.find("LightingDetection=True"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(environment.LogFile()));
}

TEST_F(Startup, UserKeysAndCommentsSurviveAndLoggingNeedsExactTrue) {
    const std::string own =
        "; my station\n[Log]\nLogEnabled=true\nLogPath=" + environment.LogFile().string() +
        "\nOwnKey=kept\n\n[Mine]\nAnswer=42\n";
    environment.WriteSettings(own);
    environment.UseStation(AreaStation().dump());
    plugin = std::make_unique<host::Plugin>();
    Channel();
    const std::string settings = TestEnvironment::ReadFile(environment.SettingsFile());
    EXPECT_NE(settings.find("; my station"), std::string::npos);
    EXPECT_NE(settings.find("OwnKey=kept"), std::string::npos);
    EXPECT_NE(settings.find("Answer=42"), std::string::npos);
    EXPECT_NE(settings.find("LogLevel=Debug"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(environment.LogFile())) << "\"true\" is not \"True\"";
}

TEST_F(Startup, LogLinesOfLoadAndDiscovery) {
    environment.WriteSettings(
        "[Log]\nLogEnabled=True\nLogLevel=Trace\nLogPath=" + environment.LogFile().string() + "\n");
    Json station = AreaStation();
    station["controllers"][0] = AreaController(3);
    station["controllers"].push_back(AreaController(7));
    station["cables"] = AreaCables(3, "Cam A");
    environment.UseStation(station.dump());
    plugin = std::make_unique<host::Plugin>();
    host::HostChannel first = Channel(0), second = Channel(1);
    EXPECT_EQ(first.Name(), "BRELAN: Morvane (#3)");
    EXPECT_EQ(second.Name(), "BRELAN: Morvane (#7)");
    EXPECT_EQ(second.Serial(), "MV-1007");
    EXPECT_TRUE(environment.Logged("Morvane ZEB version: 26.1.0.564"));
    EXPECT_TRUE(environment.Logged("Controller found. (DeviceId = 3, Serial = MV-1003)"));
    EXPECT_TRUE(environment.Logged("Controller discovery done."));
    // "Trace" is no level word: Debug lines are written, Dump lines are not.
    EXPECT_FALSE(environment.Logged("GetVideoChannel(0)"));
    Read(first, "Width");
    EXPECT_TRUE(environment.Logged("Intializing."));
}

TEST_F(Startup, SixteenControllersAndNoMore) {
    Json station = {{"controllers", Json::array()}};
    for (int id = 0; id < 17; ++id)
        station["controllers"].push_back(AreaController(id));
    station["controllers"].push_back(AreaController(200));
    Load(station);
    host::HostChannel last = Channel(15), beyond;
    EXPECT_EQ(last.Name(), "BRELAN: Morvane (#15)");
    EXPECT_FALSE(beyond.Open(plugin->GetVideoChannel(), 16));
}

TEST_F(Startup, EmptyStationGivesNoChannelAndNoErrorText) {
    Load(Json::object());
    char error[256];
    std::memset(error, '#', sizeof error);
    qrZEB_ChannelDescriptor descriptor{};
    descriptor.size = sizeof descriptor;
    EXPECT_EQ(plugin->GetVideoChannel()(error, 0, &descriptor), 1);
    EXPECT_EQ(error[0], '#');
}

TEST_F(Startup, BadStationFileGivesNoDevices) {
    environment.EnableLogging();
    environment.UseStation("{ \"controllers\": [ { \"deviceId\": 0, \"colour\": \"red\" } ] }");
    plugin = std::make_unique<host::Plugin>();
    host::HostChannel channel;
    EXPECT_FALSE(channel.Open(plugin->GetVideoChannel(), 0));
    bool reported = false;
    for (const std::string& line : environment.LogMessages())
        reported =
            reported || line.find("at /controllers/0/colour: unknown key \"colour\"") != std::string::npos;
    EXPECT_TRUE(reported);
}

class LightingDetectionSetting : public HostTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(LightingDetectionSetting, OnlyExactFalseSwitchesDetectionOff) {
    environment.WriteSettings(std::string("[Exceptions]\nLightingDetection=") + GetParam() + "\n");
    Json station = AreaStation();
    station["controllers"][0]["light"] = "None";
    environment.UseStation(station.dump());
    plugin = std::make_unique<host::Plugin>();
    host::HostChannel channel = Channel();
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Cam A"));
    EXPECT_FALSE(channel.Start());
    EXPECT_EQ(channel.Error(),
              "LightingModel not connected. Power down the controller and connect the light.");
}

INSTANTIATE_TEST_SUITE_P(Startup, LightingDetectionSetting, ::testing::Values("false", "0", "True"));

TEST_F(Startup, LightingDetectionFalseLetsAStationWithoutLightStart) {
    environment.WriteSettings("[Exceptions]\nLightingDetection=False\n");
    Json station = AreaStation();
    station["controllers"][0]["light"] = "None";
    environment.UseStation(station.dump());
    plugin = std::make_unique<host::Plugin>();
    host::HostChannel channel = Channel();
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Cam A"));
    EXPECT_TRUE(channel.Start()) << channel.Error();
}

TEST_F(Startup, SettingsFolderThatCannotBeMadeFailsAndIsRetried) {
    environment.UseStation(AreaStation().dump());
    // A file where the "Brelan" folder should be.
    const auto blocker = environment.SettingsFolder().parent_path();
    std::filesystem::remove_all(blocker);
    TestEnvironment::WriteFile(blocker, "not a folder");
    plugin = std::make_unique<host::Plugin>();
    host::HostChannel channel;
    EXPECT_FALSE(channel.Open(plugin->GetVideoChannel(), 0));
    EXPECT_EQ(channel.Error(), "Tamo::Morvane::Zeb::GetVideoChannel: Unknown error occurred.");
    std::filesystem::remove(blocker);
    EXPECT_TRUE(channel.Open(plugin->GetVideoChannel(), 0)) << channel.Error();
}

TEST_F(Startup, SettingsFileThatIsAFolderFailsWithTheFrameworksText) {
    environment.UseStation(AreaStation().dump());
    std::filesystem::create_directories(environment.SettingsFile());
    plugin = std::make_unique<host::Plugin>();
    host::HostChannel channel;
    EXPECT_FALSE(channel.Open(plugin->GetVideoChannel(), 0));
    EXPECT_EQ(channel.Error().rfind("Tamo::IniFile::Load: Settings file ", 0), 0u) << channel.Error();
    EXPECT_NE(channel.Error().find("it is a folder."), std::string::npos);
}

TEST_F(Startup, CameraEventsReachTheCameraOnlyWithLogging) {
    environment.WriteSettings("[Log]\nLogEnabled=False\nLogCameraEvents=Everything\n");
    Load(AreaStation(), false);
    host::HostChannel channel = Channel();
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Cam A"));
    const auto trace = Trace("camera:Cam A");
    EXPECT_NE(std::find(trace.begin(), trace.end(), "set\tCameraEvents\t"), trace.end());
}

TEST_F(Startup, CameraEventsFromTheSettingsWithLogging) {
    environment.WriteSettings("[Log]\nLogEnabled=True\nLogPath=" + environment.LogFile().string() +
                              "\nLogCameraEvents=Everything\n");
    Load(AreaStation(), false);
    host::HostChannel channel = Channel();
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Cam A"));
    const auto trace = Trace("camera:Cam A");
    EXPECT_NE(std::find(trace.begin(), trace.end(), "set\tCameraEvents\tEverything"), trace.end());
    EXPECT_NE(std::find(trace.begin(), trace.end(), "set\tOpenMode\tImageSource"), trace.end());
}

TEST_F(Startup, ManyThreadsStartTheChannelsOnce) {
    Json station = AreaStation();
    station["controllers"].push_back(AreaController(1));
    Load(station);
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            host::HostChannel channel;
            if (!channel.Open(plugin->GetVideoChannel(), t % 2))
                ++failures;
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures, 0);
    int starts = 0, found = 0;
    for (const std::string& message : environment.LogMessages()) {
        starts += message == "Controller discovery." ? 1 : 0;
        found += message.rfind("Controller found.", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(found, 2);
}

} // namespace zeb::test
