#include "view/FeatureGroups.h"

#include <set>

namespace zeb::view {

std::string FeatureGroup(const std::string& feature) {
    static const std::set<std::string> imageFormat = {"Width",     "Height",      "OffsetX",  "OffsetY",
                                                      "ReverseXY", "TestPattern", "SetupMode"};
    if (feature.starts_with("DeviceImageSource") || feature == "DeviceScanType")
        return "Device and camera";
    if (imageFormat.count(feature))
        return "Image format";
    if (feature.starts_with("Acquisition") || feature.starts_with("Trigger") || feature == "ExposureTime" ||
        feature == "Gain" || feature == "EncoderResolution")
        return "Acquisition";
    if (feature.starts_with("Lighting"))
        return "Lighting";
    if (feature.starts_with("Dialog"))
        return "Assistants";
    if (feature.starts_with("Gev"))
        return "Transport";
    return "Other";
}

const std::vector<std::string>& FeatureGroupOrder() {
    static const std::vector<std::string> order = {
        "Device and camera", "Image format", "Acquisition", "Lighting", "Assistants", "Transport", "Other"};
    return order;
}

} // namespace zeb::view
