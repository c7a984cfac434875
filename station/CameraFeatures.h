// A camera's features as the factory delivers them: default values, limits and I/O lines by scan
// type and transport, and the traits (kind, access, entries) of each feature.
#pragma once

#include "Devices.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zeb::station {

enum class FeatureKind { Int, Float, Bool, Enum, Text };

struct FeatureTraits {
    FeatureKind kind = FeatureKind::Text;
    bool readOnly = false;
    bool lockedWhileStreaming = false;
    std::vector<std::string_view> values; // enumerations: texts of the program or of the camera's lines
};

// Default features of a camera by scan type and transport.
TextMap DefaultCameraFeatures(const std::string& scanType, const std::string& transport);
std::map<std::string, FeatureLimits> DefaultCameraLimits(const std::string& scanType);
std::vector<CameraLine> DefaultCameraLines(const std::string& scanType);
// The traits of a camera feature (kind, access, entries), or none when the camera has no such feature.
// The entries stay valid while the camera's lines do.
std::optional<FeatureTraits> CameraFeatureTraits(const SimCamera& camera, std::string_view name);

} // namespace zeb::station
