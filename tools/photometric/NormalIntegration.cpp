#include "NormalIntegration.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zeb::photometric {

namespace {

// The pull toward equal heights across a pair with an unreliable pixel, against 1 for a pair of
// reliable pixels facing the camera: far below the weakest pair of reliable ones, so that it fills
// gaps without pulling what the reliable pixels say.
constexpr float BridgeWeight = 1e-6f;
// The weight of a pair at a silhouette or across a crease (PairOf).
constexpr double SilhouetteWeight = 0.02;
// Neighbours whose normals are within 10 degrees lie on one smooth surface; beyond 30 they meet at
// a crease (cosines of the angles).
constexpr double SmoothCosine = 0.98481, CreaseCosine = 0.86603;
// Below this the normal stands within about a degree of vertical.
constexpr float GrazingNz = 0.02f;

// The object plane is found among the heights in bins this wide (mm), at most this many of them.
constexpr double PlaneBin = 0.05;
constexpr size_t PlaneBins = 1 << 16;

// The height of the object plane: the most common height of the reliable pixels (the plate an
// object stands on, or the flat of a part), as the median of the heights in the fullest bin and
// its two neighbours.
float PlaneHeight(const std::vector<float>& heights, const Surface& surface) {
    float low = std::numeric_limits<float>::infinity(), high = -low;
    for (size_t i = 0; i < heights.size(); ++i)
        if (NormalIntegration::Integrable(surface, i) && std::isfinite(heights[i])) {
            low = std::min(low, heights[i]);
            high = std::max(high, heights[i]);
        }
    if (!(low <= high))
        return 0;
    const double bin = std::max(PlaneBin, (static_cast<double>(high) - low) / (PlaneBins - 1));
    std::vector<uint32_t> counts(static_cast<size_t>((high - low) / bin) + 1, 0);
    auto binOf = [&](float h) { return static_cast<size_t>((h - low) / bin); };
    for (size_t i = 0; i < heights.size(); ++i)
        if (NormalIntegration::Integrable(surface, i) && std::isfinite(heights[i]))
            ++counts[binOf(heights[i])];
    const size_t peak = static_cast<size_t>(std::max_element(counts.begin(), counts.end()) - counts.begin());
    std::vector<float> near;
    for (size_t i = 0; i < heights.size(); ++i)
        if (NormalIntegration::Integrable(surface, i) && std::isfinite(heights[i]) &&
            binOf(heights[i]) + 1 >= peak && binOf(heights[i]) <= peak + 1)
            near.push_back(heights[i]);
    const auto middle = near.begin() + static_cast<std::ptrdiff_t>(near.size() / 2);
    std::nth_element(near.begin(), middle, near.end());
    return *middle;
}

// Pixels on each side over which a normal component's change is measured: near a silhouette the
// component changes by a few thousandths per pixel, as little as the noise of one pixel.
constexpr int32_t CurvatureReach = 4;
// A change of a normal component between neighbours that no curvature at the pixels' scale makes:
// a crease, where the measure on that side stops.
constexpr double CreaseStep = 0.1;

// The change per millimetre of a normal component along a line of pixels, measured on the side of
// the pixel where it changes less (so that a crease does not pass for curvature): on each side a
// straight line fitted to the pixel and up to CurvatureReach reliable neighbours in a row, up to
// a crease. `at(k)` is the component k pixels along the line (NaN where unreliable or off the
// image), `distance` the millimetres from one pixel to the next.
template <typename Component> double Curvature(const Component& at, double distance) {
    auto side = [&](int32_t direction, double& slope) {
        double sumK = 0, sumV = 0, sumKK = 0, sumKV = 0;
        int32_t count = 0;
        float last = at(0);
        for (int32_t k = 0; k <= CurvatureReach; ++k) {
            const float value = at(direction * k);
            if (!std::isfinite(value) || std::fabs(value - last) > CreaseStep)
                break;
            last = value;
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
// (`direction` +1 or -1 in the image's frame), and its weight. The difference is a's arc to the
// point where the two meet, then b's back from it. On one smooth surface the two arcs agree and
// where they meet hardly matters: half way. Where one arc stands vertical before the other's
// centre, the pixels lie on either side of a silhouette, such as a tall object's rim above the
// plate it stands on: the steep side runs to its edge and the other takes up the rest. Between the
// two, the meeting point moves over smoothly with the distance to the silhouette (within two
// spacings), so that a small change of a normal never moves a height by a step.
//
// A silhouette's drop rests on a grazing normal and on the curvature before it, and a crease (two
// normals further apart than a surface bends between neighbours, `cosine` being their dot
// product) hides where the two faces meet: such pairs are far less sure than a slope and weigh
// SilhouetteWeight against 1 for the others, so that a rim's noise does not bend the plate around
// it. The weight follows the nearness of a silhouette and the angle, never the normals' tilt
// itself, which would favour the pairs whose noise makes them less steep.
struct Pair {
    float difference, weight;
};
Pair PairOf(double alongA, double nzA, double curvatureA, double alongB, double nzB, double curvatureB,
            double cosine, double spacing, double direction) {
    const double fromA = SilhouetteDistance(alongA, nzA, curvatureA, direction, 2 * spacing);
    const double fromB = SilhouetteDistance(alongB, nzB, curvatureB, -direction, 2 * spacing);
    auto nearness = [&](double distance) { return std::clamp(2 - distance / spacing, 0.0, 1.0); };
    auto shift = [&](double distance) {
        return nearness(distance) * (std::clamp(distance, spacing / 2, spacing) - spacing / 2);
    };
    const double meet = std::clamp(spacing / 2 + shift(fromA) - shift(fromB), 0.0, spacing); // from a
    const double difference =
        NormalIntegration::ArcRise(alongA, nzA, curvatureA, direction * meet) -
        NormalIntegration::ArcRise(alongB, nzB, curvatureB, -direction * (spacing - meet));
    const double crease = std::clamp((SmoothCosine - cosine) / (SmoothCosine - CreaseCosine), 0.0, 1.0);
    const double unsure = std::max({nearness(fromA), nearness(fromB), crease});
    return {static_cast<float>(difference), static_cast<float>(1 - (1 - SilhouetteWeight) * unsure)};
}

double Cosine(const Surface& surface, size_t a, size_t b) {
    return static_cast<double>(surface.normalX[a]) * surface.normalX[b] +
           static_cast<double>(surface.normalY[a]) * surface.normalY[b] +
           static_cast<double>(surface.normalZ[a]) * surface.normalZ[b];
}

} // namespace

bool NormalIntegration::Integrable(const Surface& surface, size_t i) {
    return surface.Reliable(i) && surface.normalZ[i] >= GrazingNz;
}

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
        return Integrable(surface, i) ? plane[i] : None;
    };
    _curvatureX.assign(pixels, 0.0f);
    _curvatureY.assign(pixels, 0.0f);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const size_t i = surface.Index(x, y);
            if (!Integrable(surface, i))
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
                if (Integrable(surface, a) && Integrable(surface, b)) {
                    const Pair pair =
                        PairOf(surface.normalX[a], surface.normalZ[a], _curvatureX[a], surface.normalX[b],
                               surface.normalZ[b], _curvatureX[b], Cosine(surface, a, b), across, 1);
                    _differences.right[a] = pair.difference;
                    _differences.rightWeight[a] = pair.weight;
                } else {
                    _differences.rightWeight[a] = BridgeWeight;
                }
            }
            if (y + 1 < height) {
                const size_t b = a + static_cast<size_t>(width);
                if (Integrable(surface, a) && Integrable(surface, b)) {
                    const Pair pair =
                        PairOf(surface.normalY[a], surface.normalZ[a], _curvatureY[a], surface.normalY[b],
                               surface.normalZ[b], _curvatureY[b], Cosine(surface, a, b), down, -1);
                    _differences.below[a] = pair.difference;
                    _differences.belowWeight[a] = pair.weight;
                } else {
                    _differences.belowWeight[a] = BridgeWeight;
                }
            }
        }
    const GridPoisson::Outcome outcome = _poisson.Solve(_differences, heights, tolerance);
    const float plane = PlaneHeight(heights, surface);
    for (float& h : heights)
        h -= plane;
    return outcome.iterations;
}

} // namespace zeb::photometric
