// Reading a station from its JSON file; every error names the file, the place and the reason.
#include "CameraFeatures.h"
#include "Devices.h"
#include "HeightMap.h"
#include "ModuleLifetime.h"
#include "Station.h"
#include "StationFileKeys.h"
#include "StationLoader.h"
#include "Tamo/Log.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <set>
#include <span>
#include <sstream>
#include <stdexcept>

namespace zeb::station {

using Json = StationLoader::Json;

namespace {
// The longest pause a stall fault holds the calling thread.
constexpr Nanoseconds MaxStall = 1'000'000'000;
} // namespace

std::unique_ptr<Station> StationLoader::Load(const std::string& text) {
    Json root;
    try {
        root = Json::parse(text);
    } catch (const Json::exception& error) { // a syntax error, or a number too large for any type
        Fail("", std::string("not valid JSON: ") + error.what());
    }
    auto station = std::unique_ptr<Station>(new Station());
    Object(root, "", keys::Root);
    if (root.contains("controllers"))
        for (size_t i = 0; i < Array(root["controllers"], "/controllers").size(); ++i)
            LoadController(*station, root["controllers"][i], "/controllers/" + std::to_string(i));
    if (root.contains("cameras"))
        for (size_t i = 0; i < Array(root["cameras"], "/cameras").size(); ++i)
            LoadCamera(*station, root["cameras"][i], "/cameras/" + std::to_string(i));
    if (root.contains("cables"))
        for (size_t i = 0; i < Array(root["cables"], "/cables").size(); ++i)
            LoadCable(*station, root["cables"][i], "/cables/" + std::to_string(i));
    return station;
}

std::vector<Fault> StationLoader::LoadFaults(const Json& list, const std::string& place) const {
    std::vector<Fault> faults;
    for (size_t i = 0; i < Array(list, place).size(); ++i) {
        const Json& item = list[i];
        const std::string at = place + "/" + std::to_string(i);
        Object(item, at, keys::Fault);
        Fault fault;
        if (!item.contains("kind"))
            Fail(at, "missing key \"kind\"");
        fault.kind = Text(item["kind"], at + "/kind");
        if (fault.kind != "offline" && fault.kind != "transferError" && fault.kind != "lostTriggers" &&
            fault.kind != "stall")
            Fail(at + "/kind", "expected \"offline\", \"transferError\", \"lostTriggers\" or \"stall\"");
        if (item.contains("after")) {
            const Json& after = item["after"];
            Object(after, at + "/after", keys::FaultAfter);
            if (!after.contains("operation"))
                Fail(at + "/after", "missing key \"operation\"");
            fault.trigger.operation = Text(after["operation"], at + "/after/operation");
            if (after.contains("name"))
                fault.trigger.name = Text(after["name"], at + "/after/name");
            if (after.contains("count"))
                fault.trigger.count =
                    static_cast<int32_t>(Integer(after["count"], at + "/after/count", 1, 1000000));
        }
        if (fault.kind == "transferError" || fault.kind == "stall")
            fault.trigger.operation = fault.trigger.operation.empty() ? "frame" : fault.trigger.operation;
        if (fault.kind == "lostTriggers")
            fault.trigger.operation = fault.trigger.operation.empty() ? "trigger" : fault.trigger.operation;
        if (item.contains("durationMs"))
            fault.duration =
                static_cast<Nanoseconds>(Number(item["durationMs"], at + "/durationMs", 0, 1e9) * 1e6);
        // A stall holds the calling thread: long enough to starve a host, short enough to end.
        if (fault.kind == "stall" && fault.duration > MaxStall)
            Fail(at + "/durationMs", "a stall lasts at most 1000 ms");
        if (item.contains("delayMs"))
            fault.delay = static_cast<Nanoseconds>(Number(item["delayMs"], at + "/delayMs", 0, 1e9) * 1e6);
        if (item.contains("count"))
            fault.count = static_cast<int32_t>(Integer(item["count"], at + "/count", 1, 1000000));
        faults.push_back(fault);
    }
    return faults;
}

void StationLoader::LoadController(Station& station, const Json& item, const std::string& at) {
    Object(item, at, keys::Controller);
    if (!item.contains("deviceId"))
        Fail(at, "missing key \"deviceId\"");
    auto controller = std::make_unique<SimController>();
    SimController& c = *controller;
    c.deviceId = static_cast<int32_t>(Integer(item["deviceId"], at + "/deviceId", 0, 255));
    if (station._devices.controllers.count(c.deviceId))
        Fail(at + "/deviceId", "duplicate device id " + std::to_string(c.deviceId));
    char serial[32];
    std::snprintf(serial, sizeof serial, "MV-%06d", 100 + c.deviceId);
    c.serial = item.contains("serial") ? Text(item["serial"], at + "/serial") : serial;

    for (const auto& [name, value] : FactoryRegisters()) {
        c.order.push_back(name);
        c.factory[name] = value;
    }
    if (item.contains("registers")) {
        Object(item["registers"], at + "/registers");
        for (const auto& [name, value] : item["registers"].items()) {
            const std::string place = at + "/registers/" + name;
            if (value.is_null()) {
                c.factory.erase(name);
                c.order.erase(std::remove(c.order.begin(), c.order.end(), name), c.order.end());
                continue;
            }
            if (!c.factory.count(name))
                c.order.push_back(name);
            c.factory[name] = Text(value, place);
        }
    }
    // Hardware before version 2 has no second output per camera connector.
    const auto version = c.factory.find("Info.HardwareVersion");
    if (version != c.factory.end() && LeadingInteger(version->second) < 2) {
        for (auto it = c.order.begin(); it != c.order.end();) {
            if (IsVersion2Register(*it)) {
                c.factory.erase(*it);
                it = c.order.erase(it);
            } else {
                ++it;
            }
        }
    }
    c.registers = c.factory;

    if (item.contains("light")) {
        const Json& light = item["light"];
        if (light.is_string()) {
            const std::string model = light.get<std::string>();
            const double current = model == "None"     ? 0
                                   : model == "Dome S" ? 1050
                                   : model == "Dome M" ? 2800
                                   : model == "Dome L" ? 5600
                                                       : -1;
            if (current < 0)
                Fail(at + "/light", "expected \"None\", \"Dome S\", \"Dome M\", \"Dome L\" or four currents");
            c.currents = {current, current, current, current};
        } else if (light.is_array() && light.size() == 4) {
            for (size_t n = 0; n < 4; ++n)
                c.currents[n] = Number(light[n], at + "/light/" + std::to_string(n), 0, 1e6);
        } else {
            Fail(at + "/light", "expected \"None\", \"Dome S\", \"Dome M\", \"Dome L\" or four currents");
        }
    }
    // The dome's size follows its model unless the file gives it.
    const double largest = *std::max_element(c.currents.begin(), c.currents.end());
    c.domeRadius = largest == 1050 ? 50 : largest == 5600 ? 150 : DefaultDomeRadius;
    if (item.contains("domeRadius"))
        c.domeRadius = Number(item["domeRadius"], at + "/domeRadius", 10, 10000);
    if (item.contains("connectFailures"))
        c.connectFailures =
            static_cast<int32_t>(Integer(item["connectFailures"], at + "/connectFailures", 0, 1000000));
    if (item.contains("domeRotation")) {
        c.domeRotation = static_cast<int32_t>(Integer(item["domeRotation"], at + "/domeRotation", 0, 270));
        if (c.domeRotation % 90 != 0)
            Fail(at + "/domeRotation", "expected 0, 90, 180 or 270");
    }
    if (item.contains("encoderMaximum"))
        c.maxEncoderIncrements =
            static_cast<uint32_t>(Integer(item["encoderMaximum"], at + "/encoderMaximum", 1, 4294967295LL));
    if (item.contains("encoder")) {
        const Json& encoder = item["encoder"];
        Object(encoder, at + "/encoder", keys::Encoder);
        c.encoder.connected =
            encoder.contains("connected") ? Boolean(encoder["connected"], at + "/encoder/connected") : true;
        if (encoder.contains("speed"))
            c.encoder.speed = Number(encoder["speed"], at + "/encoder/speed", -1000, 1000);
        if (encoder.contains("travel") && !encoder["travel"].is_null())
            c.encoder.travel = Number(encoder["travel"], at + "/encoder/travel", -1e6, 1e6);
    }
    if (item.contains("transport")) {
        const Json& transport = item["transport"];
        Object(transport, at + "/transport", keys::Transport);
        if (transport.contains("mmPerRevolution"))
            c.transport.millimetresPerRevolution =
                Number(transport["mmPerRevolution"], at + "/transport/mmPerRevolution", 0.001, 1e6);
        if (transport.contains("speed"))
            c.transport.speed = Number(transport["speed"], at + "/transport/speed", -1e5, 1e5);
    }
    if (item.contains("triggerInput") && !item["triggerInput"].is_null()) {
        const Json& input = item["triggerInput"];
        Object(input, at + "/triggerInput", keys::TriggerInput);
        const double period = input.contains("periodMs")
                                  ? Number(input["periodMs"], at + "/triggerInput/periodMs", -1e9, 1e9)
                                  : 100;
        const double pulse = input.contains("pulseMs")
                                 ? Number(input["pulseMs"], at + "/triggerInput/pulseMs", -1e9, 1e9)
                                 : period / 10;
        if (period <= 0 || pulse <= 0 || pulse >= period || period * 1e6 < 1)
            Fail(at + "/triggerInput", "expected 0 < pulseMs < periodMs");
        c.triggerInput.period = static_cast<Nanoseconds>(period * 1e6);
        c.triggerInput.pulse = static_cast<Nanoseconds>(pulse * 1e6);
    }
    if (item.contains("faults"))
        c.faults = LoadFaults(item["faults"], at + "/faults");
    for (size_t i = 0; i < c.faults.size(); ++i)
        if (c.faults[i].kind == "stall")
            Fail(at + "/faults/" + std::to_string(i) + "/kind", "a stall is a camera's fault");
    station._devices.controllers[c.deviceId] = std::move(controller);
}

void StationLoader::LoadCamera(Station& station, const Json& item, const std::string& at) {
    Object(item, at, keys::Camera);
    for (const char* key : {"name", "transport", "scanType"})
        if (!item.contains(key))
            Fail(at, std::string("missing key \"") + key + "\"");
    auto camera = std::make_unique<SimCamera>();
    SimCamera& c = *camera;
    c.name = Text(item["name"], at + "/name");
    if (c.name.empty())
        Fail(at + "/name", "expected a name that is not empty");
    if (station.Camera(c.name))
        Fail(at + "/name", "duplicate camera name \"" + c.name + "\"");
    c.transport = Text(item["transport"], at + "/transport");
    if (c.transport != "Pleora" && c.transport != "MicroEnable")
        Fail(at + "/transport", "expected \"Pleora\" or \"MicroEnable\"");
    c.scanType = Text(item["scanType"], at + "/scanType");
    if (c.scanType != "Areascan" && c.scanType != "Linescan")
        Fail(at + "/scanType", "expected \"Areascan\" or \"Linescan\"");
    c.features = DefaultCameraFeatures(c.scanType, c.transport);
    c.limits = DefaultCameraLimits(c.scanType);
    c.lines = DefaultCameraLines(c.scanType);
    c.sensitivity = c.Linescan() ? 0.052 : 0.0078;
    c.scene.fieldOfView = c.Linescan() ? DefaultLineFieldOfView : DefaultAreaFieldOfView;
    if (item.contains("features")) {
        Object(item["features"], at + "/features");
        for (const auto& [name, value] : item["features"].items())
            c.features[name] = Text(value, at + "/features/" + name);
        // The trigger's mode and source belong to the selector the file leaves in force.
        for (const char* name : {"TriggerMode", "TriggerSource"})
            if (const auto given = c.features.find(name); given != c.features.end()) {
                c.features[std::string(name) + "[" + c.features["TriggerSelector"] + "]"] = given->second;
                c.features.erase(given);
            }
    }
    if (item.contains("lines")) {
        c.lines.clear();
        std::set<std::string> names;
        for (size_t i = 0; i < Array(item["lines"], at + "/lines").size(); ++i) {
            const std::string place = at + "/lines/" + std::to_string(i);
            const Json& line = item["lines"][i];
            Object(line, place, keys::Line);
            if (!line.contains("name") || !line.contains("mode"))
                Fail(place, "expected \"name\" and \"mode\"");
            CameraLine entry{Text(line["name"], place + "/name"), Text(line["mode"], place + "/mode")};
            if (entry.mode != "Input" && entry.mode != "Output")
                Fail(place + "/mode", "expected \"Input\" or \"Output\"");
            if (!names.insert(entry.name).second)
                Fail(place + "/name", "duplicate line \"" + entry.name + "\"");
            c.lines.push_back(entry);
        }
        if (!c.lines.empty())
            c.features["LineSelector"] = c.lines.front().name;
    }
    if (item.contains("scene"))
        LoadScene(c, item, at);
    CheckRegion(c, at + "/features");
    if (c.recording && !c.Linescan()) {
        const std::string mismatch = c.recording->Mismatch(c.Int("Width"), c.Int("Height"), false);
        if (!mismatch.empty())
            Fail(at + "/scene/replay", mismatch);
    }
    if (c.recording && c.Int("Width") != c.recording->Width())
        Fail(at + "/scene/replay", c.recording->Mismatch(c.Int("Width"), c.recording->Rows(), true));
    if (item.contains("limits"))
        LoadLimits(c, item["limits"], at + "/limits");
    if (item.contains("sensor")) {
        const Json& sensor = item["sensor"];
        const std::string place = at + "/sensor";
        Object(sensor, place, keys::Sensor);
        if (sensor.contains("electronsPerGrey"))
            c.sensor.electronsPerGrey =
                Number(sensor["electronsPerGrey"], place + "/electronsPerGrey", 0.01, 1e6);
        if (sensor.contains("readNoise"))
            c.sensor.readNoise = Number(sensor["readNoise"], place + "/readNoise", 0, 1e6);
        if (sensor.contains("darkOffset"))
            c.sensor.darkOffset = Number(sensor["darkOffset"], place + "/darkOffset", 0, 255);
        if (sensor.contains("noise"))
            c.sensor.noise = Number(sensor["noise"], place + "/noise", 0, 100);
        if (sensor.contains("seed"))
            c.sensor.seed = static_cast<uint64_t>(Integer(sensor["seed"], place + "/seed", 0, INT64_MAX));
    }
    if (item.contains("sensitivity"))
        c.sensitivity = Number(item["sensitivity"], at + "/sensitivity", 0, 1000);
    if (item.contains("readoutNsPerRow"))
        c.readoutPerRow = Integer(item["readoutNsPerRow"], at + "/readoutNsPerRow", 0, 1000000000);
    if (item.contains("grabberMemory"))
        c.grabberMemory = Integer(item["grabberMemory"], at + "/grabberMemory", 0, INT64_MAX);
    if (item.contains("faults"))
        c.faults = LoadFaults(item["faults"], at + "/faults");
    station._devices.cameras.push_back(std::move(camera));
}

// Limits the camera can hold: a numeric feature of the camera's, whole numbers from 1 for sizes and
// from 0 for the other integers, an exposure above 0, and the minimum no larger than the maximum.
// An integer's increment is at least 1; a float's 0 means any value.
void StationLoader::LoadLimits(SimCamera& c, const Json& list, const std::string& at) const {
    constexpr double Largest = 1e9;
    Object(list, at);
    for (const auto& item : list.items()) {
        // Named, not a structured binding: the lambda below captures them.
        const std::string name = item.key();
        const Json& value = item.value();
        const std::string place = at + "/" + name;
        Object(value, place, keys::Limits);
        const auto traits = CameraFeatureTraits(c, name);
        if (!traits || (traits->kind != FeatureKind::Int && traits->kind != FeatureKind::Float))
            Fail(place, "the camera has no numeric feature \"" + name + "\"");
        const bool whole = traits->kind == FeatureKind::Int;
        const bool size =
            name == "Width" || name == "Height" || name == "SensorWidth" || name == "SensorHeight";
        const auto limit = [&](const char* key, double lowest) {
            const std::string keyPlace = place + "/" + key;
            if (!whole)
                return std::isinf(lowest) ? Number(value[key], keyPlace)
                                          : Number(value[key], keyPlace, lowest, Largest);
            const double number = Number(value[key], keyPlace);
            if (number != std::floor(number) || number < lowest || number > Largest)
                Fail(keyPlace,
                     "expected a whole number from " + NumberText(lowest) + " to " + NumberText(Largest));
            return number;
        };
        const double lowest =
            whole ? (size ? 1 : 0)
                  : (name == "ExposureTime" ? 0.001 : -std::numeric_limits<double>::infinity());
        FeatureLimits& limits = c.limits[name];
        if (value.contains("min"))
            limits.minimum = limit("min", lowest);
        if (value.contains("max"))
            limits.maximum = limit("max", lowest);
        if (value.contains("increment"))
            limits.increment = limit("increment", whole ? 1 : 0);
        if (limits.minimum > limits.maximum)
            Fail(place, "expected \"min\" (" + NumberText(limits.minimum) + ") no larger than \"max\" (" +
                            NumberText(limits.maximum) + ")");
    }
}

// The sensor and the region of interest: whole numbers that fit together, and a sensor of at
// most 64 megapixels.
void StationLoader::CheckRegion(const SimCamera& c, const std::string& place) const {
    const int64_t sensorWidth = FeatureInteger(c, "SensorWidth", place, 1, 65535);
    const int64_t sensorHeight = FeatureInteger(c, "SensorHeight", place, 1, 65535);
    if (sensorWidth * sensorHeight > (int64_t{1} << 26))
        Fail(place, "expected a sensor of at most 67108864 pixels");
    const int64_t width = FeatureInteger(c, "Width", place, 1, sensorWidth);
    FeatureInteger(c, "OffsetX", place, 0, sensorWidth - width);
    if (c.Linescan()) {
        FeatureInteger(c, "Height", place, 1, 65535);
    } else {
        const int64_t height = FeatureInteger(c, "Height", place, 1, sensorHeight);
        FeatureInteger(c, "OffsetY", place, 0, sensorHeight - height);
    }
}

void StationLoader::LoadCable(Station& station, const Json& item, const std::string& at) {
    Object(item, at, keys::Cable);
    for (const char* key : {"controller", "port", "camera", "line"})
        if (!item.contains(key))
            Fail(at, std::string("missing key \"") + key + "\"");
    Cable cable;
    cable.controller = static_cast<int32_t>(Integer(item["controller"], at + "/controller", 0, 255));
    if (!station.Controller(cable.controller))
        Fail(at + "/controller", "no controller with device id " + std::to_string(cable.controller));
    cable.port = Text(item["port"], at + "/port");
    if (!IsControllerPort(cable.port))
        Fail(at + "/port", "no controller port \"" + cable.port + "\"");
    const std::string_view polarity =
        cable.port.starts_with("Camera") ? PolarityRegister(cable.port) : std::string_view();
    if (!polarity.empty() && !station.Controller(cable.controller)->registers.contains(polarity))
        Fail(at + "/port",
             "controller " + std::to_string(cable.controller) + " has no port \"" + cable.port + "\"");
    cable.camera = Text(item["camera"], at + "/camera");
    SimCamera* camera = station.Camera(cable.camera);
    if (!camera)
        Fail(at + "/camera", "no camera named \"" + cable.camera + "\"");
    cable.line = Text(item["line"], at + "/line");
    if (!camera->Line(cable.line))
        Fail(at + "/line", "camera \"" + cable.camera + "\" has no line \"" + cable.line + "\"");
    if (item.contains("inverted"))
        cable.inverted = Boolean(item["inverted"], at + "/inverted");
    station._devices.cables.push_back(cable);
}

std::unique_ptr<Station> Station::FromJson(const std::string& text, const std::string& fileName,
                                           std::shared_ptr<const FileSource> files) {
    return StationLoader(fileName, std::move(files)).Load(text);
}

std::unique_ptr<Station> Station::FromFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("station file " + path + ": cannot be read");
    std::stringstream text;
    text << in.rdbuf();
    if (in.bad())
        throw std::runtime_error("station file " + path + ": cannot be read");
    return FromJson(text.str(), path);
}

