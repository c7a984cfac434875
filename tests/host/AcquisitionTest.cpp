// Acquisition start and stop, and image sets delivered into the host's buffer.
#include "HostTest.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

namespace zeb::test {

namespace {

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Brightness-weighted mean column and row of rows [top, top + height) taken every `step` rows.
std::pair<double, double> Centroid(const host::Image& image, int32_t first, int32_t count, int32_t step) {
    double sum = 0, x = 0, y = 0;
    for (int32_t r = 0; r < count; ++r)
        for (int32_t c = 0; c < image.width; ++c) {
            const double p = image.pixels[static_cast<size_t>(first + r * step) * image.width + c];
            sum += p, x += p * c, y += p * r;
        }
    return {x / sum - (image.width - 1) / 2.0, y / sum - (count - 1) / 2.0};
}

Json SheetArea() {
    Json station = AreaStation();
    station["cameras"][0]["scene"] = {{"object", "sheet"}};
    return station;
}

} // namespace

class Acquisition : public HostTest {
protected:
    host::HostChannel Ready(const Json& station, const std::string& camera = "Cam A") {
        Load(station);
        host::HostChannel channel = Channel();
        EXPECT_TRUE(channel.Write("DeviceImageSource", camera)) << channel.Error();
        EXPECT_EQ(Read(channel, "DeviceImageSource"), camera);
        return channel;
    }
};

TEST_F(Acquisition, AreaScanStackedFramesAreEachLitFromTheirOwnDirection) {
    for (const char* sequence : {"Diagonal", "Axial"}) {
        SCOPED_TRACE(sequence);
        host::HostChannel channel = plugin ? Channel() : Ready(SheetArea());
        ASSERT_TRUE(channel.Write("LightingSequenceType", sequence));
        ASSERT_TRUE(channel.Write("ExposureTime", "15")); // two lit quadrants would saturate the sheet at 50
        ASSERT_TRUE(channel.Start()) << channel.Error();
        const auto image = channel.NextImage();
        ASSERT_TRUE(image) << channel.Error();
        ASSERT_EQ(image->width, 64);
        ASSERT_EQ(image->height, 4 * 48);
        // With the dome mounted as set, the steps go round the dome from the right, counter-clockwise.
        const bool diagonal = std::string(sequence) == "Diagonal";
        const double expectedX[4] = {1, diagonal ? -1.0 : 0.0, -1, diagonal ? 1.0 : 0.0};
        const double expectedY[4] = {diagonal ? -1.0 : 0.0, -1, diagonal ? 1.0 : 0.0, 1};
        for (int k = 0; k < 4; ++k) {
            const auto [x, y] = Centroid(*image, k * 48, 48, 1);
            if (expectedX[k] != 0) {
                EXPECT_GT(x * expectedX[k], 0.5) << "frame " << k << " x " << x;
            } else {
                EXPECT_LT(std::abs(x), 0.5) << "frame " << k << " x " << x;
            }
            if (expectedY[k] != 0) {
                EXPECT_GT(y * expectedY[k], 0.5) << "frame " << k << " y " << y;
            }
        }
        ASSERT_TRUE(channel.Stop());
    }
}

TEST_F(Acquisition, AveragedFormIsTheShiftedSumOfTheStack) {
    host::HostChannel channel = Ready(AreaStation());
    ASSERT_TRUE(channel.Start());
    const auto stack = channel.NextImage();
    ASSERT_TRUE(stack) << channel.Error();
    ASSERT_TRUE(channel.Write("SetupMode", "On"));
    ASSERT_TRUE(channel.Start());
    const auto average = channel.NextImage();
    ASSERT_TRUE(average) << channel.Error();
    ASSERT_EQ(average->width, 64);
    ASSERT_EQ(average->height, 48);
    const size_t frame = 64 * 48;
    for (size_t i = 0; i < frame; ++i) {
        const int sum = stack->pixels[i] + stack->pixels[i + frame] + stack->pixels[i + 2 * frame] +
                        stack->pixels[i + 3 * frame];
        ASSERT_EQ(average->pixels[i], sum >> 2) << "pixel " << i;
    }
}

TEST_F(Acquisition, AttributesAndStatusWhileFramesAreMissing) {
    Json station = AreaStation();
    station["cameras"][0]["faults"] = Json::array({StationFault("lostTriggers", "trigger", "", 4)});
    host::HostChannel channel = Ready(station);
    ASSERT_TRUE(channel.Start());
    const auto& d = channel.Descriptor();
    char error[256];
    qrZEB_ImageAttributes attributes;
    std::memset(&attributes, 0x77, sizeof attributes);
    attributes.size = 608;
    qrZEB_Long status = -1;
    std::this_thread::sleep_for(
        std::chrono::milliseconds(50)); // three frames came, the fourth trigger was lost
    ASSERT_EQ(d.GetImageAttributes(error, d.handle, &attributes, &status), 0);
    EXPECT_EQ(status, 4096);
    EXPECT_EQ(attributes.width, 0x77777777) << "attributes untouched while waiting";
    // The sequencer has run through while a frame is missing: the watchdog gives up.
    qrZEB_Long result = 0;
    for (int i = 0; i < 3000 && result == 0; ++i) {
        result = d.WaitForIntegration(error, d.handle, &status);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(result, 1);
    EXPECT_STREQ(error, "Acquisition aborted because of camera overtriggered.");
    EXPECT_EQ(status, 8192);
}

TEST_F(Acquisition, AttributesDoNotConsumeTheImage) {
    host::HostChannel channel = Ready(AreaStation());
    ASSERT_TRUE(channel.Start());
    const auto& d = channel.Descriptor();
    char error[256];
    qrZEB_ImageAttributes attributes;
    std::memset(&attributes, 0x77, sizeof attributes);
    attributes.size = 609;
    qrZEB_Long status = -1;
    for (int i = 0; i < 2000 && status != 0; ++i) {
        ASSERT_EQ(d.GetImageAttributes(error, d.handle, &attributes, &status), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(status, 0);
    EXPECT_EQ(attributes.width, 64);
    EXPECT_EQ(attributes.height, 192);
    EXPECT_EQ(attributes.bytesPerRow, 64);
    EXPECT_EQ(attributes.reserved16, 0);
    EXPECT_EQ(attributes.reserved24, 0);
    EXPECT_EQ(attributes.width2, 64);
    EXPECT_EQ(attributes.height2, 192);
    EXPECT_EQ(attributes.reserved48, 0) << "size 609 > 608";
    ASSERT_EQ(d.GetImageAttributes(error, d.handle, &attributes, &status), 0);
    EXPECT_EQ(status, 0) << "still there";
    std::vector<char> buffer(64 * 192);
    ASSERT_EQ(d.GetImage(error, d.handle, buffer.data(), &status), 0);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(d.WaitForIntegration(error, d.handle, &status), 0);
    EXPECT_EQ(status, 4096) << "single frame mode: one image per start";

    qrZEB_ImageAttributes small;
    std::memset(&small, 0x66, sizeof small);
    small.size = 608;
    ASSERT_TRUE(channel.Start());
    for (int i = 0; i < 2000; ++i) {
        ASSERT_EQ(d.GetImageAttributes(error, d.handle, &small, &status), 0);
        if (status == 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(small.reserved48, 0x6666666666666666) << "size 608 keeps bytes 48 to 55";
}

TEST_F(Acquisition, StartProgramsControllerAndCamera) {
    host::HostChannel channel = Ready(AreaStation());
    EXPECT_FALSE(plugin->GetVideoChannel() == nullptr);
    ASSERT_TRUE(channel.Write("ExposureTime", "1000"));
    ClearTrace();
    ASSERT_TRUE(channel.Start()) << channel.Error();
    EXPECT_TRUE(environment.Logged("Start."));
    EXPECT_TRUE(environment.Logged("Start done."));
    EXPECT_TRUE(environment.Logged("  AcquisitionMode = SingleFrame"));
    const auto controller = Trace("controller:0");
    EXPECT_TRUE(Contains(controller, "set\tLight.GlobalChannelParameters.PulseWidth\t1100"));
    EXPECT_TRUE(Contains(controller, "set\tSequencer.Clock.Source\tCamera0Input0"));
    EXPECT_TRUE(Contains(controller, "set\tSequencer.Orientation\t180\xC2\xB0"));
    EXPECT_TRUE(Contains(controller, "set\tSequencer.LightSequence\t02010408"));
    EXPECT_TRUE(Contains(controller, "set\tLight.GlobalChannelParameters.Brightness\t200"));
    EXPECT_EQ(controller.back(), "set\tSequencer.Enabled\t1");
    const auto camera = Trace("camera:Cam A");
    EXPECT_TRUE(Contains(camera, "set\tExposureTime\t1000"));
    EXPECT_TRUE(Contains(camera, "set\tTriggerSource\tLine0"));
    EXPECT_TRUE(Contains(camera, "set\tLineSelector\tLine1"));
    EXPECT_TRUE(Contains(camera, "set\tLineSource\tTriggerReady"));
    EXPECT_TRUE(Contains(camera, "set\tGevRequestTimeout\t2000"));
    EXPECT_TRUE(Contains(camera, "start"));
    // Start while started stops first.
    ClearTrace();
    ASSERT_TRUE(channel.Start());
    EXPECT_EQ(Trace("controller:0").front(), "set\tSequencer.Enabled\t0");
    EXPECT_EQ(Trace("camera:Cam A").front(), "stop");
    ASSERT_TRUE(channel.Stop());
    ClearTrace();
    ASSERT_TRUE(channel.Stop());
    EXPECT_TRUE(environment.TraceLines().empty()) << "stop when stopped writes nothing";
}

class DeadTime : public HostTest,
                 public ::testing::WithParamInterface<std::tuple<std::string, std::string, std::string>> {};

TEST_P(DeadTime, FollowsTheCamerasFrameRate) {
    const auto [exposure, burst, expected] = GetParam();
    Json station = AreaStation();
    station["cameras"][0]["readoutNsPerRow"] = 0;
    Load(station);
    host::HostChannel channel = Channel();
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Cam A"));
    ASSERT_TRUE(channel.Write("ExposureTime", exposure));
    ASSERT_TRUE(channel.Write("AcquisitionBurstMode", burst));
    ClearTrace();
    ASSERT_TRUE(channel.Start()) << channel.Error();
    const auto controller = Trace("controller:0");
    EXPECT_TRUE(Contains(controller, "set\tSequencer.Clock.DeadTime\t" + expected));
    EXPECT_EQ(Contains(Trace("camera:Cam A"),
                       "get\tAcquisitionFrameRate\t" + std::to_string(1000000 / std::stoi(exposure))),
              burst == "Off");
}

INSTANTIATE_TEST_SUITE_P(Acquisition, DeadTime,
                         ::testing::Values(std::make_tuple("100", "Off", "100"),
                                           std::make_tuple("200", "Off", "200"),
                                           std::make_tuple("200", "On", "100")));

TEST_F(Acquisition, StartWithoutCameraWritesNothingAfterRecovery) {
    Load(AreaStation());
    host::HostChannel channel = Channel();
    Read(channel, "Width");
    ClearTrace();
    EXPECT_FALSE(channel.Start());
    EXPECT_EQ(channel.Error(), "No valid DeviceImageSource selected.");
    EXPECT_TRUE(environment.TraceLines().empty());
}

class LightCheck : public HostTest, public ::testing::WithParamInterface<std::tuple<Json, std::string>> {};

TEST_P(LightCheck, RefusesTheStartAfterProgramming) {
    Json station = AreaStation();
    station["controllers"][0]["light"] = std::get<0>(GetParam());
    Load(station);
    host::HostChannel channel = Channel();
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Cam A"));
    ClearTrace();
    EXPECT_FALSE(channel.Start());
    EXPECT_EQ(channel.Error(), std::get<1>(GetParam()));
    EXPECT_TRUE(Contains(Trace("controller:0"), "set\tSequencer.LightSequence\t02010408"))
        << "Update ran once";
    EXPECT_FALSE(Contains(Trace("camera:Cam A"), "start"));
}

INSTANTIATE_TEST_SUITE_P(
    Acquisition, LightCheck,
    ::testing::Values(
        std::make_tuple(Json("None"),
                        "LightingModel not connected. Power down the controller and connect the light."),
        std::make_tuple(Json::array({1000, 1000, 1000, 1000}), "LightingModel not supported."),
        std::make_tuple(Json::array({2800, 2800, 0, 2800}), "LightingModel training sequence failed.")));

TEST_F(Acquisition, ContinuousModeRearmsAfterEachImage) {
    host::HostChannel channel = Ready(AreaStation());
    ASSERT_TRUE(channel.Write("AcquisitionMode", "Continuous"));
    ASSERT_TRUE(channel.Start());
    for (int i = 0; i < 3; ++i) {
        ClearTrace();
        ASSERT_TRUE(channel.NextImage()) << channel.Error();
        const auto controller = Trace("controller:0");
        ASSERT_GE(controller.size(), 2u);
        EXPECT_EQ(controller[controller.size() - 2], "set\tSequencer.Enabled\t0");
        EXPECT_EQ(controller.back(), "set\tSequencer.Enabled\t1");
    }
}

TEST_F(Acquisition, TestPatternAdvancesByTwentyPerFrame) {
    host::HostChannel channel = Ready(AreaStation());
    ASSERT_TRUE(channel.Write("TestPattern", "On"));
    ASSERT_TRUE(channel.Start());
    // Fetch with GetImage alone: its probe and the four frames advance the pattern five times.
    const auto& d = channel.Descriptor();
    std::vector<uint8_t> image(64 * 192);
    char error[256];
    qrZEB_Long status = 4096;
    for (int i = 0; i < 5000 && status != 0; ++i) {
        ASSERT_EQ(d.GetImage(error, d.handle, reinterpret_cast<char*>(image.data()), &status), 0) << error;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(status, 0);
    for (int k = 0; k < 4; ++k)
        for (int y = 0; y < 48; y += 7)
            for (int x = 0; x < 64; x += 5)
                ASSERT_EQ(image[static_cast<size_t>(k * 48 + y) * 64 + x], (x + 20 * (k + 1) + y) % 256);
}

TEST_F(Acquisition, LineScanInterleavesTheDirections) {
    Json station = LineStation();
    station["cameras"][0]["scene"] = {{"object", "sheet"}};
    Load(station);
    host::HostChannel channel = Channel();
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Line A"));
    ASSERT_TRUE(channel.Write("Height", "25"));
    ASSERT_TRUE(channel.Write("AcquisitionLineRate", "40000"));
    for (const char* clock : {"False", "True"}) {
        SCOPED_TRACE(clock);
        ASSERT_TRUE(channel.Write("AcquisitionLineRateEnable", clock));
        ClearTrace();
        ASSERT_TRUE(channel.Start()) << channel.Error();
        const auto controller = Trace("controller:0");
        EXPECT_TRUE(Contains(controller, "set\tSequencer.SequenceRepeatCount\t25"));
        const std::string expected = std::string(clock) == "True"
                                         ? "set\tFrequencyGenerator.Period\t25000"
                                         : "set\tPositionEncoder.IncrementsPerRevolution\t2500";
        EXPECT_TRUE(Contains(controller, expected));
        EXPECT_TRUE(Contains(Trace("camera:Line A"), "set\tHeight\t100"));
        const auto image = channel.NextImage();
        ASSERT_TRUE(image) << channel.Error();
        ASSERT_EQ(image->height, 100);
        // Diagonal from the right: top-right, top-left, bottom-left, bottom-right.
        const double expectedX[4] = {1, -1, -1, 1};
        for (int k = 0; k < 4; ++k)
            EXPECT_GT(Centroid(*image, k, 25, 4).first * expectedX[k], 0.5) << "direction " << k;
    }
}

TEST_F(Acquisition, LineScanAverageDropsTheRowsBeyondFourGroups) {
    Json station = LineStation();
    station["cameras"][0]["limits"] = {{"Height", {{"max", 1002}}}};
    Load(station);
    host::HostChannel channel = Channel();
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Line A"));
    ASSERT_TRUE(channel.Write("AcquisitionLineRate", "80000"));
    ASSERT_TRUE(channel.Write("Height", "251"));
    EXPECT_EQ(Read(channel, "Height"), "250");
    // Make the camera frame 1002 rows: the start writes 4 x 251 = 1004, the camera clamps.
    ASSERT_TRUE(channel.Write("SetupMode", "On"));
    ASSERT_TRUE(channel.SetupCommonParams([] {
        qrZEB_CommonParams p{};
        p.exposureSeconds = 0.00001;
        p.width = 128;
        p.height = 251;
        return p;
    }()));
    ASSERT_TRUE(channel.Start()) << channel.Error();
    const auto image = channel.NextImage();
    ASSERT_TRUE(image) << channel.Error();
    EXPECT_EQ(image->width, 128);
    EXPECT_EQ(image->height, 250);
}

TEST_F(Acquisition, LineRateWarningWhenTheCameraWasOvertriggered) {
    Load(LineStation());
    host::HostChannel channel = Channel();
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Line A"));
    ASSERT_TRUE(channel.Write("AcquisitionLineRate", "60000"));
    ASSERT_TRUE(channel.Write("ExposureTime", "50"));
    ASSERT_TRUE(channel.Start());
    ASSERT_TRUE(channel.NextImage()) << channel.Error();
    bool warned = false;
    for (const std::string& message : environment.LogMessages())
        warned = warned ||
                 message.rfind("Possibly poor image quality because camera was temporarily overtriggered: "
                               "AcquisitionLineRateCurrentMaximum = ",
                               0) == 0;
    EXPECT_TRUE(warned);
    EXPECT_GT(std::stod(Read(channel, "AcquisitionLineRateCurrentMaximum")),
              std::stod(Read(channel, "AcquisitionLineRateMaximum")));
}

TEST_F(Acquisition, LostTriggersEndInTheOvertriggerAbort) {
    Json station = AreaStation();
    station["cameras"][0]["faults"] = Json::array({StationFault("lostTriggers", "trigger", "", 2)});
    host::HostChannel channel = Ready(station);
    ASSERT_TRUE(channel.Start());
    const auto image = channel.NextImage(5000);
    EXPECT_FALSE(image);
    EXPECT_EQ(channel.Error(), "Acquisition aborted because of camera overtriggered.");
    // The next start heals: frames are numbered afresh, never under the wrong light.
    ASSERT_TRUE(channel.Start()) << channel.Error();
    EXPECT_TRUE(channel.NextImage()) << channel.Error();
}

} // namespace zeb::test
