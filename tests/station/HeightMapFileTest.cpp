// Height and albedo maps in a station file: bad files and bad keys are refused when the file is read,
// naming the file and the reason; the names are relative to the station file; zeb station writes the
// object back out as it was given.
#include "OwnObjects.h"
#include "StationFileWriter.h"

#include <gmock/gmock.h>

namespace zeb::station::test {

namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

// The error of loading a station whose camera has `object`, or "" when it loads.
std::string ObjectError(const TestFolder& folder, const Json& object) {
    return LoadError(OwnObjectStation(object, 64, 48).dump(), folder.StationFile());
}

std::string Flat16(int32_t width, int32_t height) {
    return TestPng::Grey(width, height, 16, std::vector<uint16_t>(static_cast<size_t>(width) * height, 100));
}

} // namespace

TEST(HeightMapFile, BadMapsAreRefusedNamingTheFileAndTheReason) {
    TestFolder folder;
    const std::string good = Flat16(4, 4);
    TestPng::Write(folder / "good.png", good);
    TestPng::Write(folder / "text.png", "P2\n4 4\n255\n");
    TestPng::Write(folder / "empty.png", "");
    TestPng::Write(folder / "eight.png", TestPng::Grey(4, 4, 8, std::vector<uint16_t>(16, 9)));
    TestPng::Write(folder / "rgb.png", TestPng::Image(4, 4, 16, 2, std::vector<uint16_t>(48, 9)));
    TestPng::Write(folder / "wide.png", Flat16(LargestMapSide + 1, 1));
    TestPng::Write(folder / "short.png", good.substr(0, good.size() - 20));
    std::string damaged = good;
    damaged[damaged.size() - 20] ^= 0x40; // a byte of the image data
    TestPng::Write(folder / "damaged.png", damaged);
    std::filesystem::create_directories(folder / "folder.png");
    const std::string path = folder.Path().string();
    const std::string at = "station file " + folder.StationFile() + " at /cameras/0/scene/object: ";
    const std::pair<std::string, std::string> cases[] = {
        {"missing.png", "height map " + (folder / "missing.png").string() + ": cannot be read"},
        {"text.png", "height map " + (folder / "text.png").string() + ": is not a PNG file"},
        {"empty.png", "height map " + (folder / "empty.png").string() + ": is empty"},
        {"eight.png", "height map " + (folder / "eight.png").string() +
                          ": is 4 x 4, 8-bit grey; a height map is 16-bit grey"},
        {"rgb.png", "height map " + (folder / "rgb.png").string() +
                        ": is 4 x 4, 16-bit colour; a height map is 16-bit grey"},
        {"wide.png",
         "height map " + (folder / "wide.png").string() + ": is 16385 x 1 pixels, more than 16384 a side"},
        {"short.png", "height map " + (folder / "short.png").string() + ": is cut short"},
        {"damaged.png", "height map " + (folder / "damaged.png").string() +
                            ": is damaged (the checksum of its IDAT chunk is wrong)"},
        {"folder.png", "height map " + (folder / "folder.png").string() + ": is a folder, not a file"}};
    for (const auto& [file, reason] : cases)
        EXPECT_EQ(ObjectError(folder, {{"heightMap", file}}), at + reason) << file;
    EXPECT_EQ(ObjectError(folder, {{"heightMap", "good.png"}}), "");
    EXPECT_EQ(ObjectError(folder, {{"heightMap", (folder / "good.png").string()}}), "") << "an absolute name";

    // Albedo maps: 8 or 16 bits of grey.
    TestPng::Write(folder / "albedo8.png", TestPng::Grey(2, 2, 8, {0, 255, 128, 9}));
    TestPng::Write(folder / "albedo16.png", TestPng::Grey(2, 2, 16, {0, 65535, 128, 9}));
    TestPng::Write(folder / "albedo-alpha.png", TestPng::Image(2, 2, 8, 4, std::vector<uint16_t>(8, 1)));
    EXPECT_EQ(ObjectError(folder, {{"heightMap", "good.png"}, {"albedoMap", "albedo8.png"}}), "");
    EXPECT_EQ(ObjectError(folder, {{"heightMap", "good.png"}, {"albedoMap", "albedo16.png"}}), "");
    EXPECT_EQ(ObjectError(folder, {{"heightMap", "good.png"}, {"albedoMap", "albedo-alpha.png"}}),
              at + "albedo map " + (folder / "albedo-alpha.png").string() +
                  ": is 2 x 2, 8-bit grey with alpha; an albedo map is 8- or 16-bit grey");
    EXPECT_EQ(ObjectError(folder, {{"heightMap", "good.png"}, {"albedoMap", "text.png"}}),
              at + "albedo map " + (folder / "text.png").string() + ": is not a PNG file");
}

