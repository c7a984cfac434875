// The device trace: with ZEB_STATION_TRACE set, one tab-separated line per device operation,
// appended and flushed at once.
#pragma once

#include <string>
#include <vector>

namespace zeb::station {

void TraceLine(const std::string& device, const std::vector<std::string>& fields);

} // namespace zeb::station
