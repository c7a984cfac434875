#include "SurfaceImages.h"

#include <algorithm>
#include <cmath>
#include <limits>

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

double LowestHeight(const Surface& surface) {
    double lowest = std::numeric_limits<double>::infinity();
    if (surface.HasHeights())
        for (float h : surface.heightMap)
            if (std::isfinite(h))
                lowest = std::min(lowest, static_cast<double>(h));
    return std::isfinite(lowest) ? lowest : std::numeric_limits<double>::quiet_NaN();
}

std::vector<uint16_t> HeightSamples(const Surface& surface) {
    if (!surface.HasHeights())
        return {};
    std::vector<uint16_t> samples(surface.heightMap.size(), 0);
    const double lowest = LowestHeight(surface);
    for (size_t i = 0; i < samples.size(); ++i)
        if (std::isfinite(surface.heightMap[i]))
            samples[i] = Clipped<uint16_t>((surface.heightMap[i] - lowest) * 1000, 65535);
    return samples;
}

std::vector<uint8_t> HeightGreys(const Surface& surface) {
    if (!surface.HasHeights())
        return {};
    std::vector<uint8_t> greys(surface.heightMap.size(), 0);
    const double lowest = LowestHeight(surface);
    double highest = lowest;
    for (float h : surface.heightMap)
        if (std::isfinite(h))
            highest = std::max(highest, static_cast<double>(h));
    const double span = highest > lowest ? highest - lowest : 1;
    for (size_t i = 0; i < greys.size(); ++i)
        if (std::isfinite(surface.heightMap[i]))
            greys[i] =
                static_cast<uint8_t>(1 + Clipped<uint8_t>((surface.heightMap[i] - lowest) / span * 254, 254));
    return greys;
}

} // namespace zeb::photometric
