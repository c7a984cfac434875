#include "LightingModel.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace zeb::photometric {

std::string LightingModel::Describe() const {
    char text[512];
    std::snprintf(text, sizeof text,
                  "%s: dome radius %.1f mm, object plane %.1f mm below the rim, %.2f mm across %d pixels%s; "
                  "steps lit from %.1f, %.1f, %.1f, %.1f degrees (arcs of %.0f degrees); dark level %.1f",
                  source.c_str(), domeRadius, workingDistance, camera.fieldOfView, camera.sensorWidth,
                  camera.lineScan ? ", line scan" : "", directions[0].patch.azimuthDegrees,
                  directions[1].patch.azimuthDegrees, directions[2].patch.azimuthDegrees,
                  directions[3].patch.azimuthDegrees, directions[0].patch.widthDegrees, darkLevel);
    return text;
}

double DomeRadiusOfModel(const std::string& domeModel) {
    if (domeModel == "Dome S")
        return 50;
    if (domeModel == "Dome M")
        return 100;
    if (domeModel == "Dome L")
        return 150;
    return 0;
}

SequenceArcs ArcsOfSequence(const std::string& sequence) {
    if (sequence == "Diagonal")
        return {{45, 135, 225, 315}, 90, true};
    if (sequence == "Axial")
        return {{0, 90, 180, 270}, 180, true};
    return {};
}

double StationWhiteLevel(bool lineScan, const std::string& domeModel, const std::string& sequence,
                         double exposureMicroseconds, double gainDecibels) {
    const double sensitivity = lineScan ? 0.052 : 0.0078;
    double brightness = 100;
    if (domeModel == "Dome S" || domeModel == "Dome M")
        brightness = 200;
    else if (domeModel == "Dome L")
        brightness = sequence == "Axial" ? 110 : 150;
    return 255 * sensitivity * exposureMicroseconds * std::pow(10.0, gainDecibels / 20) * brightness / 100;
}

std::string ModelProblem(const LightingModel& model) {
    auto positive = [](double value) { return std::isfinite(value) && value > 0; };
    const CameraGeometry& camera = model.camera;
    if (!positive(model.domeRadius) || !positive(camera.fieldOfView) || camera.sensorWidth <= 0 ||
        (!camera.lineScan && camera.sensorHeight <= 0))
        return "the dome and the field of view need a size";
    if (!std::isfinite(model.workingDistance) || std::fabs(model.workingDistance) >= model.domeRadius)
        return "the object plane must lie inside the dome (a working distance of less than its radius)";
    if (!(std::isfinite(camera.linePitch) && camera.linePitch >= 0))
        return "the line pitch must be a number of millimetres, 0 or more";
    for (const DirectionLight& direction : model.directions) {
        if (!positive(direction.whiteLevel))
            return "the white level of each step must be a positive number";
        if (!std::isfinite(direction.patch.azimuthDegrees) || !positive(direction.patch.widthDegrees) ||
            direction.patch.widthDegrees > 360)
            return "each step's arc needs an azimuth and a width of up to 360 degrees";
    }
    if (!(std::isfinite(model.darkLevel) && std::isfinite(model.minimumSignal) &&
          std::isfinite(model.saturation) && model.darkLevel >= 0 && model.minimumSignal >= 0 &&
          model.darkLevel + model.minimumSignal < model.saturation))
        return "the dark level, the least signal and the saturation must be grey levels in that order";
    return {};
}

LightingModel NominalModel(const NominalSettings& settings) {
    const SequenceArcs arcs = ArcsOfSequence(settings.sequence);
    if (!arcs.known)
        throw std::invalid_argument("unknown lighting sequence \"" + settings.sequence + "\"");
    LightingModel model;
    model.source = "nominal";
    model.domeRadius = settings.domeRadius;
    model.workingDistance = settings.workingDistance;
    model.camera = settings.camera;
    model.darkLevel = settings.darkLevel;
    // A dome mounted otherwise than the orientation says turns every step's light by the difference.
    const int32_t mounting = settings.mounting < 0 ? settings.orientation : settings.mounting;
    const double turn = settings.orientation - mounting;
    for (size_t k = 0; k < 4; ++k) {
        model.directions[k].patch = {std::fmod(arcs.azimuths[k] + turn + 720, 360), arcs.width};
        model.directions[k].whiteLevel = settings.whiteLevel;
    }
    if (const std::string problem = ModelProblem(model); !problem.empty())
        throw std::invalid_argument(problem);
    return model;
}

PixelPlacement::PixelPlacement(const LightingModel& model, int32_t width, int32_t height,
                               const ImageRegion& region)
    : _width(width), _height(height), _reverse(region.reverse && !model.camera.lineScan),
      _lineScan(model.camera.lineScan), _pixel(model.camera.PixelSize()) {
    _left = (region.offsetX + 0.5 - model.camera.sensorWidth / 2.0) * _pixel;
    _top = (model.camera.sensorHeight / 2.0 - region.offsetY - 0.5) * _pixel;
    _plane = -model.workingDistance;
}

Vector3 PixelPlacement::Point(double column, double row, double height) const {
    if (_reverse) {
        column = _width - 1 - column;
        row = _height - 1 - row;
    }
    return {_left + column * _pixel, _lineScan ? 0.0 : _top - row * _pixel, _plane + height};
}

} // namespace zeb::photometric
