#include "SurfaceSolver.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>

namespace zeb::photometric {

SurfaceSolver::SurfaceSolver(LightingModel model, ImageRegion region, SurfaceOptions options)
    : _model(std::move(model)), _region(region), _options(options), _curvature(options.curvatureRadius) {
    if (const std::string problem = ModelProblem(_model); !problem.empty())
        throw std::invalid_argument(problem);
    if (!(std::isfinite(options.curvatureRadius) && options.curvatureRadius >= 0))
        throw std::invalid_argument("the curvature radius must be a number of millimetres, 0 or more");
    if (!(std::isfinite(options.heightSettled) && options.heightSettled >= 0) || options.heightRounds < 0)
        throw std::invalid_argument("the height rounds and tolerance must be 0 or more");
}

SurfaceSolver::~SurfaceSolver() = default;

const LightField& SurfaceSolver::FieldFor(int32_t width, int32_t height) {
    if (!_field || _field->Width() != width || _field->Height() != height) {
        _heights.reset();
        _field = std::make_unique<LightField>(_model, width, height, _region);
        _segmentsRow = -1;
        if (_options.recoverHeight)
            _heights = std::make_unique<HeightRecovery>(_model, _region, *_field);
    }
    return *_field;
}

Surface SurfaceSolver::Solve(const ImageSetView& images) {
    Surface surface;
    Solve(images, surface);
    return surface;
}

void SurfaceSolver::Solve(const ImageSetView& images, Surface& surface) {
    if (!images.pixels || images.width <= 0 || images.height < 4 || images.height % 4 != 0)
        throw std::invalid_argument("an image set of " + std::to_string(images.width) + " x " +
                                    std::to_string(images.height) + " pixels does not hold four directions");
    const int32_t width = images.width, height = images.DirectionHeight();
    FieldFor(width, height);
    surface.Resize(width, height);
    surface.pixelSize = _model.camera.PixelSize();
    surface.rowPitch = _model.camera.RowPitch();
    _cosHorizon.resize(static_cast<size_t>(width));
    _refine.resize(static_cast<size_t>(width));
    // Row by row, so that each row's planes are still in the cache for the steps after the first.
    _refined = 0;
    _corrections.assign(2 * static_cast<size_t>(width), Correction{});
    // Without heights the curvature follows the solve row by row; with them it waits for the last
    // round's normals.
    const bool withHeights = _heights != nullptr;
    _curvature.Begin(surface);
    for (int32_t y = 0; y < height; ++y) {
        SolveRow(images, y, surface);
        RefineRow(images, y, surface);
        if (!withHeights)
            _curvature.AddRow(surface, y);
    }
    if (withHeights) {
        _heights->Recover(images, surface, _options.heightRounds, _options.heightSettled);
        _curvature.Apply(surface);
    }
}

namespace {

// Albedo times normal from the four signals of `count` pixels of a row, with the inverse matrix
// start[c] + x slope[c] at the x-th of them, then the unit normal and the gradients, and the
// cosine of the horizon tilt (value 12) for the flags. Free of branches and of aliasing so that
// the compiler vectorises it. A pixel without signal, or facing away, gets infinities here: it is
// solved again and overwritten.
// The same arithmetic in every form (no contraction into fused multiply-adds: gcc keeps ISO C++'s
// rounding), so that the vector widths give the same bits.
[[gnu::always_inline]] inline void
SolveSegmentBody(int32_t count, const uint8_t* __restrict d0, const uint8_t* __restrict d1,
                 const uint8_t* __restrict d2, const uint8_t* __restrict d3, const float* __restrict start,
                 const float* __restrict slope, float dark, float* __restrict albedo, float* __restrict nx,
                 float* __restrict ny, float* __restrict nz, float* __restrict px, float* __restrict py,
                 float* __restrict cosHorizon) {
    for (int32_t x = 0; x < count; ++x) {
        const float t = static_cast<float>(x);
        const float s0 = static_cast<float>(d0[x]) - dark, s1 = static_cast<float>(d1[x]) - dark,
                    s2 = static_cast<float>(d2[x]) - dark, s3 = static_cast<float>(d3[x]) - dark;
        const float gx = (start[0] + t * slope[0]) * s0 + (start[1] + t * slope[1]) * s1 +
                         (start[2] + t * slope[2]) * s2 + (start[3] + t * slope[3]) * s3;
        const float gy = (start[4] + t * slope[4]) * s0 + (start[5] + t * slope[5]) * s1 +
                         (start[6] + t * slope[6]) * s2 + (start[7] + t * slope[7]) * s3;
        const float gz = (start[8] + t * slope[8]) * s0 + (start[9] + t * slope[9]) * s1 +
                         (start[10] + t * slope[10]) * s2 + (start[11] + t * slope[11]) * s3;
        const float length = std::sqrt(gx * gx + gy * gy + gz * gz);
        const float scale = 1.0f / length;
        const float x1 = gx * scale, y1 = gy * scale, z1 = gz * scale;
        const float gradient = 1.0f / z1;
        albedo[x] = length;
        nx[x] = x1;
        ny[x] = y1;
        nz[x] = z1;
        px[x] = -x1 * gradient;
        py[x] = -y1 * gradient;
        cosHorizon[x] = start[12] + t * slope[12];
    }
}

using SegmentSolver = void (*)(int32_t, const uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*,
                               const float*, const float*, float, float*, float*, float*, float*, float*,
                               float*, float*);

void SolveSegment(int32_t count, const uint8_t* __restrict d0, const uint8_t* __restrict d1,
                  const uint8_t* __restrict d2, const uint8_t* __restrict d3, const float* __restrict start,
                  const float* __restrict slope, float dark, float* __restrict albedo, float* __restrict nx,
                  float* __restrict ny, float* __restrict nz, float* __restrict px, float* __restrict py,
                  float* __restrict cosHorizon) {
    SolveSegmentBody(count, d0, d1, d2, d3, start, slope, dark, albedo, nx, ny, nz, px, py, cosHorizon);
}

// Eight pixels at a time where the processor has AVX2.
[[gnu::target("avx2")]] void
SolveSegmentAvx2(int32_t count, const uint8_t* __restrict d0, const uint8_t* __restrict d1,
                 const uint8_t* __restrict d2, const uint8_t* __restrict d3, const float* __restrict start,
                 const float* __restrict slope, float dark, float* __restrict albedo, float* __restrict nx,
                 float* __restrict ny, float* __restrict nz, float* __restrict px, float* __restrict py,
                 float* __restrict cosHorizon) {
    SolveSegmentBody(count, d0, d1, d2, d3, start, slope, dark, albedo, nx, ny, nz, px, py, cosHorizon);
}

SegmentSolver ChooseSegmentSolver() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? SolveSegmentAvx2 : SolveSegment;
}

// Marks the pixels to solve again: a direction that cannot be used (at or below `usableAbove`,
// or clipped at `clipped`), a facet tilted past the lowest emitter, or signals that no facet lit by
// all four explains (`unexplained`: a cast shadow).
void RefineFlagsKernel(int32_t count, const uint8_t* __restrict d0, const uint8_t* __restrict d1,
                       const uint8_t* __restrict d2, const uint8_t* __restrict d3, const float* __restrict nz,
                       const float* __restrict cosHorizon, int32_t usableAbove, int32_t clipped,
                       const float* __restrict unexplained, float dark, uint8_t* __restrict refine) {
    for (int32_t x = 0; x < count; ++x) {
        const int32_t g0 = d0[x], g1 = d1[x], g2 = d2[x], g3 = d3[x];
        const int32_t low01 = g0 < g1 ? g0 : g1, low23 = g2 < g3 ? g2 : g3;
        const int32_t high01 = g0 > g1 ? g0 : g1, high23 = g2 > g3 ? g2 : g3;
        const int32_t lowest = low01 < low23 ? low01 : low23;
        const int32_t highest = high01 > high23 ? high01 : high23;
        const float s0 = static_cast<float>(g0) - dark, s1 = static_cast<float>(g1) - dark,
                    s2 = static_cast<float>(g2) - dark, s3 = static_cast<float>(g3) - dark;
        const float off =
            unexplained[0] * s0 + unexplained[1] * s1 + unexplained[2] * s2 + unexplained[3] * s3;
        const float tolerance = UnexplainedTolerance(0.25f * (s0 + s1 + s2 + s3));
        const int32_t settled = (lowest > usableAbove) & (highest < clipped) & (nz[x] >= cosHorizon[x]) &
                                (off <= tolerance) & (-off <= tolerance);
        refine[x] = static_cast<uint8_t>(settled ^ 1);
    }
}

} // namespace

