// The setting an assistant's result implies, so that a person can apply it at once: the orientation
// assistant's Warning names how the dome is mounted, and "LightingOrientation" should say the same;
// the brightness assistant's Warning on clipped or dark pixels asks for another exposure (or gain,
// once the exposure is at its longest).
#pragma once

#include "runs/AssistantRunner.h"
#include "session/RunSettings.h"

#include <optional>
#include <string>

namespace zeb::cli {

struct AssistantFix : Assignment {
    // Why, for people: "the dome is mounted at 90 deg", "0.52 % of the pixels are overexposed".
    std::string why;
};

// The longest "ExposureTime" a camera takes, in microseconds.
constexpr double LongestExposureUs = 65000;

// None when the result implies no change of a setting (also for a brightness Warning with both
// dark and clipped pixels: no one exposure helps both; light or the scene must change).
std::optional<AssistantFix> ImpliedFix(const std::string& assistant, const AssistantState& state);

} // namespace zeb::cli
