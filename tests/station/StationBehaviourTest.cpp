// What the simulated station shows through its device operations, without the plug-in: signals
// through cables, frames under the lit quadrants, registers, currents and the trace.
#include "Station.h"
#include "Stations.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <cmath>

namespace zeb::station {

namespace {

using zeb::test::Json;

class StationBehaviour : public ::testing::Test {
protected:
    void Make(const Json& json) {
        station = Station::FromJson(json.dump(), "test.json");
        station->UseManualClock(true);
        for (const auto& [id, serial] : station->Peers())
            ASSERT_TRUE(station->Connect(id).Ok());
    }
    std::string Get(const std::string& name, int id = 0) {
        std::string value;
        const Outcome outcome = station->GetRegister(id, name, value);
        EXPECT_TRUE(outcome.Ok()) << name << ": " << outcome.error;
        return value;
    }
    void Set(const std::string& name, const std::string& value, int id = 0) {
        const Outcome outcome = station->SetRegister(id, name, value);
        EXPECT_TRUE(outcome.Ok()) << name << ": " << outcome.error;
    }
    void SetCamera(const std::string& camera, const std::string& feature, const std::string& value) {
        const Outcome outcome = station->SetCameraFeature(camera, feature, value);
        EXPECT_TRUE(outcome.Ok()) << feature << ": " << outcome.error;
    }
    std::string GetCamera(const std::string& camera, const std::string& feature) {
        std::string value;
        EXPECT_TRUE(station->GetCameraFeature(camera, feature, value).Ok()) << feature;
        return value;
    }
    void Later(Nanoseconds nanoseconds) { station->SetManualTime(station->Now() + nanoseconds); }
    // Progress of a one-step sequence clocked by `port` over one user-output pulse of camera line Line1.
    std::pair<std::string, std::string> PulseThrough(const std::string& port) {
        Set("Sequencer.SequenceLength", "1");
        Set("Sequencer.Clock.Source", port);
        SetCamera("Cam A", "UserOutputValue", "False");
        SetCamera("Cam A", "LineSelector", "Line1");
        SetCamera("Cam A", "LineSource", "UserOutput1");
        Set("Sequencer.Enabled", "1");
        SetCamera("Cam A", "UserOutputValue", "True");
        const std::string first = Get("Sequencer.ExecutionProgress");
        SetCamera("Cam A", "UserOutputValue", "False");
        const std::string second = Get("Sequencer.ExecutionProgress");
        Set("Sequencer.Enabled", "0");
        return {first, second};
    }

