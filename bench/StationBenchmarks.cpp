// Benchmarks of the simulated station: what a frame costs once its image is rendered (the cached
// image copied, or copied with fresh sensor noise), a whole image set through the station's device
// operations, and the one-time shading of a scene, the built-in part's and a height map's with cast
// shadows, matte and glossy. Frame costs are reported against a memcpy of the same bytes measured in
// the same run.
#include "HeightMap.h"
#include "NoiseKernels.h"
#include "Scene.h"
#include "Sensor.h"
#include "Station.h"
#include "StationFiles.h"
#include "Targets.h"

#include "../tests/station/TestPng.h"

#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace zeb::station;

constexpr int32_t Width = 2448, Height = 2048;
constexpr size_t FrameBytes = size_t{Width} * Height;

RenderRequest PartRequest(int32_t width, int32_t height) {
    RenderRequest request;
    request.width = request.sensorWidth = width;
    request.height = request.sensorHeight = height;
    request.weights = {0.3f, 0, 0, 0};
    request.darkOffset = 2;
    return request;
}

void BM_MemcpyFrame(benchmark::State& state) {
    zeb::bench::MeasureMemcpy(state, FrameBytes);
}

// A frame without noise: the cache lookup and the copy.
void BM_CachedFrame(benchmark::State& state) {
    SceneRenderer renderer;
    const RenderRequest request = PartRequest(Width, Height);
    std::vector<uint8_t> frame(FrameBytes);
    renderer.Render(request); // the first frame of a configuration is shaded once
    for (auto _ : state) {
        const Image image = renderer.Render(request);
        std::memcpy(frame.data(), image->data(), image->size());
        benchmark::DoNotOptimize(frame.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FrameBytes));
}

// A frame with the sensor's noise: the cache lookup and the noise pass, which writes the frame.
void BM_NoisyFrame(benchmark::State& state) {
    SceneRenderer renderer;
    SensorNoise noise;
    noise.Configure(SensorSettings{}, 0);
    const RenderRequest request = PartRequest(Width, Height);
    std::vector<uint8_t> frame(FrameBytes);
    noise.ExposeFrame(renderer.Render(request), frame.data());
    for (auto _ : state) {
        noise.ExposeFrame(renderer.Render(request), frame.data());
        benchmark::DoNotOptimize(frame.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FrameBytes));
}

// The noise pass alone over a frame of the part, in each form this processor runs (registered in
// main): the fastest is what BM_NoisyFrame pays.
void BM_NoisePass(benchmark::State& state, NoiseForm form) {
    SceneRenderer renderer;
    SensorNoise sensor;
    sensor.Configure(SensorSettings{}, 0);
    std::array<double, 256> deviations{};
    for (int32_t grey = 0; grey < 256; ++grey)
        deviations[static_cast<size_t>(grey)] = sensor.Deviation(grey);
    const NoiseScale scale = NoiseScale::From(deviations);
    const Image clean = renderer.Render(PartRequest(Width, Height));
    std::vector<uint8_t> codes(FrameBytes), frame(FrameBytes);
    for (size_t i = 0; i < FrameBytes; ++i)
        codes[i] = scale.codes[(*clean)[i]];
    uint64_t exposure = 0;
    for (auto _ : state) {
        form.apply(clean->data(), codes.data(), frame.data(), FrameBytes, NoiseKey::Of(1, exposure++), scale);
        benchmark::DoNotOptimize(frame.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FrameBytes));
}

// Shading a scene the first time: the 1280 x 1024 part of the default station, cast shadows and all.
void BM_ShadePart(benchmark::State& state) {
    for (auto _ : state) {
        SceneRenderer renderer;
        benchmark::DoNotOptimize(renderer.Render(PartRequest(1280, 1024)));
    }
}

// A part of one's own: the built-in part's relief (domes, pad, ring groove, scratch) as a 1280 x 1024
// height map of 0.05 mm pixels and 0.1 um levels, standing 0.5 mm on its object plane.
std::shared_ptr<const HeightMapObject> PartMap(const Material& material) {
    constexpr int32_t Columns = 1280, Rows = 1024;
    std::vector<uint16_t> levels(size_t{Columns} * Rows);
    for (int32_t row = 0; row < Rows; ++row)
        for (int32_t column = 0; column < Columns; ++column) {
            const double x = (column + 0.5 - Columns / 2.0) * 0.05, y = (Rows / 2.0 - row - 0.5) * 0.05;
            levels[size_t(row) * Columns + column] =
                static_cast<uint16_t>(std::lround((TargetSurface("part", x, y, 0).height + 0.5) / 0.0001));
        }
    HeightMapDescription description;
    description.heightMap = "part.png";
    description.heightScale = 0.0001;
    description.material = material;
    const auto files = MemoryFiles(zeb::test::TestPng::Grey(Columns, Rows, 16, levels), {});
    return HeightMapObject::Load(description, "bench.json", *files);
}

RenderRequest HeightMapRequest(const Material& material) {
    RenderRequest request = PartRequest(1280, 1024);
    request.scene.ownObject = PartMap(material);
    return request;
}

// Shading the height map once per configuration: horizons, cast shadows and (glossy) the lobe.
void BM_ShadeHeightMap(benchmark::State& state, const Material& material) {
    const RenderRequest request = HeightMapRequest(material);
    for (auto _ : state)
        benchmark::DoNotOptimize(ShadeScene(request));
}

