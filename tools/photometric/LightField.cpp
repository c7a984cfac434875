#include "LightField.h"

#include "PixelSolve.h"
#include "ReliefHorizon.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zeb::photometric {

namespace {

// Millimetres between nodes: the light changes by hundredths of a degree over this distance.
constexpr double NodeDistance = 3.0;
// A facet this much (radians) short of tilting below the lowest emitter already takes the light
// above its horizon, for the interpolation between nodes.
constexpr double HorizonMargin = 0.02;

// Column k of the least-squares inverse of the four light vectors is the solution for a signal of
// 1 in step k alone. False when the lights do not span the space.
bool LeastSquaresInverse(const std::array<Vector3, 4>& lights, float* inverse) {
    for (size_t k = 0; k < 4; ++k) {
        PixelSignal unit;
        unit.usable = 0xF;
        unit.signal[k] = 1;
        Vector3 column;
        if (!SolveScaledNormal(lights, unit, column))
            return false;
        inverse[0 * 4 + k] = static_cast<float>(column.x);
        inverse[1 * 4 + k] = static_cast<float>(column.y);
        inverse[2 * 4 + k] = static_cast<float>(column.z);
    }
    return true;
}

// The unit normal at grid point (i, j) of the stereographic table: (u, v) = (x, y) / (1 + z).
Vector3 TableNormal(int32_t i, int32_t j, int32_t size) {
    const double u = -1 + 2.0 * i / (size - 1), v = -1 + 2.0 * j / (size - 1);
    const double r2 = u * u + v * v;
    return {2 * u / (1 + r2), 2 * v / (1 + r2), (1 - r2) / (1 + r2)};
}

// Cell and share of a position along an axis of `nodes` points, in the precision of `Real` (single
// where it runs in every round of a pixel's solve). A NaN lands on the first cell.
template <typename Real> struct CellIn {
    int32_t index = 0;
    Real share = 0;
};
template <typename Real> CellIn<Real> CellOf(Real position, int32_t nodes) {
    if (nodes < 2)
        return {};
    position = std::max(Real{0}, std::min(position, static_cast<Real>(nodes - 1)));
    const int32_t index = std::min(static_cast<int32_t>(position), nodes - 2);
    return {index, position - static_cast<Real>(index)};
}
using Cell = CellIn<double>;

} // namespace

LightField::LightField(const LightingModel& model, int32_t width, int32_t height, const ImageRegion& region)
    : _model(model), _placement(model, std::max(width, 1), std::max(height, 1), region) {
    for (const DirectionLight& direction : model.directions)
        _lights.emplace_back(model.domeRadius, direction.patch);
    const double pixel = model.camera.PixelSize();
    _spacing = std::clamp(static_cast<int32_t>(std::lround(NodeDistance / pixel)), 4, 64);
    _nodesX = (Width() - 1 + _spacing - 1) / _spacing + 1;
    _nodesY = model.camera.lineScan ? 1 : (Height() - 1 + _spacing - 1) / _spacing + 1;
    _nodes.resize(static_cast<size_t>(_nodesX) * static_cast<size_t>(_nodesY));
    for (int32_t j = 0; j < _nodesY; ++j)
        for (int32_t i = 0; i < _nodesX; ++i) {
            Node& node =
                _nodes[static_cast<size_t>(j) * static_cast<size_t>(_nodesX) + static_cast<size_t>(i)];
            node.point = _placement.Point(i * _spacing, j * _spacing);
            std::array<Vector3, 4> lights;
            double lowest = Pi / 2;
            for (size_t k = 0; k < 4; ++k) {
                lights[k] =
                    model.directions[k].whiteLevel * _placement.ToImage(_lights[k].VectorLight(node.point));
                lowest = std::min(lowest, _lights[k].LowestElevation(node.point));
            }
            if (LeastSquaresInverse(lights, node.fast.data()))
                node.fast[Coefficients] = static_cast<float>(std::cos(std::max(0.0, lowest - HorizonMargin)));
            else
                node.fast[Coefficients] = 2; // no facet is solved from the whole emitters here
        }
    _tables.resize(_nodes.size());
    _tableOnce = std::make_unique<std::once_flag[]>(_nodes.size());
    _skies.resize(_nodes.size());
    _skyOnce = std::make_unique<std::once_flag[]>(_nodes.size());
    // The rim is the lowest any emitter stands: seen from a point below its plane, lowest at its far
    // side; from above it, at its near side.
    _lowestTan = std::numeric_limits<float>::infinity();
    for (const Node& node : _nodes) {
        const double across = std::hypot(node.point.x, node.point.y);
        const double reach = node.point.z < 0 ? model.domeRadius + across
                                              : std::max(model.domeRadius - across, 1e-6 * model.domeRadius);
        _lowestTan = std::min(_lowestTan, static_cast<float>(-node.point.z / reach));
    }
}

