// Photometric stereo at one pixel: the four directions' grey values, which of them are usable, and
// the albedo and normal that explain them. An extended light seen partly below a facet's horizon
// gives that facet only the part above it, so the solve takes the light above the horizon of the
// normal found and solves again until the normal settles.
#pragma once

#include "Vector3.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>

namespace zeb::photometric {

// Why a pixel has no reliable normal; Reliable when it has one.
enum class PixelStatus : uint8_t {
    Reliable = 0,
    Saturated = 1,  // fewer than three usable directions, one of them clipped at the top of the scale
    Dark = 2,       // fewer than three usable directions, one of them at the dark level
    NoSolution = 3, // the directions agree with no facet facing the camera
};

// The signal of the four directions above the dark level and which of them can be used.
struct PixelSignal {
    std::array<double, 4> signal{};
    uint32_t usable = 0; // bit k: direction k
    bool saturated = false, dark = false;

    int32_t UsableCount() const { return std::popcount(usable); }
};

PixelSignal ClassifyPixel(const std::array<uint8_t, 4>& grey, double darkLevel, double minimumSignal,
                          double saturation);

// The albedo times the normal that fits the usable directions best (least squares), with the
// directions' light vectors `lights`. False when they do not determine it.
bool SolveScaledNormal(const std::array<Vector3, 4>& lights, const PixelSignal& pixel, Vector3& scaledNormal);

// Cast shadows. A neighbour's relief that hides part of a step's arc from a pixel makes that
// direction darker than any facet lit by all four would be. Four directions determine a facet
// with one to spare: the signals of a facet seeing every emitter lie in a three-dimensional space,
// and their part along the one direction left over (unit length), the unexplained signal, is noise
// alone. A larger one means a shadowed (or otherwise disturbed) direction.
//
// The unit vector that the 3 x 4 inverse matrix `inverse` (row-major, as the light field keeps
// it) maps to zero: the signals' direction that no facet explains. Zero when the inverse is
// degenerate.
std::array<float, 4> UnexplainedDirection(const float* inverse);
// How large the unexplained signal may be and still be noise, for four signals of this size: a
// few grey levels, and a share of the mean signal for the light model's own small errors.
inline float UnexplainedTolerance(float meanSignal) {
    return 3.0f + 0.03f * meanSignal;
}
// A pixel lit by all four directions whose signals the facet found, with `lights`, does not
// explain: the direction in shadow (whose light the other three say is far stronger than it
// reads; of two such, the darker for its light), or -1 when the four agree.
int32_t ShadowedDirection(const std::array<Vector3, 4>& lights, const PixelSignal& pixel);

struct PixelSolution {
    Vector3 normal;
    double albedo = 0;
    PixelStatus status = PixelStatus::NoSolution;
};

// Solves with the light each direction gives a facet of the current normal, starting from `start`,
// until the normal moves less than three hundredths of a degree (at most 20 rounds), one round at a
// time: each round waits for the one before, so a caller may take turns between a few pixels to
// keep the processor busy.
class NormalRefinement {
public:
    NormalRefinement(const PixelSignal& pixel, const Vector3& start)
        : _pixel(pixel), _normal(start.z > 0 ? Normalised(start) : Vector3{0, 0, 1}) {
        if (pixel.UsableCount() < 3) {
            _unusable = pixel.saturated ? PixelStatus::Saturated : PixelStatus::Dark;
            _done = true;
        }
    }

    bool Done() const { return _done; }

    // One round. `lights(normal, out)` fills the four light vectors for a facet with that normal.
    template <typename LightsOf> void Round(const LightsOf& lights) {
        constexpr double Settled = 5.2e-4 * 5.2e-4; // squared: three hundredths of a degree
        std::array<Vector3, 4> light;
        lights(_normal, light);
        Vector3 scaled;
        _done = ++_rounds >= 20;
        if (!SolveScaledNormal(light, _pixel, scaled) || !(Dot(scaled, scaled) > 0)) {
            _done = true;
            return;
        }
        if (!(scaled.z > 0)) {
            // The whole lights of a steep facet can point the solve past the horizon: go on from a
            // facet of the same azimuth tilted 80 degrees, with the light above its horizon.
            const double across = std::sqrt(scaled.x * scaled.x + scaled.y * scaled.y);
            if (!(across > 0))
                _done = true;
            else
                _normal = {0.98481 * scaled.x / across, 0.98481 * scaled.y / across, 0.17365};
            return;
        }
        const double length = Length(scaled);
        const Vector3 next = (1 / length) * scaled;
        const double moved = Dot(next - _normal, next - _normal);
        _normal = next;
        _albedo = length;
        _solved = true;
        if (moved < Settled)
            _done = true;
        // Settled with all four: a direction the facet cannot explain is in a cast shadow, and the
        // other three solve the pixel from here.
        if (_done && _pixel.UsableCount() == 4) {
            lights(_normal, light);
            if (const int32_t shadowed = ShadowedDirection(light, _pixel); shadowed >= 0) {
                _pixel.usable &= ~(1u << shadowed);
                _rounds = 0;
                _done = false;
            }
        }
    }

    PixelSolution Solution() const {
        PixelSolution solution;
        if (_solved)
            solution = {_normal, _albedo, PixelStatus::Reliable};
        else
            solution.status = _unusable;
        return solution;
    }

private:
    PixelSignal _pixel;
    Vector3 _normal;
    double _albedo = 0;
    int32_t _rounds = 0;
    bool _solved = false, _done = false;
    PixelStatus _unusable = PixelStatus::NoSolution; // why there is no solution, when there is none
};

// The rounds of one pixel until its normal settles.
template <typename LightsOf>
PixelSolution RefineNormal(const LightsOf& lights, const PixelSignal& pixel, Vector3 start) {
    NormalRefinement refinement(pixel, start);
    while (!refinement.Done())
        refinement.Round(lights);
    return refinement.Solution();
}

} // namespace zeb::photometric
