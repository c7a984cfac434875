#include "ReliefHorizon.h"

#include "Parallel.h"
#include "Vector3.h"

#include <algorithm>
#include <cmath>

namespace zeb::photometric {

namespace {

// How far (tan of elevation) a horizon may stand above a point's tangent plane and still be the
// plane's own: a little, and more on steep slopes, where the coarse grid's chords bend most.
constexpr float TangentMargin[2] = {0.03f, 0.05f};

} // namespace

int32_t HorizonSectorOf(double x, double y) {
    double turns = std::atan2(y, x) / (2 * Pi);
    if (turns < 0)
        turns += 1;
    const int32_t sector = static_cast<int32_t>(turns * HorizonSectors);
    return std::clamp(sector, 0, HorizonSectors - 1);
}

void SweepHorizon(const float* z, int32_t columns, int32_t rows, double pitchX, double pitchY, double dirX,
                  double dirY, double near, float* horizon, size_t stride) {
    if (columns <= 0 || rows <= 0)
        return;
    // Grid steps per millimetre along the direction (rows run toward -y). The sweep runs along the
    // axis the direction crosses faster (major), a line moving `slope` points across per step.
    const double perColumn = dirX / pitchX, perRow = -dirY / pitchY;
    const bool byColumns = std::fabs(perColumn) >= std::fabs(perRow);
    const int32_t majors = byColumns ? columns : rows, minors = byColumns ? rows : columns;
    const double perMajor = byColumns ? perColumn : perRow, perMinor = byColumns ? perRow : perColumn;
    if (!(std::fabs(perMajor) > 0))
        return;
    const double slope = perMinor / perMajor;
    const double distance = 1 / std::fabs(perMajor); // millimetres along the direction per step
    // From the far end back: ahead of a point lie the points already passed.
    const int32_t first = perMajor > 0 ? majors - 1 : 0, step = perMajor > 0 ? -1 : 1;
    auto index = [&](int32_t major, int32_t minor) {
        return byColumns
                   ? static_cast<size_t>(minor) * static_cast<size_t>(columns) + static_cast<size_t>(major)
                   : static_cast<size_t>(major) * static_cast<size_t>(columns) + static_cast<size_t>(minor);
    };
    // Line `line` passes minor position line + major x slope; every point lies nearest to one line
    // in its major position.
    const double ends[2] = {0, (majors - 1) * slope};
    const int32_t firstLine = static_cast<int32_t>(std::floor(-std::max(ends[0], ends[1]))) - 1;
    const int32_t lastLine = static_cast<int32_t>(std::ceil(minors - 1 - std::min(ends[0], ends[1]))) + 1;
    // A point's own neighbourhood, nearer than `near` millimetres, is its facet's business: on a
    // convex slope the nearest points rise as steeply as the facet itself.
    const size_t skip = static_cast<size_t>(std::max(1L, std::lround(near / distance)));
    std::vector<double> lineAt, lineZ; // the line's points passed, in order
    std::vector<double> hullAt, hullZ; // the upper hull of those at least `skip` back, nearest last
    lineAt.reserve(static_cast<size_t>(majors));
    lineZ.reserve(static_cast<size_t>(majors));
    hullAt.reserve(static_cast<size_t>(majors));
    hullZ.reserve(static_cast<size_t>(majors));
    for (int32_t line = firstLine; line <= lastLine; ++line) {
        lineAt.clear();
        lineZ.clear();
        hullAt.clear();
        hullZ.clear();
        for (int32_t k = 0; k < majors; ++k) {
            const int32_t major = first + k * step;
            const double position = line + major * slope;
            if (position < -0.5 || position >= minors - 0.5)
                continue;
            const int32_t nearest =
                std::clamp(static_cast<int32_t>(std::floor(position + 0.5)), 0, minors - 1);
            double height = z[index(major, nearest)];
            if (minors > 1) {
                const double clamped = std::clamp(position, 0.0, static_cast<double>(minors - 1));
                const int32_t below = std::min(static_cast<int32_t>(clamped), minors - 2);
                const double share = clamped - below;
                height = (1 - share) * z[index(major, below)] + share * z[index(major, below + 1)];
            }
            const double at = -k * distance;
            // The point `skip` back joins the hull.
            if (lineAt.size() >= skip) {
                const double pAt = lineAt[lineAt.size() - skip], pZ = lineZ[lineZ.size() - skip];
                size_t size = hullAt.size();
                while (size >= 2 && (hullZ[size - 1] - pZ) * (hullAt[size - 2] - pAt) <=
                                        (hullZ[size - 2] - pZ) * (hullAt[size - 1] - pAt)) {
                    hullAt.pop_back();
                    hullZ.pop_back();
                    --size;
                }
                hullAt.push_back(pAt);
                hullZ.push_back(pZ);
            }
            lineAt.push_back(at);
            lineZ.push_back(height);
            // The steepest rise to the hull: the slopes to its points rise from the nearest to the
            // tangent point and fall beyond it.
            float rise = NoHorizon;
            if (!hullAt.empty()) {
                size_t low = 0, high = hullAt.size() - 1;
                // Slopes compared without dividing: every point of the hull lies ahead.
                auto steeper = [&](size_t a, size_t b) {
                    return (hullZ[a] - height) * (hullAt[b] - at) < (hullZ[b] - height) * (hullAt[a] - at);
                };
                while (low < high) {
                    const size_t middle = (low + high) / 2;
                    if (steeper(middle, middle + 1))
                        low = middle + 1;
                    else
                        high = middle;
                }
                rise = static_cast<float>((hullZ[low] - height) / (hullAt[low] - at));
            }
            horizon[index(major, nearest) * stride] = rise;
        }
    }
}

void ReliefHorizons::Update(const std::vector<float>& heights, int32_t width, int32_t height, int32_t block,
                            double pitchX, double pitchY, double near) {
    _block = std::max(1, std::min({block, width, height}));
    _columns = std::max(1, width / _block);
    _rows = std::max(1, height / _block);
    const size_t points = static_cast<size_t>(_columns) * static_cast<size_t>(_rows);
    _z.assign(points, 0.0f);
    // Each block's mean height (a NaN counts as the object plane).
    for (int32_t row = 0; row < _rows; ++row)
        for (int32_t column = 0; column < _columns; ++column) {
            double sum = 0;
            for (int32_t y = row * _block; y < (row + 1) * _block; ++y)
                for (int32_t x = column * _block; x < (column + 1) * _block; ++x) {
                    const float h =
                        heights[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
                    sum += std::isfinite(h) ? h : 0.0f;
                }
            _z[static_cast<size_t>(row) * Columns() + static_cast<size_t>(column)] =
                static_cast<float>(sum / (_block * _block));
        }
    const double gridX = pitchX * _block, gridY = pitchY * _block;
    _slopeX.assign(points, 0.0f);
    _slopeY.assign(points, 0.0f);
    auto gentler = [](double a, double b) { return std::fabs(a) <= std::fabs(b) ? a : b; };
    for (int32_t row = 0; row < _rows; ++row)
        for (int32_t column = 0; column < _columns; ++column) {
            const size_t i = static_cast<size_t>(row) * Columns() + static_cast<size_t>(column);
            const double inf = std::numeric_limits<double>::infinity();
            const double left = column > 0 ? _z[i] - _z[i - 1] : inf;
            const double right = column + 1 < _columns ? _z[i + 1] - _z[i] : inf;
            const double up = row > 0 ? _z[i - Columns()] - _z[i] : inf;
            const double down = row + 1 < _rows ? _z[i] - _z[i + Columns()] : inf;
            const double x = gentler(left, right), y = gentler(up, down);
            _slopeX[i] = std::isfinite(x) ? static_cast<float>(x / gridX) : 0.0f;
            _slopeY[i] = std::isfinite(y) ? static_cast<float>(y / gridY) : 0.0f;
        }
    _horizons.assign(points * HorizonSectors, NoHorizon);
    _cos.resize(HorizonSectors);
    _sin.resize(HorizonSectors);
    // The sectors' sweeps are independent: spread over the cores, 16 sectors (one cache line of each
    // point's horizons) at a time.
    ParallelFor(static_cast<size_t>(HorizonSectors), 16, [&](size_t begin, size_t end) {
        for (size_t s = begin; s < end; ++s) {
            const double azimuth = (static_cast<double>(s) + 0.5) * 2 * Pi / HorizonSectors;
            _cos[s] = static_cast<float>(std::cos(azimuth));
            _sin[s] = static_cast<float>(std::sin(azimuth));
            SweepHorizon(_z.data(), _columns, _rows, gridX, gridY, std::cos(azimuth), std::sin(azimuth), near,
                         &_horizons[s], static_cast<size_t>(HorizonSectors));
        }
    });
}

void ReliefHorizons::Tangents(float slopeX, float slopeY, float* tangent) const {
    // The grid's horizons and slopes are chords of a coarse grid: on a steep convex slope a horizon
    // may stand a little above the slope's own plane. What lies that little above is the facet's.
    const float margin = TangentMargin[0] + TangentMargin[1] * std::hypot(slopeX, slopeY);
    for (size_t s = 0; s < HorizonSectors; ++s)
        tangent[s] = slopeX * _cos[s] + slopeY * _sin[s] + margin;
}

bool ReliefHorizons::Rises(size_t point, float lowest, float* tangent) const {
    const float* horizon = Horizons(point);
    Tangents(_slopeX[point], _slopeY[point], tangent);
    bool rises = false;
    for (size_t s = 0; s < HorizonSectors; ++s)
        rises |= horizon[s] > lowest && horizon[s] > tangent[s];
    return rises;
}

} // namespace zeb::photometric
