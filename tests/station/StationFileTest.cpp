// Station files that do not load: each error names the file, the place in it and the reason.
#include "StationRig.h"

#include <gtest/gtest.h>

namespace {
std::string ErrorOf(const std::string& json) {
    return zeb::station::test::LoadError(json, "s.json");
}
} // namespace

TEST(StationFile, ErrorsNameFilePlaceAndReason) {
    EXPECT_EQ(ErrorOf("{"), ErrorOf("{")); // stable
    EXPECT_NE(ErrorOf("{").find("station file s.json: not valid JSON"), std::string::npos);
    EXPECT_NE(ErrorOf(R"({"controllers": 1e999})").find("station file s.json: not valid JSON"),
              std::string::npos)
        << "a number too large for any type";
    const std::string camera =
        R"({"cameras": [{"name": "A", "transport": "Pleora", "scanType": "Areascan", )";
    const std::string cable = R"({"controllers": [{"deviceId": 0}],
        "cameras": [{"name": "A", "transport": "Pleora", "scanType": "Areascan"}], "cables": [{"controller": 0, )";
    const std::pair<std::string, std::string> cases[] = {
        {R"({"controler": []})", "at /controler: unknown key \"controler\""},
        {R"({"controllers": [{"deviceId": "3"}]})", "at /controllers/0/deviceId: expected an integer"},
        {R"({"controllers": [{"deviceId": 3}, {"deviceId": 3}]})",
         "at /controllers/1/deviceId: duplicate device id 3"},
        {R"({"cameras": [{"name": "A", "transport": "Pleora", "scanType": "Areascan"},
                         {"name": "A", "transport": "Pleora", "scanType": "Areascan"}]})",
         "at /cameras/1/name: duplicate camera name \"A\""},
        {cable + R"("port": "Camera9Input0", "camera": "A", "line": "Line0"}]})",
         "at /cables/0/port: no controller port \"Camera9Input0\""},
        {cable + R"("port": "Camera0Input0", "camera": "A", "line": "Line7"}]})",
         "at /cables/0/line: camera \"A\" has no line \"Line7\""},
        {camera + R"("sensor": {"noise": -1}}]})",
         "at /cameras/0/sensor/noise: expected a number from 0 to 100"},
        {camera + R"("sensor": {"gain": 1}}]})", "at /cameras/0/sensor/gain: unknown key \"gain\""},
        {camera + R"("scene": {"object": "cube"}}]})",
         "at /cameras/0/scene/object: expected \"part\", \"sphere\", \"card\", \"sheet\" or a height map "
         "object"},
        {camera + R"("scene": {"fieldOfView": 0}}]})",
         "at /cameras/0/scene/fieldOfView: expected a number from 1 to 10000"},
        {camera + R"("features": {"SensorWidth": "64", "Width": "128"}}]})",
         "at /cameras/0/features/Width: expected a whole number from 1 to 64"},
        {camera + R"("features": {"SensorHeight": "4.5"}}]})",
         "at /cameras/0/features/SensorHeight: expected a whole number from 1 to 65535"},
        {R"({"controllers": [{"deviceId": 0, "transport": {"mmPerRevolution": 0}}]})",
         "at /controllers/0/transport/mmPerRevolution: expected a number from 0.001 to 1000000"},
        {R"({"controllers": [{"deviceId": 0, "triggerInput": {"periodMs": 1e-9}}]})",
         "at /controllers/0/triggerInput: expected 0 < pulseMs < periodMs"},
        {camera + R"("faults": [{"kind": "slow"}]}]})", "at /cameras/0/faults/0/kind: expected \"offline\", "
                                                        "\"transferError\", \"lostTriggers\" or \"stall\""},
        {camera + R"("faults": [{"kind": "stall", "durationMs": 1000.5}]}]})",
         "at /cameras/0/faults/0/durationMs: a stall lasts at most 1000 ms"},
        {R"({"controllers": [{"deviceId": 0, "faults": [{"kind": "offline"}, {"kind": "stall"}]}]})",
         "at /controllers/0/faults/1/kind: a stall is a camera's fault"},
        // Limits a camera could not hold: each is refused where it stands.
        {camera + R"("limits": {"Height": {"min": 100, "max": 10}}}]})",
         "at /cameras/0/limits/Height: expected \"min\" (100) no larger than \"max\" (10)"},
        {camera + R"("limits": {"Height": {"max": 8}}}]})",
         "at /cameras/0/limits/Height: expected \"min\" (16) no larger than \"max\" (8)"},
        {camera + R"("limits": {"Height": {"min": 0, "max": 0}}}]})",
         "at /cameras/0/limits/Height/min: expected a whole number from 1 to 1000000000"},
        {camera + R"("limits": {"Width": {"increment": 0}}}]})",
         "at /cameras/0/limits/Width/increment: expected a whole number from 1 to 1000000000"},
        {camera + R"("limits": {"OffsetX": {"min": -8}}}]})",
         "at /cameras/0/limits/OffsetX/min: expected a whole number from 0 to 1000000000"},
        {camera + R"("limits": {"ExposureTime": {"min": 0}}}]})",
         "at /cameras/0/limits/ExposureTime/min: expected a number from 0.001 to 1000000000"},
        {camera + R"("limits": {"Gain": {"increment": -1}}}]})",
         "at /cameras/0/limits/Gain/increment: expected a number from 0 to 1000000000"},
        {camera + R"("limits": {"Heigth": {"max": 10}}}]})",
         "at /cameras/0/limits/Heigth: the camera has no numeric feature \"Heigth\""}};
    for (const auto& [json, error] : cases)
        EXPECT_EQ(ErrorOf(json), "station file s.json " + error) << json;
    EXPECT_EQ(ErrorOf(camera + R"("faults": [{"kind": "stall", "durationMs": 1000}]}]})"), "");
    EXPECT_EQ(ErrorOf(camera + R"("limits": {"Height": {"min": 16, "max": 16, "increment": 2}, )"
                               R"("Gain": {"min": -6, "max": 12, "increment": 0.5}}}]})"),
              "");
    // The earlier name of the uniform card still loads.
    EXPECT_EQ(ErrorOf(camera + R"("scene": {"object": "grey"}}]})"), "");
}
