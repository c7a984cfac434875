// Where quiet numerical faults hide in the surface: directions clipped at 255 or at the dark level
// in one, two, three and four of the steps, in every position; NaN and infinities in every value
// that takes floating point (the lighting model, the options, the sphere's settings and place, the
// calibration's figures); images of one pixel, one row or column, and very wide ones.
#include "CalibrationFile.h"
#include "LightVolume.h"
#include "SphereCalibration.h"
#include "StationShots.h"
#include "SurfaceImages.h"
#include "SurfaceSolver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

namespace zeb::photometric::test {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Infinity = std::numeric_limits<double>::infinity();

// The reason an action is refused, or "accepted".
template <typename Error = std::invalid_argument> std::string Refusal(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& error) {
        return error.what();
    }
    return "accepted";
}

SurfaceOptions RecoveringHeights() {
    SurfaceOptions options;
    options.recoverHeight = true;
    return options;
}

} // namespace

TEST(NumericalEdges, ClippedAndDarkDirectionsInEveryPositionAndCount) {
    // A grey card of albedo 0.5, 128 x 8 pixels; each case changes the directions of one pixel of
    // row 4 (every second column): a direction clipped (255), one at the dark level (2), or kept.
    constexpr int Keep = -1, Clip = 255, Dark = 2;
    struct Case {
        std::array<int, 4> grey;
        PixelStatus status;
    };
    std::vector<Case> cases;
    for (size_t k = 0; k < 4; ++k)
        for (int value : {Clip, Dark}) {
            Case one{{Keep, Keep, Keep, Keep}, PixelStatus::Reliable};
            one.grey[k] = value; // three usable directions remain
            cases.push_back(one);
            Case three{{value, value, value, value},
                       value == Clip ? PixelStatus::Saturated : PixelStatus::Dark};
            three.grey[k] = Keep; // one remains
            cases.push_back(three);
            for (size_t j = k + 1; j < 4; ++j) {
                Case two{{Keep, Keep, Keep, Keep},
                         value == Clip ? PixelStatus::Saturated : PixelStatus::Dark};
                two.grey[k] = two.grey[j] = value;
                cases.push_back(two);
            }
            for (size_t j = 0; j < 4; ++j)
                if (j != k && value == Clip) {
                    Case mixed{{Keep, Keep, Keep, Keep}, PixelStatus::Saturated}; // clipped wins
                    mixed.grey[k] = Clip;
                    mixed.grey[j] = Dark;
                    cases.push_back(mixed);
                }
        }
    cases.push_back({{Clip, Clip, Clip, Clip}, PixelStatus::Saturated});
    cases.push_back({{Dark, Dark, Dark, Dark}, PixelStatus::Dark});
    cases.push_back({{0, 0, 0, 0}, PixelStatus::Dark});
    ASSERT_LE(cases.size(), 64u);

    ShotSet shot = AreaShot("card", 128, 8);
    for (size_t c = 0; c < cases.size(); ++c)
        for (size_t k = 0; k < 4; ++k)
            if (cases[c].grey[k] != Keep)
                shot.pixels[(k * 8 + 4) * 128 + 2 * c] = static_cast<uint8_t>(cases[c].grey[k]);

    for (const bool heights : {false, true}) {
        SurfaceSolver solver(NominalModel(AreaNominal(128, 8)), {},
                             heights ? RecoveringHeights() : SurfaceOptions{});
        const Surface surface = solver.Solve(shot.View());
        for (size_t c = 0; c < cases.size(); ++c) {
            const size_t i = surface.Index(static_cast<int32_t>(2 * c), 4);
            const std::string name = "case " + std::to_string(c) + (heights ? " with heights" : "");
            ASSERT_EQ(static_cast<PixelStatus>(surface.status[i]), cases[c].status) << name;
            if (cases[c].status != PixelStatus::Reliable) {
                EXPECT_EQ(surface.albedo[i], 0) << name;
                EXPECT_EQ(surface.normalZ[i], 0) << name;
                EXPECT_EQ(surface.curvature[i], 0) << name;
                if (heights) {
                    EXPECT_TRUE(std::isnan(surface.heightMap[i])) << name;
                }
                continue;
            }
            // Three directions still give the card's facing and albedo, with one pixel's noise.
            EXPECT_LE(AngleDegrees({surface.normalX[i], surface.normalY[i], surface.normalZ[i]}, {0, 0, 1}),
                      4.0)
                << name;
            EXPECT_NEAR(surface.albedo[i], 0.5, 0.04) << name;
            if (heights) {
                EXPECT_NEAR(surface.heightMap[i], 0, 0.02) << name;
            }
        }
        // The pictures of the masked pixels: black normals, no albedo, flat curvature, no height.
        const std::vector<uint16_t> normals = NormalSamples(surface), albedo = AlbedoSamples(surface);
        const std::vector<uint8_t> curvature = CurvatureSamples(surface);
        const std::vector<uint16_t> height = HeightSamples(surface);
        for (size_t c = 0; c < cases.size(); ++c) {
            const size_t i = surface.Index(static_cast<int32_t>(2 * c), 4);
            if (cases[c].status == PixelStatus::Reliable)
                continue;
            // Beside each case, an untouched pixel of the card: its normal the camera's axis, within
            // one pixel's noise (4 degrees).
            const size_t beside = i + 1;
            EXPECT_NEAR(normals[3 * beside + 2], 65535, 100);
            EXPECT_NEAR(normals[3 * beside], 32768, 2300);
            EXPECT_NEAR(albedo[beside], 0.5 * 65535, 0.03 * 65535);
            EXPECT_EQ(normals[3 * i] + normals[3 * i + 1] + normals[3 * i + 2], 0);
            EXPECT_EQ(albedo[i], 0);
            EXPECT_EQ(curvature[i], 128);
            if (heights) {
                EXPECT_EQ(height[i], 0);
            }
        }
    }
}

