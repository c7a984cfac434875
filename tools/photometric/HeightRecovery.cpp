#include "HeightRecovery.h"

#include "Parallel.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zeb::photometric {

namespace {

// The integration's tolerance in the rounds, as a share of its right-hand side.
constexpr double RoundTolerance = 1e-3;
// A pixel whose light moved less than this (mm) since it was last solved keeps its answer.
constexpr float SolvedWithin = 0.002f;
// The horizons' grid: blocks of pixels about this wide (mm).
constexpr double ReliefBlock = 0.2;
// Hidden light that changed by less than this share of a step's white level since a pixel was last
// solved leaves its answer (a few hundredths of a degree of its normal at most).
constexpr double HiddenWithin = 1e-3;
// A point's relief that moved less than this (tan of elevation, and slope) and its height less than
// this (mm) keep the light hidden from it.
constexpr float SameRelief = 3e-3f, SameHeight = 0.1f;
// The relief nearer a point than this (mm) is its facet's own: see SweepHorizon.
constexpr double NearRelief = 0.4;

// The four light vectors whose least-squares inverse is the 3 x 4 matrix `inverse` (row-major):
// with L the lights (4 x 3) and M = (L^T L)^-1 L^T, M M^T = (L^T L)^-1, so light k is
// (M M^T)^-1 times column k of M. False when the matrix is degenerate.
bool LightsOfInverse(const float* inverse, std::array<Vector3, 4>& lights) {
    double g[3][3];
    for (size_t r = 0; r < 3; ++r)
        for (size_t c = 0; c < 3; ++c) {
            double sum = 0;
            for (size_t k = 0; k < 4; ++k)
                sum += static_cast<double>(inverse[4 * r + k]) * inverse[4 * c + k];
            g[r][c] = sum;
        }
    const double c00 = g[1][1] * g[2][2] - g[1][2] * g[1][2], c01 = g[0][2] * g[1][2] - g[0][1] * g[2][2],
                 c02 = g[0][1] * g[1][2] - g[0][2] * g[1][1], c11 = g[0][0] * g[2][2] - g[0][2] * g[0][2],
                 c12 = g[0][1] * g[0][2] - g[0][0] * g[1][2], c22 = g[0][0] * g[1][1] - g[0][1] * g[0][1];
    const double determinant = g[0][0] * c00 + g[0][1] * c01 + g[0][2] * c02;
    if (!(std::fabs(determinant) > 0) || !std::isfinite(determinant))
        return false;
    const double d = 1 / determinant;
    for (size_t k = 0; k < 4; ++k) {
        const double m0 = inverse[k], m1 = inverse[4 + k], m2 = inverse[8 + k];
        lights[k] = {(c00 * m0 + c01 * m1 + c02 * m2) * d, (c01 * m0 + c11 * m1 + c12 * m2) * d,
                     (c02 * m0 + c12 * m1 + c22 * m2) * d};
    }
    return true;
}

} // namespace

HeightRecovery::HeightRecovery(const LightingModel& model, const ImageRegion& region, const LightField& plane)
    : _model(model), _volume(model, plane.Width(), plane.Height(), region, &plane) {}

HeightRecovery::~HeightRecovery() = default;

void HeightRecovery::Recover(const ImageSetView& images, Surface& surface, int32_t maxRounds,
                             double settled) {
    const size_t pixels = surface.status.size();
    _heights.clear();
    _lit.assign(pixels, 0.0f);
    _step.assign(pixels, 0.0f);
    _gain.assign(pixels, 1.0f);
    _solvedAt.assign(pixels, 0.0f);   // the first solve lit every pixel on the object plane
    _solvedVersion.assign(pixels, 0); // and with the whole dome
    _hidden.clear();
    _rounds = 0;
    _change = 0;
    // The rounds light each pixel at its height, for which hundredths of a millimetre are plenty:
    // they integrate to a looser tolerance, and the last heights are then finished from there.
    for (;;) {
        _integration.Integrate(surface, _heights, RoundTolerance);
        if ((_rounds > 0 && Settled(surface, settled)) || _rounds >= maxRounds) {
            _integration.Integrate(surface, _heights);
            break;
        }
        _previous = _heights;
        // Each pixel is lit at its new height. Where a pixel's height swung back, its normal and its
        // height feed each other too strongly (a grazing facet at a rim): its move is cut by what the
        // two swings say the fixed point is (for a swing back of the same size, half way). One that
        // swings again (a facet with two answers close together) stays where it is: its normal
        // depends on its light's height alone, so the rounds can settle.
        for (size_t i = 0; i < pixels; ++i) {
            const float step = _heights[i] - _lit[i];
            if (step * _step[i] < 0) {
                _gain[i] *= std::fabs(_step[i]) / (std::fabs(_step[i]) + std::fabs(step));
                if (_gain[i] < 0.25f)
                    _gain[i] = 0;
            }
            _step[i] = step;
            _lit[i] += _gain[i] * step;
        }
        Shade();
        SolveAtHeights(images, surface);
        ++_rounds;
    }
    surface.heightMap.assign(pixels, std::numeric_limits<float>::quiet_NaN());
    for (size_t i = 0; i < pixels; ++i)
        if (NormalIntegration::Integrable(surface, i))
            surface.heightMap[i] = _heights[i];
}