void SurfaceSolver::SolveRow(const ImageSetView& images, int32_t row, Surface& surface) {
    const int32_t width = surface.width;
    if (width <= 0)
        return;
    if (!(_field->RowsAlike() && _segmentsRow == 0)) {
        _field->RowSegmentsOf(_field->RowsAlike() ? 0 : row, _segments);
        _segmentsRow = _field->RowsAlike() ? 0 : row;
    }
    const uint8_t *d0 = images.Row(0, row), *d1 = images.Row(1, row), *d2 = images.Row(2, row),
                  *d3 = images.Row(3, row);
    const size_t at = surface.Index(0, row);
    const float dark = static_cast<float>(_model.darkLevel);
    static const SegmentSolver solveSegment = ChooseSegmentSolver();
    for (int32_t i = 0; i < _segments.count; ++i) {
        const int32_t first = i * _segments.spacing;
        if (first >= width)
            break;
        const int32_t count = std::min(width - first, _segments.spacing);
        const size_t x = static_cast<size_t>(first), values = static_cast<size_t>(i) * LightField::Values;
        solveSegment(count, d0 + x, d1 + x, d2 + x, d3 + x, &_segments.start[values],
                     &_segments.slope[values], dark, &surface.albedo[at + x], &surface.normalX[at + x],
                     &surface.normalY[at + x], &surface.normalZ[at + x], &surface.gradientX[at + x],
                     &surface.gradientY[at + x], &_cosHorizon[x]);
    }
    std::fill_n(surface.status.begin() + static_cast<std::ptrdiff_t>(at), static_cast<size_t>(width),
                uint8_t{0});
    // Grey levels: a usable direction lies above the first and below the second.
    const int32_t usableAbove = static_cast<int32_t>(std::floor(_model.darkLevel + _model.minimumSignal));
    const int32_t clipped = static_cast<int32_t>(std::ceil(_model.saturation));
    for (int32_t i = 0; i < _segments.count; ++i) {
        const int32_t first = i * _segments.spacing;
        if (first >= width)
            break;
        const int32_t count = std::min(width - first, _segments.spacing);
        const size_t x = static_cast<size_t>(first);
        const std::array<float, 4> unexplained =
            UnexplainedDirection(&_segments.start[static_cast<size_t>(i) * LightField::Values]);
        RefineFlagsKernel(count, d0 + x, d1 + x, d2 + x, d3 + x, &surface.normalZ[at + x], &_cosHorizon[x],
                          usableAbove, clipped, unexplained.data(), dark, &_refine[x]);
    }
}