TEST(NumericalEdges, NotANumberOrInfinityInTheLightingIsRefusedWithItsReason) {
    const std::string size = "the dome and the field of view need a size";
    const std::string plane =
        "the object plane must lie inside the dome (a working distance of less than its radius)";
    const std::string white = "the white level of each step must be a positive number";
    const std::string levels =
        "the dark level, the least signal and the saturation must be grey levels in that order";
    auto nominal = [](const std::function<void(NominalSettings&)>& change) {
        return Refusal([&] {
            NominalSettings settings;
            change(settings);
            NominalModel(settings);
        });
    };
    for (double bad : {NaN, Infinity, -Infinity, 0.0, -5.0}) {
        EXPECT_EQ(nominal([&](NominalSettings& s) { s.domeRadius = bad; }), size) << bad;
        EXPECT_EQ(nominal([&](NominalSettings& s) { s.camera.fieldOfView = bad; }), size) << bad;
        EXPECT_EQ(nominal([&](NominalSettings& s) { s.whiteLevel = bad; }), white) << bad;
    }
    for (double bad : {NaN, Infinity, -Infinity, 100.0, -150.0})
        EXPECT_EQ(nominal([&](NominalSettings& s) { s.workingDistance = bad; }), plane) << bad;
    for (double bad : {NaN, Infinity, -1.0, 253.0})
        EXPECT_EQ(nominal([&](NominalSettings& s) { s.darkLevel = bad; }), levels) << bad;
    EXPECT_EQ(nominal([](NominalSettings& s) { s.camera.sensorWidth = 0; }), size);
    EXPECT_EQ(nominal([](NominalSettings& s) { s.camera.linePitch = NaN; }),
              "the line pitch must be a number of millimetres, 0 or more");
    EXPECT_EQ(nominal([](NominalSettings& s) { s.workingDistance = -20; }), "accepted")
        << "a plane above the rim";

    // A model made by hand goes through the same checks before anything is solved with it.
    auto solver = [](const std::function<void(LightingModel&)>& change, SurfaceOptions options = {}) {
        return Refusal([&] {
            LightingModel model = NominalModel({});
            change(model);
            SurfaceSolver(model, {}, options);
        });
    };
    EXPECT_EQ(solver([](LightingModel& m) { m.directions[2].whiteLevel = NaN; }), white);
    EXPECT_EQ(solver([](LightingModel& m) { m.directions[1].patch.azimuthDegrees = Infinity; }),
              "each step's arc needs an azimuth and a width of up to 360 degrees");
    EXPECT_EQ(solver([](LightingModel& m) { m.directions[3].patch.widthDegrees = 0; }),
              "each step's arc needs an azimuth and a width of up to 360 degrees");
    EXPECT_EQ(solver([](LightingModel& m) { m.saturation = NaN; }), levels);
    EXPECT_EQ(solver([](LightingModel& m) { m.minimumSignal = -Infinity; }), levels);
    for (double bad : {NaN, Infinity, -0.1}) {
        SurfaceOptions options;
        options.curvatureRadius = bad;
        EXPECT_EQ(solver([](LightingModel&) {}, options),
                  "the curvature radius must be a number of millimetres, 0 or more");
        options = RecoveringHeights();
        options.heightSettled = bad;
        EXPECT_EQ(solver([](LightingModel&) {}, options),
                  "the height rounds and tolerance must be 0 or more");
    }
    SurfaceOptions negative = RecoveringHeights();
    negative.heightRounds = -1;
    EXPECT_EQ(solver([](LightingModel&) {}, negative), "the height rounds and tolerance must be 0 or more");

    // A curvature radius far larger than the image averages over the whole of it.
    const ShotSet card = AreaShot("card", 64, 16);
    SurfaceOptions wide;
    wide.curvatureRadius = 1e12;
    const Surface surface = SurfaceSolver(NominalModel(AreaNominal(64, 16)), {}, wide).Solve(card.View());
    for (float c : surface.curvature)
        ASSERT_NEAR(c, 0, 0.01);

    // Calibrated white levels for an exposure or gain that is not a number.
    CalibrationRecord record;
    record.model = NominalModel({});
    record.exposureTime = 50;
    for (const auto& [exposure, gain] :
         {std::pair{NaN, 0.0}, std::pair{50.0, Infinity}, std::pair{-Infinity, 0.0}})
        EXPECT_EQ(Refusal([&] { record.ModelFor(exposure, gain); }),
                  "the exposure time and gain must be numbers");
    EXPECT_EQ(record.ModelFor(0, 0).directions[0].whiteLevel, record.model.directions[0].whiteLevel)
        << "no exposure: as measured";
}

