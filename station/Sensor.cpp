#include "Sensor.h"

#include "ModuleLifetime.h"

#include <algorithm>
#include <cmath>

namespace zeb::station {

namespace {

constexpr size_t PlaneSize = size_t{1} << 21;
constexpr size_t CachedPlanes = 8;
constexpr double DeviateUnits = 32; // deviates are stored in 1/32 of a standard deviation
// The kernel works in 1/64 grey level: code (0..255) times deviate (1/32) times scale over 65536.
constexpr double ScaleUnits = 64.0 * 65536 / (255 * DeviateUnits);

uint64_t SplitMix(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Normal deviates, shared by every camera of the process, and the factor that makes their stored
// values (whole 1/32 steps, cut at 4 standard deviations) exactly of unit variance.
struct DeviatePlane {
    std::vector<int8_t> values;
    double correction = 1;

    DeviatePlane() : values(PlaneSize) {
        constexpr double Pi = 3.14159265358979323846;
        uint64_t state = 0x5A5A5A5A12345678ull;
        double squares = 0;
        for (size_t i = 0; i < PlaneSize; i += 2) {
            // Box-Muller: two independent deviates from two uniform numbers in (0, 1].
            const double u = (static_cast<double>(SplitMix(state) >> 11) + 1) / 9007199254740992.0;
            const double v = static_cast<double>(SplitMix(state) >> 11) / 9007199254740992.0;
            const double radius = std::sqrt(-2 * std::log(u));
            for (size_t k = 0; k < 2; ++k) {
                const double deviate = radius * (k == 0 ? std::cos(2 * Pi * v) : std::sin(2 * Pi * v));
                const int8_t stored =
                    static_cast<int8_t>(std::clamp(std::lround(deviate * DeviateUnits), -127L, 127L));
                values[i + k] = stored;
                squares += static_cast<double>(stored) * stored;
            }
        }
        const double variance = squares / static_cast<double>(PlaneSize) / (DeviateUnits * DeviateUnits);
        correction = 1 / std::sqrt(variance);
    }
};

// Made at the first noisy frame and released when the module unloads, after the cameras.
[[gnu::init_priority(zeb::lifetime::SensorNoise)]] zeb::lifetime::ModuleObject<const DeviatePlane> deviates;

const DeviatePlane& Deviates() {
    return deviates.Get([] { return std::make_unique<const DeviatePlane>(); });
}

} // namespace

void SensorNoise::Configure(const SensorSettings& settings, double gainDecibels) {
    if (_configured && gainDecibels == _gainDecibels &&
        settings.electronsPerGrey == _settings.electronsPerGrey &&
        settings.readNoise == _settings.readNoise && settings.darkOffset == _settings.darkOffset &&
        settings.noise == _settings.noise && settings.seed == _settings.seed)
        return;
    if (!_configured || settings.seed != _settings.seed)
        _state = settings.seed;
    _settings = settings;
    _gainDecibels = gainDecibels;
    _configured = true;
    _active = settings.noise > 0 && settings.electronsPerGrey > 0;
    _planes.clear();
    double largest = 0;
    for (int32_t grey = 0; grey < 256; ++grey)
        largest = std::max(largest, Deviation(grey));
    _active = _active && largest > 0;
    if (!_active)
        return;
    // The deviates' stored values have unit variance once corrected.
    const double correction = Deviates().correction;
    _scale = static_cast<int16_t>(std::lround(largest * correction * ScaleUnits));
    for (int32_t grey = 0; grey < 256; ++grey)
        _deviationCodes[static_cast<size_t>(grey)] =
            static_cast<uint8_t>(std::lround(Deviation(grey) / largest * 255));
}

double SensorNoise::Deviation(int32_t grey) const {
    if (!_active || grey >= 255)
        return 0; // no noise, or a saturated pixel
    const double greyPerElectron = std::pow(10.0, _gainDecibels / 20) / _settings.electronsPerGrey;
    const double signal = std::max(0.0, grey - _settings.darkOffset);
    const double read = greyPerElectron * _settings.readNoise;
    const double deviation = _settings.noise * std::sqrt(greyPerElectron * signal + read * read);
    return std::isfinite(deviation) ? std::min(deviation, MaxDeviation) : 0;
}

uint64_t SensorNoise::NextRandom() {
    return SplitMix(_state);
}

const std::vector<uint8_t>& SensorNoise::DeviationsOf(const Image& clean) {
    for (auto it = _planes.begin(); it != _planes.end(); ++it)
        if (it->image == clean) {
            _planes.splice(_planes.begin(), _planes, it);
            return _planes.front().deviations;
        }
    Planes planes{clean, std::vector<uint8_t>(clean->size())};
    for (size_t i = 0; i < clean->size(); ++i)
        planes.deviations[i] = _deviationCodes[(*clean)[i]];
    _planes.push_front(std::move(planes));
    if (_planes.size() > CachedPlanes)
        _planes.pop_back();
    return _planes.front().deviations;
}

void SensorNoise::AddNoise(const uint8_t* clean, const uint8_t* deviations, const int8_t* deviates,
                           int16_t scale, uint8_t* out, size_t count) {
    // 16-bit lanes throughout: code times deviate fits, the scale keeps the top 16 bits of the
    // product (1/64 grey level), and the clean value joins in the same unit before rounding.
    for (size_t i = 0; i < count; ++i) {
        const int16_t product = static_cast<int16_t>(deviations[i] * deviates[i]);
        const int16_t noise = static_cast<int16_t>((product * scale) >> 16);
        const int16_t base = static_cast<int16_t>(clean[i] * 64 + 32);
        const int16_t value = static_cast<int16_t>(static_cast<int16_t>(base + noise) >> 6);
        out[i] = static_cast<uint8_t>(std::min<int16_t>(std::max<int16_t>(value, 0), 255));
    }
}

void SensorNoise::Expose(const uint8_t* clean, const uint8_t* deviations, uint8_t* out, size_t count) {
    const int8_t* plane = Deviates().values.data();
    size_t offset = static_cast<size_t>(NextRandom() % PlaneSize);
    while (count > 0) {
        const size_t chunk = std::min(count, PlaneSize - offset);
        AddNoise(clean, deviations, plane + offset, _scale, out, chunk);
        clean += chunk;
        deviations += chunk;
        out += chunk;
        count -= chunk;
        offset = 0;
    }
}

void SensorNoise::ExposeFrame(const Image& clean, uint8_t* out) {
    Expose(clean->data(), DeviationsOf(clean).data(), out, clean->size());
}

void SensorNoise::ExposeLine(uint8_t* row, size_t count) {
    _lineDeviations.resize(count);
    for (size_t i = 0; i < count; ++i)
        _lineDeviations[i] = _deviationCodes[row[i]];
    Expose(row, _lineDeviations.data(), row, count);
}

} // namespace zeb::station
