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
