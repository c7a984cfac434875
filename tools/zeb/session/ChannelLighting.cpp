#include "session/ChannelLighting.h"

#include "base/CommandError.h"
#include "photometric/CalibrationFile.h"
#include "session/RunSettings.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace zeb::cli {

namespace fs = std::filesystem;
using photometric::NominalSettings;

namespace {

// The built-in station's cameras: 1280 pixels across 64 mm (area scan), 2048 across 102.4 mm (line).
constexpr double AreaFieldOfView = 64, LineFieldOfView = 102.4;

double Number(const Assignment& setting, double low, double high) {
    double value = 0;
    const char* begin = setting.value.data();
    const char* end = begin + setting.value.size();
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || stop != end || !(value >= low && value <= high)) {
        char range[96];
        std::snprintf(range, sizeof range, "from %g to %g", low, high);
        throw CommandError("--model " + setting.name + ": \"" + setting.value + "\" is not a number " +
                           range);
    }
    return value;
}

std::string Feature(host::HostChannel& channel, const char* name) {
    const auto value = channel.Read(name);
    if (!value)
        throw PluginError(channel.Error());
    return *value;
}

double FeatureNumber(host::HostChannel& channel, const char* name) {
    const std::string text = Feature(channel, name);
    double value = 0;
    const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc())
        throw CommandError(std::string("the channel's ") + name + " \"" + text + "\" is not a number");
    return value;
}

// "180 deg" as 180.
int32_t Degrees(const std::string& orientation) {
    int32_t degrees = 0;
    std::from_chars(orientation.data(), orientation.data() + orientation.size(), degrees);
    return degrees;
}

void Apply(const Assignment& setting, NominalSettings& nominal, std::string& domeModel, bool& radiusGiven) {
    const std::string& name = setting.name;
    if (name == "domeModel") {
        const std::string model =
            setting.value.starts_with("Dome ") ? setting.value : "Dome " + setting.value;
        if (photometric::DomeRadiusOfModel(model) <= 0)
            throw CommandError("--model domeModel: \"" + setting.value + "\" is none of S, M, L");
        domeModel = model;
        if (!radiusGiven)
            nominal.domeRadius = photometric::DomeRadiusOfModel(model);
    } else if (name == "domeRadius") {
        nominal.domeRadius = Number(setting, 10, 10000);
        radiusGiven = true;
    } else if (name == "mounting") {
        const double degrees = Number(setting, 0, 270);
        if (std::fmod(degrees, 90) != 0)
            throw CommandError("--model mounting: \"" + setting.value + "\" is none of 0, 90, 180, 270");
        nominal.mounting = static_cast<int32_t>(degrees);
    } else if (name == "workingDistance") {
        nominal.workingDistance = Number(setting, -1000, 1000);
    } else if (name == "fieldOfView") {
        nominal.camera.fieldOfView = Number(setting, 0.01, 10000);
    } else if (name == "sensorWidth") {
        nominal.camera.sensorWidth = static_cast<int32_t>(Number(setting, 1, 100000));
    } else if (name == "sensorHeight") {
        nominal.camera.sensorHeight = static_cast<int32_t>(Number(setting, 1, 100000));
    } else if (name == "linePitch") {
        nominal.camera.linePitch = Number(setting, 0, 1000);
    } else if (name == "whiteLevel") {
        nominal.whiteLevel = Number(setting, 1e-6, 1e9);
    } else if (name == "darkLevel") {
        nominal.darkLevel = Number(setting, 0, 250);
    } else {
        std::string names;
        for (const auto& [known, meaning] : SurfaceModelSettings())
            names += (names.empty() ? "" : ", ") + known;
        throw CommandError("--model: unknown setting \"" + name + "\" (settings: " + names + ")");
    }
}

photometric::CalibrationRecord ReadCalibration(const std::string& file) {
    std::ifstream in(fs::u8path(file), std::ios::binary);
    if (!in)
        throw CommandError("cannot read the calibration file " + file);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    try {
        return photometric::CalibrationFromJson(text);
    } catch (const std::exception& error) {
        throw CommandError("the calibration file " + file + ": " + error.what());
    }
}

} // namespace

const std::vector<std::pair<std::string, std::string>>& SurfaceModelSettings() {
    static const std::vector<std::pair<std::string, std::string>> settings = {
        {"domeModel", "S, M or L: the dome's radius (50, 100, 150 mm)"},
        {"domeRadius", "millimetres"},
        {"mounting", "how the dome is mounted, degrees (default: as LightingOrientation says)"},
        {"workingDistance", "millimetres from the dome's rim down to the object plane (10)"},
        {"fieldOfView", "millimetres across the sensor's width (64 area scan, 102.4 line scan)"},
        {"sensorWidth", "pixels (default: the image's width and x offset)"},
        {"sensorHeight", "pixels (default: the image's height and y offset)"},
        {"linePitch", "line scan: millimetres of transport per object line (0: square pixels)"},
        {"whiteLevel", "grey levels of a white surface under one quadrant at the centre of the rim's plane "
                       "(default: the built-in station's at the channel's exposure and gain)"},
        {"darkLevel", "grey level of a pixel without light (2)"}};
    return settings;
}

