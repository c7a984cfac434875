// The surface of tall objects from one noisy image set of the station, against the station's
// truth: the 20 mm sphere's normals, albedo and height with heights recovered (and how far off the
// plane-only solve is), the part's raised and engraved features, a flat card that stays on the
// object plane, a sphere cut by the image's edge, and the height picture's zero.
#include "StationShots.h"
#include "SurfaceImages.h"
#include "SurfaceSolver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zeb::photometric::test {

namespace {

// The station's hemisphere of 20 mm radius, centred in a sensor 64 mm across, as seen through an
// image region: the true normal and height at a pixel of the image.
struct SphereTruth {
    double centreX, centreY, radius; // pixels of the image

    SphereTruth(int32_t sensorWidth, int32_t sensorHeight, int32_t offsetX = 0, int32_t offsetY = 0)
        : centreX(sensorWidth / 2.0 - 0.5 - offsetX), centreY(sensorHeight / 2.0 - 0.5 - offsetY),
          radius(20 / (64.0 / sensorWidth)) {}
    // Distance from the centre as a share of the radius, squared.
    double Reach(int32_t x, int32_t y) const {
        const double dx = (x - centreX) / radius, dy = (y - centreY) / radius;
        return dx * dx + dy * dy;
    }
    Vector3 Normal(int32_t x, int32_t y) const {
        const double dx = (x - centreX) / radius, dy = (y - centreY) / radius;
        return {dx, -dy, std::sqrt(std::max(0.0, 1 - dx * dx - dy * dy))};
    }
    double Height(int32_t x, int32_t y) const { return 20 * Normal(x, y).z * (Reach(x, y) < 1 ? 1 : 0); }
};

// The figures over the cap up to 60 degrees: the angle to the true normals (mean and 95th
// percentile), the mean albedo, and the pixels without a normal; and the mean height error within
// 1 mm of the top (where it is in the image).
struct CapFigures {
    double meanDegrees = 0, p95Degrees = 0, albedo = 0, topError = 0;
    size_t pixels = 0, unreliable = 0, saturated = 0, topPixels = 0;
};

CapFigures Figures(const Surface& surface, const SphereTruth& truth) {
    CapFigures figures;
    std::vector<double> errors;
    const double millimetre = truth.radius / 20;
    for (int32_t y = 0; y < surface.height; ++y)
        for (int32_t x = 0; x < surface.width; ++x) {
            if (truth.Reach(x, y) > 0.75)
                continue;
            const size_t i = surface.Index(x, y);
            if (!surface.Reliable(i)) {
                ++figures.unreliable;
                figures.saturated +=
                    surface.status[i] == static_cast<uint8_t>(PixelStatus::Saturated) ? 1 : 0;
                continue;
            }
            errors.push_back(AngleDegrees(truth.Normal(x, y),
                                          {surface.normalX[i], surface.normalY[i], surface.normalZ[i]}));
            figures.albedo += surface.albedo[i];
            if (surface.HasHeights() &&
                truth.Reach(x, y) * truth.radius * truth.radius <= millimetre * millimetre) {
                figures.topError += surface.heightMap[i] - truth.Height(x, y);
                ++figures.topPixels;
            }
        }
    figures.pixels = errors.size();
    if (errors.empty())
        return figures;
    for (double e : errors)
        figures.meanDegrees += e / static_cast<double>(errors.size());
    figures.albedo /= static_cast<double>(errors.size());
    if (figures.topPixels)
        figures.topError /= static_cast<double>(figures.topPixels);
    std::sort(errors.begin(), errors.end());
    figures.p95Degrees = errors[errors.size() * 95 / 100];
    return figures;
}

void Print(const char* what, const CapFigures& f, int32_t rounds) {
    std::printf(
        "%s: normals %.2f degrees off on average (95th percentile %.2f) over %zu pixels, albedo %.4f, "
        "top %.3f mm off (%zu pixels), %zu without a normal (%zu clipped), %d rounds\n",
        what, f.meanDegrees, f.p95Degrees, f.pixels, f.albedo, f.topError, f.topPixels, f.unreliable,
        f.saturated, rounds);
}

SurfaceOptions WithHeights(int32_t rounds = 8) {
    SurfaceOptions options;
    options.recoverHeight = true;
    options.heightRounds = rounds;
    return options;
}

} // namespace

