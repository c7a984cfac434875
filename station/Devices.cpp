#include "Devices.h"

#include <algorithm>
#include <cstdint>

namespace zeb::station {

bool IsTrue(const std::string& value) {
    return value == "1" || value == "True";
}

bool FaultStrikes(std::vector<Fault>& faults, OfflineWindow& offline, Nanoseconds now, const char* operation,
                  const std::string& name) {
    bool struck = false;
    for (Fault& fault : faults) {
        if (fault.fired)
            continue;
        FaultTrigger& trigger = fault.trigger;
        if (!trigger.operation.empty()) {
            if (trigger.operation != operation || (!trigger.name.empty() && trigger.name != name))
                continue;
            if (++trigger.seen < trigger.count)
                continue;
        }
        fault.fired = true;
        struck = true;
        if (fault.kind == "offline") {
            offline.from = now + fault.delay;
            offline.until = offline.from + fault.duration;
        }
    }
    return struck;
}

namespace {

// Looked up by a name without making a string of it: the station's signals read registers and
// features at every operation.
const std::string& ValueIn(const TextMap& map, std::string_view name) {
    static const std::string none;
    const auto it = map.find(name);
    return it == map.end() ? none : it->second;
}

} // namespace

const std::string& SimController::Get(std::string_view name) const {
    return ValueIn(registers, name);
}

bool SimController::Flag(std::string_view name) const {
    return IsTrue(Get(name));
}

const std::string& SimCamera::Feature(std::string_view feature) const {
    return ValueIn(features, feature);
}

int32_t SimCamera::Int(const std::string& feature) const {
    return static_cast<int32_t>(std::clamp<int64_t>(LeadingInteger(Feature(feature)), INT32_MIN, INT32_MAX));
}

double SimCamera::Double(const std::string& feature) const {
    return LeadingNumber(Feature(feature));
}

CameraLine* SimCamera::Line(const std::string& lineName) {
    for (CameraLine& line : lines)
        if (line.name == lineName)
            return &line;
    return nullptr;
}

const CameraLine* SimCamera::Line(const std::string& lineName) const {
    for (const CameraLine& line : lines)
        if (line.name == lineName)
            return &line;
    return nullptr;
}

CameraLine* SimCamera::SelectedLine() {
    return Line(Feature("LineSelector"));
}

double SimCamera::FrameRate() const {
    const double readoutMicroseconds =
        static_cast<double>(Int("Height")) * static_cast<double>(readoutPerRow) / 1000.0;
    return 1e6 / (Double("ExposureTime") + readoutMicroseconds);
}

double SimCamera::LineRateMaximum() const {
    return 1e6 / (Double("ExposureTime") + 2.5);
}

SimController* DeviceSet::Controller(int32_t id) const {
    const auto it = controllers.find(id);
    return it == controllers.end() ? nullptr : it->second.get();
}

SimCamera* DeviceSet::Camera(const std::string& name) const {
    for (const auto& camera : cameras)
        if (camera->name == name)
            return camera.get();
    return nullptr;
}

} // namespace zeb::station
