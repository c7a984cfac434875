// The camera's sensor after the optics: each pixel's exposure is a count of electrons, so a frame
// carries shot noise (Poisson: variance equal to the count) and read noise, amplified by the gain,
// on top of a dark offset, and is clipped to 8 bits.
//
// In grey levels, with K = 10^(gain/20) / electronsPerGrey the grey levels per electron and S the
// noiseless grey value above the dark offset: variance = K * S + (K * readNoise)^2, times noise^2.
// Rounding to whole grey levels adds 1/12 on top. A saturated pixel (255 before the noise) stays 255.
//
// Frames cost about a memory copy: the noiseless image is rendered once (Scene.h) and every frame,
// and every line of a line camera, is one exposure whose noise a counter-based generator draws afresh
// from the camera's seed and the exposure's number (NoiseKernels.h), each deviate scaled by the
// standard deviation of the pixel's grey level. The same station file gives the same frames.
#pragma once

#include "NoiseKernels.h"
#include "Scene.h"

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
    // The settings of the next frames, and the camera's gain in decibels. A new seed starts the
    // exposures from the first again.
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
    // The form of the noise pass (the fastest this processor runs unless told): every form gives
    // the same bytes, so only tests and benchmarks choose one.
    void UseForm(const NoiseForm& form) { _form = form; }

private:
    // The key of the next exposure.
    NoiseKey NextKey();
    // The deviation codes of a cached image, for the forms of the pass that read them.
    const std::vector<uint8_t>& DeviationsOf(const Image& clean);

    SensorSettings _settings;
    double _gainDecibels = 0;
    bool _configured = false;
    bool _active = false;
    NoiseScale _scale;
    uint64_t _exposures = 0;
    NoiseForm _form = FastestNoiseForm();
    struct Planes {
        Image image; // kept, so that its address names it
        std::vector<uint8_t> deviations;
    };
    std::list<Planes> _planes; // most recent first
    std::vector<uint8_t> _lineDeviations;
};

} // namespace zeb::station
