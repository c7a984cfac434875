#include "CalibrationFile.h"

#include "SphereCalibration.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <stdexcept>

namespace zeb::photometric {

using Json = nlohmann::json;

LightingModel CalibrationRecord::ModelFor(double exposureMicroseconds, double gainDecibels) const {
    if (!std::isfinite(exposureMicroseconds) || !std::isfinite(gainDecibels))
        throw std::invalid_argument("the exposure time and gain must be numbers");
    LightingModel scaled = model;
    if (exposureTime > 0 && exposureMicroseconds > 0) {
        const double factor =
            exposureMicroseconds / exposureTime * std::pow(10.0, (gainDecibels - gain) / 20);
        for (DirectionLight& direction : scaled.directions)
            direction.whiteLevel *= factor;
    }
    return scaled;
}

std::string CalibrationToJson(const CalibrationRecord& r) {
    const LightingModel& m = r.model;
    for (double value : {r.exposureTime, r.gain, r.sphereX, r.sphereY, r.sphereRadius, r.sphereRadiusMm,
                         r.sphereAlbedo, r.meanErrorDegrees, r.p95ErrorDegrees, r.nominalMeanErrorDegrees})
        if (!std::isfinite(value))
            throw std::invalid_argument("a calibration holding a value that is not a number cannot be kept");
    if (const std::string problem = ModelProblem(m); !problem.empty())
        throw std::invalid_argument("a calibration whose lighting cannot be used cannot be kept: " + problem);
    const std::array<LightDirection, 4> lights = LightDirections(m);
    Json steps = Json::array();
    for (size_t k = 0; k < 4; ++k)
        steps.push_back({{"azimuthDegrees", m.directions[k].patch.azimuthDegrees},
                         {"widthDegrees", m.directions[k].patch.widthDegrees},
                         {"whiteLevel", m.directions[k].whiteLevel},
                         {"lightAzimuthDegrees", lights[k].azimuthDegrees},
                         {"lightElevationDegrees", lights[k].elevationDegrees}});
    const Json json = {{"version", CalibrationVersion},
                       {"date", r.date},
                       {"channel", r.channel},
                       {"camera", r.camera},
                       {"domeModel", r.domeModel},
                       {"lightingOrientation", r.lightingOrientation},
                       {"lightingSequence", r.lightingSequence},
                       {"exposureTime", r.exposureTime},
                       {"gain", r.gain},
                       {"geometry",
                        {{"domeRadius", m.domeRadius},
                         {"workingDistance", m.workingDistance},
                         {"fieldOfView", m.camera.fieldOfView},
                         {"sensorWidth", m.camera.sensorWidth},
                         {"sensorHeight", m.camera.sensorHeight},
                         {"lineScan", m.camera.lineScan},
                         {"linePitch", m.camera.linePitch},
                         {"darkLevel", m.darkLevel}}},
                       {"steps", steps},
                       {"sphere",
                        {{"x", r.sphereX},
                         {"y", r.sphereY},
                         {"radius", r.sphereRadius},
                         {"radiusMm", r.sphereRadiusMm},
                         {"albedo", r.sphereAlbedo}}},
                       {"figures",
                        {{"meanErrorDegrees", r.meanErrorDegrees},
                         {"p95ErrorDegrees", r.p95ErrorDegrees},
                         {"nominalMeanErrorDegrees", r.nominalMeanErrorDegrees}}}};
    return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

namespace {

const Json& Member(const Json& object, const std::string& key, const std::string& where) {
    if (!object.is_object() || !object.contains(key))
        throw std::runtime_error("no \"" + key + "\" in " + where);
    return object.at(key);
}

double Number(const Json& object, const std::string& key, const std::string& where, double low, double high) {
    const Json& value = Member(object, key, where);
    if (!value.is_number())
        throw std::runtime_error("\"" + key + "\" in " + where + " is not a number");
    const double number = value.get<double>();
    if (!(number >= low && number <= high))
        throw std::runtime_error("\"" + key + "\" in " + where + " is out of range");
    return number;
}

std::string Text(const Json& object, const std::string& key, const std::string& where) {
    const Json& value = Member(object, key, where);
    if (!value.is_string())
        throw std::runtime_error("\"" + key + "\" in " + where + " is not a text");
    return value.get<std::string>();
}

} // namespace

CalibrationRecord CalibrationFromJson(const std::string& text) {
    const Json json = Json::parse(text, nullptr, false);
    if (json.is_discarded() || !json.is_object())
        throw std::runtime_error("not a calibration file (not a JSON object)");
    const Json& version = Member(json, "version", "the file");
    if (!version.is_number_integer() || version.get<int64_t>() != CalibrationVersion)
        throw std::runtime_error("a calibration file of another version (this zeb reads version " +
                                 std::to_string(CalibrationVersion) + ")");
    CalibrationRecord r;
    r.date = Text(json, "date", "the file");
    r.channel = Text(json, "channel", "the file");
    r.camera = Text(json, "camera", "the file");
    r.domeModel = Text(json, "domeModel", "the file");
    r.lightingOrientation = Text(json, "lightingOrientation", "the file");
    r.lightingSequence = Text(json, "lightingSequence", "the file");
    r.exposureTime = Number(json, "exposureTime", "the file", 0, 1e9);
    r.gain = Number(json, "gain", "the file", -100, 100);
    const Json& geometry = Member(json, "geometry", "the file");
    LightingModel& m = r.model;
    m.source = "calibrated";
    m.domeRadius = Number(geometry, "domeRadius", "\"geometry\"", 1, 1e5);
    m.workingDistance = Number(geometry, "workingDistance", "\"geometry\"", -1e5, 1e5);
    m.camera.fieldOfView = Number(geometry, "fieldOfView", "\"geometry\"", 1e-3, 1e5);
    m.camera.sensorWidth = static_cast<int32_t>(Number(geometry, "sensorWidth", "\"geometry\"", 1, 1e6));
    m.camera.sensorHeight = static_cast<int32_t>(Number(geometry, "sensorHeight", "\"geometry\"", 1, 1e6));
    const Json& lineScan = Member(geometry, "lineScan", "\"geometry\"");
    if (!lineScan.is_boolean())
        throw std::runtime_error("\"lineScan\" in \"geometry\" is not true or false");
    m.camera.lineScan = lineScan.get<bool>();
    m.camera.linePitch = Number(geometry, "linePitch", "\"geometry\"", 0, 1e5);
    m.darkLevel = Number(geometry, "darkLevel", "\"geometry\"", 0, 255);
    const Json& steps = Member(json, "steps", "the file");
    if (!steps.is_array() || steps.size() != 4)
        throw std::runtime_error("\"steps\" must list the four steps");
    for (size_t k = 0; k < 4; ++k) {
        const std::string where = "step " + std::to_string(k);
        m.directions[k].patch.azimuthDegrees = Number(steps[k], "azimuthDegrees", where, -360, 720);
        m.directions[k].patch.widthDegrees = Number(steps[k], "widthDegrees", where, 1, 360);
        m.directions[k].whiteLevel = Number(steps[k], "whiteLevel", where, 1e-6, 1e9);
    }
    const Json& sphere = Member(json, "sphere", "the file");
    r.sphereX = Number(sphere, "x", "\"sphere\"", -1e6, 1e6);
    r.sphereY = Number(sphere, "y", "\"sphere\"", -1e6, 1e6);
    r.sphereRadius = Number(sphere, "radius", "\"sphere\"", 0, 1e6);
    r.sphereRadiusMm = Number(sphere, "radiusMm", "\"sphere\"", 0, 1e6);
    r.sphereAlbedo = Number(sphere, "albedo", "\"sphere\"", 0, 10);
    const Json& figures = Member(json, "figures", "the file");
    r.meanErrorDegrees = Number(figures, "meanErrorDegrees", "\"figures\"", 0, 180);
    r.p95ErrorDegrees = Number(figures, "p95ErrorDegrees", "\"figures\"", 0, 180);
    r.nominalMeanErrorDegrees = Number(figures, "nominalMeanErrorDegrees", "\"figures\"", 0, 180);
    if (const std::string problem = ModelProblem(m); !problem.empty())
        throw std::runtime_error("the lighting in the file cannot be used: " + problem);
    return r;
}

} // namespace zeb::photometric
