// Writing a station as a station file: every key of the format with the value the station holds,
// so that the file loads back into the same station and a person can start from it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zeb::station {

class Station;

// The station file of `station` as JSON text ending in a line end. Maps of names hold what differs
// from a device's defaults, plus the entries that identify it (the controller's "Info.*" registers;
// the camera's model, serial number and sizes). With `controller`, only that controller, the cameras
// its cables reach and those cables. Reads the devices as loaded; call it on a station nobody runs.
// Throws std::invalid_argument when there is no such controller.
std::string StationFileText(Station& station, std::optional<int32_t> controller = std::nullopt);

} // namespace zeb::station
