// The station's images against the physics it documents: photometric stereo with the documented
// dome geometry recovers the targets' shapes, the sensor's noise follows its model, and a line
// camera samples an object moving under it at the transport's speed.
#include "StationRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace zeb::station::test {

namespace {

struct Vec {
    double x = 0, y = 0, z = 0;
};
double Dot(const Vec& a, const Vec& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

// The dome as docs/optics.md documents it: a hemisphere of radius R glowing evenly (Lambertian) from
// its rim up to the camera's opening of 0.15 R, quadrant q spanning the azimuths 90 degrees wide
// around 135, 45, 225, 315. What each small emitter gives a point p: cos(emitter) dA d / |d|^3,
// the direction toward it scaled by its irradiance on a surface facing it.
std::array<std::vector<Vec>, 4> Emitters(double radius, const Vec& p) {
    const double centre[4] = {135, 45, 225, 315};
    const int steps = 30;
    const double top = std::asin(0.15), polarStep = (std::numbers::pi / 2 - top) / steps,
                 azimuthStep = (std::numbers::pi / 2) / steps;
    std::array<std::vector<Vec>, 4> emitters;
    for (int q = 0; q < 4; ++q)
        for (int i = 0; i < steps; ++i)
            for (int j = 0; j < steps; ++j) {
                const double polar = top + (i + 0.5) * polarStep;
                const double azimuth =
                    centre[q] * std::numbers::pi / 180 - std::numbers::pi / 4 + (j + 0.5) * azimuthStep;
                const Vec s{radius * std::sin(polar) * std::cos(azimuth),
                            radius * std::sin(polar) * std::sin(azimuth), radius * std::cos(polar)};
                const Vec d{s.x - p.x, s.y - p.y, s.z - p.z};
                const double distance = std::sqrt(Dot(d, d));
                const double emitted = (radius * radius - Dot(s, p)) / (radius * distance);
                const double weight = emitted * radius * radius * std::sin(polar) * polarStep * azimuthStep /
                                      (distance * distance * distance);
                emitters[static_cast<size_t>(q)].push_back({weight * d.x, weight * d.y, weight * d.z});
            }
    return emitters;
}

// The light of a quadrant on a facet with normal n: the emitters above the facet's horizon.
Vec QuadrantLight(const std::vector<Vec>& emitters, const Vec& n) {
    Vec sum;
    for (const Vec& e : emitters)
        if (Dot(e, n) > 0)
            sum = {sum.x + e.x, sum.y + e.y, sum.z + e.z};
    return sum;
}

// Woodham's photometric stereo at one pixel: the least-squares g with I_k = g . L_k; the normal
// is g / |g|.
Vec SolveNormal(const std::array<Vec, 4>& light, const std::array<double, 4>& intensity) {
    double a[3][3] = {}, b[3] = {};
    for (size_t k = 0; k < 4; ++k) {
        const double l[3] = {light[k].x, light[k].y, light[k].z};
        for (int r = 0; r < 3; ++r) {
            b[r] += l[r] * intensity[k];
            for (int c = 0; c < 3; ++c)
                a[r][c] += l[r] * l[c];
        }
    }
    auto det = [](const double m[3][3]) {
        return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
               m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
               m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    };
    const double whole = det(a);
    if (!(std::fabs(whole) > 1e-12))
        return {0, 0, 0}; // fewer than three quadrants reach the facet
    double g[3];
    for (int column = 0; column < 3; ++column) {
        double m[3][3];
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                m[r][c] = c == column ? b[r] : a[r][c];
        g[column] = det(m) / whole;
    }
    const double norm = std::sqrt(g[0] * g[0] + g[1] * g[1] + g[2] * g[2]);
    return {g[0] / norm, g[1] / norm, g[2] / norm};
}

double AngleDegrees(const Vec& a, const Vec& b) {
    return std::acos(std::clamp(Dot(a, b), -1.0, 1.0)) * 180 / std::numbers::pi;
}

// The diagonal sequence on an unturned dome lights quadrants 1, 0, 2, 3 in its four steps.
constexpr int QuadrantOfStep[4] = {1, 0, 2, 3};

struct NormalErrors {
    double mean = 0;
    double largest = 0;
    size_t pixels = 0;
};

// Photometric stereo over the pixels `inside` selects, against the true normals `truth` gives;
// both take the point on the object plane in millimetres. The field of view is the documented
// default, 64 mm across; the object plane lies 10 mm below the rim of the 100 mm dome.
template <typename Inside, typename Surface>
NormalErrors Recover(const Shot& shot, double darkOffset, Inside inside, Surface surface,
                     int iterations = 6) {
    const double pixel = 64.0 / shot.width;
    NormalErrors errors;
    for (int32_t row = 0; row < shot.height; ++row)
        for (int32_t column = 0; column < shot.width; ++column) {
            const double x = (column + 0.5 - shot.width / 2.0) * pixel;
            const double y = (shot.height / 2.0 - row - 0.5) * pixel;
            if (!inside(x, y))
                continue;
            Vec normal;
            double height = 0;
            surface(x, y, normal, height);
            const Vec point{x, y, -10 + height};
            const auto emitters = Emitters(100, point);
            std::array<double, 4> intensity;
            for (size_t k = 0; k < 4; ++k)
                intensity[k] = shot.At(k, column, row) - darkOffset;
            // Each quadrant lights a facet with the emitters above its horizon: solve, take the
            // light above the horizon of the normal found, and solve again until it settles.
            Vec estimate{0, 0, 1};
            for (int iteration = 0; iteration < iterations; ++iteration) {
                std::array<Vec, 4> light;
                for (size_t k = 0; k < 4; ++k)
                    light[k] = QuadrantLight(emitters[static_cast<size_t>(QuadrantOfStep[k])], estimate);
                const Vec solved = SolveNormal(light, intensity);
                if (solved.z > 0)
                    estimate = solved;
            }
            const double error = AngleDegrees(estimate, normal);
            errors.mean += error;
            errors.largest = std::max(errors.largest, error);
            ++errors.pixels;
        }
    errors.mean /= static_cast<double>(std::max<size_t>(1, errors.pixels));
    return errors;
}

// Every tenth pixel in each direction: enough pixels, and the test stays fast.
bool Sampled(double x, double y, double pixel) {
    return std::lround(x / pixel - 0.5) % 5 == 0 && std::lround(y / pixel - 0.5) % 5 == 0;
}

} // namespace

TEST(Optics, PhotometricStereoRecoversTheHemisphereAndTheCard) {
    const Json defaultSensor = Json::object(); // noise, dark offset 2 and all
    const double pixel = 64.0 / 160;
    // The hemisphere: 20 mm radius on the object plane; its cap up to 60 degrees of tilt.
    StationRig sphere(zeb::test::AreaSceneStation("sphere", 160, 128, defaultSensor));
    sphere.StartArea("Cam A");
    const Shot sphereShot = sphere.ImageSet("Cam A");
    ASSERT_EQ(sphereShot.frames.size(), 4u);
    const auto onCap = [](double x, double y) {
        return std::hypot(x, y) <= 20 * std::sin(std::numbers::pi / 3);
    };
    const auto hemisphere = [](double x, double y, Vec& normal, double& height) {
        height = std::sqrt(std::max(0.0, 400 - x * x - y * y));
        normal = {x / 20, y / 20, height / 20};
    };
    // Classic least squares with each quadrant's whole light, then with the light above the facet's
    // horizon: an extended quadrant still lights a facet turned partly away from it.
    const NormalErrors classic = Recover(sphereShot, 2, onCap, hemisphere, 1);
    const NormalErrors cap = Recover(sphereShot, 2, onCap, hemisphere);
    std::printf(
        "hemisphere cap: mean normal error %.2f degrees (largest %.2f) over %zu pixels; %.2f with the whole "
        "quadrants' light\n",
        cap.mean, cap.largest, cap.pixels, classic.mean);
    EXPECT_GT(cap.pixels, 4000u);
    EXPECT_LT(cap.mean, 3.0);
    EXPECT_GT(classic.mean, 2 * cap.mean) << "facets turned away from a quadrant lose part of its light";

    // The card: flat and uniform; its four directions differ by the dome's geometry alone.
    StationRig card(zeb::test::AreaSceneStation("card", 160, 128, defaultSensor));
    card.StartArea("Cam A");
    const Shot cardShot = card.ImageSet("Cam A");
    ASSERT_EQ(cardShot.frames.size(), 4u);
    const NormalErrors flat = Recover(
        cardShot, 2, [&](double x, double y) { return Sampled(x, y, pixel); },
        [](double, double, Vec& normal, double& height) {
            normal = {0, 0, 1};
            height = 0;
        });
    std::printf("card: mean normal error %.2f degrees (largest %.2f) over %zu pixels\n", flat.mean,
                flat.largest, flat.pixels);
    EXPECT_GT(flat.pixels, 700u);
    EXPECT_LT(flat.mean, 2.0);
}

TEST(Optics, CardDirectionsDifferByTheDomeGeometry) {
    StationRig card(zeb::test::AreaSceneStation("card", 64, 48, zeb::test::ExactSensor()));
    card.StartArea("Cam A");
    const Shot shot = card.ImageSet("Cam A");
    ASSERT_EQ(shot.frames.size(), 4u);
    // Each direction is brightest toward its own quadrant (1 top-right, 0 top-left, 2 bottom-left,
    // 3 bottom-right) and the light falls off away from it, in both axes.
    const int32_t right = 63, bottom = 47;
    const int32_t corners[4][2] = {{right, 0}, {0, 0}, {0, bottom}, {right, bottom}};
    for (size_t k = 0; k < 4; ++k) {
        const uint8_t near = shot.At(k, corners[k][0], corners[k][1]);
        const uint8_t far = shot.At(k, right - corners[k][0], bottom - corners[k][1]);
        EXPECT_GT(near, far * 1.3) << "direction " << k;
        EXPECT_GT(shot.At(k, corners[k][0], bottom - corners[k][1]), far) << "direction " << k;
        EXPECT_GT(shot.At(k, right - corners[k][0], corners[k][1]), far) << "direction " << k;
    }
}

namespace {

struct PairFigures {
    double mean = 0, expectedMean = 0;         // grey levels above the dark offset
    double variance = 0, expectedVariance = 0; // grey levels squared
};

// Two image sets of the card under the same light, and the noiseless set of the same station: the
// mean of the pair against the noiseless mean, half the variance of their difference against the
// documented model: K * S + (K * readNoise)^2 + 1/12 for the rounding, K = 10^(gain/20) / 40.
PairFigures FlatFieldPair(double gainDecibels, const std::string& exposure) {
    const auto take = [&](const Json& sensor, int sets) {
        StationRig rig(zeb::test::AreaSceneStation("card", 320, 240, sensor));
        rig.StartArea("Cam A", exposure);
        rig.SetCamera("Cam A", "Gain", std::to_string(gainDecibels));
        std::vector<Shot> shots;
        for (int set = 0; set < sets; ++set)
            shots.push_back(rig.ImageSet("Cam A"));
        return shots;
    };
    const std::vector<Shot> noisy = take({{"seed", 7}}, 2);
    const std::vector<Shot> clean = take({{"noise", 0}}, 1);
    const double perElectron = std::pow(10.0, gainDecibels / 20) / 40, read = perElectron * 7, dark = 2;
    PairFigures figures;
    double pixels = 0;
    for (size_t k = 0; k < 4; ++k)
        for (size_t i = 0; i < clean[0].frames[k].size(); ++i) {
            const double a = noisy[0].frames[k][i], b = noisy[1].frames[k][i], c = clean[0].frames[k][i];
            figures.mean += (a + b) / 2 - dark;
            figures.expectedMean += c - dark;
            figures.variance += (a - b) * (a - b) / 2;
            figures.expectedVariance += perElectron * (c - dark) + read * read + 1.0 / 12;
            ++pixels;
        }
    figures.mean /= pixels;
    figures.expectedMean /= pixels;
    figures.variance /= pixels;
    figures.expectedVariance /= pixels;
    return figures;
}

} // namespace

TEST(Optics, FlatFieldPairFollowsTheNoiseModel) {
    for (const auto& [gain, exposure] : {std::pair<double, std::string>{0, "50"}, {6, "25"}}) {
        SCOPED_TRACE("gain " + std::to_string(gain));
        const PairFigures f = FlatFieldPair(gain, exposure);
        std::printf("flat-field pair at %.0f dB: mean %.2f (noiseless %.2f), variance %.3f (model %.3f)\n",
                    gain, f.mean, f.expectedMean, f.variance, f.expectedVariance);
        EXPECT_NEAR(f.mean, f.expectedMean, 0.005 * f.expectedMean);
        EXPECT_NEAR(f.variance, f.expectedVariance, 0.02 * f.expectedVariance);
    }
}

TEST(Optics, NoiseIsFreshInEveryFrameAndFollowsTheSeed) {
    const auto twoSets = [](const Json& sensor) {
        StationRig rig(zeb::test::AreaSceneStation("card", 64, 48, sensor));
        rig.StartArea("Cam A");
        return std::make_pair(rig.ImageSet("Cam A"), rig.ImageSet("Cam A"));
    };
    const auto [first, second] = twoSets({{"seed", 11}});
    EXPECT_NE(first.frames, second.frames) << "consecutive image sets differ";
    EXPECT_NE(first.frames[0], first.frames[1]);
    const auto [again, againSecond] = twoSets({{"seed", 11}});
    EXPECT_EQ(first.frames, again.frames) << "the same seed gives the same frames";
    EXPECT_EQ(second.frames, againSecond.frames);
    EXPECT_NE(first.frames, twoSets({{"seed", 12}}).first.frames);
    const auto [exact, exactSecond] = twoSets({{"noise", 0}});
    EXPECT_EQ(exact.frames, exactSecond.frames) << "without noise every set is the same";
}

TEST(Optics, ExtendedQuadrantsLeaveNoPixelOfThePartDark) {
    // The plug-in's default light: diagonal, brightness 200, 50 us; a sensor without dark offset or
    // noise, so that only the light keeps a pixel above 0.
    StationRig part(zeb::test::AreaSceneStation("part", 640, 512, zeb::test::ExactSensor()));
    part.StartArea("Cam A");
    const Shot shot = part.ImageSet("Cam A");
    ASSERT_EQ(shot.frames.size(), 4u);
    for (size_t k = 0; k < 4; ++k) {
        const auto& pixels = shot.frames[k];
        EXPECT_EQ(std::count(pixels.begin(), pixels.end(), uint8_t{0}), 0) << "direction " << k;
        // What the brightness assistant accepts as well exposed: under 0.1 % of the pixels clipped.
        EXPECT_LT(std::count(pixels.begin(), pixels.end(), uint8_t{255}),
                  static_cast<long>(pixels.size() / 1000))
            << "direction " << k;
        std::printf("part, direction %zu: darkest %d, brightest %d\n", k,
                    *std::min_element(pixels.begin(), pixels.end()),
                    *std::max_element(pixels.begin(), pixels.end()));
    }
}

namespace {

// A line camera 128 pixels across 102.4 mm over a transport at 250 mm/s: driven by the encoder (2
// revolutions per second, 125 mm each) or, with no encoder, at its own speed.
Json LineRig(const std::string& object, bool encoder) {
    Json station = zeb::test::LineStation();
    Json& controller = station["controllers"][0];
    controller["domeRotation"] = 0;
    controller["transport"] = {{"mmPerRevolution", 125}, {"speed", 250}};
    if (!encoder)
        controller["encoder"] = {{"connected", false}};
    station["cameras"][0]["scene"] = {{"object", object}};
    return station;
}

// The longest run of object lines whose centre pixel, summed over the four directions, is brighter
// than halfway between the background and the brightest line: the sphere's length in lines.
int32_t SphereLines(const Shot& shot) {
    std::vector<int32_t> sums;
    for (int32_t line = 0; line + 3 < shot.height; line += 4) {
        int32_t sum = 0;
        for (int32_t k = 0; k < 4; ++k)
            sum += shot.At(0, shot.width / 2, line + k);
        sums.push_back(sum);
    }
    const int32_t threshold = (sums.front() + *std::max_element(sums.begin(), sums.end())) / 2;
    int32_t longest = 0, run = 0;
    for (int32_t sum : sums) {
        run = sum > threshold ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

} // namespace

TEST(Optics, LineScanObjectLengthFollowsTheLineRateAndTheEncoder) {
    // 50 mm of transport: from the gap before a sphere to the gap after it. Free running at 5 and
    // 10 kHz, then clocked by the encoder at 5000 and 10000 quarter increments per revolution.
    double millimetresPerLine[4];
    int32_t lengths[4];
    for (int i = 0; i < 4; ++i) {
        const bool encoder = i >= 2;
        const int32_t clock = i % 2 == 0 ? 5000 : 10000;
        // Four rows, one per direction, make a line; the encoder takes one step per quarter increment.
        const double perLine = encoder ? 4 * 125.0 / clock : 4 * 250.0 / clock;
        const int32_t lines = static_cast<int32_t>(50 / perLine);
        StationRig rig(LineRig("sphere", encoder));
        rig.StartLine("Line A", lines);
        if (encoder)
            rig.EncoderClocked(clock);
        else
            rig.FreeRunning(clock);
        const Shot shot = rig.LineFrame("Line A", encoder ? 0.21 : 4.0 * lines / clock + 0.01);
        ASSERT_EQ(shot.height, 4 * lines);
        lengths[i] = SphereLines(shot);
        millimetresPerLine[i] = perLine;
    }
    std::printf("sphere length in lines: %d at 5 kHz, %d at 10 kHz, %d at 5000 and %d at 10000 increments\n",
                lengths[0], lengths[1], lengths[2], lengths[3]);
    EXPECT_NEAR(lengths[1], 2.0 * lengths[0], 0.03 * lengths[1])
        << "twice the line rate, half the object per line";
    EXPECT_NEAR(lengths[3], 2.0 * lengths[2], 0.03 * lengths[3]);
    // The same object in millimetres whichever clock samples it, and about its 40 mm diameter.
    for (int i = 0; i < 4; ++i) {
        const double millimetres = lengths[i] * millimetresPerLine[i];
        EXPECT_NEAR(millimetres, lengths[0] * millimetresPerLine[0], 0.03 * millimetres) << i;
        EXPECT_GT(millimetres, 30);
        EXPECT_LT(millimetres, 41);
    }
}

TEST(Optics, LineScanDirectionsAreTakenAtSuccessivePositions) {
    // The same quadrant in every step: the four rows of an object line differ only by where the
    // transport had carried the sphere when each was taken.
    StationRig rig(LineRig("sphere", false));
    rig.StartLine("Line A", 50);
    rig.Set("Sequencer.LightSequence", "02020202");
    rig.FreeRunning(1000); // 0.25 mm per row
    const Shot shot = rig.LineFrame("Line A", 0.21);
    ASSERT_EQ(shot.height, 200);
    int32_t changing = 0, lit = 0;
    for (int32_t line = 0; line < 200; line += 4) {
        const int32_t first = shot.At(0, 64, line), last = shot.At(0, 64, line + 3);
        lit += first > 60;
        changing += first > 60 && first != last;
    }
    EXPECT_GT(lit, 20);
    EXPECT_GT(changing, lit / 2);
}

TEST(Optics, LineScanFallOffRunsAcrossTheLineOnly) {
    StationRig rig(LineRig("card", true));
    rig.StartLine("Line A", 40);
    rig.EncoderClocked(10000);
    const Shot first = rig.LineFrame("Line A", 0.05);
    const Shot second = rig.LineFrame("Line A", 0.05);
    ASSERT_EQ(first.height, 160);
    ASSERT_EQ(second.height, 160);
    for (int32_t k = 0; k < 4; ++k) {
        SCOPED_TRACE("direction " + std::to_string(k));
        for (int32_t x = 0; x < 128; x += 9) {
            // Along the transport the sheet stays as it is, in this frame and the next.
            for (int32_t line = k; line < 160; line += 4) {
                ASSERT_NEAR(first.At(0, x, line), first.At(0, x, k), 1) << "column " << x << ", row " << line;
                ASSERT_NEAR(second.At(0, x, line), first.At(0, x, k), 1)
                    << "column " << x << ", row " << line;
            }
        }
        // Across the line the light falls off away from the lit quadrant's side: steps 0 and 3 are
        // lit from the right, 1 and 2 from the left.
        const bool fromRight = k == 0 || k == 3;
        const int32_t left = first.At(0, 2, k), right = first.At(0, 125, k);
        EXPECT_GT(fromRight ? right : left, (fromRight ? left : right) * 1.3);
    }
}

} // namespace zeb::station::test