TEST(SurfaceHeight, TheSphereStandsAtItsHeightsFromOneNoisySetWhereThePlaneCannot) {
    // 640 x 480 pixels of 0.1 mm, the nominal model.
    const ShotSet shot = AreaShot("sphere", 640, 480);
    const SphereTruth truth(640, 480);
    const LightingModel model = NominalModel(AreaNominal(640, 480));

    SurfaceSolver plane(model);
    const Surface flat = plane.Solve(shot.View());
    const CapFigures before = Figures(flat, truth);
    Print("the sphere on the plane", before, plane.HeightRounds());
    EXPECT_FALSE(flat.HasHeights());
    EXPECT_GT(before.meanDegrees, 3.0) << "the plane alone tilts the sphere's normals";
    EXPECT_GT(before.albedo, 0.64) << "and lights its top too weakly";

    SurfaceSolver tall(model, {}, WithHeights());
    const Surface surface = tall.Solve(shot.View());
    const CapFigures after = Figures(surface, truth);
    Print("the sphere at its heights", after, tall.HeightRounds());
    ASSERT_TRUE(surface.HasHeights());
    EXPECT_LE(after.meanDegrees, 1.5);
    EXPECT_NEAR(after.albedo, 0.6, 0.03 * 0.6);
    EXPECT_GT(after.topPixels, 250u);
    // The top within 2 %, under the station's cast shadows: the rounds take from the plate's light
    // what the recovered sphere hides, so that its darkening no longer passes for a tilt.
    EXPECT_LE(std::fabs(after.topError), 0.02 * 20);
    // Only clipped highlights go without a normal on the cap, as on the plane.
    EXPECT_EQ(after.unreliable, after.saturated);
    EXPECT_LE(after.unreliable, after.pixels / 50);
    EXPECT_GE(tall.HeightRounds(), 2);
    EXPECT_LT(tall.HeightRounds(), 8) << "the heights settle before the last round";

    // The plate around it lies flat on the object plane. Pixels without a normal have no height,
    // nor those whose normal stands within a degree of vertical at the rim (a few).
    for (const auto& [x, y] :
         {std::pair{10, 10}, std::pair{630, 10}, std::pair{10, 470}, std::pair{630, 470}, std::pair{319, 10},
          std::pair{10, 239}, std::pair{630, 239}, std::pair{319, 470}}) {
        std::printf("plate at (%d, %d): %.3f mm\n", x, y, surface.heightMap[surface.Index(x, y)]);
        EXPECT_NEAR(surface.heightMap[surface.Index(x, y)], 0, 0.1) << x << ", " << y;
    }
    size_t vertical = 0;
    for (size_t i = 0; i < surface.status.size(); ++i) {
        ASSERT_TRUE(surface.Reliable(i) || std::isnan(surface.heightMap[i])) << i;
        if (surface.Reliable(i) && std::isnan(surface.heightMap[i])) {
            ASSERT_LT(surface.normalZ[i], 0.02f) << i;
            ++vertical;
        }
    }
    EXPECT_LT(vertical, 100u);

    // The picture: micrometres above the lowest point, 0 where no height is known.
    const std::vector<uint16_t> picture = HeightSamples(surface);
    ASSERT_EQ(picture.size(), surface.status.size());
    const double lowest = LowestHeight(surface);
    std::printf("the sphere's lowest point: %.3f mm\n", lowest);
    EXPECT_LE(lowest, 0.0);
    EXPECT_GT(lowest, -1.0) << "a plate pixel beside the rim, no lower";
    const size_t top = surface.Index(320, 240);
    EXPECT_NEAR(picture[top], (surface.heightMap[top] - lowest) * 1000, 0.5);
    EXPECT_NEAR(picture[top], 20000 - lowest * 1000, 1000);
    const size_t lowestPixel = static_cast<size_t>(
        std::min_element(surface.heightMap.begin(), surface.heightMap.end(),
                         [](float a, float b) { return std::isnan(b) || (!std::isnan(a) && a < b); }) -
        surface.heightMap.begin());
    EXPECT_EQ(picture[lowestPixel], 0);
    for (size_t i = 0; i < picture.size(); ++i) {
        if (std::isnan(surface.heightMap[i])) {
            ASSERT_EQ(picture[i], 0) << i;
        }
    }
    const std::vector<uint8_t> screen = HeightGreys(surface);
    EXPECT_EQ(screen[lowestPixel], 1);
    EXPECT_GT(screen[top], 240);
}

