// Choosing the camera, the per-camera defaults, write-through to the camera and the assistant's
// feature protocol.
#include "HostTest.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace zeb::test {

namespace {
bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}
size_t Count(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}
} // namespace

class CameraSelection : public HostTest {};

TEST_F(CameraSelection, DefaultsAppliedOnEachNewCameraAndKeptOnReopen) {
    Json station = AreaStation();
    station["cameras"].push_back(AreaCamera("Cam B", "Other-1"));
    station["cables"].push_back(Cable(0, "Camera1Output0", "Cam B", "Line0"));
    station["cables"].push_back(Cable(0, "Camera1Input0", "Cam B", "Line1"));
    Load(station);
    host::HostChannel channel = Channel();
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Cam A")) << channel.Error();
    EXPECT_EQ(Read(channel, "DeviceImageSourceModel"), "VCXG-25M");
    EXPECT_EQ(Read(channel, "DeviceImageSourceSerial"), "S-Cam A");
    EXPECT_EQ(Read(channel, "Width"), "64");
    EXPECT_EQ(Read(channel, "ExposureTime"), "50");
    EXPECT_EQ(Read(channel, "GevRequestTimeout"), "2000");
    EXPECT_EQ(Read(channel, "AcquisitionBurstMode"), "On");
    ASSERT_TRUE(channel.Write("ExposureTime", "80"));
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Cam B")) << channel.Error();
    EXPECT_EQ(Read(channel, "ExposureTime"), "50");
    EXPECT_EQ(Read(channel, "AcquisitionBurstMode"), "On") << "a model outside the list keeps the burst mode";
    ASSERT_TRUE(channel.Write("ExposureTime", "90"));
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Cam A"));
    EXPECT_EQ(Read(channel, "ExposureTime"), "50") << "A was not the camera configured last";
    EXPECT_TRUE(environment.Logged("Close Cam B"));
    EXPECT_TRUE(environment.Logged("Open Cam A."));

    // Writing the bound name does nothing; "None" closes.
    ClearTrace();
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Cam A"));
    EXPECT_TRUE(Trace("camera:Cam A").empty());
    ASSERT_TRUE(channel.Write("DeviceImageSource", "None"));
    EXPECT_TRUE(Contains(Trace("camera:Cam A"), "close"));
    EXPECT_EQ(Read(channel, "DeviceImageSource"), "None");
}

TEST_F(CameraSelection, AFailureWhileClosingTheOldCameraDoesNotStopTheNewOne) {
    Json station = AreaStation();
    station["cameras"].push_back(AreaCamera("Cam B"));
    station["cables"].push_back(Cable(0, "Camera1Output0", "Cam B", "Line0"));
    station["cables"].push_back(Cable(0, "Camera1Input0", "Cam B", "Line1"));
    // Cam A stops answering 30 ms after it starts streaming, for good.
    station["cameras"][0]["faults"] = Json::array({StationFault("offline", "start", "", 1, 600000, 30)});
    Load(station);
    host::HostChannel channel = Channel();
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Cam A"));
    ASSERT_TRUE(channel.Start()) << channel.Error();
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Cam B")) << channel.Error();
    EXPECT_EQ(Read(channel, "DeviceImageSource"), "Cam B");
    EXPECT_TRUE(environment.Logged("Close done."));
    EXPECT_TRUE(environment.Logged("Open done."));
    ASSERT_TRUE(channel.Start()) << channel.Error();
    EXPECT_TRUE(channel.NextImage()) << channel.Error();
}

TEST_F(CameraSelection, BurstCapableModelsMatchAsSubstrings) {
    Json station = AreaStation();
    station["cameras"][0] = AreaCamera("Cam A", "xxVCXG.2-127M-R2");
    Load(station);
    host::HostChannel channel = Channel();
    EXPECT_EQ(Read(channel, "AcquisitionBurstMode"), "Off");
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Cam A"));
    EXPECT_EQ(Read(channel, "AcquisitionBurstMode"), "On");
}

TEST_F(CameraSelection, LineScanCameraKeepsGigeAndBurstFeatures) {
    Load(LineStation());
    host::HostChannel channel = Channel();
    ASSERT_TRUE(channel.Write("GevRequestTimeout", "777"));
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Line A")) << channel.Error();
    EXPECT_EQ(Read(channel, "GevRequestTimeout"), "777");
    EXPECT_EQ(Read(channel, "AcquisitionBurstMode"), "Off");
    EXPECT_EQ(Read(channel, "ExposureTime"), "10");
    EXPECT_EQ(Read(channel, "Height"), "16") << "the camera's height, not divided by 4";
    EXPECT_TRUE(Contains(Trace("camera:Line A"), "set\tExposureTime\t10"));
}

