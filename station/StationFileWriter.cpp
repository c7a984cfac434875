#include "StationFileWriter.h"

#include "CameraFeatures.h"
#include "Devices.h"
#include "Station.h"
#include "StationFileKeys.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <map>
#include <span>
#include <stdexcept>

namespace zeb::station {

namespace {

using Json = nlohmann::ordered_json;

// A value left out of the file (a fault that strikes at once has no "after").
const Json Absent(Json::value_t::discarded);

// The object of `keys`, in their order, from values given for exactly these keys; a key without a
// value, or a value for no key, is a fault of this writer.
Json InOrder(std::span<const char* const> keys, std::map<std::string, Json> values) {
    Json object = Json::object();
    for (const char* key : keys) {
        const auto found = values.find(key);
        if (found == values.end())
            throw std::logic_error(std::string("station file writer: no value for \"") + key + "\"");
        if (!found->second.is_discarded())
            object[key] = found->second;
        values.erase(found);
    }
    if (!values.empty())
        throw std::logic_error("station file writer: \"" + values.begin()->first +
                               "\" is no station-file key");
    return object;
}

// Whole numbers as integers, so a file reads 100 rather than 100.0.
Json Number(double value) {
    if (std::isfinite(value) && std::floor(value) == value && std::fabs(value) < 9007199254740992.0)
        return static_cast<int64_t>(value);
    return value;
}

// Milliseconds that the reader turns back into exactly `nanoseconds`.
Json Milliseconds(Nanoseconds nanoseconds) {
    double milliseconds = static_cast<double>(nanoseconds) / 1e6;
    for (int step = 0; step < 16; ++step) {
        const auto back = static_cast<Nanoseconds>(milliseconds * 1e6);
        if (back == nanoseconds)
            break;
        milliseconds = std::nextafter(milliseconds, back < nanoseconds ? INFINITY : -INFINITY);
    }
    return Number(milliseconds);
}

Json Light(const SimController& controller) {
    const auto& currents = controller.currents;
    if (std::all_of(currents.begin(), currents.end(), [&](double current) { return current == currents[0]; }))
        for (const auto& [model, current] : {std::pair{"None", 0.0}, std::pair{"Dome S", 1050.0},
                                             std::pair{"Dome M", 2800.0}, std::pair{"Dome L", 5600.0}})
            if (currents[0] == current)
                return model;
    Json list = Json::array();
    for (double current : currents)
        list.push_back(Number(current));
    return list;
}

// The registers that identify a controller are always written; the others where they differ from
// the factory set (null for one the file removed).
Json Registers(const SimController& controller) {
    const TextMap& held = controller.factory;
    std::map<std::string, std::string> factory;
    for (const auto& [name, value] : FactoryRegisters())
        factory[name] = value;
    const auto version = held.find("Info.HardwareVersion");
    const bool version1 = version != held.end() && LeadingInteger(version->second) < 2;

    Json registers = Json::object();
    auto write = [&](const std::string& name) {
        const auto found = held.find(name);
        registers[name] = found == held.end() ? Json(nullptr) : Json(found->second);
    };
    for (const char* name : {"Info.DeviceMode", "Info.HardwareVersion", "Info.ScanType"})
        write(name);
    for (const auto& [name, value] : factory)
        if (!held.count(name) && !(version1 && IsVersion2Register(name)))
            write(name);
    for (const std::string& name : controller.order) {
        const auto standard = factory.find(name);
        if (standard == factory.end() || standard->second != held.at(name))
            if (!registers.contains(name))
                write(name);
    }
    return registers;
}

Json Faults(const std::vector<Fault>& faults) {
    Json list = Json::array();
    for (const Fault& fault : faults) {
        const FaultTrigger& trigger = fault.trigger;
        const Json after =
            trigger.operation.empty()
                ? Absent
                : InOrder(keys::FaultAfter, {{"operation", trigger.operation},
                                             {"name", trigger.name.empty() ? Absent : Json(trigger.name)},
                                             {"count", trigger.count}});
        list.push_back(InOrder(keys::Fault, {{"kind", fault.kind},
                                             {"after", after},
                                             {"durationMs", Milliseconds(fault.duration)},
                                             {"delayMs", Milliseconds(fault.delay)},
                                             {"count", fault.count}}));
    }
    return list;
}

Json ControllerEntry(const SimController& c) {
    const Json triggerInput =
        c.triggerInput.period > 0
            ? InOrder(keys::TriggerInput, {{"periodMs", Milliseconds(c.triggerInput.period)},
                                           {"pulseMs", Milliseconds(c.triggerInput.pulse)}})
            : Json(nullptr);
    const Json travel = c.encoder.travel ? Number(*c.encoder.travel) : Json(nullptr);
    return InOrder(keys::Controller,
                   {{"deviceId", c.deviceId},
                    {"serial", c.serial},
                    {"light", Light(c)},
                    {"connectFailures", c.connectFailures},
                    {"registers", Registers(c)},
                    {"domeRotation", c.domeRotation},
                    {"domeRadius", Number(c.domeRadius)},
                    {"triggerInput", triggerInput},
                    {"encoder", InOrder(keys::Encoder, {{"connected", c.encoder.connected},
                                                        {"speed", Number(c.encoder.speed)},
                                                        {"travel", travel}})},
                    {"transport", InOrder(keys::Transport,
                                          {{"mmPerRevolution", Number(c.transport.millimetresPerRevolution)},
                                           {"speed", Number(c.transport.speed)}})},
                    {"encoderMaximum", c.maxEncoderIncrements},
                    {"faults", Faults(c.faults)}});
}

// The features that identify a camera and size its image are always written; the others where they
// differ from the camera's defaults. The trigger's mode and source are kept per trigger selector; a
// file gives them for the selector it leaves in force.
Json Features(const SimCamera& camera) {
    const auto defaults = DefaultCameraFeatures(camera.scanType, camera.transport);
    const std::string selector = "[" + camera.Feature("TriggerSelector") + "]";
    Json features = Json::object();
    for (const char* name :
         {"DeviceModelName", "DeviceSerialNumber", "SensorWidth", "SensorHeight", "Width", "Height"})
        features[name] = camera.Feature(name);
    for (const auto& [name, value] : camera.features) {
        const auto standard = defaults.find(name);
        if (features.contains(name) || (standard != defaults.end() && standard->second == value))
            continue;
        const size_t bracket = name.find('[');
        if (bracket == std::string::npos)
            features[name] = value;
        else if (name.substr(bracket) == selector)
            features[name.substr(0, bracket)] = value;
    }
    return features;
}

Json Limits(const SimCamera& camera) {
    const auto defaults = DefaultCameraLimits(camera.scanType);
    Json limits = Json::object();
    for (const auto& [name, range] : camera.limits) {
        const auto standard = defaults.find(name);
        if (standard != defaults.end() && standard->second.minimum == range.minimum &&
            standard->second.maximum == range.maximum && standard->second.increment == range.increment)
            continue;
        limits[name] = InOrder(keys::Limits, {{"min", Number(range.minimum)},
                                              {"max", Number(range.maximum)},
                                              {"increment", Number(range.increment)}});
    }
    return limits;
}

// The object: a built-in target's name, or a part of one's own with its files as the station file
// named them.
Json ObjectEntry(const SceneSettings& scene) {
    if (!scene.ownObject)
        return scene.object;
    const HeightMapDescription& description = scene.ownObject->Description();
    const Material& m = description.material;
    const Json material = InOrder(keys::Material, {{"type", m.type},
                                                   {"roughness", m.Glossy() ? Number(m.roughness) : Absent},
                                                   {"specular", m.Glossy() ? Number(m.specular) : Absent}});
    return InOrder(keys::OwnObject,
                   {{"heightMap", description.heightMap},
                    {"heightScale", Number(description.heightScale)},
                    {"pixelSize", Number(description.pixelSize)},
                    {"albedoMap", description.albedoMap.empty() ? Absent : Json(description.albedoMap)},
                    {"material", material}});
}

Json SceneEntry(const SceneSettings& scene) {
    if (!scene.replay.empty()) // a recording stands alone
        return InOrder(keys::Scene, {{"object", Absent},
                                     {"replay", scene.replay},
                                     {"defocus", Absent},
                                     {"fieldOfView", Absent},
                                     {"workingDistance", Absent},
                                     {"cameraHeight", Absent}});
    // Where the camera looks from matters to glossy surfaces alone: written for them, or when set.
    const bool glossy = scene.ownObject && scene.ownObject->Description().material.Glossy();
    return InOrder(keys::Scene, {{"object", ObjectEntry(scene)},
                                 {"replay", Absent},
                                 {"defocus", Number(scene.defocus)},
                                 {"fieldOfView", Number(scene.fieldOfView)},
                                 {"workingDistance", Number(scene.workingDistance)},
                                 {"cameraHeight",
                                  glossy || scene.cameraHeight != 0 ? Number(scene.cameraHeight) : Absent}});
}

Json CameraEntry(const SimCamera& c) {
    Json lines = Json::array();
    for (const CameraLine& line : c.lines)
        lines.push_back(InOrder(keys::Line, {{"name", line.name}, {"mode", line.mode}}));
    return InOrder(keys::Camera,
                   {{"name", c.name},
                    {"transport", c.transport},
                    {"scanType", c.scanType},
                    {"features", Features(c)},
                    {"lines", lines},
                    {"limits", Limits(c)},
                    {"scene", SceneEntry(c.scene)},
                    {"sensor", InOrder(keys::Sensor, {{"electronsPerGrey", Number(c.sensor.electronsPerGrey)},
                                                      {"readNoise", Number(c.sensor.readNoise)},
                                                      {"darkOffset", Number(c.sensor.darkOffset)},
                                                      {"noise", Number(c.sensor.noise)},
                                                      {"seed", c.sensor.seed}})},
                    {"sensitivity", Number(c.sensitivity)},
                    {"readoutNsPerRow", c.readoutPerRow},
                    {"grabberMemory", c.grabberMemory},
                    {"faults", Faults(c.faults)}});
}

Json CableEntry(const Cable& cable) {
    return InOrder(keys::Cable, {{"controller", cable.controller},
                                 {"port", cable.port},
                                 {"camera", cable.camera},
                                 {"line", cable.line},
                                 {"inverted", cable.inverted}});
}

std::string Scalar(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// One line for what fits in it, as a person writes a station file; larger objects and lists one
// entry a line.
constexpr size_t LineWidth = 124;

std::string OneLine(const Json& value) {
    if (value.is_object()) {
        if (value.empty())
            return "{}";
        std::string text = "{ ";
        for (auto it = value.begin(); it != value.end(); ++it)
            text += (it == value.begin() ? "" : ", ") + Scalar(it.key()) + ": " + OneLine(it.value());
        return text + " }";
    }
    if (value.is_array()) {
        if (value.empty())
            return "[]";
        std::string text = "[ ";
        for (size_t i = 0; i < value.size(); ++i)
            text += (i ? ", " : "") + OneLine(value[i]);
        return text + " ]";
    }
    return Scalar(value);
}

// `lead`: what stands before the value on its line (indentation and key).
std::string Layout(const Json& value, size_t indent, size_t lead) {
    std::string line = OneLine(value);
    if ((!value.is_object() && !value.is_array()) || lead + line.size() + 1 <= LineWidth)
        return line;
    const std::string inner(indent + 2, ' ');
    std::string text = value.is_object() ? "{\n" : "[\n";
    size_t i = 0;
    for (auto it = value.begin(); it != value.end(); ++it, ++i) {
        text += (i ? ",\n" : "") + inner;
        const std::string key = value.is_object() ? Scalar(it.key()) + ": " : "";
        text += key + Layout(it.value(), indent + 2, inner.size() + key.size());
    }
    return text + "\n" + std::string(indent, ' ') + (value.is_object() ? "}" : "]");
}

} // namespace

std::string StationFileText(Station& station, std::optional<int32_t> controller) {
    if (controller && !station.Controller(*controller))
        throw std::invalid_argument("the station has no controller with device id " +
                                    std::to_string(*controller));
    Json controllers = Json::array(), cameras = Json::array(), cables = Json::array();
    for (const auto& [id, serial] : station.Peers())
        if (!controller || id == *controller)
            controllers.push_back(ControllerEntry(*station.Controller(id)));
    auto wanted = [&](const Cable& cable) { return !controller || cable.controller == *controller; };
    for (const SimCamera* camera : station.Cameras()) {
        const auto& all = station.Cables();
        if (!controller || std::any_of(all.begin(), all.end(), [&](const Cable& cable) {
                return wanted(cable) && cable.camera == camera->name;
            }))
            cameras.push_back(CameraEntry(*camera));
    }
    for (const Cable& cable : station.Cables())
        if (wanted(cable))
            cables.push_back(CableEntry(cable));
    const Json file =
        InOrder(keys::Root, {{"controllers", controllers}, {"cameras", cameras}, {"cables", cables}});
    return Layout(file, 0, 0) + "\n";
}

} // namespace zeb::station
