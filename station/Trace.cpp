#include "Trace.h"

#include "ModuleLifetime.h"
#include "Tamo/Log.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace zeb::station {

namespace {
struct TraceFile {
    std::mutex mutex;
    std::FILE* file = nullptr;
    std::string path;
    std::string unwritable; // a path that could not be opened: said once, not tried again
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
    std::string problem;
    {
        std::lock_guard lock(trace.mutex);
        if (!trace.file || trace.path != path) {
            if (trace.file)
                std::fclose(trace.file);
            trace.file = nullptr;
            trace.path = path;
            if (trace.unwritable == path)
                return;
            trace.file = std::fopen(path, "ab");
            if (!trace.file) {
                trace.unwritable = path;
                problem = "the device trace " + trace.path +
                          " (ZEB_STATION_TRACE) cannot be written: " + std::strerror(errno) +
                          "; the station goes on without it: name a file in a folder that exists and can be "
                          "written";
            }
        }
        if (trace.file) {
            std::fwrite(line.data(), 1, line.size(), trace.file);
            std::fflush(trace.file);
        }
    }
    // Said as the station says its other environment problems: on standard error and in the log.
    if (!problem.empty()) {
        std::fprintf(stderr, "zeb station: %s\n", problem.c_str());
        Tamo::Log::Write(Tamo::Error, problem.c_str(), __LINE__, "zeb::station::Trace", "Station");
    }
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
