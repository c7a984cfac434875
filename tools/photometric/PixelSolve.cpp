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
    // Normal equations A g = b over the usable directions, solved by Cramer's rule.
    double a[3][3] = {}, b[3] = {};
    for (size_t k = 0; k < 4; ++k) {
        if (!(pixel.usable & (1u << k)))
            continue;
        const double l[3] = {lights[k].x, lights[k].y, lights[k].z};
        for (int r = 0; r < 3; ++r) {
            b[r] += l[r] * pixel.signal[k];
            for (int c = 0; c < 3; ++c)
                a[r][c] += l[r] * l[c];
        }
    }
    const double c00 = a[1][1] * a[2][2] - a[1][2] * a[2][1];
    const double c01 = a[1][2] * a[2][0] - a[1][0] * a[2][2];
    const double c02 = a[1][0] * a[2][1] - a[1][1] * a[2][0];
    const double determinant = a[0][0] * c00 + a[0][1] * c01 + a[0][2] * c02;
    const double scale = a[0][0] + a[1][1] + a[2][2];
    if (!(std::fabs(determinant) > 1e-9 * scale * scale * scale))
        return false;
    const double inverse[3][3] = {
        {c00, a[0][2] * a[2][1] - a[0][1] * a[2][2], a[0][1] * a[1][2] - a[0][2] * a[1][1]},
        {c01, a[0][0] * a[2][2] - a[0][2] * a[2][0], a[0][2] * a[1][0] - a[0][0] * a[1][2]},
        {c02, a[0][1] * a[2][0] - a[0][0] * a[2][1], a[0][0] * a[1][1] - a[0][1] * a[1][0]}};
    const double reciprocal = 1 / determinant;
    scaledNormal = {(inverse[0][0] * b[0] + inverse[0][1] * b[1] + inverse[0][2] * b[2]) * reciprocal,
                    (inverse[1][0] * b[0] + inverse[1][1] * b[1] + inverse[1][2] * b[2]) * reciprocal,
                    (inverse[2][0] * b[0] + inverse[2][1] * b[1] + inverse[2][2] * b[2]) * reciprocal};
    return std::isfinite(scaledNormal.x) && std::isfinite(scaledNormal.y) && std::isfinite(scaledNormal.z);
}

} // namespace zeb::photometric
