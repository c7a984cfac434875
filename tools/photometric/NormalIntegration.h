// Heights from normals. Between two neighbouring pixels with reliable normals, each pixel's surface
// is followed from its centre to the point where the two meet: the surface as a circular arc
// through the pixel with its normal and its curvature along the way (the change of the normal
// measured over a few pixels on the side where it changes less, so that a crease such as the foot
// of an object does not pass for curvature). They meet half way, or, where one arc stands vertical
// before the other pixel (an object's silhouette), at that point. This is exact on a sphere, so
// that the steep rim of a tall object brings its full height, where the plain mean of two slopes
// would miss most of it.
//
// The differences are then integrated in the least-squares sense (GridPoisson), each pair counted by
// how sure its difference is: silhouettes and creases far less than smooth slopes. A pair with an
// unreliable pixel, or one within a degree of vertical, carries no difference: only a faint pull
// toward equal heights, so that gaps are bridged smoothly and parts cut off by them still get a
// height, without bending what the reliable pixels say. The heights are finally placed so that the
// most common height of the reliable pixels (the plate an object stands on, the flat of a part)
// lies on the object plane.
#pragma once

#include "GridPoisson.h"
#include "Surface.h"

#include <vector>

namespace zeb::photometric {

class NormalIntegration {
public:
    // Heights in millimetres above the object plane at every pixel of `surface`, from the normals
    // of its integrable pixels and its pixel size and row pitch. `heights` holds the start on entry (a former
    // answer, or empty). Returns the iterations of the solve.
    int32_t Integrate(const Surface& surface, std::vector<float>& heights, double tolerance = 1e-5);

    // Whether a pixel's normal gives it a height: reliable and not standing nearly vertical (a
    // facet within about a degree of vertical has no slope to speak of).
    static bool Integrable(const Surface& surface, size_t i);

    // The height change (mm) along one axis from a pixel's centre, `step` millimetres along it:
    // `along` is the unit normal's component along the axis, `nz` its component toward the camera,
    // `curvature` the change of `along` per millimetre.
    static double ArcRise(double along, double nz, double curvature, double step);

private:
    GridDifferences _differences;
    GridPoisson _poisson;
    std::vector<float> _curvatureX, _curvatureY;
};

} // namespace zeb::photometric