TEST(NumericalEdges, NotANumberInTheSphereAndItsLightsNeverReachAPixel) {
    const std::string settings =
        "the sphere needs a radius and an albedo above 0, and caps of 0 to 90 degrees";
    auto sphere = [](const std::function<void(SphereSettings&)>& change) {
        return Refusal([&] {
            SphereSettings s;
            change(s);
            SphereCalibration(AreaNominal(160, 128), {}, s);
        });
    };
    for (double bad : {NaN, Infinity, 0.0}) {
        EXPECT_EQ(sphere([&](SphereSettings& s) { s.radius = bad; }), settings) << bad;
        EXPECT_EQ(sphere([&](SphereSettings& s) { s.albedo = bad; }), settings) << bad;
    }
    for (double bad : {NaN, 90.0, 0.0, -Infinity}) {
        EXPECT_EQ(sphere([&](SphereSettings& s) { s.fitTilt = bad; }), settings) << bad;
        EXPECT_EQ(sphere([&](SphereSettings& s) { s.evaluationTilt = bad; }), settings) << bad;
    }
    NominalSettings dim = AreaNominal(160, 128);
    dim.whiteLevel = NaN;
    EXPECT_EQ(Refusal([&] { SphereCalibration{dim}; }),
              "the white level of each step must be a positive number");

    // A sphere's place that is not a number is refused; one far off the image finds no pixels.
    const ShotSet shot = AreaShot("sphere", 160, 128);
    const SphereCalibration calibration(AreaNominal(160, 128));
    const LightingModel model = NominalModel(AreaNominal(160, 128));
    const std::string place = "the sphere's place in the image must be numbers, with a radius above 0";
    for (const SphereInImage& bad : {SphereInImage{NaN, 64, 50}, SphereInImage{80, Infinity, 50},
                                     SphereInImage{80, 64, 0}, SphereInImage{80, 64, -Infinity}}) {
        EXPECT_EQ(Refusal<CalibrationError>([&] { calibration.Errors(shot.View(), bad, model); }), place);
        EXPECT_EQ(Refusal<CalibrationError>([&] { calibration.SphereNormals(shot.View(), bad, model, 60); }),
                  place);
    }
    for (const SphereInImage& far : {SphereInImage{1e300, -1e300, 1e300}, SphereInImage{-5e9, 64, 50}}) {
        EXPECT_EQ(calibration.Errors(shot.View(), far, model).pixels, 0u);
        EXPECT_EQ(calibration.SphereNormals(shot.View(), far, model, 60).ReliablePixels(), 0u);
    }

    // Lights that could not be measured never agree with the channel.
    const LightingVerdict verdict = JudgeLights({45, NaN, 225, 315}, "Diagonal", 0);
    EXPECT_FALSE(verdict.agrees);
    EXPECT_EQ(verdict.detectedOrientation, -1);
    EXPECT_EQ(verdict.advice,
              "the lights could not be measured: check that each step lights its part of the dome");
    EXPECT_FALSE(JudgeLights({Infinity, 135, 225, 315}, "Diagonal", 0).agrees);

    // Heights that are not numbers or lie beyond the dome are lit at the plane or the dome's reach.
    const LightField field(model, 160, 128, {});
    LightVolume volume(model, 160, 128, {}, &field);
    const LightVolume::Place flat = volume.At(NaN);
    EXPECT_EQ(flat.lower, &field);
    EXPECT_EQ(flat.share, 0);
    float values[LightField::Values];
    for (double height : {Infinity, -Infinity, 1e300}) {
        const LightVolume::Place at = volume.At(height);
        at.lower->ValuesAt(80, 64, values);
        for (float v : values)
            ASSERT_TRUE(std::isfinite(v)) << height;
    }
    EXPECT_LE(volume.Levels(), 3u) << "the plane, the lowest and the highest level";
}

