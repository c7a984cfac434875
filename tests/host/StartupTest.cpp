// Start-up: the settings file, the log, discovery and channel names.
#include "ChannelTest.h"

#include <cstring>

namespace zeb::test {

class Startup : public ChannelTest {
protected:
    // The texts the settings file lacks.
    Strings MissingFromSettings(const Strings& texts) const {
        const std::string settings = TestEnvironment::ReadFile(environment.SettingsFile());
        Strings missing;
        for (const std::string& text : texts)
            if (settings.find(text) == std::string::npos)
                missing.push_back(text);
        return missing;
    }
};

TEST_F(Startup, FirstStartCreatesSettingsWithDefaultsAndNoLog) {
    environment.UseStation(AreaStation().dump());
    plugin = std::make_unique<host::Plugin>();
    Channel();
    EXPECT_EQ(MissingFromSettings(
                  {"[Log]", "LogEnabled=False", "LogLevel=Debug", "[Exceptions]", "LightingDetection=True"}),
              Strings{});
    EXPECT_FALSE(std::filesystem::exists(environment.LogFile()));
}

TEST_F(Startup, UserKeysAndCommentsSurviveAndLoggingNeedsExactTrue) {
    StartWith("; my station\n[Log]\nLogEnabled=true\nLogPath=" + environment.LogFile().string() +
              "\nOwnKey=kept\n\n[Mine]\nAnswer=42\n");
    EXPECT_EQ(MissingFromSettings({"; my station", "OwnKey=kept", "Answer=42", "LogLevel=Debug"}), Strings{});
    EXPECT_FALSE(std::filesystem::exists(environment.LogFile())) << "\"true\" is not \"True\"";
}

TEST_F(Startup, LogLinesOfLoadAndDiscovery) {
    Json station = AreaStation();
    station["controllers"][0] = AreaController(3);
    station["controllers"].push_back(AreaController(7));
    station["cables"] = AreaCables(3, "Cam A");
    host::HostChannel first = StartWith(
        "[Log]\nLogEnabled=True\nLogLevel=Trace\nLogPath=" + environment.LogFile().string() + "\n", station);
    host::HostChannel second = Channel(1);
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
    const Strings messages = environment.LogMessages();
    EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [](const std::string& message) {
        return message.find("at /controllers/0/colour: unknown key \"colour\"") != std::string::npos;
    }));
}

class LightingDetectionSetting : public Startup,
                                 public ::testing::WithParamInterface<std::pair<const char*, bool>> {};

TEST_P(LightingDetectionSetting, OnlyExactFalseLetsAStationWithoutLightStart) {
    const auto [setting, starts] = GetParam();
    Json station = AreaStation();
    station["controllers"][0]["light"] = "None";
    host::HostChannel channel =
        StartWith(std::string("[Exceptions]\nLightingDetection=") + setting + "\n", station);
    ASSERT_TRUE(Write(channel, {{"DeviceImageSource", "Cam A"}}));
    EXPECT_EQ(channel.Start(), starts) << channel.Error();
    if (!starts) {
        EXPECT_EQ(channel.Error(),
                  "LightingModel not connected. Power down the controller and connect the light.");
    }
}

INSTANTIATE_TEST_SUITE_P(Startup, LightingDetectionSetting,
                         ::testing::Values(std::make_pair("false", false), std::make_pair("0", false),
                                           std::make_pair("True", false), std::make_pair("False", true)),
                         [](const auto& parameter) {
                             return std::string("Setting_") + parameter.param.first;
                         });

TEST_F(Startup, SettingsThatCannotBeWrittenFailTheStartUpUntilMended) {
    environment.UseStation(AreaStation().dump());
    // A file where the "Brelan" folder should be.
    const auto blocker = environment.SettingsFolder().parent_path();
    std::filesystem::remove_all(blocker);
    TestEnvironment::WriteFile(blocker, "not a folder");
    plugin = std::make_unique<host::Plugin>();
    host::HostChannel channel;
    EXPECT_EQ(Refused(channel.Open(plugin->GetVideoChannel(), 0), channel),
              "Tamo::Morvane::Zeb::GetVideoChannel: Unknown error occurred.");
    // A folder where the settings file should be.
    std::filesystem::remove(blocker);
    std::filesystem::create_directories(environment.SettingsFile());
    EXPECT_FALSE(channel.Open(plugin->GetVideoChannel(), 0));
    EXPECT_THAT(channel.Error(), ::testing::StartsWith("Tamo::IniFile::Load: Settings file "))
        << channel.Error();
    EXPECT_NE(channel.Error().find("it is a folder."), std::string::npos);
    std::filesystem::remove(environment.SettingsFile());
    EXPECT_TRUE(channel.Open(plugin->GetVideoChannel(), 0)) << channel.Error();
}

class CameraEventsSetting : public Startup, public ::testing::WithParamInterface<bool> {};

TEST_P(CameraEventsSetting, ReachesTheCameraOnlyWithLogging) {
    const bool logging = GetParam();
    host::HostChannel channel =
        StartWith(logging ? "[Log]\nLogEnabled=True\nLogPath=" + environment.LogFile().string() +
                                "\nLogCameraEvents=Everything\n"
                          : "[Log]\nLogEnabled=False\nLogCameraEvents=Everything\n");
    ASSERT_TRUE(Write(channel, {{"DeviceImageSource", "Cam A"}}));
    const auto trace = Trace("camera:Cam A");
    EXPECT_THAT(trace, Contains(logging ? "set\tCameraEvents\tEverything" : "set\tCameraEvents\t"));
    EXPECT_THAT(trace, Contains("set\tOpenMode\tImageSource"));
}

INSTANTIATE_TEST_SUITE_P(Startup, CameraEventsSetting, ::testing::Bool());

} // namespace zeb::test
