#include "Surface.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace zeb::photometric {

size_t Surface::ReliablePixels() const {
    return static_cast<size_t>(std::count(status.begin(), status.end(), uint8_t{0}));
}

void Surface::Resize(int32_t newWidth, int32_t newHeight) {
    width = std::max(newWidth, 0);
    height = std::max(newHeight, 0);
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    for (auto* plane : {&albedo, &normalX, &normalY, &normalZ, &gradientX, &gradientY, &curvature})
        plane->resize(pixels);
    status.resize(pixels);
    heightMap.clear();
}

namespace {

// Sums over a window of 2 r + 1 along a row, clamped at the ends. Inside the row the sums are built
// by doubling: level d holds the sums of 2^d neighbours, each level from the one before, and the
// window's sum adds the levels its width's binary digits name. A few passes of plain additions
// instead of one per neighbour, none chained from pixel to pixel, so that each vectorises.
// `levels` is working memory.
void BoxAlongRow(const float* __restrict row, float* __restrict target, int32_t width, int32_t r,
                 std::vector<float>& levels) {
    auto clampedSum = [&](int32_t x) {
        float sum = 0;
        for (int32_t k = std::max(0, x - r); k <= std::min(width - 1, x + r); ++k)
            sum += row[k];
        return sum;
    };
    for (int32_t x = 0; x < std::min(r, width); ++x)
        target[x] = clampedSum(x);
    for (int32_t x = std::max(r, width - r); x < width; ++x)
        target[x] = clampedSum(x);
    const int32_t window = 2 * r + 1;
    if (width < window)
        return;
    const size_t w = static_cast<size_t>(width), inside = static_cast<size_t>(width - 2 * r);
    int32_t depth = 0;
    while ((2 << depth) <= window)
        ++depth;
    levels.resize(static_cast<size_t>(depth + 1) * w);
    std::copy(row, row + w, levels.begin());
    for (int32_t d = 1; d <= depth; ++d) {
        const size_t span = size_t{1} << (d - 1), count = w - (2 * span - 1);
        const float* __restrict lower = &levels[static_cast<size_t>(d - 1) * w];
        float* __restrict level = &levels[static_cast<size_t>(d) * w];
        for (size_t x = 0; x < count; ++x)
            level[x] = lower[x] + lower[x + span];
    }
    // The widest level first, then the narrower ones that the window's width still needs.
    float* __restrict sum = target + r;
    const float* __restrict widest = &levels[static_cast<size_t>(depth) * w];
    std::copy(widest, widest + inside, sum);
    size_t offset = size_t{1} << depth;
    for (int32_t d = depth - 1; d >= 0; --d)
        if (window & (1 << d)) {
            const float* __restrict level = &levels[static_cast<size_t>(d) * w + offset];
            for (size_t x = 0; x < inside; ++x)
                sum[x] += level[x];
            offset += size_t{1} << d;
        }
}

// The planes the window sums add up, for one row: weight 1 where the normal is reliable and 0
// elsewhere, then nx and ny times that weight.
void WeightedNormals(size_t width, const uint8_t* __restrict status, const float* __restrict normalX,
                     const float* __restrict normalY, float* __restrict planes) {
    for (size_t x = 0; x < width; ++x) {
        const float reliable = status[x] == 0 ? 1.0f : 0.0f;
        planes[x] = reliable;
        planes[width + x] = reliable * normalX[x];
        planes[2 * width + x] = reliable * normalY[x];
    }
}

} // namespace

void CurvatureFilter::Begin(const Surface& surface) {
    _width = surface.width;
    _height = surface.height;
    // Pixels across the window's half, from 1 to the image's size whatever the radius and pixels
    // (a window larger than the image sums all of it).
    auto reach = [&](double pitch, int32_t size) {
        const double pixels = pitch > 0 ? _radius / pitch : 1;
        return static_cast<int32_t>(std::lround(
            std::clamp(std::isfinite(pixels) ? pixels : 1.0, 1.0, static_cast<double>(std::max(size, 1)))));
    };
    _rx = reach(surface.pixelSize, surface.width);
    _ry = reach(surface.rowPitch, surface.height);
    const size_t w = static_cast<size_t>(_width);
    _row.assign(3 * w, 0.0f);
    _boxed.assign(static_cast<size_t>(2 * _ry + 2) * 3 * w, 0.0f);
    _sums.assign(3 * w, 0.0f);
    _means.assign(static_cast<size_t>(2 * _ry + 1) * 2 * w, 0.0f);
    _summed = _curved = 0;
}

