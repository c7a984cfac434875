// What each feature of a channel means to a person setting up a station: its unit, what it does,
// and the limits the channel itself applies. One table serves zeb features, zeb get --json, the
// help of get and set, and zeb view's page.
#pragma once

#include <string>
#include <vector>

namespace zeb::cli {

struct FeatureGuide {
    std::string name;
    std::string unit;    // "us", "dB", "px", ...; empty where the value has none
    std::string meaning; // one or two sentences, never empty
    // The limits the channel applies on a write, where it applies its own; empty where only the
    // choices or the camera limit the value (the camera's limits are read from the camera).
    std::string limits;
    // The camera refuses a change while it streams (the image region and its mirroring).
    bool fixedWhileAcquiring = false;
};

// The channel's features in the channel's order.
const std::vector<FeatureGuide>& FeatureGuides();

// The guide of a feature; a feature zeb does not know (another plug-in version) gets an empty unit
// and a meaning that says so.
FeatureGuide GuideFor(const std::string& name);

// A heading and "ExposureTime [us]: meaning Limits: ..." lines, one a feature, for help texts.
std::string FeatureGuideText();

} // namespace zeb::cli
