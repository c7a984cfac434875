// Glossy surfaces: a glossy plate mirrors each lit quadrant where the mirror direction toward the
// camera points at it, and a glossy material without a specular share is the matte one, bit for bit.
#include "Gloss.h"
#include "OwnObjects.h"
#include "Scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <numbers>

namespace zeb::station::test {

namespace {

// The quadrant that the ray from `p` in direction `d` reaches on a dome of radius 100 mm, or -1 when it
// leaves through the camera's opening or below the rim.
int QuadrantHit(const Vector3& p, const Vector3& d) {
    const double b = Dot(p, d), c = Dot(p, p) - 100 * 100;
    const double s = -b + std::sqrt(b * b - c);
    const Vector3 hit{p.x + s * d.x, p.y + s * d.y, p.z + s * d.z};
    if (hit.z <= 0 || std::hypot(hit.x, hit.y) <= 15)
        return -1;
    return hit.y > 0 ? (hit.x > 0 ? 1 : 0) : (hit.x > 0 ? 3 : 2);
}

// The quadrant each pixel of a plate `workingDistance` below the rim mirrors toward a camera pupil
// 100 mm above the rim, as the reflection law gives it; -2 where directions within `margin` radians of
// the mirror direction reach another (the lobe spreads the light across such an edge).
std::vector<int> MirroredQuadrants(int32_t width, int32_t height, double pixel, double workingDistance,
                                   double margin) {
    std::vector<int> quadrant(static_cast<size_t>(width) * height);
    for (int32_t row = 0; row < height; ++row)
        for (int32_t column = 0; column < width; ++column) {
            const double x = (column + 0.5 - width / 2.0) * pixel, y = (height / 2.0 - row - 0.5) * pixel;
            const Vector3 p{x, y, -workingDistance};
            const double length =
                std::sqrt(x * x + y * y + (100 + workingDistance) * (100 + workingDistance));
            // The view direction (toward the pupil) mirrored about the plate's normal.
            const Vector3 mirror{x / length, y / length, (100 + workingDistance) / length};
            // Two directions across it.
            const double across = std::hypot(mirror.x, mirror.y);
            const Vector3 first =
                across > 1e-9 ? Vector3{-mirror.y / across, mirror.x / across, 0} : Vector3{1, 0, 0};
            const Vector3 second{mirror.y * first.z - mirror.z * first.y,
                                 mirror.z * first.x - mirror.x * first.z,
                                 mirror.x * first.y - mirror.y * first.x};
            int hit = QuadrantHit(p, mirror);
            for (int k = 0; k < 16 && hit != -2; ++k) {
                const double turn = k * std::numbers::pi / 8, c = margin * std::cos(turn),
                             s = margin * std::sin(turn);
                Vector3 d{mirror.x + c * first.x + s * second.x, mirror.y + c * first.y + s * second.y,
                          mirror.z + c * first.z + s * second.z};
                const double norm = std::sqrt(Dot(d, d));
                d = {d.x / norm, d.y / norm, d.z / norm};
                if (QuadrantHit(p, d) != hit)
                    hit = -2;
            }
            quadrant[static_cast<size_t>(row) * width + column] = hit;
        }
    return quadrant;
}

std::array<std::vector<float>, 4> Shade(const TestFolder& folder, const Json& object, int32_t width,
                                        int32_t height) {
    const auto station =
        Station::FromJson(OwnObjectStation(object, width, height).dump(), folder.StationFile());
    RenderRequest request;
    request.scene = station->Camera("Cam A")->scene;
    request.width = request.sensorWidth = width;
    request.height = request.sensorHeight = height;
    return ShadeScene(request);
}

} // namespace

TEST(Gloss, PlateMirrorsEachQuadrantWhereTheMirrorDirectionPointsAtIt) {
    TestFolder folder;
    WriteHeightMap(folder / "plate.png", 4, 4, 1, 0.001, [](double, double) { return 0.0; });
    const Json glossy = {{"heightMap", "plate.png"},
                         {"material", {{"type", "glossy"}, {"roughness", 0.02}, {"specular", 0.5}}}};
    const Json matte = {{"heightMap", "plate.png"}};
    const int32_t width = 320, height = 256;
    const auto shiny = Shade(folder, glossy, width, height), dull = Shade(folder, matte, width, height);
    // Three lobe widths from an edge, the lobe holds all but a few hundredths of its light on one side.
    const std::vector<int> mirrored = MirroredQuadrants(width, height, 0.2, 10, 3 * 0.02);
    for (size_t q = 0; q < 4; ++q) {
        // The lobe's light: what the glossy plate shows beyond half its diffuse light (its specular share
        // of 0.5 leaves half of the matte plate's).
        float brightest = 0;
        std::vector<float> lobe(shiny[q].size());
        for (size_t i = 0; i < lobe.size(); ++i) {
            lobe[i] = shiny[q][i] - 0.5f * dull[q][i];
            brightest = std::max(brightest, lobe[i]);
        }
        int32_t inside = 0, outside = 0, wrong = 0;
        for (size_t i = 0; i < lobe.size(); ++i) {
            if (mirrored[i] == -2)
                continue; // at an edge of the mirrored quadrant
            const bool expected = mirrored[i] == static_cast<int>(q);
            (expected ? inside : outside) += 1;
            wrong += (lobe[i] > brightest / 2) != expected;
        }
        std::printf(
            "quadrant %zu: mirrored on %d pixels, not on %d; %d pixels disagree; the highlight is %.2f "
            "times a white matte surface's light\n",
            q, inside, outside, wrong, brightest);
        EXPECT_GT(inside, 8000) << "quadrant " << q;
        EXPECT_GT(outside, 40000) << "quadrant " << q;
        EXPECT_EQ(wrong, 0) << "quadrant " << q;
        // A mirror shows the dome's radiance, which lights a white matte facet at the rim's centre with the
        // reference irradiance from a quarter of the sky: pi radiance over that, times the specular share.
        const double mirror = 0.5 * std::numbers::pi / Dome(100).Reference();
        EXPECT_GT(brightest, 0.9 * mirror) << "quadrant " << q;
        EXPECT_LT(brightest, 1.01 * mirror) << "quadrant " << q;
    }
}

TEST(Gloss, GlossyWithoutSpecularShareIsMatteBitForBit) {
    TestFolder folder;
    // Relief that shades itself and casts shadows: domes on a plate, with a pattern of albedo.
    WriteHeightMap(folder / "domes.png", 320, 256, 0.2, 0.001, [](double x, double y) {
        const double r1 = std::hypot(x - 8, y - 5), r2 = std::hypot(x + 12, y + 7);
        return std::max({0.0, 6 - r1, std::sqrt(std::max(0.0, 36 - r2 * r2))});
    });
    WriteAlbedoMap(folder / "albedo.png", 320, 256, 0.2, 8,
                   [](double x, double y) { return 0.4 + 0.3 * std::sin(x / 3) * std::cos(y / 5); });
    auto object = [](const Json& material) {
        return Json{{"heightMap", "domes.png"},
                    {"pixelSize", 0.2},
                    {"albedoMap", "albedo.png"},
                    {"material", material}};
    };
    const auto matte = Shade(folder, object({{"type", "matte"}}), 320, 256);
    const auto glossy =
        Shade(folder, object({{"type", "glossy"}, {"roughness", 0.3}, {"specular", 0}}), 320, 256);
    for (size_t q = 0; q < 4; ++q) {
        ASSERT_EQ(matte[q].size(), glossy[q].size());
        EXPECT_EQ(std::memcmp(matte[q].data(), glossy[q].data(), matte[q].size() * sizeof(float)), 0)
            << "quadrant " << q;
    }
    // And the frames the camera hands out.
    const auto frames = [&](const Json& material) {
        StationRig rig = RigIn(folder, OwnObjectStation(object(material), 320, 256));
        rig.StartArea("Cam A");
        return rig.ImageSet("Cam A").frames;
    };
    EXPECT_EQ(frames({{"type", "glossy"}, {"roughness", 0.05}, {"specular", 0}}),
              frames({{"type", "matte"}}));
    EXPECT_NE(frames({{"type", "glossy"}, {"roughness", 0.05}, {"specular", 0.2}}),
              frames({{"type", "matte"}}));
}

// The lobe's share beyond an edge is 1/2 (1 + s / sqrt(1 + s^2)) with s = tan(angle / 2) / alpha, to
// double precision over the whole range of angles, on both sides of a quarter turn (where the tan's
// own reduction changes), up to the clamp at 3.1 radians and beyond it.
TEST(Gloss, LobeShareIsTheMarginalOfTheSlopesAtHalfTheAngle) {
    const auto expected = [](double angle, double alpha) {
        const double s = std::tan(std::clamp(angle, -3.1, 3.1) / 2) / alpha;
        return 0.5 * (1 + s / std::sqrt(1 + s * s));
    };
    for (const double alpha : {0.02, 0.1, 0.5})
        for (int k = -3200; k <= 3200; ++k) {
            const double angle = k * 1e-3;
            EXPECT_NEAR(LobeShare(angle, alpha), expected(angle, alpha), 1e-15) << angle << ", " << alpha;
        }
    const double quarter = std::numbers::pi / 2;
    for (const double angle :
         {quarter, std::nextafter(quarter, 0.0), std::nextafter(quarter, 4.0), -quarter, 1e-300})
        EXPECT_NEAR(LobeShare(angle, 0.1), expected(angle, 0.1), 1e-15) << angle;
    EXPECT_EQ(LobeShare(0, 0.1), 0.5);
    constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(std::isnan(LobeShare(NaN, 0.1)));

    // The lobe's light takes its edges two at a time: each lane the scalar share's bits, whatever the
    // other lane holds (beyond the clamp, steep, flat, NaN).
    for (const double alpha : {0.02, 0.1, 0.5})
        for (int k = -3300; k <= 3300; k += 7) {
            const double angle = k * 1e-3, other = -angle * 0.37 + 0.5;
            const std::array<double, 2> pair = LobeSharePair(angle, other, alpha);
            ASSERT_EQ(pair[0], LobeShare(angle, alpha)) << angle << ", " << alpha;
            ASSERT_EQ(pair[1], LobeShare(other, alpha)) << other << ", " << alpha;
        }
    for (const double angle : {quarter, std::nextafter(quarter, 0.0), -quarter, 1e-300, 0.0, -0.0}) {
        EXPECT_EQ(LobeSharePair(angle, NaN, 0.1)[0], LobeShare(angle, 0.1)) << angle;
        EXPECT_TRUE(std::isnan(LobeSharePair(angle, NaN, 0.1)[1])) << angle;
        EXPECT_EQ(LobeSharePair(NaN, angle, 0.1)[1], LobeShare(angle, 0.1)) << angle;
    }
}

// The lobe's share beyond a horizon, from the two elevations' tans, is the share at their angle: the
// same and opposite sides of the horizontal, near the vertical (the angle's clamp) and infinite tans.
TEST(Gloss, LobeShareBetweenTwoElevationsIsTheShareAtTheirAngle) {
    const double tans[] = {-1e6, -60, -47, -3, -1, -0.2, 0, 1e-9, 0.2, 1, 3, 47, 60, 1e6};
    for (const double alpha : {0.02, 0.1, 0.5})
        for (const double m : tans)
            for (const double e : tans) {
                const double expected = LobeShare(std::atan(m) - std::atan(e), alpha);
                EXPECT_NEAR(LobeShareBetween(m, e, alpha), expected, 1e-12)
                    << "tans " << m << " and " << e << ", alpha " << alpha;
            }
    constexpr double Infinite = std::numeric_limits<double>::infinity();
    EXPECT_DOUBLE_EQ(LobeShareBetween(1, Infinite, 0.1),
                     LobeShare(std::atan(1.0) - std::numbers::pi / 2, 0.1));
    EXPECT_DOUBLE_EQ(LobeShareBetween(0.5, 0.5, 0.1), 0.5);
}

} // namespace zeb::station::test
