// zeb's channel and feature commands through the command line: listing, reading, writing with
// what the channel holds reported, --set before the command's work, and the errors a user causes.
#include "ZebTest.h"

namespace zeb::test {

namespace {
class FeatureCommands : public ZebTest {};

} // namespace

TEST_F(FeatureCommands, ChannelsAndFeaturesAsTextAndJson) {
    UseStation(AreaStation());
    Outcome run = Zeb({"channels"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "0\tBRELAN: Morvane (#0)\tMV-1000\tAreascan\n");
    run = Zeb({"features"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("DeviceScanType                     Enum     R--   Areascan"));
    // The unit beside each value.
    EXPECT_THAT(run.out, HasSubstr(" Unit "));
    EXPECT_THAT(run.out, HasSubstr("                        us       \n"));
    EXPECT_THAT(run.out, HasSubstr("0 deg, 90 deg, 180 deg, 270 deg"));

    run = Zeb({"features", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const Json features = Json::parse(run.out);
    ASSERT_EQ(features.size(), 39u);
    const Json& orientation = features[24];
    EXPECT_EQ(orientation["name"], "LightingOrientation");
    EXPECT_EQ(orientation["type"], "Enum");
    EXPECT_EQ(orientation["value"], "180 deg");
    EXPECT_EQ(orientation["choices"], Json({"0 deg", "90 deg", "180 deg", "270 deg"}));
    EXPECT_EQ(features[20]["name"], "ExposureTime");
    EXPECT_TRUE(features[20]["common"].get<bool>());
    EXPECT_FALSE(features[0]["writable"].get<bool>());
    EXPECT_TRUE(features[2]["value"].is_null()); // a command has no value
    EXPECT_EQ(features[20]["unit"], "us");
    EXPECT_EQ(features[21]["unit"], "dB");
    for (const Json& feature : features)
        EXPECT_FALSE(feature["description"].get<std::string>().empty()) << feature["name"];

    run = Zeb({"get", "LightingOrientation", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Json::parse(run.out)["value"], "180 deg");
    EXPECT_FALSE(Json::parse(run.out)["description"].get<std::string>().empty());
    // The help of get and set says what each feature means, with its unit and limits.
    for (const char* command : {"get", "set"}) {
        run = Zeb({"help", command});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_THAT(run.out, HasSubstr("  ExposureTime [us]: ")) << command << run.out;
        EXPECT_THAT(run.out, HasSubstr("  Gain [dB]: ")) << command;
        EXPECT_THAT(run.out, HasSubstr("65000")) << command;
    }
    // zeb view takes the settings of the other commands and refuses a wrong one before it serves.
    EXPECT_THAT(Zeb({"view", "--port", "0", "--set", "ExposureTim=80"}),
                FailsWith(HasSubstr(
                    "zeb: Feature ExposureTim does not exist.\nzeb: did you mean \"ExposureTime\"?")));
    run = Zeb({"channels", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Json::parse(run.out),
              Json::parse(R"json([{"index":0,"name":"BRELAN: Morvane (#0)","serial":"MV-1000",
                                                     "scanType":"Areascan"}])json"));
}

TEST_F(FeatureCommands, DetectShowsTheWiredCameraTheDomeAndTheState) {
    environment.EnableLogging("Notify");
    Json station = AreaStation();
    station["controllers"].push_back(LineController(1));
    station["controllers"][1]["light"] = "Dome S";
    station["cameras"].push_back(LineCamera());
    UseStation(station); // the line-scan camera is not wired
    Outcome run = Zeb({"channels", "--detect"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "0\tBRELAN: Morvane (#0)\tMV-1000\tAreascan\n"
              "  camera: Cam A (Zeb Station VCXG-25M, serial number S-Cam A)\n"
              "  dome:   Dome M\n"
              "  state:  ready\n"
              "1\tBRELAN: Morvane (#1)\tMV-1001\tLinescan\n"
              "  camera: None\n"
              "  dome:   Dome S\n"
              "  state:  no camera is wired to its controller\n"
              "  wiring: nothing carries the line trigger: connect AuxOutput0 to Line0 of \"Line A\"\n"
              "  wiring: nothing carries the frame trigger: connect AuxOutput1 to Line1 of \"Line A\"\n");
    run = Zeb({"channels", "--detect", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const Json channels = Json::parse(run.out);
    EXPECT_EQ(channels[0]["camera"], "Cam A");
    EXPECT_EQ(channels[0]["dome"], "Dome M");
    EXPECT_EQ(channels[1]["state"], "no camera is wired to its controller");

    environment.WriteSettings("[Log]\nLogEnabled=False\n");
    run = Zeb({"channels", "--detect"});
    EXPECT_THAT(run.out,
                HasSubstr("dome:   not reported (the plug-in names it only in its log, which is off)"));
    // On, but where no file can be: a file stands where its folder would be.
    TestEnvironment::WriteFile(Path("blocker"), "");
    const std::string log = (Path("blocker") / "zeb.log").string();
    environment.WriteSettings("[Log]\nLogEnabled=True\nLogLevel=Notify\nLogPath=" + log + "\n");
    run = Zeb({"channels", "--detect"});
    EXPECT_THAT(run.out, HasSubstr("dome:   not reported (the plug-in names it only in its log, which cannot "
                                   "be written at " +
                                   log + ")"));
}

TEST_F(FeatureCommands, WritesSayWhatTheChannelHolds) {
    UseStation(AreaStation());
    // With the camera selected first, the camera clamps the exposure to the channel's maximum.
    Outcome run = Zeb({"set", "ExposureTime", "70000"});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("ExposureTime: wrote \"70000\", the channel holds \"65000\"\n"));
    EXPECT_THAT(run.err, HasSubstr("--accept-adjusted"));
    run = Zeb({"set", "ExposureTime", "70000", "--accept-adjusted"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr("ExposureTime: wrote \"70000\", the channel holds \"65000\"\n"));
    // The same number in another form is reported but is what was asked for.
    run = Zeb({"set", "ExposureTime", "80.0"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr("ExposureTime: wrote \"80.0\", the channel holds \"80\"\n"));
    run = Zeb({"set", "ExposureTime", "80"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_THAT(run.err, Not(HasSubstr("wrote")));

    // Not a number: refused by the plug-in or held differently, never a silent success.
    EXPECT_THAT(Zeb({"set", "ExposureTime", "abc"}), FailsWith(HasSubstr("\"abc\"")));
    // The plug-in's errors verbatim.
    EXPECT_THAT(Zeb({"set", "TestPattern", "Sideways"}),
                FailsWith(StartsWith("zeb: Enum value not valid. (Name = TestPattern, Value = Sideways)\n"
                                     "zeb: the choices are \"Off\"")));
    EXPECT_THAT(Zeb({"exec", "Width"}), FailsWith("zeb: Feature Width is not a command.\n"));
    // A line-scan channel aligns its encoder resolution.
    UseStation(LineStation());
    EXPECT_THAT(Zeb({"set", "EncoderResolution", "1001"}),
                FailsWith(HasSubstr("EncoderResolution: wrote \"1001\", the channel holds \"1000\"\n")));
}

TEST_F(FeatureCommands, UnknownNamesGetSuggestions) {
    UseStation(AreaStation());
    EXPECT_THAT(Zeb({"get", "Exposure"}),
                FailsWith("zeb: Feature Exposure does not exist.\nzeb: did you mean \"ExposureTime\"?\n"));
    EXPECT_THAT(Zeb({"get", "lightingorientation"}),
                FailsWith(HasSubstr("did you mean \"LightingOrientation\"?")));
    EXPECT_THAT(
        Zeb({"chanels"}),
        FailsWith("zeb: unknown command \"chanels\"\nzeb: did you mean \"channels\"?\nzeb: see zeb help\n"));
    EXPECT_THAT(Zeb({"get", "Width", "--channel", "4"}),
                FailsWith("zeb: no channel 4: the plug-in offers channel 0 only\n"));
    EXPECT_THAT(Zeb({"get"}), FailsWith(HasSubstr("NAME is required")));
    // Options before the command: zeb's own are matched, a command's is sent after the command.
    EXPECT_THAT(
        Zeb({"--sttaion", "x.json", "channels"}),
        FailsWith("zeb: unknown option --sttaion\nzeb: did you mean \"--station\"?\nzeb: see zeb help\n"));
    EXPECT_THAT(Zeb({"--channel", "1", "features"}),
                FailsWith("zeb: --channel is an option of the command: put it after the command (zeb "
                          "features --channel ...)\n"));
    EXPECT_THAT(Zeb({"--camera=x", "channels"}),
                FailsWith(HasSubstr("--camera is an option of the command: put it after the command")));
    const Outcome run = Zeb({"shell"}, "--station x.json channels\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "zeb: --station is an option of zeb itself, given when zeb starts (zeb --station "
                       "FILE shell)\n");
}

TEST_F(FeatureCommands, SetValuesReachTheCommandInOrder) {
    UseStation(AreaStation());
    Outcome run = Zeb({"get", "ExposureTime", "--set", "ExposureTime=80", "--set", "ExposureTime = 90"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "90\n");
    run = Zeb({"get", "LightingOrientation", "--set", "LightingOrientation=90 deg"});
    EXPECT_EQ(run.out, "90 deg\n");
    EXPECT_THAT(Zeb({"get", "Width", "--set", "ExposureTime"}),
                FailsWith("zeb: --set: \"ExposureTime\" is not NAME=VALUE\n"));
    EXPECT_THAT(
        Zeb({"get", "Width", "--set", "LightingOrientation=91 deg"}),
        FailsWith("zeb: Enum value not valid. (Name = LightingOrientation, Value = 91 deg)\n"
                  "zeb: the choices are \"0 deg\", \"90 deg\", \"180 deg\", \"270 deg\"; did you mean "
                  "\"90 deg\" or \"0 deg\"?\n"));
}

TEST_F(FeatureCommands, WhatAPersonGetsWrongIsNamed) {
    UseStation(AreaStation());
    // An enumeration's value without its unit: the choices and the one meant.
    EXPECT_THAT(
        Zeb({"set", "LightingOrientation", "90"}),
        FailsWith("zeb: Enum value not valid. (Name = LightingOrientation, Value = 90)\n"
                  "zeb: the choices are \"0 deg\", \"90 deg\", \"180 deg\", \"270 deg\"; did you mean "
                  "\"90 deg\"?\n"));
    // A set outside zeb shell holds for that command only, and says so.
    Outcome run = Zeb({"set", "LightingOrientation", "90 deg"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr("zeb: the value lasts for this command only"));
    run = Zeb({"shell"}, "set LightingOrientation \"90 deg\"\nget LightingOrientation\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "90 deg\n");
    EXPECT_THAT(run.err, Not(HasSubstr("this command only")));
    // A count that is not a number is called that, not out of range.
    EXPECT_THAT(Zeb({"acquire", "--count", "abc"}),
                FailsWith(AllOf(HasSubstr("\"abc\" is not a whole number"), Not(HasSubstr("range")))));
    EXPECT_THAT(Zeb({"acquire", "--count", "0"}), FailsWith(HasSubstr("range")));
    run = Zeb({"calibrate", "--count", "2.5"});
    EXPECT_THAT(run.err, HasSubstr("\"2.5\" is not a whole number"));
    run = Zeb({"get", "Width", "--channel", "one"});
    EXPECT_THAT(run.err, HasSubstr("\"one\" is not a whole number"));
    EXPECT_THAT(Zeb({"view", "--port", "abc"}),
                FailsWith(AllOf(HasSubstr("\"abc\" is not a whole number"), Not(HasSubstr("range")))));
    const std::vector<std::vector<std::string>> decimals = {{"acquire", "--timeout"},
                                                            {"calibrate", "--sphere-radius"},
                                                            {"assist", "focus", "--act-time"},
                                                            {"view", "--page-timeout"}};
    for (std::vector<std::string> arguments : decimals) {
        arguments.push_back("abc");
        EXPECT_THAT(Zeb(arguments),
                    FailsWith(AllOf(HasSubstr("\"abc\" is not a number"), Not(HasSubstr("range")))))
            << arguments[0];
    }
    EXPECT_THAT(Zeb({"acquire", "--timeout", "0"}),
                FailsWith(HasSubstr("--timeout: 0 is not in the range 0.01 to 3600 (")));
}

TEST_F(FeatureCommands, JsonIsAskedForSoEveryErrorIsJson) {
    UseStation(AreaStation());
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string error;
    };
    const std::vector<Case> cases = {
        {{"get", "Exposure", "--json"}, 1, "Feature Exposure does not exist."}, // the plug-in's
        {{"acquire", "--count", "abc", "--json"}, 1, "--count"},                // the command line's
        {{"features", "--json", "--channel", "3"}, 1, "no channel 3"},          // zeb's
        {{"channels", "--json", "--detect", "--nonsense"}, 1, "--nonsense"},    // an unknown option
        {{"calibrate", "--json", "--count", "1"}, 1, "no sphere found"},        // a failed run
        {{"set", "LightingOrientation", "90", "--json"}, 1, "--json"}, // set has no --json of its own
    };
    for (const Case& c : cases) {
        const Outcome run = Zeb(c.arguments);
        SCOPED_TRACE(c.arguments[0] + " " + c.arguments[1]);
        EXPECT_EQ(run.status, c.status) << run.err;
        Json json;
        ASSERT_NO_THROW(json = Json::parse(run.out)) << run.out;
        ASSERT_TRUE(json.is_object());
        ASSERT_TRUE(json.contains("error")) << run.out;
        EXPECT_THAT(json["error"].get<std::string>(), HasSubstr(c.error));
        // The same words on standard error, for a person.
        EXPECT_THAT(run.err, HasSubstr("zeb: " + json["error"].get<std::string>()));
    }
}

TEST_F(FeatureCommands, StartupFailuresSayWhy) {
    // A file where the settings folder should be.
    const auto blocker = environment.SettingsFolder().parent_path();
    std::filesystem::remove_all(blocker);
    TestEnvironment::WriteFile(blocker, "not a folder");
    UseStation(AreaStation());
    Outcome run = Zeb({"channels"});
    std::filesystem::remove(blocker);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "zeb: the plug-in could not start: Tamo::Morvane::Zeb::GetVideoChannel: Unknown error "
                       "occurred.\nzeb: its settings folder " +
                           environment.SettingsFolder().string() + " cannot be created: " + blocker.string() +
                           " is a file, not a folder\n");

    // A folder where the settings file should be.
    std::filesystem::create_directories(environment.SettingsFile());
    const std::string settings = environment.SettingsFile().string();
    EXPECT_THAT(Zeb({"channels"}),
                FailsWith(StartsWith("zeb: the settings file " + settings + " is a folder, not a file\n")));
    EXPECT_THAT(Zeb({"--settings"}),
                FailsWith(StartsWith("zeb: the settings file " + settings + " is a folder, not a file\n")));
    std::filesystem::remove(environment.SettingsFile());

    UseStation(Json{{"controllers", Json::array()}, {"cameras", Json::array()}, {"cables", Json::array()}});
    EXPECT_THAT(Zeb({"channels"}), FailsWith("zeb: no channel 0: the station has no lighting controller\n"));
}

} // namespace zeb::test
