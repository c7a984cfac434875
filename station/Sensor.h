// The camera's sensor after the optics: each pixel's exposure is a count of electrons, so a frame
// carries shot noise (Poisson: variance equal to the count) and read noise, amplified by the gain,
// on top of a dark offset, and is clipped to 8 bits.
//
// In grey levels, with K = 10^(gain/20) / electronsPerGrey the grey levels per electron and S the
// noiseless grey value above the dark offset: variance = K * S + (K * readNoise)^2, times noise^2.
// Rounding to whole grey levels adds 1/12 on top. A saturated pixel (255 before the noise) stays 255.
//
// Frames cost about a memory copy: the noiseless image is rendered once (Scene.h) and the noise is
// drawn from a fixed plane of normal deviates at a fresh offset for every frame and line, each
// scaled by the pixel's own standard deviation. The offsets come from the camera's seed, so the
// same station file gives the same frames.
#pragma once

#include "Scene.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <list>
#include <vector>

namespace zeb::station {

struct SensorSettings {
    double electronsPerGrey = 40; // at 0 dB gain: 10200 electrons fill the 8-bit scale
    double readNoise = 7;         // electrons, root mean square
    double darkOffset = 2;        // grey levels of a pixel that received no light
    double noise = 1;             // scale of the temporal noise: 1 as the physics has it, 0 none
    uint64_t seed = 1;
};

class SensorNoise {
public:
    // The settings of the next frames, and the camera's gain in decibels.
    void Configure(const SensorSettings& settings, double gainDecibels);
    bool Active() const { return _active; }
    // The standard deviation, in grey levels, of a pixel whose noiseless value is `grey` (at most
    // MaxDeviation).
    double Deviation(int32_t grey) const;
    static constexpr double MaxDeviation = 60;

    // A whole frame: `out` receives the cached noiseless image with fresh noise.
    void ExposeFrame(const Image& clean, uint8_t* out);
    // One line: `row` holds the noiseless values and receives them with fresh noise.
    void ExposeLine(uint8_t* row, size_t count);

    // The noise kernel: out = clean + deviation * deviate for each pixel, rounded and clipped to 8
    // bits. A deviation is a code from 0 to 255 of the largest one, `scale`; a deviate is in 1/32
    // of a standard deviation; `scale` is the largest deviation in 1/514 grey level.
    static void AddNoise(const uint8_t* clean, const uint8_t* deviations, const int8_t* deviates,
                         int16_t scale, uint8_t* out, size_t count);

private:
    // Noise from the shared plane at a fresh offset, continuing at the plane's start where it ends.
    void Expose(const uint8_t* clean, const uint8_t* deviations, uint8_t* out, size_t count);
    const std::vector<uint8_t>& DeviationsOf(const Image& clean);
    uint64_t NextRandom();

    SensorSettings _settings;
    double _gainDecibels = 0;
    bool _configured = false;
    bool _active = false;
    std::array<uint8_t, 256> _deviationCodes{}; // per noiseless grey value
    int16_t _scale = 0;
    uint64_t _state = 0;
    struct Planes {
        Image image; // kept, so that its address names it
        std::vector<uint8_t> deviations;
    };
    std::list<Planes> _planes; // most recent first
    std::vector<uint8_t> _lineDeviations;
};

} // namespace zeb::station
