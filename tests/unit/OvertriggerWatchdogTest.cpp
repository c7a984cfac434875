// The overtrigger watchdog's allowed wait, and a camera that reports no frame rate through the
// host's calls.
#include "OvertriggerWatchdog.h"
#include "HostChannel.h"
#include "Main.h"
#include "Station.h"
#include "Stations.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>

namespace Zeb = Tamo::Morvane::Zeb;

TEST(OvertriggerWatchdog, EightFramePeriodsPlusOneExposure) {
    EXPECT_EQ(Zeb::AreaScanOvertriggerWaitMs("100", 50.0), 80);
    EXPECT_EQ(Zeb::AreaScanOvertriggerWaitMs("10", 2500.0), 802);
    EXPECT_EQ(Zeb::AreaScanOvertriggerWaitMs("3.5", 0.0), 2285) << "truncated toward zero";
    EXPECT_EQ(Zeb::AreaScanOvertriggerWaitMs("0.000001", 0.0), std::numeric_limits<int32_t>::max())
        << "a rate that slow is taken at its word, up to the largest wait";
}

TEST(OvertriggerWatchdog, WithoutAUsableFrameRateTheWaitIsStillBounded) {
    for (const char* rate : {"0", "", "fast", "-25", "nan", "0.0"}) {
        SCOPED_TRACE(rate);
        EXPECT_EQ(Zeb::AreaScanOvertriggerWaitMs(rate, 50.0), 500) << "the wait line scan allows";
        EXPECT_EQ(Zeb::AreaScanOvertriggerWaitMs(rate, 65000.0), 585) << "nine exposure times when longer";
    }
}

TEST(OvertriggerWatchdog, ACameraReportingNoFrameRateStillEndsTheWait) {
    zeb::test::TestEnvironment environment;
    environment.EnableLogging();
    // Every trigger is lost: the sequencer runs through while no frame comes.
    zeb::test::Json station = zeb::test::AreaStation();
    station["cameras"][0]["faults"] = zeb::test::Json::array(
        {{{"kind", "lostTriggers"}, {"after", {{"operation", "trigger"}, {"count", 1}}}, {"count", 1000}}});
    environment.UseStation(station.dump());
    zeb::host::HostChannel channel;
    ASSERT_TRUE(channel.Open(&GetVideoChannel, 0)) << channel.Error();
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Cam A")) << channel.Error();
    ASSERT_TRUE(channel.Start()) << channel.Error();
    {
        // An exposure without end: the camera's frame rate reads "0".
        auto& devices = zeb::station::Station::Instance();
        std::lock_guard lock(devices.Mutex());
        devices.Camera("Cam A")->features["ExposureTime"] = "inf";
    }
    // A generous bound, only so that a wait without end does not hang the test.
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::optional<int32_t> status = 4096;
    while (status && std::chrono::steady_clock::now() < guard)
        status = channel.Wait();
    ASSERT_FALSE(status) << "still waiting";
    EXPECT_EQ(channel.Error(), "Acquisition aborted because of camera overtriggered.");
    std::string lastWait;
    for (const std::string& message : environment.LogMessages())
        if (message.starts_with("Waiting for image "))
            lastWait = message;
    EXPECT_NE(lastWait.find(". Max: 500 ms"), std::string::npos) << lastWait;
}
