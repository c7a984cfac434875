// The sensor's temporal noise: every form of the noise pass gives the same bytes, and the noise of a
// frame or line shares nothing with another frame's or line's at any shift up to 128 pixels, nor
// with itself: the correlation of the noise at every such shift is what chance gives.
//
// The correlations are taken FFT-free on a reduced set of pixels: a block of the first frame against
// the window of the second at every shift, so that each shift costs the block's size.
#include "NoiseKernels.h"
#include "Sensor.h"
#include "StationRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <random>

namespace zeb::station {
// Names the form in the test's name.
void PrintTo(const NoiseForm& form, std::ostream* out) {
    *out << form.name;
}
} // namespace zeb::station

namespace zeb::station::test {

namespace {

// A deviation table like the sensor's: sqrt(a * grey + b), 0 at 255, at most `largest`.
NoiseScale ScaleUpTo(double largest) {
    std::array<double, 256> deviations{};
    for (size_t grey = 0; grey < 255; ++grey)
        deviations[grey] = largest * std::sqrt((static_cast<double>(grey) + 5) / 259);
    return NoiseScale::From(deviations);
}

} // namespace

class NoiseForms : public ::testing::TestWithParam<NoiseForm> {};

TEST_P(NoiseForms, GiveTheReferenceBytesForEveryLengthAndKey) {
    const NoiseForm reference = zeb::station::NoiseForms().front();
    const NoiseForm form = GetParam();
    std::mt19937 random(3);
    std::vector<uint8_t> clean(5000);
    for (uint8_t& pixel : clean)
        pixel = static_cast<uint8_t>(random());
    // Every grey value, the clipped ends included, in the first vector's reach.
    for (size_t grey = 0; grey < 256; ++grey)
        clean[grey] = static_cast<uint8_t>(grey);
    for (const double largest : {0.2, 2.5, 60.0}) {
        const NoiseScale scale = ScaleUpTo(largest);
        std::vector<uint8_t> codes(clean.size());
        for (size_t i = 0; i < clean.size(); ++i)
            codes[i] = scale.codes[clean[i]];
        for (const uint64_t exposure : {0ull, 1ull, 123456789ull}) {
            const NoiseKey key = NoiseKey::Of(9, exposure);
            for (const size_t count : {size_t{0}, size_t{1}, size_t{3}, size_t{31}, size_t{32}, size_t{33},
                                       size_t{63}, size_t{64}, size_t{65}, size_t{200}, clean.size()}) {
                SCOPED_TRACE("largest deviation " + std::to_string(largest) + ", exposure " +
                             std::to_string(exposure) + ", " + std::to_string(count) + " pixels");
                std::vector<uint8_t> expected(count + 1, 77), actual(count + 1, 77);
                reference.apply(clean.data(), codes.data(), expected.data(), count, key, scale);
                form.apply(clean.data(), codes.data(), actual.data(), count, key, scale);
                ASSERT_EQ(actual, expected) << "nothing written past the end either";
                // In place, as a line camera exposes its row.
                std::vector<uint8_t> row(clean.begin(), clean.begin() + static_cast<ptrdiff_t>(count));
                form.apply(row.data(), codes.data(), row.data(), count, key, scale);
                ASSERT_TRUE(std::equal(row.begin(), row.end(), expected.begin()));
            }
        }
    }
}

// Scales whose largest noise is just inside and just outside a signed byte (127 and 128 grey levels,
// -127 and -128 below), where the vector forms change how they add it: every code the same, so that
// every pixel whose bits give the extreme deviates reaches them, and clean values on both sides of
// the middle so that no clipping hides a wrong sign.
TEST_P(NoiseForms, GiveTheReferenceBytesWhereTheNoiseJustFitsAByteAndWhereNot) {
    const NoiseForm reference = zeb::station::NoiseForms().front();
    const NoiseForm form = GetParam();
    std::mt19937 random(5);
    std::vector<uint8_t> clean(4096);
    for (uint8_t& pixel : clean)
        pixel = static_cast<uint8_t>(64 + random() % 128);
    // noise = (code x deviate x rounding + 2^14) >> 15 for the deviates +-126: at rounding 256, code
    // 129 gives 127 and -127, code 130 gives 128 and -128; at rounding 512, code 64 gives 126, 65 gives 128.
    for (const auto& [rounding, code] :
         {std::pair<int16_t, uint8_t>{256, 129}, {256, 130}, {512, 64}, {512, 65}}) {
        SCOPED_TRACE("rounding " + std::to_string(rounding) + ", code " + std::to_string(code));
        NoiseScale scale;
        scale.rounding = rounding;
        scale.codes.fill(code);
        const std::vector<uint8_t> codes(clean.size(), code);
        std::vector<uint8_t> expected(clean.size()), actual(clean.size());
        reference.apply(clean.data(), codes.data(), expected.data(), clean.size(), NoiseKey::Of(4, 2), scale);
        form.apply(clean.data(), codes.data(), actual.data(), clean.size(), NoiseKey::Of(4, 2), scale);
        ASSERT_EQ(actual, expected);
        const auto [darkest, brightest] = std::minmax_element(expected.begin(), expected.end());
        EXPECT_TRUE(*darkest == 0 && *brightest == 255) << "the extreme noise reached both ends";
    }
}

// The form's own lookup of the codes gives the scale's table for every length, writing nothing past it.
TEST_P(NoiseForms, LookTheCodesUpAsTheScalesTable) {
    const NoiseForm form = GetParam();
    if (!form.lookUpCodes)
        GTEST_SKIP() << form.name << " reads no codes";
    const NoiseScale scale = ScaleUpTo(60);
    std::vector<uint8_t> clean(1000);
    for (size_t i = 0; i < clean.size(); ++i)
        clean[i] = static_cast<uint8_t>(i * 37 + i / 256);
    for (const size_t count :
         {size_t{0}, size_t{1}, size_t{63}, size_t{64}, size_t{65}, size_t{256}, clean.size()}) {
        std::vector<uint8_t> codes(count + 1, 77);
        form.lookUpCodes(clean.data(), codes.data(), count, scale);
        for (size_t i = 0; i < count; ++i)
            ASSERT_EQ(codes[i], scale.codes[clean[i]]) << "pixel " << i << " of " << count;
        EXPECT_EQ(codes[count], 77) << count << " pixels";
    }
}

// Through the sensor: frames of more images than it keeps deviation planes for, an evicted image
// again and a cached one, an image after the gain changed, and lines in place.
TEST_P(NoiseForms, GiveTheSensorsFramesAndLinesOfThePlainForm) {
    std::mt19937 random(11);
    std::vector<Image> images;
    for (int i = 0; i < 10; ++i) {
        std::vector<uint8_t> pixels(4099);
        for (uint8_t& pixel : pixels)
            pixel = static_cast<uint8_t>(random());
        images.push_back(std::make_shared<const std::vector<uint8_t>>(std::move(pixels)));
    }
    const auto expose = [&](const NoiseForm& form) {
        SensorNoise sensor;
        sensor.UseForm(form);
        sensor.Configure(SensorSettings{.seed = 7}, 6);
        std::vector<uint8_t> exposed;
        const auto frame = [&](size_t index) {
            std::vector<uint8_t> out(images[index]->size());
            sensor.ExposeFrame(images[index], out.data());
            exposed.insert(exposed.end(), out.begin(), out.end());
        };
        for (const size_t index : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 9, 3})
            frame(index);
        sensor.Configure(SensorSettings{.seed = 7}, 12);
        frame(9);
        for (const size_t index : {2, 5}) {
            std::vector<uint8_t> row(images[index]->begin(), images[index]->begin() + 1333);
            sensor.ExposeLine(row.data(), row.size());
            exposed.insert(exposed.end(), row.begin(), row.end());
        }
        return exposed;
    };
    const std::vector<uint8_t> exposed = expose(GetParam());
    EXPECT_EQ(exposed, expose(zeb::station::NoiseForms().front()));
    EXPECT_FALSE(std::equal(images[0]->begin(), images[0]->end(), exposed.begin())) << "noise was added";
}

