// Image sets recorded through the host interface and played back by a camera of the station come out
// of the plug-in byte for byte as they were recorded, stacked or averaged, area or line scan; a
// recording that does not fit the camera's settings is refused as a camera error naming the file.
#include "../station/TestPng.h"
#include "ChannelTest.h"

namespace zeb::test {

namespace {

// Writes a delivered stack as zeb writes an image set's stack, with its scan type.
void WriteStack(const std::filesystem::path& file, const host::Image& image, const std::string& scanType) {
    TestPng::Write(file, TestPng::Grey8(image.width, image.height, image.pixels,
                                        {{"Scan type", scanType}, {"Image", "the four directions stacked"}}));
}

} // namespace

class Replay : public ChannelTest {
protected:
    // Loads `station`, selects its camera and takes `count` stacked image sets, one acquisition each.
    std::vector<host::Image> Take(const Json& station, const std::string& camera, int count,
                                  const std::string& setupMode = "Off") {
        std::vector<host::Image> images;
        host::HostChannel channel = Ready(station, camera);
        EXPECT_TRUE(Write(channel, {{"SetupMode", setupMode}}));
        for (int set = 0; set < count; ++set) {
            const auto image = Acquire(channel);
            EXPECT_TRUE(image) << channel.Error();
            if (image)
                images.push_back(*image);
        }
        EXPECT_TRUE(channel.Stop());
        return images;
    }
    void Unload() {
        plugin->Unload();
        plugin.reset();
    }
    std::filesystem::path Recordings() const { return environment.Folder() / "recorded"; }
};

TEST_F(Replay, AreaSetsRecordedThroughThePlugInComeBackByteForByte) {
    // Recorded from the part with the sensor's noise: no two sets alike.
    Json station = AreaStation();
    station["cameras"][0].erase("sensor");
    station["cameras"][0]["scene"] = {{"object", "part"}};
    const std::vector<host::Image> recorded = Take(station, "Cam A", 2);
    ASSERT_EQ(recorded.size(), 2u);
    ASSERT_EQ(recorded[0].height, 4 * 48);
    ASSERT_NE(recorded[0].pixels, recorded[1].pixels);
    WriteStack(Recordings() / "zeb-channel0-0001-stack.png", recorded[0], "Areascan");
    WriteStack(Recordings() / "zeb-channel0-0002-stack.png", recorded[1], "Areascan");
    Unload();

    // Played back: the camera's scene is the folder, relative to the station file.
    station["cameras"][0]["scene"] = {{"replay", "recorded"}};
    const std::vector<host::Image> played = Take(station, "Cam A", 3);
    ASSERT_EQ(played.size(), 3u);
    for (size_t set = 0; set < 3; ++set) {
        EXPECT_EQ(played[set].width, recorded[set % 2].width);
        EXPECT_EQ(played[set].height, recorded[set % 2].height);
        EXPECT_TRUE(played[set].pixels == recorded[set % 2].pixels) << "set " << set;
    }
    Unload();

    // Averaged by the plug-in: each pixel the mean of the recorded directions, as the plug-in takes it.
    const std::vector<host::Image> averaged = Take(station, "Cam A", 1, "On");
    ASSERT_EQ(averaged.size(), 1u);
    ASSERT_EQ(averaged[0].height, 48);
    const auto& stack = recorded[0].pixels;
    size_t wrong = 0;
    for (size_t i = 0; i < averaged[0].pixels.size(); ++i) {
        const size_t frame = 64 * 48;
        const int sum = stack[i] + stack[i + frame] + stack[i + 2 * frame] + stack[i + 3 * frame];
        wrong += averaged[0].pixels[i] != (sum >> 2);
    }
    EXPECT_EQ(wrong, 0u);
}

TEST_F(Replay, LineFramesRecordedThroughThePlugInComeBackByteForByte) {
    Json station = LineStation();
    station["cameras"][0].erase("sensor");
    station["cameras"][0]["scene"] = {{"object", "part"}};
    const std::vector<host::Image> recorded = Take(station, "Line A", 1);
    ASSERT_EQ(recorded.size(), 1u);
    ASSERT_EQ(recorded[0].height, 4 * 16);
    WriteStack(Recordings() / "zeb-channel0-0001-stack.png", recorded[0], "Linescan");
    Unload();

    station["cameras"][0]["scene"] = {{"replay", "recorded"}};
    const std::vector<host::Image> played = Take(station, "Line A", 2);
    ASSERT_EQ(played.size(), 2u);
    for (const host::Image& image : played)
        EXPECT_TRUE(image.pixels == recorded[0].pixels);
}

TEST_F(Replay, RecordingsThatDoNotFitAreCameraErrorsNamingTheFile) {
    const std::string file = (Recordings() / "set-1-stack.png").string();
    host::Image set{64, 4 * 48, std::vector<uint8_t>(64 * 4 * 48, 77)};
    WriteStack(file, set, "Areascan");
    Json station = AreaStation();
    station["cameras"][0]["scene"] = {{"replay", "recorded"}};
    host::HostChannel channel = Ready(station);
    // Another image size: the camera refuses to start, and the plug-in reports a camera error.
    ASSERT_TRUE(Write(channel, {{"Width", "32"}}));
    EXPECT_EQ(Refused(channel.Start(), channel), CameraMessage);
    EXPECT_FALSE(
        LoggedStartingWith("Exception in Tamo::Acquisition::ImageSource::Start: Camera Cam A cannot play "
                           "back its recording: " +
                           file +
                           " holds images of one direction of 64 x 48 pixels; the camera's image "
                           "is 32 x 48.")
            .empty());
    // The recorded size again, and a set damaged since the station file was read: the image does not
    // arrive whole, and the plug-in says why.
    ASSERT_TRUE(Write(channel, {{"Width", "64"}}));
    TestPng::Write(file, "no longer an image");
    ASSERT_TRUE(channel.Start()) << channel.Error();
    EXPECT_FALSE(channel.NextImage());
    EXPECT_EQ(channel.Error(),
              "Image was not transfered correctly. Camera Cam A could not play back its recording: " + file +
                  ": is not a PNG file");
}

} // namespace zeb::test
