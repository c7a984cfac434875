// Acquisition start and stop, what a start programs, and image sets lit from their directions.
#include "ChannelTest.h"

#include <cmath>
#include <cstring>

namespace zeb::test {

namespace {

// Brightness-weighted mean column and row, from the centre, of `count` rows from `first`, `step` apart.
std::pair<double, double> Centroid(const host::Image& image, int32_t first, int32_t count, int32_t step) {
    double sum = 0, x = 0, y = 0;
    for (int32_t r = 0; r < count; ++r)
        for (int32_t c = 0; c < image.width; ++c) {
            const double p = image.pixels[static_cast<size_t>(first + r * step) * image.width + c];
            sum += p, x += p * c, y += p * r;
        }
    return {x / sum - (image.width - 1) / 2.0, y / sum - (count - 1) / 2.0};
}

// Attributes of a size the host chose, every byte first set to `fill`.
qrZEB_ImageAttributes Attributes(int32_t size, int fill) {
    qrZEB_ImageAttributes attributes;
    std::memset(&attributes, fill, sizeof attributes);
    attributes.size = size;
    return attributes;
}

} // namespace

class Acquisition : public ChannelTest {};

TEST_F(Acquisition, AreaScanStackedFramesAreEachLitFromTheirOwnDirection) {
    Json station = AreaStation();
    station["cameras"][0]["scene"] = {{"object", "sheet"}};
    host::HostChannel channel = Ready(station);
    ASSERT_TRUE(Write(channel, {{"ExposureTime", "15"}})); // two lit quadrants saturate the sheet at 50
    for (const char* sequence : {"Diagonal", "Axial"}) {
        SCOPED_TRACE(sequence);
        ASSERT_TRUE(Write(channel, {{"LightingSequenceType", sequence}}));
        const auto image = Acquire(channel);
        ASSERT_TRUE(image) << channel.Error();
        ASSERT_EQ(image->width, 64);
        ASSERT_EQ(image->height, 4 * 48);
        // With the dome mounted as set, the steps go round the dome from the right, counter-clockwise.
        const double diagonal = std::string(sequence) == "Diagonal" ? 1 : 0;
        const double expectedX[4] = {1, -diagonal, -1, diagonal}, expectedY[4] = {-diagonal, -1, diagonal, 1};
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

TEST_F(Acquisition, LostTriggersLeaveTheStatusWaitingUntilTheOvertriggerAbort) {
    Json station = AreaStation();
    station["cameras"][0]["faults"] = Json::array({StationFault("lostTriggers", "trigger", "", 4)});
    host::HostChannel channel = Ready(station);
    ASSERT_TRUE(channel.Start());
    const auto& d = channel.Descriptor();
    char error[256];
    qrZEB_ImageAttributes attributes = Attributes(608, 0x77);
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
    // The next start heals: frames are numbered afresh, never under the wrong light.
    EXPECT_TRUE(Acquires(channel));
}

TEST_F(Acquisition, AttributesDoNotConsumeTheImage) {
    host::HostChannel channel = Ready(AreaStation());
    ASSERT_TRUE(channel.Start());
    const auto& d = channel.Descriptor();
    char error[256];
    qrZEB_ImageAttributes attributes = Attributes(609, 0x77);
    ASSERT_EQ(AwaitAttributes(channel, attributes), 0);
    // Width, height, bytes per row, two reserved fields, the size again and, with size 609 > 608, a
    // reserved field at byte 48.
    EXPECT_EQ((std::vector<int64_t>{attributes.width, attributes.height, attributes.bytesPerRow,
                                    attributes.reserved16, attributes.reserved24, attributes.width2,
                                    attributes.height2, attributes.reserved48}),
              (std::vector<int64_t>{64, 192, 64, 0, 0, 64, 192, 0}));
    qrZEB_Long status = -1;
    ASSERT_EQ(d.GetImageAttributes(error, d.handle, &attributes, &status), 0);
    EXPECT_EQ(status, 0) << "still there";
    std::vector<char> buffer(64 * 192);
    ASSERT_EQ(d.GetImage(error, d.handle, buffer.data(), &status), 0);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(d.WaitForIntegration(error, d.handle, &status), 0);
    EXPECT_EQ(status, 4096) << "single frame mode: one image per start";

    qrZEB_ImageAttributes small = Attributes(608, 0x66);
    ASSERT_TRUE(channel.Start());
    AwaitAttributes(channel, small);
    EXPECT_EQ(small.reserved48, 0x6666666666666666) << "size 608 keeps bytes 48 to 55";
}

TEST_F(Acquisition, StartProgramsControllerAndCameraAndContinuousModeRearms) {
    host::HostChannel channel = Ready(AreaStation());
    ASSERT_TRUE(Write(channel, {{"ExposureTime", "1000"}}));
    ClearTrace();
    ASSERT_TRUE(channel.Start()) << channel.Error();
    EXPECT_TRUE(environment.Logged("Start."));
    EXPECT_TRUE(environment.Logged("Start done."));
    EXPECT_TRUE(environment.Logged("  AcquisitionMode = SingleFrame"));
    const auto controller = Trace("controller:0");
    EXPECT_THAT(controller, IsSupersetOf({"set\tLight.GlobalChannelParameters.PulseWidth\t1100",
                                          "set\tLight.GlobalChannelParameters.Brightness\t200",
                                          "set\tSequencer.Clock.Source\tCamera0Input0",
                                          "set\tSequencer.Orientation\t180\xC2\xB0",
                                          "set\tSequencer.LightSequence\t02010408"}));
    EXPECT_EQ(controller.back(), "set\tSequencer.Enabled\t1");
    EXPECT_THAT(
        Trace("camera:Cam A"),
        IsSupersetOf({"set\tExposureTime\t1000", "set\tTriggerSource\tLine0", "set\tLineSelector\tLine1",
                      "set\tLineSource\tTriggerReady", "set\tGevRequestTimeout\t2000", "start"}));
    // Start while started stops first.
    ClearTrace();
    ASSERT_TRUE(channel.Start());
    EXPECT_EQ(Trace("controller:0").front(), "set\tSequencer.Enabled\t0");
    EXPECT_EQ(Trace("camera:Cam A").front(), "stop");
    ASSERT_TRUE(channel.Stop());
    ClearTrace();
    ASSERT_TRUE(channel.Stop());
    EXPECT_TRUE(environment.TraceLines().empty()) << "stop when stopped writes nothing";
    // In continuous mode each image re-arms the sequencer.
    ASSERT_TRUE(Write(channel, {{"AcquisitionMode", "Continuous"}}));
    ASSERT_TRUE(channel.Start());
    for (int i = 0; i < 3; ++i) {
        ClearTrace();
        ASSERT_TRUE(channel.NextImage()) << channel.Error();
        const auto rearm = Trace("controller:0");
        ASSERT_GE(rearm.size(), 2u);
        EXPECT_EQ(Strings(rearm.end() - 2, rearm.end()),
                  (Strings{"set\tSequencer.Enabled\t0", "set\tSequencer.Enabled\t1"}));
    }
}

TEST_F(Acquisition, DeadTimeFollowsTheCamerasFrameRate) {
    Json station = AreaStation();
    station["cameras"][0]["readoutNsPerRow"] = 0;
    host::HostChannel channel = Ready(station);
    const struct {
        const char *exposure, *burst, *deadTime;
    } cases[] = {{"100", "Off", "100"}, {"200", "Off", "200"}, {"200", "On", "100"}};
    for (const auto& [exposure, burst, deadTime] : cases) {
        SCOPED_TRACE(std::string(exposure) + " us, burst " + burst);
        ASSERT_TRUE(Write(channel, {{"ExposureTime", exposure}, {"AcquisitionBurstMode", burst}}));
        ClearTrace();
        ASSERT_TRUE(channel.Start()) << channel.Error();
        EXPECT_THAT(Trace("controller:0"),
                    Contains(std::string("set\tSequencer.Clock.DeadTime\t") + deadTime));
        const auto frameRate =
            Contains("get\tAcquisitionFrameRate\t" + std::to_string(1000000 / std::stoi(exposure)));
        if (std::string(burst) == "Off")
            EXPECT_THAT(Trace("camera:Cam A"), frameRate);
        else
            EXPECT_THAT(Trace("camera:Cam A"), Not(frameRate));
    }
}

class LightCheck : public ChannelTest {};

TEST_F(LightCheck, RefusesTheStartAfterProgramming) {
    const std::pair<Json, std::string> cases[] = {
        {"None", "LightingModel not connected. Power down the controller and connect the light."},
        {Json::array({1000, 1000, 1000, 1000}), "LightingModel not supported."},
        {Json::array({2800, 2800, 0, 2800}), "LightingModel training sequence failed."}};
    Json station = WiredChannels(3);
    for (int id = 0; id < 3; ++id)
        station["controllers"][id]["light"] = cases[id].first;
    Load(station);
    for (int id = 0; id < 3; ++id) {
        SCOPED_TRACE(cases[id].second);
        host::HostChannel channel = Select(id, CameraOf(id));
        ClearTrace();
        EXPECT_EQ(Refused(channel.Start(), channel), cases[id].second);
        const std::string controller = "controller:" + std::to_string(id);
        EXPECT_THAT(Trace(controller), Contains("set\tSequencer.LightSequence\t02010408"))
            << "Update ran once";
        EXPECT_THAT(Trace("camera:" + CameraOf(id)), Not(Contains("start")));
    }
}

TEST_F(Acquisition, LineScanInterleavesTheDirections) {
    Json station = LineStation();
    station["cameras"][0]["scene"] = {{"object", "sheet"}};
    host::HostChannel channel = Ready(station, "Line A");
    ASSERT_TRUE(Write(channel, {{"Height", "25"}, {"AcquisitionLineRate", "40000"}}));
    for (const char* clock : {"False", "True"}) {
        SCOPED_TRACE(clock);
        ASSERT_TRUE(Write(channel, {{"AcquisitionLineRateEnable", clock}}));
        ClearTrace();
        ASSERT_TRUE(channel.Start()) << channel.Error();
        const auto controller = Trace("controller:0");
        EXPECT_THAT(controller, Contains("set\tSequencer.SequenceRepeatCount\t25"));
        EXPECT_THAT(controller, Contains(std::string(clock) == "True"
                                             ? "set\tFrequencyGenerator.Period\t25000"
                                             : "set\tPositionEncoder.IncrementsPerRevolution\t2500"));
        EXPECT_THAT(Trace("camera:Line A"), Contains("set\tHeight\t100"));
        const auto image = channel.NextImage();
        ASSERT_TRUE(image) << channel.Error();
        ASSERT_EQ(image->height, 100);
        // Diagonal from the right: top-right, top-left, bottom-left, bottom-right.
        const double expectedX[4] = {1, -1, -1, 1};
        for (int k = 0; k < 4; ++k)
            EXPECT_GT(Centroid(*image, k, 25, 4).first * expectedX[k], 0.5) << "direction " << k;
    }
}

TEST_F(Acquisition, LineRateWarningWhenTheCameraWasOvertriggered) {
    host::HostChannel channel = Ready(LineStation(), "Line A");
    ASSERT_TRUE(Write(channel, {{"AcquisitionLineRate", "60000"}, {"ExposureTime", "50"}}));
    ASSERT_TRUE(Acquires(channel));
    EXPECT_FALSE(
        LoggedStartingWith("Possibly poor image quality because camera was temporarily overtriggered: "
                           "AcquisitionLineRateCurrentMaximum = ")
            .empty());
    EXPECT_GT(std::stod(Read(channel, "AcquisitionLineRateCurrentMaximum")),
              std::stod(Read(channel, "AcquisitionLineRateMaximum")));
}

} // namespace zeb::test
