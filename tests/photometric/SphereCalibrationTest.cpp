// The lights measured on the station's sphere, noise on: how well the nominal and the calibrated
// model explain it, where the measured lights lie, a turned dome named, the same sphere through a
// line camera, and the calibration file kept and refused.
#include "SphereCalibration.h"
#include "CalibrationFile.h"
#include "StationShots.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>

namespace zeb::photometric::test {

namespace {

double AngleFrom(double azimuth, double expected) {
    const double d = std::fmod(std::fabs(azimuth - expected), 360.0);
    return d > 180 ? 360 - d : d;
}

} // namespace

TEST(SphereCalibration, BothModelsExplainTheSphereAndTheLightsSitOnTheirQuadrants) {
    const ShotSet shot = AreaShot("sphere", 320, 256);
    const SphereCalibration calibration(AreaNominal(320, 256));
    const CalibrationResult result = calibration.Calibrate(shot.View());
    std::printf(
        "sphere at %.2f, %.2f, radius %.2f px; calibrated mean %.2f (p95 %.2f), nominal mean %.2f (p95 %.2f) "
        "degrees over %zu pixels\n",
        result.sphere.x, result.sphere.y, result.sphere.radius, result.errors.meanDegrees,
        result.errors.p95Degrees, result.nominalErrors.meanDegrees, result.nominalErrors.p95Degrees,
        result.errors.pixels);
    // Centred in the field, 20 mm across 0.2 mm pixels.
    EXPECT_NEAR(result.sphere.x, 159.5, 0.3);
    EXPECT_NEAR(result.sphere.y, 127.5, 0.3);
    EXPECT_NEAR(result.sphere.radius, 100, 0.5);
    EXPECT_GT(result.errors.pixels, 3000u);
    EXPECT_LE(result.nominalErrors.meanDegrees, 1.5);
    EXPECT_LE(result.errors.meanDegrees, 1.0);
    // The diagonal sequence lights top right, top left, bottom left, bottom right.
    const double quadrants[4] = {45, 135, 225, 315};
    for (size_t k = 0; k < 4; ++k) {
        EXPECT_LE(AngleFrom(result.lights[k].azimuthDegrees, quadrants[k]), 3.0) << "step " << k;
        EXPECT_GT(result.lights[k].elevationDegrees, 20) << "step " << k;
        EXPECT_NEAR(result.calibrated.directions[k].whiteLevel, 198.9, 0.03 * 198.9) << "step " << k;
    }
    EXPECT_TRUE(result.verdict.agrees);
    EXPECT_TRUE(result.verdict.advice.empty()) << result.verdict.advice;
    EXPECT_EQ(result.verdict.detectedOrientation, 0);

    // The calibration kept in its file and read back gives the same model.
    CalibrationRecord record;
    record.model = result.calibrated;
    record.date = "2025-01-01T00:00:00Z";
    record.domeModel = "Dome M";
    record.lightingOrientation = "0 deg";
    record.lightingSequence = "Diagonal";
    record.exposureTime = 50;
    const CalibrationRecord back = CalibrationFromJson(CalibrationToJson(record));
    for (size_t k = 0; k < 4; ++k) {
        EXPECT_DOUBLE_EQ(back.model.directions[k].patch.azimuthDegrees,
                         result.calibrated.directions[k].patch.azimuthDegrees);
        EXPECT_DOUBLE_EQ(back.ModelFor(100, 6).directions[k].whiteLevel,
                         result.calibrated.directions[k].whiteLevel * 2 * std::pow(10.0, 6.0 / 20));
    }
    EXPECT_EQ(back.model.source, "calibrated");
}

TEST(SphereCalibration, ADomeTurnedAgainstTheOrientationIsNamed) {
    // Mounted at 90 degrees while the sequencer's orientation stays at 0: each step is lit from 90
    // degrees clockwise of its place.
    const ShotSet shot = AreaShot("sphere", 160, 128, 90);
    const CalibrationResult result = SphereCalibration(AreaNominal(160, 128)).Calibrate(shot.View());
    EXPECT_FALSE(result.verdict.agrees);
    EXPECT_EQ(result.verdict.detectedOrientation, 90);
    EXPECT_EQ(result.verdict.advice,
              "the lights look turned by 270 degrees: set LightingOrientation to \"90 deg\"");
    // The calibration follows the lights where they are; the nominal model does not.
    EXPECT_LE(result.errors.meanDegrees, 1.0);
    EXPECT_GT(result.nominalErrors.meanDegrees, 10.0);
}

TEST(SphereCalibration, JudgingTheLightsNamesTheSettingThatFits) {
    // Axial lights (right, top, left, bottom) while the channel says Diagonal at 180 degrees.
    LightingVerdict verdict = JudgeLights({1, 91, 179, 271}, "Diagonal", 180);
    EXPECT_FALSE(verdict.agrees);
    EXPECT_EQ(verdict.detectedSequence, "Axial");
    EXPECT_EQ(verdict.detectedOrientation, 180);
    EXPECT_EQ(verdict.advice,
              "the lights look like the \"Axial\" sequence: set LightingSequenceType to \"Axial\"");
    // Steps swapped: no sequence in any orientation puts them there.
    verdict = JudgeLights({45, 225, 135, 315}, "Diagonal", 180);
    EXPECT_FALSE(verdict.agrees);
    EXPECT_EQ(verdict.detectedOrientation, -1);
    EXPECT_NE(verdict.advice.find("check the cables between the controller and the dome"), std::string::npos);
    // Within the tolerance, the channel's settings stand.
    EXPECT_TRUE(JudgeLights({52, 128, 232, 310}, "Diagonal", 270).agrees);
}

TEST(SphereCalibration, TheLineScanSphereGivesTheAreaScanNormals) {
    const ShotSet area = AreaShot("sphere", 320, 256);
    const ShotSet line = LineShot("sphere", 256, 256);
    const SphereCalibration areaCalibration(AreaNominal(320, 256)), lineCalibration(LineNominal(256));
    const SphereInImage areaSphere = areaCalibration.FindSphere(area.View());
    const SphereInImage lineSphere = lineCalibration.FindSphere(line.View());
    EXPECT_NEAR(lineSphere.radius, 50, 0.5) << "20 mm across 0.4 mm pixels";
    const Surface areaNormals =
        areaCalibration.SphereNormals(area.View(), areaSphere, NominalModel(AreaNominal(320, 256)), 62);
    const Surface lineNormals =
        lineCalibration.SphereNormals(line.View(), lineSphere, NominalModel(LineNominal(256)), 62);
    // The same places of the sphere in both: a grid over its cap up to 60 degrees (solved a little
    // beyond, for the pixels nearest to the grid's points).
    double sum = 0;
    std::vector<double> differences;
    size_t unreliable = 0;
    for (double u = -0.85; u <= 0.85; u += 0.05)
        for (double v = -0.85; v <= 0.85; v += 0.05) {
            if (u * u + v * v > 0.75)
                continue;
            auto at = [&](const Surface& s, const SphereInImage& sphere) {
                return s.Index(static_cast<int32_t>(std::lround(sphere.x + u * sphere.radius)),
                               static_cast<int32_t>(std::lround(sphere.y - v * sphere.radius)));
            };
            const size_t a = at(areaNormals, areaSphere), l = at(lineNormals, lineSphere);
            // Pixels clipped in one of the two say nothing about the normals.
            if (!areaNormals.Reliable(a) || !lineNormals.Reliable(l)) {
                ++unreliable;
                continue;
            }
            const double difference =
                AngleDegrees({areaNormals.normalX[a], areaNormals.normalY[a], areaNormals.normalZ[a]},
                             {lineNormals.normalX[l], lineNormals.normalY[l], lineNormals.normalZ[l]});
            sum += difference;
            differences.push_back(difference);
        }
    std::sort(differences.begin(), differences.end());
    const double mean = sum / static_cast<double>(differences.size());
    const double p95 = differences[differences.size() * 95 / 100];
    std::printf(
        "line against area scan: mean %.2f degrees, 95th percentile %.2f over %zu places (%zu clipped)\n",
        mean, p95, differences.size(), unreliable);
    EXPECT_GT(differences.size(), 800u);
    EXPECT_LT(unreliable, differences.size() / 20);
    EXPECT_LE(mean, 2.0);
    EXPECT_LE(p95, 4.0);
}

TEST(SphereCalibration, NoWholeSphereIsACleanError) {
    // The part has no sphere, though its bright plate reaches every edge; a sphere of another size
    // is not this one.
    const ShotSet part = AreaShot("part", 160, 128);
    try {
        SphereCalibration(AreaNominal(160, 128)).Calibrate(part.View());
        ADD_FAILURE() << "a sphere was found on the part";
    } catch (const CalibrationError& error) {
        EXPECT_EQ(std::string(error.what()).substr(0, 16), "no sphere found:") << error.what();
    }
    const ShotSet sphere = AreaShot("sphere", 160, 128);
    SphereSettings larger;
    larger.radius = 30;
    try {
        SphereCalibration(AreaNominal(160, 128), {}, larger).Calibrate(sphere.View());
        ADD_FAILURE() << "a 30 mm sphere was found";
    } catch (const CalibrationError& error) {
        EXPECT_STREQ(error.what(),
                     "no sphere of 30.0 mm radius found: the bright disc has 19.9 mm (check the "
                     "sphere's radius and the field of view, 64.0 mm across the sensor)");
    }
    // Too few rows for the whole sphere: named with where its centre is; a card shows no sphere.
    const ShotSet cut = AreaShot("sphere", 320, 160);
    try {
        SphereCalibration(AreaNominal(320, 160)).Calibrate(cut.View());
        ADD_FAILURE() << "a cut sphere was measured";
    } catch (const CalibrationError& error) {
        const std::string text = error.what();
        EXPECT_EQ(text.substr(0, 50), "the sphere is cut by the image's edge (centre at 1") << text;
        EXPECT_NE(text.find("): centre it under the camera, or make the image taller"), std::string::npos);
    }
    const ShotSet card = AreaShot("card", 160, 128);
    try {
        SphereCalibration(AreaNominal(160, 128)).Calibrate(card.View());
        ADD_FAILURE() << "a sphere was found on the card";
    } catch (const CalibrationError& error) {
        EXPECT_EQ(std::string(error.what()).substr(0, 16), "no sphere found:") << error.what();
    }
    const std::vector<uint8_t> three(64 * 3, 0);
    EXPECT_THROW(SphereCalibration(AreaNominal(64, 1)).Calibrate({three.data(), 64, 3, false}),
                 CalibrationError);
}

TEST(CalibrationFile, WhatIsNotACalibrationIsRefusedWithItsReason) {
    auto reason = [](const std::string& text) {
        try {
            CalibrationFromJson(text);
        } catch (const std::runtime_error& error) {
            return std::string(error.what());
        }
        return std::string("accepted");
    };
    EXPECT_EQ(reason("not json"), "not a calibration file (not a JSON object)");
    EXPECT_EQ(reason("{\"version\": 2}"), "a calibration file of another version (this zeb reads version 1)");
    CalibrationRecord record;
    record.model = NominalModel({});
    nlohmann::json json = nlohmann::json::parse(CalibrationToJson(record));
    EXPECT_EQ(reason(json.dump()), "accepted");
    json["steps"].erase(3);
    EXPECT_EQ(reason(json.dump()), "\"steps\" must list the four steps");
    json = nlohmann::json::parse(CalibrationToJson(record));
    json["geometry"]["domeRadius"] = "wide";
    EXPECT_EQ(reason(json.dump()), "\"domeRadius\" in \"geometry\" is not a number");
    json["geometry"]["domeRadius"] = -1;
    EXPECT_EQ(reason(json.dump()), "\"domeRadius\" in \"geometry\" is out of range");
}

} // namespace zeb::photometric::test

