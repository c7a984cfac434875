// The calibration file: a lighting model measured on a sphere, with what it was measured under
// (dome model, lighting orientation and sequence, exposure and gain, the camera's geometry, the
// date) so that it can be applied later and refused where it no longer fits. JSON:
//
//   {"version": 1, "date": "...", "channel": "...", "camera": "...", "domeModel": "Dome M",
//    "lightingOrientation": "180 deg", "lightingSequence": "Diagonal",
//    "exposureTime": 50, "gain": 0,
//    "geometry": {"domeRadius", "workingDistance", "fieldOfView", "sensorWidth", "sensorHeight",
//                 "lineScan", "linePitch", "darkLevel"},
//    "steps": [{"azimuthDegrees", "widthDegrees", "whiteLevel",          (the arc a step lights)
//               "lightAzimuthDegrees", "lightElevationDegrees"} x 4],   (its light, for people)
//    "sphere": {"x", "y", "radius", "radiusMm", "albedo"},
//    "figures": {"meanErrorDegrees", "p95ErrorDegrees", "nominalMeanErrorDegrees"}}
#pragma once

#include "LightingModel.h"

#include <string>

namespace zeb::photometric {

struct CalibrationRecord {
    LightingModel model; // source "calibrated"
    std::string date, channel, camera, domeModel, lightingOrientation, lightingSequence;
    double exposureTime = 0, gain = 0; // microseconds, decibels: the white levels hold for these
    double sphereX = 0, sphereY = 0, sphereRadius = 0, sphereRadiusMm = 0, sphereAlbedo = 0;
    double meanErrorDegrees = 0, p95ErrorDegrees = 0, nominalMeanErrorDegrees = 0;

    // The model for another exposure and gain: the white levels scale with both. Throws
    // std::invalid_argument for an exposure or gain that is not a number.
    LightingModel ModelFor(double exposureMicroseconds, double gainDecibels) const;
};

constexpr int32_t CalibrationVersion = 1;

// Texts that are not UTF-8 (names read from the plug-in) are written with U+FFFD in place of the
// bytes that are not. Throws std::invalid_argument for a record holding a number that is not one
// (which could not be read back).
std::string CalibrationToJson(const CalibrationRecord& record);
// Throws std::runtime_error naming what is wrong (not JSON, another version, a missing or wrong
// value, a lighting that cannot be used) for a text that is not a calibration file.
CalibrationRecord CalibrationFromJson(const std::string& text);

} // namespace zeb::photometric
