// The station's timing under a host that runs late: frames keep the camera's own timing whatever the
// computer does, so an image set fails only for a fault the station file injects or for frames asked
// faster than the camera delivers them.
#include "ChannelTest.h"

namespace zeb::test {

namespace {

// A camera whose frames take 5 ms each (5 ms exposure, 48 rows of 1 us), so that a host polling
// every millisecond sees a set's frames come one by one; the plug-in then waits 45 ms for a set's
// missing frames (eight frame periods plus one exposure). Each of its frames holds the calling
// thread, and with it the station, for `stallMs`.
Json StalledStation(double stallMs) {
    Json station = AreaStation();
    station["cameras"][0]["faults"] =
        Json::array({Json{{"kind", "stall"}, {"durationMs", stallMs}, {"count", 1000000}}});
    return station;
}

} // namespace

class StationTiming : public ChannelTest {
protected:
    // Acquires `sets` image sets in continuous mode; the first failure names its set and the
    // plug-in's text.
    ::testing::AssertionResult AcquiresContinuously(host::HostChannel& channel, int sets) {
        if (!Write(channel, {{"ExposureTime", "5000"}, {"AcquisitionMode", "Continuous"}}))
            return ::testing::AssertionFailure() << channel.Error();
        if (!channel.Start())
            return ::testing::AssertionFailure() << "start: " << channel.Error();
        for (int set = 0; set < sets; ++set)
            if (!channel.NextImage(20000))
                return ::testing::AssertionFailure() << "set " << set << ": " << channel.Error();
        channel.Stop();
        return ::testing::AssertionSuccess();
    }
};

// Each frame's hand-out holds the host's thread for 60 ms, longer than the 45 ms the plug-in waits
// for a missing frame: the frames that came meanwhile are there when the call returns, and every set
// completes.
TEST_F(StationTiming, AThreadHeldUpLongerThanTheFrameWaitLosesNoSet) {
    host::HostChannel channel = Ready(StalledStation(60));
    EXPECT_TRUE(AcquiresContinuously(channel, 6));
    EXPECT_TRUE(LoggedStartingWith("Acquisition aborted").empty());
}

// Two channels on one station: one channel's stalled frames hold the other's calls as well (the
// station serves both under one lock), and neither loses a set.
TEST_F(StationTiming, AChannelHeldUpByTheOthersStallsLosesNoSet) {
    Json station = WiredChannels(2);
    station["cameras"][0]["faults"] = StalledStation(60)["cameras"][0]["faults"];
    Load(station);
    host::HostChannel stalled = Select(0, CameraOf(0));
    host::HostChannel held = Select(1, CameraOf(1));
    std::thread other([&] { EXPECT_TRUE(AcquiresContinuously(stalled, 4)); });
    EXPECT_TRUE(AcquiresContinuously(held, 12));
    other.join();
}

// A stall changes no timing: a lost trigger still costs its set, as the station file says.
TEST_F(StationTiming, InjectedFaultsStillFailTheirSet) {
    Json station = StalledStation(10);
    station["cameras"][0]["faults"].push_back(StationFault("lostTriggers", "trigger", "", 6));
    host::HostChannel channel = Ready(station);
    const ::testing::AssertionResult result = AcquiresContinuously(channel, 3);
    EXPECT_FALSE(result);
    EXPECT_NE(std::string(result.message()).find("set 1: "), std::string::npos) << result.message();
    EXPECT_NE(std::string(result.message()).find("camera overtriggered"), std::string::npos)
        << result.message();
}

} // namespace zeb::test
