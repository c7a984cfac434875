// zeb calibrate and zeb acquire --surface through the command line on a station with the sphere
// under the camera, noise on: a dome mounted otherwise than the channel's orientation is named,
// the calibration then agrees and is used for the surface files, and what cannot work says why.
#include "ZebTest.h"

#include <cmath>

namespace zeb::test {

namespace {

class CalibrateCommand : public ZebTest {
protected:
    // The area-scan station with a 160 x 128 camera (0.4 mm pixels) over `object`, its dome mounted
    // at `mounting` degrees; the channel's "LightingOrientation" starts at 180 degrees.
    void UseTarget(const std::string& object, int32_t mounting = 180) {
        Json station = AreaStation();
        station["controllers"][0]["domeRotation"] = mounting;
        Json& camera = station["cameras"][0];
        camera["features"] = {{"DeviceModelName", "VCXG-25M"},
                              {"SensorWidth", "160"},
                              {"SensorHeight", "128"},
                              {"Width", "160"},
                              {"Height", "128"}};
        camera["scene"] = {{"object", object}};
        camera["sensor"] = Json::object();
        UseStation(station);
    }
};

double AngleFrom(double azimuth, double expected) {
    const double d = std::fmod(std::fabs(azimuth - expected), 360.0);
    return d > 180 ? 360 - d : d;
}

} // namespace

TEST_F(CalibrateCommand, NamesATurnedDomeThenCalibratesTheSurfaceFiles) {
    UseTarget("sphere", 90);
    Outcome run = Zeb({"calibrate", "--json", "--count", "2", "--out", Path("turned.json").string()});
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_THAT(
        run.err,
        HasSubstr("zeb: the lights look turned by 90 degrees: set LightingOrientation to \"90 deg\"\n"))
        << run.err;
    const Json turned = Json::parse(run.out);
    std::vector<std::string> keys;
    for (const auto& [key, value] : turned.items())
        keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"lights", "meanErrorDegrees", "nominalMeanErrorDegrees",
                                              "orientation", "p95ErrorDegrees", "sphere"}));
    EXPECT_EQ(turned["orientation"], Json({{"set", "180 deg"}, {"detected", "90 deg"}}));
    EXPECT_EQ(turned["sphere"].size(), 3u);
    EXPECT_NEAR(turned["sphere"]["x"].get<double>(), 79.5, 0.5);
    EXPECT_NEAR(turned["sphere"]["radius"].get<double>(), 50, 0.7);
    EXPECT_GT(turned["nominalMeanErrorDegrees"].get<double>(), 10)
        << "the nominal model puts the lights elsewhere";
    EXPECT_TRUE(std::filesystem::exists(Path("turned.json")));

    // With the orientation the dome is mounted at, the lights sit on their documented quadrants.
    const std::vector<std::string> mounted = {"--set", "LightingOrientation=90 deg"};
    std::vector<std::string> arguments = {"calibrate", "--json", "--out", Path("calibration.json").string()};
    arguments.insert(arguments.end(), mounted.begin(), mounted.end());
    run = Zeb(arguments);
    ASSERT_EQ(run.status, 0) << run.err;
    const Json agreed = Json::parse(run.out);
    EXPECT_EQ(agreed["orientation"], Json({{"set", "90 deg"}, {"detected", "90 deg"}}));
    EXPECT_LE(agreed["meanErrorDegrees"].get<double>(), 1.0);
    EXPECT_LE(agreed["nominalMeanErrorDegrees"].get<double>(), 1.5);
    const double quadrants[4] = {45, 135, 225, 315};
    ASSERT_EQ(agreed["lights"].size(), 4u);
    for (size_t k = 0; k < 4; ++k) {
        EXPECT_LE(AngleFrom(agreed["lights"][k]["azimuthDegrees"].get<double>(), quadrants[k]), 3.0) << k;
        EXPECT_EQ(agreed["lights"][k].size(), 2u);
    }

    // The surface files with that calibration: the sphere's normals, albedo and curvature.
    arguments = {"acquire", "--surface",           "--calibration", Path("calibration.json").string(),
                 "--out",   Path("shots").string()};
    arguments.insert(arguments.end(), mounted.begin(), mounted.end());
    run = Zeb(arguments);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("wrote 6 files of image set 1"));
    const PngSamplesRead normals = ReadPngSamples(Path("shots") / "zeb-channel0-0001-normals.png");
    const PngSamplesRead albedo = ReadPngSamples(Path("shots") / "zeb-channel0-0001-albedo.png");
    const PngSamplesRead curvature = ReadPngSamples(Path("shots") / "zeb-channel0-0001-curvature.png");
    ASSERT_EQ(normals.width, 160);
    ASSERT_EQ(normals.height, 128);
    EXPECT_EQ(normals.channels, 3);
    EXPECT_EQ(normals.bitDepth, 16);
    EXPECT_EQ(albedo.channels, 1);
    EXPECT_EQ(albedo.bitDepth, 16);
    EXPECT_EQ(curvature.bitDepth, 8);
    // The mean normal over 5 x 5 pixels around (x, y): the sphere's centre is (79.5, 63.5), its
    // radius 50 pixels, so at (105, 64) the normal is (0.51, -0.01, 0.86) and at (80, 39) (-0.01, 0.49,
    // 0.87). The files take every pixel to lie on the object plane; half way up the 20 mm sphere the
    // light comes from lower, so its flanks come out about 3.5 degrees steeper (0.56).
    auto normal = [&](int32_t x, int32_t y, int32_t c) {
        double sum = 0;
        for (int32_t dy = -2; dy <= 2; ++dy)
            for (int32_t dx = -2; dx <= 2; ++dx)
                sum +=
                    normals.samples[static_cast<size_t>(((y + dy) * 160 + x + dx) * 3 + c)] / 65535.0 * 2 - 1;
        return sum / 25;
    };
    EXPECT_NEAR(normal(105, 64, 0), 0.56, 0.03);
    EXPECT_NEAR(normal(105, 64, 1), -0.01, 0.03);
    EXPECT_NEAR(normal(80, 39, 1), 0.54, 0.03) << "y points to the image's top";
    EXPECT_NEAR(normal(80, 64, 2), 1, 0.01);
    EXPECT_NEAR(albedo.samples[64 * 160 + 80] / 65535.0, 0.6, 0.03) << "the sphere's albedo";
    EXPECT_NEAR(albedo.samples[5 * 160 + 5] / 65535.0, 0.2, 0.02) << "the plate's";
    // The sphere's mean curvature is 1 / 20 mm: 10 grey levels above flat at the default scale.
    EXPECT_NEAR(curvature.samples[64 * 160 + 70] / 257.0, 138, 4);
    EXPECT_NEAR(curvature.samples[5 * 160 + 5] / 257.0, 128, 3);
    const PngContents texts = ReadPngFile(Path("shots") / "zeb-channel0-0001-curvature.png");
    EXPECT_EQ(texts.texts.at("Lighting model").rfind("calibrated: dome radius 100.0 mm", 0), 0u);
    EXPECT_THAT(texts.texts.at("Calibration"), HasSubstr("calibration.json (made "))
        << texts.texts.at("Calibration");
    EXPECT_THAT(texts.texts.at("Curvature scale"), HasSubstr("0.005 per millimetre"));
    EXPECT_EQ(texts.texts.at("Image set"), "1");

    // The calibration holds for the orientation it was made with, and says so otherwise.
    run = Zeb({"acquire", "--surface", "--calibration", Path("calibration.json").string(), "--out",
               Path("shots").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err,
                HasSubstr("was made with LightingOrientation \"90 deg\"; the channel holds \"180 deg\""))
        << run.err;
}

