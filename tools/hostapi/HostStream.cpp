// The C API's acquisitions: a stream runs zeb's acquisition loop on a thread of its own and hands
// its image sets to the caller through a short queue; image sets read back from files.
#include "HostApiState.h"

#include "base/JsonText.h"
#include "base/Text.h"
#include "files/ImageSet.h"
#include "files/ImageSetReader.h"
#include "files/ImageSetWriter.h"
#include "photometric/Surface.h"
#include "runs/AcquisitionLoop.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <thread>

using namespace zeb;
using namespace zeb::hostapi;

struct zeb_stream {
    zeb_channel* channel = nullptr;
    host::HostChannel acquisition; // a copy of the channel's: its error texts are the thread's own
    std::shared_ptr<const cli::ImageSetDescription> description;
    std::shared_ptr<const cli::LightingSettings> lighting;
    size_t capacity = 4;
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::unique_ptr<zeb_image_set>> ready;
    bool finished = false;
    cli::AcquisitionLoop::End end = cli::AcquisitionLoop::End::Completed;
    std::string error;
    cli::AcquisitionStatistics statistics;
    std::thread thread;

    void Run(cli::AcquisitionLoop::Options options);
};

void zeb_stream::Run(cli::AcquisitionLoop::Options options) {
    cli::AcquisitionLoop loop(acquisition, options);
    auto handle = [&](host::Image& image, int64_t number) {
        auto set = std::make_unique<zeb_image_set>();
        set->stack = std::move(image);
        set->number = number;
        set->description = description;
        set->lighting = lighting;
        set->taken = std::chrono::system_clock::now();
        std::unique_lock lock(mutex);
        // A caller that falls behind holds the acquisition back, as a slow host does.
        changed.wait(lock, [&] { return ready.size() < capacity || stop.load(); });
        if (stop.load())
            return;
        ready.push_back(std::move(set));
        changed.notify_all();
    };
    auto progress = [&](const cli::AcquisitionStatistics& now) {
        const std::lock_guard lock(mutex);
        statistics = now;
    };
    cli::AcquisitionLoop::End result = cli::AcquisitionLoop::End::Failed;
    std::string failure;
    try {
        result = loop.Run(
            handle, [&] { return stop.load(); }, progress);
        failure = loop.Error();
    } catch (const std::exception& caught) {
        failure = caught.what();
    }
    const std::lock_guard lock(mutex);
    statistics = loop.Statistics();
    end = result;
    error = failure;
    finished = true;
    changed.notify_all();
}

namespace {

int64_t Stride(const host::Image& stack, bool lineScan, int32_t direction, int32_t row) {
    const photometric::ImageSetView view{stack.pixels.data(), stack.width, stack.height, lineScan};
    return view.Row(direction, row) - view.Row(0, 0);
}

double Number(const std::string& text) {
    return std::strtod(text.c_str(), nullptr);
}

} // namespace

