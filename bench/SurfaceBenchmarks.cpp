// Benchmarks of the photometric surface (normals, albedo, gradients, mean curvature) of a 1280 x
// 1024 image set as the built-in station's area-scan channel delivers it, sensor noise on: each
// iteration also copies the image set once, so that the time is reported against a memcpy of the
// same bytes measured in the same run ("x_memcpy"), with image sets per second ("sets_per_s").
#include "Scene.h"
#include "Sensor.h"
#include "photometric/SurfaceSolver.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <vector>

namespace {

using namespace zeb;

constexpr int32_t Width = 1280, Height = 1024;

// The four directions of the diagonal sequence (steps lit from top right, top left, bottom left,
// bottom right) at the plug-in's light, stacked as the host receives them.
std::vector<uint8_t> StationImageSet(const std::string& object) {
    station::SceneRenderer renderer;
    station::SensorNoise noise;
    noise.Configure(station::SensorSettings{}, 0);
    const int32_t quadrantOfStep[4] = {1, 0, 2, 3};
    std::vector<uint8_t> stack(size_t{Width} * Height * 4);
    for (int32_t k = 0; k < 4; ++k) {
        station::RenderRequest request;
        request.scene.object = object;
        request.width = request.sensorWidth = Width;
        request.height = request.sensorHeight = Height;
        request.darkOffset = 2;
        request.weights[static_cast<size_t>(quadrantOfStep[k])] = 0.78f; // 0.0078 x 50 us x 200 %
        noise.ExposeFrame(renderer.Render(request), &stack[static_cast<size_t>(k) * Width * Height]);
    }
    return stack;
}

photometric::LightingModel StationModel() {
    photometric::NominalSettings settings;
    settings.orientation = 0;
    return photometric::NominalModel(settings);
}

void MeasureSurface(benchmark::State& state, const std::string& object) {
    const std::vector<uint8_t> stack = StationImageSet(object);
    std::vector<uint8_t> copy(stack.size());
    photometric::SurfaceSolver solver(StationModel());
    photometric::Surface surface;
    const photometric::ImageSetView view{stack.data(), Width, 4 * Height, false};
    solver.Solve(view, surface); // the light field and its tables, once per image size
    double copying = 0, solving = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        std::memcpy(copy.data(), stack.data(), stack.size());
        benchmark::DoNotOptimize(copy.data());
        const auto copied = std::chrono::steady_clock::now();
        solver.Solve(view, surface);
        benchmark::DoNotOptimize(surface.curvature.data());
        const auto solved = std::chrono::steady_clock::now();
        copying += std::chrono::duration<double>(copied - start).count();
        solving += std::chrono::duration<double>(solved - copied).count();
        state.SetIterationTime(std::chrono::duration<double>(solved - copied).count());
    }
    state.counters["x_memcpy"] = copying > 0 ? solving / copying : 0;
    state.counters["sets_per_s"] = solving > 0 ? static_cast<double>(state.iterations()) / solving : 0;
    state.counters["refined"] = static_cast<double>(solver.RefinedPixels());
}

// The default part: a plate with domes, a pad, an engraved ring and a scratch.
void BM_SurfacePart(benchmark::State& state) {
    MeasureSurface(state, "part");
}

// The calibration sphere: a third of the image is tilted past the lowest emitter.
void BM_SurfaceSphere(benchmark::State& state) {
    MeasureSurface(state, "sphere");
}

// Laying the lighting model over a new image size, tables included (once per size and model).
void BM_SurfaceLightField(benchmark::State& state) {
    const std::vector<uint8_t> stack = StationImageSet("part");
    const photometric::ImageSetView view{stack.data(), Width, 4 * Height, false};
    photometric::Surface surface;
    for (auto _ : state) {
        photometric::SurfaceSolver solver(StationModel());
        solver.Solve(view, surface);
        benchmark::DoNotOptimize(surface.curvature.data());
    }
}

BENCHMARK(BM_SurfacePart)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_SurfaceSphere)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_SurfaceLightField)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace
