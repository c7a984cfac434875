#include "SurfaceImages.h"

#include <algorithm>
#include <cmath>

namespace zeb::photometric {

namespace {

// `value` times `top` as a sample, rounded and clipped to [0, top] (a NaN to 0).
template <typename Sample> Sample Clipped(double value, double top) {
    return static_cast<Sample>(std::max(0.0, std::min(value, top)) + 0.5);
}

// `value` in [0, 1] as a sample of `top`, rounded and clipped.
template <typename Sample> Sample Scaled(double value, double top) {
    return Clipped<Sample>(value * top, top);
}

template <typename Sample> std::vector<Sample> Normals(const Surface& surface, double top) {
    std::vector<Sample> samples(surface.status.size() * 3, 0);
    for (size_t i = 0; i < surface.status.size(); ++i) {
        if (!surface.Reliable(i))
            continue;
        samples[3 * i] = Scaled<Sample>((surface.normalX[i] + 1) / 2.0, top);
        samples[3 * i + 1] = Scaled<Sample>((surface.normalY[i] + 1) / 2.0, top);
        samples[3 * i + 2] = Scaled<Sample>((surface.normalZ[i] + 1) / 2.0, top);
    }
    return samples;
}

template <typename Sample> std::vector<Sample> Albedos(const Surface& surface, double top) {
    std::vector<Sample> samples(surface.status.size(), 0);
    for (size_t i = 0; i < surface.status.size(); ++i)
        if (surface.Reliable(i))
            samples[i] = Scaled<Sample>(surface.albedo[i], top);
    return samples;
}

} // namespace

std::vector<uint16_t> NormalSamples(const Surface& surface) {
    return Normals<uint16_t>(surface, 65535);
}

std::vector<uint16_t> AlbedoSamples(const Surface& surface) {
    return Albedos<uint16_t>(surface, 65535);
}

std::vector<uint8_t> NormalColours(const Surface& surface) {
    return Normals<uint8_t>(surface, 255);
}

std::vector<uint8_t> AlbedoGreys(const Surface& surface) {
    return Albedos<uint8_t>(surface, 255);
}

std::vector<uint8_t> CurvatureSamples(const Surface& surface, double scale) {
    std::vector<uint8_t> samples(surface.status.size(), 128);
    if (!(scale > 0))
        return samples;
    for (size_t i = 0; i < surface.status.size(); ++i)
        if (surface.Reliable(i))
            samples[i] = Clipped<uint8_t>(128 + surface.curvature[i] / scale, 255);
    return samples;
}

} // namespace zeb::photometric