bool HeightRecovery::Settled(const Surface& surface, double settled) {
    // Settled when at most one pixel with a height in a thousand moved further: a few grazing pixels at
    // a rim may still hop between two answers, and their neighbours with them.
    size_t reliable = 0, moving = 0;
    _change = 0;
    for (size_t i = 0; i < surface.status.size(); ++i)
        if (NormalIntegration::Integrable(surface, i)) {
            const double change = std::fabs(_heights[i] - _previous[i]);
            ++reliable;
            moving += change > settled ? 1 : 0;
            _change = std::max(_change, change);
        }
    return moving * 1000 <= reliable;
}

int32_t HeightRecovery::ReliefBlockFor(int32_t width, int32_t height, double pixelSize) {
    const int32_t side = std::max({1, width, height});
    const double wanted = pixelSize > 0 ? std::round(ReliefBlock / pixelSize) : 1;
    int32_t block = static_cast<int32_t>(std::clamp(wanted, 1.0, static_cast<double>(side)));
    const auto points = [&](int32_t b) {
        return static_cast<size_t>(std::max(1, width / b)) * static_cast<size_t>(std::max(1, height / b));
    };
    while (points(block) > MostReliefPoints)
        ++block;
    return block;
}

void HeightRecovery::Shade() {
    const int32_t width = _volume.Width(), height = _volume.Height();
    const int32_t block = ReliefBlockFor(width, height, _model.camera.PixelSize());
    _relief.Update(_heights, width, height, block, _model.camera.PixelSize(), _model.camera.RowPitch(),
                   NearRelief);
    const size_t points = _relief.Points();
    constexpr size_t Inputs = HorizonSectors + 3;
    if (_hidden.size() != points * 12) {
        _hidden.assign(points * 12, 0.0f);
        _hiddenMark.assign(points * 12, 0.0f);
        _hiddenVersion.assign(points, 0);
        _shaded.assign(points, 0);
        _hiddenFrom.assign(points * Inputs, std::numeric_limits<float>::quiet_NaN());
    }
    double white = 0;
    for (const DirectionLight& direction : _model.directions)
        white += direction.whiteLevel / 4;
    const float within = static_cast<float>(HiddenWithin * white), none = 1e-3f * within;
    // Each point's hidden light is its own: the points are spread over the cores.
    ParallelFor(points, 256, [&](size_t begin, size_t end) {
        for (size_t p = begin; p < end; ++p) {
            // A point whose horizons, slope and height hardly moved keeps its hidden light.
            float* from = &_hiddenFrom[p * Inputs];
            const float* horizons = _relief.Horizons(p);
            bool same = std::fabs(from[HorizonSectors] - _relief.SlopeX(p)) <= SameRelief &&
                        std::fabs(from[HorizonSectors + 1] - _relief.SlopeY(p)) <= SameRelief &&
                        std::fabs(from[HorizonSectors + 2] - _relief.Height(p)) <= SameHeight;
            for (size_t sector = 0; same && sector < HorizonSectors; ++sector)
                same = horizons[sector] == from[sector] ||
                       std::fabs(horizons[sector] - from[sector]) <= SameRelief;
            if (same)
                continue;
            std::copy(horizons, horizons + HorizonSectors, from);
            from[HorizonSectors] = _relief.SlopeX(p);
            from[HorizonSectors + 1] = _relief.SlopeY(p);
            from[HorizonSectors + 2] = _relief.Height(p);
            float next[12] = {};
            const LightVolume::Place place = _volume.At(_relief.Height(p));
            const float lowest = std::min(place.lower->LowestTan(), place.upper->LowestTan());
            float tangent[HorizonSectors];
            if (_relief.Rises(p, lowest, tangent)) {
                const double x = _relief.CentreX(p), y = _relief.CentreY(p);
                const float* horizon = _relief.Horizons(p);
                place.lower->AddHidden(x, y, horizon, tangent, 1 - place.share, next);
                if (place.share > 0)
                    place.upper->AddHidden(x, y, horizon, tangent, place.share, next);
            }
            float* hidden = &_hidden[p * 12];
            float* mark = &_hiddenMark[p * 12];
            float largest = 0, moved = 0;
            for (size_t c = 0; c < 12; ++c) {
                largest = std::max(largest, std::fabs(next[c]));
                moved = std::max(moved, std::fabs(next[c] - mark[c]));
            }
            _shaded[p] = largest > none ? 1 : 0;
            for (size_t c = 0; c < 12; ++c)
                hidden[c] = _shaded[p] ? next[c] : 0.0f;
            if (moved > within) {
                std::copy(hidden, hidden + 12, mark);
                ++_hiddenVersion[p];
            }
        }
    });
}

