// A station file for a part of one's own in one step: the built-in area-scan channel with the height
// map under its camera, the maps named relative to where the file will be saved, checked as it will
// be loaded.
#include "ObjectStation.h"
#include "OwnObjects.h"

#include <gmock/gmock.h>

namespace zeb::station::test {

using ::testing::ThrowsMessage;

TEST(ObjectStation, TheBuiltInAreaChannelWithTheMapUnderItsCamera) {
    TestFolder folder;
    // A 20 x 10 mm plate with a raised ring, in 0.04 mm pixels; an albedo map of its own.
    WriteHeightMap(folder / "maps" / "ring.png", 500, 250, 0.04, 0.001,
                   [](double x, double y) { return std::fabs(std::hypot(x, y) - 3) < 0.5 ? 0.3 : 0.0; });
    WriteAlbedoMap(folder / "maps" / "albedo.png", 500, 250, 0.04, 8,
                   [](double x, double) { return x < 0 ? 0.3 : 0.7; });
    ObjectStationOptions options;
    options.heightMap = (folder / "maps" / "ring.png").string();
    options.albedoMap = (folder / "maps" / "albedo.png").string();
    options.pixelSize = 0.04;
    options.material.type = "glossy";
    options.material.roughness = 0.2;
    options.material.specular = 0.3;
    options.workingDistance = 25;
    options.stationFolder = folder.Path().string();
    const std::string text = ObjectStationText(options);
    const Json station = Json::parse(text);
    ASSERT_EQ(station["controllers"].size(), 1u);
    ASSERT_EQ(station["cameras"].size(), 1u);
    ASSERT_EQ(station["cables"].size(), 2u);
    EXPECT_EQ(station["controllers"][0]["light"], "Dome M");
    EXPECT_EQ(station["cameras"][0]["features"]["SensorWidth"], "1280");
    const Json scene = station["cameras"][0]["scene"];
    EXPECT_EQ(scene["object"]["heightMap"], "maps/ring.png") << "relative to the station file's folder";
    EXPECT_EQ(scene["object"]["albedoMap"], "maps/albedo.png");
    EXPECT_EQ(scene["object"]["material"], Json({{"type", "glossy"}, {"roughness", 0.2}, {"specular", 0.3}}));
    EXPECT_DOUBLE_EQ(scene["fieldOfView"].get<double>(), 20) << "the map's 20 mm fill the image's width";
    EXPECT_EQ(scene["workingDistance"], 25);

    // Saved there, it loads and its camera sees the ring: a tall map fits by its height instead.
    TestPng::Write(folder.StationFile(), text);
    auto loaded = Station::FromFile(folder.StationFile());
    EXPECT_TRUE(loaded->Camera("GigE 00:11:1c:00:00:01")->scene.ownObject);
    WriteHeightMap(folder / "tall.png", 100, 400, 0.05, 0.001, [](double, double) { return 0.0; });
    options.heightMap = (folder / "tall.png").string();
    options.pixelSize = 0.05;
    options.albedoMap.clear();
    options.material = Material{};
    options.stationFolder.clear();
    const Json tall = Json::parse(ObjectStationText(options))["cameras"][0]["scene"];
    EXPECT_DOUBLE_EQ(tall["fieldOfView"].get<double>(), 20 * 1280.0 / 1024);
    EXPECT_EQ(tall["object"]["heightMap"], std::filesystem::absolute(folder / "tall.png").generic_string())
        << "without a folder to save in, the absolute name";
    EXPECT_EQ(tall["object"]["material"], Json({{"type", "matte"}}));
    options.fieldOfView = 40;
    EXPECT_EQ(Json::parse(ObjectStationText(options))["cameras"][0]["scene"]["fieldOfView"], 40);
}

TEST(ObjectStation, BadMapsAndOptionsAreRefusedWithTheirReason) {
    TestFolder folder;
    TestPng::Write(folder / "eight.png", TestPng::Grey(4, 4, 8, std::vector<uint16_t>(16, 1)));
    ObjectStationOptions options;
    options.heightMap = (folder / "eight.png").string();
    EXPECT_THAT([&] { ObjectStationText(options); },
                ThrowsMessage<std::runtime_error>(
                    "height map " + std::filesystem::absolute(folder / "eight.png").generic_string() +
                    ": is 4 x 4, 8-bit grey; a height map is 16-bit grey"));
    WriteHeightMap(folder / "flat.png", 400, 400, 0.05, 0.001, [](double, double) { return 0.0; });
    options.heightMap = (folder / "flat.png").string();
    options.workingDistance = -3;
    EXPECT_THAT([&] { ObjectStationText(options); },
                ThrowsMessage<std::runtime_error>("workingDistance: expected a number from 0 to 10000"));
    options.workingDistance = 10;
    options.heightMap.clear();
    EXPECT_THROW(ObjectStationText(options), std::runtime_error);
}

} // namespace zeb::station::test
