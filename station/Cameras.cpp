#include "Cameras.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

namespace zeb::station {

namespace {

constexpr size_t MaxBufferedFrames = 64;
constexpr int32_t MaxStripRows = 4096;

// The gain in decibels, within what a sensor amplifies even when a station file gives a text no
// camera would hold.
double GainDecibels(const SimCamera& camera) {
    return std::clamp(camera.Double("Gain"), -60.0, 60.0);
}

double GainFactor(const SimCamera& camera) {
    return std::pow(10.0, GainDecibels(camera) / 20.0);
}

// Rows of a line camera's strip: one object pitch along the transport, sampled as finely as the
// line's own pixels.
int32_t StripRows(const SimCamera& camera) {
    const double pixel = camera.scene.fieldOfView / std::max(1, camera.Int("SensorWidth"));
    return static_cast<int32_t>(std::clamp(std::round(ObjectPitch / pixel), 1.0, double{MaxStripRows}));
}

// A played-back frame's error as the acquisition library reports a frame that did not arrive whole.
std::string Unplayable(const SimCamera& camera, const std::string& reason) {
    return "bufferResult failed. Camera " + camera.name + " could not play back its recording: " + reason;
}

// Counts one of the camera's frames or triggers toward its faults; a fault it fires takes effect
// from this frame or trigger on.
void CountForFaults(SimCamera& camera, const char* operation, Nanoseconds now) {
    if (camera.faults.empty())
        return;
    std::vector<bool> firedBefore;
    for (const Fault& fault : camera.faults)
        firedBefore.push_back(fault.fired);
    if (!FaultStrikes(camera.faults, camera.offline, now, operation, ""))
        return;
    for (size_t i = 0; i < camera.faults.size(); ++i) {
        const Fault& fault = camera.faults[i];
        if (firedBefore[i] || !fault.fired)
            continue;
        if (fault.kind == "transferError") {
            camera.transferErrorsLeft += fault.count;
        } else if (fault.kind == "lostTriggers") {
            camera.lostTriggersLeft += fault.count;
        } else if (fault.kind == "stall") {
            camera.stallsLeft += fault.count;
            camera.stallDuration = fault.duration;
        }
    }
}

RenderRequest RequestFor(const SimCamera& camera, const Lighting& lighting) {
    RenderRequest request;
    request.scene = camera.scene;
    request.width = camera.Int("Width");
    request.offsetX = camera.Int("OffsetX");
    request.sensorWidth = camera.Int("SensorWidth");
    if (camera.Linescan()) {
        request.lineScan = true;
        request.height = request.sensorHeight = StripRows(camera);
    } else {
        request.height = camera.Int("Height");
        request.offsetY = camera.Int("OffsetY");
        request.sensorHeight = camera.Int("SensorHeight");
        request.reverse = camera.Feature("ReverseXY") == "True";
    }
    request.domeRadius = lighting.domeRadius;
    request.darkOffset = camera.sensor.darkOffset;
    const double exposure = camera.Double("ExposureTime");
    const double effective =
        std::max(0.0, std::min(static_cast<double>(lighting.pulseMicroseconds), exposure));
    const double scale = camera.sensitivity * effective * GainFactor(camera) / 100.0;
    for (size_t q = 0; q < 4; ++q)
        request.weights[q] = static_cast<float>(lighting.brightness[q] * scale);
    return request;
}

} // namespace

void CameraSimulation::Open(SimCamera& camera, const std::string& mode) {
    camera.open = true;
    camera.openMode = mode;
    camera.started = false;
    camera.frames.clear();
}

void CameraSimulation::Close(SimCamera& camera) {
    camera.open = false;
    camera.started = false;
    camera.framePending = false;
    camera.lineFrameActive = false;
    camera.frames.clear();
    for (CameraLine& line : camera.lines)
        line.source = "Off";
}

void CameraSimulation::Start(SimCamera& camera, Nanoseconds now) {
    camera.started = true;
    camera.frameCounter = 0;
    for (auto& [index, frame] : camera.frames)
        camera.spareFrames.push_back(std::move(frame));
    camera.frames.clear();
    camera.busyUntil = now;
    camera.framePending = false;
    camera.lineFrameActive = false;
}

void CameraSimulation::Stop(SimCamera& camera) {
    camera.started = false;
    camera.framePending = false;
    camera.lineFrameActive = false;
}

void CameraSimulation::Release(SimCamera& camera, int64_t index) {
    const auto it = camera.frames.find(index);
    if (it == camera.frames.end())
        return;
    camera.spareFrames.push_back(std::move(it->second));
    camera.frames.erase(it);
}

std::unique_ptr<Frame> CameraSimulation::NewFrame(SimCamera& camera, int32_t width, int32_t height) {
    std::unique_ptr<Frame> frame;
    if (!camera.spareFrames.empty()) {
        frame = std::move(camera.spareFrames.back());
        camera.spareFrames.pop_back();
    } else {
        frame = std::make_unique<Frame>();
    }
    frame->width = width;
    frame->height = height;
    frame->transferError = false;
    frame->error.clear();
    frame->pixels.resize(static_cast<size_t>(std::max(0, width)) * static_cast<size_t>(std::max(0, height)));
    return frame;
}

void CameraSimulation::Deliver(SimCamera& camera, std::unique_ptr<Frame> frame, Nanoseconds now) {
    CountForFaults(camera, "frame", now);
    if (camera.stallsLeft > 0) {
        // The thread that runs the station is held up; the frames keep the camera's timing.
        --camera.stallsLeft;
        if (_holdThreadsOnStalls)
            std::this_thread::sleep_for(std::chrono::nanoseconds(camera.stallDuration));
    }
    if (camera.transferErrorsLeft > 0) {
        --camera.transferErrorsLeft;
        frame->transferError = true;
    }
    if (camera.frames.size() >= MaxBufferedFrames) {
        camera.spareFrames.push_back(std::move(frame)); // no free buffer: the frame is dropped
        return;
    }
    frame->index = ++camera.frameCounter;
    camera.frames[frame->index] = std::move(frame);
}

void CameraSimulation::Trigger(SimCamera& camera, const std::string& lineName, const Lighting& lighting,
                               Nanoseconds now) {
    if (!camera.started || camera.Offline(now))
        return;
    if (camera.Linescan()) {
        if (camera.Feature("TriggerSource[LineStart]") == lineName && camera.lineFrameActive)
            CaptureLine(camera, lighting, now);
        if (camera.Feature("TriggerSource[AcquisitionStart]") == lineName)
            StartLineFrame(camera);
        return;
    }
    if (camera.Feature("TriggerMode[FrameStart]") != "On" ||
        camera.Feature("TriggerSource[FrameStart]") != lineName)
        return;
    CountForFaults(camera, "trigger", now);
    if (camera.lostTriggersLeft > 0 || !camera.Ready(now)) {
        if (camera.lostTriggersLeft > 0)
            --camera.lostTriggersLeft;
        ++camera.triggersLost;
        return;
    }
    const double exposure = std::clamp(camera.Double("ExposureTime") * 1000.0, 0.0, 1e15);
    const Nanoseconds readout =
        static_cast<Nanoseconds>(std::max(0, camera.Int("Height"))) * camera.readoutPerRow;
    camera.busyUntil = now + static_cast<Nanoseconds>(exposure) + readout;
    camera.framePending = true;
    camera.pendingLighting = lighting;
}

Nanoseconds CameraSimulation::NextEvent(const SimCamera& camera) {
    return camera.framePending ? camera.busyUntil : Never;
}

void CameraSimulation::Complete(SimCamera& camera, Nanoseconds now) {
    if (camera.framePending && camera.busyUntil <= now)
        CompleteAreaFrame(camera, now);
}

void CameraSimulation::CompleteAreaFrame(SimCamera& camera, Nanoseconds now) {
    camera.framePending = false;
    if (!camera.started || camera.Offline(now))
        return;
    auto frame = NewFrame(camera, camera.Int("Width"), camera.Int("Height"));
    if (camera.recording) {
        PlayDirection(camera, *frame);
        Deliver(camera, std::move(frame), now);
        return;
    }
    const Image image = _renderer.Render(RequestFor(camera, camera.pendingLighting));
    if (image->size() == frame->pixels.size()) {
        camera.noise.Configure(camera.sensor, GainDecibels(camera));
        if (camera.noise.Active())
            camera.noise.ExposeFrame(image, frame->pixels.data());
        else
            std::memcpy(frame->pixels.data(), image->data(), image->size());
    }
    Deliver(camera, std::move(frame), now);
}

void CameraSimulation::StartLineFrame(SimCamera& camera) {
    if (camera.lineFrameActive || !camera.started)
        return;
    camera.lineFrame = NewFrame(camera, camera.Int("Width"), camera.Int("Height"));
    if (camera.recording)
        ++camera.playedSet; // each frame plays the next set
    camera.linesInFrame = 0;
    camera.currentMaximumRate = 0;
    camera.lastLineTrigger = 0;
    camera.lineFrameActive = true;
}

void CameraSimulation::CaptureLine(SimCamera& camera, const Lighting& lighting, Nanoseconds now) {
    if (camera.lastLineTrigger > 0 && now > camera.lastLineTrigger) {
        const double rate = 1e9 / static_cast<double>(now - camera.lastLineTrigger);
        camera.currentMaximumRate = std::max(camera.currentMaximumRate, rate);
    }
    camera.lastLineTrigger = now;
    Frame& frame = *camera.lineFrame;
    if (camera.recording) {
        PlayRow(camera, frame);
        FinishLine(camera, now);
        return;
    }
    const RenderRequest request = RequestFor(camera, lighting);
    const Image strip = _renderer.Render(request);
    const size_t width = static_cast<size_t>(frame.width);
    if (strip->size() == width * static_cast<size_t>(request.height) && width > 0) {
        // The object line under the camera's line now: between two rows of the strip.
        const double position = lighting.transport / ObjectPitch * request.height;
        const double first = std::floor(position);
        const int64_t rows = request.height;
        const int64_t upper =
            (static_cast<int64_t>(std::fmod(first, static_cast<double>(rows))) + rows) % rows;
        const int64_t lower = (upper + 1) % rows;
        const int32_t share = static_cast<int32_t>(std::lround((position - first) * 256));
        const uint8_t* a = strip->data() + static_cast<size_t>(upper) * width;
        const uint8_t* b = strip->data() + static_cast<size_t>(lower) * width;
        uint8_t* row = frame.pixels.data() + static_cast<size_t>(camera.linesInFrame) * width;
        for (size_t i = 0; i < width; ++i)
            row[i] = static_cast<uint8_t>((a[i] * (256 - share) + b[i] * share + 128) >> 8);
        camera.noise.Configure(camera.sensor, GainDecibels(camera));
        if (camera.noise.Active())
            camera.noise.ExposeLine(row, width);
    }
    FinishLine(camera, now);
}

void CameraSimulation::FinishLine(SimCamera& camera, Nanoseconds now) {
    ++camera.linesInFrame;
    if (camera.linesInFrame >= camera.lineFrame->height) {
        camera.lineFrameActive = false;
        camera.lastFrameMaximumRate = camera.currentMaximumRate;
        Deliver(camera, std::move(camera.lineFrame), now);
    }
}

void CameraSimulation::PlayDirection(SimCamera& camera, Frame& frame) {
    Recording& recording = *camera.recording;
    const int32_t direction = camera.pendingLighting.step % 4;
    if (camera.playedSet < 0 || direction <= camera.playedDirection)
        ++camera.playedSet; // a step that does not follow the last one begins the next set
    camera.playedDirection = direction;
    const size_t width = static_cast<size_t>(frame.width), rows = static_cast<size_t>(frame.height);
    if (frame.width != recording.Width() || frame.height != recording.Rows() / 4) {
        frame.error = Unplayable(camera, recording.Mismatch(frame.width, frame.height, false));
        return;
    }
    try {
        const std::vector<uint8_t>& stack = recording.Stack(camera.playedSet);
        std::memcpy(frame.pixels.data(), stack.data() + static_cast<size_t>(direction) * rows * width,
                    rows * width);
    } catch (const std::runtime_error& error) {
        frame.error = Unplayable(camera, error.what());
    }
}

void CameraSimulation::PlayRow(SimCamera& camera, Frame& frame) {
    Recording& recording = *camera.recording;
    if (!frame.error.empty())
        return;
    if (frame.width != recording.Width() || frame.height != recording.Rows()) {
        frame.error = Unplayable(camera, recording.Mismatch(frame.width, frame.height, true));
        return;
    }
    try {
        const std::vector<uint8_t>& stack = recording.Stack(camera.playedSet);
        const size_t width = static_cast<size_t>(frame.width), row = static_cast<size_t>(camera.linesInFrame);
        std::memcpy(frame.pixels.data() + row * width, stack.data() + row * width, width);
    } catch (const std::runtime_error& error) {
        frame.error = Unplayable(camera, error.what());
    }
}

} // namespace zeb::station
