#include "NormalIntegration.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zeb::photometric {

namespace {

// The pull toward equal heights across a pair with an unreliable pixel, against 1 for a pair of
// reliable ones.
constexpr float BridgeWeight = 1e-3f;
// The share of the reliable pixels that lies at or below the object plane.
constexpr double LowestShare = 0.01;

// Pixels on each side over which a normal component's change is measured: near a silhouette the
// component changes by a few thousandths per pixel, as little as the noise of one pixel.
constexpr int32_t CurvatureReach = 4;

// The change per millimetre of a normal component along a line of pixels, measured on the side of
// the pixel where it changes less (so that a crease does not pass for curvature): on each side a
// straight line fitted to the pixel and up to CurvatureReach reliable neighbours in a row. `at(k)`
// is the component k pixels along the line (NaN where unreliable or off the image), `distance`
// the millimetres from one pixel to the next.
template <typename Component> double Curvature(const Component& at, double distance) {
    auto side = [&](int32_t direction, double& slope) {
        double sumK = 0, sumV = 0, sumKK = 0, sumKV = 0;
        int32_t count = 0;
        for (int32_t k = 0; k <= CurvatureReach; ++k) {
            const float value = at(direction * k);
            if (!std::isfinite(value))
                break;
            const double position = direction * k;
            sumK += position;
            sumV += value;
            sumKK += position * position;
            sumKV += position * value;
            ++count;
        }
        if (count < 2)
            return false;
        const double spread = count * sumKK - sumK * sumK;
        slope = (count * sumKV - sumK * sumV) / spread / distance;
        return true;
    };
    double back = 0, ahead = 0;
    const bool hasBack = side(-1, back), hasAhead = side(1, ahead);
    if (hasBack && hasAhead)
        return std::fabs(back) < std::fabs(ahead) ? back : ahead;
    return hasBack ? back : hasAhead ? ahead : 0.0;
}

// How far (mm, at most `limit`) a pixel's arc runs in `direction` (+1 or -1 along the axis)
// before it stands vertical; `limit` when it does not within it.
double SilhouetteDistance(double along, double nz, double curvature, double direction, double limit) {
    const double turn = curvature * direction; // the change of `along` per millimetre travelled
    if (turn == 0 || !(nz > 0))
        return limit;
    const double reach = std::sqrt(nz * nz + along * along);
    const double distance = (std::copysign(reach, turn) - along) / turn;
    return distance >= 0 && distance < limit ? distance : limit;
}

// The height difference from pixel a to its neighbour b, `spacing` mm further along an axis
// (`direction` +1 or -1 in the image's frame): a's arc to the point where the two meet, then b's
// back from it. On one smooth surface the two arcs agree and where they meet hardly matters: half
// way. Where one arc stands vertical before the other's centre, the pixels lie on either side of a
// silhouette, such as a tall object's rim above the plate it stands on: the steep side runs to its
// edge and the other takes up the rest. Between the two, the meeting point moves over smoothly
// with the distance to the silhouette (within two spacings), so that a small change of a normal
// never moves a height by a step.
double PairRise(double alongA, double nzA, double curvatureA, double alongB, double nzB, double curvatureB,
                double spacing, double direction) {
    const double fromA = SilhouetteDistance(alongA, nzA, curvatureA, direction, 2 * spacing);
    const double fromB = SilhouetteDistance(alongB, nzB, curvatureB, -direction, 2 * spacing);
    auto shift = [&](double distance) {
        const double nearness = std::clamp(2 - distance / spacing, 0.0, 1.0);
        return nearness * (std::clamp(distance, spacing / 2, spacing) - spacing / 2);
    };
    const double meet = std::clamp(spacing / 2 + shift(fromA) - shift(fromB), 0.0, spacing); // from a
    return NormalIntegration::ArcRise(alongA, nzA, curvatureA, direction * meet) -
           NormalIntegration::ArcRise(alongB, nzB, curvatureB, -direction * (spacing - meet));
}

} // namespace

