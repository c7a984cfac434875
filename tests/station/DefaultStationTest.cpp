// The built-in default station through the plug-in, as an integrator meets it without hardware:
// each channel finds its camera, and every setup assistant succeeds on it, noise and all.
#include "HostTest.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace zeb::test {

class DefaultStation : public HostTest {
protected:
    // Runs a measuring assistant on images acquired one set per start, each under the light as the
    // assistant last set it, until its result is no longer "Undefined".
    std::string Measure(host::HostChannel& channel, const std::string& assistant, bool next = false) {
        EXPECT_TRUE(channel.Write("DialogSelector", assistant)) << channel.Error();
        EXPECT_TRUE(channel.Execute("DialogStart")) << channel.Error();
        if (next) {
            EXPECT_EQ(Read(channel, "DialogResult"), "Success");
            EXPECT_TRUE(channel.Execute("DialogNext")) << channel.Error();
        }
        std::string result = "Undefined";
        for (int image = 0; image < 12 && result == "Undefined"; ++image) {
            EXPECT_EQ(Read(channel, "DialogAcquisitionRequest"), "True");
            EXPECT_TRUE(channel.Start()) << channel.Error();
            EXPECT_TRUE(channel.NextImage()) << channel.Error();
            result = Read(channel, "DialogResult");
        }
        const std::string arguments = Read(channel, "DialogResultMessageArguments");
        EXPECT_TRUE(channel.Execute("DialogStop"));
        return result + " (" + arguments + ")";
    }
    // A wiring check: start, let the station act for a while, then judge.
    std::string Check(host::HostChannel& channel, const std::string& assistant, int actMilliseconds) {
        EXPECT_TRUE(channel.Write("DialogSelector", assistant)) << channel.Error();
        EXPECT_TRUE(channel.Execute("DialogStart")) << channel.Error();
        EXPECT_EQ(Read(channel, "DialogResult"), "Success");
        std::this_thread::sleep_for(std::chrono::milliseconds(actMilliseconds));
        EXPECT_TRUE(channel.Execute("DialogNext")) << channel.Error();
        const std::string result = Read(channel, "DialogResult");
        EXPECT_TRUE(channel.Execute("DialogStop"));
        return result;
    }
};

TEST_F(DefaultStation, EveryAssistantSucceeds) {
    LoadDefaultStation();
    for (int32_t index = 0; index < 2; ++index) {
        SCOPED_TRACE("channel " + std::to_string(index));
        host::HostChannel channel = Channel(index);
        ASSERT_TRUE(channel.Execute("DeviceImageSourceDetect")) << channel.Error();
        ASSERT_EQ(Read(channel, "DeviceImageSource"),
                  index == 0 ? "GigE 00:11:1c:00:00:01" : "Grabber 0 Port A");
        ASSERT_TRUE(channel.Write("SetupMode", "On"));
        const std::string brightness = Measure(channel, "Brightness detection");
        EXPECT_EQ(brightness.substr(0, 8), "Success ") << brightness;
        const std::string focus = Measure(channel, "Focus detection", true);
        EXPECT_EQ(focus.substr(0, 8), "Success ") << focus;
        // The dome is mounted as the channel's orientation says.
        const std::string orientation = Measure(channel, "Orientation detection");
        EXPECT_EQ(orientation.substr(0, 8), "Success ") << orientation;
        std::printf("channel %d: brightness %s, focus %s, orientation %s\n", index, brightness.c_str(),
                    focus.c_str(), orientation.c_str());
        // The trigger input pulses every 100 ms.
        EXPECT_EQ(Check(channel, "Frame trigger input detection", 250), "Success");
        if (index == 1) {
            EXPECT_EQ(Check(channel, "Encoder movement detection", 50), "Success");
        }
        ASSERT_TRUE(channel.Stop());
    }
}

} // namespace zeb::test