TEST_F(CameraSelection, MiswiredCameraIsStoredAsNoneAndLeftUnbound) {
    Json station = AreaStation();
    station["cables"] = Json::array({Cable(0, "Camera0Output0", "Cam A", "Line0")}); // no ready signal back
    Load(station);
    host::HostChannel channel = Channel();
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Cam A")) << "the write itself succeeds";
    EXPECT_EQ(Read(channel, "DeviceImageSource"), "None");
    EXPECT_TRUE(
        environment.Logged("Value is invalid (Feature = DeviceImageSource, Value = Cam A, NewValue = None)"));
    EXPECT_FALSE(environment.Logged("Open done."));
    const auto trace = Trace("camera:Cam A");
    EXPECT_EQ(trace.back(), "close");
    EXPECT_FALSE(channel.Start());
    EXPECT_EQ(channel.Error(), "No valid DeviceImageSource selected.");
    // A later attempt applies the defaults again (nothing was configured).
    ASSERT_TRUE(channel.Write("ExposureTime", "77"));
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Cam A"));
    EXPECT_EQ(Count(Trace("camera:Cam A"), "set\tExposureTime\t50"), 2u);
}

TEST_F(CameraSelection, DetectFindsTheCameraWiredToEachController) {
    Json station = {{"controllers", Json::array({AreaController(0), AreaController(1)})},
                    {"cameras", Json::array({AreaCamera("Cam A"), AreaCamera("Cam B")})},
                    {"cables", AreaCables(0, "Cam A")}};
    for (const Json& cable : AreaCables(1, "Cam B"))
        station["cables"].push_back(cable);
    Load(station);
    host::HostChannel first = Channel(0), second = Channel(1);
    ASSERT_TRUE(first.Execute("DeviceImageSourceDetect")) << first.Error();
    EXPECT_EQ(Read(first, "DeviceImageSource"), "Cam A");
    EXPECT_TRUE(environment.Logged("Checking ImageSource Cam A"));
    ASSERT_TRUE(second.Execute("DeviceImageSourceDetect")) << second.Error();
    EXPECT_EQ(Read(second, "DeviceImageSource"), "Cam B");
    EXPECT_TRUE(environment.Logged("ImageSource already used by BRELAN: Morvane (#0)"));
}

TEST_F(CameraSelection, DetectWithoutCandidatesIsNoError) {
    Json station = AreaStation();
    station["cables"] = Json::array();
    Load(station);
    host::HostChannel channel = Channel();
    EXPECT_TRUE(channel.Execute("DeviceImageSourceDetect")) << channel.Error();
    EXPECT_EQ(Read(channel, "DeviceImageSource"), "None");
}

TEST_F(CameraSelection, DetectWithAnEmptyCameraListOnlyLogs) {
    Json station = LineStation();
    station["cameras"] = Json::array();
    station["cables"] = Json::array();
    Load(station);
    host::HostChannel channel = Channel();
    EXPECT_TRUE(channel.Execute("DeviceImageSourceDetect")) << channel.Error();
    EXPECT_TRUE(environment.Logged("DeviceImageSourceDetect"));
    for (const std::string& message : environment.LogMessages())
        EXPECT_EQ(message.rfind("Checking ImageSource", 0), std::string::npos);
}

TEST_F(CameraSelection, WritesGoThroughToTheCameraAndComeBackAsAccepted) {
    Json station = AreaStation();
    station["cameras"][0]["limits"] = {{"Gain", {{"max", 12}}}};
    Load(station);
    host::HostChannel channel = Channel();
    ASSERT_TRUE(channel.Write("ExposureTime", "70000"));
    EXPECT_EQ(Read(channel, "ExposureTime"), "70000") << "no camera: stored as given";
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Cam A"));
    ASSERT_TRUE(channel.Write("ExposureTime", "70000"));
    EXPECT_EQ(Read(channel, "ExposureTime"), "65000");
    EXPECT_TRUE(Contains(Trace("camera:Cam A"), "set\tExposureTime\t65000"));
    EXPECT_TRUE(environment.Logged(
        "Value was maximum limited. (Feature = ExposureTime, Value = 70000, Maximum = 65000)"));
    ASSERT_TRUE(channel.Write("Gain", "20"));
    EXPECT_EQ(Read(channel, "Gain"), "12") << "the camera clamped it";
    ASSERT_TRUE(channel.Write("Width", "37"));
    EXPECT_EQ(Read(channel, "Width"), "32") << "the camera's increment of 8";
    // A value the camera refuses: the library's text, and the camera is marked for recovery.
    EXPECT_FALSE(channel.Write("OffsetX", "left"));
    EXPECT_EQ(channel.Error(), "Feature OffsetX refused the value \"left\": not a number.");
}

