// Calibrating the lights from a matte sphere of known radius and albedo, as an integrator does at
// bring-up: the sphere is found in the average of the four directions (its centre and radius), its
// true normal and height are then known at every pixel, and each step's light is measured from
// them: the middle of the arc it lights (searched all round the dome, so a turned dome or a swapped
// step is found) and its white level. The figures say how well each model explains the sphere: the
// angle between the normals recovered with it and the sphere's true normals over its cap, and each
// step's light as azimuth and elevation. The verdict compares the measured lights with the
// channel's orientation and sequence and names the setting that would make them agree.
#pragma once

#include "LightingModel.h"
#include "SphereFinder.h"
#include "Surface.h"

#include <optional>
#include <stdexcept>
#include <string>

namespace zeb::photometric {

struct SphereSettings {
    double radius = 20;         // millimetres
    double albedo = 0.6;        // of its matte surface
    double fitTilt = 70;        // degrees: the cap whose pixels measure the lights
    double evaluationTilt = 60; // degrees: the cap the figures are taken over
};

struct NormalErrors {
    double meanDegrees = 0, p95Degrees = 0;
    size_t pixels = 0;
};

// A step's light as the camera sees it at the centre of the field: the direction of the light a
// surface facing the camera there receives.
struct LightDirection {
    double azimuthDegrees = 0, elevationDegrees = 0;
};

// How the measured lights compare with the channel's settings.
struct LightingVerdict {
    bool agrees = true;
    int32_t detectedOrientation = -1; // degrees, the "LightingOrientation" that fits; -1: none fits
    std::string detectedSequence;     // the "LightingSequenceType" that fits; empty: none
    std::string advice;               // what to do, one sentence; empty when the lights agree
};

struct CalibrationResult {
    SphereInImage sphere;
    LightingModel calibrated;
    NormalErrors errors, nominalErrors;
    std::array<LightDirection, 4> lights;
    LightingVerdict verdict;
};

// The light at the centre of the field under `model`, per step.
std::array<LightDirection, 4> LightDirections(const LightingModel& model);

// Compares measured arc middles (degrees, in step order) with the channel's "LightingSequenceType"
// and "LightingOrientation" (degrees).
LightingVerdict JudgeLights(const std::array<double, 4>& azimuths, const std::string& sequence,
                            int32_t orientation);

class SphereCalibration {
public:
    // `nominal`: the channel's documented lighting; `region`: where the image lies on the sensor.
    // Throws std::invalid_argument for settings that make no lighting (NominalModel) or a sphere
    // without a size, an albedo or caps of 0 to 90 degrees.
    SphereCalibration(NominalSettings nominal, ImageRegion region = {}, SphereSettings sphere = {});

    // Throws CalibrationError when no whole sphere of the expected size is in the image set.
    CalibrationResult Calibrate(const ImageSetView& images) const;

    // The parts, for tests and tools: the sphere in an image set, and the normal errors of a model
    // on it (solved with the sphere's known heights, so that the model alone is judged). A sphere
    // whose place is not a number is a CalibrationError.
    SphereInImage FindSphere(const ImageSetView& images) const;
    NormalErrors Errors(const ImageSetView& images, const SphereInImage& sphere,
                        const LightingModel& model) const;
    // The sphere's normals and albedo recovered with `model` at every `stride`-th pixel (in each
    // direction) of its cap up to `tilt` degrees, in a surface the size of a direction image; the
    // other pixels are left unreliable (NoSolution).
    Surface SphereNormals(const ImageSetView& images, const SphereInImage& sphere, const LightingModel& model,
                          double tilt, int32_t stride = 1) const;

private:
    NominalSettings _nominal;
    ImageRegion _region;
    SphereSettings _sphere;
};

} // namespace zeb::photometric
