// Writing the files of `zeb acquire`: image sets of the default area channel (1280 x 1024, the part
// under the default light with the sensor's noise) written as the stack, the average and the contact
// sheet with their text chunks, by the writer zeb acquire and zeb view use. Reported as image sets per
// second and as megabytes of pixels per second (the three images hold 11.8 MB a set).
#include "StationFrames.h"
#include "files/ImageSetWriter.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>

namespace {

using namespace zeb;

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
    const host::Image stack = bench::DefaultStack();
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
    const double pixels =
        double{bench::FrameWidth} * bench::FrameHeight * (4 + 1 + 4); // stack, average, sheet
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
