// The command-line host run as a process against station files: outputs, exit status, PNG files.
#include "HostTest.h"

#include <png.h>

#include <array>
#include <cstdio>
#include <fstream>

namespace zeb::test {

namespace {

struct Outcome {
    int status = -1;
    std::string out, err;
};

class ZebTool : public HostTest {
protected:
    Outcome RunZeb(const std::string& arguments, const std::string& input = "") {
        const auto out = environment.Folder() / "out.txt", err = environment.Folder() / "err.txt";
        std::string command =
            std::string(ZEB_TOOL) + " " + arguments + " > " + out.string() + " 2> " + err.string();
        if (!input.empty()) {
            TestEnvironment::WriteFile(environment.Folder() / "in.txt", input);
            command += " < " + (environment.Folder() / "in.txt").string();
        } else {
            command += " < /dev/null";
        }
        Outcome run;
        const int raw = std::system(command.c_str());
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        run.out = TestEnvironment::ReadFile(out);
        run.err = TestEnvironment::ReadFile(err);
        return run;
    }
    std::string StationFile(const Json& station) {
        const auto path = environment.Folder() / "zeb-station.json";
        TestEnvironment::WriteFile(path, station.dump());
        return path.string();
    }
    static host::Image ReadPng(const std::string& path) {
        png_image png{};
        png.version = PNG_IMAGE_VERSION;
        host::Image image;
        if (!png_image_begin_read_from_file(&png, path.c_str()))
            return image;
        png.format = PNG_FORMAT_GRAY;
        image.width = static_cast<int32_t>(png.width);
        image.height = static_cast<int32_t>(png.height);
        image.pixels.resize(PNG_IMAGE_SIZE(png));
        if (!png_image_finish_read(&png, nullptr, image.pixels.data(), 0, nullptr))
            image = {};
        return image;
    }
};

} // namespace

TEST_F(ZebTool, ChannelsAndFeatures) {
    const std::string station = StationFile(AreaStation());
    Outcome run = RunZeb("--station " + station + " channels");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "0\tBRELAN: Morvane (#0)\tMV-1000\tAreascan\n");
    run = RunZeb("--station " + station + " features");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("LightingOrientation"), std::string::npos);
    EXPECT_NE(run.out.find("0 deg, 90 deg, 180 deg, 270 deg"), std::string::npos);
    EXPECT_NE(run.out.find("DeviceScanType                     Enum     R--   Areascan"), std::string::npos)
        << run.out;
}

TEST_F(ZebTool, FeatureCommandsAndTheirErrors) {
    const std::string station = "--station " + StationFile(AreaStation());
    Outcome run = RunZeb(station + " set ExposureTime 70000");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "70000\n");
    run = RunZeb(station + " get Nothing");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "zeb: Feature Nothing does not exist.\n");
    run = RunZeb(station + " set TestPattern Sideways");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "zeb: Enum value not valid. (Name = TestPattern, Value = Sideways)\n");
    run = RunZeb(station + " exec Width");
    EXPECT_EQ(run.err, "zeb: Feature Width is not a command.\n");
    run = RunZeb(station + " fly");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "zeb: unknown command \"fly\" (see zeb --help)\n");
    run = RunZeb(station + " --channel 4 get Width");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "zeb: no channel 4 (no channel 4)\n");
    run = RunZeb("--station " + (environment.Folder() / "missing.json").string() + " channels");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot be read"), std::string::npos) << run.err;
}

TEST_F(ZebTool, AcquireWritesTheImagesTheHostReceives) {
    Json stationJson = AreaStation();
    const std::string station = StationFile(stationJson);
    const auto out = environment.Folder() / "shots";
    Outcome run = RunZeb("--station " + station + " acquire --count 2 --out " + out.string());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Camera: Cam A (Zeb Station VCXG-25M)"), std::string::npos);
    EXPECT_NE(run.out.find("2 image sets of 64 x 192 pixels (four directions stacked)"), std::string::npos)
        << run.out;
    const host::Image stack = ReadPng((out / "zeb-channel0-stack.png").string());
    const host::Image average = ReadPng((out / "zeb-channel0-average.png").string());
    const host::Image sheet = ReadPng((out / "zeb-channel0-directions.png").string());
    ASSERT_EQ(stack.width, 64);
    ASSERT_EQ(stack.height, 192);
    EXPECT_EQ(average.height, 48);
    EXPECT_EQ(sheet.width, 128);
    EXPECT_EQ(sheet.height, 96);

    // The same image set through the host interface in this process.
    Load(stationJson);
    host::HostChannel channel = Channel();
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Cam A"));
    ASSERT_TRUE(channel.Start());
    const auto image = channel.NextImage();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixels, stack.pixels);
    ASSERT_TRUE(channel.Write("SetupMode", "On"));
    ASSERT_TRUE(channel.Start());
    const auto averaged = channel.NextImage();
    ASSERT_TRUE(averaged);
    EXPECT_EQ(averaged->pixels, average.pixels);
    // Contact sheet: direction 1 sits top right.
    EXPECT_EQ(sheet.pixels[64 + 5], stack.pixels[48 * 64 + 5]);
}

TEST_F(ZebTool, AssistRunsAsAPersonWould) {
    const std::string station = "--station " + StationFile(LineStation());
    Outcome run = RunZeb(station + " assist \"Encoder movement detection\"", "\n\n\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Turn the encoder and check"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Success: Initialization done."), std::string::npos);
    EXPECT_NE(run.out.find("Success: The encoder value has changed. The relative change was "),
              std::string::npos);
    run = RunZeb(station + " assist \"Brightness detection\" --yes");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Success: The mean of the intensity image is "), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("{0}"), std::string::npos);
    run = RunZeb(station + " assist \"Coffee detection\"");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("no assistant \"Coffee detection\""), std::string::npos);
}

TEST_F(ZebTool, MiswiredStationHasNoCameraToAcquireFrom) {
    Json station = AreaStation();
    station["cables"] = Json::array();
    Outcome run =
        RunZeb("--station " + StationFile(station) + " acquire --out " + environment.Folder().string());
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("zeb: no camera is wired to the lighting controller of BRELAN: Morvane (#0)"),
              std::string::npos)
        << run.err;
}

} // namespace zeb::test
