// The glossy lobe: a microfacet reflection with the GGX (Trowbridge-Reitz) distribution of facet
// slopes, of width alpha (the material's roughness), reflecting all light that reaches its facets
// (Fresnel 1: the material's specular share scales it) with Smith's masking toward the camera and
// toward the light. The camera looks down the dome's axis from its lens's entrance pupil, so the
// direction a point sends to the camera mirrors about its normal into one direction toward the dome.
//
// The dome is a sky of even radiance split into quadrants by the planes x = 0 and y = 0, bounded by
// its rim below and the camera's opening above. Around the mirror direction the lobe is spread: the
// share of it that falls beyond each of these four edges is the marginal of GGX's slope distribution
// at the edge's angular distance (slopes of half that angle: half-vectors turn half as far as the
// reflected ray), and each quadrant receives the product of the shares on its sides of the edges.
// So a mirror-like plate shows each lit quadrant with sharp edges where the mirror direction crosses
// into a neighbour, the opening or below the rim, and a rougher one blurs those edges.
#pragma once

#include "Dome.h"

#include <array>

namespace zeb::station {

struct DomeShape;

// The share of a GGX lobe of width `alpha` on the far side of an edge `angle` radians from its middle
// (negative: the middle lies beyond the edge): 1/2 (1 + s / sqrt(1 + s^2)), s = tan(angle / 2) / alpha.
double LobeShare(double angle, double alpha);
// LobeShare of two angles at once, as the lobe's light computes its edges in pairs (two lanes of a
// vector where the target has them): the same operations, so the same bits as LobeShare.
std::array<double, 2> LobeSharePair(double first, double second, double alpha);

// LobeShare(atan(middleTan) - atan(edgeTan), alpha) without the arc tangents: the share of a lobe
// whose middle rises at elevation atan(middleTan) beyond an edge at elevation atan(edgeTan).
double LobeShareBetween(double middleTan, double edgeTan, double alpha);

struct MirrorLight {
    // Relative light from each quadrant, as a white Lambertian surface's relative irradiance compares
    // with it: pi x radiance / reference irradiance; times the specular share it is what the pixel shows.
    std::array<double, 4> quadrant{0, 0, 0, 0};
    Vector3 mirror{0, 0, 0}; // unit mirror direction; 0 when the facet faces away from the camera
};

// The lobe's light at `point` with unit `normal`, seen from the pupil at `camera`.
MirrorLight SpecularLight(const DomeShape& dome, const Vector3& point, const Vector3& normal,
                          const Vector3& camera, double alpha);

} // namespace zeb::station