// A frame of the height map once it is shaded: the cache lookup and the copy.
void BM_HeightMapFrame(benchmark::State& state) {
    SceneRenderer renderer;
    const RenderRequest request = HeightMapRequest(Material{});
    std::vector<uint8_t> frame(size_t{1280} * 1024);
    renderer.Render(request);
    for (auto _ : state) {
        const Image image = renderer.Render(request);
        std::memcpy(frame.data(), image->data(), image->size());
        benchmark::DoNotOptimize(frame.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * frame.size()));
}

void BM_MemcpyHeightMapFrame(benchmark::State& state) {
    zeb::bench::MeasureMemcpy(state, size_t{1280} * 1024);
}

const char* StationJson() {
    return R"({
  "controllers": [ { "deviceId": 0, "light": "Dome M", "registers": { "Info.ScanType": "Areascan" } } ],
  "cameras": [ { "name": "Big", "transport": "Pleora", "scanType": "Areascan", "readoutNsPerRow": 0,
                 "features": { "SensorWidth": "2448", "SensorHeight": "2048", "Width": "2448", "Height": "2048" } } ],
  "cables": [ { "controller": 0, "port": "Camera0Output0", "camera": "Big", "line": "Line0" },
              { "controller": 0, "port": "Camera0Input0", "camera": "Big", "line": "Line1" } ] })";
}

// One four-direction image set through the device operations the stand-ins call: the sequencer
// restarted, time advanced, each frame fetched and released.
void BM_StationImageSet(benchmark::State& state) {
    auto station = Station::FromJson(StationJson(), "bench.json");
    station->UseManualClock(true);
    station->Connect(0);
    station->OpenCamera("Big", "ImageSource");
    station->SetCameraFeature("Big", "ExposureTime", "50");
    station->SetCameraFeature("Big", "LineSelector", "Line1");
    station->SetCameraFeature("Big", "LineSource", "TriggerReady");
    station->StartCamera("Big");
    for (const auto& [name, value] :
         std::map<std::string, std::string>{{"Sequencer.LightSequence", "02010408"},
                                            {"Sequencer.Clock.Source", "Camera0Input0"},
                                            {"Sequencer.Clock.LevelSensitive", "1"},
                                            {"Sequencer.Clock.DeadTime", "10"},
                                            {"Light.GlobalChannelParameters.PulseWidth", "50"}})
        station->SetRegister(0, name, value);
    int64_t index = 0;
    auto imageSet = [&] {
        station->SetRegister(0, "Sequencer.Enabled", "0");
        station->SetRegister(0, "Sequencer.Enabled", "1");
        station->SetManualTime(station->Now() + 10'000'000);
        for (int k = 0; k < 4; ++k) {
            Frame* frame = nullptr;
            station->GetFrame("Big", ++index, frame);
            benchmark::DoNotOptimize(frame);
            station->ReleaseFrame("Big", index);
        }
    };
    imageSet(); // shading once
    for (auto _ : state)
        imageSet();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FrameBytes * 4));
}

void BM_MemcpyImageSet(benchmark::State& state) {
    std::vector<uint8_t> source(FrameBytes, 3);
    std::vector<std::vector<uint8_t>> frames(4, std::vector<uint8_t>(FrameBytes));
    for (auto _ : state) {
        for (auto& frame : frames)
            std::memcpy(frame.data(), source.data(), FrameBytes);
        benchmark::DoNotOptimize(frames[3].data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FrameBytes * 4));
}

BENCHMARK(BM_MemcpyFrame)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_CachedFrame)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_NoisyFrame)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_MemcpyImageSet)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_StationImageSet)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_ShadePart)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(BM_ShadeHeightMap, matte, Material{})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK_CAPTURE(BM_ShadeHeightMap, glossy, Material{"glossy", 0.1, 0.5})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_MemcpyHeightMapFrame)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_HeightMapFrame)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

using zeb::bench::RatioReporter;

} // namespace

int main(int argc, char** argv) {
    for (const NoiseForm& form : NoiseForms())
        benchmark::RegisterBenchmark((std::string("BM_NoisePass/") + form.name).c_str(), BM_NoisePass, form)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Repetitions(7)
            ->ReportAggregatesOnly(true);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto ratio = [&](const char* name, const char* reference) {
        const auto a = reporter.times.find(name), b = reporter.times.find(reference);
        if (a != reporter.times.end() && b != reporter.times.end())
            std::printf("%-20s %6.2f x %s\n", name, a->second / b->second, reference);
    };
    std::printf("\nratios in this run:\n");
    ratio("BM_CachedFrame", "BM_MemcpyFrame");
    ratio("BM_NoisyFrame", "BM_MemcpyFrame");
    for (const NoiseForm& form : NoiseForms()) {
        const std::string name = std::string("BM_NoisePass/") + form.name;
        ratio(name.c_str(), "BM_MemcpyFrame");
    }
    ratio("BM_StationImageSet", "BM_MemcpyImageSet");
    ratio("BM_HeightMapFrame", "BM_MemcpyHeightMapFrame");
    benchmark::Shutdown();
    return 0;
}
