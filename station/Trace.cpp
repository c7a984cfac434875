#include "Trace.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace zeb::station {

namespace {
struct TraceFile {
    std::mutex mutex;
    std::FILE* file = nullptr;
    std::string path;
};
TraceFile& Trace() {
    static auto* trace = new TraceFile(); // lives to the end of the process, past static destructors
    return *trace;
}
} // namespace

void TraceLine(const std::string& device, const std::vector<std::string>& fields) {
    const char* path = std::getenv("ZEB_STATION_TRACE");
    if (!path || !*path)
        return;
    TraceFile& trace = Trace();
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
