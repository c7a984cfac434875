// An image set read back from the -stack.png file that zeb acquire, zeb view or another host on
// these libraries wrote: its pixels as the host received them and what its text chunks say.
#pragma once

#include "hostkit/HostChannel.h"
#include "session/ChannelLighting.h"
#include "session/ImageSetDescription.h"

#include <chrono>
#include <filesystem>
#include <string>

namespace zeb::cli {

struct ImageSetFile {
    host::Image stack; // as the host received it: four directions, or their average
    ImageSetDescription description;
    int64_t number = 0;
    std::string taken;                               // "Creation Time", ISO 8601 in UTC
    std::chrono::system_clock::time_point takenTime; // the same; the epoch when it is not such a time
    // The lighting settings the texts give: the image region is taken to start at 0, 0 and the dome
    // to be the built-in station's for the scan type.
    LightingSettings Lighting() const;
};

// Reads a -stack.png, or the -average.png of an averaged set. Throws std::runtime_error naming the
// file and what is wrong: not a PNG, not 8-bit grey, no text chunks of an image set, a stack whose
// height is not four directions.
ImageSetFile ReadImageSetFile(const std::filesystem::path& file);

} // namespace zeb::cli
