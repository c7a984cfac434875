// Writing the files of `zeb acquire`: image sets of the default area channel (1280 x 1024, the part
// under the default light with the sensor's noise) written as the stack, the average and the contact
// sheet with their text chunks, by the writer zeb acquire and zeb view use. Reported as image sets per
// second and as megabytes of pixels per second (the three images hold 11.8 MB a set).
#include "Scene.h"
#include "Sensor.h"
#include "files/ImageSetWriter.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>

namespace {

using namespace zeb;

constexpr int32_t Width = 1280, Height = 1024;

// Four directions of the part as the station exposes them, one below the other.
host::Image DefaultStack() {
    station::SceneRenderer renderer;
    station::SensorNoise sensor;
    sensor.Configure(station::SensorSettings{}, 0);
    host::Image stack;
    stack.width = Width;
    stack.height = 4 * Height;
    stack.pixels.resize(size_t{Width} * 4 * Height);
    const size_t quadrantOfStep[4] = {1, 0, 2, 3}; // the diagonal sequence
    for (size_t k = 0; k < 4; ++k) {
        station::RenderRequest request;
        request.width = request.sensorWidth = Width;
        request.height = request.sensorHeight = Height;
        request.darkOffset = 2;
        request.weights[quadrantOfStep[k]] = 0.0078f * 50 * 2; // sensitivity, 50 us, brightness 200
        sensor.ExposeFrame(renderer.Render(request), stack.pixels.data() + k * size_t{Width} * Height);
    }
    return stack;
}

cli::ImageSetDescription DefaultDescription() {
    cli::ImageSetDescription d;
    d.channel = "BRELAN: Morvane (#0)";
    d.camera = "GigE 00:11:1c:00:00:01";
    d.cameraModel = "Zeb Station VCXG-25M, serial number 700001";
    d.scanType = "Areascan";
    d.exposureTime = "50";
    d.gain = "0";
    d.lightingSequence = "Diagonal";
    d.lightingOrientation = "180 deg";
    d.setupMode = "Off";
    return d;
}

void BM_WriteImageSet(benchmark::State& state) {
    const host::Image stack = DefaultStack();
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "zeb-bench-write";
    std::filesystem::remove_all(folder);
    cli::ImageSetWriter writer(folder, DefaultDescription());
    // Real time (UseRealTime): the writer's helper threads are not in this thread's CPU time.
    for (auto _ : state) {
        const auto files = writer.Write(stack, std::chrono::system_clock::now());
        state.PauseTiming();
        for (const auto& file : files)
            std::filesystem::remove(file);
        state.ResumeTiming();
    }
    std::filesystem::remove_all(folder);
    const double pixels = double{Width} * Height * (4 + 1 + 4); // stack, average, contact sheet
    state.counters["sets/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["pixel MB/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * pixels / 1e6,
                                                      benchmark::Counter::kIsRate);
}

BENCHMARK(BM_WriteImageSet)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace
