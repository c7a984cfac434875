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
}

LightVolume::~LightVolume() = default;

const LightField* LightVolume::Level(int32_t index) {
    if (index == 0 && _plane)
        return _plane;
    std::lock_guard<std::mutex> lock(_levelsMutex);
    std::unique_ptr<LightField>& level = _levels[index];
    if (!level) {
        // The field of a model whose object plane lies that much higher.
        LightingModel raised = _model;
        raised.workingDistance -= index * Spacing;
        level = std::make_unique<LightField>(raised, _width, _height, _region);
    }
    return level.get();
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
