// Station faults: the user's message, recovery at the next start, and nothing the host set is lost;
// a device failing while an assistant assesses is that device's failure, and the assistant keeps
// its state.
#include "ChannelTest.h"

namespace zeb::test {

class Faults : public ChannelTest {
protected:
    // Channel `id` of the loaded station with its camera selected and settings of the host's own.
    host::HostChannel Configured(int id, const std::string& camera) {
        host::HostChannel channel = Select(id, camera);
        EXPECT_TRUE(Write(channel, {{"ExposureTime", "60"}, {"LightingSequenceType", "Axial"}}));
        return channel;
    }
    // The settings the host made survive the fault and the recovery.
    static void ExpectSettingsKept(host::HostChannel& channel, const std::string& camera) {
        EXPECT_EQ(Values(channel, {"ExposureTime", "LightingSequenceType", "DeviceImageSource"}),
                  (Strings{"60", "Axial", camera}));
    }
};

TEST_F(Faults, ControllerSilentAtStartupRecoversOnTheNextCall) {
    Json station = WiredChannels(2);
    station["controllers"][0]["connectFailures"] = 10;
    station["controllers"][1]["connectFailures"] = 2;
    Load(station);
    host::HostChannel silent = Channel(0);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(Refused(silent.Read("Width"), silent), ControllerMessage);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(900))
        << "nine pauses of 100 ms";
    EXPECT_TRUE(environment.Logged("Exception in Dervo::Morvane::Controller::Connect: Controller 0 did not "
                                   "answer the connection request."));
    EXPECT_EQ(Read(silent, "Width"), "0") << "the next call initialises the channel";
    const auto trace = Trace("controller:0");
    EXPECT_EQ(std::count_if(trace.begin(), trace.end(),
                            [](const std::string& line) { return line.starts_with("connect\t"); }),
              11);
    // A controller that answers the third attempt is used at once.
    host::HostChannel late = Channel(1);
    EXPECT_EQ(Read(late, "DeviceScanType"), "Areascan");
    const auto lateTrace = Trace("controller:1");
    ASSERT_GE(lateTrace.size(), 3u);
    EXPECT_EQ(Strings(lateTrace.begin(), lateTrace.begin() + 3),
              (Strings{"connect\tfailed", "connect\tfailed", "connect\tok"}));
}

TEST_F(Faults, DevicesLostOrFailingRecoverAtTheNextStart) {
    const struct {
        const char* what;
        const char* device; // "controllers" or "cameras"
        Json fault;
        bool continuous;
        int beforeMs, afterMs; // waits before the image, and before the next start
        std::string error;
    } cases[] = {
        // The start's programming writes the light mode first.
        {"controller lost during programming", "controllers",
         StationFault("offline", "set", "Sequencer.LightMode", 1, 250), false, -1, 0, ControllerMessage},
        // Gone 40 ms after the start programmed it: the continuous re-arm after an image finds no controller.
        {"controller lost during acquisition", "controllers",
         StationFault("offline", "set", "Sequencer.LightMode", 2, 200, 40), true, 50, 250, ControllerMessage},
        {"camera lost while streaming", "cameras", StationFault("offline", "frameindex", "", 3, 100), false,
         0, 150, CameraMessage},
        {"transfer error", "cameras", StationFault("transferError", "frame", "", 1), false, 0, 0,
         "Image was not transfered correctly. Frame 1 of Cam 3 arrived incomplete; packets were lost on the "
         "way."}};
    Json station = WiredChannels(4);
    for (int id = 0; id < 4; ++id)
        station[cases[id].device][id]["faults"] = Json::array({cases[id].fault});
    Load(station);
    for (int id = 0; id < 4; ++id) {
        const auto& c = cases[id];
        SCOPED_TRACE(c.what);
        host::HostChannel channel = Configured(id, CameraOf(id));
        if (c.continuous) {
            ASSERT_TRUE(Write(channel, {{"AcquisitionMode", "Continuous"}}));
        }
        if (c.beforeMs < 0) {
            EXPECT_FALSE(channel.Start());
        } else {
            ASSERT_TRUE(channel.Start()) << channel.Error();
            std::this_thread::sleep_for(std::chrono::milliseconds(c.beforeMs));
            EXPECT_FALSE(channel.NextImage(3000));
        }
        EXPECT_EQ(channel.Error(), c.error);
        std::this_thread::sleep_for(std::chrono::milliseconds(c.afterMs));
        EXPECT_TRUE(Acquires(channel));
        ExpectSettingsKept(channel, CameraOf(id));
    }
    EXPECT_TRUE(environment.Logged(
        "Exception in Dervo::Morvane::Controller::SetRegisterValue: Controller 0 does not answer."));
    EXPECT_TRUE(environment.Logged("Controller error, trying to recover."));
    EXPECT_TRUE(environment.Logged("Controller recover done."));
}

