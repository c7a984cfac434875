// A station driven through its device operations on the manual clock, as the stand-ins drive it:
// programs the controller's sequencer and takes area-scan image sets or line-scan frames.
#pragma once

#include "Station.h"
#include "Stations.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace zeb::station::test {

using zeb::test::Json;

// The error of loading station file `text` as the file `path`, or "" when it loads.
inline std::string LoadError(const std::string& text, const std::string& path) {
    try {
        Station::FromJson(text, path);
    } catch (const std::exception& error) {
        return error.what();
    }
    return "";
}

// The four directions of one image set (direction k is frame k of the sequence), or the rows of a
// line-scan frame with the four directions interleaved.
struct Shot {
    int32_t width = 0, height = 0;
    std::vector<std::vector<uint8_t>> frames;
    uint8_t At(size_t frame, int32_t x, int32_t y) const {
        return frames[frame][static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
    }
};

class StationRig {
public:
    // The device id of the controller the rig programs.
    int32_t controller = 0;

    // `file`: the station file's name, from which the names of the files it gives are relative.
    explicit StationRig(const Json& json, const std::string& file = "rig.json") {
        station = Station::FromJson(json.dump(), file);
        station->UseManualClock(true);
        for (const auto& [id, serial] : station->Peers())
            EXPECT_TRUE(station->Connect(id).Ok());
    }

    // Writes and reads a register of the rig's controller.
    void Set(const std::string& name, const std::string& value) {
        const Outcome outcome = station->SetRegister(controller, name, value);
        EXPECT_TRUE(outcome.Ok()) << name << ": " << outcome.error;
    }
    std::string Get(const std::string& name) {
        std::string value;
        const Outcome outcome = station->GetRegister(controller, name, value);
        EXPECT_TRUE(outcome.Ok()) << name << ": " << outcome.error;
        return value;
    }
    void SetCamera(const std::string& camera, const std::string& feature, const std::string& value) {
        const Outcome outcome = station->SetCameraFeature(camera, feature, value);
        EXPECT_TRUE(outcome.Ok()) << feature << ": " << outcome.error;
    }
    std::string GetCamera(const std::string& camera, const std::string& feature) {
        std::string value;
        const Outcome outcome = station->GetCameraFeature(camera, feature, value);
        EXPECT_TRUE(outcome.Ok()) << feature << ": " << outcome.error;
        return value;
    }
    void Later(Nanoseconds nanoseconds) { station->SetManualTime(station->Now() + nanoseconds); }
    void At(Nanoseconds time) { station->SetManualTime(time); }

    // Opens and starts an area camera clocked by its ready line, with the light as the plug-in sets
    // it by default: the diagonal sequence at brightness 200 with 50 us pulses and exposures.
    void StartArea(const std::string& camera, const std::string& exposure = "50") {
        ASSERT_TRUE(station->OpenCamera(camera, "ImageSource").Ok());
        SetCamera(camera, "ExposureTime", exposure);
        SetCamera(camera, "LineSelector", "Line1");
        SetCamera(camera, "LineSource", "TriggerReady");
        ASSERT_TRUE(station->StartCamera(camera).Ok());
        Set("Sequencer.LightSequence", "02010408");
        Set("Sequencer.Clock.Source", "Camera0Input0");
        Set("Sequencer.Clock.LevelSensitive", "1");
        Set("Sequencer.Clock.DeadTime", "10");
        Set("Light.GlobalChannelParameters.Brightness", "200");
        Set("Light.GlobalChannelParameters.PulseWidth", exposure);
    }
    // Runs the sequence once and returns its four frames.
    Shot ImageSet(const std::string& camera) {
        Shot shot;
        int64_t before = 0;
        EXPECT_TRUE(station->FrameIndex(camera, before).Ok());
        Set("Sequencer.Enabled", "0");
        Set("Sequencer.Enabled", "1");
        Later(100'000'000);
        for (int64_t index = before + 1; index <= before + 4; ++index)
            Take(camera, index, shot);
        EXPECT_EQ(shot.frames.size(), 4u);
        return shot;
    }

    // Opens and starts a line camera framed by AuxOutput1 and clocked line by line through AuxOutput0.
    void StartLine(const std::string& camera, int32_t lines) {
        ASSERT_TRUE(station->OpenCamera(camera, "ImageSource").Ok());
        SetCamera(camera, "ExposureTime", "10");
        SetCamera(camera, "Height", std::to_string(4 * lines));
        ASSERT_TRUE(station->StartCamera(camera).Ok());
        Set("Sequencer.LightSequence", "02010408");
        Set("Sequencer.SequenceRepeatCount", std::to_string(lines));
        Set("Sequencer.Clock.DeadTime", "0");
        Set("Light.GlobalChannelParameters.Brightness", "150");
        Set("Light.GlobalChannelParameters.PulseWidth", "10");
    }
    void FreeRunning(double lineRate) {
        Set("Sequencer.Clock.Source", "FrequencyGenerator");
        Set("FrequencyGenerator.Period", std::to_string(std::llround(1e9 / lineRate)));
    }
    void EncoderClocked(int32_t quarterIncrementsPerRevolution) {
        Set("Sequencer.Clock.Source", "PositionEncoder");
        Set("PositionEncoder.IncrementsPerRevolution", std::to_string(quarterIncrementsPerRevolution / 4));
        Set("PositionEncoder.PreProcessing.UseQuarterIncrements", "1");
        Set("PositionEncoder.ClockAdjustment.Direction", "Both");
    }
    // Enables the sequencer (the frame starts with it), runs `seconds` and returns the frame.
    Shot LineFrame(const std::string& camera, double seconds) {
        Shot shot;
        int64_t before = 0;
        EXPECT_TRUE(station->FrameIndex(camera, before).Ok());
        Set("Sequencer.Enabled", "0");
        Set("Sequencer.Enabled", "1");
        Later(static_cast<Nanoseconds>(seconds * 1e9));
        Take(camera, before + 1, shot);
        return shot;
    }

    std::unique_ptr<Station> station;

private:
    void Take(const std::string& camera, int64_t index, Shot& shot) {
        Frame* frame = nullptr;
        const Outcome outcome = station->GetFrame(camera, index, frame);
        ASSERT_TRUE(outcome.Ok()) << outcome.error;
        shot.width = frame->width;
        shot.height = frame->height;
        shot.frames.push_back(frame->pixels);
        ASSERT_TRUE(station->ReleaseFrame(camera, index).Ok());
    }
};

} // namespace zeb::station::test
