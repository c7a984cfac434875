// Station faults: the user's message, recovery at the next start, and nothing the host set is lost;
// a device failing while an assistant assesses is that device's failure, and the assistant keeps
// its state.
#include "HostTest.h"

#include <chrono>
#include <thread>

namespace zeb::test {

class Faults : public HostTest {
protected:
    // Channel 0 of the station with Cam A selected.
    host::HostChannel WithCamera(const Json& station) {
        Load(station);
        host::HostChannel channel = Channel();
        EXPECT_TRUE(channel.Write("DeviceImageSource", "Cam A")) << channel.Error();
        return channel;
    }
    host::HostChannel Ready(const Json& station) {
        host::HostChannel channel = WithCamera(station);
        EXPECT_TRUE(channel.Write("ExposureTime", "60"));
        EXPECT_TRUE(channel.Write("LightingSequenceType", "Axial"));
        return channel;
    }
    // A channel whose orientation assistant has received one image set (on a sheet, so that it
    // assesses).
    host::HostChannel OrientationWithOneImage(const Json& station) {
        host::HostChannel channel = WithCamera(station);
        EXPECT_TRUE(channel.Write("SetupMode", "On"));
        EXPECT_TRUE(channel.Write("DialogSelector", "Orientation detection"));
        EXPECT_TRUE(channel.Execute("DialogStart")) << channel.Error();
        EXPECT_TRUE(channel.Start()) << channel.Error();
        EXPECT_TRUE(channel.NextImage()) << channel.Error();
        return channel;
    }
    // The settings the host made survive the fault and the recovery.
    void ExpectSettingsKept(host::HostChannel& channel) {
        EXPECT_EQ(Read(channel, "ExposureTime"), "60");
        EXPECT_EQ(Read(channel, "LightingSequenceType"), "Axial");
        EXPECT_EQ(Read(channel, "DeviceImageSource"), "Cam A");
    }
};

TEST_F(Faults, ControllerSilentAtStartupRecoversOnTheNextCall) {
    Json station = AreaStation();
    station["controllers"][0]["connectFailures"] = 10;
    Load(station);
    host::HostChannel channel = Channel();
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(channel.Read("Width"));
    EXPECT_EQ(channel.Error(), ControllerMessage);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(900))
        << "nine pauses of 100 ms";
    EXPECT_EQ(Read(channel, "Width"), "0") << "the next call initialises the channel";
    size_t attempts = 0;
    for (const std::string& line : Trace("controller:0"))
        attempts += line.rfind("connect\t", 0) == 0 ? 1 : 0;
    EXPECT_EQ(attempts, 11u);
}

TEST_F(Faults, ControllerConnectsOnTheThirdAttempt) {
    Json station = AreaStation();
    station["controllers"][0]["connectFailures"] = 2;
    Load(station);
    host::HostChannel channel = Channel();
    EXPECT_EQ(Read(channel, "DeviceScanType"), "Areascan");
    const auto trace = Trace("controller:0");
    ASSERT_GE(trace.size(), 3u);
    EXPECT_EQ(trace[0], "connect\tfailed");
    EXPECT_EQ(trace[1], "connect\tfailed");
    EXPECT_EQ(trace[2], "connect\tok");
}

TEST_F(Faults, ControllerLostDuringProgrammingRecoversAtTheNextStart) {
    Json station = AreaStation();
    station["controllers"][0]["faults"] = Json::array({StationFault(
        "offline", "set", "Sequencer.LightMode", 1, 250)}); // written first by the start's Update
    host::HostChannel channel = Ready(station);
    EXPECT_FALSE(channel.Start());
    EXPECT_EQ(channel.Error(), ControllerMessage);
    EXPECT_TRUE(
        environment.Logged("Exception in Dervo::Morvane::Controller::SetRegisterValue: Controller 0 does not "
                           "answer."));
    ASSERT_TRUE(channel.Start()) << channel.Error();
    EXPECT_TRUE(environment.Logged("Controller error, trying to recover."));
    EXPECT_TRUE(environment.Logged("Controller recover done."));
    EXPECT_TRUE(channel.NextImage()) << channel.Error();
    ExpectSettingsKept(channel);
}

TEST_F(Faults, ControllerLostDuringAcquisition) {
    Json station = AreaStation();
    // Gone 40 ms after the start programmed it: the continuous re-arm after an image finds no controller.
    station["controllers"][0]["faults"] =
        Json::array({StationFault("offline", "set", "Sequencer.LightMode", 2, 200, 40)});
    host::HostChannel channel = Ready(station);
    ASSERT_TRUE(channel.Write("AcquisitionMode", "Continuous"));
    ASSERT_TRUE(channel.Start());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(channel.NextImage(3000));
    EXPECT_EQ(channel.Error(), ControllerMessage);
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    ASSERT_TRUE(channel.Start()) << channel.Error();
    EXPECT_TRUE(channel.NextImage()) << channel.Error();
    ExpectSettingsKept(channel);
}

