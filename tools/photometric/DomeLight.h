// The light one sequencer step gives a point under the dome, by the physics of an extended emitter:
// the dome is a hemisphere whose inner surface glows evenly (a Lambertian emitter) from its rim up
// to the camera's opening at 0.15 of its radius; a step lights an arc of it (one quadrant, 90
// degrees of azimuth, or two, 180). The arc is sampled as small emitters, 12 rows from the rim to
// the opening and 12 columns per 90 degrees. A surface element at p with normal n receives from
// each emitter at s with area dA, above the element's own horizon, cos(at the emitter) x cos(at the
// element) x dA / |s - p|^2.
//
// Frame: millimetres, the origin at the centre of the rim's plane, x to the image's right, y to
// its top, z up toward the camera. Light is relative: 1 is what one quadrant gives a surface facing
// the camera at the centre of the rim's plane.
#pragma once

#include "Vector3.h"

#include <cstdint>
#include <vector>

namespace zeb::photometric {

// The arc of the dome one step lights.
struct LightPatch {
    double azimuthDegrees = 45; // its middle, counter-clockwise from the image's right, seen from the camera
    double widthDegrees = 90;   // 90: one quadrant, 180: two
};

// The light vectors of an arc's emitters at one point, as arrays: emitter i sends x[i], y[i], z[i]
// (its direction from the point times its irradiance on a surface facing it).
struct EmitterVectors {
    std::vector<float> x, y, z;
};

class DomeLight {
public:
    static constexpr int32_t Rows = 12;
    static constexpr int32_t ColumnsPerQuadrant = 12;
    static constexpr double OpeningShare = 0.15;

    DomeLight(double domeRadius, const LightPatch& patch);

    const LightPatch& Patch() const { return _patch; }
    double DomeRadius() const { return _radius; }

    // The sum over every emitter: n . VectorLight is the light on a facet that sees the whole arc.
    Vector3 VectorLight(const Vector3& point) const;
    // The sum over the emitters above the horizon of a facet with unit `normal`.
    Vector3 Light(const Vector3& point, const Vector3& normal) const;
    // The lowest elevation (radians above the horizontal) at which `point` sees an emitter of the arc.
    double LowestElevation(const Vector3& point) const;
    // Each emitter's light vector at `point` (emitters behind the point give zero vectors).
    void Emitters(const Vector3& point, EmitterVectors& out) const;
    // The emitters per row (the arc's columns); emitter i lies in row i / Columns(), counted from
    // the opening, and column i % Columns().
    int32_t Columns() const { return static_cast<int32_t>(_positions.size()) / Rows; }
    // The points of the dome on the edges of emitter i's row at its column's azimuth: toward the
    // rim (`lower`) and toward the opening (`upper`).
    void RowEdges(size_t i, Vector3& lower, Vector3& upper) const;

private:
    // Emitter i's light vector at `point`; false when the point is behind it.
    bool EmitterAt(size_t i, const Vector3& point, Vector3& vector) const;

    double _radius;
    LightPatch _patch;
    double _reference = 1;
    std::vector<Vector3> _positions;
    std::vector<double> _areas;
};

} // namespace zeb::photometric
