// The dome light as the object sees it: a hemisphere of a given radius whose inner surface glows
// evenly (a Lambertian emitter), split into four quadrants that light independently, with the
// camera's opening at the top. Its frame: the origin at the centre of the rim's plane, x to the
// right of the image, y to its top, z up toward the camera; millimetres. Quadrant 0 lies top-left,
// 1 top-right, 2 bottom-left, 3 bottom-right, as seen from the camera with the dome unturned.
//
// Each quadrant is sampled as a grid of small emitters over its quarter of the hemisphere; a
// surface element receives from each emitter in front of it the cosine at the emitter times the
// cosine at the surface over the squared distance. Irradiance is given relative to the reference:
// what one quadrant gives a surface facing the camera at the centre of the rim's plane.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace zeb::station {

constexpr double DefaultDomeRadius = 100; // millimetres

struct Vector3 {
    double x = 0, y = 0, z = 0;
};

inline double Dot(const Vector3& a, const Vector3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

class Dome {
public:
    // Emitter grid of one quadrant: rows from the rim to the opening, columns around the dome.
    static constexpr int32_t SampleRows = 12;
    static constexpr int32_t SampleColumns = 12;
    // Radius of the camera's opening at the top, as a share of the dome's radius.
    static constexpr double OpeningShare = 0.15;

    explicit Dome(double radius = DefaultDomeRadius);

    double Radius() const { return _radius; }
    // What one quadrant gives a surface facing the camera at the centre of the rim's plane, in the
    // emitters' own units (solid angle times cosine): relative irradiance is divided by it.
    double Reference() const { return _reference; }
    // Azimuth in degrees (counter-clockwise from the image's right, as seen from the camera) of the
    // middle of a quadrant.
    static double QuadrantAzimuth(int32_t quadrant);

    // Relative irradiance of a surface element at `point` with unit `normal` under quadrant `q`:
    // only the emitters above the element's own horizon count (attached shadow).
    double Irradiance(int32_t q, const Vector3& point, const Vector3& normal) const;
    // The quadrant's vector irradiance at `point`: n . V is the relative irradiance of an element
    // with normal n whenever every emitter of the quadrant lies above its horizon.
    Vector3 VectorIrradiance(int32_t q, const Vector3& point) const;
    // The lowest elevation, in radians above the horizontal, at which `point` sees an emitter.
    double LowestElevation(const Vector3& point) const;

private:
    // The emitters of one quadrant, a structure of arrays padded with emitters of no area so that
    // the sums run in blocks of eight.
    struct Emitters {
        std::vector<float> x, y, z, area;
    };
    static constexpr int32_t Block = 8;

    double _radius;
    double _reference = 1;
    std::array<Emitters, 4> _emitters;
};

// The vector irradiance of the four quadrants over a box of the dome's space, computed on a grid
// once and interpolated, so that shading a pixel costs a few multiplications. Points outside the
// box take the nearest node.
class IrradianceField {
public:
    IrradianceField(const Dome& dome, Vector3 low, Vector3 high, double spacing);

    // The vector irradiance of each quadrant at `point`.
    std::array<Vector3, 4> At(const Vector3& point) const;
    // The lowest elevation at which any point of the box sees an emitter: a surface tilted less
    // than this has every emitter above its horizon.
    double LowestElevation() const { return _lowestElevation; }

private:
    Vector3 _low;
    double _spacing[3];
    int32_t _nodes[3];
    std::vector<float> _values; // per node: 4 quadrants x 3 components
    double _lowestElevation = 0;
};

} // namespace zeb::station
