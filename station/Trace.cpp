#include "Trace.h"

#include "ModuleLifetime.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

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

void TraceLine(const std::string& device, const std::vector<std::string>& fields) {
    const char* path = std::getenv("ZEB_STATION_TRACE");
    if (!path || !*path)
        return;
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
    std::string line = device;
    for (const std::string& field : fields)
        line += "\t" + field;
    line += "\n";
    std::fwrite(line.data(), 1, line.size(), trace.file);
    std::fflush(trace.file);
}

} // namespace zeb::station
