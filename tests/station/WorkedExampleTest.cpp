// The manual's worked example of a part of one's own (docs/station-objects.md): the glossy plate of
// docs/examples/glossy-plate under the station as its station files put it, and the page's zeb
// commands run as the page shows them, with the figures it quotes.
#include "StationRig.h"
#include "TestEnvironment.h"

#if defined(ZEB_TOOL_FILE)
#include "../cli/PngSamples.h"
#include "../cli/ZebProcess.h"
#endif

#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>

namespace zeb::station::test {

namespace {

namespace fs = std::filesystem;

const fs::path Example = fs::path(ZEB_DOCS) / "examples" / "glossy-plate";
constexpr const char* Camera = "GigE 00:11:1c:00:00:01";
constexpr int32_t Width = 1280, Height = 1024;

Json StationFile(const std::string& name) {
    std::ifstream in(Example / name);
    return Json::parse(in);
}

// The mean grey of a rectangle of a frame, in image pixels from the top left.
double Mean(const std::vector<uint8_t>& frame, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    double sum = 0;
    for (int32_t y = y0; y < y1; ++y)
        for (int32_t x = x0; x < x1; ++x)
            sum += frame[static_cast<size_t>(y) * Width + static_cast<size_t>(x)];
    return sum / (static_cast<double>(x1 - x0) * (y1 - y0));
}

// An image pixel of a point of the plate, in millimetres from the field's centre (x right, y up),
// at 56 mm across 1280 pixels.
std::pair<int32_t, int32_t> PixelOf(double x, double y) {
    const double pixel = 56.0 / Width;
    return {static_cast<int32_t>(Width / 2 + x / pixel), static_cast<int32_t>(Height / 2 - y / pixel)};
}

// One image set of the example's station file, lit as the plug-in lights it by default: the
// diagonal sequence, turned as the dome is mounted (180 degrees).
Shot ImageSetOf(const std::string& file) {
    StationRig rig(StationFile(file), (Example / file).string());
    rig.controller = 3;
    rig.StartArea(Camera);
    rig.Set("Sequencer.Orientation", "180\xC2\xB0");
    return rig.ImageSet(Camera);
}

} // namespace

// The default sequence is diagonal: step 0 lit from the top right, 1 the top left, 2 the bottom left,
// 3 the bottom right. The plate mirrors the lit quadrant in the image's corner on its side, beyond
// about half the camera's opening from the axis; the flat plate near the middle is dark but for its
// diffuse share.
TEST(WorkedExample, TheGlossyPlateMirrorsEachLitQuadrantInItsCorner) {
    for (const char* file : {"plate-wd10.json", "plate-wd40.json"}) {
        SCOPED_TRACE(file);
        const Shot shot = ImageSetOf(file);
        ASSERT_EQ(shot.frames.size(), 4u);
        // Corners of 160 x 128 pixels: top right, top left, bottom left, bottom right.
        const int32_t corners[4][2] = {
            {Width - 160, 0}, {0, 0}, {0, Height - 128}, {Width - 160, Height - 128}};
        for (size_t step = 0; step < 4; ++step) {
            const auto& frame = shot.frames[step];
            const auto [x, y] = corners[step];
            const double lit = Mean(frame, x, y, x + 160, y + 128);
            const auto [ox, oy] = corners[(step + 2) % 4];
            const double opposite = Mean(frame, ox, oy, ox + 160, oy + 128);
            EXPECT_GT(lit, 2 * opposite + 20) << "step " << step;
        }
    }
}

// The logo stands 0.2 mm proud: on the ring's outer flank along each direction's diagonal, the side
// toward the light is bright and the side away from it darker than the plate beside it, more so
// where the light comes lower (10 mm below the rim: 38 degrees; 40 mm: 48 degrees).
TEST(WorkedExample, TheLogoShowsItsReliefMoreWhereTheLightComesLower) {
    const struct {
        const char* file;
        double leastContrast;
    } cases[] = {{"plate-wd10.json", 180}, {"plate-wd40.json", 90}};
    for (const auto& [file, leastContrast] : cases) {
        SCOPED_TRACE(file);
        const Shot shot = ImageSetOf(file);
        ASSERT_EQ(shot.frames.size(), 4u);
        const double toward[4][2] = {{1, 1}, {-1, 1}, {-1, -1}, {1, -1}};
        for (size_t step = 0; step < 4; ++step) {
            const auto& frame = shot.frames[step];
            const double flank = 8.15 / std::sqrt(2.0), plate = 9.5 / std::sqrt(2.0);
            const auto [lx, ly] = PixelOf(-10 + toward[step][0] * flank, 3 + toward[step][1] * flank);
            const auto [ax, ay] = PixelOf(-10 - toward[step][0] * flank, 3 - toward[step][1] * flank);
            const auto [px, py] = PixelOf(-10 - toward[step][0] * plate, 3 - toward[step][1] * plate);
            const double lit = Mean(frame, lx - 1, ly - 1, lx + 2, ly + 2);
            const double away = Mean(frame, ax - 1, ay - 1, ax + 2, ay + 2);
            const double besideAway = Mean(frame, px - 1, py - 1, px + 2, py + 2);
            EXPECT_GT(lit - away, leastContrast) << "step " << step;
            EXPECT_LT(away, besideAway - 30) << "step " << step;
        }
    }
}

#if defined(ZEB_TOOL_FILE)

namespace {

using zeb::test::Outcome;
using zeb::test::ZebProcess;

// The page's commands, each run in a fresh folder with the example's station files named where they
// lie (their maps are named relative to them).
class WorkedExampleCommands : public ::testing::Test {
protected:
    zeb::test::TestEnvironment environment;

