// What the simulated station shows through its device operations, without the plug-in: signals
// through cables, the sequencer's clocks, frames under the lit quadrants, registers, currents and
// the trace.
#include "StationRig.h"
#include "TestEnvironment.h"

namespace zeb::station::test {

namespace {

using zeb::test::AreaStation;

// Progress of a one-step sequence clocked by `port` over one user-output pulse of camera line Line1.
std::pair<std::string, std::string> PulseThrough(StationRig& rig, const std::string& port) {
    rig.Set("Sequencer.SequenceLength", "1");
    rig.Set("Sequencer.Clock.Source", port);
    rig.SetCamera("Cam A", "UserOutputValue", "False");
    rig.SetCamera("Cam A", "LineSelector", "Line1");
    rig.SetCamera("Cam A", "LineSource", "UserOutput1");
    rig.Set("Sequencer.Enabled", "1");
    rig.SetCamera("Cam A", "UserOutputValue", "True");
    const std::string first = rig.Get("Sequencer.ExecutionProgress");
    rig.SetCamera("Cam A", "UserOutputValue", "False");
    const std::string second = rig.Get("Sequencer.ExecutionProgress");
    rig.Set("Sequencer.Enabled", "0");
    return {first, second};
}

int64_t FramesOf(StationRig& rig) {
    int64_t frames = -1;
    EXPECT_TRUE(rig.station->FrameIndex("Cam A", frames).Ok());
    return frames;
}

using Progress = std::pair<std::string, std::string>;

} // namespace

TEST(StationBehaviour, CameraOutputPulsesMoveTheWiredInputsSequencer) {
    Json json = AreaStation();
    json["cables"].push_back(zeb::test::Cable(0, "Camera2Input1", "Cam A", "Line1", true));
    StationRig rig(json);
    ASSERT_TRUE(rig.station->OpenCamera("Cam A", "DigitalInputs").Ok());
    EXPECT_EQ(PulseThrough(rig, "Camera0Input0"), Progress("3", "3")) << "plain wire";
    EXPECT_EQ(PulseThrough(rig, "Camera2Input1"), Progress("2", "3")) << "inverting wire";
    EXPECT_EQ(PulseThrough(rig, "Camera1Input0"), Progress("2", "2")) << "no wire";
    rig.Set("CameraIo0.Input0.InvertPolarity", "True");
    EXPECT_EQ(PulseThrough(rig, "Camera0Input0"), Progress("2", "3"))
        << "the port's polarity inverts like the wire";
}

TEST(StationBehaviour, OutputPolarityFlipsTheWiredCameraLine) {
    Json json = AreaStation();
    json["cables"].push_back(zeb::test::Cable(0, "Camera1Output0", "Cam A", "Line2", true));
    StationRig rig(json);
    ASSERT_TRUE(rig.station->OpenCamera("Cam A", "DigitalInputs").Ok());
    rig.SetCamera("Cam A", "LineSelector", "Line0");
    EXPECT_EQ(rig.GetCamera("Cam A", "LineStatus"), "False");
    rig.Set("CameraIo0.Output0.InvertPolarity", "1");
    EXPECT_EQ(rig.GetCamera("Cam A", "LineStatus"), "True");
    rig.SetCamera("Cam A", "LineSelector", "Line2");
    EXPECT_EQ(rig.GetCamera("Cam A", "LineStatus"), "True") << "an inverting wire at normal polarity";
    rig.Set("CameraIo1.Output0.InvertPolarity", "1");
    EXPECT_EQ(rig.GetCamera("Cam A", "LineStatus"), "False");
}

TEST(StationBehaviour, AreaFramesOnlyForTriggersThatArriveWhileReady) {
    StationRig rig(AreaStation());
    // Clocked by the camera's ready line, the sequencer steps on each rising edge only.
    rig.StartArea("Cam A");
    rig.Set("Sequencer.Enabled", "1");
    rig.Later(10'000'000);
    EXPECT_EQ(FramesOf(rig), 4);
    EXPECT_EQ(rig.Get("Sequencer.ExecutionProgress"), "6");
    // A dead time shorter than a frame with a level that stays high: the steps outrun the camera.
    rig.Set("Sequencer.Enabled", "0");
    rig.SetCamera("Cam A", "LineSource", "Off");
    rig.Set("Sequencer.Clock.Source", "HighLevel");
    rig.Set("Sequencer.Enabled", "1");
    rig.Later(10'000'000);
    EXPECT_EQ(FramesOf(rig), 5) << "the first trigger exposes, the three during the exposure are lost";
    EXPECT_EQ(rig.Get("Sequencer.ExecutionProgress"), "6") << "the sequencer counts every step";
    // Unwired: nothing arrives.
    Json miswired = AreaStation();
    miswired["cables"] = Json::array();
    StationRig unwired(miswired);
    ASSERT_TRUE(unwired.station->OpenCamera("Cam A", "ImageSource").Ok());
    ASSERT_TRUE(unwired.station->StartCamera("Cam A").Ok());
    unwired.Set("Sequencer.Clock.Source", "HighLevel");
    unwired.Set("Sequencer.Clock.LevelSensitive", "1");
    unwired.Set("Sequencer.Enabled", "1");
    unwired.Later(10'000'000);
    EXPECT_EQ(FramesOf(unwired), 0);
}

TEST(StationBehaviour, EncoderClocksTheSequencerOneStepPerCount) {
    StationRig rig(zeb::test::LineStation());
    rig.Set("Sequencer.SequenceRepeatCount", "0");
    rig.EncoderClocked(3600);
    rig.Set("Sequencer.Enabled", "1");
    EXPECT_EQ(rig.Get("Sequencer.ExecutionProgress"), "2") << "armed at once: the encoder clock idles low";
    rig.Set("PositionEncoder.PositionTracking.ResetPosition", "1");
    rig.Later(100'000'000); // 0.1 s at 2 revolutions per second: 720 counts
    EXPECT_EQ(rig.Get("PositionEncoder.PositionTracking.Position"), "720");
    EXPECT_EQ(rig.Get("Sequencer.ExecutionProgress"), "722");
}

TEST(StationBehaviour, RegistersCurrentsAndEncoderLimit) {
    Json json = AreaStation();
    json["controllers"][0]["light"] = Json::array({2800, 0, 2800, 2800});
    json["controllers"][0]["registers"]["Info.FirmwareVersion"] = nullptr;
    json["controllers"][0]["registers"]["Light.GlobalChannelParameters.Brightness"] = "77";
    json["controllers"][0]["encoderMaximum"] = 5000;
    StationRig rig(json);
    Station& station = *rig.station;
    EXPECT_EQ(rig.Get("Light0.Channel0.Current"), "2800");
    EXPECT_EQ(rig.Get("Light0.Channel1.Current"), "0");
    std::string value;
    EXPECT_FALSE(station.GetRegister(0, "Info.FirmwareVersion", value).Ok());
    int32_t count = 0;
    ASSERT_TRUE(station.RegisterCount(0, count).Ok());
    for (int32_t i = 0; i < count; ++i) {
        ASSERT_TRUE(station.RegisterName(0, i, value).Ok());
        EXPECT_NE(value, "Info.FirmwareVersion");
    }
    rig.Set("Light.GlobalChannelParameters.Brightness", "10");
    rig.Set("PositionEncoder.IncrementsPerRevolution", "4294967295");
    EXPECT_EQ(rig.Get("PositionEncoder.IncrementsPerRevolution"), "5000");
    ASSERT_TRUE(station.LoadFactory(0).Ok());
    EXPECT_EQ(rig.Get("Light.GlobalChannelParameters.Brightness"), "77");
    EXPECT_FALSE(station.SetRegister(0, "Sequencer.ExecutionProgress", "9").Ok());
    EXPECT_EQ(station.SetRegister(0, "Sequencer.Enabled", "yes").error,
              "Register Sequencer.Enabled refused the value \"yes\": expected 0, 1, True or False.");
}

TEST(StationBehaviour, ConnectFailsAsOftenAsConfigured) {
    Json json = AreaStation();
    json["controllers"][0]["connectFailures"] = 2;
    auto station = Station::FromJson(json.dump(), "test.json");
    std::string value;
    EXPECT_EQ(station->GetRegister(0, "Info.ScanType", value).error, "Controller 0 is not connected.");
    EXPECT_FALSE(station->Connect(0).Ok());
    EXPECT_FALSE(station->Connect(0).Ok());
    EXPECT_TRUE(station->Connect(0).Ok());
    EXPECT_TRUE(station->GetRegister(0, "Info.ScanType", value).Ok());
}

TEST(StationBehaviour, ImagesFollowTheLightAndClip) {
    SceneRenderer renderer;
    RenderRequest request;
    request.width = request.sensorWidth = 80;
    request.height = request.sensorHeight = 60;
    request.scene.object = "grey";
    auto mean = [&](float weight) {
        request.weights = {weight, 0, 0, 0};
        const Image image = renderer.Render(request);
        double sum = 0;
        for (uint8_t p : *image)
            sum += p;
        return sum / static_cast<double>(image->size());
    };
    const double base = mean(0.5f);
    EXPECT_NEAR(mean(1.0f), 2 * base, 1.0);
    EXPECT_EQ(mean(50.0f), 255.0) << "clipped";
    EXPECT_EQ(mean(0.0f), 0.0);
}

TEST(StationBehaviour, EveryOperationIsTraced) {
    zeb::test::TestEnvironment environment; // points ZEB_STATION_TRACE into its folder
    StationRig rig(AreaStation());
    rig.Set("Sequencer.Enabled", "1");
    std::string value;
    rig.station->GetRegister(0, "Nope", value);
    rig.station->OpenCamera("Cam A", "ImageSource");
    rig.station->SetCameraFeature("Cam A", "Gain", "2");
    EXPECT_EQ(
        environment.TraceLines(),
        (std::vector<std::string>{"controller:0\tconnect\tok", "controller:0\tset\tSequencer.Enabled\t1",
                                  "controller:0\tget\tNope\t\terror: Register Nope does not exist.",
                                  "camera:Cam A\topen", "camera:Cam A\tset\tGain\t2"}));

    // A trace that cannot be written is said once on standard error, naming it; the station goes on.
    const std::string unwritable = (environment.Folder() / "no-such-folder" / "trace.txt").string();
    zeb::test::TestEnvironment::SetVariable("ZEB_STATION_TRACE", unwritable);
    testing::internal::CaptureStderr();
    const bool set = rig.station->SetCameraFeature("Cam A", "Gain", "3").Ok();
    const bool read = rig.station->GetCameraFeature("Cam A", "Gain", value).Ok();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(set && read && value == "3");
    EXPECT_EQ(said, "zeb station: the device trace " + unwritable +
                        " (ZEB_STATION_TRACE) cannot be written: No such file or directory; the station goes "
                        "on without it: name a file in a folder that exists and can be written\n");
}

} // namespace zeb::station::test

