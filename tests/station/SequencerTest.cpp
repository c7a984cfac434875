// The controller's sequencer as the station runs it: arming, clocking and progress.
#include "Station.h"
#include "Stations.h"

#include <gtest/gtest.h>

namespace zeb::station {

namespace {
using zeb::test::Json;

std::unique_ptr<Station> Make(const Json& json) {
    auto station = Station::FromJson(json.dump(), "test.json");
    station->UseManualClock(true);
    return station;
}

std::string Get(Station& station, int id, const std::string& name) {
    std::string value;
    const Outcome outcome = station.GetRegister(id, name, value);
    EXPECT_TRUE(outcome.Ok()) << outcome.error;
    return value;
}

void Set(Station& station, int id, const std::string& name, const std::string& value) {
    const Outcome outcome = station.SetRegister(id, name, value);
    EXPECT_TRUE(outcome.Ok()) << outcome.error;
}
} // namespace

TEST(Sequencer, EncoderClocksOneStepPerCount) {
    auto station = Make(zeb::test::LineStation());
    ASSERT_TRUE(station->Connect(0).Ok());
    Set(*station, 0, "Sequencer.SequenceRepeatCount", "0");
    Set(*station, 0, "Sequencer.Clock.Source", "PositionEncoder");
    Set(*station, 0, "PositionEncoder.IncrementsPerRevolution", "900");
    Set(*station, 0, "PositionEncoder.PreProcessing.UseQuarterIncrements", "1");
    Set(*station, 0, "PositionEncoder.ClockAdjustment.Direction", "Both");
    Set(*station, 0, "Sequencer.Enabled", "1");
    EXPECT_EQ(Get(*station, 0, "Sequencer.ExecutionProgress"), "2")
        << "armed at once: the encoder clock idles low";
    Set(*station, 0, "PositionEncoder.PositionTracking.ResetPosition", "1");
    station->SetManualTime(station->Now() + 100'000'000); // 0.1 s at 2 revolutions per second: 720 counts
    EXPECT_EQ(Get(*station, 0, "PositionEncoder.PositionTracking.Position"), "720");
    EXPECT_EQ(Get(*station, 0, "Sequencer.ExecutionProgress"), "722");
}

} // namespace zeb::station