    std::unique_ptr<Station> station;
};

} // namespace

TEST_F(StationBehaviour, CameraOutputPulsesMoveTheWiredInputsSequencer) {
    Json json = zeb::test::AreaStation();
    json["cables"].push_back(zeb::test::Cable(0, "Camera2Input1", "Cam A", "Line1", true));
    Make(json);
    ASSERT_TRUE(station->OpenCamera("Cam A", "DigitalInputs").Ok());
    EXPECT_EQ(PulseThrough("Camera0Input0"), std::make_pair(std::string("3"), std::string("3")))
        << "plain wire";
    EXPECT_EQ(PulseThrough("Camera2Input1"), std::make_pair(std::string("2"), std::string("3")))
        << "inverting wire";
    EXPECT_EQ(PulseThrough("Camera1Input0"), std::make_pair(std::string("2"), std::string("2"))) << "no wire";
    Set("CameraIo0.Input0.InvertPolarity", "True");
    EXPECT_EQ(PulseThrough("Camera0Input0"), std::make_pair(std::string("2"), std::string("3")))
        << "the port's polarity inverts like the wire";
}

TEST_F(StationBehaviour, OutputPolarityFlipsTheWiredCameraLine) {
    Json json = zeb::test::AreaStation();
    json["cables"].push_back(zeb::test::Cable(0, "Camera1Output0", "Cam A", "Line2", true));
    Make(json);
    ASSERT_TRUE(station->OpenCamera("Cam A", "DigitalInputs").Ok());
    SetCamera("Cam A", "LineSelector", "Line0");
    EXPECT_EQ(GetCamera("Cam A", "LineStatus"), "False");
    Set("CameraIo0.Output0.InvertPolarity", "1");
    EXPECT_EQ(GetCamera("Cam A", "LineStatus"), "True");
    SetCamera("Cam A", "LineSelector", "Line2");
    EXPECT_EQ(GetCamera("Cam A", "LineStatus"), "True") << "an inverting wire at normal polarity";
    Set("CameraIo1.Output0.InvertPolarity", "1");
    EXPECT_EQ(GetCamera("Cam A", "LineStatus"), "False");
}

TEST_F(StationBehaviour, AreaFramesOnlyForTriggersThatArriveWhileReady) {
    Make(zeb::test::AreaStation());
    ASSERT_TRUE(station->OpenCamera("Cam A", "ImageSource").Ok());
    SetCamera("Cam A", "ExposureTime", "50");
    ASSERT_TRUE(station->StartCamera("Cam A").Ok());
    // Edge-clocked by the camera's ready line, the sequencer steps on each rising edge only.
    Set("Sequencer.LightSequence", "02010408");
    Set("Sequencer.Clock.Source", "Camera0Input0");
    SetCamera("Cam A", "LineSelector", "Line1");
    SetCamera("Cam A", "LineSource", "TriggerReady");
    Set("Sequencer.Clock.LevelSensitive", "1");
    Set("Sequencer.Clock.DeadTime", "10");
    Set("Sequencer.Enabled", "1");
    Later(10'000'000);
    int64_t frames = 0;
    ASSERT_TRUE(station->FrameIndex("Cam A", frames).Ok());
    EXPECT_EQ(frames, 4);
    EXPECT_EQ(Get("Sequencer.ExecutionProgress"), "6");
    // A dead time shorter than a frame with a level that stays high: the steps outrun the camera.
    Set("Sequencer.Enabled", "0");
    SetCamera("Cam A", "LineSource", "Off");
    Set("Sequencer.Clock.Source", "HighLevel");
    Set("Sequencer.Enabled", "1");
    Later(10'000'000);
    ASSERT_TRUE(station->FrameIndex("Cam A", frames).Ok());
    EXPECT_EQ(frames, 5) << "the first trigger exposes, the three during the exposure are lost";
    EXPECT_EQ(Get("Sequencer.ExecutionProgress"), "6") << "the sequencer counts every step";
    // Unwired: nothing arrives.
    Json miswired = zeb::test::AreaStation();
    miswired["cables"] = Json::array();
    Make(miswired);
    ASSERT_TRUE(station->OpenCamera("Cam A", "ImageSource").Ok());
    ASSERT_TRUE(station->StartCamera("Cam A").Ok());
    Set("Sequencer.Clock.Source", "HighLevel");
    Set("Sequencer.Clock.LevelSensitive", "1");
    Set("Sequencer.Enabled", "1");
    Later(10'000'000);
    ASSERT_TRUE(station->FrameIndex("Cam A", frames).Ok());
    EXPECT_EQ(frames, 0);
}

TEST_F(StationBehaviour, RegistersCurrentsAndEncoderLimit) {
    Json json = zeb::test::AreaStation();
    json["controllers"][0]["light"] = Json::array({2800, 0, 2800, 2800});
    json["controllers"][0]["registers"]["Info.FirmwareVersion"] = nullptr;
    json["controllers"][0]["registers"]["Light.GlobalChannelParameters.Brightness"] = "77";
    json["controllers"][0]["encoderMaximum"] = 5000;
    Make(json);
    EXPECT_EQ(Get("Light0.Channel0.Current"), "2800");
    EXPECT_EQ(Get("Light0.Channel1.Current"), "0");
    std::string value;
    EXPECT_FALSE(station->GetRegister(0, "Info.FirmwareVersion", value).Ok());
    int32_t count = 0;
    ASSERT_TRUE(station->RegisterCount(0, count).Ok());
    for (int32_t i = 0; i < count; ++i) {
        ASSERT_TRUE(station->RegisterName(0, i, value).Ok());
        EXPECT_NE(value, "Info.FirmwareVersion");
    }
    Set("Light.GlobalChannelParameters.Brightness", "10");
    Set("PositionEncoder.IncrementsPerRevolution", "4294967295");
    EXPECT_EQ(Get("PositionEncoder.IncrementsPerRevolution"), "5000");
    ASSERT_TRUE(station->LoadFactory(0).Ok());
    EXPECT_EQ(Get("Light.GlobalChannelParameters.Brightness"), "77");
    EXPECT_FALSE(station->SetRegister(0, "Sequencer.ExecutionProgress", "9").Ok());
    const Outcome refused = station->SetRegister(0, "Sequencer.Enabled", "yes");
    EXPECT_EQ(refused.error,
              "Register Sequencer.Enabled refused the value \"yes\": expected 0, 1, True or False.");
}

TEST_F(StationBehaviour, ConnectFailsAsOftenAsConfigured) {
    Json json = zeb::test::AreaStation();
    json["controllers"][0]["connectFailures"] = 2;
    station = Station::FromJson(json.dump(), "test.json");
    std::string value;
    EXPECT_EQ(station->GetRegister(0, "Info.ScanType", value).error, "Controller 0 is not connected.");
    EXPECT_FALSE(station->Connect(0).Ok());
    EXPECT_FALSE(station->Connect(0).Ok());
    EXPECT_TRUE(station->Connect(0).Ok());
    EXPECT_TRUE(station->GetRegister(0, "Info.ScanType", value).Ok());
}

TEST_F(StationBehaviour, ImagesFollowExposureGainAndBrightnessAndClip) {
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

TEST_F(StationBehaviour, SheetCentroidMovesTowardTheLitQuadrantAndBlurLowersDetail) {
    SceneRenderer renderer;
    RenderRequest request;
    request.width = request.sensorWidth = 120;
    request.height = request.sensorHeight = 90;
    request.scene.object = "sheet";
    auto centroidX = [&](int quadrant) {
        request.weights = {0, 0, 0, 0};
        request.weights[static_cast<size_t>(quadrant)] = 1.0f;
        const Image image = renderer.Render(request);
        double sum = 0, moment = 0;
        for (int32_t y = 0; y < 90; ++y)
            for (int32_t x = 0; x < 120; ++x) {
                sum += (*image)[static_cast<size_t>(y) * 120 + x];
                moment += x * (*image)[static_cast<size_t>(y) * 120 + x];
            }
        return moment / sum - 59.5;
    };
    EXPECT_LT(centroidX(0), -1.0);
    EXPECT_GT(centroidX(1), 1.0);
    EXPECT_LT(centroidX(2), -1.0);
    EXPECT_GT(centroidX(3), 1.0);

    request.scene.object = "part";
    auto detail = [&](double defocus) {
        request.scene.defocus = defocus;
        request.weights = {0.15f, 0.15f, 0.15f, 0.15f};
        const Image image = renderer.Render(request);
        double sum = 0;
        for (int32_t y = 1; y < 89; ++y)
            for (int32_t x = 1; x < 119; ++x)
                sum += std::abs((*image)[static_cast<size_t>(y) * 120 + x] -
                                (*image)[static_cast<size_t>(y) * 120 + x + 1]);
        return sum;
    };
    EXPECT_GT(detail(0), detail(1));
    EXPECT_GT(detail(1), detail(3));
}

TEST_F(StationBehaviour, EveryOperationIsTraced) {
    zeb::test::TestEnvironment environment; // points ZEB_STATION_TRACE into its folder
    Make(zeb::test::AreaStation());
    Set("Sequencer.Enabled", "1");
    std::string value;
    station->GetRegister(0, "Nope", value);
    station->OpenCamera("Cam A", "ImageSource");
    station->SetCameraFeature("Cam A", "Gain", "2");
    const auto lines = environment.TraceLines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "controller:0\tconnect\tok");
    EXPECT_EQ(lines[1], "controller:0\tset\tSequencer.Enabled\t1");
    EXPECT_EQ(lines[2], "controller:0\tget\tNope\t\terror: Register Nope does not exist.");
    EXPECT_EQ(lines[3], "camera:Cam A\topen");
    EXPECT_EQ(lines[4], "camera:Cam A\tset\tGain\t2");
}

} // namespace zeb::station
