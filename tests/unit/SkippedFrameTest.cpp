// A frame of another size inside an image set, delivered through the host entry points. The test
// links the plug-in and the station into one program so that it can hand the plug-in such a frame:
// the station's cameras lock their region while streaming and clear their frames at every start, so
// no sequence of host calls alone produces one.
#include "../host/ChannelTest.h"
#include "Main.h"
#include "Station.h"

#include <array>
#include <vector>

namespace zeb::test {

namespace {

constexpr int32_t Width = 64, Height = 48;
constexpr size_t FrameBytes = size_t{Width} * Height;

class SkippedFrame : public ::testing::Test {
protected:
    void SetUp() override {
        environment.UseStation(AreaStation().dump());
        ASSERT_TRUE(channel.Open(GetVideoChannel, 0)) << channel.Error();
        ASSERT_TRUE(channel.Write("DeviceImageSource", "Cam A")) << channel.Error();
        ASSERT_TRUE(channel.Write("SetupMode", "On")) << channel.Error();
    }

    // Starts a single-frame acquisition and waits until its four frames are there, unconsumed.
    void StartAndAwaitImageSet() {
        ASSERT_TRUE(channel.Start()) << channel.Error();
        qrZEB_ImageAttributes attributes{};
        attributes.size = sizeof attributes;
        ASSERT_EQ(AwaitAttributes(channel, attributes), 0) << "no image set";
    }

    // Turns the second frame of the waiting image set into one of another size and returns the
    // pixels of all four frames as they are now (the second one empty).
    std::array<std::vector<uint8_t>, 4> ShrinkSecondFrame() {
        station::Station& station = station::Station::Instance();
        std::lock_guard lock(station.Mutex());
        station::SimCamera* camera = station.Camera("Cam A");
        std::array<std::vector<uint8_t>, 4> frames;
        if (!camera || camera->frames.size() < 4) {
            ADD_FAILURE() << "the image set is not waiting in the camera";
            return frames;
        }
        auto frame = camera->frames.begin();
        for (size_t k = 0; k < 4; ++k, ++frame) {
            if (k == 1) {
                frame->second->height = Height / 2;
                frame->second->pixels.resize(FrameBytes / 2);
            } else {
                frames[k] = frame->second->pixels;
            }
        }
        return frames;
    }

    std::vector<uint8_t> GetImage() {
        std::vector<uint8_t> image(FrameBytes, 0xEE);
        EXPECT_EQ(PollImage(channel, image), 0);
        return image;
    }

    // The average of the image set with its second frame counting as zeros.
    static void ExpectAverageWithoutSecondFrame(const std::vector<uint8_t>& image,
                                                const std::array<std::vector<uint8_t>, 4>& frames) {
        ASSERT_EQ(frames[0].size(), FrameBytes);
        size_t mismatches = 0;
        for (size_t i = 0; i < FrameBytes; ++i)
            if (image[i] != ((frames[0][i] + frames[2][i] + frames[3][i]) >> 2))
                ++mismatches;
        EXPECT_EQ(mismatches, 0u) << "pixels that are not (p0 + 0 + p2 + p3) >> 2";
    }

    TestEnvironment environment;
    host::HostChannel channel;
};

} // namespace

TEST_F(SkippedFrame, CountsAsZerosNotAsTheRowsOfAnEarlierImageSetWhetherOrNotAnAssistantAsked) {
    for (const bool assistant : {false, true}) {
        SCOPED_TRACE(assistant ? "an assistant asked for the image" : "no assistant");
        if (assistant) {
            ASSERT_TRUE(channel.Write("DialogSelector", "Brightness detection")) << channel.Error();
            ASSERT_TRUE(channel.Execute("DialogStart")) << channel.Error();
        }
        // A first image set with all four directions lit leaves its rows behind wherever they were kept.
        StartAndAwaitImageSet();
        const std::vector<uint8_t> first = GetImage();
        ASSERT_GT(first[FrameBytes / 2], 8) << "the scene must be lit for the test to tell rows apart";

        StartAndAwaitImageSet();
        if (assistant) {
            ASSERT_EQ(channel.Read("DialogAcquisitionRequest").value_or(""), "True") << channel.Error();
        }
        const auto frames = ShrinkSecondFrame();
        ExpectAverageWithoutSecondFrame(GetImage(), frames);
    }
}

} // namespace zeb::test