double NormalIntegration::ArcRise(double along, double nz, double curvature, double step) {
    if (!(nz > 0))
        return 0;
    // Along the arc the component across stays, so the normal's part in the plane of the axis and
    // the camera keeps its length: `along` can grow to that length, where the arc stands vertical.
    const double reach = std::sqrt(nz * nz + along * along);
    double end = along + curvature * step, endNz = 0;
    if (std::fabs(end) >= reach && curvature != 0) {
        end = std::copysign(reach, end);
        step = (end - along) / curvature;
    } else {
        endNz = std::sqrt(std::max(0.0, reach * reach - end * end));
    }
    // The integral of -along / nz over the arc, (nz(end) - nz) / curvature, written without the
    // division by the curvature so that it holds on a plane too.
    const double sum = nz + endNz;
    return sum > 0 ? -step * (2 * along + curvature * step) / sum : 0.0;
}

int32_t NormalIntegration::Integrate(const Surface& surface, std::vector<float>& heights, double tolerance) {
    const int32_t width = surface.width, height = surface.height;
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    const double across = surface.pixelSize > 0 ? surface.pixelSize : 1;
    const double down = surface.rowPitch > 0 ? surface.rowPitch : across;
    constexpr float None = std::numeric_limits<float>::quiet_NaN();
    // The normal components of reliable pixels, NaN elsewhere, for the curvatures.
    auto component = [&](const std::vector<float>& plane, int32_t x, int32_t y) {
        if (x < 0 || y < 0 || x >= width || y >= height)
            return None;
        const size_t i = surface.Index(x, y);
        return surface.Reliable(i) ? plane[i] : None;
    };
    _curvatureX.assign(pixels, 0.0f);
    _curvatureY.assign(pixels, 0.0f);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const size_t i = surface.Index(x, y);
            if (!surface.Reliable(i))
                continue;
            _curvatureX[i] = static_cast<float>(
                Curvature([&](int32_t k) { return component(surface.normalX, x + k, y); }, across));
            // The image's y runs up while rows run down.
            _curvatureY[i] = static_cast<float>(
                Curvature([&](int32_t k) { return component(surface.normalY, x, y - k); }, down));
        }
    _differences.Resize(width, height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const size_t a = surface.Index(x, y);
            if (x + 1 < width) {
                const size_t b = a + 1;
                if (surface.Reliable(a) && surface.Reliable(b)) {
                    _differences.rightWeight[a] = 1;
                    _differences.right[a] = static_cast<float>(
                        PairRise(surface.normalX[a], surface.normalZ[a], _curvatureX[a], surface.normalX[b],
                                 surface.normalZ[b], _curvatureX[b], across, 1));
                } else {
                    _differences.rightWeight[a] = BridgeWeight;
                }
            }
            if (y + 1 < height) {
                const size_t b = a + static_cast<size_t>(width);
                if (surface.Reliable(a) && surface.Reliable(b)) {
                    _differences.belowWeight[a] = 1;
                    _differences.below[a] = static_cast<float>(
                        PairRise(surface.normalY[a], surface.normalZ[a], _curvatureY[a], surface.normalY[b],
                                 surface.normalZ[b], _curvatureY[b], down, -1));
                } else {
                    _differences.belowWeight[a] = BridgeWeight;
                }
            }
        }
    const GridPoisson::Outcome outcome = _poisson.Solve(_differences, heights, tolerance);
    // The lowest part of the reliable surface on the object plane.
    std::vector<float> reliable;
    for (size_t i = 0; i < pixels; ++i)
        if (surface.Reliable(i))
            reliable.push_back(heights[i]);
    if (!reliable.empty()) {
        const auto low = reliable.begin() +
                         static_cast<std::ptrdiff_t>(LowestShare * static_cast<double>(reliable.size() - 1));
        std::nth_element(reliable.begin(), low, reliable.end());
        const float plane = *low;
        for (float& h : heights)
            h -= plane;
    }
    return outcome.iterations;
}

} // namespace zeb::photometric
