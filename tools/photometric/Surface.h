// What photometric stereo makes of one image set: per pixel the albedo, the unit normal, the surface
// gradients and the mean curvature, and why a pixel has no reliable normal. The image's frame: x to
// its right, y to its top, z toward the camera.
#pragma once

#include "PixelSolve.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zeb::photometric {

// The four direction images of an image set as the host receives it: area scan, the four frames one
// below the other; line scan, rows interleaved (row 4 j + k belongs to direction k).
struct ImageSetView {
    const uint8_t* pixels = nullptr;
    int32_t width = 0, height = 0; // of the whole set
    bool lineScan = false;

    int32_t DirectionHeight() const { return height / 4; }
    const uint8_t* Row(int32_t direction, int32_t row) const {
        const int32_t at = lineScan ? 4 * row + direction : direction * DirectionHeight() + row;
        return pixels + static_cast<size_t>(at) * static_cast<size_t>(width);
    }
};

struct Surface {
    int32_t width = 0, height = 0;
    double pixelSize = 0, rowPitch = 0; // millimetres across a column and down a row
    std::vector<float> albedo;          // 1: a white Lambertian surface
    std::vector<float> normalX, normalY, normalZ;
    std::vector<float> gradientX, gradientY; // dz/dx and dz/dy: -nx/nz, -ny/nz
    std::vector<float> curvature;            // mean curvature, 1/mm, positive where convex
    std::vector<uint8_t> status;             // PixelStatus; 0 where the normal is reliable
    // Millimetres above the object plane where the normal is reliable and not within about a degree
    // of vertical, NaN elsewhere; empty unless heights were recovered (SurfaceOptions::recoverHeight).
    std::vector<float> heightMap;

    size_t Index(int32_t x, int32_t y) const {
        return static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
    }
    bool Reliable(size_t i) const { return status[i] == static_cast<uint8_t>(PixelStatus::Reliable); }
    size_t ReliablePixels() const;
    bool HasHeights() const { return !heightMap.empty() && heightMap.size() == status.size(); }
    // Sizes every plane but the heights, which it empties.
    void Resize(int32_t newWidth, int32_t newHeight);
};

// Mean curvature from the divergence of the normals' x and y components: H = (dnx/dx + dny/dy) / 2,
// positive on a dome. The normals are averaged over a square of about `radius` millimetres around
// each pixel first (unreliable pixels left out), so that the noise of single pixels does not rule.
// It runs row by row behind the solve, with a few rows of working memory: Begin, then AddRow for
// rows 0, 1, ... once their normals are final; a row's curvature is written once the rows within
// twice the radius below it have come, the last ones with the last row.
class CurvatureFilter {
public:
    explicit CurvatureFilter(double radius) : _radius(radius) {}
    void Begin(const Surface& surface);
    void AddRow(Surface& surface, int32_t y);
    // The whole surface at once.
    void Apply(Surface& surface);

private:
    float* Boxed(int32_t y, size_t plane);
    float* Mean(int32_t y, size_t plane);
    void FinishSums(int32_t y);
    void FinishCurvature(Surface& surface, int32_t y);

    double _radius;
    int32_t _width = 0, _height = 0, _rx = 1, _ry = 1;
    int32_t _summed = 0, _curved = 0; // rows whose window sums and curvature are done
    std::vector<float> _row;          // weight, nx and ny of the row coming in
    std::vector<float> _boxed;        // rows summed along x, a ring of 2 ry + 2 rows x 3 planes
    std::vector<float> _sums;         // window sums down the columns, 3 planes
    std::vector<float> _means;        // mean nx and ny, a ring of 2 ry + 1 rows x 2 planes
    std::vector<float> _levels;       // working memory of the sums along a row
};

} // namespace zeb::photometric