TEST_F(CameraSelection, LineScanHeightRateAndEncoderLimits) {
    Json station = LineStation();
    station["cameras"][0]["limits"] = {{"Height", {{"max", 998}}}};
    station["controllers"][0]["encoderMaximum"] = 1000;
    Load(station);
    host::HostChannel channel = Channel();
    ASSERT_TRUE(channel.Write("AcquisitionLineRate", "2000000"));
    EXPECT_EQ(Read(channel, "AcquisitionLineRate"), "1000000");
    ASSERT_TRUE(channel.Write("AcquisitionLineRate", "5"));
    EXPECT_EQ(Read(channel, "AcquisitionLineRate"), "10");
    for (const auto& [given, stored] : std::vector<std::pair<std::string, std::string>>{
             {"1001", "1000"}, {"5", "8"}, {"-6", "8"}, {"9999", "4000"}}) {
        ASSERT_TRUE(channel.Write("EncoderResolution", given));
        EXPECT_EQ(Read(channel, "EncoderResolution"), stored) << given;
    }
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Line A"));
    ASSERT_TRUE(channel.Write("Height", "200"));
    EXPECT_EQ(Read(channel, "Height"), "200");
    EXPECT_TRUE(Contains(Trace("camera:Line A"), "set\tHeight\t800"));
    ASSERT_TRUE(channel.Write("Height", "250"));
    EXPECT_EQ(Read(channel, "Height"), "249") << "camera read back 998";
    // With a camera the line rate is limited by the camera's maximum.
    ASSERT_TRUE(channel.Write("AcquisitionLineRate", "1000000"));
    EXPECT_EQ(Read(channel, "AcquisitionLineRate"), "80000");
    EXPECT_EQ(Read(channel, "AcquisitionLineRateMaximum"), "80000");
}

TEST_F(CameraSelection, CommonParametersInTheirOrder) {
    Load(AreaStation());
    host::HostChannel channel = Channel();
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Cam A"));
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
    std::vector<std::string> sets;
    for (const std::string& line : Trace("camera:Cam A"))
        if (line.rfind("set\t", 0) == 0)
            sets.push_back(line);
    EXPECT_EQ(sets, (std::vector<std::string>{"set\tExposureTime\t200", "set\tGain\t1.5", "set\tOffsetX\t0",
                                              "set\tOffsetY\t0", "set\tWidth\t32", "set\tHeight\t20",
                                              "set\tOffsetX\t8", "set\tOffsetY\t4"}));
    EXPECT_EQ(Read(channel, "AcquisitionMode"), "Continuous");
    EXPECT_EQ(Read(channel, "TriggerMode"), "Off");
    EXPECT_EQ(Read(channel, "TriggerActivation"), "FallingEdge");
    EXPECT_EQ(Read(channel, "OffsetX"), "8");
}

TEST_F(CameraSelection, AssistantFeatures) {
    Load(AreaStation());
    host::HostChannel channel = Channel();
    ASSERT_TRUE(channel.Write("DialogSelector", "Focus detection"));
    ASSERT_TRUE(channel.Execute("DialogStart"));
    EXPECT_EQ(Read(channel, "DialogStatus"), "True");
    EXPECT_TRUE(channel.Write("DialogSelector", "Focus detection")) << "the same value is accepted";
    EXPECT_FALSE(channel.Write("DialogSelector", "Brightness detection"));
    EXPECT_EQ(channel.Error(),
              "There is already a dialog running. Changes of the dialog selector are not possible in "
              "this status.");
    EXPECT_EQ(Read(channel, "DialogSelector"), "Focus detection");
    EXPECT_EQ(Read(channel, "DialogResult"), "Success");
    EXPECT_EQ(Read(channel, "DialogResultMessage"), "Representative part should be placed by now.");
    ASSERT_TRUE(channel.Execute("DialogNext"));
    EXPECT_EQ(Read(channel, "DialogAcquisitionRequest"), "True");
    ASSERT_TRUE(channel.Write("DialogAcquisitionRequest", "False"));
    EXPECT_EQ(Read(channel, "DialogAcquisitionRequest"), "True") << "the assistant's own flag wins on read";
    ClearTrace();
    ASSERT_TRUE(channel.Execute("DialogStop"));
    EXPECT_EQ(Read(channel, "DialogStatus"), "False");
    EXPECT_TRUE(Contains(Trace("controller:0"), "factory"));
    ASSERT_TRUE(channel.Execute("DialogNext"));
    EXPECT_TRUE(environment.Logged("No dialog running. Start dialog first."));
    // An unknown assistant name runs until stopped.
    ASSERT_TRUE(channel.Write("DialogSelector", "Brightness detection"));
    ASSERT_TRUE(channel.Execute("DialogStart"));
    EXPECT_EQ(Read(channel, "DialogInstruction"),
              "Place a representative part in the field of view of the camera.");
}

TEST_F(CameraSelection, ReleaseClosesTheCameraAndTheChannelStaysUsable) {
    Load(AreaStation());
    host::HostChannel channel = Channel();
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Cam A"));
    ASSERT_TRUE(channel.Release());
    EXPECT_EQ(Trace("camera:Cam A").back(), "close");
    EXPECT_EQ(Read(channel, "Width"), "64");
    EXPECT_FALSE(channel.Start());
    EXPECT_EQ(channel.Error(), "No valid DeviceImageSource selected.");
    // "DeviceImageSource" still names the camera, so writing it again is no change...
    ASSERT_TRUE(channel.Write("DeviceImageSource", "None"));
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Cam A"));
    EXPECT_TRUE(channel.Start()) << channel.Error();
}

} // namespace zeb::test