INSTANTIATE_TEST_SUITE_P(OnThisProcessor, NoiseForms, ::testing::ValuesIn(zeb::station::NoiseForms()),
                         [](const ::testing::TestParamInfo<NoiseForm>& form) {
                             std::string name = form.param.name;
                             name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                             return name;
                         });

namespace {

// The noise of a frame: noisy minus noiseless, row by row.
struct NoisePlane {
    int32_t width = 0, height = 0;
    std::vector<int16_t> values;
    int16_t At(int32_t x, int32_t y) const {
        return values[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
    }
};

NoisePlane NoiseOf(const std::vector<uint8_t>& noisy, const std::vector<uint8_t>& clean, int32_t width) {
    NoisePlane plane{width, static_cast<int32_t>(clean.size() / static_cast<size_t>(width)), {}};
    for (size_t i = 0; i < clean.size(); ++i)
        plane.values.push_back(static_cast<int16_t>(noisy[i] - clean[i]));
    return plane;
}

// Correlations in units of their chance spread: r * sqrt(samples), for a pair of noise samples that
// share nothing about normally distributed with unit variance.
struct Correlations {
    double largest = 0;       // the largest magnitude
    double meanSquare = 0;    // about 1 when only chance correlates them
    int32_t atX = 0, atY = 0; // where the largest is
    size_t shifts = 0;

