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

} // namespace zeb::photometric
