// A surface as pictures: the samples of the files zeb writes and of the pictures zeb view shows.
#pragma once

#include "Surface.h"

#include <cstdint>
#include <vector>

namespace zeb::photometric {

// Mean curvature per grey level of the curvature picture when nothing else is asked: 128 is flat,
// 128 + 40 a sphere of about 5 mm radius.
constexpr double DefaultCurvatureScale = 0.005; // 1/mm per grey level

// 16-bit RGB, rows of width x 3 samples: each of x, y, z as (n + 1) / 2 x 65535; 0, 0, 0 where the
// normal is not reliable.
std::vector<uint16_t> NormalSamples(const Surface& surface);
// 16-bit grey: albedo x 65535 (1 a white Lambertian surface), clipped; 0 where not reliable.
std::vector<uint16_t> AlbedoSamples(const Surface& surface);
// 8-bit grey: 128 + curvature / scale, clipped; brighter where convex, 128 where not reliable.
std::vector<uint8_t> CurvatureSamples(const Surface& surface, double scale = DefaultCurvatureScale);
// The recovered heights as the -height.png picture, 16-bit grey: micrometres above the lowest point
// of the recovered surface (its lowest pixel with a height), rounded and clipped at 65535 (65.535
// mm); 0 where no height is known (and at the lowest point itself). Empty when the surface holds
// no heights.
std::vector<uint16_t> HeightSamples(const Surface& surface);
// The height of that lowest point in millimetres above the object plane (the picture's zero); NaN
// when no pixel has a height.
double LowestHeight(const Surface& surface);
// 8-bit pictures for a screen: the normals as colour ((n + 1) / 2 x 255 per channel, black where not
// reliable) and the albedo as grey (albedo x 255).
std::vector<uint8_t> NormalColours(const Surface& surface);
std::vector<uint8_t> AlbedoGreys(const Surface& surface);
// The heights for a screen: from the lowest point (1) to the highest (255), 0 where no height is
// known; empty when the surface holds no heights.
std::vector<uint8_t> HeightGreys(const Surface& surface);

} // namespace zeb::photometric
