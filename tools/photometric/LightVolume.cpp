#include "LightVolume.h"

#include <algorithm>
#include <cmath>

namespace zeb::photometric {

LightVolume::LightVolume(const LightingModel& model, int32_t width, int32_t height, const ImageRegion& region,
                         const LightField* plane)
    : _model(model), _region(region), _width(width), _height(height), _plane(plane) {
    // Points well inside the dome: from half its radius below the object plane up to half its radius
    // above the rim's plane.
    _lowest = -model.domeRadius / 2;
    _highest = model.workingDistance + model.domeRadius / 2;
    // The levels At can name: from the lowest height's up to the one above the highest height's.
    _firstSlot = static_cast<int32_t>(std::floor(_lowest / Spacing));
    const auto slots =
        static_cast<size_t>(static_cast<int32_t>(std::floor(_highest / Spacing)) - _firstSlot + 2);
    _slots = std::make_unique<std::atomic<const LightField*>[]>(slots);
    for (size_t i = 0; i < slots; ++i)
        _slots[i].store(i == static_cast<size_t>(-_firstSlot) ? plane : nullptr);
}

LightVolume::~LightVolume() = default;

const LightField* LightVolume::Level(int32_t index) {
    std::atomic<const LightField*>& slot = _slots[static_cast<size_t>(index - _firstSlot)];
    if (const LightField* level = slot.load(std::memory_order_acquire))
        return level;
    std::lock_guard<std::mutex> lock(_madeMutex);
    if (const LightField* level = slot.load(std::memory_order_relaxed))
        return level;
    // The field of a model whose object plane lies that much higher.
    LightingModel raised = _model;
    raised.workingDistance -= index * Spacing;
    const LightField* level =
        _made.emplace_back(std::make_unique<LightField>(raised, _width, _height, _region)).get();
    slot.store(level, std::memory_order_release);
    return level;
}

LightVolume::Place LightVolume::At(double height) {
    if (!std::isfinite(height))
        height = 0;
    const double position = std::clamp(height, _lowest, _highest) / Spacing;
    const double floor = std::floor(position);
    const int32_t index = static_cast<int32_t>(floor);
    Place place;
    place.share = static_cast<float>(position - floor);
    place.lower = Level(index);
    place.upper = place.share > 0 ? Level(index + 1) : place.lower;
    return place;
}

} // namespace zeb::photometric