LightField::~LightField() = default;

void LightField::RowSegmentsOf(int32_t row, RowSegments& segments) const {
    const Cell y = CellOf(static_cast<double>(row) / _spacing, _nodesY);
    const size_t count = Values;
    segments.spacing = _spacing;
    segments.count = _nodesX;
    segments.start.resize(static_cast<size_t>(_nodesX) * count);
    segments.slope.resize(static_cast<size_t>(_nodesX) * count);
    // The nodes' values blended down to this row, then their change per pixel to the next column.
    for (int32_t i = 0; i < _nodesX; ++i) {
        const size_t upper =
            static_cast<size_t>(y.index) * static_cast<size_t>(_nodesX) + static_cast<size_t>(i);
        const size_t lower = _nodesY > 1 ? upper + static_cast<size_t>(_nodesX) : upper;
        for (size_t c = 0; c < count; ++c)
            segments.start[static_cast<size_t>(i) * count + c] =
                static_cast<float>((1 - y.share) * _nodes[upper].fast[c] + y.share * _nodes[lower].fast[c]);
    }
    for (int32_t i = 0; i < _nodesX; ++i)
        for (size_t c = 0; c < count; ++c) {
            const size_t at = static_cast<size_t>(i) * count + c;
            segments.slope[at] = i + 1 < _nodesX ? (segments.start[at + count] - segments.start[at]) /
                                                       static_cast<float>(_spacing)
                                                 : 0.0f;
        }
}

void LightField::ValuesAt(int32_t column, int32_t row, float* values) const {
    const Cell x = CellOf(static_cast<double>(column) / _spacing, _nodesX);
    const Cell y = CellOf(static_cast<double>(row) / _spacing, _nodesY);
    const size_t upper =
        static_cast<size_t>(y.index) * static_cast<size_t>(_nodesX) + static_cast<size_t>(x.index);
    const size_t right = _nodesX > 1 ? 1 : 0, down = _nodesY > 1 ? static_cast<size_t>(_nodesX) : 0;
    const float sx = static_cast<float>(x.share), sy = static_cast<float>(y.share);
    const float* a = _nodes[upper].fast.data();
    const float* b = _nodes[upper + right].fast.data();
    const float* c = _nodes[upper + down].fast.data();
    const float* d = _nodes[upper + down + right].fast.data();
    for (size_t v = 0; v < static_cast<size_t>(Values); ++v)
        values[v] = (1 - sy) * ((1 - sx) * a[v] + sx * b[v]) + sy * ((1 - sx) * c[v] + sx * d[v]);
}

LightField::Table LightField::BuildTable(const Node& node) const {
    std::array<EmitterVectors, 4> emitters;
    for (size_t k = 0; k < 4; ++k) {
        _lights[k].Emitters(node.point, emitters[k]);
        const float scale = static_cast<float>(_model.directions[k].whiteLevel);
        const float turn = _placement.ToImage({1, 1, 1}).x; // -1 where the image is turned
        for (size_t e = 0; e < emitters[k].x.size(); ++e) {
            emitters[k].x[e] *= scale * turn;
            emitters[k].y[e] *= scale * turn;
            emitters[k].z[e] *= scale;
        }
    }
    // A row of normals at a time, each emitter's light added to all of them at once: every normal's
    // sums still run through the emitters in order (the same bits as one normal at a time), and the
    // lanes of the row vectorise. The row is padded to a whole number of vector lanes.
    constexpr size_t Lanes = 36;
    static_assert(Lanes >= TableSize && Lanes % 4 == 0);
    Table table(static_cast<size_t>(TableSize * TableSize * 12));
    alignas(64) float nx[Lanes] = {}, ny[Lanes] = {}, nz[Lanes] = {};
    alignas(64) float sx[Lanes], sy[Lanes], sz[Lanes];
    for (int32_t j = 0; j < TableSize; ++j) {
        for (int32_t i = 0; i < TableSize; ++i) {
            const Vector3 n = TableNormal(i, j, TableSize);
            nx[i] = static_cast<float>(n.x);
            ny[i] = static_cast<float>(n.y);
            nz[i] = static_cast<float>(n.z);
        }
        for (size_t k = 0; k < 4; ++k) {
            const EmitterVectors& e = emitters[k];
            std::fill_n(sx, Lanes, 0.0f);
            std::fill_n(sy, Lanes, 0.0f);
            std::fill_n(sz, Lanes, 0.0f);
            for (size_t at = 0; at < e.x.size(); ++at) {
                const float ex = e.x[at], ey = e.y[at], ez = e.z[at];
                for (size_t i = 0; i < Lanes; ++i) {
                    const float above = static_cast<float>(ex * nx[i] + ey * ny[i] + ez * nz[i] > 0);
                    sx[i] += above * ex;
                    sy[i] += above * ey;
                    sz[i] += above * ez;
                }
            }
            for (int32_t i = 0; i < TableSize; ++i) {
                float* entry = &table[static_cast<size_t>((j * TableSize + i) * 12) + 3 * k];
                entry[0] = sx[i];
                entry[1] = sy[i];
                entry[2] = sz[i];
            }
        }
    }
    return table;
}

