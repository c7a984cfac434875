// Station files for tests: the pieces of a station as JSON that a test adjusts before use.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace zeb::test {

using Json = nlohmann::json;

inline Json AreaController(int id = 0) {
    return {{"deviceId", id},
            {"serial", "MV-" + std::to_string(1000 + id)},
            {"light", "Dome M"},
            {"domeRotation", 180},
            {"registers", {{"Info.ScanType", "Areascan"}}},
            {"triggerInput", {{"periodMs", 20}, {"pulseMs", 2}}}};
}

inline Json LineController(int id = 0) {
    return {{"deviceId", id},
            {"serial", "MV-" + std::to_string(1000 + id)},
            {"light", "Dome L"},
            {"domeRotation", 270},
            {"registers", {{"Info.ScanType", "Linescan"}}},
            {"encoder", {{"connected", true}, {"speed", 2.0}}},
            {"triggerInput", {{"periodMs", 20}, {"pulseMs", 2}}}};
}

// Sizes the camera's sensor and image to width x height pixels (a line camera's width alone: height 0).
inline void SizeCamera(Json& camera, int width, int height = 0) {
    camera["features"]["SensorWidth"] = camera["features"]["Width"] = std::to_string(width);
    if (height > 0)
        camera["features"]["SensorHeight"] = camera["features"]["Height"] = std::to_string(height);
}

// A sensor without temporal noise or dark offset: the same scene gives the same pixels every time.
inline Json ExactSensor() {
    return {{"noise", 0}, {"darkOffset", 0}};
}

// A small area-scan camera so that tests stay fast: 64 x 48 pixels, exact pixels.
inline Json AreaCamera(const std::string& name = "Cam A", const std::string& model = "VCXG-25M") {
    return {{"name", name},
            {"transport", "Pleora"},
            {"scanType", "Areascan"},
            {"features",
             {{"DeviceModelName", model},
              {"DeviceSerialNumber", "S-" + name},
              {"SensorWidth", "64"},
              {"SensorHeight", "48"},
              {"Width", "64"},
              {"Height", "48"}}},
            {"sensor", ExactSensor()}};
}

inline Json LineCamera(const std::string& name = "Line A") {
    return {{"name", name},
            {"transport", "MicroEnable"},
            {"scanType", "Linescan"},
            {"features",
             {{"DeviceModelName", "LSC-2048M"},
              {"DeviceSerialNumber", "S-" + name},
              {"SensorWidth", "128"},
              {"Width", "128"},
              {"Height", "16"}}},
            {"sensor", ExactSensor()}};
}

inline Json Cable(int controller, const std::string& port, const std::string& camera, const std::string& line,
                  bool inverted = false) {
    return {{"controller", controller},
            {"port", port},
            {"camera", camera},
            {"line", line},
            {"inverted", inverted}};
}

// Trigger from Camera0Output0 to Line0, ready from Line1 to Camera0Input0.
inline Json AreaCables(int controller, const std::string& camera) {
    return Json::array({Cable(controller, "Camera0Output0", camera, "Line0"),
                        Cable(controller, "Camera0Input0", camera, "Line1")});
}

inline Json LineCables(int controller, const std::string& camera) {
    return Json::array(
        {Cable(controller, "AuxOutput0", camera, "Line0"), Cable(controller, "AuxOutput1", camera, "Line1")});
}

// A fault of `kind` on the `count`-th `operation` on `name` (any name when empty), lasting
// `durationMs` from `delayMs` after it (offline faults).
inline Json StationFault(const std::string& kind, const std::string& operation, const std::string& name,
                         int count, double durationMs = 0, double delayMs = 0) {
    Json fault = {{"kind", kind}, {"after", {{"operation", operation}, {"count", count}}}};
    if (!name.empty())
        fault["after"]["name"] = name;
    if (durationMs > 0)
        fault["durationMs"] = durationMs;
    if (delayMs > 0)
        fault["delayMs"] = delayMs;
    return fault;
}

inline Json AreaStation() {
    return {{"controllers", Json::array({AreaController(0)})},
            {"cameras", Json::array({AreaCamera()})},
            {"cables", AreaCables(0, "Cam A")}};
}

inline Json LineStation() {
    return {{"controllers", Json::array({LineController(0)})},
            {"cameras", Json::array({LineCamera()})},
            {"cables", LineCables(0, "Line A")}};
}

// The area-scan station on controller 0 and the line-scan one on controller 1, each wired.
inline Json AreaAndLineStation() {
    Json station = AreaStation();
    station["controllers"].push_back(LineController(1));
    station["cameras"].push_back(LineCamera());
    for (const Json& cable : LineCables(1, "Line A"))
        station["cables"].push_back(cable);
    return station;
}

// The area-scan station with `object` under a width x height camera with `sensor`, the Dome M
// mounted at `rotation` degrees.
inline Json AreaSceneStation(const std::string& object, int width, int height, const Json& sensor,
                             int rotation = 0) {
    Json station = AreaStation();
    station["controllers"][0]["domeRotation"] = rotation;
    Json& camera = station["cameras"][0];
    SizeCamera(camera, width, height);
    camera["scene"] = {{"object", object}};
    camera["sensor"] = sensor;
    return station;
}

} // namespace zeb::test
