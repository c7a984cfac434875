// zeb shell and profiles: settings that last beyond one command.
#include "ZebTest.h"

namespace zeb::test {

namespace {
class ShellAndProfile : public ZebTest {};

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}
} // namespace

TEST_F(ShellAndProfile, ShellKeepsOnePluginLoaded) {
    UseStation(AreaStation());
    Outcome run = Zeb({"shell"}, "set ExposureTime 80\nget ExposureTime\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "80\n"); // no prompt from a pipe
    EXPECT_EQ(run.err, "");

    // Quoting, comments, a failing line that does not end the shell, and settings that reach an acquisition.
    run = Zeb({"shell"}, "# bring-up\n"
                         "set LightingOrientation \"90 deg\"\n"
                         "get Nothing\n"
                         "set ExposureTime 70\n"
                         "acquire --out '" +
                             Path("shots").string() +
                             "'\n"
                             "get LightingOrientation\n"
                             "--station other.json channels\n"
                             "set 'unterminated\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err, "zeb: Feature Nothing does not exist.\n")) << run.err;
    EXPECT_TRUE(Contains(run.err, "zeb: the line ends inside a '...' quote\n")) << run.err;
    EXPECT_TRUE(Contains(run.out, "\n90 deg\n")) << run.out;
    const PngContents stack = ReadPngFile(Path("shots") / "zeb-channel0-0001-stack.png");
    EXPECT_EQ(stack.texts.at("Exposure time"), "70 us");
    EXPECT_EQ(stack.texts.at("Lighting orientation"), "90 deg");

    run = Zeb({"shell"}, "get Width\nquit\nget Nothing\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "64\n");
}

TEST_F(ShellAndProfile, ProfileSavedAndApplied) {
    UseStation(AreaStation());
    const std::string profile = Path("bring-up.profile").string();
    Outcome run =
        Zeb({"profile", "save", profile, "--set", "ExposureTime=80", "--set", "LightingOrientation=90 deg"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "settings of BRELAN: Morvane (#0) to " + profile)) << run.out;
    const std::string text = TestEnvironment::ReadFile(profile);
    EXPECT_EQ(text.rfind("# ", 0), 0u);
    EXPECT_TRUE(Contains(text, "\nDeviceImageSource=Cam A\n")) << text;
    EXPECT_TRUE(Contains(text, "\nExposureTime=80\n"));
    EXPECT_TRUE(Contains(text, "\nLightingOrientation=90 deg\n"));
    EXPECT_FALSE(Contains(text, "Dialog"));
    EXPECT_FALSE(Contains(text, "AcquisitionMode="));
    EXPECT_FALSE(Contains(text, "DeviceImageSourceDetect"));
    EXPECT_FALSE(Contains(text, "DeviceScanType")); // read-only
    // The camera comes first, so that selecting it does not reset the values after it.
    EXPECT_LT(text.find("DeviceImageSource="), text.find("ExposureTime="));

    run = Zeb({"get", "ExposureTime", "--profile", profile});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "80\n");
    EXPECT_EQ(run.err, "");
    // --set goes after the profile.
    run = Zeb({"get", "LightingOrientation", "--profile", profile, "--set", "LightingOrientation=270 deg"});
    EXPECT_EQ(run.out, "270 deg\n");

    TestEnvironment::WriteFile(Path("hand.profile"),
                               "# by hand\n\n  Gain = 2  \r\nLightingOrientation 0 deg\n");
    run = Zeb({"get", "Gain", "--profile", Path("hand.profile").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "zeb: " + Path("hand.profile").string() +
                           ":4: \"LightingOrientation 0 deg\" is not NAME=VALUE\n");
    TestEnvironment::WriteFile(Path("hand.profile"), "# by hand\n\n  Gain = 2  \r\nTestPattern=Up\n");
    run = Zeb({"get", "Gain", "--profile", Path("hand.profile").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "zeb: Enum value not valid. (Name = TestPattern, Value = Up)\nzeb: in " +
                           Path("hand.profile").string() + ":4\n");
}

} // namespace zeb::test
