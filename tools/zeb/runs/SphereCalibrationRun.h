// Calibrating a channel's lights on the sphere from image sets it delivered, as zeb calibrate and
// zeb view do: the sets that show the sphere where the first does are averaged, the lights
// measured, and the result kept as a calibration record with the figures people read.
#pragma once

#include "hostkit/HostChannel.h"
#include "photometric/CalibrationFile.h"
#include "photometric/SphereCalibration.h"
#include "session/ChannelLighting.h"
#include "session/ImageSetDescription.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <vector>

namespace zeb::cli {

struct SphereCalibrationRun {
    photometric::CalibrationResult result;
    photometric::CalibrationRecord record;
    int32_t setsUsed = 0;

    // The figures, in this order: {"sphere": {"x", "y", "radius"}, "meanErrorDegrees", "p95ErrorDegrees",
    // "nominalMeanErrorDegrees", "lights": [{"azimuthDegrees", "elevationDegrees"} x 4],
    // "orientation": {"set", "detected"}}; "detected" is null when no orientation fits.
    nlohmann::ordered_json Figures() const;
    // The figures followed by the verdict: "agrees", "advice" (empty when they agree) and
    // "suggestedOrientation" (the "LightingOrientation" to set, or null).
    nlohmann::ordered_json FiguresAndVerdict() const;
    // "90 deg" when the lights fit another "LightingOrientation" than the channel's; empty otherwise.
    std::string SuggestedOrientation() const;
};

// Throws CommandError saying why when no set shows a whole sphere of the expected size.
SphereCalibrationRun CalibrateOnSphere(const std::vector<host::Image>& sets, const ChannelLighting& lighting,
                                       const ImageSetDescription& description,
                                       const photometric::SphereSettings& sphere);

// Makes its folder when missing and writes the file whole or not at all; throws CommandError when
// the file cannot be written.
void WriteCalibrationFile(const std::filesystem::path& file, const photometric::CalibrationRecord& record);
// Whether the text is a calibration file: a JSON object with the lights' steps and the sphere.
bool IsCalibrationText(const std::string& text);
// Refuses a folder, or a file that holds something else than a calibration, as --out of zeb
// calibrate; an earlier calibration is replaced.
void CheckCalibrationTarget(const std::filesystem::path& file);

} // namespace zeb::cli