TEST_F(Faults, CameraLostWhileOpenRecoversAtTheNextStart) {
    Json station = AreaStation();
    station["cameras"][0]["faults"] = Json::array({StationFault("offline", "set", "TriggerSource", 1, 150)});
    host::HostChannel channel = Ready(station);
    EXPECT_FALSE(channel.Start());
    EXPECT_EQ(channel.Error(), "Camera Cam A does not answer.")
        << "a failed camera write keeps the library's text";
    EXPECT_FALSE(channel.Start()) << "still gone: the recovery's open fails";
    EXPECT_EQ(channel.Error(), CameraMessage);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_TRUE(channel.Start()) << channel.Error();
    EXPECT_TRUE(environment.Logged("ImageSource error, trying to recover."));
    EXPECT_TRUE(channel.NextImage()) << channel.Error();
    ExpectSettingsKept(channel);
}

TEST_F(Faults, CameraLostWhileStreaming) {
    Json station = AreaStation();
    station["cameras"][0]["faults"] = Json::array({StationFault("offline", "frameindex", "", 3, 100)});
    host::HostChannel channel = Ready(station);
    ASSERT_TRUE(channel.Start());
    EXPECT_FALSE(channel.NextImage());
    EXPECT_EQ(channel.Error(), CameraMessage);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    ASSERT_TRUE(channel.Start()) << channel.Error();
    EXPECT_TRUE(channel.NextImage()) << channel.Error();
    ExpectSettingsKept(channel);
}

TEST_F(Faults, TransferErrorNamesTheFrame) {
    Json station = AreaStation();
    station["cameras"][0]["faults"] = Json::array({StationFault("transferError", "frame", "", 1)});
    host::HostChannel channel = Ready(station);
    ASSERT_TRUE(channel.Start());
    EXPECT_FALSE(channel.NextImage());
    EXPECT_EQ(channel.Error(), "Image was not transfered correctly. Frame 1 of Cam A arrived incomplete; "
                               "packets were lost on the way.");
    ASSERT_TRUE(channel.Start()) << channel.Error();
    EXPECT_TRUE(channel.NextImage()) << channel.Error();
}

TEST_F(Faults, GrabberThatCannotAllocateTheImage) {
    Json station = LineStation();
    station["cameras"][0]["grabberMemory"] = 100000;
    Load(station);
    host::HostChannel channel = Channel();
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Line A"));
    ASSERT_TRUE(channel.Write("Height", "100")); // 128 x 400 x 4 buffers > 100000 bytes
    EXPECT_FALSE(channel.Start());
    EXPECT_EQ(channel.Error(), "Memory could not be allocated. (Image size to large)");
    ASSERT_TRUE(channel.Write("Height", "40"));
    EXPECT_TRUE(channel.Start()) << channel.Error();
    EXPECT_TRUE(channel.NextImage()) << channel.Error();
    EXPECT_EQ(Read(channel, "Height"), "40");
}

// A device failing while an assistant assesses.
TEST_F(Faults, ACameraReadFailingInTheOrientationAssessmentIsTheCamerasFailure) {
    Json station = AreaStation();
    station["cameras"][0]["scene"] = {{"object", "sheet"}};
    station["cameras"][0]["faults"] = Json::array({StationFault("offline", "get", "SensorWidth", 1, 600000)});
    host::HostChannel channel = OrientationWithOneImage(station);
    EXPECT_FALSE(channel.Read("DialogResult"));
    EXPECT_EQ(channel.Error(), CameraMessage);
    EXPECT_EQ(Read(channel, "DialogStatus"), "True");
    EXPECT_EQ(Read(channel, "DialogResultMessage"), "") << "no result from an assessment that did not finish";
    EXPECT_FALSE(channel.Start()) << "the camera is recovered at the next start, and does not answer";
    EXPECT_TRUE(environment.Logged("ImageSource error, trying to recover."));
}

TEST_F(Faults, AControllerFailingInTheOrientationAssessmentIsTheControllersFailure) {
    Json station = AreaStation();
    station["cameras"][0]["scene"] = {{"object", "sheet"}};
    station["controllers"][0]["faults"] =
        Json::array({StationFault("offline", "get", "Light.GlobalChannelParameters.PulseWidth", 1, 600000)});
    host::HostChannel channel = OrientationWithOneImage(station);
    EXPECT_FALSE(channel.Read("DialogResult"));
    EXPECT_EQ(channel.Error(), ControllerMessage);
    EXPECT_EQ(Read(channel, "DialogStatus"), "True");
    EXPECT_FALSE(channel.Start());
    EXPECT_TRUE(environment.Logged("Controller error, trying to recover."));
}

} // namespace zeb::test
