// Saving image sets as numbered PNG files that carry what a person needs to read them: channel,
// camera, scan type, exposure, gain, lighting, direction order and the side each direction is lit
// from, and the time.
#pragma once

#include "HostChannel.h"
#include "PngFile.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zeb::cli {

// The channel's state that an image set was taken with.
struct ImageSetDescription {
    int32_t channelIndex = 0;
    std::string channel;     // channel name
    std::string camera;      // "DeviceImageSource"
    std::string cameraModel; // vendor, model and serial number
    std::string scanType, exposureTime, gain, lightingSequence, lightingOrientation, setupMode;

    bool LineScan() const { return scanType == "Linescan"; }
    bool Averaged() const { return setupMode == "On"; }
    // Reads the features of the channel now.
    static ImageSetDescription Read(host::HostChannel& channel, int32_t channelIndex);
};

// A time as UTC in ISO 8601 with milliseconds: "2025-01-31T12:00:00.000Z".
std::string IsoTime(std::chrono::system_clock::time_point time);

// The sides the four directions are lit from, as seen from the camera with the lighting
// orientation set to how the dome is mounted: "right, top, left, bottom" for the axial sequence.
std::string LitFrom(const std::string& lightingSequence);

class ImageSetWriter {
public:
    // Numbering continues after the highest image set of this channel already in `folder`.
    ImageSetWriter(std::filesystem::path folder, ImageSetDescription description);

    // Writes the files of the next image set; returns them in writing order.
    std::vector<std::filesystem::path> Write(const host::Image& image,
                                             std::chrono::system_clock::time_point taken);
    // The number the next image set gets.
    int64_t NextNumber() const { return _next; }
    const ImageSetDescription& Description() const { return _description; }
    // The files of image set `number` are this path with "-KIND.png" added.
    std::filesystem::path BasePath(int64_t number) const;
    // The text chunks of a file of image set `number` showing `image`.
    std::vector<PngText> Texts(int64_t number, const std::string& image, const std::string& order,
                               std::chrono::system_clock::time_point taken) const;

private:
    std::filesystem::path _folder;
    ImageSetDescription _description;
    int64_t _next = 1;
};

} // namespace zeb::cli
