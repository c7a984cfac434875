// The lighting controller's register set as the factory delivers it, which values each register
// accepts, and the controller's ports with their polarity registers.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zeb::station {

// The factory register set of a controller, in register-list order.
std::vector<std::pair<std::string, std::string>> FactoryRegisters();
bool IsReadOnlyRegister(const std::string& name);
// Checks a value for a register; returns the refusal reason, or empty when the value is accepted.
std::string CheckRegisterValue(const std::string& name, const std::string& value);
// The controller port names a cable may start at.
bool IsControllerPort(const std::string& port);
bool IsOutputPort(const std::string& port);
// Polarity register of a controller port ("Camera1Input0" -> "CameraIo1.Input0.InvertPolarity").
// Empty for a port that has none.
std::string_view PolarityRegister(std::string_view port);
// Registers of the camera outputs 1 that only hardware version 2 and later have.
bool IsVersion2Register(const std::string& name);

} // namespace zeb::station
