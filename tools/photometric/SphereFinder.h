// Finding the calibration sphere in an image set: the bright disc in the average of the four
// directions against its darker plate (Otsu's threshold, then the edge half way between the plate
// and the sphere's rim), its radius to a fraction of a pixel from the profile across its edge, and
// the reasons it is not there: a set clipped over much of the image, a bright region larger than
// the sphere or not round, a sphere cut by the image's edge (its boundary on a circle of the
// sphere's size).
#pragma once

#include "LightingModel.h"
#include "Surface.h"

#include <stdexcept>
#include <string>

namespace zeb::photometric {

// Where the sphere lies in the image: its centre (column, row) and radius in pixels across.
struct SphereInImage {
    double x = 0, y = 0, radius = 0;
};

// A sphere that cannot be found or measured: the text says why and what to do.
class CalibrationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The sphere of `radiusMm` millimetres in an image set taken with `camera` (grey levels above
// `darkLevel`). Throws CalibrationError when no whole sphere of that size is in it.
SphereInImage FindSphereIn(const ImageSetView& images, const CameraGeometry& camera, double darkLevel,
                           double radiusMm);

// A message with up to three figures in it (printf's format).
std::string FormatText(const char* format, double a, double b = 0, double c = 0);

} // namespace zeb::photometric
