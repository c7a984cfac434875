// The built-in targets: surfaces of known shape over the object plane. The part (a machined plate
// with spherical domes, a raised pad, an engraved ring and a scratch), a true hemisphere for light
// calibration, a flat uniform card, and a white sheet of paper touching the dome.
#pragma once

#include "HeightMap.h"

#include <string>
#include <utility>

namespace zeb::station {

// The surface of a target at a point of the object plane (millimetres from the field's centre, x to
// the image's right, y to its top). `texture` in [-1, 1] is the pixel's own fine surface texture.
SurfacePoint TargetSurface(const std::string& object, double x, double y, double texture);
// The lowest and highest surface point of a target above its object plane.
std::pair<double, double> TargetHeights(const std::string& object);

// A rectangle of the object plane, millimetres.
struct PlaneBox {
    double left = 0, bottom = 0, right = 0, top = 0;
    bool Empty() const { return !(right > left && top > bottom); }
};
// Where a target has relief: outside this box it is its flat plane.
PlaneBox TargetRelief(const std::string& object);

} // namespace zeb::station
