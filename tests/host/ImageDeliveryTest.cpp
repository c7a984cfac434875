// Pixels through the host interface, checked exactly against the test pattern the channel writes
// into each frame: the stacked and the averaged form at widths that are no multiple of any vector
// length, line-scan frames whose last rows form no group of four, and the same image whether or not
// an assistant asked for it.
#include "ChannelTest.h"

namespace zeb::test {

namespace {

// The test pattern of a frame written with pattern value `value`: pixel (x, y) is (x + value + y) mod 256.
uint32_t Pattern(int32_t x, int32_t y, uint32_t value) {
    return (static_cast<uint32_t>(x) + value + static_cast<uint32_t>(y)) % 256;
}

} // namespace

class ImageDelivery : public ChannelTest {
protected:
    // Starts an acquisition and fetches its image with GetImage alone, so the pattern value advances
    // only for the probe and the frames of that one image set.
    static std::vector<uint8_t> Acquire(host::HostChannel& channel, size_t bytes) {
        EXPECT_TRUE(channel.Start()) << channel.Error();
        std::vector<uint8_t> image(bytes + 1, 0xEE);
        EXPECT_EQ(PollImage(channel, image), 0);
        EXPECT_EQ(image.back(), 0xEE) << "written past the image";
        image.pop_back();
        return image;
    }
    // Selects the assistant when the pass asks for one.
    static void StartAssistant(host::HostChannel& channel, bool assistant) {
        if (assistant) {
            ASSERT_TRUE(Write(channel, {{"DialogSelector", "Brightness detection"}}));
            ASSERT_TRUE(channel.Execute("DialogStart"));
            ASSERT_EQ(Read(channel, "DialogAcquisitionRequest"), "True");
        }
    }
};

TEST_F(ImageDelivery, AreaScanStackAndAverageOfFourPatternedFramesAtAnOddWidth) {
    constexpr int32_t Width = 72, Height = 50; // 72 = 2 x 32 + 8
    Json station = AreaStation();
    SizeCamera(station["cameras"][0], Width, Height);
    host::HostChannel channel = Ready(station);
    ASSERT_TRUE(Write(channel, {{"TestPattern", "On"}}));
    ASSERT_EQ(Read(channel, "Width"), std::to_string(Width));

    uint32_t value = 0;
    const struct {
        const char* name;
        bool stacked, assistant;
    } passes[] = {
        {"stacked", true, false}, {"averaged", false, false}, {"averaged for an assistant", false, true}};
    for (const auto& [name, stacked, assistant] : passes) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(Write(channel, {{"SetupMode", stacked ? "Off" : "On"}}));
        StartAssistant(channel, assistant);
        const auto image = Acquire(channel, static_cast<size_t>(Width) * Height * (stacked ? 4 : 1));
        // The probe takes `value`, the four frames the next four values.
        size_t mismatches = 0;
        for (int32_t y = 0; y < Height; ++y)
            for (int32_t x = 0; x < Width; ++x) {
                uint32_t sum = 0;
                for (uint32_t k = 1; k <= 4; ++k) {
                    const uint32_t pixel = Pattern(x, y, (value + 20 * k) % 256);
                    sum += pixel;
                    if (stacked && image[static_cast<size_t>((k - 1) * Height + y) * Width + x] != pixel)
                        ++mismatches;
                }
                if (!stacked && image[static_cast<size_t>(y) * Width + x] != sum >> 2)
                    ++mismatches;
            }
        EXPECT_EQ(mismatches, 0u);
        value = (value + 100) % 256;
        if (assistant) {
            EXPECT_EQ(Read(channel, "DialogAcquisitionRequest"), "True") << "the image set was evaluated";
            EXPECT_NE(Read(channel, "DialogResult"), "Undefined");
        }
    }
}

TEST_F(ImageDelivery, LineScanAverageOfFourRowGroupsAtAnOddWidth) {
    constexpr int32_t Width = 136; // 4 x 32 + 8
    Json station = LineStation();
    SizeCamera(station["cameras"][0], Width);
    station["cameras"][0]["limits"] = {{"Height", {{"max", 102}}}};
    host::HostChannel channel = Ready(station, "Line A");
    ASSERT_TRUE(
        Write(channel, {{"TestPattern", "On"}, {"SetupMode", "On"}, {"AcquisitionLineRate", "80000"}}));
    // The host's common parameters: 10 us exposures and 26 lines. The start writes 4 x 26 = 104 rows
    // and the camera clamps them to 102: rows 100 and 101 form no group of four.
    qrZEB_CommonParams parameters{};
    parameters.exposureSeconds = 0.00001;
    parameters.width = Width;
    parameters.height = 26;
    ASSERT_TRUE(channel.SetupCommonParams(parameters)) << channel.Error();
    ASSERT_EQ(Read(channel, "Width"), std::to_string(Width));

    uint32_t value = 0;
    for (const bool assistant : {false, true}) {
        SCOPED_TRACE(assistant ? "an assistant asked for the image" : "no assistant");
        StartAssistant(channel, assistant);
        const auto image = Acquire(channel, static_cast<size_t>(Width) * 25);
        const uint32_t frameValue = (value + 20) % 256; // after the probe
        size_t mismatches = 0;
        for (int32_t j = 0; j < 25; ++j)
            for (int32_t x = 0; x < Width; ++x) {
                uint32_t sum = 0;
                for (int32_t i = 0; i < 4; ++i)
                    sum += Pattern(x, 4 * j + i, frameValue);
                if (image[static_cast<size_t>(j) * Width + x] != sum >> 2)
                    ++mismatches;
            }
        EXPECT_EQ(mismatches, 0u);
        value = (value + 40) % 256;
    }
}

} // namespace zeb::test
