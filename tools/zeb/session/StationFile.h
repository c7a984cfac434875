// The station file ZEB_STATION names, read as the simulated station reads it but with a bound on
// its size, so that zeb stops at its error alone before the plug-in builds a station without
// devices from it.
#pragma once

#include <memory>
#include <string>

namespace zeb::station {
class Station;
}

namespace zeb::cli {

// The station the file describes. Throws CommandError with the file's error (its place and reason,
// as the station says it), or when it cannot be read or is larger than SettingsFileLimit.
std::unique_ptr<station::Station> ReadStationFile(const std::string& path);
// The same check without keeping the station; nothing happens when `path` is empty.
void CheckStationFile(const std::string& path);

} // namespace zeb::cli
