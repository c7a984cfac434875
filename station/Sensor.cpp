#include "Sensor.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace zeb::station {

namespace {
constexpr size_t CachedPlanes = 8;
} // namespace

void SensorNoise::Configure(const SensorSettings& settings, double gainDecibels) {
    if (_configured && gainDecibels == _gainDecibels &&
        settings.electronsPerGrey == _settings.electronsPerGrey &&
        settings.readNoise == _settings.readNoise && settings.darkOffset == _settings.darkOffset &&
        settings.noise == _settings.noise && settings.seed == _settings.seed)
        return;
    if (!_configured || settings.seed != _settings.seed)
        _exposures = 0;
    _settings = settings;
    _gainDecibels = gainDecibels;
    _configured = true;
    _active = settings.noise > 0 && settings.electronsPerGrey > 0;
    _planes.clear();
    std::array<double, 256> deviations{};
    for (int32_t grey = 0; grey < 256; ++grey)
        deviations[static_cast<size_t>(grey)] = Deviation(grey);
    _active = _active && *std::max_element(deviations.begin(), deviations.end()) > 0;
    if (_active)
        _scale = NoiseScale::From(deviations);
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

NoiseKey SensorNoise::NextKey() {
    return NoiseKey::Of(_settings.seed, _exposures++);
}

const std::vector<uint8_t>& SensorNoise::DeviationsOf(const Image& clean) {
    for (auto it = _planes.begin(); it != _planes.end(); ++it)
        if (it->image == clean) {
            _planes.splice(_planes.begin(), _planes, it);
            return _planes.front().deviations;
        }
    Planes planes{clean, std::vector<uint8_t>(clean->size())};
    _form.lookUpCodes(clean->data(), planes.deviations.data(), clean->size(), _scale);
    _planes.push_front(std::move(planes));
    if (_planes.size() > CachedPlanes)
        _planes.pop_back();
    return _planes.front().deviations;
}

void SensorNoise::ExposeFrame(const Image& clean, uint8_t* out) {
    const uint8_t* deviations = _form.lookUpCodes ? DeviationsOf(clean).data() : nullptr;
    _form.apply(clean->data(), deviations, out, clean->size(), NextKey(), _scale);
}

void SensorNoise::ExposeLine(uint8_t* row, size_t count) {
    const uint8_t* deviations = nullptr;
    if (_form.lookUpCodes) {
        _lineDeviations.resize(count);
        _form.lookUpCodes(row, _lineDeviations.data(), count, _scale);
        deviations = _lineDeviations.data();
    }
    _form.apply(row, deviations, row, count, NextKey(), _scale);
}

} // namespace zeb::station