std::string ChannelLighting::CalibrationText() const {
    if (calibrationFile.empty())
        return "none: the dome's documented geometry";
    return calibrationFile + " (made " + calibrationDate + ")";
}

LightingSettings ReadLightingSettings(host::HostChannel& channel, Session& session, int32_t channelIndex) {
    LightingSettings s;
    s.lineScan = Feature(channel, "DeviceScanType") == "Linescan";
    s.sequence = Feature(channel, "LightingSequenceType");
    s.orientation = Feature(channel, "LightingOrientation");
    s.exposure = FeatureNumber(channel, "ExposureTime");
    s.gain = FeatureNumber(channel, "Gain");
    s.width = static_cast<int32_t>(FeatureNumber(channel, "Width"));
    s.height = static_cast<int32_t>(FeatureNumber(channel, "Height"));
    s.region.offsetX = static_cast<int32_t>(FeatureNumber(channel, "OffsetX"));
    s.region.offsetY = static_cast<int32_t>(FeatureNumber(channel, "OffsetY"));
    s.region.reverse = Feature(channel, "ReverseXY") == "True";
    s.domeModel = session.DomeModel(channelIndex).value_or(s.lineScan ? "Dome L" : "Dome M");
    return s;
}

ChannelLighting ReadChannelLighting(host::HostChannel& channel, Session& session, int32_t channelIndex,
                                    const SurfaceModelOptions& options) {
    return LightingFor(ReadLightingSettings(channel, session, channelIndex), options);
}

ChannelLighting LightingFor(const LightingSettings& settings, const SurfaceModelOptions& options) {
    ChannelLighting lighting;
    NominalSettings& nominal = lighting.nominal;
    const bool lineScan = settings.lineScan;
    const std::string& sequence = settings.sequence;
    const std::string& orientation = settings.orientation;
    const double exposure = settings.exposure, gain = settings.gain;
    lighting.region = settings.region;
    lighting.domeModel = settings.domeModel;
    nominal.sequence = sequence;
    nominal.orientation = Degrees(orientation);
    nominal.domeRadius = photometric::DomeRadiusOfModel(lighting.domeModel);
    if (nominal.domeRadius <= 0)
        nominal.domeRadius = photometric::DomeRadiusOfModel("Dome M");
    nominal.camera.lineScan = lineScan;
    nominal.camera.fieldOfView = lineScan ? LineFieldOfView : AreaFieldOfView;
    nominal.camera.sensorWidth = lighting.region.offsetX + settings.width;
    nominal.camera.sensorHeight = lighting.region.offsetY + settings.height;
    bool radiusGiven = false, whiteGiven = false;
    for (const std::string& text : options.settings) {
        const Assignment setting = ParseAssignment(text, "--model");
        Apply(setting, nominal, lighting.domeModel, radiusGiven);
        whiteGiven |= setting.name == "whiteLevel";
    }
    if (!whiteGiven)
        nominal.whiteLevel =
            photometric::StationWhiteLevel(lineScan, lighting.domeModel, sequence, exposure, gain);
    try {
        lighting.model = photometric::NominalModel(nominal);
    } catch (const std::invalid_argument& error) {
        throw CommandError(std::string("no lighting model: ") + error.what());
    }
    if (options.calibration.empty())
        return lighting;

    const photometric::CalibrationRecord record = ReadCalibration(options.calibration);
    auto differs = [&](const char* feature, const std::string& then, const std::string& now) {
        return CommandError("the calibration " + options.calibration + " was made with " + feature + " \"" +
                            then + "\"; the channel holds \"" + now + "\"")
            .Hint("calibrate again, or set it back");
    };
    if (record.model.camera.lineScan != lineScan)
        throw differs("DeviceScanType", record.model.camera.lineScan ? "Linescan" : "Areascan",
                      lineScan ? "Linescan" : "Areascan");
    if (record.lightingSequence != sequence)
        throw differs("LightingSequenceType", record.lightingSequence, sequence);
    if (record.lightingOrientation != orientation)
        throw differs("LightingOrientation", record.lightingOrientation, orientation);
    lighting.model = record.ModelFor(exposure, gain);
    lighting.calibrationFile = options.calibration;
    lighting.calibrationDate = record.date;
    return lighting;
}

} // namespace zeb::cli