TEST_F(Faults, CameraLostWhileOpenRecoversAtTheNextStart) {
    Json station = AreaStation();
    station["cameras"][0]["faults"] = Json::array({StationFault("offline", "set", "TriggerSource", 1, 150)});
    Load(station);
    host::HostChannel channel = Configured(0, "Cam A");
    EXPECT_EQ(Refused(channel.Start(), channel), "Camera Cam A does not answer.")
        << "a failed camera write keeps the library's text";
    EXPECT_EQ(Refused(channel.Start(), channel), CameraMessage) << "still gone: the recovery's open fails";
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(Acquires(channel));
    EXPECT_TRUE(environment.Logged("ImageSource error, trying to recover."));
    ExpectSettingsKept(channel, "Cam A");
}

TEST_F(Faults, GrabberThatCannotAllocateTheImage) {
    Json station = LineStation();
    station["cameras"][0]["grabberMemory"] = 100000;
    host::HostChannel channel = Ready(station, "Line A");
    ASSERT_TRUE(Write(channel, {{"Height", "100"}})); // 128 x 400 x 4 buffers > 100000 bytes
    EXPECT_EQ(Refused(channel.Start(), channel), "Memory could not be allocated. (Image size to large)");
    ASSERT_TRUE(Write(channel, {{"Height", "40"}}));
    EXPECT_TRUE(Acquires(channel));
    EXPECT_EQ(Read(channel, "Height"), "40");
}

// A device failing while the orientation assistant assesses an image set (of a sheet, so that it
// assesses): channel 0 loses its camera, channel 1 its controller.
TEST_F(Faults, ADeviceFailingInTheOrientationAssessmentIsThatDevicesFailure) {
    Json station = WiredChannels(2);
    for (int id = 0; id < 2; ++id)
        station["cameras"][id]["scene"] = {{"object", "sheet"}};
    station["cameras"][0]["faults"] = Json::array({StationFault("offline", "get", "SensorWidth", 1, 600000)});
    station["controllers"][1]["faults"] =
        Json::array({StationFault("offline", "get", "Light.GlobalChannelParameters.PulseWidth", 1, 600000)});
    Load(station);
    for (int id = 0; id < 2; ++id) {
        host::HostChannel channel = Select(id, CameraOf(id));
        ASSERT_TRUE(Write(channel, {{"SetupMode", "On"}, {"DialogSelector", "Orientation detection"}}));
        ASSERT_TRUE(channel.Execute("DialogStart")) << channel.Error();
        ASSERT_TRUE(Acquires(channel));
        EXPECT_EQ(Refused(channel.Read("DialogResult"), channel),
                  id == 0 ? CameraMessage : ControllerMessage);
        EXPECT_EQ(Values(channel, {"DialogStatus", "DialogResultMessage"}), (Strings{"True", ""}))
            << "the assistant keeps its state; no result from an assessment that did not finish";
        EXPECT_FALSE(channel.Start()) << "the device is recovered at the next start, and does not answer";
        EXPECT_TRUE(environment.Logged(id == 0 ? "ImageSource error, trying to recover."
                                               : "Controller error, trying to recover."));
    }
}

} // namespace zeb::test
