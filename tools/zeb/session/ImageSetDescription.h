// The channel's state that an image set was taken with, as the files of the set and zeb view's page
// tell it.
#pragma once

#include "hostkit/HostChannel.h"
#include "session/FrameTiming.h"

#include <cstdint>
#include <string>

namespace zeb::cli {

struct ImageSetDescription {
    int32_t channelIndex = 0;
    std::string channel;     // channel name
    std::string camera;      // "DeviceImageSource"
    std::string cameraModel; // vendor, model and serial number
    std::string scanType, exposureTime, gain, lightingSequence, lightingOrientation, setupMode;
    std::optional<LineScanTiming> lineTiming; // line scan: "Height" and the line rate

    bool LineScan() const { return scanType == "Linescan"; }
    bool Averaged() const { return setupMode == "On"; }
    // Reads the features of the channel now.
    static ImageSetDescription Read(host::HostChannel& channel, int32_t channelIndex);
};

// The sides the four directions are lit from, as seen from the camera with the lighting
// orientation set to how the dome is mounted: "0 right, 1 top, 2 left, 3 bottom" for the axial
// sequence.
std::string LitFrom(const std::string& lightingSequence);

} // namespace zeb::cli