float* CurvatureFilter::Boxed(int32_t y, size_t plane) {
    return &_boxed[(static_cast<size_t>(y % (2 * _ry + 2)) * 3 + plane) * static_cast<size_t>(_width)];
}

float* CurvatureFilter::Mean(int32_t y, size_t plane) {
    return &_means[(static_cast<size_t>(y % (2 * _ry + 1)) * 2 + plane) * static_cast<size_t>(_width)];
}

void CurvatureFilter::AddRow(Surface& surface, int32_t y) {
    const size_t w = static_cast<size_t>(_width), at = surface.Index(0, y);
    WeightedNormals(w, &surface.status[at], &surface.normalX[at], &surface.normalY[at], _row.data());
    for (size_t plane = 0; plane < 3; ++plane)
        BoxAlongRow(_row.data() + plane * w, Boxed(y, plane), _width, _rx, _levels);
    // The window of row t reaches down to row t + ry: done once that row (or the last) is here.
    while (_summed < _height && (_summed + _ry <= y || y == _height - 1))
        FinishSums(_summed++);
    while (_curved < _height && (std::min(_curved + _ry, _height - 1) < _summed))
        FinishCurvature(surface, _curved++);
}

void CurvatureFilter::FinishSums(int32_t t) {
    const size_t w = static_cast<size_t>(_width);
    auto add = [&](int32_t row, float sign) {
        for (size_t plane = 0; plane < 3; ++plane) {
            const float* __restrict boxed = Boxed(row, plane);
            float* __restrict sum = &_sums[plane * w];
            for (size_t x = 0; x < w; ++x)
                sum[x] += sign * boxed[x];
        }
    };
    if (t == 0) {
        std::fill(_sums.begin(), _sums.end(), 0.0f);
        for (int32_t row = 0; row <= std::min(_ry, _height - 1); ++row)
            add(row, 1);
    } else {
        if (t + _ry < _height)
            add(t + _ry, 1);
        if (t - _ry - 1 >= 0)
            add(t - _ry - 1, -1);
    }
    // Where a window holds no reliable pixel its sums are 0, and so are its means.
    const float* __restrict weight = &_sums[0];
    const float* __restrict sumX = &_sums[w];
    const float* __restrict sumY = &_sums[2 * w];
    float* __restrict meanX = Mean(t, 0);
    float* __restrict meanY = Mean(t, 1);
    for (size_t x = 0; x < w; ++x) {
        const float inverse = 1.0f / (weight[x] + 1e-30f);
        meanX[x] = sumX[x] * inverse;
        meanY[x] = sumY[x] * inverse;
    }
}

void CurvatureFilter::FinishCurvature(Surface& surface, int32_t y) {
    // Central differences across the window; rows run down the image while y runs up it.
    const int32_t width = _width, rx = _rx;
    const float sx = static_cast<float>(0.5 / (2 * rx * surface.pixelSize));
    const float sy = static_cast<float>(0.5 / (2 * _ry * surface.rowPitch));
    const float* __restrict above = Mean(std::max(y - _ry, 0), 1);
    const float* __restrict below = Mean(std::min(y + _ry, _height - 1), 1);
    const float* __restrict row = Mean(y, 0);
    const size_t at = surface.Index(0, y);
    float* __restrict curvature = &surface.curvature[at];
    for (int32_t x = 0; x < width; ++x)
        curvature[x] = sy * (above[x] - below[x]);
    auto across = [&](int32_t x) {
        curvature[x] += sx * (row[std::min(x + rx, width - 1)] - row[std::max(x - rx, 0)]);
    };
    for (int32_t x = 0; x < std::min(rx, width); ++x)
        across(x);
    for (int32_t x = rx; x < width - rx; ++x)
        curvature[x] += sx * (row[x + rx] - row[x - rx]);
    for (int32_t x = std::max(rx, width - rx); x < width; ++x)
        across(x);
    const uint8_t* status = &surface.status[at];
    for (int32_t x = 0; x < width; ++x)
        if (status[x] != 0)
            curvature[x] = 0;
}

void CurvatureFilter::Apply(Surface& surface) {
    Begin(surface);
    for (int32_t y = 0; y < surface.height; ++y)
        AddRow(surface, y);
}

} // namespace zeb::photometric