TEST_F(CalibrateCommand, WhatCannotWorkSaysWhy) {
    UseTarget("part");
    Outcome run = Zeb({"calibrate", "--count", "1", "--out", Path("calibration.json").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, AllOf(HasSubstr("zeb: "), HasSubstr("sphere")));
    EXPECT_FALSE(std::filesystem::exists(Path("calibration.json")));

    run = Zeb({"acquire", "--surface", "--model", "tilt=3", "--out", Path("shots").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("--model: unknown setting \"tilt\" (settings: domeModel, domeRadius,"))
        << run.err;
    run = Zeb({"acquire", "--surface", "--model", "workingDistance=far", "--out", Path("shots").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("--model workingDistance: \"far\" is not a number from -1000 to 1000"))
        << run.err;
    run = Zeb({"acquire", "--surface", "--setup-mode", "On", "--out", Path("shots").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("the surface needs the four directions"));
    TestEnvironment::WriteFile(Path("broken.json"), "{\"version\": 1}");
    run = Zeb({"acquire", "--surface", "--calibration", Path("broken.json").string(), "--out",
               Path("shots").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("broken.json: no \"date\" in the file"));

    // The part's surface with the nominal model: convex domes, concave ring, in the curvature file.
    run = Zeb({"acquire", "--surface", "--out", Path("shots").string()});
    ASSERT_EQ(run.status, 0) << run.err;
    const PngContents texts = ReadPngFile(Path("shots") / "zeb-channel0-0001-normals.png");
    EXPECT_EQ(texts.texts.at("Lighting model").rfind("nominal: dome radius 100.0 mm", 0), 0u);
    EXPECT_EQ(texts.texts.at("Calibration"), "none: the dome's documented geometry");
}

} // namespace zeb::test