TEST(HeightMapFile, BadKeysAreRefusedWithTheirPlace) {
    TestFolder folder;
    TestPng::Write(folder / "good.png", Flat16(4, 4));
    const std::string at = "station file " + folder.StationFile() + " at /cameras/0/scene/object";
    const Json glossy = {{"type", "glossy"}, {"roughness", 0.2}, {"specular", 0.4}};
    const std::pair<Json, std::string> cases[] = {
        {Json::object(), ": missing key \"heightMap\""},
        {{{"heightMap", ""}}, "/heightMap: expected a file name"},
        {{{"heightMap", 3}}, "/heightMap: expected a text"},
        {{{"heightMap", "good.png"}, {"heigthScale", 1}}, "/heigthScale: unknown key \"heigthScale\""},
        {{{"heightMap", "good.png"}, {"heightScale", 0}},
         "/heightScale: expected a number from 0.000000001 to 1000"},
        {{{"heightMap", "good.png"}, {"pixelSize", -1}},
         "/pixelSize: expected a number from 0.000001 to 1000"},
        {{{"heightMap", "good.png"}, {"albedoMap", ""}}, "/albedoMap: expected a file name"},
        {{{"heightMap", "good.png"}, {"material", {{"type", "metal"}}}},
         "/material/type: expected \"matte\" or \"glossy\""},
        {{{"heightMap", "good.png"}, {"material", {{"roughness", 0.2}}}}, "/material: missing key \"type\""},
        {{{"heightMap", "good.png"}, {"material", {{"type", "matte"}, {"specular", 0.2}}}},
         "/material/specular: a matte material has no \"specular\": only a glossy one reflects a specular "
         "lobe"},
        {{{"heightMap", "good.png"}, {"material", {{"type", "glossy"}, {"roughness", 0}}}},
         "/material/roughness: expected a number from 0.001 to 1"},
        {{{"heightMap", "good.png"}, {"material", {{"type", "glossy"}, {"specular", 1.5}}}},
         "/material/specular: expected a number from 0 to 1"},
        {{{"heightMap", "good.png"}, {"material", {{"type", "glossy"}, {"shine", 1}}}},
         "/material/shine: unknown key \"shine\""}};
    for (const auto& [object, reason] : cases)
        EXPECT_EQ(ObjectError(folder, object), at + reason) << object.dump();
    EXPECT_EQ(ObjectError(folder, {{"heightMap", "good.png"}, {"material", glossy}}), "");
    // A camera playing back a recording has no scene of its own besides.
    Json station = OwnObjectStation({{"heightMap", "good.png"}}, 64, 48);
    station["cameras"][0]["scene"]["replay"] = "sets";
    EXPECT_THAT(LoadError(station.dump(), folder.StationFile()),
                AllOf(HasSubstr("at /cameras/0/scene/"), HasSubstr("\"replay\" stands alone")));
}

TEST(HeightMapFile, NamesAreRelativeToTheStationFileAndWrittenBackAsGiven) {
    TestFolder folder;
    TestPng::Write(folder / "maps" / "part.png", Flat16(8, 6));
    TestPng::Write(folder / "maps" / "albedo.png", TestPng::Grey(8, 6, 8, std::vector<uint16_t>(48, 200)));
    const Json object = {{"heightMap", "maps/part.png"},
                         {"heightScale", 0.002},
                         {"pixelSize", 0.25},
                         {"albedoMap", "maps/albedo.png"},
                         {"material", {{"type", "glossy"}, {"roughness", 0.15}, {"specular", 0.35}}}};
    Json station = OwnObjectStation(object, 64, 48, 30, 12);
    const auto loaded = Station::FromJson(station.dump(), folder.StationFile());
    const SceneSettings& scene = loaded->Camera("Cam A")->scene;
    ASSERT_TRUE(scene.ownObject);
    EXPECT_DOUBLE_EQ(scene.ownObject->Highest(), 0.2) << "100 levels of 2 um";
    EXPECT_DOUBLE_EQ(scene.ownObject->HalfWidth(), 1.0) << "8 pixels of 0.25 mm";
    // zeb station writes the object as the file gave it, and what it writes loads back the same.
    const std::string text = StationFileText(*loaded);
    const Json written = Json::parse(text)["cameras"][0]["scene"];
    EXPECT_EQ(written["object"], object);
    EXPECT_EQ(written["workingDistance"], 12);
    EXPECT_EQ(written["cameraHeight"], 0) << "glossy objects name where the camera looks from";
    EXPECT_EQ(StationFileText(*Station::FromJson(text, folder.StationFile())), text);
    // From another folder the same names are not found.
    TestFolder elsewhere;
    EXPECT_THROW(Station::FromJson(station.dump(), elsewhere.StationFile()), std::runtime_error);
    // A matte object writes its material's type alone.
    station["cameras"][0]["scene"]["object"] = {{"heightMap", "maps/part.png"}};
    const Json matte = Json::parse(
        StationFileText(*Station::FromJson(station.dump(), folder.StationFile())))["cameras"][0]["scene"];
    EXPECT_EQ(matte["object"]["material"], Json({{"type", "matte"}}));
    EXPECT_FALSE(matte["object"].contains("albedoMap"));
    EXPECT_FALSE(matte.contains("cameraHeight"));
}

} // namespace zeb::station::test