void HeightRecovery::SolveAtHeights(const ImageSetView& images, Surface& surface) {
    const float dark = static_cast<float>(_model.darkLevel);
    // Each pixel's answer is its own: rows are spread over the cores.
    ParallelFor(static_cast<size_t>(surface.height), 4, [&](size_t begin, size_t end) {
        float lower[LightField::Values], upper[LightField::Values], values[LightField::Values];
        for (int32_t y = static_cast<int32_t>(begin); y < static_cast<int32_t>(end); ++y) {
            const uint8_t* rows[4] = {images.Row(0, y), images.Row(1, y), images.Row(2, y), images.Row(3, y)};
            for (int32_t x = 0; x < surface.width; ++x) {
                const size_t i = surface.Index(x, y);
                const size_t point = _relief.PointOf(x, y);
                // A pixel's answer depends on the height it is lit at and the light hidden from it alone.
                if (std::fabs(_lit[i] - _solvedAt[i]) < SolvedWithin &&
                    _solvedVersion[i] == _hiddenVersion[point])
                    continue;
                _solvedAt[i] = _lit[i];
                _solvedVersion[i] = _hiddenVersion[point];
                const float* hidden = _shaded[point] ? &_hidden[point * 12] : nullptr;
                std::array<uint8_t, 4> grey;
                for (size_t k = 0; k < 4; ++k)
                    grey[k] = rows[k][x];
                const PixelSignal pixel =
                    ClassifyPixel(grey, _model.darkLevel, _model.minimumSignal, _model.saturation);
                const LightVolume::Place place = _volume.At(_lit[i]);
                place.lower->ValuesAt(x, y, lower);
                place.upper->ValuesAt(x, y, upper);
                for (size_t v = 0; v < static_cast<size_t>(LightField::Values); ++v)
                    values[v] = lower[v] + place.share * (upper[v] - lower[v]);
                // The whole light of each step first, as on the plane.
                const float s[4] = {grey[0] - dark, grey[1] - dark, grey[2] - dark, grey[3] - dark};
                const Vector3 scaled{
                    values[0] * s[0] + values[1] * s[1] + values[2] * s[2] + values[3] * s[3],
                    values[4] * s[0] + values[5] * s[1] + values[6] * s[2] + values[7] * s[3],
                    values[8] * s[0] + values[9] * s[1] + values[10] * s[2] + values[11] * s[3]};
                const double length = Length(scaled);
                PixelSolution solution;
                const std::array<float, 4> unexplained = UnexplainedDirection(values);
                const float off = unexplained[0] * s[0] + unexplained[1] * s[1] + unexplained[2] * s[2] +
                                  unexplained[3] * s[3];
                // In a cast shadow, a facet that sees every emitter above the horizons of the relief (a
                // plate around a tall object) is lit by the whole light less the hidden: solved at once,
                // unless a direction is left unexplained.
                bool shadedAtOnce = false;
                if (hidden && pixel.UsableCount() == 4) {
                    std::array<Vector3, 4> lights;
                    Vector3 shaded;
                    if (LightsOfInverse(values, lights)) {
                        for (size_t k = 0; k < 4; ++k)
                            lights[k] =
                                lights[k] - Vector3{hidden[3 * k], hidden[3 * k + 1], hidden[3 * k + 2]};
                        if (SolveScaledNormal(lights, pixel, shaded) && shaded.z > 0 &&
                            shaded.z / Length(shaded) >= values[12] && ShadowedDirection(lights, pixel) < 0) {
                            solution = {Normalised(shaded), Length(shaded), PixelStatus::Reliable};
                            shadedAtOnce = true;
                        }
                    }
                }
                if (shadedAtOnce) {
                    // Solved above.
                } else if (!hidden && pixel.UsableCount() == 4 && length > 0 &&
                           scaled.z / length >= values[12] &&
                           std::fabs(off) <= UnexplainedTolerance(0.25f * (s[0] + s[1] + s[2] + s[3]))) {
                    solution = {(1 / length) * scaled, length, PixelStatus::Reliable};
                } else {
                    // Part of some step's light lies below the facet's horizon or the relief's, a direction
                    // cannot be used, or one is in a cast shadow: solved with the light above the horizons,
                    // from the whole light's answer (not from the last round's, so that a pixel's normal
                    // depends on its light alone and the rounds cannot cycle).
                    Vector3 start = scaled.z > 0 ? scaled : Vector3{0, 0, 1};
                    const LightField::Probe low = place.lower->ProbeAt(x, y);
                    const LightField::Probe high = place.upper->ProbeAt(x, y);
                    const float share = place.share;
                    auto lightsOf = [&](const Vector3& normal, std::array<Vector3, 4>& lights) {
                        std::array<Vector3, 4> above;
                        low.Lights(normal, lights);
                        if (share > 0) {
                            high.Lights(normal, above);
                            for (size_t k = 0; k < 4; ++k)
                                lights[k] = lights[k] + share * (above[k] - lights[k]);
                        }
                        if (!hidden)
                            return;
                        // The point's hidden light is what the relief hides above the point's slope; a
                        // facet tilted further (a steep flank) has its own plane to hide what lies
                        // below it, and the relief hides from it only what rises above that plane.
                        const float* taken = hidden;
                        float own[12] = {};
                        if (normal.z < values[12] && normal.z > 0) {
                            float tangent[HorizonSectors];
                            _relief.Tangents(static_cast<float>(-normal.x / normal.z),
                                             static_cast<float>(-normal.y / normal.z), tangent);
                            const float* horizon = _relief.Horizons(point);
                            const float lowest = place.lower->LowestTan();
                            bool rises = false;
                            for (size_t sector = 0; sector < HorizonSectors; ++sector)
                                rises |= horizon[sector] > tangent[sector] && horizon[sector] > lowest;
                            const double px = _relief.CentreX(point), py = _relief.CentreY(point);
                            if (rises) {
                                place.lower->AddHidden(px, py, horizon, tangent, 1 - share, own);
                                if (share > 0)
                                    place.upper->AddHidden(px, py, horizon, tangent, share, own);
                            }
                            taken = own;
                        }
                        for (size_t k = 0; k < 4; ++k)
                            lights[k] = lights[k] - Vector3{taken[3 * k], taken[3 * k + 1], taken[3 * k + 2]};
                    };
                    // In a cast shadow the whole light's answer leans away from the relief: the start is
                    // the answer with the point's hidden light taken from the whole light instead.
                    if (hidden) {
                        std::array<Vector3, 4> lights;
                        lightsOf({0, 0, 1}, lights);
                        Vector3 shaded;
                        if (SolveScaledNormal(lights, pixel, shaded) && shaded.z > 0)
                            start = shaded;
                    }
                    solution = RefineNormal(lightsOf, pixel, start);
                }
                const bool reliable = solution.status == PixelStatus::Reliable;
                const Vector3 n = reliable ? solution.normal : Vector3{};
                surface.status[i] = static_cast<uint8_t>(solution.status);
                surface.albedo[i] = reliable ? static_cast<float>(solution.albedo) : 0.0f;
                surface.normalX[i] = static_cast<float>(n.x);
                surface.normalY[i] = static_cast<float>(n.y);
                surface.normalZ[i] = static_cast<float>(n.z);
                surface.gradientX[i] = reliable ? static_cast<float>(-n.x / n.z) : 0.0f;
                surface.gradientY[i] = reliable ? static_cast<float>(-n.y / n.z) : 0.0f;
            }
        }
    });
}

} // namespace zeb::photometric
