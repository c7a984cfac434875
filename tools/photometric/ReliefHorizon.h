// Cast shadows of the recovered relief: how high the relief rises around each point of a height
// map, in a number of azimuth sectors. A point sees an emitter of the dome only if the emitter
// stands above the horizon in its direction; what the relief hides is taken from the point's light.
//
// The horizon is found per sector over a coarse grid of the heights (blocks of pixels averaged), in
// one linear-time sweep per sector: along each line of grid points in the sector's direction, from
// the far end back, the upper convex hull of the points already passed gives the steepest rise
// ahead of the next point.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace zeb::photometric {

// Sectors of the horizon: 7.5 degrees each, as wide as an emitter column of a quadrant seen from the
// middle of the dome. Sector s covers the azimuths from s to s + 1 times its width, counter-clockwise
// from the image's right.
constexpr int32_t HorizonSectors = 48;

// The sector holding the horizontal direction (x, y) of the image's frame (x right, y top).
int32_t HorizonSectorOf(double x, double y);

// The horizon where nothing lies ahead.
constexpr float NoHorizon = -std::numeric_limits<float>::infinity();

// The tan of the horizon's elevation at every point of a grid of heights (`columns` x `rows`, row
// after row, the top row first; millimetres), looking along the horizontal direction (dirX, dirY)
// of the image's frame (unit length), along the line of that direction passing nearest to the point
// with heights interpolated across it, counting only the relief at least `near` millimetres ahead
// (nearer, a convex slope rises as steeply as the point's own facet, whose horizon is its own
// business). Written to horizon[point * stride]; NoHorizon where nothing lies ahead.
void SweepHorizon(const float* z, int32_t columns, int32_t rows, double pitchX, double pitchY, double dirX,
                  double dirY, double near, float* horizon, size_t stride);

class ReliefHorizons {
public:
    // From `heights` (width x height pixels, row after row, the top row first; millimetres above the
    // object plane) averaged over blocks of `block` x `block` pixels, with pixels `pitchX` wide and
    // rows `pitchY` apart (millimetres), the relief nearer than `near` millimetres left out. A pixel
    // beyond the last whole block belongs to it.
    void Update(const std::vector<float>& heights, int32_t width, int32_t height, int32_t block,
                double pitchX, double pitchY, double near);

    int32_t Block() const { return _block; }
    size_t Points() const { return _z.size(); }
    // The grid point a pixel belongs to.
    size_t PointOf(int32_t x, int32_t y) const {
        const int32_t column = x / _block < _columns ? x / _block : _columns - 1;
        const int32_t row = y / _block < _rows ? y / _block : _rows - 1;
        return static_cast<size_t>(row) * static_cast<size_t>(_columns) + static_cast<size_t>(column);
    }
    // A point's middle in pixels, and its height.
    double CentreX(size_t point) const {
        return (static_cast<double>(point % Columns()) + 0.5) * _block - 0.5;
    }
    double CentreY(size_t point) const {
        return (static_cast<double>(point / Columns()) + 0.5) * _block - 0.5;
    }
    float Height(size_t point) const { return _z[point]; }
    // The point's horizon per sector (tan of its elevation).
    const float* Horizons(size_t point) const { return &_horizons[point * HorizonSectors]; }
    // The slope of the relief at the point (millimetres per millimetre toward the image's right and
    // top), from the neighbour on the side where it changes less, so that the foot of a wall does
    // not pass for a slope.
    float SlopeX(size_t point) const { return _slopeX[point]; }
    float SlopeY(size_t point) const { return _slopeY[point]; }
    // Per sector, the tan of the elevation of the tangent plane of slopes (slopeX, slopeY) (toward
    // the image's right and top), a little raised for the grid's coarseness.
    void Tangents(float slopeX, float slopeY, float* tangent) const;
    // Per sector, the tan of the elevation of the point's tangent plane (its slopes') into `tangent`;
    // and whether the relief around the point rises above both `lowest` (the tan of the lowest
    // elevation any emitter can have) and that plane in some sector: it may hide light.
    bool Rises(size_t point, float lowest, float* tangent) const;

private:
    size_t Columns() const { return static_cast<size_t>(_columns); }

    int32_t _block = 1, _columns = 0, _rows = 0;
    std::vector<float> _z, _slopeX, _slopeY, _horizons;
    std::vector<float> _cos, _sin; // the sectors' middle directions
};

} // namespace zeb::photometric