TEST(SurfaceHeight, ThePartsFeaturesStandAtTheirHeightsAndAFlatCardOnThePlane) {
    // 640 x 512 pixels of 0.1 mm: the part's domes rise 2.5 and 2.6 mm, its pad 1 mm, its ring is
    // engraved 0.4 mm deep.
    const ShotSet part = AreaShot("part", 640, 512);
    SurfaceSolver solver(NominalModel(AreaNominal(640, 512)), {}, WithHeights());
    const Surface surface = solver.Solve(part.View());
    auto at = [&](double mmX, double mmY) {
        return surface.heightMap[surface.Index(static_cast<int32_t>((mmX + 32) / 0.1),
                                               static_cast<int32_t>((25.6 - mmY) / 0.1))];
    };
    const double dome = at(-12.8, 7.7), smallDome = at(13.8, -6.1), pad = at(-2.6, -14.3),
                 ring = at(11.3 + 3.6, 11.3);
    std::printf("part: domes %.3f and %.3f mm, pad %.3f mm, ring %.3f mm, plate %.3f mm, %d rounds\n", dome,
                smallDome, pad, ring, at(0, 20), solver.HeightRounds());
    // With the shadows the features cast taken from the plate's light around them.
    EXPECT_NEAR(dome, 2.5, 0.05);
    EXPECT_NEAR(smallDome, 2.6, 0.05);
    EXPECT_NEAR(pad, 1.0, 0.05);
    EXPECT_NEAR(ring, -0.4, 0.03);
    EXPECT_NEAR(at(0, 20), 0, 0.02);
    EXPECT_NEAR(at(-25, -22), 0, 0.05);

    // A card is flat on the object plane: the first round leaves it where it was.
    const ShotSet card = AreaShot("card", 320, 256);
    SurfaceSolver cardSolver(NominalModel(AreaNominal(320, 256)), {}, WithHeights());
    const Surface flat = cardSolver.Solve(card.View());
    const auto [low, high] = std::minmax_element(flat.heightMap.begin(), flat.heightMap.end());
    std::printf("card: heights from %.4f to %.4f mm, %d rounds\n", *low, *high, cardSolver.HeightRounds());
    EXPECT_EQ(flat.ReliablePixels(), 320u * 256u);
    EXPECT_GT(*low, -0.05);
    EXPECT_LT(*high, 0.05);
    EXPECT_EQ(cardSolver.HeightRounds(), 1);
}

TEST(SurfaceHeight, ASphereCutByTheImagesEdgeStillStandsOnThePlate) {
    // The left half of the sphere: the image ends at its crest.
    const ShotSet shot = AreaShotThrough("sphere", 640, 480, 320, 480, 0, 0);
    const SphereTruth truth(640, 480);
    SurfaceSolver solver(NominalModel(AreaNominal(640, 480)), {}, WithHeights());
    const Surface surface = solver.Solve(shot.View());
    const CapFigures figures = Figures(surface, truth);
    Print("half a sphere", figures, solver.HeightRounds());
    EXPECT_LE(figures.meanDegrees, 1.5);
    EXPECT_NEAR(figures.albedo, 0.6, 0.03 * 0.6);
    EXPECT_GT(figures.topPixels, 100u);
    // Under the station's cast shadows, as for the whole sphere.
    EXPECT_LE(std::fabs(figures.topError), 0.02 * 20);
    EXPECT_NEAR(surface.heightMap[surface.Index(10, 10)], 0, 0.5);

    // The right part of the sensor, the sphere's other half cut on the image's left.
    const ShotSet right = AreaShotThrough("sphere", 640, 480, 320, 240, 320, 120);
    const SphereTruth rightTruth(640, 480, 320, 120);
    SurfaceSolver rightSolver(NominalModel(AreaNominal(640, 480)), {0, 0, false}, WithHeights());
    // The region tells the solver where the image lies on the sensor.
    SurfaceSolver placed(NominalModel(AreaNominal(640, 480)), {320, 120, false}, WithHeights());
    const CapFigures wrong = Figures(rightSolver.Solve(right.View()), rightTruth);
    const CapFigures placedFigures = Figures(placed.Solve(right.View()), rightTruth);
    Print("a quarter, placed", placedFigures, placed.HeightRounds());
    EXPECT_LE(placedFigures.meanDegrees, 1.5);
    EXPECT_LE(std::fabs(placedFigures.topError), 0.02 * 20);
    EXPECT_GT(wrong.meanDegrees, placedFigures.meanDegrees + 1) << "lit as if it lay in the sensor's corner";
}

TEST(SurfaceHeight, TheRoundsStopAtTheirLimitAndThePlaneSolveKeepsNoHeights) {
    const ShotSet shot = AreaShot("sphere", 160, 128);
    SurfaceSolver once(NominalModel(AreaNominal(160, 128)), {}, WithHeights(1));
    const Surface surface = once.Solve(shot.View());
    EXPECT_EQ(once.HeightRounds(), 1);
    ASSERT_TRUE(surface.HasHeights());
    for (size_t i = 0; i < surface.status.size(); ++i) {
        if (surface.Reliable(i) && surface.normalZ[i] >= 0.02f) {
            ASSERT_TRUE(std::isfinite(surface.heightMap[i])) << i;
        }
    }
    // No rounds: the plane's normals, integrated.
    SurfaceSolver none(NominalModel(AreaNominal(160, 128)), {}, WithHeights(0));
    const Surface integrated = none.Solve(shot.View());
    EXPECT_EQ(none.HeightRounds(), 0);
    EXPECT_TRUE(integrated.HasHeights());

    // A surface solved again without heights drops the ones it held.
    Surface reused = surface;
    SurfaceSolver(NominalModel(AreaNominal(160, 128))).Solve(shot.View(), reused);
    EXPECT_FALSE(reused.HasHeights());
    EXPECT_TRUE(HeightSamples(reused).empty());
    EXPECT_TRUE(std::isnan(LowestHeight(reused)));
}

} // namespace zeb::photometric::test
