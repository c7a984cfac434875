// A device failing while an assistant evaluates: the host learns which device failed, the device
// is marked for recovery, and the assistant keeps its state.
#include "HostTest.h"

namespace zeb::test {

class AssistantFaults : public HostTest {
protected:
    host::HostChannel OrientationWithOneImage(const Json& station) {
        Load(station);
        host::HostChannel channel = Channel();
        EXPECT_TRUE(channel.Write("DeviceImageSource", "Cam A")) << channel.Error();
        EXPECT_TRUE(channel.Write("SetupMode", "On"));
        EXPECT_TRUE(channel.Write("DialogSelector", "Orientation detection"));
        EXPECT_TRUE(channel.Execute("DialogStart")) << channel.Error();
        EXPECT_TRUE(channel.Start()) << channel.Error();
        EXPECT_TRUE(channel.NextImage()) << channel.Error();
        return channel;
    }
};

TEST_F(AssistantFaults, ACameraReadFailingInTheOrientationAssessmentIsTheCamerasFailure) {
    Json station = AreaStation();
    station["cameras"][0]["scene"] = {{"object", "sheet"}};
    station["cameras"][0]["faults"] =
        Json::array({{{"kind", "offline"},
                      {"after", {{"operation", "get"}, {"name", "SensorWidth"}, {"count", 1}}},
                      {"durationMs", 600000}}});
    host::HostChannel channel = OrientationWithOneImage(station);
    EXPECT_FALSE(channel.Read("DialogResult"));
    EXPECT_EQ(channel.Error(), CameraMessage);
    EXPECT_EQ(Read(channel, "DialogStatus"), "True");
    EXPECT_EQ(Read(channel, "DialogResultMessage"), "") << "no result from an assessment that did not finish";
    EXPECT_FALSE(channel.Start()) << "the camera is recovered at the next start, and does not answer";
    EXPECT_TRUE(environment.Logged("ImageSource error, trying to recover."));
}

TEST_F(AssistantFaults, AControllerFailingInTheOrientationAssessmentIsTheControllersFailure) {
    Json station = AreaStation();
    station["cameras"][0]["scene"] = {{"object", "sheet"}};
    station["controllers"][0]["faults"] = Json::array(
        {{{"kind", "offline"},
          {"after",
           {{"operation", "get"}, {"name", "Light.GlobalChannelParameters.PulseWidth"}, {"count", 1}}},
          {"durationMs", 600000}}});
    host::HostChannel channel = OrientationWithOneImage(station);
    EXPECT_FALSE(channel.Read("DialogResult"));
    EXPECT_EQ(channel.Error(), ControllerMessage);
    EXPECT_EQ(Read(channel, "DialogStatus"), "True");
    EXPECT_FALSE(channel.Start());
    EXPECT_TRUE(environment.Logged("Controller error, trying to recover."));
}

} // namespace zeb::test
