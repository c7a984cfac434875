// Benchmarks of image delivery, the station's frame hand-out and feature access, each reported as a
// ratio against a memcpy of the same bytes (or against the same call with logging on) measured in
// the same run.
#include "HostStructures.h"
#include "Scene.h"
#include "Tamo.h"

#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

extern "C" qrZEB_Long GetVideoChannel(char* errorText, qrZEB_Long index, qrZEB_ChannelDescriptor* descriptor);

namespace {

constexpr int32_t Width = 2448, Height = 2048;
constexpr size_t FrameBytes = size_t{Width} * Height;

const std::filesystem::path Folder = std::filesystem::temp_directory_path() / "zeb-bench";

// A 5-megapixel station. Its sensor noise is off: these benchmarks measure how frames the station has
// just written reach the host; the cost of the noise pass is the station benchmark's.
void Prepare() {
    std::filesystem::create_directories(Folder);
    std::ofstream(Folder / "station.json") << R"({
  "controllers": [ { "deviceId": 0, "light": "Dome M", "registers": { "Info.ScanType": "Areascan" } } ],
  "cameras": [ { "name": "Big", "transport": "Pleora", "scanType": "Areascan", "readoutNsPerRow": 0,
                 "sensor": { "noise": 0 },
                 "features": { "DeviceModelName": "VCXG-53M", "SensorWidth": "2448", "SensorHeight": "2048",
                               "Width": "2448", "Height": "2048" } } ],
  "cables": [ { "controller": 0, "port": "Camera0Output0", "camera": "Big", "line": "Line0" },
              { "controller": 0, "port": "Camera0Input0", "camera": "Big", "line": "Line1" } ] })";
    setenv("ZEB_STATION", (Folder / "station.json").c_str(), 1);
    setenv("ZEB_DRIVE_C", (Folder / "drive_c").c_str(), 1);
}

qrZEB_ChannelDescriptor& Channel() {
    static qrZEB_ChannelDescriptor descriptor = [] {
        qrZEB_ChannelDescriptor d{};
        d.size = sizeof d;
        char error[256];
        if (GetVideoChannel(error, 0, &d) != 0) {
            std::fprintf(stderr, "no channel: %s\n", error);
            std::exit(1);
        }
        d.WriteValue(error, d.handle, "DeviceImageSource", "Big");
        d.WriteValue(error, d.handle, "ExposureTime", "20");
        return d;
    }();
    return descriptor;
}

// The host's buffers for whole image sets, used in turn. Together they are larger than the last-level
// cache, so every image set lands in memory the caches no longer hold, as with a host that keeps a
// queue of buffers (one buffer used over and over would stay partly cached between the memcpy
// reference's iterations but not between deliveries, where the station's frame writes come between).
class HostBuffers {
public:
    static HostBuffers& Instance() {
        static HostBuffers buffers;
        return buffers;
    }
    char* Next() { return _buffers[_next++ % _buffers.size()].data(); }

private:
    HostBuffers() {
        const long reported = sysconf(_SC_LEVEL3_CACHE_SIZE);
        const size_t cache = reported > 0 ? static_cast<size_t>(reported) : size_t{64} << 20;
        // Touched once here, so no iteration pays for first-touch page faults.
        _buffers.assign(cache / (FrameBytes * 4) + 2, std::vector<char>(FrameBytes * 4, 1));
    }
    std::vector<std::vector<char>> _buffers;
    size_t _next = 0;
};

// Starts a single-frame acquisition and waits until its four frames are there.
void AwaitImageSet(qrZEB_ChannelDescriptor& d) {
    char error[256];
    d.StartAcquisition(error, d.handle);
    qrZEB_ImageAttributes attributes{};
    qrZEB_Long status = 4096;
    while (status != 0)
        d.GetImageAttributes(error, d.handle, &attributes, &status);
}

