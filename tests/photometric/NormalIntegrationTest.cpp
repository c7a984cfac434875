// Heights from normals on surfaces made by formula, where the answer is known exactly: a sphere's
// arc and silhouette, tilted planes, holes and parts cut off by unreliable pixels, grids of one
// pixel, one row or one column; and the least-squares solve under its weights.
#include "NormalIntegration.h"
#include "GridPoisson.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

namespace zeb::photometric::test {

namespace {

// A surface of `width` x `height` pixels of 0.1 mm whose normal at each pixel comes from `normal`
// (x right, y up; column and row given), all reliable.
Surface Made(int32_t width, int32_t height, const std::function<Vector3(int32_t, int32_t)>& normal) {
    Surface surface;
    surface.Resize(width, height);
    surface.pixelSize = surface.rowPitch = 0.1;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const size_t i = surface.Index(x, y);
            const Vector3 n = Normalised(normal(x, y));
            surface.normalX[i] = static_cast<float>(n.x);
            surface.normalY[i] = static_cast<float>(n.y);
            surface.normalZ[i] = static_cast<float>(n.z);
        }
    return surface;
}

// A hemisphere of `radius` pixels centred at (cx, cy) on a flat plate.
Vector3 Hemisphere(double x, double y, double cx, double cy, double radius) {
    const double dx = (x - cx) / radius, dy = (y - cy) / radius, r2 = dx * dx + dy * dy;
    return r2 < 1 ? Vector3{dx, -dy, std::sqrt(1 - r2)} : Vector3{0, 0, 1};
}

} // namespace

TEST(NormalIntegration, ASpheresArcAndSilhouetteGiveItsHeightExactly) {
    // A circle's arc from a pixel's centre: the height change is the circle's own.
    const double radius = 20, along = 0.6, nz = 0.8; // 20 mm, 36.9 degrees
    EXPECT_NEAR(NormalIntegration::ArcRise(along, nz, 1 / radius, 0.5),
                radius * (std::sqrt(1 - std::pow(along + 0.5 / radius, 2)) - nz), 1e-12);
    // On a plane it is the slope times the way; to a silhouette it stops where the arc stands up.
    EXPECT_NEAR(NormalIntegration::ArcRise(0.6, 0.8, 0, 0.1), -0.075, 1e-12);
    EXPECT_NEAR(NormalIntegration::ArcRise(0.99, std::sqrt(1 - 0.99 * 0.99), 0.05, 5),
                -radius * std::sqrt(1 - 0.99 * 0.99), 1e-9);
    EXPECT_EQ(NormalIntegration::ArcRise(1, 0, 0.05, 0.1), 0);

    // A 20 mm hemisphere on 640 x 480 pixels of 0.1 mm: the rim's pixels drop to the plate within
    // their last half pixel, and the top stands at 20 mm.
    Surface surface =
        Made(640, 480, [](int32_t x, int32_t y) { return Hemisphere(x, y, 319.5, 239.5, 200); });
    NormalIntegration integration;
    std::vector<float> heights;
    integration.Integrate(surface, heights, 1e-8);
    double worst = 0;
    size_t bridged = 0;
    for (int32_t y = 0; y < 480; ++y)
        for (int32_t x = 0; x < 640; ++x) {
            const size_t i = surface.Index(x, y);
            if (!NormalIntegration::Integrable(surface, i)) {
                ++bridged; // within a degree of vertical at the rim
                continue;
            }
            const double dx = (x - 319.5) / 200, dy = (y - 239.5) / 200, r2 = dx * dx + dy * dy;
            worst = std::max(worst, std::fabs(heights[i] - (r2 < 1 ? 20 * std::sqrt(1 - r2) : 0)));
        }
    EXPECT_LT(bridged, 60u);
    EXPECT_LT(worst, 0.01) << "millimetres, anywhere with a height";
    EXPECT_NEAR(heights[surface.Index(319, 239)], 20, 0.002);

    // The rim's pixels facing the image's axes unreliable, as a four-quadrant dome leaves them:
    // the sphere still stands on the plate through the others.
    for (int32_t y = 0; y < 480; ++y)
        for (int32_t x = 0; x < 640; ++x) {
            const double dx = (x - 319.5) / 200, dy = (y - 239.5) / 200, r2 = dx * dx + dy * dy;
            const double azimuth = std::fmod(Degrees(std::atan2(dy, dx)) + 360, 90);
            if (r2 < 1 && r2 > 0.85 && (azimuth < 20 || azimuth > 70))
                surface.status[surface.Index(x, y)] = static_cast<uint8_t>(PixelStatus::Dark);
        }
    heights.clear();
    integration.Integrate(surface, heights);
    EXPECT_NEAR(heights[surface.Index(319, 239)], 20, 0.05);
    EXPECT_NEAR(heights[surface.Index(5, 5)], 0, 0.01);
}

