// Factory register sets of the controllers and the feature traits of the cameras.
#pragma once

#include "Station.h"

#include <optional>
#include <string>
#include <vector>

namespace zeb::station {

// The factory register set of a controller, in register-list order.
std::vector<std::pair<std::string, std::string>> FactoryRegisters();
bool IsReadOnlyRegister(const std::string& name);
// Checks a value for a register; returns the refusal reason, or empty when the value is accepted.
std::string CheckRegisterValue(const std::string& name, const std::string& value);
// The controller port names a cable may start at.
bool IsControllerPort(const std::string& port);
// Registers of the camera outputs 1 that only hardware version 2 and later have.
bool IsVersion2Register(const std::string& name);

enum class FeatureKind { Int, Float, Bool, Enum, Text };

struct FeatureSpec {
    FeatureKind kind = FeatureKind::Text;
    bool readOnly = false;
    bool lockedWhileStreaming = false;
    std::vector<std::string> values; // enumerations
};

// Default features of a camera by scan type and transport.
std::map<std::string, std::string> DefaultCameraFeatures(const std::string& scanType,
                                                         const std::string& transport);
std::map<std::string, FeatureLimits> DefaultCameraLimits(const std::string& scanType);
std::vector<CameraLine> DefaultCameraLines(const std::string& scanType);
// The traits of a camera feature (kind, access, entries), or none when the camera has no such feature.
std::optional<FeatureSpec> CameraFeatureSpec(const SimCamera& camera, const std::string& name);

// Decimal text of a number: integers plainly, other values shortest round-trip without exponent.
std::string NumberText(double value);

} // namespace zeb::station
