// The setting an assistant's result implies, so that a person can apply it at once: the orientation
// assistant's Warning names how the dome is mounted, and "LightingOrientation" should say the same.
#pragma once

#include "runs/AssistantRunner.h"
#include "session/RunSettings.h"

#include <optional>
#include <string>

namespace zeb::cli {

// None when the result implies no change of a setting.
std::optional<Assignment> ImpliedFix(const std::string& assistant, const AssistantState& state);

} // namespace zeb::cli
