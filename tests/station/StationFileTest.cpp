#include "Station.h"

#include <gtest/gtest.h>

using zeb::station::Station;

namespace {
std::string ErrorOf(const std::string& json) {
    try {
        Station::FromJson(json, "s.json");
    } catch (const std::exception& error) {
        return error.what();
    }
    return "";
}
} // namespace

TEST(StationFile, DefaultStationHasTwoWiredChannels) {
    auto station = Station::Default();
    ASSERT_NE(station->Controller(0), nullptr);
    ASSERT_NE(station->Controller(1), nullptr);
    EXPECT_EQ(station->Cameras().size(), 2u);
    EXPECT_EQ(station->Cables().size(), 4u);
}

TEST(StationFile, ErrorsNameFilePlaceAndReason) {
    EXPECT_EQ(ErrorOf("{"), ErrorOf("{")); // stable
    EXPECT_NE(ErrorOf("{").find("station file s.json: not valid JSON"), std::string::npos);
    EXPECT_EQ(ErrorOf(R"({"controler": []})"),
              "station file s.json at /controler: unknown key \"controler\"");
    EXPECT_EQ(ErrorOf(R"({"controllers": [{"deviceId": "3"}]})"),
              "station file s.json at /controllers/0/deviceId: expected an integer");
    EXPECT_EQ(ErrorOf(R"({"controllers": [{"deviceId": 3}, {"deviceId": 3}]})"),
              "station file s.json at /controllers/1/deviceId: duplicate device id 3");
    EXPECT_EQ(ErrorOf(R"({"cameras": [{"name": "A", "transport": "Pleora", "scanType": "Areascan"},
                                      {"name": "A", "transport": "Pleora", "scanType": "Areascan"}]})"),
              "station file s.json at /cameras/1/name: duplicate camera name \"A\"");
    EXPECT_EQ(ErrorOf(R"({"controllers": [{"deviceId": 0}],
                          "cameras": [{"name": "A", "transport": "Pleora", "scanType": "Areascan"}],
                          "cables": [{"controller": 0, "port": "Camera9Input0", "camera": "A", "line": "Line0"}]})"),
              "station file s.json at /cables/0/port: no controller port \"Camera9Input0\"");
    EXPECT_EQ(ErrorOf(R"({"controllers": [{"deviceId": 0}],
                          "cameras": [{"name": "A", "transport": "Pleora", "scanType": "Areascan"}],
                          "cables": [{"controller": 0, "port": "Camera0Input0", "camera": "A", "line": "Line7"}]})"),
              "station file s.json at /cables/0/line: camera \"A\" has no line \"Line7\"");
}

TEST(StationFile, OpticsSensorAndRegionAreChecked) {
    EXPECT_NE(ErrorOf(R"({"controllers": 1e999})").find("station file s.json: not valid JSON"),
              std::string::npos)
        << "a number too large for any type";
    const std::string camera =
        R"({"cameras": [{"name": "A", "transport": "Pleora", "scanType": "Areascan", )";
    EXPECT_EQ(ErrorOf(camera + R"("sensor": {"noise": -1}}]})"),
              "station file s.json at /cameras/0/sensor/noise: expected a number from 0 to 100");
    EXPECT_EQ(ErrorOf(camera + R"("sensor": {"gain": 1}}]})"),
              "station file s.json at /cameras/0/sensor/gain: unknown key \"gain\"");
    EXPECT_EQ(ErrorOf(camera + R"("scene": {"object": "cube"}}]})"),
              "station file s.json at /cameras/0/scene/object: expected \"part\", \"sphere\", \"card\" or "
              "\"sheet\"");
    EXPECT_EQ(ErrorOf(camera + R"("scene": {"fieldOfView": 0}}]})"),
              "station file s.json at /cameras/0/scene/fieldOfView: expected a number from 1 to 10000");
    EXPECT_EQ(ErrorOf(camera + R"("features": {"SensorWidth": "64", "Width": "128"}}]})"),
              "station file s.json at /cameras/0/features/Width: expected a whole number from 1 to 64");
    EXPECT_EQ(
        ErrorOf(camera + R"("features": {"SensorHeight": "4.5"}}]})"),
        "station file s.json at /cameras/0/features/SensorHeight: expected a whole number from 1 to 65535");
    EXPECT_EQ(
        ErrorOf(R"({"controllers": [{"deviceId": 0, "transport": {"mmPerRevolution": 0}}]})"),
        "station file s.json at /controllers/0/transport/mmPerRevolution: expected a number from 0.001 to "
        "1000000");
    EXPECT_EQ(ErrorOf(R"({"controllers": [{"deviceId": 0, "triggerInput": {"periodMs": 1e-9}}]})"),
              "station file s.json at /controllers/0/triggerInput: expected 0 < pulseMs < periodMs");
    // The earlier name of the uniform card still loads.
    EXPECT_EQ(ErrorOf(camera + R"("scene": {"object": "grey"}}]})"), "");
}