std::unique_ptr<Station> Station::Default() {
    return FromJson(DefaultJson(), "(built-in default station)");
}

namespace {
// The process's station, made at its first use and released when the module unloads.
[[gnu::init_priority(zeb::lifetime::Station)]] zeb::lifetime::ModuleObject<Station> theStation;
} // namespace

Station& Station::Instance() {
    return theStation.Get([] {
        const char* path = std::getenv("ZEB_STATION");
        try {
            return path && *path ? FromFile(path) : Default();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "zeb station: %s\n", error.what());
            Tamo::Log::Write(Tamo::Error, error.what(), __LINE__, "zeb::station::Station::Instance",
                             "Station");
            return std::unique_ptr<Station>(new Station()); // no devices
        }
    });
}

const char* Station::DefaultJson() {
    return R"json({
  "controllers": [
    { "deviceId": 0, "serial": "MV-000100", "light": "Dome M", "domeRotation": 180,
      "registers": { "Info.ScanType": "Areascan", "Info.DeviceMode": "Surface" },
      "triggerInput": { "periodMs": 100, "pulseMs": 10 } },
    { "deviceId": 1, "serial": "MV-000101", "light": "Dome L", "domeRotation": 270,
      "registers": { "Info.ScanType": "Linescan", "Info.DeviceMode": "Cylinder" },
      "encoder": { "connected": true, "speed": 1.0 },
      "triggerInput": { "periodMs": 100, "pulseMs": 10 } }
  ],
  "cameras": [
    { "name": "GigE 00:11:1c:00:00:01", "transport": "Pleora", "scanType": "Areascan",
      "features": { "DeviceModelName": "VCXG-25M", "DeviceSerialNumber": "700001",
                    "SensorWidth": "1280", "SensorHeight": "1024", "Width": "1280", "Height": "1024" },
      "lines": [ { "name": "Line0", "mode": "Input" }, { "name": "Line1", "mode": "Output" },
                 { "name": "Line2", "mode": "Input" }, { "name": "Line3", "mode": "Output" } ] },
    { "name": "Grabber 0 Port A", "transport": "MicroEnable", "scanType": "Linescan",
      "features": { "DeviceModelName": "LSC-2048M", "DeviceSerialNumber": "800001",
                    "SensorWidth": "2048", "Width": "2048", "Height": "512" },
      "lines": [ { "name": "Line0", "mode": "Input" }, { "name": "Line1", "mode": "Input" },
                 { "name": "Line2", "mode": "Output" } ] }
  ],
  "cables": [
    { "controller": 0, "port": "Camera0Output0", "camera": "GigE 00:11:1c:00:00:01", "line": "Line0", "inverted": false },
    { "controller": 0, "port": "Camera0Input0", "camera": "GigE 00:11:1c:00:00:01", "line": "Line1", "inverted": false },
    { "controller": 1, "port": "AuxOutput0", "camera": "Grabber 0 Port A", "line": "Line0", "inverted": false },
    { "controller": 1, "port": "AuxOutput1", "camera": "Grabber 0 Port A", "line": "Line1", "inverted": false }
  ]
})json";
}

} // namespace zeb::station
