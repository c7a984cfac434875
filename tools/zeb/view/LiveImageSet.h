// The latest image set of a channel as the viewer shows it: its forms (the stack as delivered, the
// average, each direction) as PNG, cached so that several pages cost one encoding, and the
// statistics of its grey values.
#pragma once

#include "hostkit/HostChannel.h"
#include "session/ImageSetDescription.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zeb::view {

struct GreyStatistics {
    std::array<uint64_t, 256> histogram{}; // of every delivered pixel
    double mean = 0;
    double saturatedPercent = 0; // pixels at 255
    double darkPercent = 0;      // pixels below 10
};

GreyStatistics Measure(const host::Image& image);

// The image shrunk by `factor` in both directions, each pixel the mean of its block; a block with a
// saturated pixel stays saturated, so the saturation overlay of a preview misses nothing.
host::Image Shrink(const host::Image& image, int32_t factor);

// The sides the four directions are lit from, for the lighting sequence ("right", "top", ...);
// empty for a sequence whose sides are not known.
std::vector<std::string> LitFromSides(const std::string& lightingSequence);

class LiveImageSet {
public:
    LiveImageSet(int64_t number, host::Image delivered, cli::ImageSetDescription description,
                 std::chrono::system_clock::time_point taken);

    int64_t Number() const { return _number; }
    const host::Image& Delivered() const { return _delivered; }
    const cli::ImageSetDescription& Description() const { return _description; }
    std::chrono::system_clock::time_point Taken() const { return _taken; }
    // "stack", "average", "direction0" to "direction3"; an averaged set has only "average".
    std::vector<std::string> Forms() const;
    static bool KnownForm(const std::string& form);
    // Width and height of the delivered image's direction (the average's size).
    int32_t DirectionWidth() const { return _delivered.width; }
    int32_t DirectionHeight() const;

    // The image of a form; none when the set has no such form.
    std::optional<host::Image> Form(const std::string& form) const;
    // The form as a PNG file, shrunk by `factor`; null when the set has no such form.
    std::shared_ptr<const std::string> Png(const std::string& form, int32_t factor) const;
    // Measured once, on first use.
    const GreyStatistics& Statistics() const;
    // The same for each of the four directions, once; empty for an averaged set.
    const std::vector<GreyStatistics>& DirectionStatistics() const;

private:
    int64_t _number;
    host::Image _delivered;
    cli::ImageSetDescription _description;
    std::chrono::system_clock::time_point _taken;
    mutable std::mutex _mutex;
    mutable std::map<std::pair<std::string, int32_t>, std::shared_ptr<const std::string>> _png;
    mutable std::optional<GreyStatistics> _statistics;
    mutable std::optional<std::vector<GreyStatistics>> _directionStatistics;
};

} // namespace zeb::view
