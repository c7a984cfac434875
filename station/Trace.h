// The device trace: with ZEB_STATION_TRACE set, one tab-separated line per device operation,
// appended and flushed at once. While it is not set, no line is built.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace zeb::station {

// One line of an operation on a camera ("camera:<name>") or a controller ("controller:<id>"): its
// fields, then "error: <error>" when the operation failed.
void TraceCamera(std::string_view name, std::initializer_list<std::string_view> fields,
                 std::string_view error = {});
void TraceController(int32_t id, std::initializer_list<std::string_view> fields, std::string_view error = {});

} // namespace zeb::station