extern "C" {

zeb_status zeb_stream_start(zeb_channel* channel, int64_t count, int32_t timeout_ms, int32_t keep_going,
                            int32_t queue, zeb_stream** out) {
    return Guarded([&] {
        if (!out)
            throw ApiError(ZEB_BAD_ARGUMENT, "stream is NULL");
        *out = nullptr;
        if (!channel || !channel->channel)
            throw ApiError(ZEB_BAD_ARGUMENT, "no channel: the handle is NULL or closed");
        if (count < 0 || timeout_ms <= 0)
            throw ApiError(ZEB_BAD_ARGUMENT, "a stream needs a count of 0 or more and a timeout above 0 ms");
        if (channel->stream)
            throw ApiError(ZEB_ERROR, "the channel streams already: one stream per channel",
                           "close the stream before starting another");
        host::HostChannel& host = *channel->channel;
        cli::SelectCamera(host, {}, true);
        cli::ApplySettings(host, {{"AcquisitionMode", count == 1 ? "SingleFrame" : "Continuous", "set"}},
                           false);
        auto stream = std::make_unique<zeb_stream>();
        stream->channel = channel;
        stream->acquisition = host;
        stream->capacity = static_cast<size_t>(std::max(queue, 1));
        stream->description =
            std::make_shared<cli::ImageSetDescription>(cli::ImageSetDescription::Read(host, channel->index));
        stream->lighting = std::make_shared<cli::LightingSettings>(
            cli::ReadLightingSettings(host, TheSession(), channel->index));
        cli::AcquisitionLoop::Options options;
        options.count = count;
        options.keepGoing = keep_going != 0;
        options.timeoutMs = timeout_ms;
        zeb_stream* raw = stream.get();
        stream->thread = std::thread([raw, options] { raw->Run(options); });
        channel->stream = raw;
        *out = stream.release();
        return ZEB_OK;
    });
}

zeb_status zeb_stream_next(zeb_stream* stream, int32_t wait_ms, zeb_image_set** image_set) {
    return Guarded([&] {
        if (!stream || !image_set)
            throw ApiError(ZEB_BAD_ARGUMENT, "stream or image_set is NULL");
        *image_set = nullptr;
        const int32_t wait = std::clamp(wait_ms, 0, 1000);
        std::unique_lock lock(stream->mutex);
        stream->changed.wait_for(lock, std::chrono::milliseconds(wait),
                                 [&] { return !stream->ready.empty() || stream->finished; });
        if (!stream->ready.empty()) {
            *image_set = stream->ready.front().release();
            stream->ready.pop_front();
            stream->changed.notify_all();
            return ZEB_OK;
        }
        if (!stream->finished)
            return ZEB_NOT_YET;
        switch (stream->end) {
        case cli::AcquisitionLoop::End::Completed:
            return ZEB_END;
        case cli::AcquisitionLoop::End::Stopped:
            return Fail(ZEB_INTERRUPTED,
                        "interrupted after " + cli::Count(stream->statistics.sets, "image set"));
        case cli::AcquisitionLoop::End::Failed:
            break;
        }
        const bool lost = stream->statistics.lost > 0 && stream->statistics.failed == 0;
        return Fail(lost ? ZEB_TIMEOUT : ZEB_ACQUISITION_FAILED, stream->error);
    });
}

void zeb_stream_interrupt(zeb_stream* stream) {
    if (!stream)
        return;
    stream->stop.store(true);
    const std::lock_guard lock(stream->mutex);
    stream->changed.notify_all();
}

zeb_status zeb_stream_statistics_json(zeb_stream* stream, char** json) {
    return Guarded([&] {
        if (!stream || !json)
            throw ApiError(ZEB_BAD_ARGUMENT, "stream or json is NULL");
        const std::lock_guard lock(stream->mutex);
        const cli::AcquisitionStatistics& s = stream->statistics;
        *json = NewText(cli::JsonText(
            nlohmann::json{{"sets", s.sets},
                           {"lost", s.lost},
                           {"failed", s.failed},
                           {"lastFailure", s.lastFailure},
                           {"startupSeconds", s.startupSeconds},
                           {"setsPerSecond", s.SetsPerSecond(std::chrono::steady_clock::now())}}));
        return ZEB_OK;
    });
}

void zeb_stream_close(zeb_stream* stream) {
    if (!stream)
        return;
    EndStream(stream);
    delete stream;
}

zeb_status zeb_image_set_info(const zeb_image_set* set, zeb_image_info* info) {
    return Guarded([&] {
        if (!set || !info)
            throw ApiError(ZEB_BAD_ARGUMENT, "image_set or info is NULL");
        const bool averaged = set->description->Averaged(), lineScan = set->description->LineScan();
        const host::Image& stack = set->stack;
        *info = {};
        info->width = stack.width;
        info->height = stack.height;
        info->direction_width = stack.width;
        info->direction_height = averaged ? stack.height : stack.height / 4;
        info->line_scan = lineScan ? 1 : 0;
        info->averaged = averaged ? 1 : 0;
        info->number = set->number;
        info->pixels = stack.pixels.data();
        if (!averaged && stack.height >= 4) {
            info->direction_offset = Stride(stack, lineScan, 1, 0);
            info->row_stride = info->direction_height > 1 ? Stride(stack, lineScan, 0, 1) : stack.width;
        } else {
            info->row_stride = stack.width;
        }
        return ZEB_OK;
    });
}

zeb_status zeb_image_set_metadata_json(const zeb_image_set* set, char** json) {
    return Guarded([&] {
        if (!set || !json)
            throw ApiError(ZEB_BAD_ARGUMENT, "image_set or json is NULL");
        const cli::ImageSetDescription& d = *set->description;
        *json = NewText(cli::JsonText(nlohmann::json{{"number", set->number},
                                                     {"channel", d.channel},
                                                     {"channelIndex", d.channelIndex},
                                                     {"camera", d.camera},
                                                     {"cameraModel", d.cameraModel},
                                                     {"scanType", d.scanType},
                                                     {"exposureTime", Number(d.exposureTime)},
                                                     {"gain", Number(d.gain)},
                                                     {"lightingSequence", d.lightingSequence},
                                                     {"lightingOrientation", d.lightingOrientation},
                                                     {"setupMode", d.setupMode},
                                                     {"litFrom", cli::LitFrom(d.lightingSequence)},
                                                     {"taken", cli::IsoTime(set->taken)}}));
        return ZEB_OK;
    });
}

zeb_status zeb_image_set_average(zeb_image_set* set, const uint8_t** pixels) {
    return Guarded([&] {
        if (!set || !pixels)
            throw ApiError(ZEB_BAD_ARGUMENT, "image_set or pixels is NULL");
        if (set->description->Averaged()) {
            *pixels = set->stack.pixels.data();
            return ZEB_OK;
        }
        std::call_once(set->averaged,
                       [&] { cli::Average(set->stack, set->description->LineScan(), set->average); });
        *pixels = set->average.pixels.data();
        return ZEB_OK;
    });
}

zeb_status zeb_image_set_save(const zeb_image_set* set, const char* folder, char** json) {
    return Guarded([&] {
        if (!set || !folder || !json)
            throw ApiError(ZEB_BAD_ARGUMENT, "image_set, folder or json is NULL");
        cli::ImageSetWriter writer(std::filesystem::u8path(folder), *set->description);
        nlohmann::json files = nlohmann::json::array();
        for (const auto& file : writer.Write(set->stack, set->taken))
            files.push_back(Utf8(file));
        *json = NewText(cli::JsonText(nlohmann::json{{"number", writer.LastNumber()}, {"files", files}}));
        return ZEB_OK;
    });
}

zeb_status zeb_image_set_read(const char* path, zeb_image_set** out) {
    return Guarded([&] {
        if (!path || !out)
            throw ApiError(ZEB_BAD_ARGUMENT, "path or image_set is NULL");
        *out = nullptr;
        cli::ImageSetFile file = cli::ReadImageSetFile(std::filesystem::u8path(path));
        auto set = std::make_unique<zeb_image_set>();
        set->lighting = std::make_shared<cli::LightingSettings>(file.Lighting());
        set->stack = std::move(file.stack);
        set->number = file.number;
        set->description = std::make_shared<cli::ImageSetDescription>(std::move(file.description));
        set->taken = file.takenTime;
        *out = set.release();
        return ZEB_OK;
    });
}

void zeb_image_set_free(zeb_image_set* set) {
    delete set;
}

} // extern "C"

namespace zeb::hostapi {
void EndStream(zeb_stream* stream) {
    zeb_stream_interrupt(stream);
    if (stream->thread.joinable())
        stream->thread.join();
    if (stream->channel && stream->channel->stream == stream)
        stream->channel->stream = nullptr;
    stream->channel = nullptr;
}
} // namespace zeb::hostapi
