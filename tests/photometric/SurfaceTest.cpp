// The surface of the station's targets under the nominal lighting, noise on: a flat grey card is
// flat and evenly grey, the part's domes are convex and its engraved ring concave; a direction in a
// cast shadow is found and the pixel solved from the other three.
#include "PixelSolve.h"
#include "StationShots.h"
#include "SurfaceImages.h"
#include "SurfaceSolver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

namespace zeb::photometric::test {

TEST(Surface, TheGreyCardIsFlatAndEvenlyGreyAcrossTheField) {
    // The card's directions differ by 1.3 times across the field: the model's fall-off must undo it.
    const ShotSet shot = AreaShot("card", 320, 256);
    SurfaceSolver solver(NominalModel(AreaNominal(320, 256)));
    const Surface surface = solver.Solve(shot.View());
    ASSERT_EQ(surface.width, 320);
    ASSERT_EQ(surface.height, 256);
    EXPECT_EQ(surface.ReliablePixels(), 320u * 256u);
    // Blocks of 16 x 16 pixels: their mean albedo and mean normal, so that the sensor's noise
    // averages out and the field's errors remain.
    double lowest = 1e9, highest = 0, steepest = 0, sum = 0;
    int32_t blocks = 0;
    for (int32_t by = 0; by < 256; by += 16)
        for (int32_t bx = 0; bx < 320; bx += 16) {
            double albedo = 0;
            Vector3 normal;
            for (int32_t y = by; y < by + 16; ++y)
                for (int32_t x = bx; x < bx + 16; ++x) {
                    const size_t i = surface.Index(x, y);
                    albedo += surface.albedo[i] / 256.0;
                    normal = normal + Vector3{surface.normalX[i], surface.normalY[i], surface.normalZ[i]};
                }
            lowest = std::min(lowest, albedo);
            highest = std::max(highest, albedo);
            steepest = std::max(steepest, AngleDegrees(Normalised(normal), {0, 0, 1}));
            sum += albedo;
            ++blocks;
        }
    const double mean = sum / blocks;
    std::printf("card: albedo %.4f (blocks %.4f to %.4f), largest tilt of a block %.3f degrees\n", mean,
                lowest, highest, steepest);
    EXPECT_NEAR(mean, 0.5, 0.005) << "the card's albedo, with the station's white level";
    EXPECT_LE(highest - lowest, 0.01 * mean);
    EXPECT_LE(steepest, 0.5);
}

TEST(Surface, ThePartsDomesAreConvexAndItsEngravedRingConcave) {
    // 640 x 512 pixels of 0.1 mm: the ring's groove is 1.2 mm wide.
    const ShotSet shot = AreaShot("part", 640, 512);
    SurfaceSolver solver(NominalModel(AreaNominal(640, 512)));
    const Surface surface = solver.Solve(shot.View());
    EXPECT_GT(solver.RefinedPixels(), 5000u) << "the domes' flanks see part of the dome below their horizon";
    // The mean curvature over a disc of `radius` mm around a point of the part (mm from the centre).
    auto curvature = [&](double cx, double cy, double radius, double inner = 0) {
        double sum = 0;
        int32_t count = 0;
        for (int32_t y = 0; y < 512; ++y)
            for (int32_t x = 0; x < 640; ++x) {
                const double r = std::hypot((x + 0.5) * 0.1 - 32 - cx, 25.6 - (y + 0.5) * 0.1 - cy);
                if (r > radius || r < inner || !surface.Reliable(surface.Index(x, y)))
                    continue;
                sum += surface.curvature[surface.Index(x, y)];
                ++count;
            }
        return count ? sum / count : 0.0;
    };
    // Spherical caps of 8.45 and 5.37 mm radius: a mean curvature of 1 / R.
    const double dome = curvature(-12.8, 7.7, 3), smallDome = curvature(13.8, -6.1, 2);
    const double ring = curvature(11.3, 11.3, 3.7, 3.5), plate = curvature(0, 20, 3);
    std::printf("mean curvature (1/mm): domes %.4f and %.4f, ring %.4f, plate %.5f\n", dome, smallDome, ring,
                plate);
    EXPECT_NEAR(dome, 1 / 8.45, 0.02);
    EXPECT_NEAR(smallDome, 1 / 5.37, 0.03);
    EXPECT_LT(ring, -0.3);
    EXPECT_NEAR(plate, 0, 0.01);
    // The curvature picture: brighter on the domes, darker in the ring, 128 on the plate.
    const std::vector<uint8_t> picture = CurvatureSamples(surface);
    auto grey = [&](double mmX, double mmY) {
        return picture[surface.Index(static_cast<int32_t>((mmX + 32) / 0.1),
                                     static_cast<int32_t>((25.6 - mmY) / 0.1))];
    };
    EXPECT_GT(grey(-12.8, 7.7), 145);
    EXPECT_LT(grey(11.3 + 3.6, 11.3), 60);
    EXPECT_NEAR(grey(0, 20), 128, 6);
}

TEST(Surface, ADirectionInACastShadowIsLeftOutAndTheOtherThreeSolveThePixel) {
    // A facet at the field's centre with the light of each step on it, then each direction in turn
    // darkened as a neighbour's shadow would (to 70 % and to 40 % of its light).
    const LightingModel model = NominalModel(AreaNominal(160, 128));
    const LightField field(model, 160, 128, {});
    const LightField::Probe probe = field.ProbeAt(60, 70);
    auto lightsOf = [&](const Vector3& normal, std::array<Vector3, 4>& lights) {
        probe.Lights(normal, lights);
    };
    for (const Vector3& facet : {Vector3{0, 0, 1}, Normalised({0.1, -0.05, 1})}) {
        std::array<Vector3, 4> lights;
        lightsOf(facet, lights);
        PixelSignal lit;
        for (size_t k = 0; k < 4; ++k)
            lit.signal[k] = 0.5 * Dot(lights[k], facet);
        lit.usable = 0xf;
        EXPECT_EQ(ShadowedDirection(lights, lit), -1) << "four that agree";
        for (int32_t k = 0; k < 4; ++k)
            for (double share : {0.7, 0.4}) {
                PixelSignal shadowed = lit;
                shadowed.signal[static_cast<size_t>(k)] *= share;
                EXPECT_EQ(ShadowedDirection(lights, shadowed), k) << k << " at " << share;
                const PixelSolution solution = RefineNormal(lightsOf, shadowed, {0, 0, 1});
                ASSERT_EQ(solution.status, PixelStatus::Reliable);
                EXPECT_LT(AngleDegrees(solution.normal, facet), 0.1) << k << " at " << share;
                EXPECT_NEAR(solution.albedo, 0.5, 0.002) << k << " at " << share;
            }
        // A slight darkening, within the noise, is left to the four.
        PixelSignal slight = lit;
        slight.signal[2] *= 0.98;
        EXPECT_EQ(ShadowedDirection(lights, slight), -1);
    }
}

} // namespace zeb::photometric::test
