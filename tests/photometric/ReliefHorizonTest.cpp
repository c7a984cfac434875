// The horizons of a height map that the rounds of the height recovery take cast shadows from: a
// single post on a flat plate seen along the axes and a diagonal, the relief near a point left to
// its facet, and a dome that shades the plate around it but not its own convex flanks.
#include "ReliefHorizon.h"
#include "HeightRecovery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace zeb::photometric::test {

namespace {

constexpr int32_t Side = 41;
constexpr double Pitch = 0.5; // mm

// A flat plate with a post 5 mm high at column 30, row 20.
std::vector<float> Post() {
    std::vector<float> z(Side * Side, 0.0f);
    z[20 * Side + 30] = 5;
    return z;
}

// The horizon of every point looking along (dirX, dirY) (x right, y toward the top row).
std::vector<float> Horizons(const std::vector<float>& z, double dirX, double dirY, double near) {
    std::vector<float> horizon(z.size(), 123.0f);
    SweepHorizon(z.data(), Side, Side, Pitch, Pitch, dirX, dirY, near, horizon.data(), 1);
    return horizon;
}

float At(const std::vector<float>& horizon, int32_t column, int32_t row) {
    return horizon[static_cast<size_t>(row * Side + column)];
}

} // namespace

TEST(ReliefHorizon, APostRisesToItsHeightOverItsDistanceAndNothingLiesBeyondTheGrid) {
    const std::vector<float> right = Horizons(Post(), 1, 0, 0.1);
    EXPECT_NEAR(At(right, 10, 20), 5 / (20 * Pitch), 1e-5) << "20 columns before the post";
    EXPECT_NEAR(At(right, 29, 20), 5 / Pitch, 1e-4) << "beside it";
    EXPECT_NEAR(At(right, 35, 20), 0, 1e-6) << "past it: the flat plate ahead";
    EXPECT_NEAR(At(right, 10, 5), 0, 1e-6) << "on another line";
    EXPECT_EQ(At(right, 40, 20), NoHorizon) << "at the grid's edge nothing lies ahead";
    // Every point has its horizon written.
    for (float h : right)
        EXPECT_NE(h, 123.0f);

    const std::vector<float> left = Horizons(Post(), -1, 0, 0.1);
    EXPECT_NEAR(At(left, 35, 20), 5 / (5 * Pitch), 1e-5);
    EXPECT_NEAR(At(left, 10, 20), 0, 1e-6);
    EXPECT_EQ(At(left, 0, 20), NoHorizon);

    // Up and to the right (rows run down): from 20 columns left and 20 rows below the post.
    const std::vector<float> diagonal = Horizons(Post(), std::sqrt(0.5), std::sqrt(0.5), 0.1);
    EXPECT_NEAR(At(diagonal, 10, 40), 5 / (20 * Pitch * std::sqrt(2.0)), 1e-4);
    EXPECT_NEAR(At(diagonal, 10, 30), 0, 1e-6) << "a line that misses the post";
}

TEST(ReliefHorizon, TheReliefNearAPointIsLeftToItsFacet) {
    // Within `near` millimetres the post is the facet's business; beyond it the plate is flat.
    EXPECT_NEAR(At(Horizons(Post(), 1, 0, 1.0), 29, 20), 0, 1e-6);
    EXPECT_NEAR(At(Horizons(Post(), 1, 0, 1.0), 28, 20), 5 / (2 * Pitch), 1e-5);
}

TEST(ReliefHorizon, ADomeShadesThePlateAroundItButNotItsOwnFlanks) {
    // A hemisphere of 10 mm radius in the middle of a 60 mm plate of 0.1 mm pixels.
    const int32_t side = 600;
    std::vector<float> heights(static_cast<size_t>(side * side));
    for (int32_t y = 0; y < side; ++y)
        for (int32_t x = 0; x < side; ++x) {
            const double dx = (x - 299.5) * 0.1, dy = (y - 299.5) * 0.1, r2 = dx * dx + dy * dy;
            heights[static_cast<size_t>(y * side + x)] =
                r2 < 100 ? static_cast<float>(std::sqrt(100 - r2)) : 0.0f;
        }
    ReliefHorizons relief;
    relief.Update(heights, side, side, 2, 0.1, 0.1, 0.4);
    float tangent[HorizonSectors];
    // A plate point 5 mm right of the rim: the dome rises toward the left (azimuth 180 degrees)
    // to about asin(10 / 15) of elevation.
    const size_t plate = relief.PointOf(449, 300);
    EXPECT_TRUE(relief.Rises(plate, 0.07f, tangent));
    const float leftward = relief.Horizons(plate)[HorizonSectorOf(-1, 0.01)];
    EXPECT_NEAR(leftward, std::tan(std::asin(10.0 / 15)), 0.03);
    EXPECT_LT(relief.Horizons(plate)[HorizonSectorOf(1, 0.01)], 0.07f) << "nothing rises to the right";
    // The top and the flanks of the dome see nothing above their own tangent planes.
    for (const auto& [x, y] :
         {std::pair{300, 300}, std::pair{380, 300}, std::pair{300, 220}, std::pair{360, 360}})
        EXPECT_FALSE(relief.Rises(relief.PointOf(x, y), 0.07f, tangent)) << x << ", " << y;
    // Far out on the plate the dome still stands above the lowest emitters, and the grid's edge
    // sees nothing to its outside.
    EXPECT_TRUE(relief.Rises(relief.PointOf(20, 20), 0.07f, tangent));
    EXPECT_EQ(relief.Horizons(relief.PointOf(599, 300))[HorizonSectorOf(1, 0.01)], NoHorizon);
}

// The horizons' grid: blocks of about 0.2 mm, grown where a large image of coarse pixels would need
// more points than the memory they take allows; pixel sizes that are no number of millimetres give
// the finest grid the cap allows, never a division by zero.
TEST(ReliefHorizon, TheGridsBlocksAreAFifthOfAMillimetreWithinACapOnItsPoints) {
    EXPECT_EQ(HeightRecovery::ReliefBlockFor(640, 480, 0.1), 2);
    EXPECT_EQ(HeightRecovery::ReliefBlockFor(1280, 1024, 0.1), 2);
    EXPECT_EQ(HeightRecovery::ReliefBlockFor(1280, 1024, 0.05), 4);
    EXPECT_EQ(HeightRecovery::ReliefBlockFor(640, 480, 0.5), 1);
    // 4096 x 4096 pixels of 0.2 mm: 16.8 million points of single pixels; blocks of 6 give 682 x 682.
    EXPECT_EQ(HeightRecovery::ReliefBlockFor(4096, 4096, 0.2), 6);
    EXPECT_EQ(HeightRecovery::ReliefBlockFor(16384, 256, 0.2), 3);
    for (const double pixel : {0.0, -1.0, std::nan(""), 1e-30})
        for (const auto& [width, height] : {std::pair{1, 1}, std::pair{4096, 4096}}) {
            const int32_t block = HeightRecovery::ReliefBlockFor(width, height, pixel);
            EXPECT_GE(block, 1) << pixel;
            EXPECT_LE(static_cast<size_t>(std::max(1, width / block)) * std::max(1, height / block),
                      HeightRecovery::MostReliefPoints)
                << pixel;
        }
}

} // namespace zeb::photometric::test