void SurfaceSolver::RefineRow(const ImageSetView& images, int32_t y, Surface& surface) {
    const size_t w = static_cast<size_t>(surface.width);
    // How far the settled normal of the pixel to the left, or above, lay from its first solve: the
    // same correction is a close start for this pixel, so that it settles in fewer rounds. Each
    // correction names its row, so that the rows' entries need no clearing.
    const Correction* const above = &_corrections[(y % 2 == 0 ? w : 0)];
    Correction* const current = &_corrections[(y % 2 == 0 ? 0 : w)];
    const uint8_t* const rows[4] = {images.Row(0, y), images.Row(1, y), images.Row(2, y), images.Row(3, y)};
    // Most pixels need no second solve: jump from one marked pixel to the next.
    _marked.clear();
    const uint8_t* const refine = _refine.data();
    for (const uint8_t* at = static_cast<const uint8_t*>(std::memchr(refine, 1, w)); at;
         at = static_cast<const uint8_t*>(std::memchr(at + 1, 1, w - static_cast<size_t>(at + 1 - refine))))
        _marked.push_back(static_cast<int32_t>(at - refine));
    _refined += _marked.size();

    // One marked pixel on its way: its signal, its first solve and its rounds.
    struct Job {
        int32_t x;
        size_t i;
        PixelSignal pixel;
        Vector3 fast;
        bool fastSolved;
        LightField::Probe probe;
        NormalRefinement refinement;

        Job(int32_t column, size_t index, const PixelSignal& signal, const Vector3& first, bool solved,
            const LightField::Probe& lights, const Vector3& start)
            : x(column), i(index), pixel(signal), fast(first), fastSolved(solved), probe(lights),
              refinement(pixel, start) {}
    };
    auto begin = [&](std::optional<Job>& job, int32_t x) {
        std::array<uint8_t, 4> grey;
        for (size_t k = 0; k < 4; ++k)
            grey[k] = rows[k][x];
        const PixelSignal pixel =
            ClassifyPixel(grey, _model.darkLevel, _model.minimumSignal, _model.saturation);
        const size_t i = surface.Index(x, y);
        const Vector3 fast{surface.normalX[i], surface.normalY[i], surface.normalZ[i]};
        const bool fastSolved = pixel.UsableCount() == 4 && fast.z > 0;
        Vector3 start{0, 0, 1};
        if (fastSolved) {
            const Correction* near = x > 0 && current[x - 1].row == y ? &current[x - 1]
                                     : above[x].row == y - 1          ? &above[x]
                                                                      : nullptr;
            start = near ? Normalised(fast + near->shift) : fast;
        }
        job.emplace(x, i, pixel, fast, fastSolved, _field->ProbeAt(x, y), start);
    };
    auto finish = [&](const Job& job) {
        const PixelSolution solution = job.refinement.Solution();
        const size_t i = job.i;
        surface.status[i] = static_cast<uint8_t>(solution.status);
        const bool reliable = solution.status == PixelStatus::Reliable;
        const Vector3 n = reliable ? solution.normal : Vector3{};
        surface.normalX[i] = static_cast<float>(n.x);
        surface.normalY[i] = static_cast<float>(n.y);
        surface.normalZ[i] = static_cast<float>(n.z);
        surface.albedo[i] = reliable ? static_cast<float>(solution.albedo) : 0.0f;
        surface.gradientX[i] = reliable ? static_cast<float>(-n.x / n.z) : 0.0f;
        surface.gradientY[i] = reliable ? static_cast<float>(-n.y / n.z) : 0.0f;
        if (reliable && job.fastSolved)
            current[job.x] = {n - job.fast, y};
    };
    // Four pixels take turns, round by round: while one round waits for its solve, the others' can
    // go on. A pixel whose left neighbour takes its turns beside it starts from the correction above.
    constexpr size_t Lanes = 4;
    std::optional<Job> jobs[Lanes];
    for (size_t m = 0; m < _marked.size(); m += Lanes) {
        const size_t count = std::min<size_t>(Lanes, _marked.size() - m);
        for (size_t j = 0; j < count; ++j)
            begin(jobs[j], _marked[m + j]);
        for (bool going = true; going;) {
            going = false;
            for (size_t j = 0; j < count; ++j) {
                Job& job = *jobs[j];
                if (job.refinement.Done())
                    continue;
                job.refinement.Round([&](const Vector3& normal, std::array<Vector3, 4>& lights) {
                    job.probe.Lights(normal, lights);
                });
                going = true;
            }
        }
        for (size_t j = 0; j < count; ++j)
            finish(*jobs[j]);
    }
}

} // namespace zeb::photometric
