// Choosing the camera, the per-camera defaults, write-through to the camera and the assistant's
// feature protocol.
#include "ChannelTest.h"

namespace zeb::test {

namespace {
size_t Count(const Strings& lines, const std::string& line) {
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}
} // namespace

class CameraSelection : public ChannelTest {};

TEST_F(CameraSelection, DefaultsAppliedOnEachNewCameraAndKeptOnReopen) {
    Json station = AreaStation();
    station["cameras"][0] =
        AreaCamera("Cam A", "xxVCXG.2-127M-R2"); // a burst-capable model inside a longer name
    station["cameras"].push_back(AreaCamera("Cam B", "Other-1"));
    station["cables"].push_back(Cable(0, "Camera1Output0", "Cam B", "Line0"));
    station["cables"].push_back(Cable(0, "Camera1Input0", "Cam B", "Line1"));
    Load(station);
    host::HostChannel channel = Channel();
    EXPECT_EQ(Read(channel, "AcquisitionBurstMode"), "Off");
    ClearTrace();
    ASSERT_TRUE(Write(channel, {{"DeviceImageSource", "Cam A"}}));
    // The identity is read vendor first, then model, then serial.
    Strings identity;
    for (const std::string& line : Trace("camera:Cam A"))
        for (const char* feature : {"DeviceVendorName", "DeviceModelName", "DeviceSerialNumber"})
            if (line.starts_with(std::string("get\t") + feature + "\t"))
                identity.push_back(feature);
    EXPECT_EQ(identity, (Strings{"DeviceVendorName", "DeviceModelName", "DeviceSerialNumber"}));
    EXPECT_EQ(Values(channel, {"DeviceImageSourceVendor", "DeviceImageSourceModel", "DeviceImageSourceSerial",
                               "Width", "ExposureTime", "GevRequestTimeout", "AcquisitionBurstMode"}),
              (Strings{"Zeb Station", "xxVCXG.2-127M-R2", "S-Cam A", "64", "50", "2000", "On"}));
    ASSERT_TRUE(Write(channel, {{"ExposureTime", "80"}, {"DeviceImageSource", "Cam B"}}));
    EXPECT_EQ(Read(channel, "ExposureTime"), "50");
    EXPECT_EQ(Read(channel, "AcquisitionBurstMode"), "On") << "a model outside the list keeps the burst mode";
    ASSERT_TRUE(Write(channel, {{"ExposureTime", "90"}, {"DeviceImageSource", "Cam A"}}));
    EXPECT_EQ(Read(channel, "ExposureTime"), "50") << "A was not the camera configured last";
    EXPECT_TRUE(environment.Logged("Close Cam B"));
    EXPECT_TRUE(environment.Logged("Open Cam A."));

    // Writing the bound name does nothing; "None" closes.
    ClearTrace();
    ASSERT_TRUE(Write(channel, {{"DeviceImageSource", "Cam A"}}));
    EXPECT_TRUE(Trace("camera:Cam A").empty());
    ASSERT_TRUE(Write(channel, {{"DeviceImageSource", "None"}}));
    EXPECT_THAT(Trace("camera:Cam A"), Contains("close"));
    EXPECT_EQ(Read(channel, "DeviceImageSource"), "None");
}

TEST_F(CameraSelection, AFailureWhileClosingTheOldCameraDoesNotStopTheNewOne) {
    Json station = AreaStation();
    station["cameras"].push_back(AreaCamera("Cam B"));
    station["cables"].push_back(Cable(0, "Camera1Output0", "Cam B", "Line0"));
    station["cables"].push_back(Cable(0, "Camera1Input0", "Cam B", "Line1"));
    // Cam A stops answering 30 ms after it starts streaming, for good.
    station["cameras"][0]["faults"] = Json::array({StationFault("offline", "start", "", 1, 600000, 30)});
    host::HostChannel channel = Ready(station);
    ASSERT_TRUE(channel.Start()) << channel.Error();
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    ASSERT_TRUE(Write(channel, {{"DeviceImageSource", "Cam B"}}));
    EXPECT_EQ(Read(channel, "DeviceImageSource"), "Cam B");
    EXPECT_TRUE(environment.Logged("Close done."));
    EXPECT_TRUE(environment.Logged("Open done."));
    EXPECT_TRUE(Acquires(channel));
}

TEST_F(CameraSelection, ACameraNotWiredToTheChannelIsStoredAsNoneAndLeftFreeForItsOwn) {
    // Cam A is wired to controller 1 only: channel 0 opens it, finds no cabling and must let it go.
    Json station = {{"controllers", Json::array({AreaController(0), AreaController(1)})},
                    {"cameras", Json::array({AreaCamera("Cam A")})},
                    {"cables", AreaCables(1, "Cam A")}};
    Load(station);
    host::HostChannel unwired = Channel(0), wired = Channel(1);
    ASSERT_TRUE(Write(unwired, {{"DeviceImageSource", "Cam A"}})) << "the write itself succeeds";
    EXPECT_EQ(Read(unwired, "DeviceImageSource"), "None");
    EXPECT_TRUE(
        environment.Logged("Value is invalid (Feature = DeviceImageSource, Value = Cam A, NewValue = None)"));
    EXPECT_FALSE(environment.Logged("Open done."));
    EXPECT_EQ(Trace("camera:Cam A").back(), "close");
    EXPECT_EQ(Refused(unwired.Start(), unwired), "No valid DeviceImageSource selected.");
    // A later attempt applies the defaults again (nothing was configured).
    ASSERT_TRUE(Write(unwired, {{"ExposureTime", "77"}, {"DeviceImageSource", "Cam A"}}));
    EXPECT_EQ(Count(Trace("camera:Cam A"), "set\tExposureTime\t50"), 2u);
    ASSERT_TRUE(Write(wired, {{"DeviceImageSource", "Cam A"}}));
    EXPECT_EQ(Read(wired, "DeviceImageSource"), "Cam A");
    EXPECT_TRUE(Acquires(wired));
}

TEST_F(CameraSelection, DetectFindsTheCameraWiredToEachController) {
    // Channels 0 and 1 each with a wired camera, channel 2 with only an unwired one left, channel 3 a
    // line-scan channel without any line camera.
    Json station = WiredChannels(2);
    station["controllers"].push_back(AreaController(2));
    station["controllers"].push_back(LineController(3));
    station["cameras"].push_back(AreaCamera("Cam X"));
    Load(station);
    for (int id = 0; id < 4; ++id) {
        host::HostChannel channel = Channel(id);
        ASSERT_TRUE(channel.Execute("DeviceImageSourceDetect")) << id << ": " << channel.Error();
        EXPECT_EQ(Read(channel, "DeviceImageSource"), id < 2 ? CameraOf(id) : "None") << id;
    }
    EXPECT_TRUE(environment.Logged("Checking ImageSource Cam 0"));
    EXPECT_TRUE(environment.Logged("ImageSource already used by BRELAN: Morvane (#0)"));
    EXPECT_TRUE(environment.Logged("Checking ImageSource Cam X"));
    const Strings messages = environment.LogMessages();
    const auto lastDetect = std::find(messages.rbegin(), messages.rend(), "DeviceImageSourceDetect");
    ASSERT_NE(lastDetect, messages.rend());
    EXPECT_THAT(Strings(messages.rbegin(), lastDetect), Not(Contains(StartsWith("Checking ImageSource"))))
        << "no candidate for the line-scan channel";
}

TEST_F(CameraSelection, WritesGoThroughToTheCameraAndComeBackAsAccepted) {
    Json station = AreaStation();
    station["cameras"][0]["limits"] = {{"Gain", {{"max", 12}}}};
    Load(station);
    host::HostChannel channel = Channel();
    ASSERT_TRUE(Write(channel, {{"ExposureTime", "70000"}}));
    EXPECT_EQ(Read(channel, "ExposureTime"), "70000") << "no camera: stored as given";
    ASSERT_TRUE(Write(channel, {{"DeviceImageSource", "Cam A"}, {"ExposureTime", "70000"}}));
    EXPECT_EQ(Read(channel, "ExposureTime"), "65000");
    EXPECT_THAT(Trace("camera:Cam A"), Contains("set\tExposureTime\t65000"));
    EXPECT_TRUE(environment.Logged(
        "Value was maximum limited. (Feature = ExposureTime, Value = 70000, Maximum = 65000)"));
    // The camera clamped the gain and aligned the width to its increment of 8.
    ASSERT_TRUE(Write(channel, {{"Gain", "20"}, {"Width", "37"}}));
    EXPECT_EQ(Values(channel, {"Gain", "Width"}), (Strings{"12", "32"}));
    // A value the camera refuses: the library's text, and the camera is marked for recovery.
    EXPECT_EQ(Refused(channel.Write("OffsetX", "left"), channel),
              "Feature OffsetX refused the value \"left\": not a number.");
}

TEST_F(CameraSelection, LineScanCameraDefaultsHeightRateAndEncoderLimits) {
    Json station = LineStation();
    station["cameras"][0]["limits"] = {{"Height", {{"max", 998}}}};
    station["controllers"][0]["encoderMaximum"] = 1000;
    Load(station);
    host::HostChannel channel = Channel();
    ASSERT_TRUE(Write(channel, {{"AcquisitionLineRate", "2000000"}}));
    EXPECT_EQ(Read(channel, "AcquisitionLineRate"), "1000000");
    ASSERT_TRUE(Write(channel, {{"AcquisitionLineRate", "5"}}));
    EXPECT_EQ(Read(channel, "AcquisitionLineRate"), "10");
    for (const auto& [given, stored] : std::vector<std::pair<std::string, std::string>>{
             {"1001", "1000"}, {"5", "8"}, {"-6", "8"}, {"9999", "4000"}}) {
        ASSERT_TRUE(Write(channel, {{"EncoderResolution", given}}));
        EXPECT_EQ(Read(channel, "EncoderResolution"), stored) << given;
    }
    // A line camera keeps the GigE and burst features; its height is the camera's, not divided by 4.
    ASSERT_TRUE(Write(channel, {{"GevRequestTimeout", "777"}, {"DeviceImageSource", "Line A"}}));
    EXPECT_EQ(Values(channel, {"GevRequestTimeout", "AcquisitionBurstMode", "ExposureTime", "Height"}),
              (Strings{"777", "Off", "10", "16"}));
    EXPECT_THAT(Trace("camera:Line A"), Contains("set\tExposureTime\t10"));
    ASSERT_TRUE(Write(channel, {{"Height", "200"}}));
    EXPECT_EQ(Read(channel, "Height"), "200");
    EXPECT_THAT(Trace("camera:Line A"), Contains("set\tHeight\t800"));
    ASSERT_TRUE(Write(channel, {{"Height", "250"}}));
    EXPECT_EQ(Read(channel, "Height"), "249") << "camera read back 998";
    // With a camera the line rate is limited by the camera's maximum.
    ASSERT_TRUE(Write(channel, {{"AcquisitionLineRate", "1000000"}}));
    EXPECT_EQ(Values(channel, {"AcquisitionLineRate", "AcquisitionLineRateMaximum"}),
              (Strings{"80000", "80000"}));
}

TEST_F(CameraSelection, CommonParametersInTheirOrder) {
    host::HostChannel channel = Ready(AreaStation());
    ClearTrace();
    qrZEB_CommonParams parameters{};
    parameters.exposureSeconds = 0.0002;
    parameters.gain = 1.5;
    parameters.continuous = 1;
    parameters.triggerMode = 0;
    parameters.risingEdge = 0;
    parameters.offsetX = 8;
    parameters.offsetY = 4;
    parameters.width = 32;
    parameters.height = 20;
    ASSERT_TRUE(channel.SetupCommonParams(parameters)) << channel.Error();
    Strings sets;
    for (const std::string& line : Trace("camera:Cam A"))
        if (line.starts_with("set\t"))
            sets.push_back(line);
    EXPECT_EQ(sets, (Strings{"set\tExposureTime\t200", "set\tGain\t1.5", "set\tOffsetX\t0", "set\tOffsetY\t0",
                             "set\tWidth\t32", "set\tHeight\t20", "set\tOffsetX\t8", "set\tOffsetY\t4"}));
    EXPECT_EQ(Values(channel, {"AcquisitionMode", "TriggerMode", "TriggerActivation", "OffsetX"}),
              (Strings{"Continuous", "Off", "FallingEdge", "8"}));
}

TEST_F(CameraSelection, AssistantFeatures) {
    Load(AreaStation());
    host::HostChannel channel = Channel();
    ASSERT_TRUE(Write(channel, {{"DialogSelector", "Focus detection"}}));
    ASSERT_TRUE(channel.Execute("DialogStart"));
    EXPECT_EQ(Read(channel, "DialogStatus"), "True");
    EXPECT_TRUE(Write(channel, {{"DialogSelector", "Focus detection"}})) << "the same value is accepted";
    EXPECT_EQ(Refused(channel.Write("DialogSelector", "Brightness detection"), channel),
              "There is already a dialog running. Changes of the dialog selector are not possible in "
              "this status.");
    EXPECT_EQ(Values(channel, {"DialogSelector", "DialogResult", "DialogResultMessage"}),
              (Strings{"Focus detection", "Success", "Representative part should be placed by now."}));
    ASSERT_TRUE(channel.Execute("DialogNext"));
    EXPECT_EQ(Read(channel, "DialogAcquisitionRequest"), "True");
    ASSERT_TRUE(Write(channel, {{"DialogAcquisitionRequest", "False"}}));
    EXPECT_EQ(Read(channel, "DialogAcquisitionRequest"), "True") << "the assistant's own flag wins on read";
    ClearTrace();
    ASSERT_TRUE(channel.Execute("DialogStop"));
    EXPECT_EQ(Read(channel, "DialogStatus"), "False");
    EXPECT_THAT(Trace("controller:0"), Contains("factory"));
    ASSERT_TRUE(channel.Execute("DialogNext"));
    EXPECT_TRUE(environment.Logged("No dialog running. Start dialog first."));
    // Once stopped, another assistant may be selected and started.
    ASSERT_TRUE(Write(channel, {{"DialogSelector", "Brightness detection"}}));
    ASSERT_TRUE(channel.Execute("DialogStart"));
    EXPECT_EQ(Read(channel, "DialogInstruction"),
              "Place a representative part in the field of view of the camera.");
}

TEST_F(CameraSelection, ReleaseClosesTheCameraAndTheChannelStaysUsable) {
    host::HostChannel channel = Ready(AreaStation());
    ASSERT_TRUE(channel.Release());
    EXPECT_EQ(Trace("camera:Cam A").back(), "close");
    EXPECT_EQ(Read(channel, "Width"), "64");
    EXPECT_EQ(Refused(channel.Start(), channel), "No valid DeviceImageSource selected.");
    // "DeviceImageSource" still names the camera, so writing it again is no change: "None" first.
    ASSERT_TRUE(Write(channel, {{"DeviceImageSource", "None"}, {"DeviceImageSource", "Cam A"}}));
    EXPECT_TRUE(channel.Start()) << channel.Error();
}

} // namespace zeb::test
