// zeb assist through the command line: short names, the result as JSON, the orientation fix
// applied with --set, and an assistant stopped by the end of input or by Ctrl-C.
#include "ZebTest.h"

namespace zeb::test {

namespace {
class AssistCommand : public ZebTest {
protected:
    // How often the controller's factory register set was loaded: the assistant's stop does it.
    size_t FactoryLoads() const {
        const auto lines = Trace("controller:0");
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), "factory"));
    }
};

} // namespace

TEST_F(AssistCommand, ShortNamesAndJson) {
    UseStation(LineStation());
    Outcome run = Zeb({"assist", "ENCODER", "--yes", "--act-time", "0.3", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const Json result = Json::parse(run.out);
    EXPECT_EQ(result["assistant"], "Encoder movement detection");
    EXPECT_EQ(result["outcome"], "finished");
    EXPECT_EQ(result["result"], "Success");
    EXPECT_EQ(result["message"].get<std::string>().rfind(
                  "The encoder value has changed. The relative change was ", 0),
              0u);
    ASSERT_EQ(result["steps"].size(), 2u);
    EXPECT_EQ(result["steps"][0]["message"], "Initialization done.");
    EXPECT_THAT(run.err, HasSubstr("Turn the encoder and check")); // the dialogue on standard error

    run = Zeb({"assist", "brightness", "--yes"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("Success: The mean of the intensity image is "));
    EXPECT_THAT(run.out, Not(HasSubstr("{0}")));

    EXPECT_THAT(
        Zeb({"assist", "Brightnes"}),
        FailsWith(
            "zeb: no assistant \"Brightnes\" on BRELAN: Morvane (#0)\nzeb: did you mean \"brightness\" or "
            "\"Brightness detection\"?\nzeb: the channel offers \"Brightness detection\", \"Focus "
            "detection\", \"Orientation detection\", \"Frame trigger input detection\", \"Encoder movement "
            "detection\"\n"));
    // The encoder check on an area-scan channel says so first, before the camera or any setting.
    UseStation(AreaStation());
    ClearTrace();
    EXPECT_THAT(
        Zeb({"assist", "encoder", "--set", "ExposureTime=80"}),
        FailsWith("zeb: the encoder check needs a line-scan channel; BRELAN: Morvane (#0) is an area-scan "
                  "channel\nzeb: choose a line-scan channel with --channel (zeb channels shows each "
                  "channel's scan type)\n"));
    EXPECT_EQ(Trace("camera:Cam A"), std::vector<std::string>{}) << "the camera was not touched";
}

TEST_F(AssistCommand, OrientationFoundAndItsFixApplied) {
    Json station = AreaStation();
    station["controllers"][0]["domeRotation"] = 90;
    station["cameras"][0]["scene"] = {{"object", "sheet"}};
    UseStation(station);
    Outcome run = Zeb({"assist", "orientation", "--yes"});
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_THAT(run.out,
                HasSubstr("Warning: The set orientation is 180 deg, the detected orientation is 90 deg."))
        << run.out;
    // The plug-in's instruction on a line of its own after a blank one.
    EXPECT_THAT(run.out, HasSubstr("\n\nPlace a piece of flat, white paper"));
    EXPECT_THAT(run.out, Not(HasSubstr("\\x0a")));
    EXPECT_THAT(run.err, HasSubstr("--set \"LightingOrientation=90 deg\""));
    run = Zeb({"assist", "Orientation Detection", "--yes", "--set", "LightingOrientation=90 deg"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out,
                HasSubstr("Success: The set orientation is 90 deg, the detected orientation is 90 deg."))
        << run.out;
}

TEST_F(AssistCommand, EndOfInputStops) {
    UseStation(AreaStation());
    const size_t before = FactoryLoads();
    Outcome run = Zeb({"assist", "brightness"});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.out, HasSubstr("Success: The mean of the intensity image is "));
    EXPECT_THAT(run.out,
                HasSubstr("Press Enter for \"Next\" (Ctrl-C or the end of input stops) \nstopped: end of "
                          "input\n"))
        << run.out;
    EXPECT_GT(FactoryLoads(), before);

    // Enter for "Next", as a person would.
    run = Zeb({"assist", "brightness"}, "\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, Not(HasSubstr("stopped")));
}

TEST_F(AssistCommand, CtrlCPressesStop) {
#if defined(_WIN32)
    // Under Wine a console control event from this test program does not reach zeb.exe; a SIGINT
    // to zeb.exe's Wine process does (it runs zeb's console control handler), which a Windows
    // program cannot send.
    GTEST_SKIP() << "Ctrl-C cannot be sent to zeb.exe from a program under Wine";
#endif
    UseStation(AreaStation());
    ZebProcess zeb(environment.Folder(), {"--station", _station, "assist", "brightness"});
    ASSERT_TRUE(zeb.WaitFor(
        [](const std::string& out, const std::string&) { return Value(out, HasSubstr("Press Enter")); }));
    const size_t before = FactoryLoads();
    zeb.Interrupt();
    ASSERT_TRUE(zeb.WaitFor(
        [](const std::string& out, const std::string&) { return Value(out, HasSubstr("stopped")); }));
    const Outcome run = zeb.Wait();
    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_THAT(run.out, HasSubstr("\nstopped\n"));
    EXPECT_GT(FactoryLoads(), before);
}

} // namespace zeb::test
