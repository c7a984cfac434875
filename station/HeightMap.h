// A part of one's own under the camera: its relief from a 16-bit grey height map (height = level x
// heightScale millimetres above the object plane) and its albedo from an 8- or 16-bit grey albedo map
// (level / full scale; 0.6 everywhere without one), both centred in the field at pixelSize millimetres
// per map pixel. Between map pixels heights and albedo are interpolated bilinearly; the normal comes
// from the heights' central differences at the map's own resolution, interpolated the same way.
// Outside the map lies the object plane, with the albedo of the map's nearest edge.
#pragma once

#include "Dome.h"
#include "StationFiles.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace zeb::station {

// How a surface reflects: matte is Lambertian; glossy adds a microfacet lobe (GGX, roughness the
// width parameter alpha) that reflects `specular` of the light, the rest reflected diffusely.
struct Material {
    std::string type = "matte"; // "matte" or "glossy"
    double roughness = 0.1;
    double specular = 0.5;
    bool Glossy() const { return type == "glossy"; }
    // The share reflected by the lobe: 0 for matte.
    double SpecularShare() const { return Glossy() ? specular : 0.0; }
};

// The object as a station file describes it.
struct HeightMapDescription {
    std::string heightMap;      // file name as the station file gives it
    std::string albedoMap;      // empty: a uniform albedo
    double heightScale = 0.001; // millimetres per level
    double pixelSize = 0.05;    // millimetres per map pixel
    Material material;
};

// The largest map side, in pixels.
constexpr int32_t LargestMapSide = 16384;
// Albedo without an albedo map.
constexpr double UniformAlbedo = 0.6;

// A point of the object's surface: its height above the object plane, normal and albedo.
struct SurfacePoint {
    double height = 0; // millimetres above the object plane
    Vector3 normal{0, 0, 1};
    double albedo = 0;
};

class HeightMapObject {
public:
    // Reads and checks the maps, FILEs relative to `stationFile`. Throws std::runtime_error naming
    // the map and file and the reason ("height map /path/part.png: is not a PNG file").
    static std::shared_ptr<const HeightMapObject>
    Load(const HeightMapDescription& description, const std::string& stationFile, const FileSource& files);

    const HeightMapDescription& Description() const { return _description; }
    // A number no other object loaded in this process has: the renderer's caches know it by it.
    uint64_t Serial() const { return _serial; }

    // The surface at a point of the object plane (millimetres from the field's centre, x to the
    // image's right, y to its top).
    SurfacePoint At(double x, double y) const;
    double Height(double x, double y) const;
    // The lowest and highest surface point above the object plane (the plane itself included).
    double Lowest() const { return _lowest; }
    double Highest() const { return _highest; }
    // Half the map's extent in millimetres: outside +/- these the object is its plane.
    double HalfWidth() const { return _width * _description.pixelSize / 2; }
    double HalfHeight() const { return _height * _description.pixelSize / 2; }

private:
    HeightMapObject() = default;
    // Height in millimetres at a map pixel, the indices clamped to the map.
    double Level(int32_t column, int32_t row) const;
    double Albedo(double x, double y) const;

    HeightMapDescription _description;
    uint64_t _serial = 0;
    int32_t _width = 0, _height = 0;
    std::vector<uint16_t> _levels;
    int32_t _albedoWidth = 0, _albedoHeight = 0;
    std::vector<uint16_t> _albedo; // 16-bit: level / 65535
    double _lowest = 0, _highest = 0;
};

} // namespace zeb::station
