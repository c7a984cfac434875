// The lighting model laid over one image size at several heights above the object plane, for
// pixels that do not lie on it: a light field per level, `Spacing()` millimetres apart, made the
// first time a pixel near that height needs it (its tables, as ever, the first time a pixel needs
// them). A pixel between two levels takes the light of both, each by its nearness. Level 0 may be
// the object plane's field of the caller.
#pragma once

#include "LightField.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace zeb::photometric {

class LightVolume {
public:
    LightVolume(const LightingModel& model, int32_t width, int32_t height, const ImageRegion& region,
                const LightField* plane = nullptr);
    ~LightVolume();
    LightVolume(const LightVolume&) = delete;
    LightVolume& operator=(const LightVolume&) = delete;

    // The two levels around a height (millimetres above the object plane) and the share of the
    // upper one. Heights beyond the lowest and highest levels the dome can light are taken there;
    // a height that is not a number is taken on the object plane.
    struct Place {
        const LightField* lower = nullptr;
        const LightField* upper = nullptr;
        float share = 0;
    };
    Place At(double height);

    static constexpr double Spacing = 2.5; // millimetres between levels
    double Lowest() const { return _lowest; }
    double Highest() const { return _highest; }
    size_t Levels() const { return _made.size() + (_plane ? 1 : 0); }
    int32_t Width() const { return _width; }
    int32_t Height() const { return _height; }

private:
    const LightField* Level(int32_t index);

    LightingModel _model;
    ImageRegion _region;
    int32_t _width, _height;
    const LightField* _plane;
    double _lowest, _highest;
    // Levels are made as the solving threads first need them, under the lock, and owned by `_made`;
    // each is then found through its slot without the lock (a lock per pixel would have the threads
    // queue for it). Slot i holds level `_firstSlot + i`.
    std::mutex _madeMutex;
    std::vector<std::unique_ptr<LightField>> _made;
    int32_t _firstSlot = 0;
    std::unique_ptr<std::atomic<const LightField*>[]> _slots;
};

} // namespace zeb::photometric
