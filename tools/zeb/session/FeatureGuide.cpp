#include "session/FeatureGuide.h"

#include <algorithm>

namespace zeb::cli {

const std::vector<FeatureGuide>& FeatureGuides() {
    static const std::vector<FeatureGuide> guides = {
        {"DeviceScanType", "",
         "Scan type of the lighting controller (area or line scan), found when the channel opens.", ""},
        {"DeviceImageSource", "",
         "The camera the channel uses; selecting one sets region, exposure and gain to the camera's values.",
         ""},
        {"DeviceImageSourceDetect", "",
         "Finds the camera wired to the channel's lighting controller among the listed ones and selects it.",
         ""},
        {"DeviceImageSourceVendor", "", "Vendor of the selected camera, as the camera reports it.", ""},
        {"DeviceImageSourceModel", "", "Model of the selected camera, as the camera reports it.", ""},
        {"DeviceImageSourceSerial", "", "Serial number of the selected camera.", ""},
        {"Width", "px", "Width of the camera's image region, in pixels.", "", true},
        {"Height", "px",
         "Height of the camera's image region, in pixels; in line scan the lines of one direction (the "
         "camera "
         "takes four times as many).",
         "", true},
        {"OffsetX", "px", "Horizontal offset of the image region on the sensor, in pixels.", "", true},
        {"OffsetY", "px", "Vertical offset of the image region on the sensor, in pixels.", "", true},
        {"ReverseXY", "",
         "Mirrors an area-scan camera's image in X and Y; the lighting orientation is then turned by 180 deg "
         "at the start.",
         "", true},
        {"TestPattern", "",
         "On: every delivered image is a synthetic grey ramp instead of the camera's pixels.", ""},
        {"AcquisitionMode", "", "SingleFrame: one image set per start; Continuous: image sets until stopped.",
         ""},
        {"AcquisitionBurstMode", "",
         "Burst acquisition of an area-scan camera; switched on for cameras that can take it.", ""},
        {"AcquisitionLineRate", "lines/s",
         "Line rate of a line-scan acquisition when the frequency generator clocks it.",
         "line scan: at least 10, at most the camera's AcquisitionLineRateMaximum (1000000 without a "
         "camera)"},
        {"AcquisitionLineRateEnable", "",
         "True: the controller's frequency generator clocks the lines at AcquisitionLineRate; False: the "
         "position encoder does.",
         ""},
        {"AcquisitionLineRateMaximum", "lines/s", "Highest line rate of the line-scan camera, read from it.",
         ""},
        {"AcquisitionLineRateCurrentMaximum", "lines/s",
         "Highest line rate the line-scan camera allows with its present settings, read from it.", ""},
        {"TriggerMode", "", "On: each image set waits for the external trigger input.", ""},
        {"TriggerActivation", "", "The edge of the external trigger that starts an image set.", ""},
        {"ExposureTime", "us", "Exposure time of the camera and length of each light pulse, in microseconds.",
         "at most 65000 with a camera (a larger value becomes 65000); the camera's own limits apply too"},
        {"Gain", "dB", "Gain of the camera, in decibels.", ""},
        {"EncoderResolution", "",
         "Resolution of the position encoder that clocks a line-scan acquisition, in encoder steps.",
         "line scan: at least 8, at most the controller's maximum, in steps of 4"},
        {"LightingSequenceType", "",
         "Diagonal lights one quadrant of the dome per direction, Axial the two quadrants of one side.", ""},
        {"LightingOrientation", "",
         "How far the light pattern is turned to match the dome's mounting; the orientation assistant checks "
         "it.",
         ""},
        {"SetupMode", "",
         "On: each image set is one image averaged over the four directions (what the assistants judge); "
         "Off: "
         "the four directions.",
         ""},
        {"DialogSelector", "", "The setup assistant that DialogStart runs.", ""},
        {"DialogStatus", "", "True while a setup assistant runs.", ""},
        {"DialogStart", "", "Starts the assistant that DialogSelector names.", ""},
        {"DialogStop", "", "Stops the running assistant and restores the controller's registers.", ""},
        {"DialogNext", "", "Goes on to the assistant's next step, after a successful result.", ""},
        {"DialogInstruction", "", "What the person at the station should do now.", ""},
        {"DialogResult", "", "Result of the assistant's current step.", ""},
        {"DialogResultMessage", "",
         "The result's message, with placeholders {0}, {1}, ... for its arguments.", ""},
        {"DialogResultMessageArguments", "", "The values of the message's placeholders, separated by ';'.",
         ""},
        {"DialogAcquisitionRequest", "", "True while the assistant waits for an averaged image set.", ""},
        {"GevSCPD", "ticks",
         "GigE Vision packet delay of an area-scan camera, in the camera's timestamp ticks.", ""},
        {"GevRequestTimeout", "ms", "GigE Vision request time-out of an area-scan camera, in milliseconds.",
         ""},
        {"GevLatencyLevel", "", "GigE Vision latency level of an area-scan camera.", ""},
    };
    return guides;
}

FeatureGuide GuideFor(const std::string& name) {
    const auto& guides = FeatureGuides();
    const auto found = std::find_if(guides.begin(), guides.end(),
                                    [&](const FeatureGuide& guide) { return guide.name == name; });
    if (found != guides.end())
        return *found;
    return {name, "", "A feature of this plug-in that zeb has no description of.", ""};
}

std::string FeatureGuideText() {
    std::string text = "What the features mean (unit in brackets; zeb features lists their values):\n";
    for (const FeatureGuide& guide : FeatureGuides()) {
        text +=
            "  " + guide.name + (guide.unit.empty() ? "" : " [" + guide.unit + "]") + ": " + guide.meaning;
        if (!guide.limits.empty())
            text += " Limits: " + guide.limits + ".";
        text += "\n";
    }
    return text;
}

} // namespace zeb::cli