void Deliver(benchmark::State& state, const char* setupMode) {
    qrZEB_ChannelDescriptor& d = Channel();
    char error[256];
    d.WriteValue(error, d.handle, "SetupMode", setupMode);
    HostBuffers& buffers = HostBuffers::Instance();
    for (auto _ : state) {
        state.PauseTiming();
        AwaitImageSet(d);
        char* buffer = buffers.Next();
        state.ResumeTiming();
        qrZEB_Long status = 0;
        d.GetImage(error, d.handle, buffer, &status);
        benchmark::DoNotOptimize(buffer);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FrameBytes * 4));
}

void BM_DeliverStacked(benchmark::State& state) {
    Deliver(state, "Off");
}
void BM_DeliverAveraged(benchmark::State& state) {
    Deliver(state, "On");
}

// The whole pipeline of one image set as a host runs it, continuously: the station exposing the
// four frames and handing them out, and their delivery into the host's buffer.
void Pipeline(benchmark::State& state, const char* setupMode) {
    qrZEB_ChannelDescriptor& d = Channel();
    char error[256];
    d.WriteValue(error, d.handle, "SetupMode", setupMode);
    d.WriteValue(error, d.handle, "AcquisitionMode", "Continuous");
    HostBuffers& buffers = HostBuffers::Instance();
    if (d.StartAcquisition(error, d.handle) != 0)
        state.SkipWithError(error);
    for (auto _ : state) {
        char* buffer = buffers.Next();
        qrZEB_Long status = 4096;
        while (status != 0) {
            if (d.GetImage(error, d.handle, buffer, &status) != 0) {
                state.SkipWithError(error);
                break;
            }
        }
        benchmark::DoNotOptimize(buffer);
    }
    d.StopAcquisition(error, d.handle);
    d.WriteValue(error, d.handle, "AcquisitionMode", "SingleFrame");
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void BM_PipelineStacked(benchmark::State& state) {
    Pipeline(state, "Off");
}
void BM_PipelineAveraged(benchmark::State& state) {
    Pipeline(state, "On");
}

// The reference: copying the four frames' bytes from four buffers into one of the host's buffers.
void BM_MemcpyImageSet(benchmark::State& state) {
    std::vector<std::vector<char>> frames(4, std::vector<char>(FrameBytes, 7));
    HostBuffers& buffers = HostBuffers::Instance();
    for (auto _ : state) {
        char* buffer = buffers.Next();
        for (size_t k = 0; k < 4; ++k)
            std::memcpy(buffer + k * FrameBytes, frames[k].data(), FrameBytes);
        benchmark::DoNotOptimize(buffer);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FrameBytes * 4));
}

// The station handing out one cached frame: the render cache lookup and the copy into the frame.
void BM_StationFrame(benchmark::State& state) {
    zeb::station::SceneRenderer renderer;
    zeb::station::RenderRequest request;
    request.width = request.sensorWidth = Width;
    request.height = request.sensorHeight = Height;
    request.weights = {0.5f, 0, 0, 0};
    std::vector<uint8_t> frame(FrameBytes);
    renderer.Render(request); // the first frame of a configuration is shaded once
    for (auto _ : state) {
        const zeb::station::Image image = renderer.Render(request);
        std::memcpy(frame.data(), image->data(), image->size());
        benchmark::DoNotOptimize(frame.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FrameBytes));
}

void BM_MemcpyFrame(benchmark::State& state) {
    zeb::bench::MeasureMemcpy(state, FrameBytes);
}

void ReadValue(benchmark::State& state) {
    qrZEB_ChannelDescriptor& d = Channel();
    char error[256], value[256];
    for (auto _ : state)
        benchmark::DoNotOptimize(d.ReadValue(error, d.handle, "TestPattern", value));
}

void BM_ReadValueLoggingOff(benchmark::State& state) {
    Tamo::Log::SetLogLevel(-1);
    ReadValue(state);
}

