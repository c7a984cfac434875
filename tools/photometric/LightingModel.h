// What the photometric solve assumes about the station: the dome (its radius and the arc each of the
// four steps lights, with how bright a white surface looks under it), where the object plane lies
// below the dome, and how the camera's pixels map onto that plane. The nominal model follows the
// dome's documented geometry; a calibrated one has the arcs and brightness measured on a sphere.
#pragma once

#include "DomeLight.h"

#include <array>
#include <cstdint>
#include <string>

namespace zeb::photometric {

// How the camera's pixels lie on the object plane, centred under the dome.
struct CameraGeometry {
    bool lineScan = false;       // a line across the middle of the dome (y = 0); rows are object lines
    double fieldOfView = 64;     // millimetres across the sensor's width
    int32_t sensorWidth = 1280;  // pixels
    int32_t sensorHeight = 1024; // pixels (area scan)
    double linePitch = 0;        // line scan: millimetres of transport per object line; 0: square pixels

    double PixelSize() const { return fieldOfView / (sensorWidth > 0 ? sensorWidth : 1); }
    // Millimetres from one row of a direction image to the next.
    double RowPitch() const { return lineScan && linePitch > 0 ? linePitch : PixelSize(); }
};

// Where an image lies on the sensor.
struct ImageRegion {
    int32_t offsetX = 0, offsetY = 0;
    bool reverse = false; // area scan: the image turned by 180 degrees ("ReverseXY")
};

struct DirectionLight {
    LightPatch patch;
    // Grey levels above the dark level per unit of light and of albedo: what a white surface facing
    // the camera at the centre of the rim's plane shows under one quadrant.
    double whiteLevel = 198.9;
};

struct LightingModel {
    std::string source = "nominal"; // "nominal", or "calibrated" from a sphere
    double domeRadius = 100;        // millimetres
    double workingDistance = 10;    // millimetres from the rim's plane down to the object plane
    CameraGeometry camera;
    std::array<DirectionLight, 4> directions; // in step order
    double darkLevel = 2;                     // grey level of a pixel that receives no light
    double minimumSignal = 2;                 // grey levels above the dark level that make a direction usable
    double saturation = 255;                  // a direction at this grey level is clipped

    // One line: the source, the dome, the arcs and the geometry, for files and pages.
    std::string Describe() const;
};

// The dome's radius by its model name ("Dome S", "Dome M", "Dome L"); 0 for another name.
double DomeRadiusOfModel(const std::string& domeModel);

// The documented dome under a channel's settings. The defaults are those of the built-in station's
// area-scan channel.
struct NominalSettings {
    std::string sequence = "Diagonal"; // "LightingSequenceType": "Diagonal" or "Axial"
    int32_t orientation = 180;         // "LightingOrientation", degrees
    int32_t mounting = -1;             // how the dome is mounted, degrees; -1: as the orientation says
    double domeRadius = 100;
    double workingDistance = 10;
    CameraGeometry camera;
    double whiteLevel = 198.9;
    double darkLevel = 2;
};

// What makes a model unusable, as one sentence naming the value (a size that is not a positive
// number, an object plane outside the dome, a white level that is not a positive number, grey
// levels out of order); empty when it can be used.
std::string ModelProblem(const LightingModel& model);

// Throws std::invalid_argument for an unknown sequence or an unusable model (ModelProblem).
LightingModel NominalModel(const NominalSettings& settings);

// The azimuths the four steps of a sequence light when the orientation matches the mounting
// (Diagonal: top right, top left, bottom left, bottom right; Axial: right, top, left, bottom), and
// the width of each step's arc. Empty azimuths for an unknown sequence.
struct SequenceArcs {
    std::array<double, 4> azimuths{};
    double width = 0;
    bool known = false;
};
SequenceArcs ArcsOfSequence(const std::string& sequence);

// The white level of the built-in station: 255 x sensitivity (share of the scale per microsecond
// at full brightness: 0.0078 area scan, 0.052 line scan) x exposure x 10^(gain/20) x brightness /
// 100, with the brightness the plug-in programs for the dome and sequence (200 % for Dome S and M;
// Dome L 150 % Diagonal, 110 % Axial).
double StationWhiteLevel(bool lineScan, const std::string& domeModel, const std::string& sequence,
                         double exposureMicroseconds, double gainDecibels);

// Maps a pixel of an image to its point on the object plane in the dome's frame, and vectors
// between the dome's frame and the image's (x right, y top: they differ when the image is turned).
class PixelPlacement {
public:
    PixelPlacement(const LightingModel& model, int32_t width, int32_t height, const ImageRegion& region);

    // The point under pixel (column, row) (pixel centres at whole numbers), `height` millimetres
    // above the object plane. A line camera's pixels all lie on the line y = 0.
    Vector3 Point(double column, double row, double height = 0) const;
    // A vector of the dome's frame in the image's frame, and back (the same turn both ways).
    Vector3 ToImage(const Vector3& v) const { return _reverse ? Vector3{-v.x, -v.y, v.z} : v; }

    int32_t Width() const { return _width; }
    int32_t Height() const { return _height; }

private:
    int32_t _width, _height;
    bool _reverse, _lineScan;
    double _pixel, _left, _top, _plane;
};

} // namespace zeb::photometric