    Outcome Zeb(const std::string& station, std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--station", (Example / station).string()});
        return ZebProcess::Run(environment.Folder(), arguments);
    }
    // The page's calibration at one working distance, into the test's folder.
    Outcome Calibrate(const std::string& distance) {
        return Zeb("sphere-wd" + distance + ".json",
                   {"calibrate", "--model", "fieldOfView=56", "--model", "workingDistance=" + distance,
                    "--out", (environment.Folder() / ("calibration-wd" + distance + ".json")).string()});
    }
};

} // namespace

// One working distance of the page: what it quotes of the calibration (the sphere's size, the
// error of its normals, the lights' elevation and the verdict), and the surface of the glossy plate
// as it describes it: the flat plate's normals lean outward where it mirrors a lit quadrant, and not
// in the middle, where it mirrors the camera's opening; the albedo reads high there and the diffuse
// share alone in the middle; the print shows in the albedo.
struct Distance {
    const char* distance;
    const char *sphere, *errors, *light;
    double sideTilt, albedo, dot;
};

class WorkedExampleAt : public WorkedExampleCommands, public ::testing::WithParamInterface<Distance> {};

TEST_P(WorkedExampleAt, CalibrationAndSurfaceSayWhatThePageSays) {
    const Distance& d = GetParam();
    const std::string distance = d.distance;
    const Outcome calibration = Calibrate(distance);
    EXPECT_EQ(calibration.status, 0) << calibration.out << calibration.err;
    EXPECT_THAT(calibration.out, ::testing::HasSubstr(d.sphere));
    EXPECT_THAT(calibration.out, ::testing::HasSubstr(d.errors));
    for (int step = 0; step < 4; ++step)
        EXPECT_THAT(calibration.out,
                    ::testing::HasSubstr("step " + std::to_string(step) + ": light from azimuth " +
                                         std::to_string(45 + 90 * step) + ".0, " + d.light));
    EXPECT_THAT(calibration.out, ::testing::HasSubstr("\"Diagonal\": the lights agree"));

    const fs::path shots = environment.Folder() / ("shots-wd" + distance);
    const Outcome outcome = Zeb("plate-wd" + distance + ".json",
                                {"acquire", "--surface", "--calibration",
                                 (environment.Folder() / ("calibration-wd" + distance + ".json")).string(),
                                 "--out", shots.string()});
    ASSERT_EQ(outcome.status, 0) << outcome.out << outcome.err;
    const zeb::test::PngSamplesRead normals =
        zeb::test::ReadPngSamples(shots / "zeb-channel0-0001-normals.png");
    const zeb::test::PngSamplesRead albedo =
        zeb::test::ReadPngSamples(shots / "zeb-channel0-0001-albedo.png");
    ASSERT_EQ(normals.width, Width);
    ASSERT_EQ(normals.channels, 3);
    ASSERT_EQ(albedo.width, Width);
    // The tilt from the camera's axis in degrees, and the albedo, averaged over a square around a
    // point of the plate (millimetres from the middle).
    const auto tilt = [&](double x, double y) {
        const auto [cx, cy] = PixelOf(x, y);
        double z = 0;
        for (int dy = -10; dy <= 10; ++dy)
            for (int dx = -10; dx <= 10; ++dx)
                z += normals.At(cx + dx, cy + dy, 2) / 65535.0 * 2 - 1;
        return std::acos(std::min(1.0, z / 441)) * 180 / 3.14159265358979;
    };
    const auto albedoAt = [&](double x, double y, int half) {
        const auto [cx, cy] = PixelOf(x, y);
        double sum = 0;
        for (int dy = -half; dy <= half; ++dy)
            for (int dx = -half; dx <= half; ++dx)
                sum += albedo.At(cx + dx, cy + dy) / 65535.0;
        return sum / ((2 * half + 1) * (2 * half + 1));
    };
    EXPECT_LT(tilt(0, 0), 1.5) << "the middle mirrors the camera's opening";
    EXPECT_NEAR(tilt(-20, -5), d.sideTilt, 2);
    EXPECT_NEAR(tilt(20, 0), d.sideTilt, 2);
    EXPECT_NEAR(albedoAt(0, 0, 10), 0.7 * 140 / 255, 0.02) << "the diffuse share alone";
    EXPECT_NEAR(albedoAt(-20, -5, 10), d.albedo, 0.02);
    EXPECT_NEAR(albedoAt(-18.8, -12, 2), d.dot, 0.03) << "a dot of the lot code";
}

INSTANTIATE_TEST_SUITE_P(WorkedExampleCommands, WorkedExampleAt,
                         ::testing::Values(Distance{"10", "(20.00 mm)", "with the calibration mean 0.41,",
                                                    "elevation 38.3 degrees", 11, 0.61, 0.39},
                                           Distance{"40", "(19.96 mm)", "with the calibration mean 0.47,",
                                                    "elevation 48.2 degrees", 15, 0.65, 0.46}),
                         [](const ::testing::TestParamInfo<Distance>& param) {
                             return std::string("At") + param.param.distance + "mm";
                         });

#endif

} // namespace zeb::station::test
