#include "view/SurfaceApi.h"

#include "base/CommandError.h"
#include "imagefiles/Png.h"
#include "photometric/SurfaceImages.h"
#include "runs/AcquisitionLoop.h"
#include "runs/SphereCalibrationRun.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>

namespace zeb::view {

namespace fs = std::filesystem;

struct SurfaceApi::ChannelSurface {
    std::mutex mutex;        // one solve at a time per channel
    std::string lightingKey; // what the lighting below was read for
    std::optional<cli::ChannelLighting> lighting;
    std::string calibrationNote; // why the channel's calibration file is not used; empty when it is
    std::unique_ptr<photometric::SurfaceSolver> solver;
    std::shared_ptr<const LiveImageSet> solved; // the image set whose surface this is
    photometric::Surface surface;
    // The height picture's own solve, with the heights recovered and each pixel solved again at its
    // height: several times the plane's work, done only when the height is asked for.
    std::unique_ptr<photometric::SurfaceSolver> heightSolver;
    std::shared_ptr<const LiveImageSet> heightSolved;
    photometric::Surface heightSurface;
    std::map<std::pair<std::string, int32_t>, std::shared_ptr<const std::string>> pictures;
};

namespace {

// Waits until the worker's revision exceeds `since`, its waits end or `wait` has passed; returns
// its status then.
ChannelWorker::Status WaitForChange(const ChannelWorker& worker, uint64_t since,
                                    std::chrono::milliseconds wait) {
    struct Signal {
        std::mutex mutex;
        std::condition_variable changed;
        bool woken = false;
    };
    const auto signal = std::make_shared<Signal>();
    const auto wake = std::make_shared<const std::function<void()>>([signal] {
        std::lock_guard<std::mutex> lock(signal->mutex);
        signal->woken = true;
        signal->changed.notify_all();
    });
    worker.WakeOnChange(since, wake);
    {
        std::unique_lock<std::mutex> lock(signal->mutex);
        signal->changed.wait_for(lock, wait, [&] { return signal->woken; });
    }
    return worker.CurrentStatus();
}

// Every `factor`-th pixel of each row and column, `channels` samples each: a preview costs no more
// than its pixels.
std::vector<uint8_t> Subsample(const std::vector<uint8_t>& samples, int32_t width, int32_t height,
                               int32_t channels, int32_t factor, int32_t& outWidth, int32_t& outHeight) {
    outWidth = std::max(1, width / factor);
    outHeight = std::max(1, height / factor);
    std::vector<uint8_t> out(static_cast<size_t>(outWidth) * static_cast<size_t>(outHeight) *
                             static_cast<size_t>(channels));
    size_t at = 0;
    for (int32_t y = 0; y < outHeight; ++y)
        for (int32_t x = 0; x < outWidth; ++x) {
            const size_t from = (static_cast<size_t>(y * factor) * static_cast<size_t>(width) +
                                 static_cast<size_t>(x * factor)) *
                                static_cast<size_t>(channels);
            for (int32_t c = 0; c < channels; ++c)
                out[at++] = samples[from + static_cast<size_t>(c)];
        }
    return out;
}

std::string PngOf(const photometric::Surface& surface, const std::string& form, int32_t factor) {
    const int32_t channels = form == "normals" ? 3 : 1;
    const std::vector<uint8_t> samples = form == "normals"  ? photometric::NormalColours(surface)
                                         : form == "albedo" ? photometric::AlbedoGreys(surface)
                                         : form == "height" ? photometric::HeightGreys(surface)
                                                            : photometric::CurvatureSamples(surface);
    int32_t width = 0, height = 0;
    const std::vector<uint8_t> subsampled =
        Subsample(samples, surface.width, surface.height, channels, factor, width, height);
    const std::vector<uint8_t> png = imagefiles::EncodePng({width, height, channels, subsampled, {}}, {});
    return std::string(png.begin(), png.end());
}

// A whole number within [low, high] from a query value, or none.
std::optional<double> NumberIn(const std::string& text, double low, double high) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !(value >= low && value <= high))
        return std::nullopt;
    return value;
}

// What the surface's lighting depends on besides the channel's region: the set's settings and the
// calibration file's state.
std::string LightingKey(const LiveImageSet& set, const fs::path& calibration) {
    const cli::ImageSetDescription& d = set.Description();
    std::error_code error;
    const auto written = fs::last_write_time(calibration, error);
    return d.scanType + "|" + d.exposureTime + "|" + d.gain + "|" + d.lightingSequence + "|" +
           d.lightingOrientation + "|" + std::to_string(set.Delivered().width) + "x" +
           std::to_string(set.Delivered().height) + "|" +
           (error ? std::string("none") : std::to_string(written.time_since_epoch().count()));
}

} // namespace