TEST(NormalIntegration, PlanesHolesAndCutOffPartsGetSensibleHeights) {
    // A plane rising 0.5 mm per mm to the right and 0.25 mm per mm up the image: each pixel's
    // height differs from its left neighbour's by 0.05 mm, from the one below by 0.025 mm.
    Surface ramp = Made(50, 40, [](int32_t, int32_t) { return Vector3{-0.5, -0.25, 1}; });
    NormalIntegration integration;
    std::vector<float> heights;
    integration.Integrate(ramp, heights, 1e-8);
    for (int32_t y = 0; y + 1 < 40; y += 3)
        for (int32_t x = 0; x + 1 < 50; x += 3) {
            EXPECT_NEAR(heights[ramp.Index(x + 1, y)] - heights[ramp.Index(x, y)], 0.05, 1e-4);
            EXPECT_NEAR(heights[ramp.Index(x, y)] - heights[ramp.Index(x, y + 1)], 0.025, 1e-4);
        }
    // A hole of unreliable pixels in it: bridged along the plane, the rest unmoved.
    Surface holed = ramp;
    for (int32_t y = 15; y < 25; ++y)
        for (int32_t x = 20; x < 30; ++x)
            holed.status[holed.Index(x, y)] = static_cast<uint8_t>(PixelStatus::Saturated);
    std::vector<float> bridged;
    integration.Integrate(holed, bridged, 1e-8);
    const float shift = bridged[0] - heights[0];
    EXPECT_NEAR(bridged[holed.Index(49, 39)] - shift, heights[ramp.Index(49, 39)], 1e-3);
    EXPECT_NEAR(bridged[holed.Index(25, 20)] - shift, heights[ramp.Index(25, 20)], 0.02)
        << "the hole's middle";

    // A raised square cut off from the plate by a ring of unreliable pixels: its heights hang on the
    // faint bridges (flat), and nothing becomes NaN.
    Surface island = Made(30, 30, [](int32_t, int32_t) { return Vector3{0, 0, 1}; });
    for (int32_t y = 8; y < 22; ++y)
        for (int32_t x = 8; x < 22; ++x)
            if (x < 10 || x >= 20 || y < 10 || y >= 20)
                island.status[island.Index(x, y)] = static_cast<uint8_t>(PixelStatus::Dark);
    heights.clear();
    integration.Integrate(island, heights);
    for (float h : heights)
        ASSERT_NEAR(h, 0, 1e-4);

    // Nothing reliable: flat at the object plane. Nearly vertical normals carry no height.
    Surface dark = Made(8, 8, [](int32_t, int32_t) { return Vector3{0, 0, 1}; });
    std::fill(dark.status.begin(), dark.status.end(), static_cast<uint8_t>(PixelStatus::Dark));
    heights.assign(64, std::numeric_limits<float>::quiet_NaN());
    integration.Integrate(dark, heights);
    for (float h : heights)
        ASSERT_EQ(h, 0);
    Surface wall = Made(4, 4, [](int32_t x, int32_t) {
        return x == 2 ? Vector3{1, 0, 0.001} : Vector3{0, 0, 1};
    });
    EXPECT_FALSE(NormalIntegration::Integrable(wall, wall.Index(2, 1)));
    EXPECT_TRUE(NormalIntegration::Integrable(wall, wall.Index(1, 1)));
}

