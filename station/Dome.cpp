#include "Dome.h"

#include <algorithm>
#include <cmath>

namespace zeb::station {

namespace {

constexpr double Pi = 3.14159265358979323846;

// What one emitter gives a point: its flux density (emitted cosine over squared distance, times
// its area) and the unit direction toward it. Emitters behind the point (outside the dome) give 0.
struct Reach {
    float flux, dx, dy, dz;
};

inline Reach ReachOf(float ex, float ey, float ez, float area, float px, float py, float pz, float radius) {
    const float dx = ex - px, dy = ey - py, dz = ez - pz;
    const float squared = dx * dx + dy * dy + dz * dz + 1e-12f;
    const float inverse = 1.0f / std::sqrt(squared);
    const float emitted = (radius * radius - (ex * px + ey * py + ez * pz)) * inverse / radius;
    const float flux = area * std::max(emitted, 0.0f) * inverse * inverse;
    return {flux, dx * inverse, dy * inverse, dz * inverse};
}

} // namespace

double Dome::QuadrantAzimuth(int32_t quadrant) {
    static const double azimuths[4] = {135, 45, 225, 315};
    return azimuths[quadrant & 3];
}

Dome::Dome(double radius) : _radius(radius) {
    const double top = std::asin(OpeningShare);
    const double rowStep = (Pi / 2 - top) / SampleRows;
    const double columnStep = (Pi / 2) / SampleColumns;
    for (int32_t q = 0; q < 4; ++q) {
        Emitters& emitters = _emitters[static_cast<size_t>(q)];
        const double first = QuadrantAzimuth(q) * Pi / 180 - Pi / 4;
        for (int32_t row = 0; row < SampleRows; ++row) {
            const double polar = top + (row + 0.5) * rowStep;
            for (int32_t column = 0; column < SampleColumns; ++column) {
                const double azimuth = first + (column + 0.5) * columnStep;
                emitters.x.push_back(static_cast<float>(radius * std::sin(polar) * std::cos(azimuth)));
                emitters.y.push_back(static_cast<float>(radius * std::sin(polar) * std::sin(azimuth)));
                emitters.z.push_back(static_cast<float>(radius * std::cos(polar)));
                emitters.area.push_back(
                    static_cast<float>(radius * radius * std::sin(polar) * rowStep * columnStep));
            }
        }
        while (emitters.area.size() % Block != 0) {
            emitters.x.push_back(0);
            emitters.y.push_back(0);
            emitters.z.push_back(static_cast<float>(radius));
            emitters.area.push_back(0);
        }
    }
    // The reference: one quadrant on a surface facing the camera at the centre of the rim's plane.
    const double reference = Irradiance(0, {0, 0, 0}, {0, 0, 1});
    _reference = reference > 0 ? reference : 1;
}

double Dome::Irradiance(int32_t q, const Vector3& point, const Vector3& normal) const {
    const Emitters& e = _emitters[static_cast<size_t>(q & 3)];
    const float px = static_cast<float>(point.x), py = static_cast<float>(point.y),
                pz = static_cast<float>(point.z);
    const float nx = static_cast<float>(normal.x), ny = static_cast<float>(normal.y),
                nz = static_cast<float>(normal.z);
    const float radius = static_cast<float>(_radius);
    float lanes[Block] = {};
    for (size_t i = 0; i < e.area.size(); i += Block)
        for (size_t lane = 0; lane < Block; ++lane) {
            const size_t at = i + lane;
            const Reach r = ReachOf(e.x[at], e.y[at], e.z[at], e.area[at], px, py, pz, radius);
            lanes[lane] += r.flux * std::max(nx * r.dx + ny * r.dy + nz * r.dz, 0.0f);
        }
    double sum = 0;
    for (float lane : lanes)
        sum += lane;
    return sum / _reference;
}

Vector3 Dome::VectorIrradiance(int32_t q, const Vector3& point) const {
    const Emitters& e = _emitters[static_cast<size_t>(q & 3)];
    const float px = static_cast<float>(point.x), py = static_cast<float>(point.y),
                pz = static_cast<float>(point.z);
    const float radius = static_cast<float>(_radius);
    double sum[3] = {0, 0, 0};
    for (size_t at = 0; at < e.area.size(); ++at) {
        const Reach r = ReachOf(e.x[at], e.y[at], e.z[at], e.area[at], px, py, pz, radius);
        sum[0] += r.flux * r.dx;
        sum[1] += r.flux * r.dy;
        sum[2] += r.flux * r.dz;
    }
    return {sum[0] / _reference, sum[1] / _reference, sum[2] / _reference};
}

double Dome::LowestElevation(const Vector3& point) const {
    const float px = static_cast<float>(point.x), py = static_cast<float>(point.y),
                pz = static_cast<float>(point.z);
    const float radius = static_cast<float>(_radius);
    float lowest = 1;
    for (const Emitters& e : _emitters)
        for (size_t at = 0; at < e.area.size(); ++at) {
            const Reach r = ReachOf(e.x[at], e.y[at], e.z[at], e.area[at], px, py, pz, radius);
            if (r.flux > 0)
                lowest = std::min(lowest, r.dz);
        }
    return std::asin(std::clamp(static_cast<double>(lowest), -1.0, 1.0));
}

IrradianceField::IrradianceField(const Dome& dome, Vector3 low, Vector3 high, double spacing) : _low(low) {
    const double lows[3] = {low.x, low.y, low.z}, highs[3] = {high.x, high.y, high.z};
    for (int axis = 0; axis < 3; ++axis) {
        const double extent = std::max(0.0, highs[axis] - lows[axis]);
        // At most 32 nodes an axis: a field far wider than the dome is dark anyway, and stays cheap.
        _nodes[axis] = 1 + static_cast<int32_t>(std::min(31.0, std::ceil(extent / std::max(spacing, 1e-3))));
        _spacing[axis] = _nodes[axis] > 1 ? extent / (_nodes[axis] - 1) : 0;
    }
    _values.resize(static_cast<size_t>(_nodes[0]) * _nodes[1] * _nodes[2] * 12);
    _lowestElevation = Pi / 2;
    size_t at = 0;
    for (int32_t k = 0; k < _nodes[2]; ++k)
        for (int32_t j = 0; j < _nodes[1]; ++j)
            for (int32_t i = 0; i < _nodes[0]; ++i) {
                const Vector3 point{low.x + i * _spacing[0], low.y + j * _spacing[1],
                                    low.z + k * _spacing[2]};
                _lowestElevation = std::min(_lowestElevation, dome.LowestElevation(point));
                for (int32_t q = 0; q < 4; ++q) {
                    const Vector3 v = dome.VectorIrradiance(q, point);
                    _values[at++] = static_cast<float>(v.x);
                    _values[at++] = static_cast<float>(v.y);
                    _values[at++] = static_cast<float>(v.z);
                }
            }
}

std::array<Vector3, 4> IrradianceField::At(const Vector3& point) const {
    const double coordinates[3] = {point.x - _low.x, point.y - _low.y, point.z - _low.z};
    // Per axis, the weights of the nodes below and above the point, and the step to the one above.
    double below[3], above[3];
    size_t next[3];
    size_t node = 0, stride = 1;
    for (int axis = 0; axis < 3; ++axis) {
        const double position = _spacing[axis] > 0
                                    ? std::clamp(coordinates[axis] / _spacing[axis], 0.0, _nodes[axis] - 1.0)
                                    : 0.0;
        const int32_t index = std::min(static_cast<int32_t>(position), std::max(0, _nodes[axis] - 2));
        const double fraction = _nodes[axis] > 1 ? position - index : 0.0;
        below[axis] = 1 - fraction;
        above[axis] = fraction;
        node += static_cast<size_t>(index) * stride;
        next[axis] = _nodes[axis] > 1 ? stride * 12 : 0;
        stride *= static_cast<size_t>(_nodes[axis]);
    }
    // The eight corners' weights and places, x fastest; a corner of weight 0 adds nothing (the values
    // are finite).
    const double across[4] = {below[0] * below[1], above[0] * below[1], below[0] * above[1],
                              above[0] * above[1]};
    const double weights[8] = {across[0] * below[2], across[1] * below[2], across[2] * below[2],
                               across[3] * below[2], across[0] * above[2], across[1] * above[2],
                               across[2] * above[2], across[3] * above[2]};
    const size_t offsets[8] = {0,       next[0],           next[1],           next[0] + next[1],
                               next[2], next[0] + next[2], next[1] + next[2], next[0] + next[1] + next[2]};
    const float* first = &_values[node * 12];
    double sum[12] = {};
#pragma GCC unroll 8
    for (int corner = 0; corner < 8; ++corner) {
        const float* values = first + offsets[corner];
        for (int c = 0; c < 12; ++c)
            sum[c] += weights[corner] * values[c];
    }
    return {Vector3{sum[0], sum[1], sum[2]}, Vector3{sum[3], sum[4], sum[5]}, Vector3{sum[6], sum[7], sum[8]},
            Vector3{sum[9], sum[10], sum[11]}};
}

} // namespace zeb::station