SurfaceApi::SurfaceApi(cli::Session& session, fs::path calibrations, int32_t imageTimeoutMs)
    : _session(session), _calibrations(std::move(calibrations)), _imageTimeoutMs(imageTimeoutMs) {}

SurfaceApi::~SurfaceApi() = default;

fs::path SurfaceApi::CalibrationFile(int32_t channel) const {
    return _calibrations / ("zeb-calibration-channel" + std::to_string(channel) + ".json");
}

SurfaceApi::ChannelSurface& SurfaceApi::Of(const ChannelWorker& worker) {
    const std::lock_guard lock(_mutex);
    auto& slot = _channels[worker.Index()];
    if (!slot)
        slot = std::make_unique<ChannelSurface>();
    return *slot;
}

cli::ChannelLighting SurfaceApi::Lighting(host::HostChannel& channel, int32_t index, std::string* note) {
    cli::SurfaceModelOptions options;
    std::error_code error;
    const fs::path calibration = CalibrationFile(index);
    if (fs::exists(calibration, error))
        options.calibration = calibration.string();
    try {
        return cli::ReadChannelLighting(channel, _session, index, options);
    } catch (const cli::CommandError& refused) {
        if (options.calibration.empty())
            throw;
        // A calibration made under other settings: the documented geometry instead.
        if (note)
            *note = refused.what();
        return cli::ReadChannelLighting(channel, _session, index, {});
    }
}

HttpResponse SurfaceApi::Picture(ChannelWorker& worker, const HttpRequest& request) {
    const std::string form = request.Query("form", "normals");
    if (form != "normals" && form != "albedo" && form != "curvature" && form != "height")
        return HttpResponse::Text(400, "form \"" + form + "\" is none of normals, albedo, curvature, height");
    const auto scale = NumberIn(request.Query("scale", "1"), 1, 16);
    if (!scale || *scale != static_cast<int32_t>(*scale))
        return HttpResponse::Text(400, "scale is a whole number from 1 to 16");
    const std::shared_ptr<const LiveImageSet> set = worker.CurrentStatus().latest;
    if (!set)
        return HttpResponse::Text(404, "channel " + std::to_string(worker.Index()) + " has no image set yet");
    if (set->Description().Averaged())
        return HttpResponse::Text(409, "image set " + std::to_string(set->Number()) +
                                           " is averaged (\"SetupMode\" \"On\"): the surface needs the four "
                                           "directions");

    ChannelSurface& channel = Of(worker);
    const std::lock_guard lock(channel.mutex);
    const bool height = form == "height";
    if ((height ? channel.heightSolved : channel.solved) != set) {
        const fs::path calibration = CalibrationFile(worker.Index());
        const std::string key = LightingKey(*set, calibration);
        if (key != channel.lightingKey || !channel.lighting) {
            const int32_t index = worker.Index();
            channel.calibrationNote.clear();
            channel.lighting = worker.Call(
                [&](host::HostChannel& host) { return Lighting(host, index, &channel.calibrationNote); });
            channel.solver = std::make_unique<photometric::SurfaceSolver>(channel.lighting->model,
                                                                          channel.lighting->region);
            channel.heightSolver.reset();
            channel.solved.reset();
            channel.heightSolved.reset();
            channel.pictures.clear();
            channel.lightingKey = key;
        }
        if (height && !channel.heightSolver) {
            photometric::SurfaceOptions options;
            options.recoverHeight = true;
            channel.heightSolver = std::make_unique<photometric::SurfaceSolver>(
                channel.lighting->model, channel.lighting->region, options);
        }
        const host::Image& image = set->Delivered();
        (height ? *channel.heightSolver : *channel.solver)
            .Solve({image.pixels.data(), image.width, image.height, set->Description().LineScan()},
                   height ? channel.heightSurface : channel.surface);
        (height ? channel.heightSolved : channel.solved) = set;
        std::erase_if(channel.pictures,
                      [height](const auto& entry) { return (entry.first.first == "height") == height; });
    }
    const photometric::Surface& surface = height ? channel.heightSurface : channel.surface;
    if (height && !surface.HasHeights())
        return HttpResponse::Text(409, "image set " + std::to_string(set->Number()) +
                                           " has no reliable normals to recover heights from");
    auto& picture = channel.pictures[{form, static_cast<int32_t>(*scale)}];
    if (!picture)
        picture = std::make_shared<const std::string>(PngOf(surface, form, static_cast<int32_t>(*scale)));

    HttpResponse response;
    response.contentType = "image/png";
    response.body = *picture;
    const double reliable = surface.width > 0 ? 100.0 * static_cast<double>(surface.ReliablePixels()) /
                                                    (static_cast<double>(surface.width) * surface.height)
                                              : 0;
    char percent[32];
    std::snprintf(percent, sizeof percent, "%.1f", reliable);
    response.headers.emplace_back("X-Zeb-Image-Set", std::to_string(set->Number()));
    response.headers.emplace_back("X-Zeb-Lighting-Model", channel.lighting->ModelText());
    response.headers.emplace_back("X-Zeb-Calibration", channel.calibrationNote.empty()
                                                           ? channel.lighting->CalibrationText()
                                                           : "not used: " + channel.calibrationNote);
    response.headers.emplace_back("X-Zeb-Reliable-Percent", percent);
    if (surface.HasHeights()) {
        // The height picture's scale: its darkest level (1) at the lowest point, 255 at the highest.
        const double low = photometric::LowestHeight(surface);
        double high = low;
        for (const float h : surface.heightMap)
            if (std::isfinite(h))
                high = std::max(high, static_cast<double>(h));
        if (std::isfinite(low)) {
            char range[64];
            std::snprintf(range, sizeof range, "%.3f %.3f", low, high);
            response.headers.emplace_back("X-Zeb-Height-Range", range);
        }
    }
    return response;
}