namespace zeb::station::test {

// The camera's features refuse what a GenICam camera refuses, with its words, and keep the value;
// numbers land on the increment within the limits the region leaves.
TEST(StationBehaviour, CameraFeaturesRefuseAndRoundAsTheCameraDoes) {
    StationRig rig(AreaStation());
    Station& station = *rig.station;
    const auto set = [&](const std::string& feature, const std::string& value) {
        return station.SetCameraFeature("Cam A", feature, value).error;
    };
    std::string value;
    EXPECT_EQ(set("Gain", "2"), "Camera Cam A is not open.");
    EXPECT_EQ(station.GetCameraFeature("Cam A", "Gain", value).error, "Camera Cam A is not open.");
    ASSERT_TRUE(station.OpenCamera("Cam A", "ImageSource").Ok());

    EXPECT_EQ(set("Nope", "1"), "Feature Nope does not exist.");
    EXPECT_EQ(station.GetCameraFeature("Cam A", "Nope", value).error, "Feature Nope does not exist.");
    EXPECT_EQ(set("SensorWidth", "64"), "Feature SensorWidth is read-only.");
    EXPECT_EQ(set("Gain", "loud"), "Feature Gain refused the value \"loud\": not a number.");
    EXPECT_EQ(set("ReverseXY", "yes"),
              "Feature ReverseXY refused the value \"yes\": expected True or False.");
    EXPECT_EQ(set("AcquisitionMode", "Burst"),
              "Feature AcquisitionMode refused the value \"Burst\": not one of its entries.");
    rig.SetCamera("Cam A", "LineSelector", "Line0"); // an input
    EXPECT_EQ(set("LineSource", "TriggerReady"),
              "Feature LineSource refused the value \"TriggerReady\": the selected line is no output.");
    EXPECT_EQ(rig.GetCamera("Cam A", "LineSource"), "Off");
    std::vector<std::string> entries;
    EXPECT_EQ(station.GetCameraEnum("Cam A", "Gain", entries).error, "Feature Gain is no enumeration.");
    ASSERT_TRUE(station.GetCameraEnum("Cam A", "LineSelector", entries).Ok());
    EXPECT_EQ(entries, (std::vector<std::string>{"Line0", "Line1", "Line2", "Line3"}));

    // Width in steps of 8 from 16, at most what the offset leaves of the sensor; booleans as 1 and 0.
    const int32_t sensorWidth = std::stoi(rig.GetCamera("Cam A", "SensorWidth"));
    rig.SetCamera("Cam A", "Width", "30.9");
    EXPECT_EQ(rig.GetCamera("Cam A", "Width"), "24");
    rig.SetCamera("Cam A", "OffsetX", "21");
    EXPECT_EQ(rig.GetCamera("Cam A", "OffsetX"), "16");
    rig.SetCamera("Cam A", "Width", "1e9");
    EXPECT_EQ(rig.GetCamera("Cam A", "Width"), std::to_string(sensorWidth - 16));
    rig.SetCamera("Cam A", "Width", "-5");
    EXPECT_EQ(rig.GetCamera("Cam A", "Width"), "16");
    rig.SetCamera("Cam A", "ReverseXY", "1");
    EXPECT_EQ(rig.GetCamera("Cam A", "ReverseXY"), "True");
    rig.SetCamera("Cam A", "Gain", "99");
    EXPECT_EQ(rig.GetCamera("Cam A", "Gain"), "24");

    // While it streams, the region and the mode stay as they are; exposure and gain do not.
    ASSERT_TRUE(station.StartCamera("Cam A").Ok());
    EXPECT_EQ(set("Width", "32"), "Feature Width cannot be changed while the camera streams.");
    EXPECT_EQ(rig.GetCamera("Cam A", "Width"), "16");
    EXPECT_EQ(set("ExposureTime", "80"), "");
    EXPECT_GT(std::stod(rig.GetCamera("Cam A", "AcquisitionFrameRate")), 0);
}

} // namespace zeb::station::test