    void Add(int64_t products, int64_t squaresA, int64_t squaresB, double samples, int32_t x, int32_t y) {
        const double r = static_cast<double>(products) /
                         std::sqrt(static_cast<double>(squaresA) * static_cast<double>(squaresB));
        const double normalised = r * std::sqrt(samples);
        meanSquare += (normalised * normalised - meanSquare) / static_cast<double>(++shifts);
        if (std::fabs(normalised) > largest) {
            largest = std::fabs(normalised);
            atX = x;
            atY = y;
        }
    }
};

constexpr int32_t MaxShift = 128;

// A block of `a` (64 x 16 pixels, so that every shift stays inside `b`) against `b` at every shift
// of up to MaxShift rows and columns; `sameFrame` leaves out the shift 0, 0.
Correlations CorrelateAtEveryShift(const NoisePlane& a, const NoisePlane& b, bool sameFrame) {
    constexpr int32_t BlockWidth = 64, BlockHeight = 16;
    const int32_t left = (a.width - BlockWidth) / 2, top = (a.height - BlockHeight) / 2;
    EXPECT_GE(left, MaxShift);
    EXPECT_GE(top, MaxShift);
    int64_t squaresA = 0;
    for (int32_t y = top; y < top + BlockHeight; ++y)
        for (int32_t x = left; x < left + BlockWidth; ++x)
            squaresA += a.At(x, y) * a.At(x, y);
    Correlations correlations;
    for (int32_t dy = -MaxShift; dy <= MaxShift; ++dy)
        for (int32_t dx = -MaxShift; dx <= MaxShift; ++dx) {
            if (sameFrame && dx == 0 && dy == 0)
                continue;
            int64_t products = 0, squaresB = 0;
            for (int32_t y = top; y < top + BlockHeight; ++y) {
                const int16_t* rowA = &a.values[static_cast<size_t>(y * a.width + left)];
                const int16_t* rowB = &b.values[static_cast<size_t>((y + dy) * b.width + left + dx)];
                int32_t rowProducts = 0, rowSquares = 0;
                for (int32_t x = 0; x < BlockWidth; ++x) {
                    rowProducts += rowA[x] * rowB[x];
                    rowSquares += rowB[x] * rowB[x];
                }
                products += rowProducts;
                squaresB += rowSquares;
            }
            correlations.Add(products, squaresA, squaresB, BlockWidth * BlockHeight, dx, dy);
        }
    return correlations;
}

// What chance allows for the tens of thousands of shifts compared: the largest of them under 6
// spreads (a chance of about 1 in 10,000 to be exceeded), their mean square near 1.
void ExpectChance(const Correlations& c, const std::string& what) {
    std::printf("%s: largest correlation %.2f chance spreads (at %d, %d), mean square %.3f over %zu shifts\n",
                what.c_str(), c.largest, c.atX, c.atY, c.meanSquare, c.shifts);
    EXPECT_LT(c.largest, 6.0) << what << ": shared noise at shift " << c.atX << ", " << c.atY;
    EXPECT_NEAR(c.meanSquare, 1.0, 0.1) << what;
}

} // namespace

TEST(SensorNoise, FramesShareNoNoiseAtAnyShift) {
    constexpr int32_t Width = 336, Height = 288;
    const auto sets = [&](const Json& sensor, int count) {
        StationRig rig(zeb::test::AreaSceneStation("card", Width, Height, sensor));
        rig.StartArea("Cam A");
        std::vector<Shot> shots;
        for (int set = 0; set < count; ++set)
            shots.push_back(rig.ImageSet("Cam A"));
        return shots;
    };
    const std::vector<Shot> noisy = sets({{"seed", 5}}, 2);
    const Shot clean = sets({{"noise", 0}}, 1)[0];
    auto noise = [&](size_t set, size_t direction) {
        return NoiseOf(noisy[set].frames[direction], clean.frames[direction], Width);
    };
    // The last frame of one image set and the first of the next; two directions of one set; a
    // frame and itself, pixel against pixel.
    ExpectChance(CorrelateAtEveryShift(noise(0, 3), noise(1, 0), false),
                 "set 1 direction 3, set 2 direction 0");
    ExpectChance(CorrelateAtEveryShift(noise(0, 0), noise(0, 1), false), "set 1 directions 0 and 1");
    ExpectChance(CorrelateAtEveryShift(noise(1, 2), noise(1, 2), true), "set 2 direction 2 with itself");
}

TEST(SensorNoise, LinesOfALineFrameShareNoNoiseAtAnyShift) {
    // 64 rows of 512 pixels: each line's middle 128 pixels against every other line at every shift
    // of up to 128 pixels, and against itself at every shift but 0.
    constexpr int32_t Width = 512, Lines = 16, Probe = 128;
    const auto frame = [&](const Json& sensor) {
        Json station = zeb::test::LineStation();
        zeb::test::SizeCamera(station["cameras"][0], Width);
        station["cameras"][0]["scene"] = {{"object", "card"}};
        station["cameras"][0]["sensor"] = sensor;
        StationRig rig(station);
        rig.StartLine("Line A", Lines);
        rig.EncoderClocked(10000);
        return rig.LineFrame("Line A", 0.05);
    };
    const Shot noisy = frame({{"seed", 5}}), clean = frame({{"noise", 0}});
    ASSERT_EQ(noisy.height, 4 * Lines);
    ASSERT_EQ(clean.height, 4 * Lines);
    const NoisePlane noise = NoiseOf(noisy.frames[0], clean.frames[0], Width);
    const int32_t left = (Width - Probe) / 2;
    Correlations correlations;
    for (int32_t a = 0; a < noise.height; ++a) {
        const int16_t* probe = &noise.values[static_cast<size_t>(a * Width + left)];
        int64_t squaresA = 0;
        for (int32_t x = 0; x < Probe; ++x)
            squaresA += probe[x] * probe[x];
        for (int32_t b = 0; b < noise.height; ++b)
            for (int32_t shift = -MaxShift; shift <= MaxShift; ++shift) {
                if (a == b && shift == 0)
                    continue;
                const int16_t* other = &noise.values[static_cast<size_t>(b * Width + left + shift)];
                int32_t products = 0, squaresB = 0;
                for (int32_t x = 0; x < Probe; ++x) {
                    products += probe[x] * other[x];
                    squaresB += other[x] * other[x];
                }
                correlations.Add(products, squaresA, squaresB, Probe, shift, b - a);
            }
    }
    // Over a million comparisons the largest chance correlation is larger: 6.5 spreads leaves about
    // 1 in 10 million per comparison.
    std::printf(
        "lines: largest correlation %.2f chance spreads (shift %d, %d lines apart), mean square %.3f over "
        "%zu comparisons\n",
        correlations.largest, correlations.atX, correlations.atY, correlations.meanSquare,
        correlations.shifts);
    EXPECT_LT(correlations.largest, 6.5)
        << "shared noise at shift " << correlations.atX << ", " << correlations.atY << " lines apart";
    EXPECT_NEAR(correlations.meanSquare, 1.0, 0.1);
}

} // namespace zeb::station::test
