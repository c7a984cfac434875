// A part of one's own renders as the physics says: a height map of the built-in hemisphere looks as
// the built-in target does, and an albedo map's pattern comes back from the images.
#include "OwnObjects.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

namespace zeb::station::test {

namespace {

constexpr double SphereRadius = 20;

} // namespace

TEST(HeightMapOptics, HemisphereMapRendersAsTheBuiltInSphere) {
    TestFolder folder;
    // The hemisphere of the built-in target (20 mm on a plate of albedo 0.2, the sphere 0.6), as 0.1 mm
    // map pixels of 0.5 um per level, and its albedo; the map ends on the plate.
    const double pixelSize = 0.1, scale = 0.0005;
    const int32_t side = 480;
    WriteHeightMap(folder / "sphere-height.png", side, side, pixelSize, scale, [](double x, double y) {
        return std::sqrt(std::max(0.0, SphereRadius * SphereRadius - x * x - y * y));
    });
    WriteAlbedoMap(folder / "sphere-albedo.png", side, side, pixelSize, 8,
                   [](double x, double y) { return std::hypot(x, y) < SphereRadius ? 0.6 : 0.2; });
    const Json object = {{"heightMap", "sphere-height.png"},
                         {"heightScale", scale},
                         {"pixelSize", pixelSize},
                         {"albedoMap", "sphere-albedo.png"}};
    StationRig map = RigIn(folder, OwnObjectStation(object, 320, 256));
    StationRig builtIn(zeb::test::AreaSceneStation("sphere", 320, 256, zeb::test::ExactSensor()));
    map.StartArea("Cam A");
    builtIn.StartArea("Cam A");
    const Shot fromMap = map.ImageSet("Cam A"), expected = builtIn.ImageSet("Cam A");
    ASSERT_EQ(fromMap.frames.size(), 4u);
    ASSERT_EQ(expected.frames.size(), 4u);
    // Away from the rim, on the sphere and on the plate (whose shadows the sphere casts in both).
    int32_t compared = 0, largest = 0, lit = 0;
    for (size_t k = 0; k < 4; ++k)
        for (int32_t row = 0; row < 256; ++row)
            for (int32_t column = 0; column < 320; ++column) {
                const double x = (column + 0.5 - 160) * 0.2, y = (128 - row - 0.5) * 0.2;
                if (std::fabs(std::hypot(x, y) - SphereRadius) < 1.0)
                    continue;
                const int32_t difference = std::abs(fromMap.At(k, column, row) - expected.At(k, column, row));
                largest = std::max(largest, difference);
                ++compared;
                lit += expected.At(k, column, row) > 20;
                EXPECT_LE(difference, 1) << "direction " << k << " at " << x << ", " << y;
                if (difference > 1)
                    return;
            }
    std::printf(
        "hemisphere map against the built-in sphere: largest difference %d grey levels over %d pixels\n",
        largest, compared);
    EXPECT_GT(lit, compared / 2) << "the images are lit";
}

TEST(HeightMapOptics, AlbedoPatternComesBackFromTheFourDirections) {
    TestFolder folder;
    // A flat plate (a map of level 0) with an albedo map twice as fine as the camera's pixels: squares of
    // 0.3 and 0.8 on the left half, a ramp from 0.3 to 0.9 across the right half; and a white plate
    // under the same light for the irradiance.
    const double pixelSize = 0.1;
    const int32_t columns = 640, rows = 512;
    WriteHeightMap(folder / "flat.png", 4, 4, pixelSize, 0.001, [](double, double) { return 0.0; });
    const auto pattern = [](double x, double y) {
        if (x < 0)
            return (static_cast<int>(std::floor(x / 4)) + static_cast<int>(std::floor(y / 4))) % 2 == 0 ? 0.3
                                                                                                        : 0.8;
        return 0.3 + 0.6 * x / 32;
    };
    WriteAlbedoMap(folder / "pattern.png", columns, rows, pixelSize, 16, pattern);
    WriteAlbedoMap(folder / "white.png", columns, rows, pixelSize, 8, [](double, double) { return 1.0; });
    const auto take = [&](const std::string& albedo) {
        const Json object = {{"heightMap", "flat.png"}, {"pixelSize", pixelSize}, {"albedoMap", albedo}};
        StationRig rig = RigIn(folder, OwnObjectStation(object, 320, 256));
        rig.StartArea("Cam A", "30");
        return rig.ImageSet("Cam A");
    };
    const Shot patterned = take("pattern.png"), white = take("white.png");
    ASSERT_EQ(patterned.frames.size(), 4u);
    ASSERT_EQ(white.frames.size(), 4u);
    for (const auto& frame : white.frames)
        ASSERT_LT(*std::max_element(frame.begin(), frame.end()), 255) << "nothing clipped";
    double worst = 0;
    int32_t measured = 0;
    for (int32_t row = 2; row < 254; ++row)
        for (int32_t column = 2; column < 318; ++column) {
            const double x = (column + 0.5 - 160) * 0.2, y = (128 - row - 0.5) * 0.2;
            // Away from the squares' edges, where the bilinear resampling blends two of them.
            const double edge =
                std::min(std::fabs(std::remainder(x, 4.0)), std::fabs(std::remainder(y, 4.0)));
            if ((x < 0 && edge < 0.25) || std::fabs(x) < 0.25)
                continue;
            double sum = 0, irradiance = 0;
            for (size_t k = 0; k < 4; ++k) {
                sum += patterned.At(k, column, row);
                irradiance += white.At(k, column, row);
            }
            const double albedo = sum / irradiance, expected = pattern(x, y);
            worst = std::max(worst, std::fabs(albedo - expected) / expected);
            ++measured;
        }
    std::printf("albedo pattern: largest relative error %.2f %% over %d pixels\n", 100 * worst, measured);
    EXPECT_GT(measured, 60000);
    EXPECT_LT(worst, 0.02);
}

} // namespace zeb::station::test
