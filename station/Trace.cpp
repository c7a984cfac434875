#include "Trace.h"

#include "ModuleLifetime.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace zeb::station {

namespace {
struct TraceFile {
    std::mutex mutex;
    std::FILE* file = nullptr;
    std::string path;
    ~TraceFile() {
        if (file)
            std::fclose(file);
    }
};
// Closed when the module unloads, after the last device operation.
[[gnu::init_priority(zeb::lifetime::DeviceTrace)]] TraceFile theTrace;
} // namespace

namespace {

void WriteLine(std::string_view kind, std::string_view device, std::initializer_list<std::string_view> fields,
               std::string_view error) {
    const char* path = std::getenv("ZEB_STATION_TRACE");
    if (!path || !*path)
        return;
    std::string line;
    line.append(kind).append(device);
    for (const std::string_view field : fields)
        line.append("\t").append(field);
    if (!error.empty())
        line.append("\terror: ").append(error);
    line += '\n';
    TraceFile& trace = theTrace;
    std::lock_guard lock(trace.mutex);
    if (!trace.file || trace.path != path) {
        if (trace.file)
            std::fclose(trace.file);
        trace.path = path;
        trace.file = std::fopen(path, "ab");
        if (!trace.file)
            return;
    }
    std::fwrite(line.data(), 1, line.size(), trace.file);
    std::fflush(trace.file);
}

} // namespace

void TraceCamera(std::string_view name, std::initializer_list<std::string_view> fields,
                 std::string_view error) {
    WriteLine("camera:", name, fields, error);
}

void TraceController(int32_t id, std::initializer_list<std::string_view> fields, std::string_view error) {
    WriteLine("controller:", std::to_string(id), fields, error);
}

} // namespace zeb::station