HttpResponse SurfaceApi::Calibrate(ChannelWorker& worker, const HttpRequest& request) {
    const auto radius = NumberIn(request.Query("sphereRadius", "20"), 1, 1000);
    if (!radius)
        return HttpResponse::Text(400, "sphereRadius is a number of millimetres from 1 to 1000");
    ChannelWorker::Status status = worker.CurrentStatus();
    // While live, an image set taken after this request: one with the settings as they are now.
    if (status.mode == ChannelWorker::Mode::Live && status.latest) {
        const int64_t asked = status.latest->Number();
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(_imageTimeoutMs);
        while (status.mode == ChannelWorker::Mode::Live && status.latest &&
               status.latest->Number() <= asked && std::chrono::steady_clock::now() < until)
            status = WaitForChange(worker, status.revision, std::chrono::milliseconds(500));
        if (status.mode == ChannelWorker::Mode::Live && status.latest && status.latest->Number() <= asked)
            return HttpResponse::Text(409, "no new image set within the image timeout; the acquisition runs "
                                           "without delivering");
    }
    if (status.mode == ChannelWorker::Mode::Assistant)
        return HttpResponse::Text(409, "an assistant runs on channel " + std::to_string(worker.Index()) +
                                           "; calibrate after it");
    struct Shot {
        std::vector<host::Image> sets;
        cli::ImageSetDescription description;
        cli::ChannelLighting lighting;
    };
    const int32_t index = worker.Index();
    const bool live = status.mode == ChannelWorker::Mode::Live && status.latest;
    const int32_t timeoutMs = _imageTimeoutMs;
    // While live, the latest image set; else one acquired now, with the sphere as it lies.
    Shot shot = worker.Call([&](host::HostChannel& channel) {
        Shot s;
        s.lighting = cli::ReadChannelLighting(channel, _session, index, {});
        if (live) {
            s.description = status.latest->Description();
            s.sets.push_back(status.latest->Delivered());
            return s;
        }
        s.description = cli::ImageSetDescription::Read(channel, index);
        if (s.description.Averaged())
            return s;
        cli::AcquisitionLoop::Options options;
        options.timeoutMs = timeoutMs;
        cli::AcquisitionLoop loop(channel, options);
        if (loop.Run([&](const host::Image& image, int64_t) { s.sets.push_back(image); }, {}) !=
            cli::AcquisitionLoop::End::Completed)
            throw cli::PluginError(loop.Error());
        return s;
    });
    if (shot.description.Averaged())
        return HttpResponse::Text(409, "the channel averages the directions (\"SetupMode\" \"On\"): set "
                                       "\"SetupMode\" to \"Off\" to calibrate");
    photometric::SphereSettings sphere;
    sphere.radius = *radius;
    cli::SphereCalibrationRun run;
    try {
        run = cli::CalibrateOnSphere(shot.sets, shot.lighting, shot.description, sphere);
    } catch (const cli::CommandError& error) {
        return HttpResponse::Text(422, error.what());
    }
    const fs::path file = CalibrationFile(index);
    try {
        cli::WriteCalibrationFile(file, run.record);
    } catch (const cli::CommandError& error) {
        return HttpResponse::Text(500, error.what());
    }
    {
        ChannelSurface& channel = Of(worker);
        const std::lock_guard lock(channel.mutex);
        channel.lightingKey.clear();
        channel.solved.reset();
        channel.heightSolved.reset();
    }
    nlohmann::ordered_json answer = run.Figures();
    const std::string suggested = run.SuggestedOrientation();
    answer["agrees"] = run.result.verdict.agrees;
    answer["advice"] = run.result.verdict.advice;
    answer["suggestedOrientation"] =
        suggested.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(suggested);
    answer["file"] = file.string();
    answer["lightingModel"] = run.record.model.Describe();
    return JsonAnswer(answer);
}

} // namespace zeb::view