void BM_ReadValueLoggingDump(benchmark::State& state) {
    Tamo::Log::Initialize();
    Tamo::Log::SetLogPath((Folder / "bench.log").string().c_str());
    Tamo::Log::SetLogLevel(Tamo::Dump);
    ReadValue(state);
    Tamo::Log::SetLogLevel(-1);
}

BENCHMARK(BM_MemcpyImageSet)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_DeliverStacked)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_DeliverAveraged)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_PipelineStacked)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_PipelineAveraged)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_MemcpyFrame)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_StationFrame)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_ReadValueLoggingOff)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_ReadValueLoggingDump)->Unit(benchmark::kNanosecond);

using zeb::bench::RatioReporter;

#ifdef ZEB_TOOL
// Image sets per second that `zeb acquire --count 100` reports on the default station: what users see
// the simulated station sustain through a host.
void ReportZebAcquire(const char* setupMode) {
    unsetenv("ZEB_STATION");
    const std::string command = std::string("\"") + ZEB_TOOL + "\" acquire --count 100 --setup-mode " +
                                setupMode + " --out \"" + (Folder / "zeb-acquire").string() +
                                "\" 2>/dev/null";
    FILE* output = popen(command.c_str(), "r");
    if (!output)
        return;
    char line[512];
    double milliseconds = 0;
    while (std::fgets(line, sizeof line, output)) {
        const std::string text = line;
        // The acquisition's own time, not the time of writing the files.
        const size_t unit =
            text.find(", then ") == std::string::npos ? std::string::npos : text.find(" ms per image set");
        // "..., then 1.9 ms per image set": the number before the unit.
        const size_t start =
            unit == std::string::npos || unit == 0 ? std::string::npos : text.rfind(' ', unit - 1);
        if (start != std::string::npos)
            milliseconds = std::strtod(text.c_str() + start + 1, nullptr);
    }
    pclose(output);
    if (milliseconds > 0)
        std::printf(
            "zeb acquire --count 100 --setup-mode %-3s %6.2f ms per image set, %6.1f image sets per second\n",
            setupMode, milliseconds, 1000.0 / milliseconds);
    else
        std::printf("zeb acquire --count 100 --setup-mode %s: no result\n", setupMode);
}
#endif

} // namespace

int main(int argc, char** argv) {
    Prepare();
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto ratio = [&](const char* name, const char* reference, double limit, bool inverse = false) {
        const auto a2 = reporter.times.find(name), b2 = reporter.times.find(reference);
        if (a2 == reporter.times.end() || b2 == reporter.times.end())
            return;
        const double value = inverse ? b2->second / a2->second : a2->second / b2->second;
        std::printf("%-28s %6.2f x %-22s (target %s %.2f) %s\n", name, value, reference,
                    inverse ? ">=" : "<=", limit,
                    (inverse ? value >= limit : value <= limit) ? "met" : "MISSED");
    };
    std::printf("\nratios in this run:\n");
    ratio("BM_DeliverStacked", "BM_MemcpyImageSet", 1.05);
    ratio("BM_DeliverAveraged", "BM_MemcpyImageSet", 0.8);
    ratio("BM_StationFrame", "BM_MemcpyFrame", 2.0);
    ratio("BM_ReadValueLoggingOff", "BM_ReadValueLoggingDump", 5.0, true);
    std::printf("\nwhole pipeline per %d x %d image set (the station's four frames and their delivery):\n",
                Width, Height);
    for (const char* name : {"BM_PipelineStacked", "BM_PipelineAveraged"}) {
        const auto time = reporter.times.find(name);
        if (time != reporter.times.end())
            std::printf("%-28s %6.2f ms per image set, %6.1f image sets per second\n", name, time->second,
                        1000.0 / time->second);
    }
#ifdef ZEB_TOOL
    std::printf("\nthe command-line host on the built-in default station:\n");
    for (const char* setupMode : {"Off", "On"})
        ReportZebAcquire(setupMode);
#endif
    benchmark::Shutdown();
    return 0;
}
