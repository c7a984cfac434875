#include "Gloss.h"

#include "Shadows.h"

#include <algorithm>
#include <cmath>

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

} // namespace

double LobeShare(double angle, double alpha) {
    const double s = TanWithinQuarterTurn(std::clamp(angle, -3.1, 3.1) / 2) / alpha;
    return 0.5 * (1 + s / std::sqrt(1 + s * s));
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
    const double right = LobeShare(EdgeAngle(hit, r, distance, {1, 0, 0}, hit.x), alpha);
    const double up = LobeShare(EdgeAngle(hit, r, distance, {0, 1, 0}, hit.y), alpha);
    const double aboveRim = LobeShare(EdgeAngle(hit, r, distance, {0, 0, 1}, hit.z), alpha);
    const double belowOpening =
        LobeShare(EdgeAngle(hit, r, distance, {0, 0, -1}, dome.openingHeight - hit.z), alpha);
    const double masking = Masking(facing, alpha);
    const double scale = Pi * masking * masking * aboveRim * belowOpening / dome.reference;
    light.quadrant = {scale * (1 - right) * up, scale * right * up, scale * (1 - right) * (1 - up),
                      scale * right * (1 - up)};
    return light;
}

} // namespace zeb::station
