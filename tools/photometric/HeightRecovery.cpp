#include "HeightRecovery.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zeb::photometric {

namespace {

// The integration's tolerance in the rounds, as a share of its right-hand side.
constexpr double RoundTolerance = 1e-3;
// A pixel whose light moved less than this (mm) since it was last solved keeps its answer.
constexpr float SolvedWithin = 0.002f;

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
    _solvedAt.assign(pixels, 0.0f); // the first solve lit every pixel on the object plane
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

void HeightRecovery::SolveAtHeights(const ImageSetView& images, Surface& surface) {
    const float dark = static_cast<float>(_model.darkLevel);
    float lower[LightField::Values], upper[LightField::Values], values[LightField::Values];
    for (int32_t y = 0; y < surface.height; ++y) {
        const uint8_t* rows[4] = {images.Row(0, y), images.Row(1, y), images.Row(2, y), images.Row(3, y)};
        for (int32_t x = 0; x < surface.width; ++x) {
            const size_t i = surface.Index(x, y);
            // A pixel's answer depends on the height it is lit at alone.
            if (std::fabs(_lit[i] - _solvedAt[i]) < SolvedWithin)
                continue;
            _solvedAt[i] = _lit[i];
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
            const Vector3 scaled{values[0] * s[0] + values[1] * s[1] + values[2] * s[2] + values[3] * s[3],
                                 values[4] * s[0] + values[5] * s[1] + values[6] * s[2] + values[7] * s[3],
                                 values[8] * s[0] + values[9] * s[1] + values[10] * s[2] + values[11] * s[3]};
            const double length = Length(scaled);
            PixelSolution solution;
            const std::array<float, 4> unexplained = UnexplainedDirection(values);
            const float off =
                unexplained[0] * s[0] + unexplained[1] * s[1] + unexplained[2] * s[2] + unexplained[3] * s[3];
            if (pixel.UsableCount() == 4 && length > 0 && scaled.z / length >= values[12] &&
                std::fabs(off) <= UnexplainedTolerance(0.25f * (s[0] + s[1] + s[2] + s[3]))) {
                solution = {(1 / length) * scaled, length, PixelStatus::Reliable};
            } else {
                // Part of some step's light lies below the facet's horizon, a direction cannot be
                // used, or one is in a cast shadow: solved with the light above the horizon, from the whole
                // light's answer (not from the last round's, so that a pixel's normal depends on its height
                // alone and the rounds cannot cycle).
                const Vector3 start = scaled.z > 0 ? scaled : Vector3{0, 0, 1};
                const LightField::Probe low = place.lower->ProbeAt(x, y);
                const LightField::Probe high = place.upper->ProbeAt(x, y);
                const float share = place.share;
                solution = RefineNormal(
                    [&](const Vector3& normal, std::array<Vector3, 4>& lights) {
                        std::array<Vector3, 4> above;
                        low.Lights(normal, lights);
                        if (share > 0) {
                            high.Lights(normal, above);
                            for (size_t k = 0; k < 4; ++k)
                                lights[k] = lights[k] + share * (above[k] - lights[k]);
                        }
                    },
                    pixel, start);
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
}

} // namespace zeb::photometric
