// A station file for a part of one's own in one step: the built-in area-scan channel (a controller
// with a Dome M, a 1280 x 1024 camera and their cables) with the part's height map under the camera,
// for `zeb station --object FILE.png`.
#pragma once

#include "HeightMap.h"

#include <optional>
#include <string>

namespace zeb::station {

struct ObjectStationOptions {
    std::string heightMap;      // the 16-bit grey PNG, as the caller names it
    std::string albedoMap;      // an 8- or 16-bit grey PNG; empty: a uniform albedo
    double pixelSize = 0.05;    // millimetres per map pixel
    double heightScale = 0.001; // millimetres per level
    Material material;          // matte unless set
    double workingDistance = 10;
    // Millimetres across the camera's width; none: as wide as the map fits in the image.
    std::optional<double> fieldOfView;
    // The folder the station file will be saved in: the maps are named relative to it. Empty: the maps
    // are named by their absolute paths.
    std::string stationFolder;
};

// The station file's text. The maps are read and checked as the station file will be; throws
// std::runtime_error naming the file and the reason, or the option that is out of range.
std::string ObjectStationText(const ObjectStationOptions& options);

} // namespace zeb::station
