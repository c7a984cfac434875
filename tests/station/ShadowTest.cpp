// Cast shadows: the horizon sweep finds what a search of every point ahead finds, the dome's hidden
// light adds up to what it gives unshadowed, and a tall cylinder's shadow reaches as far from it as
// the geometry of each quadrant says.
#include "OwnObjects.h"
#include "Scene.h"
#include "Shadows.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>
#include <random>

namespace zeb::station::test {

namespace {} // namespace

TEST(Shadows, SweepFindsTheHighestPointAheadInEveryDirection) {
    // A plane with rough patches: the horizon of each point in a direction is the steepest rise to any
    // point ahead on the line of that direction nearest to it, heights between rows interpolated. Where
    // a point of the plane sees only the plane ahead, none need be given.
    const int32_t width = 37, height = 23;
    const double pitchX = 0.5, pitchY = 0.7;
    const float plane = -1;
    std::mt19937 random(5);
    std::uniform_real_distribution<float> heights(-2, 3);
    std::vector<float> z(static_cast<size_t>(width) * height, plane), horizon(z.size());
    for (int32_t row = 0; row < height; ++row)
        for (int32_t column = 0; column < width; ++column)
            if ((column > 5 && column < 12 && row > 3) || (column > 20 && column < 26 && row < 15) ||
                (column == 30 && row == 7))
                z[static_cast<size_t>(row) * width + column] = heights(random);
    for (const double degrees : {0.0, 10.0, 35.0, 45.0, 160.0, 200.0, 300.0, 359.0}) {
        const double ux = std::cos(degrees * std::numbers::pi / 180),
                     uy = std::sin(degrees * std::numbers::pi / 180);
        // Grid columns toward +x, rows toward -y; a sweep steps along columns.
        if (std::fabs(ux) / pitchX < std::fabs(uy) / pitchY)
            continue;
        SweepHorizons(z.data(), width, height, pitchX, pitchY, ux, -uy, plane, horizon.data());
        const double slope = (-uy / pitchY) / (std::fabs(ux) / pitchX);
        // Along the line through each point, heights between rows interpolated: the line's point in the
        // point's column and every point ahead on it.
        const auto lineHeight = [&](int32_t column, double row) {
            const int32_t under = static_cast<int32_t>(std::floor(row));
            const double f = row - under;
            const auto at = [&](int32_t r) {
                return z[static_cast<size_t>(std::clamp(r, 0, height - 1)) * width + column];
            };
            return (1 - f) * at(under) + f * at(under + 1);
        };
        for (int32_t row = 0; row < height; ++row)
            for (int32_t column = 0; column < width; ++column) {
                const int32_t step = ux >= 0 ? 1 : -1;
                const int32_t start = ux >= 0 ? column : width - 1 - column;
                const double line = row - std::lround(slope * start); // the line nearest in this column
                const double here = line + slope * start;
                const double own = lineHeight(column, here);
                double best = -std::numeric_limits<double>::infinity();
                bool flat = own == plane;
                for (int32_t s = start + 1, c = column + step; s < width; ++s, c += step) {
                    const double r = line + slope * s;
                    if (std::lround(r) < 0 || std::lround(r) >= height)
                        continue;
                    const double ahead = (c - column) * pitchX * ux + (r - here) * pitchY * -uy;
                    best = std::max(best, (lineHeight(c, r) - own) / ahead);
                    flat = flat && lineHeight(c, r) == plane;
                }
                const float found = horizon[static_cast<size_t>(row) * width + column];
                if (flat && std::isinf(found))
                    continue;
                if (std::isinf(best))
                    ASSERT_TRUE(std::isinf(found) && found < 0)
                        << degrees << " degrees at " << column << ", " << row;
                else
                    ASSERT_NEAR(found, best, 1e-4 * (1 + std::fabs(best)))
                        << degrees << " degrees at " << column << ", " << row;
            }
    }
}

namespace {

// What quadrant q of the documented dome (radius 100 mm, opening 0.15 of it) gives a facet at `p` with
// unit normal `n`, sampled finely, relative to the dome's reference; with `hidden`, only the rays that
// it says are hidden.
template <typename Hidden> double FineIrradiance(const Vector3& p, const Vector3& n, int q, Hidden hidden) {
    const double centre[4] = {135, 45, 225, 315};
    const int steps = 240;
    const double opening = std::asin(0.15), polarStep = (std::numbers::pi / 2 - opening) / steps,
                 azimuthStep = (std::numbers::pi / 2) / steps;
    double sum = 0;
    for (int i = 0; i < steps; ++i)
        for (int j = 0; j < steps; ++j) {
            const double polar = opening + (i + 0.5) * polarStep;
            const double azimuth =
                centre[q] * std::numbers::pi / 180 - std::numbers::pi / 4 + (j + 0.5) * azimuthStep;
            const Vector3 s{100 * std::sin(polar) * std::cos(azimuth),
                            100 * std::sin(polar) * std::sin(azimuth), 100 * std::cos(polar)};
            const Vector3 d{s.x - p.x, s.y - p.y, s.z - p.z};
            const double distance = std::sqrt(Dot(d, d));
            const double emitted = (100 * 100 - Dot(s, p)) / (100 * distance);
            const double facing = Dot(n, d) / distance;
            if (emitted <= 0 || facing <= 0 || !hidden(d))
                continue;
            sum += emitted * 100 * 100 * std::sin(polar) * polarStep * azimuthStep * facing /
                   (distance * distance);
        }
    return sum / Dome(100).Reference();
}

} // namespace

// A direction's sector is the one its azimuth falls in: along the axes, at the sectors' middles, just
// either side of their edges, and at random azimuths and lengths.
TEST(Shadows, SectorOfADirectionIsTheOneItsAzimuthFallsIn) {
    constexpr double Width = 2 * std::numbers::pi / ShadowSectors;
    const auto sectorAt = [](double azimuth, double length) {
        return ShadowSectorOf(length * std::cos(azimuth), length * std::sin(azimuth));
    };
    EXPECT_EQ(ShadowSectorOf(1, 0), 0);
    EXPECT_EQ(ShadowSectorOf(0, 1), ShadowSectors / 4); // 11 sectors a quarter turn
    EXPECT_EQ(ShadowSectorOf(-1, 0), ShadowSectors / 2);
    EXPECT_EQ(ShadowSectorOf(0, -1), 3 * ShadowSectors / 4);
    EXPECT_EQ(ShadowSectorOf(1, -1e-300), ShadowSectors - 1); // just short of a full turn
    for (int32_t k = 0; k < ShadowSectors; ++k) {
        EXPECT_EQ(sectorAt((k + 0.5) * Width, 1), k);
        EXPECT_EQ(sectorAt((k + 1e-9) * Width, 0.3), k);
        EXPECT_EQ(sectorAt((k + 1 - 1e-9) * Width, 7), k);
    }
    std::mt19937 random(5);
    std::uniform_real_distribution<double> turn(0, 2 * std::numbers::pi), length(1e-6, 100);
    for (int i = 0; i < 10000; ++i) {
        const double azimuth = turn(random);
        EXPECT_EQ(sectorAt(azimuth, length(random)), static_cast<int32_t>(azimuth / Width)) << azimuth;
    }
}

// Directions spread evenly around the unit diamond |x| + |y| = 1, 256 a turn and between them, land
// in the sector their azimuth falls in: each sector is found wherever on that scale it starts.
TEST(Shadows, SectorOfDirectionsAroundTheDiamond) {
    constexpr double Width = 2 * std::numbers::pi / ShadowSectors;
    for (int32_t m = 0; m < 4 * 256; ++m) {
        const int32_t quarter = m / 256;
        const double d = (m % 256) / 256.0;
        for (const double share : {d, d + 0.5 / 256}) {
            // Along the diamond from the quarter turn's first corner to its next.
            const double corner[4][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
            const double* from = corner[quarter];
            const double* to = corner[(quarter + 1) % 4];
            const double x = from[0] + share * (to[0] - from[0]), y = from[1] + share * (to[1] - from[1]);
            double azimuth = std::atan2(y, x);
            if (azimuth < 0)
                azimuth += 2 * std::numbers::pi;
            const int32_t expected = static_cast<int32_t>(azimuth / Width);
            // Directions within a hair of a sector's edge may go either way.
            const double offEdge = std::fabs(azimuth / Width - std::round(azimuth / Width));
            if (offEdge > 1e-9) {
                EXPECT_EQ(ShadowSectorOf(x, y), expected) << x << ", " << y;
            }
        }
    }
}

TEST(Shadows, RelievingTheWholeSkyHidesWhatEachQuadrantGives) {
    // A horizon above everything in every sector hides each quadrant's whole light: the closed-form
    // integral over the azimuth sectors of the dome against a fine sampling of the dome, for points
    // across the field, near the dome's wall and above the rim, and facets tilted every way.
    const Dome dome(100);
    const DomeShape shape(dome);
    const double width = 2 * std::numbers::pi / ShadowSectors;
    const Vector3 points[] = {{0, 0, -10}, {25, -18, -10}, {-40, 30, -30}, {5, 60, -5}, {10, -5, 15}};
    const Vector3 normals[] = {{0, 0, 1}, {0.3, 0.2, 0.933}, {-0.5, 0.1, 0.86}, {0.05, -0.6, 0.798}};
    for (const Vector3& point : points)
        for (Vector3 normal : normals) {
            const double norm = std::sqrt(Dot(normal, normal));
            normal = {normal.x / norm, normal.y / norm, normal.z / norm};
            std::array<double, 4> hidden{0, 0, 0, 0};
            for (int32_t sector = 0; sector < ShadowSectors; ++sector) {
                const double azimuth = (sector + 0.5) * width;
                const auto part =
                    HiddenLight(shape, point, normal, std::cos(azimuth), std::sin(azimuth), width, 1e9);
                for (size_t q = 0; q < 4; ++q)
                    hidden[q] += part[q];
            }
            for (int32_t q = 0; q < 4; ++q) {
                const double whole = FineIrradiance(point, normal, q, [](const Vector3&) { return true; });
                EXPECT_NEAR(hidden[static_cast<size_t>(q)], whole, 0.01 * std::max(whole, 0.2))
                    << "quadrant " << q << " at " << point.x << ", " << point.y << ", " << point.z
                    << " normal " << normal.x << ", " << normal.y << ", " << normal.z;
            }
        }
}

TEST(Shadows, CylinderCastsAShadowAwayFromEachQuadrantAsFarAsTheGeometrySays) {
    TestFolder folder;
    // A cylinder of 5 mm radius standing 10 mm on a plate 50 mm below the rim of a Dome M, in 0.05 mm
    // map pixels; the camera sees 64 mm in 320 pixels of 0.2 mm.
    const double radius = 5, tall = 10, workingDistance = 50, pixel = 0.2;
    WriteHeightMap(folder / "cylinder.png", 1280, 1280, 0.05, 0.001,
                   [&](double x, double y) { return std::hypot(x, y) < radius ? tall : 0.0; });
    WriteHeightMap(folder / "plate.png", 4, 4, 0.05, 0.001, [](double, double) { return 0.0; });
    const auto shade = [&](const std::string& map) {
        const Json object = {{"heightMap", map}, {"pixelSize", 0.05}};
        const auto station = Station::FromJson(OwnObjectStation(object, 320, 320, 64, workingDistance).dump(),
                                               folder.StationFile());
        RenderRequest request;
        request.scene = station->Camera("Cam A")->scene;
        request.width = request.sensorWidth = 320;
        request.height = request.sensorHeight = 320;
        return ShadeScene(request);
    };
    const auto cylinder = shade("cylinder.png"), plate = shade("plate.png");
    // Looking back along the diagonal toward a quadrant's middle, the dome's rim lies 100 mm + s away
    // and 50 mm up, the cylinder's top s - 5 mm away and 10 mm up: the shadow ends where the two stand
    // equally high, s = (10 x 100 + 50 x 5) / (50 - 10) = 31.25 mm, pixel 31.25 / 0.2 / sqrt 2 - 0.5.
    const double end = (tall * 100 + workingDistance * radius) / (workingDistance - tall);
    const int32_t endPixel = static_cast<int32_t>(std::floor(end / pixel / std::sqrt(2.0) - 0.5));
    // Pixel k from the centre lies (k + 0.5) x 0.2 x sqrt 2 mm out along the diagonal away from a
    // quadrant: column and row steps (rows run toward -y) from quadrant 0 (top left) to 3 (bottom right).
    const int32_t away[4][2] = {{1, 1}, {-1, 1}, {1, -1}, {-1, -1}};
    for (int q = 0; q < 4; ++q) {
        int32_t last = -1, half = -1, expectedHalf = -1;
        double worst = 0;
        for (int32_t k = 0; k < 160; ++k) {
            const int32_t column = away[q][0] > 0 ? 160 + k : 159 - k;
            const int32_t row = away[q][1] > 0 ? 160 + k : 159 - k;
            const double x = (column + 0.5 - 160) * pixel, y = (160 - row - 0.5) * pixel;
            if (std::hypot(x, y) <= radius + pixel)
                continue;
            const size_t i = static_cast<size_t>(row) * 320 + column;
            const Vector3 point{x, y, -workingDistance};
            const double lost = 1 - cylinder[static_cast<size_t>(q)][i] / plate[static_cast<size_t>(q)][i];
            // The geometry: the rays toward the quadrant that enter the cylinder below its top.
            const auto behindCylinder = [&](const Vector3& d) {
                const double across = std::hypot(d.x, d.y), ux = d.x / across, uy = d.y / across;
                const double toAxis = -(point.x * ux + point.y * uy);
                const double miss = std::hypot(point.x + toAxis * ux, point.y + toAxis * uy);
                if (miss >= radius || toAxis <= 0)
                    return false;
                const double enter = toAxis - std::sqrt(radius * radius - miss * miss);
                return point.z + enter * d.z / across < tall - workingDistance;
            };
            const Vector3 up{0, 0, 1};
            const double geometry = FineIrradiance(point, up, q, behindCylinder) /
                                    FineIrradiance(point, up, q, [](const Vector3&) { return true; });
            if (lost > 1e-4)
                last = k;
            if (lost >= 0.5)
                half = k;
            if (geometry >= 0.5)
                expectedHalf = k;
            worst = std::max(worst, std::fabs(lost - geometry));
        }
        std::printf(
            "quadrant %d: shadow ends at pixel %d (geometry: %d), half the light lost out to %d (geometry: "
            "%d), largest difference from the geometry %.3f\n",
            q, last, endPixel, half, expectedHalf, worst);
        EXPECT_GT(endPixel, 60);
        EXPECT_NEAR(last, endPixel, 2) << "quadrant " << q;
        EXPECT_NEAR(half, expectedHalf, 2) << "quadrant " << q;
        EXPECT_LT(worst, 0.085) << "quadrant " << q << ": the soft shadow's light lost, pixel by pixel";
        // Toward the lit quadrant nothing is lost: the cylinder stands behind.
        for (int32_t k = 20; k < 160; k += 10) {
            const int32_t column = away[q][0] > 0 ? 159 - k : 160 + k,
                          row = away[q][1] > 0 ? 159 - k : 160 + k;
            const size_t i = static_cast<size_t>(row) * 320 + column;
            EXPECT_EQ(cylinder[static_cast<size_t>(q)][i], plate[static_cast<size_t>(q)][i])
                << "quadrant " << q;
        }
    }
}

} // namespace zeb::station::test
