#include "CameraFeatures.h"

#include "TextMatch.h"

namespace zeb::station {

TextMap DefaultCameraFeatures(const std::string& scanType, const std::string& transport) {
    const bool line = scanType == "Linescan";
    TextMap f = {
        {"DeviceVendorName", "Zeb Station"},
        {"DeviceModelName", line ? "LSC-2048M" : "VCXG-25M"},
        {"DeviceSerialNumber", line ? "L0000001" : "A0000001"},
        {"SensorWidth", line ? "2048" : "1280"},
        {"SensorHeight", line ? "1" : "1024"},
        {"Width", line ? "2048" : "1280"},
        {"Height", line ? "512" : "1024"},
        {"OffsetX", "0"},
        {"OffsetY", "0"},
        {"ExposureTime", line ? "20" : "1000"},
        {"Gain", "0"},
        {"PixelFormat", "Mono8"},
        {"AcquisitionMode", "Continuous"},
        {"TriggerSelector", line ? "LineStart" : "FrameStart"},
        {"LineSelector", "Line0"},
        {"UserOutputSelector", "UserOutput1"},
        {"UserOutputValue", "False"},
    };
    if (line) {
        f["TriggerMode[LineStart]"] = "Off";
        f["TriggerSource[LineStart]"] = "Line0";
        f["TriggerMode[AcquisitionStart]"] = "Off";
        f["TriggerSource[AcquisitionStart]"] = "Line1";
    } else {
        f["TriggerMode[FrameStart]"] = "On";
        f["TriggerSource[FrameStart]"] = "Line0";
        f["ReverseXY"] = "False";
    }
    if (transport == "Pleora") {
        f["GevSCPD"] = "0";
        f["GevRequestTimeout"] = "1000";
        f["GevLatencyLevel"] = "0";
    }
    return f;
}

std::map<std::string, FeatureLimits> DefaultCameraLimits(const std::string& scanType) {
    const bool line = scanType == "Linescan";
    return {
        {"Width", {16, 1e9, 8}},
        {"Height", {line ? 1.0 : 16.0, line ? 65535.0 : 1e9, line ? 1.0 : 2.0}},
        {"OffsetX", {0, 1e9, 8}},
        {"OffsetY", {0, 1e9, 2}},
        {"ExposureTime", {line ? 2.0 : 10.0, line ? 10000.0 : 1000000.0, 0}},
        {"Gain", {0, 24, 0}},
        {"GevSCPD", {0, 100000, 1}},
        {"GevRequestTimeout", {100, 60000, 1}},
        {"GevLatencyLevel", {0, 3, 1}},
    };
}

std::vector<CameraLine> DefaultCameraLines(const std::string& scanType) {
    if (scanType == "Linescan")
        return {{"Line0", "Input"}, {"Line1", "Input"}, {"Line2", "Output"}};
    return {{"Line0", "Input"}, {"Line1", "Output"}, {"Line2", "Input"}, {"Line3", "Output"}};
}

std::optional<FeatureTraits> CameraFeatureTraits(const SimCamera& camera, std::string_view name) {
    const bool line = camera.Linescan();
    if (OneOf(name, {"DeviceVendorName", "DeviceModelName", "DeviceSerialNumber", "PixelFormat"}))
        return FeatureTraits{FeatureKind::Text, true, false, {}};
    if (OneOf(name, {"SensorWidth", "SensorHeight"}))
        return FeatureTraits{FeatureKind::Int, true, false, {}};
    if (OneOf(name, {"Width", "Height", "OffsetX", "OffsetY"}))
        return FeatureTraits{FeatureKind::Int, false, true, {}};
    if (OneOf(name, {"ExposureTime", "Gain"}))
        return FeatureTraits{FeatureKind::Float, false, false, {}};
    if (name == "AcquisitionFrameRate")
        return FeatureTraits{FeatureKind::Float, true, false, {}};
    if (line && OneOf(name, {"AcquisitionLineRateMaximum", "AcquisitionLineRateCurrentMaximum"}))
        return FeatureTraits{FeatureKind::Float, true, false, {}};
    if (name == "AcquisitionMode")
        return FeatureTraits{FeatureKind::Enum, false, true, {"SingleFrame", "Continuous"}};
    if (name == "TriggerSelector")
        return FeatureTraits{FeatureKind::Enum, false, false,
                             line ? std::vector<std::string_view>{"LineStart", "AcquisitionStart"}
                                  : std::vector<std::string_view>{"FrameStart"}};
    if (name == "TriggerMode")
        return FeatureTraits{FeatureKind::Enum, false, false, {"Off", "On"}};
    if (name == "TriggerSource" || name == "LineSelector") {
        FeatureTraits traits{FeatureKind::Enum, false, false, {}};
        traits.values.reserve(camera.lines.size() + 1);
        for (const CameraLine& cameraLine : camera.lines)
            traits.values.emplace_back(cameraLine.name);
        if (name == "TriggerSource")
            traits.values.emplace_back("Software");
        return traits;
    }
    if (name == "LineMode")
        return FeatureTraits{FeatureKind::Enum, true, false, {"Input", "Output"}};
    if (name == "LineSource")
        return FeatureTraits{
            FeatureKind::Enum, false, false, {"Off", "UserOutput1", "TriggerReady", "ExposureActive"}};
    if (name == "LineStatus")
        return FeatureTraits{FeatureKind::Bool, true, false, {}};
    if (name == "UserOutputSelector")
        return FeatureTraits{FeatureKind::Enum, false, false, {"UserOutput1"}};
    if (name == "UserOutputValue")
        return FeatureTraits{FeatureKind::Bool, false, false, {}};
    if (!line && name == "ReverseXY")
        return FeatureTraits{FeatureKind::Bool, false, true, {}};
    if (camera.transport == "Pleora" && OneOf(name, {"GevSCPD", "GevRequestTimeout", "GevLatencyLevel"}))
        return FeatureTraits{FeatureKind::Int, false, false, {}};
    return std::nullopt;
}

} // namespace zeb::station
