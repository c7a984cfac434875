// The C API's photometric part: the surface of an image set, the calibration on the sphere and its
// files, and the setup assistants.
#include "HostApiState.h"

#include "base/JsonText.h"
#include "files/SurfaceWriter.h"
#include "photometric/CalibrationFile.h"
#include "photometric/SurfaceSolver.h"
#include "runs/AcquisitionLoop.h"
#include "runs/AssistantDialogue.h"
#include "runs/SphereCalibrationRun.h"

#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>

using namespace zeb;
using namespace zeb::hostapi;

struct zeb_surface {
    photometric::Surface surface;
    std::vector<float> normals; // interleaved x, y, z
    std::vector<uint8_t> reliable;
};

namespace {

// The last solver, kept for the next image set under the same lighting: it keeps its light field.
struct SolverCache {
    std::mutex mutex;
    std::string key;
    std::unique_ptr<photometric::SurfaceSolver> solver;
};

SolverCache& Solvers() {
    static SolverCache* cache = new SolverCache();
    return *cache;
}

std::string Key(const cli::LightingSettings& s, const std::string& options) {
    return cli::JsonText(nlohmann::json{{"lineScan", s.lineScan},
                                        {"sequence", s.sequence},
                                        {"orientation", s.orientation},
                                        {"exposure", s.exposure},
                                        {"gain", s.gain},
                                        {"width", s.width},
                                        {"height", s.height},
                                        {"region", {s.region.offsetX, s.region.offsetY, s.region.reverse}},
                                        {"dome", s.domeModel},
                                        {"options", options}});
}

struct SurfaceRequest {
    cli::SurfaceModelOptions model;
    bool heights = true;
};

SurfaceRequest ReadRequest(const char* json) {
    SurfaceRequest request;
    cli::SurfaceModelOptions& options = request.model;
    if (!json || !*json)
        return request;
    try {
        const nlohmann::json given = nlohmann::json::parse(json);
        options.calibration = given.value("calibration", std::string());
        options.settings = given.value("model", std::vector<std::string>());
        request.heights = given.value("heights", true);
    } catch (const nlohmann::json::exception& error) {
        throw ApiError(ZEB_BAD_ARGUMENT, std::string("the surface's options: ") + error.what());
    }
    if (!options.calibration.empty() && !options.settings.empty())
        throw ApiError(ZEB_BAD_ARGUMENT, "a surface takes a calibration or model values, not both");
    return request;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    if (!in)
        throw ApiError(ZEB_ERROR, "cannot read the calibration file " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

extern "C" {

zeb_status zeb_surface_compute(const zeb_image_set* set, const char* options_json, zeb_surface** out) {
    return Guarded([&] {
        if (!set || !out)
            throw ApiError(ZEB_BAD_ARGUMENT, "image_set or surface is NULL");
        *out = nullptr;
        if (set->description->Averaged())
            throw ApiError(ZEB_ERROR,
                           "the surface needs the four directions, and this image set is their average",
                           "acquire with \"SetupMode\" \"Off\"");
        const SurfaceRequest request = ReadRequest(options_json);
        const std::string key = Key(*set->lighting, options_json ? options_json : "");
        auto result = std::make_unique<zeb_surface>();
        {
            SolverCache& cache = Solvers();
            const std::lock_guard lock(cache.mutex);
            if (!cache.solver || cache.key != key) {
                const cli::ChannelLighting lighting = cli::LightingFor(*set->lighting, request.model);
                cache.solver.reset();
                photometric::SurfaceOptions solving = cli::SurfaceWriter::SolverOptions();
                solving.recoverHeight = request.heights;
                cache.solver =
                    std::make_unique<photometric::SurfaceSolver>(lighting.model, lighting.region, solving);
                cache.key = key;
            }
            const host::Image& stack = set->stack;
            cache.solver->Solve(
                {stack.pixels.data(), stack.width, stack.height, set->description->LineScan()},
                result->surface);
        }
        const photometric::Surface& s = result->surface;
        const size_t pixels = s.status.size();
        result->normals.resize(pixels * 3);
        result->reliable.resize(pixels);
        const float nan = std::numeric_limits<float>::quiet_NaN();
        for (size_t i = 0; i < pixels; ++i) {
            const bool reliable = s.Reliable(i);
            result->reliable[i] = reliable ? 1 : 0;
            result->normals[3 * i] = reliable ? s.normalX[i] : nan;
            result->normals[3 * i + 1] = reliable ? s.normalY[i] : nan;
            result->normals[3 * i + 2] = reliable ? s.normalZ[i] : nan;
        }
        *out = result.release();
        return ZEB_OK;
    });
}

zeb_status zeb_surface_info_get(const zeb_surface* surface, zeb_surface_info* info) {
    return Guarded([&] {
        if (!surface || !info)
            throw ApiError(ZEB_BAD_ARGUMENT, "surface or info is NULL");
        const photometric::Surface& s = surface->surface;
        *info = {};
        info->width = s.width;
        info->height = s.height;
        info->pixel_size = s.pixelSize;
        info->row_pitch = s.rowPitch;
        info->normals = surface->normals.data();
        info->albedo = s.albedo.data();
        info->curvature = s.curvature.data();
        info->reliable = surface->reliable.data();
        info->height_map = s.HasHeights() ? s.heightMap.data() : nullptr;
        return ZEB_OK;
    });
}

void zeb_surface_free(zeb_surface* surface) {
    delete surface;
}

zeb_status zeb_calibrate(zeb_channel* channel, double sphere_radius_mm, int32_t count, int32_t timeout_ms,
                         char** json) {
    return Guarded([&] {
        if (!channel || !channel->channel || !json)
            throw ApiError(ZEB_BAD_ARGUMENT, "channel or json is NULL");
        if (!(sphere_radius_mm >= 1 && sphere_radius_mm <= 1000) || count < 1 || count > 100 ||
            timeout_ms <= 0)
            throw ApiError(ZEB_BAD_ARGUMENT,
                           "a calibration takes a sphere radius from 1 to 1000 mm, 1 to 100 image sets and a "
                           "timeout above 0 ms");
        if (channel->stream)
            throw ApiError(ZEB_ERROR, "the channel streams: close the stream before calibrating");
        host::HostChannel& host = *channel->channel;
        cli::SelectCamera(host, {}, true);
        cli::ApplySettings(host,
                           {{"SetupMode", "Off", "calibrate"},
                            {"AcquisitionMode", count > 1 ? "Continuous" : "SingleFrame", "calibrate"}},
                           false);
        const cli::ImageSetDescription description = cli::ImageSetDescription::Read(host, channel->index);
        const cli::ChannelLighting lighting =
            cli::ReadChannelLighting(host, TheSession(), channel->index, {});
        cli::AcquisitionLoop::Options options;
        options.count = count;
        options.timeoutMs = timeout_ms;
        cli::AcquisitionLoop loop(host, options);
        std::vector<host::Image> sets;
        const auto end = loop.Run([&](host::Image& image, int64_t) { sets.push_back(std::move(image)); }, {});
        if (end == cli::AcquisitionLoop::End::Failed) {
            const bool lost = loop.Statistics().lost > 0 && loop.Statistics().failed == 0;
            throw ApiError(lost ? ZEB_TIMEOUT : ZEB_ACQUISITION_FAILED, loop.Error());
        }
        photometric::SphereSettings sphere;
        sphere.radius = sphere_radius_mm;
        const cli::SphereCalibrationRun run = cli::CalibrateOnSphere(sets, lighting, description, sphere);
        nlohmann::ordered_json result = {{"figures", run.Figures()},
                                         {"agrees", run.result.verdict.agrees},
                                         {"advice", run.result.verdict.advice},
                                         {"suggestedOrientation", run.SuggestedOrientation()},
                                         {"imageSets", run.setsUsed},
                                         {"record", photometric::CalibrationToJson(run.record)}};
        *json = NewText(result.dump());
        return ZEB_OK;
    });
}

zeb_status zeb_calibration_save(const char* record_json, const char* path) {
    return Guarded([&] {
        if (!record_json || !path)
            throw ApiError(ZEB_BAD_ARGUMENT, "record_json or path is NULL");
        cli::WriteCalibrationFile(std::filesystem::u8path(path),
                                  photometric::CalibrationFromJson(record_json));
        return ZEB_OK;
    });
}

zeb_status zeb_calibration_load(const char* path, char** record_json) {
    return Guarded([&] {
        if (!path || !record_json)
            throw ApiError(ZEB_BAD_ARGUMENT, "path or record_json is NULL");
        const std::string text = ReadText(path);
        try {
            photometric::CalibrationFromJson(text);
        } catch (const std::exception& error) {
            throw ApiError(ZEB_ERROR, std::string("the calibration file ") + path + ": " + error.what());
        }
        *record_json = NewText(text);
        return ZEB_OK;
    });
}

zeb_status zeb_assist(zeb_channel* channel, const char* name, int32_t max_images, zeb_act_function act,
                      void* context, char** json) {
    return Guarded([&] {
        if (!channel || !channel->channel || !name || !json)
            throw ApiError(ZEB_BAD_ARGUMENT, "channel, name or json is NULL");
        if (channel->stream)
            throw ApiError(ZEB_ERROR, "the channel streams: close the stream before an assistant");
        host::HostChannel& host = *channel->channel;
        const std::string assistant = cli::ResolveAssistant(host, name);
        cli::AssistantRunner runner(host, assistant);
        cli::SelectCamera(host, {}, runner.JudgesImages());
        auto step = [](const cli::AssistantState& state) {
            return nlohmann::json{{"instruction", state.instruction},
                                  {"result", state.result},
                                  {"message", state.message},
                                  {"arguments", state.arguments}};
        };
        nlohmann::json steps = nlohmann::json::array();
        cli::AssistantHooks hooks;
        hooks.maxImages = max_images > 0 ? max_images : 30;
        hooks.show = [&](const cli::AssistantState& state) {
            if (state.result != "Undefined")
                steps.push_back(step(state));
        };
        hooks.proceed = [&](const cli::AssistantState& state) {
            if (!state.wantsImage && act && act(step(state).dump().c_str(), context) != 0)
                return cli::AssistantReply::Stop;
            return cli::AssistantReply::Next;
        };
        const cli::AssistantEnd end = cli::RunAssistant(runner, hooks);
        const bool stopped = end.kind == cli::AssistantEnd::Kind::Stopped;
        *json = NewText(
            cli::JsonText(nlohmann::json{{"assistant", assistant},
                                         {"channel", host.Name()},
                                         {"outcome", stopped ? "stopped" : "finished"},
                                         {"result", end.last.result.empty() ? "Undefined" : end.last.result},
                                         {"message", end.last.message},
                                         {"arguments", end.last.arguments},
                                         {"imageSets", runner.ImagesTaken()},
                                         {"steps", steps}}));
        return ZEB_OK;
    });
}

} // extern "C"
