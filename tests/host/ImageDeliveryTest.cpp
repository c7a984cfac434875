// Pixels of the averaged form through the host interface, checked exactly against the test pattern
// the channel writes into each frame: widths that are no multiple of any vector length, line-scan
// frames whose last rows form no group of four, and the same image whether or not an assistant
// asked for it.
#include "HostTest.h"

#include <chrono>
#include <thread>

namespace zeb::test {

namespace {

// The test pattern of a frame written with pattern value `value`: pixel (x, y) is (x + value + y) mod 256.
uint32_t Pattern(int32_t x, int32_t y, uint32_t value) {
    return (static_cast<uint32_t>(x) + value + static_cast<uint32_t>(y)) % 256;
}

} // namespace

class ImageDelivery : public HostTest {
protected:
    host::HostChannel Ready(const Json& station, const std::string& camera) {
        Load(station);
        host::HostChannel channel = Channel();
        EXPECT_TRUE(channel.Write("DeviceImageSource", camera)) << channel.Error();
        EXPECT_TRUE(channel.Write("TestPattern", "On")) << channel.Error();
        EXPECT_TRUE(channel.Write("SetupMode", "On")) << channel.Error();
        return channel;
    }

    // Starts an acquisition and fetches its image with GetImage alone, so the pattern value advances
    // only for the probe and the frames of that one image set.
    static std::vector<uint8_t> Acquire(host::HostChannel& channel, size_t bytes) {
        EXPECT_TRUE(channel.Start()) << channel.Error();
        const qrZEB_ChannelDescriptor& d = channel.Descriptor();
        std::vector<uint8_t> image(bytes + 1, 0xEE);
        char error[256];
        qrZEB_Long status = 4096;
        for (int i = 0; i < 10000 && status == 4096; ++i) {
            EXPECT_EQ(d.GetImage(error, d.handle, reinterpret_cast<char*>(image.data()), &status), 0)
                << error;
            if (status == 4096)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_EQ(status, 0);
        EXPECT_EQ(image.back(), 0xEE) << "written past the image";
        image.pop_back();
        return image;
    }
};

TEST_F(ImageDelivery, AreaScanAverageOfFourPatternedFramesAtAnOddWidth) {
    constexpr int32_t Width = 72, Height = 50; // 72 = 2 x 32 + 8
    Json station = AreaStation();
    station["cameras"][0]["features"]["SensorWidth"] = std::to_string(Width);
    station["cameras"][0]["features"]["Width"] = std::to_string(Width);
    station["cameras"][0]["features"]["SensorHeight"] = std::to_string(Height);
    station["cameras"][0]["features"]["Height"] = std::to_string(Height);
    host::HostChannel channel = Ready(station, "Cam A");
    ASSERT_EQ(Read(channel, "Width"), std::to_string(Width));

    uint32_t value = 0;
    for (const bool assistant : {false, true}) {
        SCOPED_TRACE(assistant ? "an assistant asked for the image" : "no assistant");
        if (assistant) {
            ASSERT_TRUE(channel.Write("DialogSelector", "Brightness detection"));
            ASSERT_TRUE(channel.Execute("DialogStart"));
            ASSERT_EQ(Read(channel, "DialogAcquisitionRequest"), "True");
        }
        const auto image = Acquire(channel, static_cast<size_t>(Width) * Height);
        // The probe takes `value`, the four frames the next four values.
        size_t mismatches = 0;
        for (int32_t y = 0; y < Height; ++y)
            for (int32_t x = 0; x < Width; ++x) {
                uint32_t sum = 0;
                for (uint32_t k = 1; k <= 4; ++k)
                    sum += Pattern(x, y, (value + 20 * k) % 256);
                if (image[static_cast<size_t>(y) * Width + x] != sum >> 2)
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
    station["cameras"][0]["features"]["SensorWidth"] = std::to_string(Width);
    station["cameras"][0]["features"]["Width"] = std::to_string(Width);
    station["cameras"][0]["limits"] = {{"Height", {{"max", 102}}}};
    host::HostChannel channel = Ready(station, "Line A");
    ASSERT_TRUE(channel.Write("AcquisitionLineRate", "80000"));
    // The start writes 4 x 26 = 104 rows and the camera clamps them to 102: rows 100 and 101 form
    // no group of four.
    ASSERT_TRUE(channel.Write("Height", "26"));
    ASSERT_EQ(Read(channel, "Width"), std::to_string(Width));

    uint32_t value = 0;
    for (const bool assistant : {false, true}) {
        SCOPED_TRACE(assistant ? "an assistant asked for the image" : "no assistant");
        if (assistant) {
            ASSERT_TRUE(channel.Write("DialogSelector", "Brightness detection"));
            ASSERT_TRUE(channel.Execute("DialogStart"));
        }
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
