#include "runs/AssistantFix.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace zeb::cli {

namespace {

std::optional<double> Number(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The brightness assistant's arguments: the mean, the share underexposed and the share
// overexposed (percent); it warns above 0.1 % of either. The mean is brought toward the middle
// grey (128) or, when that is where it is, moved by a quarter, enough to take most clipping off.
std::optional<AssistantFix> BrightnessFix(const AssistantState& state) {
    if (state.arguments.size() < 3)
        return std::nullopt;
    const auto mean = Number(state.arguments[0]), under = Number(state.arguments[1]),
               over = Number(state.arguments[2]), exposure = Number(state.exposureTime),
               gain = Number(state.gain);
    if (!mean || !under || !over || !exposure || *exposure <= 0)
        return std::nullopt;
    constexpr double Warning = 0.1;
    const bool dark = *under > Warning, clipped = *over > Warning;
    if (dark == clipped)
        return std::nullopt;
    double factor = 0;
    if (clipped)
        factor = std::min(0.75, 128.0 / std::max(*mean, 1.0));
    else
        factor = std::max(1.0 / 0.75, 128.0 / std::max(*mean, 1.0));
    const double wanted = *exposure * factor;
    AssistantFix fix;
    fix.origin = "the brightness assistant";
    fix.why = clipped ? state.arguments[2] + " % of the pixels are overexposed"
                      : state.arguments[1] + " % of the pixels are underexposed";
    if (wanted <= LongestExposureUs || clipped) {
        fix.name = "ExposureTime";
        fix.value = Format("%.0f", std::max(1.0, std::round(wanted)));
        return fix;
    }
    // Brighter than the longest exposure gives: the rest by gain, in decibels.
    if (*exposure < LongestExposureUs) {
        fix.name = "ExposureTime";
        fix.value = Format("%.0f", LongestExposureUs);
        return fix;
    }
    if (!gain)
        return std::nullopt;
    fix.name = "Gain";
    fix.value = Format("%.1f", *gain + 20 * std::log10(wanted / LongestExposureUs));
    return fix;
}

} // namespace

std::optional<AssistantFix> ImpliedFix(const std::string& assistant, const AssistantState& state) {
    if (state.result != "Warning")
        return std::nullopt;
    // Its arguments are the set orientation, the detected one, the confidence and the reason.
    if (assistant == "Orientation detection" && state.arguments.size() >= 2 && !state.arguments[1].empty() &&
        state.arguments[1] != state.arguments[0]) {
        AssistantFix fix;
        fix.name = "LightingOrientation";
        fix.value = state.arguments[1];
        fix.origin = "the orientation assistant";
        fix.why = "the dome is mounted at " + state.arguments[1];
        return fix;
    }
    if (assistant == "Brightness detection")
        return BrightnessFix(state);
    return std::nullopt;
}

} // namespace zeb::cli