TEST(NumericalEdges, ImagesOfOnePixelOneRowOrColumnAndVeryWideOnes) {
    // The card's four grey values at the middle of the field, as images of 1 x 1, 1 x 4, 4 x 1
    // and 2 x 2 pixels there: regions of a 640 x 480 sensor of 0.1 mm pixels.
    const ShotSet card = AreaShot("card", 64, 8);
    std::array<uint8_t, 4> middle;
    for (size_t k = 0; k < 4; ++k)
        middle[k] = card.pixels[(k * 8 + 4) * 64 + 32];
    for (const auto& [width, height] : {std::pair{1, 1}, std::pair{1, 4}, std::pair{4, 1}, std::pair{2, 2}}) {
        std::vector<uint8_t> pixels;
        for (size_t k = 0; k < 4; ++k)
            pixels.insert(pixels.end(), static_cast<size_t>(width * height), middle[k]);
        const ImageSetView view{pixels.data(), width, 4 * height, false};
        const ImageRegion region{320 - width / 2, 240 - height / 2, false};
        for (const bool heights : {false, true}) {
            SurfaceSolver solver(NominalModel(AreaNominal(640, 480)), region,
                                 heights ? RecoveringHeights() : SurfaceOptions{});
            const Surface surface = solver.Solve(view);
            ASSERT_EQ(surface.width, width);
            ASSERT_EQ(surface.height, height);
            for (size_t i = 0; i < surface.status.size(); ++i) {
                ASSERT_TRUE(surface.Reliable(i)) << width << " x " << height;
                EXPECT_LE(
                    AngleDegrees({surface.normalX[i], surface.normalY[i], surface.normalZ[i]}, {0, 0, 1}),
                    2.0);
                EXPECT_NEAR(surface.albedo[i], 0.5, 0.03);
                EXPECT_TRUE(std::isfinite(surface.curvature[i]));
                if (heights) {
                    EXPECT_NEAR(surface.heightMap[i], 0, 0.01);
                }
            }
            if (heights) {
                for (uint16_t micrometres : HeightSamples(surface))
                    EXPECT_LE(micrometres, 10);
            }
        }
        // No sphere in so few pixels.
        EXPECT_THROW(SphereCalibration(AreaNominal(640, 480), region).Calibrate(view), CalibrationError);
    }
    // Image sets that do not hold four directions.
    const uint8_t byte = 0;
    for (const ImageSetView& bad : {ImageSetView{&byte, 0, 4, false}, ImageSetView{&byte, 1, 2, false},
                                    ImageSetView{&byte, 1, 6, false}, ImageSetView{&byte, -3, 8, false},
                                    ImageSetView{&byte, 1, -4, true}, ImageSetView{nullptr, 1, 4, false}}) {
        EXPECT_THROW(SurfaceSolver(NominalModel({})).Solve(bad), std::invalid_argument);
        EXPECT_THROW(SphereCalibration(NominalSettings{}).Calibrate(bad), CalibrationError);
    }

    // A line 16384 pixels wide, 256 lines of uniform grey: every pixel solved, nothing that is not
    // a number, however thin the pixels.
    constexpr int32_t Wide = 16384, Lines = 256;
    std::vector<uint8_t> wide(static_cast<size_t>(Wide) * Lines * 4, 100);
    NominalSettings settings = AreaNominal(Wide, Lines);
    const Surface surface =
        SurfaceSolver(NominalModel(settings)).Solve({wide.data(), Wide, 4 * Lines, false});
    EXPECT_EQ(surface.ReliablePixels(), static_cast<size_t>(Wide) * Lines);
    for (size_t i = 0; i < surface.status.size(); i += 97)
        ASSERT_TRUE(std::isfinite(surface.normalZ[i] + surface.albedo[i] + surface.curvature[i])) << i;
    // And its heights on 4096 x 32 pixels: a grid far wider than tall.
    std::vector<uint8_t> long_(static_cast<size_t>(4096) * 32 * 4, 100);
    SurfaceSolver heights(NominalModel(AreaNominal(4096, 32)), {}, RecoveringHeights());
    const Surface tall = heights.Solve({long_.data(), 4096, 4 * 32, false});
    ASSERT_TRUE(tall.HasHeights());
    for (size_t i = 0; i < tall.heightMap.size(); i += 31)
        ASSERT_TRUE(std::isfinite(tall.heightMap[i])) << i;
    EXPECT_LE(heights.HeightRounds(), 8);
}

} // namespace zeb::photometric::test
