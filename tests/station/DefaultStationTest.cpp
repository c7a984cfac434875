// The built-in default station through the plug-in, as an integrator meets it without hardware:
// each channel finds its camera, and every setup assistant succeeds on it, noise and all.
#include "../host/ChannelTest.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace zeb::test {

class DefaultStation : public ChannelTest {
protected:
    // Starts an assistant; a wiring check (`actMilliseconds` >= 0) lets the station act that long and
    // judges, a measuring one (after "Next" past its first step when `next`) judges images. Returns
    // the verdict with its arguments and stops the assistant.
    std::string Run(host::HostChannel& channel, const std::string& assistant, int actMilliseconds = -1,
                    bool next = false) {
        EXPECT_TRUE(Write(channel, {{"DialogSelector", assistant}}));
        EXPECT_TRUE(channel.Execute("DialogStart")) << channel.Error();
        if (next || actMilliseconds >= 0) {
            EXPECT_EQ(Read(channel, "DialogResult"), "Success");
            std::this_thread::sleep_for(std::chrono::milliseconds(std::max(actMilliseconds, 0)));
            EXPECT_TRUE(channel.Execute("DialogNext")) << channel.Error();
        }
        const std::string result = actMilliseconds >= 0 ? Read(channel, "DialogResult") : Evaluate(channel);
        const std::string verdict = result + " (" + Read(channel, "DialogResultMessageArguments") + ")";
        EXPECT_TRUE(channel.Execute("DialogStop"));
        return verdict;
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
        const struct {
            const char* assistant;
            int actMilliseconds;
            bool next;
        } steps[] = {{"Brightness detection", -1, false},
                     {"Focus detection", -1, true},
                     {"Orientation detection", -1, false}, // the dome is mounted as the orientation says
                     {"Frame trigger input detection", 250, false}, // the input pulses every 100 ms
                     {"Encoder movement detection", 50, false}};
        for (const auto& [assistant, actMilliseconds, next] : steps) {
            if (index == 0 && std::string_view(assistant).starts_with("Encoder"))
                continue; // line scan only
            const std::string verdict = Run(channel, assistant, actMilliseconds, next);
            EXPECT_EQ(verdict.substr(0, 8), "Success ") << assistant << ": " << verdict;
            std::printf("channel %d: %s %s\n", index, assistant, verdict.c_str());
        }
        ASSERT_TRUE(channel.Stop());
    }
}

} // namespace zeb::test
