#include "PixelSolve.h"

#include <cmath>

namespace zeb::photometric {

PixelSignal ClassifyPixel(const std::array<uint8_t, 4>& grey, double darkLevel, double minimumSignal,
                          double saturation) {
    PixelSignal pixel;
    for (size_t k = 0; k < 4; ++k) {
        pixel.signal[k] = grey[k] - darkLevel;
        if (grey[k] >= saturation)
            pixel.saturated = true;
        else if (pixel.signal[k] <= minimumSignal)
            pixel.dark = true;
        else
            pixel.usable |= 1u << k;
    }
    return pixel;
}

bool SolveScaledNormal(const std::array<Vector3, 4>& lights, const PixelSignal& pixel,
                       Vector3& scaledNormal) {
    // Normal equations A g = b over the usable directions (A symmetric), solved by Cramer's rule.
    // An unusable direction takes part with weight 0, so that the sums are free of branches.
    double a00 = 0, a01 = 0, a02 = 0, a11 = 0, a12 = 0, a22 = 0, b0 = 0, b1 = 0, b2 = 0;
    for (size_t k = 0; k < 4; ++k) {
        const double weight = (pixel.usable >> k) & 1u;
        const double x = lights[k].x, y = lights[k].y, z = lights[k].z;
        const double wx = weight * x, wy = weight * y, wz = weight * z;
        a00 += wx * x;
        a01 += wx * y;
        a02 += wx * z;
        a11 += wy * y;
        a12 += wy * z;
        a22 += wz * z;
        b0 += wx * pixel.signal[k];
        b1 += wy * pixel.signal[k];
        b2 += wz * pixel.signal[k];
    }
    // The cofactors; the inverse of a symmetric matrix is symmetric.
    const double c00 = a11 * a22 - a12 * a12, c01 = a02 * a12 - a01 * a22, c02 = a01 * a12 - a02 * a11;
    const double c11 = a00 * a22 - a02 * a02, c12 = a01 * a02 - a00 * a12, c22 = a00 * a11 - a01 * a01;
    const double determinant = a00 * c00 + a01 * c01 + a02 * c02;
    const double scale = a00 + a11 + a22;
    if (!(std::fabs(determinant) > 1e-9 * scale * scale * scale))
        return false;
    const double reciprocal = 1 / determinant;
    scaledNormal = {(c00 * b0 + c01 * b1 + c02 * b2) * reciprocal,
                    (c01 * b0 + c11 * b1 + c12 * b2) * reciprocal,
                    (c02 * b0 + c12 * b1 + c22 * b2) * reciprocal};
    // An infinity or a NaN in any component makes the sum one too.
    return std::isfinite(scaledNormal.x + scaledNormal.y + scaledNormal.z);
}

namespace {

// The vector that the four columns of a 3 x 4 matrix (rows r0, r1, r2) combine to zero: component k
// is (-1)^k times the determinant without column k.
std::array<double, 4> NullVector(const std::array<double, 4>& r0, const std::array<double, 4>& r1,
                                 const std::array<double, 4>& r2) {
    auto minor = [&](size_t a, size_t b, size_t c) {
        return r0[a] * (r1[b] * r2[c] - r1[c] * r2[b]) - r0[b] * (r1[a] * r2[c] - r1[c] * r2[a]) +
               r0[c] * (r1[a] * r2[b] - r1[b] * r2[a]);
    };
    std::array<double, 4> v = {minor(1, 2, 3), -minor(0, 2, 3), minor(0, 1, 3), -minor(0, 1, 2)};
    const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2] + v[3] * v[3]);
    if (!(length > 0) || !std::isfinite(length))
        return {};
    for (double& c : v)
        c /= length;
    return v;
}

// A shadowed direction reads at most this share of what the other three say it should.
constexpr double ShadowedShare = 0.92;

} // namespace

std::array<float, 4> UnexplainedDirection(const float* inverse) {
    std::array<double, 4> rows[3];
    for (size_t r = 0; r < 3; ++r)
        for (size_t k = 0; k < 4; ++k)
            rows[r][k] = inverse[4 * r + k];
    const std::array<double, 4> v = NullVector(rows[0], rows[1], rows[2]);
    return {static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2]),
            static_cast<float>(v[3])};
}

int32_t ShadowedDirection(const std::array<Vector3, 4>& lights, const PixelSignal& pixel) {
    if (pixel.UsableCount() != 4)
        return -1;
    const std::array<double, 4> v = NullVector({lights[0].x, lights[1].x, lights[2].x, lights[3].x},
                                               {lights[0].y, lights[1].y, lights[2].y, lights[3].y},
                                               {lights[0].z, lights[1].z, lights[2].z, lights[3].z});
    double unexplained = 0, mean = 0;
    for (size_t k = 0; k < 4; ++k) {
        unexplained += v[k] * pixel.signal[k];
        mean += pixel.signal[k] / 4;
    }
    if (!(std::fabs(unexplained) > UnexplainedTolerance(static_cast<float>(mean))))
        return -1;
    // Solved from the other three, direction k would read its signal plus this deficit: the
    // darkest for what the others expect is the one in shadow.
    int32_t shadowed = -1;
    double lowest = ShadowedShare;
    for (size_t k = 0; k < 4; ++k) {
        if (!(std::fabs(v[k]) > 0.05))
            continue;
        const double expected = pixel.signal[k] - unexplained / v[k];
        if (!(expected > 0))
            continue;
        const double share = pixel.signal[k] / expected;
        if (share < lowest) {
            lowest = share;
            shadowed = static_cast<int32_t>(k);
        }
    }
    return shadowed;
}

} // namespace zeb::photometric