namespace zeb::photometric::test {

TEST(CalibrationFile, NamesThatAreNotUtf8AreKeptWithReplacementCharacters) {
    // Channel and camera names come from the plug-in as bytes: a lone 0xFF, a cut-off two-byte
    // sequence, a stray continuation byte.
    CalibrationRecord record;
    record.model = NominalModel({});
    record.date = "2025-01-01T00:00:00Z";
    record.channel = "Kanal \xff\xfe";
    record.camera = "Cam\x83 A \xc3";
    record.domeModel = "Dome M \xc3\x84"; // valid UTF-8 (Ä) stays as it is
    std::string text;
    ASSERT_NO_THROW(text = CalibrationToJson(record));
    const CalibrationRecord back = CalibrationFromJson(text);
    const std::string replacement = "\xef\xbf\xbd";
    EXPECT_EQ(back.channel, "Kanal " + replacement + replacement);
    EXPECT_EQ(back.camera, "Cam" + replacement + " A " + replacement);
    EXPECT_EQ(back.domeModel, record.domeModel);
    EXPECT_EQ(back.model.directions[2].whiteLevel, record.model.directions[2].whiteLevel);

    // Values a file cannot hold are refused before it is written, and values beyond what a
    // lighting can be read back are refused with the reason.
    CalibrationRecord broken = record;
    broken.meanErrorDegrees = std::numeric_limits<double>::quiet_NaN();
    EXPECT_THROW(CalibrationToJson(broken), std::invalid_argument);
    broken = record;
    broken.model.directions[1].whiteLevel = std::numeric_limits<double>::infinity();
    EXPECT_THROW(CalibrationToJson(broken), std::invalid_argument);
    auto reason = [](const std::string& json) {
        try {
            CalibrationFromJson(json);
        } catch (const std::runtime_error& error) {
            return std::string(error.what());
        }
        return std::string("accepted");
    };
    std::string huge = text;
    huge.replace(huge.find("\"exposureTime\": 0"), 17, "\"exposureTime\": 1e999");
    EXPECT_EQ(reason(huge), "not a calibration file (not a JSON object)") << "a number no double holds";
    nlohmann::json json = nlohmann::json::parse(text);
    json["geometry"]["darkLevel"] = 254;
    EXPECT_EQ(reason(json.dump()),
              "the lighting in the file cannot be used: the dark level, the least signal and "
              "the saturation must be grey levels in that order");
    json["geometry"]["darkLevel"] = 2;
    json["geometry"]["workingDistance"] = 500;
    EXPECT_EQ(reason(json.dump()),
              "the lighting in the file cannot be used: the object plane must lie inside the "
              "dome (a working distance of less than its radius)");
}

TEST(SphereCalibration, LightsThatCannotBeFoundEndInAVerdictOrAClearError) {
    // Four directions showing the same picture (every step lights the same quadrants): no arc
    // explains them apart, and the verdict says so with finite figures that a file can keep.
    const ShotSet shot = AreaShot("sphere", 160, 128);
    ShotSet same = shot;
    const size_t frame = 160 * 128;
    for (size_t i = 0; i < frame; ++i) {
        int sum = 0;
        for (size_t k = 0; k < 4; ++k)
            sum += shot.pixels[k * frame + i];
        for (size_t k = 0; k < 4; ++k)
            same.pixels[k * frame + i] = static_cast<uint8_t>(sum / 4);
    }
    const CalibrationResult result = SphereCalibration(AreaNominal(160, 128)).Calibrate(same.View());
    std::printf(
        "one picture four times: lit from %.0f, %.0f, %.0f, %.0f degrees, errors %.1f (nominal %.1f); %s\n",
        result.calibrated.directions[0].patch.azimuthDegrees,
        result.calibrated.directions[1].patch.azimuthDegrees,
        result.calibrated.directions[2].patch.azimuthDegrees,
        result.calibrated.directions[3].patch.azimuthDegrees, result.errors.meanDegrees,
        result.nominalErrors.meanDegrees, result.verdict.advice.c_str());
    EXPECT_FALSE(result.verdict.agrees);
    EXPECT_NE(result.verdict.advice.find("check the cables between the controller and the dome"),
              std::string::npos);
    EXPECT_GT(result.errors.meanDegrees, 20);
    CalibrationRecord record;
    record.model = result.calibrated;
    record.meanErrorDegrees = result.errors.meanDegrees;
    record.p95ErrorDegrees = result.errors.p95Degrees;
    record.nominalMeanErrorDegrees = result.nominalErrors.meanDegrees;
    EXPECT_NO_THROW(CalibrationFromJson(CalibrationToJson(record)));

    // Exposed eight times longer, the sphere and its plate are clipped all over; twice, the
    // sphere's cap is.
    auto refusal = [](const ShotSet& set) {
        try {
            SphereCalibration(AreaNominal(160, 128)).Calibrate(set.View());
        } catch (const CalibrationError& error) {
            return std::string(error.what());
        }
        return std::string("measured");
    };
    const std::string bright = refusal(AreaShotThrough("sphere", 160, 128, 160, 128, 0, 0, "400"));
    EXPECT_EQ(bright.substr(0, 34), "the image set is clipped over 100 ") << bright;
    EXPECT_NE(bright.find("lower the exposure or the gain"), std::string::npos);
    EXPECT_EQ(refusal(AreaShotThrough("sphere", 160, 128, 160, 128, 0, 0, "100")),
              "the image set is clipped over 38 % of its pixels: lower the exposure or the gain");
    // Noise is no sphere.
    ShotSet noise = shot;
    uint32_t state = 12345;
    for (uint8_t& grey : noise.pixels) {
        state = state * 1664525u + 1013904223u;
        grey = static_cast<uint8_t>(state >> 24);
    }
    EXPECT_THROW(SphereCalibration(AreaNominal(160, 128)).Calibrate(noise.View()), CalibrationError);
}

TEST(SphereCalibration, ASphereAtTheImagesEdgeIsMeasuredThroughItsRegionOrRefused) {
    // A 240 x 240 region of the 320 x 256 sensor whose edge passes 10 pixels from the sphere
    // (radius 100 pixels of 0.2 mm, centred at 159.5, 127.5 on the sensor).
    const ShotSet near = AreaShotThrough("sphere", 320, 256, 220, 240, 50, 8);
    const CalibrationResult result =
        SphereCalibration(AreaNominal(320, 256), {50, 8, false}).Calibrate(near.View());
    EXPECT_NEAR(result.sphere.x, 109.5, 0.5);
    EXPECT_NEAR(result.sphere.y, 119.5, 0.5);
    EXPECT_LE(result.errors.meanDegrees, 1.0);
    EXPECT_TRUE(result.verdict.agrees) << result.verdict.advice;
    // The region's edge through the sphere.
    const ShotSet cut = AreaShotThrough("sphere", 320, 256, 200, 256, 0, 0);
    try {
        SphereCalibration(AreaNominal(320, 256)).Calibrate(cut.View());
        ADD_FAILURE() << "a cut sphere was measured";
    } catch (const CalibrationError& error) {
        EXPECT_NE(std::string(error.what()).find("the sphere is cut by the image's edge"), std::string::npos)
            << error.what();
    }
}

} // namespace zeb::photometric::test
