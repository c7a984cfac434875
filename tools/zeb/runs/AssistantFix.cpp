#include "runs/AssistantFix.h"

namespace zeb::cli {

std::optional<Assignment> ImpliedFix(const std::string& assistant, const AssistantState& state) {
    // Its arguments are the set orientation, the detected one, the confidence and the reason.
    if (assistant == "Orientation detection" && state.result == "Warning" && state.arguments.size() >= 2 &&
        !state.arguments[1].empty() && state.arguments[1] != state.arguments[0])
        return Assignment{"LightingOrientation", state.arguments[1], "the orientation assistant"};
    return std::nullopt;
}

} // namespace zeb::cli