TEST(NormalIntegration, GridsOfOnePixelOneRowOrOneColumn) {
    NormalIntegration integration;
    for (const auto& [width, height] : {std::pair{1, 1}, std::pair{1, 5}, std::pair{5, 1}, std::pair{2, 2}}) {
        Surface tilted = Made(width, height, [](int32_t, int32_t) { return Vector3{-0.5, 0.5, 1}; });
        std::vector<float> heights;
        integration.Integrate(tilted, heights, 1e-9);
        ASSERT_EQ(heights.size(), static_cast<size_t>(width * height));
        // Down a row is down the image's y, where this plane rises.
        const float right = width > 1 ? heights[1] - heights[0] : 0.05f;
        const float down = height > 1 ? heights[static_cast<size_t>(width)] - heights[0] : 0.05f;
        EXPECT_NEAR(right, 0.05, 1e-5) << width << " x " << height;
        EXPECT_NEAR(down, 0.05, 1e-5) << width << " x " << height;
    }
    Surface empty;
    std::vector<float> heights{1, 2, 3};
    integration.Integrate(empty, heights);
    EXPECT_TRUE(heights.empty());
}

TEST(GridPoisson, SolvesUnderItsWeightsAndKeepsFreePartsAtTheirStart) {
    // Two columns held nearly flat by strong pairs, joined by pairs that want 1 (weight 1) and 3
    // (weight 3) on alternate rows. Moving one column as a whole changes nothing but those pairs,
    // so at the least squares their weighted mean is exactly what they want on average: 2.5.
    GridDifferences d;
    d.Resize(2, 50);
    for (int32_t y = 0; y < 50; ++y) {
        const size_t left = static_cast<size_t>(y) * 2;
        d.right[left] = y % 2 ? 3.0f : 1.0f;
        d.rightWeight[left] = y % 2 ? 3.0f : 1.0f;
        d.belowWeight[left] = d.belowWeight[left + 1] = 1000;
    }
    GridPoisson poisson;
    std::vector<float> heights;
    const GridPoisson::Outcome outcome = poisson.Solve(d, heights, 1e-9);
    EXPECT_LT(outcome.residual, 1e-6);
    double weighted = 0;
    for (int32_t y = 0; y < 50; ++y) {
        const size_t left = static_cast<size_t>(y) * 2;
        weighted += d.rightWeight[left] * (heights[left + 1] - heights[left]) / 100;
        EXPECT_NEAR(heights[left] - heights[0], 0, 0.05) << y;
    }
    EXPECT_NEAR(weighted, 2.5, 1e-4);

    // Without weights every pixel keeps its start; weights that are not numbers or below 0 count
    // as none, and differences that are not numbers pull toward equal heights.
    GridDifferences none;
    none.Resize(3, 3);
    none.rightWeight[0] = std::numeric_limits<float>::quiet_NaN();
    none.belowWeight[0] = -1;
    std::vector<float> start{1, 2, 3, 4, 5, 6, 7, 8, 9};
    poisson.Solve(none, start);
    for (size_t i = 0; i < 9; ++i)
        EXPECT_FLOAT_EQ(start[i], static_cast<float>(i + 1));
    GridDifferences unknown;
    unknown.Resize(2, 1);
    unknown.rightWeight[0] = 1;
    unknown.right[0] = std::numeric_limits<float>::infinity();
    std::vector<float> pair{0, 4};
    poisson.Solve(unknown, pair);
    EXPECT_NEAR(pair[0], pair[1], 1e-5);
    EXPECT_TRUE(std::isfinite(pair[0]));

    // A large grid converges in tens of iterations, not hundreds.
    GridDifferences slope;
    slope.Resize(640, 480);
    std::fill(slope.right.begin(), slope.right.end(), 0.01f);
    std::fill(slope.rightWeight.begin(), slope.rightWeight.end(), 1.0f);
    std::fill(slope.belowWeight.begin(), slope.belowWeight.end(), 1.0f);
    heights.clear();
    const GridPoisson::Outcome large = poisson.Solve(slope, heights, 1e-6);
    EXPECT_LT(large.iterations, 60);
    EXPECT_NEAR(heights[639] - heights[0], 6.39, 1e-3);
    EXPECT_NEAR(heights[479 * 640] - heights[0], 0, 1e-3);
}

} // namespace zeb::photometric::test
