#include "FeatureGroups.h"

#include <set>

namespace zeb::view {

namespace {
bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}
} // namespace

std::string FeatureGroup(const std::string& feature) {
    static const std::set<std::string> imageFormat = {"Width",     "Height",      "OffsetX",  "OffsetY",
                                                      "ReverseXY", "TestPattern", "SetupMode"};
    if (StartsWith(feature, "DeviceImageSource") || feature == "DeviceScanType")
        return "Device and camera";
    if (imageFormat.count(feature))
        return "Image format";
    if (StartsWith(feature, "Acquisition") || StartsWith(feature, "Trigger") || feature == "ExposureTime" ||
        feature == "Gain" || feature == "EncoderResolution")
        return "Acquisition";
    if (StartsWith(feature, "Lighting"))
        return "Lighting";
    if (StartsWith(feature, "Dialog"))
        return "Assistants";
    if (StartsWith(feature, "Gev"))
        return "Transport";
    return "Other";
}

const std::vector<std::string>& FeatureGroupOrder() {
    static const std::vector<std::string> order = {
        "Device and camera", "Image format", "Acquisition", "Lighting", "Assistants", "Transport", "Other"};
    return order;
}

} // namespace zeb::view
