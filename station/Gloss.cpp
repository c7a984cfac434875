#include "Gloss.h"

#include "Shadows.h"

#include <algorithm>
#include <cmath>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zeb::station {

namespace {

constexpr double Pi = 3.14159265358979323846;

Vector3 Along(const Vector3& a, double s) {
    return {a.x * s, a.y * s, a.z * s};
}

Vector3 Minus(const Vector3& a, const Vector3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

// Smith's masking of a GGX surface toward a direction at `cosine` to the normal.
double Masking(double cosine, double alpha) {
    const double c2 = std::clamp(cosine * cosine, 1e-12, 1.0);
    return 2 / (1 + std::sqrt(1 + alpha * alpha * (1 - c2) / c2));
}

// The angle from the mirror direction `r` to the edge where `value` (linear in the hit point, with
// gradient `w`) changes sign, positive on its lit side. The hit point `hit`, `distance` along `r`,
// moves on the sphere as the direction turns: by distance x (turn - (hit . turn) / (hit . r) r).
[[gnu::always_inline]] inline double EdgeAngle(const Vector3& hit, const Vector3& r, double distance,
                                               const Vector3& w, double value) {
    const double hr = Dot(hit, r);
    Vector3 g = Along(Minus(w, Along(hit, Dot(w, r) / hr)), distance);
    g = Minus(g, Along(r, Dot(g, r)));
    const double rate = std::sqrt(Dot(g, g));
    if (!(rate > 0))
        return value >= 0 ? Pi : -Pi;
    return value / rate;
}

// tan(x) for |x| <= pi/2 without the library's reduction of any argument: Lambert's continued
// fraction x / (1 - x^2 / (3 - x^2 / (5 - ...))) cut after its ninth term, as one ratio of
// polynomials in x^2, whose error stays below 1e-18 of tan(x) for |x| <= pi/4; beyond that,
// tan(x) = 1 / tan(pi/2 - x), with pi/2 in two parts so that the difference loses nothing.
double TanWithinQuarterTurn(double x) {
    constexpr double HalfPi = 1.5707963267948966, HalfPiRest = 6.123233995736766e-17;
    const double a = std::fabs(x);
    const bool steep = a > Pi / 4;
    const double y = steep ? (HalfPi - a) + HalfPiRest : a, z = y * y;
    const double p = 34459425 + z * (-16216200 + z * (945945 + z * (-13860 + z * 45)));
    const double q = 34459425 + z * (-4729725 + z * (135135 + z * (-990 + z)));
    return std::copysign(steep ? p / (y * q) : y * q / p, x);
}

// LobeShare of two angles at once, the same operations in the two lanes of a vector: the four
// shares of a pixel's lobe are most of its cost.
[[gnu::always_inline]] inline std::array<double, 2> LobeShares(double first, double second, double alpha) {
#if defined(__SSE2__)
    const __m128d sign = _mm_set1_pd(-0.0);
    // As std::clamp(angle, -3.1, 3.1): NaN passes.
    const __m128d angle =
        _mm_min_pd(_mm_set1_pd(3.1), _mm_max_pd(_mm_set1_pd(-3.1), _mm_set_pd(second, first)));
    const __m128d x = _mm_div_pd(angle, _mm_set1_pd(2));
    // TanWithinQuarterTurn, both branches taken and the right one kept.
    const __m128d a = _mm_andnot_pd(sign, x);
    const __m128d steep = _mm_cmpgt_pd(a, _mm_set1_pd(Pi / 4));
    const __m128d rest =
        _mm_add_pd(_mm_sub_pd(_mm_set1_pd(1.5707963267948966), a), _mm_set1_pd(6.123233995736766e-17));
    const __m128d y = _mm_or_pd(_mm_and_pd(steep, rest), _mm_andnot_pd(steep, a));
    const __m128d z = _mm_mul_pd(y, y);
    const auto term = [&](__m128d sum, double c) { return _mm_add_pd(_mm_set1_pd(c), _mm_mul_pd(z, sum)); };
    const __m128d p = term(term(term(term(_mm_set1_pd(45), -13860), 945945), -16216200), 34459425);
    const __m128d q = term(term(term(_mm_add_pd(_mm_set1_pd(-990), z), 135135), -4729725), 34459425);
    const __m128d yq = _mm_mul_pd(y, q);
    const __m128d tan =
        _mm_or_pd(_mm_and_pd(steep, _mm_div_pd(p, yq)), _mm_andnot_pd(steep, _mm_div_pd(yq, p)));
    const __m128d tanX = _mm_or_pd(_mm_andnot_pd(sign, tan), _mm_and_pd(sign, x));
    const __m128d s = _mm_div_pd(tanX, _mm_set1_pd(alpha));
    const __m128d one = _mm_set1_pd(1);
    const __m128d share = _mm_mul_pd(
        _mm_set1_pd(0.5), _mm_add_pd(one, _mm_div_pd(s, _mm_sqrt_pd(_mm_add_pd(one, _mm_mul_pd(s, s))))));
    std::array<double, 2> shares;
    _mm_storeu_pd(shares.data(), share);
    return shares;
#else
    return {LobeShare(first, alpha), LobeShare(second, alpha)};
#endif
}

} // namespace

double LobeShare(double angle, double alpha) {
    const double s = TanWithinQuarterTurn(std::clamp(angle, -3.1, 3.1) / 2) / alpha;
    return 0.5 * (1 + s / std::sqrt(1 + s * s));
}

std::array<double, 2> LobeSharePair(double first, double second, double alpha) {
    return LobeShares(first, second, alpha);
}

double LobeShareBetween(double middleTan, double edgeTan, double alpha) {
    if (!std::isfinite(middleTan) || !std::isfinite(edgeTan))
        return LobeShare(std::atan(middleTan) - std::atan(edgeTan), alpha);
    // With cos and sin of the angle between them (1 + m e) / root and (m - e) / root, the tan of half
    // of it is sin / (1 + cos), or (1 - cos) / sin where cos < 0, which loses nothing to cancellation.
    const double m = middleTan, e = edgeTan;
    const double root = std::sqrt((1 + m * m) * (1 + e * e)), cosine = 1 + m * e;
    const double half = cosine >= 0 ? (m - e) / (root + cosine) : (root - cosine) / (m - e);
    // As LobeShare clamps the angle to +/- 3.1.
    const double limit = 48.07848247921907; // tan(1.55)
    const double s = std::clamp(half, -limit, limit) / alpha;
    return 0.5 * (1 + s / std::sqrt(1 + s * s));
}

MirrorLight SpecularLight(const DomeShape& dome, const Vector3& p, const Vector3& n, const Vector3& camera,
                          double alpha) {
    MirrorLight light;
    Vector3 v = Minus(camera, p);
    const double length = std::sqrt(Dot(v, v));
    if (!(length > 0))
        return light;
    v = Along(v, 1 / length);
    const double facing = Dot(n, v);
    if (!(facing > 0))
        return light;
    const Vector3 r = Minus(Along(n, 2 * facing), v);
    const double b = Dot(p, r), c = Dot(p, p) - dome.radius * dome.radius;
    const double disc = b * b - c;
    if (!(disc > 0))
        return light;
    const double distance = -b + std::sqrt(disc);
    if (!(distance > 0))
        return light;
    const Vector3 hit{p.x + distance * r.x, p.y + distance * r.y, p.z + distance * r.z};
    if (!(Dot(hit, r) > 0))
        return light;
    light.mirror = r;
    const auto [right, up] = LobeShares(EdgeAngle(hit, r, distance, {1, 0, 0}, hit.x),
                                        EdgeAngle(hit, r, distance, {0, 1, 0}, hit.y), alpha);
    const auto [aboveRim, belowOpening] =
        LobeShares(EdgeAngle(hit, r, distance, {0, 0, 1}, hit.z),
                   EdgeAngle(hit, r, distance, {0, 0, -1}, dome.openingHeight - hit.z), alpha);
    const double masking = Masking(facing, alpha);
    const double scale = Pi * masking * masking * aboveRim * belowOpening / dome.reference;
    light.quadrant = {scale * (1 - right) * up, scale * right * up, scale * (1 - right) * (1 - up),
                      scale * right * (1 - up)};
    return light;
}

} // namespace zeb::station
