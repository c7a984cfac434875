// What recovering the heights of tall objects costs: the 20 mm sphere of the station (and its
// part, which is low) rendered at 640 x 480 and 1280 x 1024 pixels over the 64 mm field, sensor
// noise on, solved with heights by a solver kept from set to set as zeb keeps it (its light levels
// and tables made before the timing starts). Each iteration also solves the same set on the plane
// alone, so the time is reported against it ("x_plane") in the same run, with the rounds taken
// and the normal error over the sphere's cap to 60 degrees. The first set of a size, light levels
// and tables included, is timed apart.
#include "Scene.h"
#include "Sensor.h"
#include "SurfaceSolver.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <vector>

namespace {

using namespace zeb;

// The four directions of the diagonal sequence (steps lit from top right, top left, bottom left,
// bottom right) at the plug-in's light, stacked as the host receives them.
std::vector<uint8_t> StationImageSet(const std::string& object, int32_t width, int32_t height) {
    station::SceneRenderer renderer;
    station::SensorNoise noise;
    noise.Configure(station::SensorSettings{}, 0);
    const int32_t quadrantOfStep[4] = {1, 0, 2, 3};
    const size_t frame = static_cast<size_t>(width) * static_cast<size_t>(height);
    std::vector<uint8_t> stack(frame * 4);
    for (int32_t k = 0; k < 4; ++k) {
        station::RenderRequest request;
        request.scene.object = object;
        request.width = request.sensorWidth = width;
        request.height = request.sensorHeight = height;
        request.darkOffset = 2;
        request.weights[static_cast<size_t>(quadrantOfStep[k])] = 0.78f; // 0.0078 x 50 us x 200 %
        noise.ExposeFrame(renderer.Render(request), &stack[static_cast<size_t>(k) * frame]);
    }
    return stack;
}

photometric::LightingModel StationModel(int32_t width, int32_t height) {
    photometric::NominalSettings settings;
    settings.orientation = 0;
    settings.camera.sensorWidth = width;
    settings.camera.sensorHeight = height;
    return photometric::NominalModel(settings);
}

photometric::SurfaceOptions WithHeights() {
    photometric::SurfaceOptions options;
    options.recoverHeight = true;
    return options;
}

// Against the truth: the mean angle between the recovered and the true normals and the mean albedo
// over the sphere's cap to 60 degrees, and the height error within 1 mm of its top.
struct SphereFigures {
    double degrees = 0, p95 = 0, albedo = 0, top = 0;
};
SphereFigures SphereError(const photometric::Surface& surface) {
    const double cx = surface.width / 2.0 - 0.5, cy = surface.height / 2.0 - 0.5,
                 radius = surface.width * 20 / 64.0;
    SphereFigures figures;
    std::vector<double> errors;
    size_t topCount = 0;
    for (int32_t y = 0; y < surface.height; ++y)
        for (int32_t x = 0; x < surface.width; ++x) {
            const double dx = (x - cx) / radius, dy = (y - cy) / radius, r2 = dx * dx + dy * dy;
            const size_t i = surface.Index(x, y);
            if (r2 > 0.75 || !surface.Reliable(i))
                continue;
            errors.push_back(photometric::AngleDegrees(
                {dx, -dy, std::sqrt(1 - r2)}, {surface.normalX[i], surface.normalY[i], surface.normalZ[i]}));
            figures.albedo += surface.albedo[i];
            if (surface.HasHeights() && r2 * 400 <= 1) {
                figures.top += surface.heightMap[i] - 20 * std::sqrt(1 - r2);
                ++topCount;
            }
        }
    if (errors.empty())
        return figures;
    for (double e : errors)
        figures.degrees += e / static_cast<double>(errors.size());
    figures.albedo /= static_cast<double>(errors.size());
    std::sort(errors.begin(), errors.end());
    figures.p95 = errors[errors.size() * 95 / 100];
    figures.top /= static_cast<double>(std::max<size_t>(topCount, 1));
    return figures;
}

void MeasureHeights(benchmark::State& state, const std::string& object) {
    const int32_t width = static_cast<int32_t>(state.range(0)), height = static_cast<int32_t>(state.range(1));
    const std::vector<uint8_t> stack = StationImageSet(object, width, height);
    const photometric::ImageSetView view{stack.data(), width, 4 * height, false};
    photometric::SurfaceSolver plane(StationModel(width, height)),
        tall(StationModel(width, height), {}, WithHeights());
    photometric::Surface flat, surface;
    plane.Solve(view, flat);
    tall.Solve(view, surface); // the light field, its levels and tables, once per image size
    double planeTime = 0, heightTime = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        plane.Solve(view, flat);
        benchmark::DoNotOptimize(flat.curvature.data());
        const auto planed = std::chrono::steady_clock::now();
        tall.Solve(view, surface);
        benchmark::DoNotOptimize(surface.heightMap.data());
        const auto solved = std::chrono::steady_clock::now();
        planeTime += std::chrono::duration<double>(planed - start).count();
        heightTime += std::chrono::duration<double>(solved - planed).count();
        state.SetIterationTime(std::chrono::duration<double>(solved - planed).count());
    }
    state.counters["x_plane"] = planeTime > 0 ? heightTime / planeTime : 0;
    state.counters["rounds"] = tall.HeightRounds();
    if (object == "sphere") {
        const SphereFigures before = SphereError(flat), after = SphereError(surface);
        state.counters["plane_deg"] = before.degrees;
        state.counters["plane_albedo"] = before.albedo;
        state.counters["heights_deg"] = after.degrees;
        state.counters["heights_p95"] = after.p95;
        state.counters["heights_albedo"] = after.albedo;
        state.counters["top_mm"] = after.top;
    }
}

void BM_SurfaceHeightSphere(benchmark::State& state) {
    MeasureHeights(state, "sphere");
}

void BM_SurfaceHeightPart(benchmark::State& state) {
    MeasureHeights(state, "part");
}

// The first set of a size: the light field, its levels and their tables made on the way.
void BM_SurfaceHeightFirstSet(benchmark::State& state) {
    const int32_t width = static_cast<int32_t>(state.range(0)), height = static_cast<int32_t>(state.range(1));
    const std::vector<uint8_t> stack = StationImageSet("sphere", width, height);
    const photometric::ImageSetView view{stack.data(), width, 4 * height, false};
    photometric::Surface surface;
    for (auto _ : state) {
        photometric::SurfaceSolver solver(StationModel(width, height), {}, WithHeights());
        solver.Solve(view, surface);
        benchmark::DoNotOptimize(surface.heightMap.data());
    }
}

BENCHMARK(BM_SurfaceHeightSphere)
    ->Args({640, 480})
    ->Args({1280, 1024})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_SurfaceHeightPart)
    ->Args({1280, 1024})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);
BENCHMARK(BM_SurfaceHeightFirstSet)
    ->Args({640, 480})
    ->Args({1280, 1024})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace

BENCHMARK_MAIN();