const LightField::Table& LightField::TableOf(size_t node) const {
    std::call_once(_tableOnce[node],
                   [&] { _tables[node] = std::make_unique<Table>(BuildTable(_nodes[node])); });
    return *_tables[node];
}

LightField::Sky LightField::BuildSky(const Node& node) const {
    Sky sky;
    EmitterVectors vectors;
    const float turn = _placement.ToImage({1, 1, 1}).x; // -1 where the image is turned
    for (size_t k = 0; k < 4; ++k) {
        const DomeLight& light = _lights[k];
        light.Emitters(node.point, vectors);
        const int32_t columns = light.Columns();
        sky.columns[k] = columns;
        const float scale = static_cast<float>(_model.directions[k].whiteLevel);
        for (int32_t column = 0; column < columns; ++column)
            for (int32_t fromRim = 0; fromRim < DomeLight::Rows; ++fromRim) {
                const size_t i = static_cast<size_t>((DomeLight::Rows - 1 - fromRim) * columns + column);
                SkyEmitter emitter;
                emitter.x = vectors.x[i] * scale * turn;
                emitter.y = vectors.y[i] * scale * turn;
                emitter.z = vectors.z[i] * scale;
                const double across = std::hypot(emitter.x, emitter.y);
                const double length = std::hypot(across, emitter.z);
                if (!(length > 0) || !(across > 1e-9 * length)) {
                    // Behind the point, or straight above it: no relief hides it.
                    emitter.lower = emitter.upper = std::numeric_limits<float>::infinity();
                    sky.emitters.push_back(emitter);
                    continue;
                }
                emitter.ux = static_cast<float>(emitter.x / across);
                emitter.uy = static_cast<float>(emitter.y / across);
                emitter.sector = HorizonSectorOf(emitter.ux, emitter.uy);
                // The row's edges as the point sees them; a row across the point's zenith (its edges
                // on either side) counts as wholly above or below its middle.
                Vector3 lower, upper;
                light.RowEdges(i, lower, upper);
                const Vector3 toLower = _placement.ToImage(lower - node.point);
                const Vector3 toUpper = _placement.ToImage(upper - node.point);
                const double lowerAcross = std::hypot(toLower.x, toLower.y);
                const double upperAcross = std::hypot(toUpper.x, toUpper.y);
                const bool sameSide = toLower.x * emitter.ux + toLower.y * emitter.uy > 0 &&
                                      toUpper.x * emitter.ux + toUpper.y * emitter.uy > 0;
                if (sameSide) {
                    const double a = toLower.z / lowerAcross, b = toUpper.z / upperAcross;
                    emitter.lower = static_cast<float>(std::min(a, b));
                    emitter.upper = static_cast<float>(std::max(a, b));
                } else {
                    emitter.lower = emitter.upper = static_cast<float>(emitter.z / across);
                }
                sky.emitters.push_back(emitter);
            }
    }
    return sky;
}

const LightField::Sky& LightField::SkyOf(size_t node) const {
    std::call_once(_skyOnce[node], [&] { _skies[node] = std::make_unique<Sky>(BuildSky(_nodes[node])); });
    return *_skies[node];
}

size_t LightField::NodeAt(int32_t x, int32_t y) const {
    return static_cast<size_t>(std::min(y, _nodesY - 1)) * static_cast<size_t>(_nodesX) +
           static_cast<size_t>(std::min(x, _nodesX - 1));
}

void LightField::AddHidden(double column, double row, const float* horizon, const float* tangent,
                           float weight, float* hidden) const {
    // The emitters as the nearest node sees them: within half a node's spacing the hidden light
    // changes by a few thousandths, far less than the horizons' own coarseness.
    const Cell x = CellOf(column / _spacing, _nodesX);
    const Cell y = CellOf(row / _spacing, _nodesY);
    const Sky& sky = SkyOf(NodeAt(x.index + (x.share >= 0.5 ? 1 : 0), y.index + (y.share >= 0.5 ? 1 : 0)));
    const SkyEmitter* emitters = sky.emitters.data();
    for (size_t k = 0; k < 4; ++k) {
        float sx = 0, sy = 0, sz = 0;
        for (int32_t c = 0; c < sky.columns[k]; ++c, emitters += DomeLight::Rows) {
            // From the rim up, while the relief still hides part of a row.
            for (int32_t q = 0; q < DomeLight::Rows; ++q) {
                const SkyEmitter& e = emitters[q];
                const float h = horizon[e.sector];
                if (!(h > e.lower))
                    break;
                const float t = tangent[e.sector];
                const float span = e.upper - e.lower;
                const float below = span > 0 ? std::min(1.0f, (h - e.lower) / span) : 1.0f;
                const float under =
                    t <= e.lower ? 0.0f : (span > 0 ? std::min(1.0f, (t - e.lower) / span) : 1.0f);
                const float part = below - under;
                if (part > 0) {
                    sx += part * e.x;
                    sy += part * e.y;
                    sz += part * e.z;
                }
            }
        }
        hidden[3 * k] += weight * sx;
        hidden[3 * k + 1] += weight * sy;
        hidden[3 * k + 2] += weight * sz;
    }
}

LightField::Probe LightField::ProbeAt(int32_t column, int32_t row) const {
    const Cell x = CellOf(static_cast<double>(column) / _spacing, _nodesX);
    const Cell y = CellOf(static_cast<double>(row) / _spacing, _nodesY);
    Probe probe;
    for (int32_t corner = 0; corner < 4; ++corner) {
        const int32_t dx = corner & 1, dy = corner >> 1;
        const double share = (dx ? x.share : 1 - x.share) * (dy ? y.share : 1 - y.share);
        const size_t node = NodeAt(x.index + dx, y.index + dy);
        // A node without a share needs no table: the first one with a share stands in for it.
        probe._shares[static_cast<size_t>(corner)] = static_cast<float>(share);
        probe._tables[static_cast<size_t>(corner)] = share > 0 ? TableOf(node).data() : nullptr;
    }
    for (size_t corner = 0; corner < 4; ++corner)
        if (!probe._tables[corner])
            for (const float* table : probe._tables)
                if (table)
                    probe._tables[corner] = table;
    return probe;
}

void LightField::Probe::Lights(const Vector3& normal, std::array<Vector3, 4>& lights) const {
    // Where the normal falls in the tables' grid: (u, v) = (x, y) / (1 + z), in single precision
    // like the tables (this runs in every round of every pixel solved again).
    const float toGrid =
        static_cast<float>(TableSize - 1) / 2 / std::max(1 + static_cast<float>(normal.z), 1e-6f);
    constexpr float Middle = (TableSize - 1) / 2.0f;
    const auto [u, uShare] = CellOf(static_cast<float>(normal.x) * toGrid + Middle, TableSize);
    const auto [v, vShare] = CellOf(static_cast<float>(normal.y) * toGrid + Middle, TableSize);
    const size_t entry = static_cast<size_t>(v * TableSize + u) * 12;
    const size_t offsets[4] = {entry, entry + 12, entry + TableSize * 12, entry + TableSize * 12 + 12};
    const float normalShares[4] = {(1 - uShare) * (1 - vShare), uShare * (1 - vShare), (1 - uShare) * vShare,
                                   uShare * vShare};
    float sum[12] = {};
    for (size_t node = 0; node < 4; ++node)
        for (size_t corner = 0; corner < 4; ++corner) {
            const float weight = _shares[node] * normalShares[corner];
            const float* values = _tables[node] + offsets[corner];
            for (size_t c = 0; c < 12; ++c)
                sum[c] += weight * values[c];
        }
    for (size_t k = 0; k < 4; ++k)
        lights[k] = {sum[3 * k], sum[3 * k + 1], sum[3 * k + 2]};
}

} // namespace zeb::photometric
