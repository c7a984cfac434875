#include "Station.h"

#include "Devices.h"
#include "Trace.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace zeb::station {

namespace {

constexpr int64_t MaxEventsPerAdvance = 100'000;
constexpr size_t MaxBufferedFrames = 64;
constexpr int32_t GrabberBuffers = 4;
constexpr int32_t LineSceneHeight = 1024;

Nanoseconds SteadyNow() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool IsTrue(const std::string& v) {
    return v == "1" || v == "True";
}

std::string ControllerDevice(int32_t id) {
    return "controller:" + std::to_string(id);
}
std::string CameraDevice(const std::string& name) {
    return "camera:" + name;
}

// Polarity register of a controller port ("Camera1Input0" -> "CameraIo1.Input0.InvertPolarity").
std::string PolarityRegister(const std::string& port) {
    if (port.rfind("Camera", 0) == 0 && port.size() >= 13) {
        const std::string io = port.substr(6, 1);
        const std::string rest = port.substr(7); // "Input0" / "Output1"
        return "CameraIo" + io + "." + rest + ".InvertPolarity";
    }
    if (port == "AuxOutput0" || port == "AuxOutput1")
        return "AuxIo.Output" + port.substr(9) + ".InvertPolarity";
    if (port == "DigitalIoInput7")
        return "DigitalIo.Input7.InvertPolarity";
    return "";
}

bool IsOutputPort(const std::string& port) {
    return port.find("Output") != std::string::npos;
}

int32_t HexByte(const std::string& sequence, int32_t step) {
    const size_t at = static_cast<size_t>(step) * 2;
    if (at + 2 > sequence.size())
        return -1;
    return static_cast<int32_t>(std::strtol(sequence.substr(at, 2).c_str(), nullptr, 16));
}

} // namespace

// ---- Device records ----------------------------------------------------------------------------

std::string SimController::Get(const std::string& name) const {
    const auto it = registers.find(name);
    return it == registers.end() ? std::string() : it->second;
}

bool SimController::Flag(const std::string& name) const {
    return IsTrue(Get(name));
}

int32_t SimCamera::Int(const std::string& feature) const {
    const auto it = features.find(feature);
    return it == features.end() ? 0 : std::atoi(it->second.c_str());
}

double SimCamera::Double(const std::string& feature) const {
    const auto it = features.find(feature);
    return it == features.end() ? 0.0 : std::strtod(it->second.c_str(), nullptr);
}

CameraLine* SimCamera::Line(const std::string& lineName) {
    for (CameraLine& line : lines)
        if (line.name == lineName)
            return &line;
    return nullptr;
}

CameraLine* SimCamera::SelectedLine() {
    return Line(features["LineSelector"]);
}

double SimCamera::FrameRate() const {
    const double readoutMicroseconds =
        static_cast<double>(Int("Height")) * static_cast<double>(readoutPerRow) / 1000.0;
    return 1e6 / (Double("ExposureTime") + readoutMicroseconds);
}

double SimCamera::LineRateMaximum() const {
    return 1e6 / (Double("ExposureTime") + 2.5);
}

// ---- Station -----------------------------------------------------------------------------------

Station::Station() : _epoch(SteadyNow()) {}

Nanoseconds Station::Now() const {
    return _manualClock ? _manualTime : SteadyNow() - _epoch;
}

SimController* Station::Controller(int32_t id) {
    const auto it = _controllers.find(id);
    return it == _controllers.end() ? nullptr : it->second.get();
}

SimCamera* Station::Camera(const std::string& name) const {
    for (const auto& camera : _cameras)
        if (camera->name == name)
            return camera.get();
    return nullptr;
}

std::vector<const SimCamera*> Station::Cameras() const {
    std::vector<const SimCamera*> cameras;
    for (const auto& camera : _cameras)
        cameras.push_back(camera.get());
    return cameras;
}

bool Station::FaultStrikes(std::vector<Fault>& faults, Nanoseconds& offlineFrom, Nanoseconds& offlineUntil,
                           const char* operation, const std::string& name) {
    bool struck = false;
    for (Fault& fault : faults) {
        if (fault.fired)
            continue;
        FaultTrigger& trigger = fault.trigger;
        if (!trigger.operation.empty()) {
            if (trigger.operation != operation || (!trigger.name.empty() && trigger.name != name))
                continue;
            if (++trigger.seen < trigger.count)
                continue;
        }
        fault.fired = true;
        struck = true;
        if (fault.kind == "offline") {
            offlineFrom = _now + fault.delay;
            offlineUntil = offlineFrom + fault.duration;
        }
    }
    return struck;
}

// ---- Signals -----------------------------------------------------------------------------------

bool Station::CameraOutputLevel(const SimCamera& camera, const CameraLine& line) const {
    if (line.mode != "Output" || !camera.open)
        return false;
    if (line.source == "UserOutput1")
        return IsTrue(camera.userOutputValue);
    if (line.source == "TriggerReady")
        return camera.Ready(_now);
    if (line.source == "ExposureActive")
        return camera.started && _now < camera.busyUntil;
    return false;
}

bool Station::TriggerInputLevel(const SimController& controller, Nanoseconds time) const {
    bool level = false;
    const auto& input = controller.triggerInput;
    if (input.period > 0 && time >= 0)
        level = (time % input.period) < input.pulse && time >= input.period;
    for (const Cable& cable : _cables)
        if (cable.controller == controller.deviceId && cable.port == "DigitalIoInput7")
            if (const SimCamera* camera = Camera(cable.camera))
                for (const CameraLine& line : camera->lines)
                    if (line.name == cable.line)
                        level = level || (CameraOutputLevel(*camera, line) != cable.inverted);
    return level;
}

bool Station::ControllerInputLevel(const SimController& controller, const std::string& port) const {
    bool level = false;
    if (port == "DigitalIoInput7") {
        level = TriggerInputLevel(controller, _now);
    } else {
        for (const Cable& cable : _cables)
            if (cable.controller == controller.deviceId && cable.port == port)
                if (const SimCamera* camera = Camera(cable.camera))
                    for (const CameraLine& line : camera->lines)
                        if (line.name == cable.line)
                            level = level || (CameraOutputLevel(*camera, line) != cable.inverted);
    }
    return level != controller.Flag(PolarityRegister(port));
}

bool Station::ControllerOutputLevel(const SimController& controller, const std::string& port) const {
    bool level = false;
    if (port == "AuxOutput0" || port == "AuxOutput1") {
        const std::string prefix = "AuxIo.Output" + port.substr(9);
        const std::string source = controller.Get(prefix + ".Source");
        if (source == "State")
            level = controller.Flag(prefix + ".State");
        else if (source == "SequencerEnabled")
            level = controller.enabled;
    }
    return level != controller.Flag(PolarityRegister(port));
}

bool Station::CameraInputLevel(const SimCamera& camera, const std::string& lineName) const {
    bool level = false;
    for (const Cable& cable : _cables)
        if (cable.camera == camera.name && cable.line == lineName && IsOutputPort(cable.port))
            if (const auto it = _controllers.find(cable.controller); it != _controllers.end())
                level = level || (ControllerOutputLevel(*it->second, cable.port) != cable.inverted);
    return level;
}

bool Station::ClockLevel(const SimController& controller) const {
    const std::string source = controller.Get("Sequencer.Clock.Source");
    if (source == "HighLevel")
        return true;
    if (source.rfind("Camera", 0) == 0 || source == "DigitalIoInput7")
        return ControllerInputLevel(controller, source);
    return false; // frequency generator and encoder clock by ticks; an empty source never clocks
}

bool Station::SeenTriggerLevel(const SimController& controller) const {
    if (controller.Get("Sequencer.Trigger.Source") != "DigitalIoInput7")
        return false;
    return ControllerInputLevel(controller, "DigitalIoInput7");
}

void Station::Propagate() {
    for (int iteration = 0; iteration < 8; ++iteration) {
        bool changed = false;
        for (auto& [id, controllerPointer] : _controllers) {
            SimController& c = *controllerPointer;
            if (c.Offline(_now))
                continue;
            const bool trigger = SeenTriggerLevel(c);
            const bool triggerEnabled = c.Flag("Sequencer.Trigger.Enabled");
            if (trigger && !c.triggerLevel && c.enabled && triggerEnabled && !c.armed) {
                c.armed = true;
                c.progress = 2;
                changed = true;
                if (c.Get("AuxIo.Output1.Source") == "SequenceTrigger")
                    Pulse(c, "AuxOutput1", Lighting{});
            }
            c.triggerLevel = trigger;
            const bool clock = ClockLevel(c);
            const bool levelSensitive = c.Flag("Sequencer.Clock.LevelSensitive");
            if (c.enabled && !c.armed && !triggerEnabled && (levelSensitive || !clock)) {
                c.armed = true;
                c.progress = 2;
                changed = true;
            } else if (c.enabled && c.armed && !levelSensitive && clock && !c.clockLevel &&
                       !SequenceDone(c)) {
                Step(c);
                changed = true;
            }
            c.clockLevel = clock;
        }
        for (auto& camera : _cameras) {
            for (CameraLine& line : camera->lines) {
                if (line.mode != "Input")
                    continue;
                const bool level = CameraInputLevel(*camera, line.name);
                if (level && !line.level && camera->Linescan() && camera->started &&
                    camera->features["TriggerSource[AcquisitionStart]"] == line.name) {
                    StartLineFrame(*camera);
                    changed = true;
                }
                line.level = level;
            }
        }
        if (!changed)
            return;
    }
}

// ---- Sequencer ---------------------------------------------------------------------------------

void Station::Enable(SimController& c, bool on) {
    if (on == c.enabled)
        return;
    c.enabled = on;
    c.armed = false;
    c.progress = on ? 1 : 0;
    c.stepsDone = 0;
    c.enabledAt = _now;
    c.lastTick = _now;
    c.lastStep = std::numeric_limits<Nanoseconds>::min() / 2;
    c.clockLevel = ClockLevel(c);
    c.triggerLevel = SeenTriggerLevel(c);
    c.encoder.lastCount = EncoderCount(c, _now);
}

int64_t Station::TotalSteps(const SimController& c) const {
    const int64_t length = std::max<int64_t>(1, std::atoll(c.Get("Sequencer.SequenceLength").c_str()));
    const int64_t repeat = std::atoll(c.Get("Sequencer.SequenceRepeatCount").c_str());
    const int64_t passes = std::max<int64_t>(1, std::atoll(c.Get("Sequencer.PassCount").c_str()));
    return repeat <= 0 ? -1 : length * repeat * passes;
}

bool Station::SequenceDone(const SimController& c) const {
    const int64_t total = TotalSteps(c);
    return total >= 0 && c.stepsDone >= total;
}

Lighting Station::StepLighting(const SimController& c, int32_t stepIndex) const {
    Lighting lighting;
    const int32_t mask = HexByte(c.Get("Sequencer.LightSequence"), stepIndex);
    const int32_t orientation = std::atoi(c.Get("Sequencer.Orientation").c_str());
    const double globalBrightness =
        std::strtod(c.Get("Light.GlobalChannelParameters.Brightness").c_str(), nullptr);
    const double globalPulse =
        std::strtod(c.Get("Light.GlobalChannelParameters.PulseWidth").c_str(), nullptr);
    for (int32_t channel = 0; channel < 4; ++channel) {
        const std::string prefix = "Light0.Channel" + std::to_string(channel);
        if (mask < 0 || !(mask & (1 << channel)) || c.currents[static_cast<size_t>(channel)] <= 0 ||
            c.Get(prefix + ".TriggerSource") != "Sequencer")
            continue;
        const bool global = c.Flag(prefix + ".UseGlobalParameters");
        const double brightness =
            global ? globalBrightness : std::strtod(c.Get(prefix + ".Brightness").c_str(), nullptr);
        const double pulse =
            global ? globalPulse : std::strtod(c.Get(prefix + ".PulseWidth").c_str(), nullptr);
        // The pattern is turned by the set orientation; the dome itself may be mounted turned.
        const double angle =
            std::fmod(SceneRenderer::QuadrantAngle(channel) + orientation - c.domeRotation + 720.0, 360.0);
        int32_t quadrant = 0;
        for (int32_t q = 0; q < 4; ++q)
            if (std::fabs(SceneRenderer::QuadrantAngle(q) - angle) < 1.0)
                quadrant = q;
        lighting.brightness[static_cast<size_t>(quadrant)] += static_cast<float>(brightness);
        lighting.pulseMicroseconds = std::max(lighting.pulseMicroseconds, static_cast<float>(pulse));
    }
    return lighting;
}

void Station::Pulse(SimController& c, const std::string& port, const Lighting& lighting) {
    for (const Cable& cable : _cables)
        if (cable.controller == c.deviceId && cable.port == port)
            if (SimCamera* camera = Camera(cable.camera))
                TriggerCamera(*camera, cable.line, lighting);
}

void Station::Step(SimController& c) {
    const int64_t length = std::max<int64_t>(1, std::atoll(c.Get("Sequencer.SequenceLength").c_str()));
    const int32_t stepIndex = static_cast<int32_t>(c.stepsDone % length);
    c.stepsDone += 1;
    c.progress += 1;
    c.lastStep = _now;
    const int32_t control = HexByte(c.Get("Sequencer.ControlSequence"), stepIndex);
    if (control == 0)
        return;
    const Lighting lighting = StepLighting(c, stepIndex);
    for (const char* port : {"Camera0Output0", "Camera1Output0", "Camera2Output0", "Camera0Output1",
                             "Camera1Output1", "Camera2Output1"})
        Pulse(c, port, lighting);
    if (c.Get("AuxIo.Output0.Source") == "Sequencer")
        Pulse(c, "AuxOutput0", lighting);
}

int64_t Station::EncoderCount(const SimController& c, Nanoseconds time) const {
    const auto& encoder = c.encoder;
    if (!encoder.connected)
        return 0;
    double revolutions = encoder.speed * static_cast<double>(time - encoder.resetTime) / 1e9;
    if (encoder.travel)
        revolutions = *encoder.travel >= 0 ? std::min(revolutions, *encoder.travel)
                                           : std::max(revolutions, *encoder.travel);
    const double increments =
        std::max(1.0, std::strtod(c.Get("PositionEncoder.IncrementsPerRevolution").c_str(), nullptr));
    const double perRevolution =
        increments * (c.Flag("PositionEncoder.PreProcessing.UseQuarterIncrements") ? 4 : 1);
    return std::llround(revolutions * perRevolution);
}

Nanoseconds Station::NextEncoderTick(const SimController& c) const {
    const auto& encoder = c.encoder;
    if (!encoder.connected || encoder.speed == 0)
        return Never;
    const double increments =
        std::max(1.0, std::strtod(c.Get("PositionEncoder.IncrementsPerRevolution").c_str(), nullptr));
    const double perRevolution =
        increments * (c.Flag("PositionEncoder.PreProcessing.UseQuarterIncrements") ? 4 : 1);
    const double countsPerSecond = std::fabs(encoder.speed) * perRevolution;
    const int64_t next = std::llabs(c.encoder.lastCount) + 1;
    if (encoder.travel && static_cast<double>(next) > std::fabs(*encoder.travel) * perRevolution + 0.5)
        return Never;
    // One nanosecond past the moment the rounded count reaches `next`, so the count has surely moved.
    return encoder.resetTime +
           static_cast<Nanoseconds>(std::ceil((static_cast<double>(next) - 0.5) / countsPerSecond * 1e9)) + 1;
}

Nanoseconds Station::NextEvent(SimController& c) const {
    Nanoseconds next = Never;
    if (c.Offline(_now) || !c.enabled)
        return next;
    const std::string source = c.Get("Sequencer.Clock.Source");
    const bool listensToInput7 =
        (!c.armed && c.Flag("Sequencer.Trigger.Enabled")) || source == "DigitalIoInput7";
    if (listensToInput7 && c.triggerInput.period > 0) {
        const Nanoseconds period = c.triggerInput.period;
        const Nanoseconds k = _now / period;
        const Nanoseconds fall = k * period + c.triggerInput.pulse;
        next = std::min(next, fall > _now ? fall : (k + 1) * period);
    }
    if (!c.armed || SequenceDone(c))
        return next;
    const Nanoseconds deadTime =
        static_cast<Nanoseconds>(std::strtod(c.Get("Sequencer.Clock.DeadTime").c_str(), nullptr) * 1000.0);
    if (source == "FrequencyGenerator") {
        const Nanoseconds period = std::max<Nanoseconds>(
            1000, static_cast<Nanoseconds>(std::strtod(c.Get("FrequencyGenerator.Period").c_str(), nullptr)));
        next = std::min(next, c.lastTick + period);
    } else if (source == "PositionEncoder") {
        next = std::min(next, NextEncoderTick(c));
    } else if (c.Flag("Sequencer.Clock.LevelSensitive") && ClockLevel(c)) {
        next = std::min(next, std::max(_now, c.lastStep + deadTime));
    }
    return next;
}

bool Station::Listened(const SimController& c) const {
    for (const Cable& cable : _cables) {
        if (cable.controller != c.deviceId || !IsOutputPort(cable.port))
            continue;
        const SimCamera* camera = Camera(cable.camera);
        if (!camera || !camera->started)
            continue;
        const auto source = [&](const char* key) {
            const auto it = camera->features.find(key);
            return it == camera->features.end() ? std::string() : it->second;
        };
        if (camera->Linescan()
                ? (camera->lineFrameActive && source("TriggerSource[LineStart]") == cable.line) ||
                      source("TriggerSource[AcquisitionStart]") == cable.line
                : source("TriggerSource[FrameStart]") == cable.line)
            return true;
    }
    return false;
}

void Station::FastForward(SimController& c, Nanoseconds target) {
    if (!c.enabled || !c.armed || c.Offline(target))
        return;
    const std::string source = c.Get("Sequencer.Clock.Source");
    int64_t steps = 0;
    if (source == "FrequencyGenerator") {
        const Nanoseconds period = std::max<Nanoseconds>(
            1000, static_cast<Nanoseconds>(std::strtod(c.Get("FrequencyGenerator.Period").c_str(), nullptr)));
        const Nanoseconds deadTime = static_cast<Nanoseconds>(
            std::strtod(c.Get("Sequencer.Clock.DeadTime").c_str(), nullptr) * 1000.0);
        const int64_t ticks = (target - c.lastTick) / period;
        if (ticks <= 0)
            return;
        steps = ticks / std::max<int64_t>(1, (deadTime + period - 1) / period);
        c.lastTick += ticks * period;
    } else if (source == "PositionEncoder") {
        const int64_t count = EncoderCount(c, target);
        const std::string direction = c.Get("PositionEncoder.ClockAdjustment.Direction");
        steps = direction == "Both"
                    ? std::llabs(count - c.encoder.lastCount)
                    : std::max<int64_t>(0, direction == "Backward" ? c.encoder.lastCount - count
                                                                   : count - c.encoder.lastCount);
        c.encoder.lastCount = count;
    } else {
        return;
    }
    const int64_t total = TotalSteps(c);
    if (total >= 0)
        steps = std::min(steps, std::max<int64_t>(0, total - c.stepsDone));
    c.stepsDone += steps;
    c.progress += steps;
    if (steps > 0)
        c.lastStep = target;
}

void Station::AdvanceTo(Nanoseconds target) {
    // Clocks that nobody listens to are counted, not stepped: a fast generator feeding an endless
    // sequence costs nothing while no camera takes its pulses.
    for (auto& [id, controller] : _controllers)
        if (!Listened(*controller))
            FastForward(*controller, target);
    int64_t events = 0;
    while (true) {
        Nanoseconds next = Never;
        for (auto& [id, controller] : _controllers)
            next = std::min(next, NextEvent(*controller));
        for (auto& camera : _cameras)
            if (camera->framePending)
                next = std::min(next, camera->busyUntil);
        if (next > target || next == Never)
            break;
        if (++events > MaxEventsPerAdvance) {
            // More steps than a call may take: the rest is counted, as a device drops what nobody read.
            for (auto& [id, controller] : _controllers)
                FastForward(*controller, target);
            break;
        }
        _now = std::max(_now, next);
        for (auto& camera : _cameras)
            if (camera->framePending && camera->busyUntil <= _now)
                CompleteAreaFrame(*camera);
        Propagate();
        for (auto& [id, controllerPointer] : _controllers) {
            SimController& c = *controllerPointer;
            if (!c.enabled || !c.armed || c.Offline(_now))
                continue;
            const std::string source = c.Get("Sequencer.Clock.Source");
            const Nanoseconds deadTime = static_cast<Nanoseconds>(
                std::strtod(c.Get("Sequencer.Clock.DeadTime").c_str(), nullptr) * 1000.0);
            if (source == "FrequencyGenerator") {
                const Nanoseconds period =
                    std::max<Nanoseconds>(1000, static_cast<Nanoseconds>(std::strtod(
                                                    c.Get("FrequencyGenerator.Period").c_str(), nullptr)));
                while (c.lastTick + period <= _now) {
                    c.lastTick += period;
                    if (!SequenceDone(c) && c.lastTick - c.lastStep >= deadTime)
                        Step(c);
                }
            } else if (source == "PositionEncoder") {
                const int64_t count = EncoderCount(c, _now);
                const std::string direction = c.Get("PositionEncoder.ClockAdjustment.Direction");
                int64_t ticks = count - c.encoder.lastCount;
                if (direction == "Both")
                    ticks = std::llabs(ticks);
                else if (direction == "Backward")
                    ticks = -ticks;
                c.encoder.lastCount = count;
                for (int64_t t = 0; t < ticks && !SequenceDone(c); ++t)
                    Step(c);
            } else if (c.Flag("Sequencer.Clock.LevelSensitive") && ClockLevel(c) && !SequenceDone(c) &&
                       _now >= c.lastStep + deadTime) {
                Step(c);
            }
        }
        Propagate();
    }
    // Levels change only at events (and at operations, which propagate themselves), so a quiet
    // stretch of time needs no new look at the wires.
    const bool trigger = _now < target && AnyTriggerInput();
    _now = std::max(_now, target);
    if (events > 0 || trigger)
        Propagate();
}

void Station::Advance() {
    AdvanceTo(Now());
}

bool Station::AnyTriggerInput() const {
    for (const auto& [id, controller] : _controllers)
        if (controller->triggerInput.period > 0)
            return true;
    return false;
}

// ---- Cameras -----------------------------------------------------------------------------------

std::unique_ptr<Frame> Station::NewFrame(SimCamera& camera, int32_t width, int32_t height) {
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
    frame->pixels.resize(static_cast<size_t>(std::max(0, width)) * static_cast<size_t>(std::max(0, height)));
    return frame;
}

void Station::Deliver(SimCamera& camera, std::unique_ptr<Frame> frame) {
    for (Fault& fault : camera.faults)
        if (!fault.fired && fault.kind == "transferError" &&
            FaultStrikes(camera.faults, camera.offlineFrom, camera.offlineUntil, "frame", ""))
            camera.transferErrorsLeft += fault.count;
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

void Station::TriggerCamera(SimCamera& camera, const std::string& lineName, const Lighting& lighting) {
    if (!camera.started || camera.Offline(_now))
        return;
    if (camera.Linescan()) {
        if (camera.features["TriggerSource[LineStart]"] == lineName && camera.lineFrameActive)
            CaptureLine(camera, lighting);
        if (camera.features["TriggerSource[AcquisitionStart]"] == lineName)
            StartLineFrame(camera);
        return;
    }
    if (camera.features["TriggerMode[FrameStart]"] != "On" ||
        camera.features["TriggerSource[FrameStart]"] != lineName)
        return;
    for (Fault& fault : camera.faults)
        if (!fault.fired && fault.kind == "lostTriggers" &&
            FaultStrikes(camera.faults, camera.offlineFrom, camera.offlineUntil, "trigger", ""))
            camera.lostTriggersLeft += fault.count;
    if (camera.lostTriggersLeft > 0 || !camera.Ready(_now)) {
        if (camera.lostTriggersLeft > 0)
            --camera.lostTriggersLeft;
        ++camera.triggersLost;
        return;
    }
    const double exposure = camera.Double("ExposureTime");
    const Nanoseconds readout = static_cast<Nanoseconds>(camera.Int("Height")) * camera.readoutPerRow;
    camera.busyUntil = _now + static_cast<Nanoseconds>(exposure * 1000.0) + readout;
    camera.framePending = true;
    camera.pendingLighting = lighting;
}

namespace {
RenderRequest RequestFor(const SimCamera& camera, const Lighting& lighting, int32_t height,
                         int32_t sensorHeight, int32_t offsetY) {
    RenderRequest request;
    request.scene = camera.scene;
    request.width = camera.Int("Width");
    request.height = height;
    request.offsetX = camera.Int("OffsetX");
    request.offsetY = offsetY;
    request.sensorWidth = camera.Int("SensorWidth");
    request.sensorHeight = sensorHeight;
    const auto reverse = camera.features.find("ReverseXY");
    request.reverse = reverse != camera.features.end() && reverse->second == "True";
    const double exposure = camera.Double("ExposureTime");
    const double effective = std::min(exposure, static_cast<double>(lighting.pulseMicroseconds));
    const double scale =
        camera.sensitivity * effective * std::pow(10.0, camera.Double("Gain") / 20.0) / 100.0;
    for (size_t q = 0; q < 4; ++q)
        request.weights[q] = static_cast<float>(lighting.brightness[q] * scale);
    return request;
}
} // namespace

void Station::CompleteAreaFrame(SimCamera& camera) {
    camera.framePending = false;
    if (!camera.started || camera.Offline(_now))
        return;
    const int32_t width = camera.Int("Width"), height = camera.Int("Height");
    auto frame = NewFrame(camera, width, height);
    const RenderRequest request =
        RequestFor(camera, camera.pendingLighting, height, camera.Int("SensorHeight"), camera.Int("OffsetY"));
    const Image image = _renderer.Render(request);
    if (image->size() == frame->pixels.size())
        std::memcpy(frame->pixels.data(), image->data(), image->size());
    Deliver(camera, std::move(frame));
}

void Station::StartLineFrame(SimCamera& camera) {
    if (camera.lineFrameActive || !camera.started)
        return;
    camera.lineFrame = NewFrame(camera, camera.Int("Width"), camera.Int("Height"));
    camera.linesInFrame = 0;
    camera.currentMaximumRate = 0;
    camera.lastLineTrigger = 0;
    camera.lineFrameActive = true;
}

void Station::CaptureLine(SimCamera& camera, const Lighting& lighting) {
    if (camera.lastLineTrigger > 0 && _now > camera.lastLineTrigger) {
        const double rate = 1e9 / static_cast<double>(_now - camera.lastLineTrigger);
        camera.currentMaximumRate = std::max(camera.currentMaximumRate, rate);
    }
    camera.lastLineTrigger = _now;
    Frame& frame = *camera.lineFrame;
    const RenderRequest request = RequestFor(camera, lighting, LineSceneHeight, LineSceneHeight, 0);
    const Image strip = _renderer.Render(request);
    const int64_t sceneRow = camera.objectLine % LineSceneHeight;
    const size_t width = static_cast<size_t>(frame.width);
    if (strip->size() >= (static_cast<size_t>(sceneRow) + 1) * width)
        std::memcpy(frame.pixels.data() + static_cast<size_t>(camera.linesInFrame) * width,
                    strip->data() + static_cast<size_t>(sceneRow) * width, width);
    ++camera.linesInFrame;
    if (camera.linesInFrame % 4 == 0)
        ++camera.objectLine;
    if (camera.linesInFrame >= frame.height) {
        camera.lineFrameActive = false;
        camera.lastFrameMaximumRate = camera.currentMaximumRate;
        Deliver(camera, std::move(camera.lineFrame));
    }
}

// ---- Controller operations ---------------------------------------------------------------------

Outcome Station::CheckController(int32_t id, SimController*& controller, const char* operation,
                                 const std::string& name) {
    Advance();
    controller = Controller(id);
    if (!controller)
        return {"No controller answers at device id " + std::to_string(id) + "."};
    FaultStrikes(controller->faults, controller->offlineFrom, controller->offlineUntil, operation, name);
    if (controller->Offline(_now)) {
        controller->connected = false;
        Enable(*controller, false);
        return {"Controller " + std::to_string(id) + " does not answer."};
    }
    if (std::strcmp(operation, "connect") != 0 && !controller->connected)
        return {"Controller " + std::to_string(id) + " is not connected."};
    return {};
}

std::vector<std::pair<int32_t, std::string>> Station::Peers() {
    std::vector<std::pair<int32_t, std::string>> peers;
    for (const auto& [id, controller] : _controllers)
        peers.emplace_back(id, controller->serial);
    return peers;
}

Outcome Station::Connect(int32_t id) {
    SimController* c = nullptr;
    Outcome outcome = CheckController(id, c, "connect", "");
    if (outcome.Ok() && c->connectFailures > 0) {
        --c->connectFailures;
        outcome.error = "Controller " + std::to_string(id) + " did not answer the connection request.";
    }
    if (outcome.Ok())
        c->connected = true;
    TraceLine(ControllerDevice(id), {"connect", outcome.Ok() ? "ok" : "failed"});
    return outcome;
}

Outcome Station::LoadFactory(int32_t id) {
    SimController* c = nullptr;
    Outcome outcome = CheckController(id, c, "factory", "");
    if (outcome.Ok()) {
        Enable(*c, false);
        c->registers = c->factory;
        Propagate();
    }
    std::vector<std::string> fields{"factory"};
    if (!outcome.Ok())
        fields.push_back("error: " + outcome.error);
    TraceLine(ControllerDevice(id), fields);
    return outcome;
}

Outcome Station::RegisterCount(int32_t id, int32_t& count) {
    SimController* c = nullptr;
    Outcome outcome = CheckController(id, c, "count", "");
    if (outcome.Ok())
        count = static_cast<int32_t>(c->order.size());
    return outcome;
}

Outcome Station::RegisterName(int32_t id, int32_t index, std::string& name) {
    SimController* c = nullptr;
    Outcome outcome = CheckController(id, c, "name", "");
    if (outcome.Ok()) {
        if (index < 0 || static_cast<size_t>(index) >= c->order.size())
            outcome.error = "Register index " + std::to_string(index) + " is out of range.";
        else
            name = c->order[static_cast<size_t>(index)];
    }
    return outcome;
}

Outcome Station::GetRegister(int32_t id, const std::string& name, std::string& value) {
    SimController* c = nullptr;
    Outcome outcome = CheckController(id, c, "get", name);
    if (outcome.Ok() && !c->registers.count(name))
        outcome.error = "Register " + name + " does not exist.";
    if (outcome.Ok()) {
        if (name == "Sequencer.ExecutionProgress") {
            value = std::to_string(c->progress);
        } else if (name.rfind("Light0.Channel", 0) == 0 && name.size() > 15 &&
                   name.substr(15) == ".Current") {
            const int channel = name[14] - '0';
            value = NumberText(c->currents[static_cast<size_t>(channel & 3)]);
        } else if (name == "PositionEncoder.Connected") {
            value = c->encoder.connected ? "1" : "0";
        } else if (name == "PositionEncoder.PositionTracking.Position") {
            value = std::to_string(EncoderCount(*c, _now));
        } else {
            value = c->registers[name];
        }
    }
    std::vector<std::string> fields{"get", name, outcome.Ok() ? value : std::string()};
    if (!outcome.Ok())
        fields.push_back("error: " + outcome.error);
    TraceLine(ControllerDevice(id), fields);
    return outcome;
}

Outcome Station::SetRegister(int32_t id, const std::string& name, const std::string& value) {
    SimController* c = nullptr;
    Outcome outcome = CheckController(id, c, "set", name);
    if (outcome.Ok() && !c->registers.count(name))
        outcome.error = "Register " + name + " does not exist.";
    if (outcome.Ok() && IsReadOnlyRegister(name))
        outcome.error = "Register " + name + " is read-only.";
    if (outcome.Ok()) {
        if (const std::string reason = CheckRegisterValue(name, value); !reason.empty())
            outcome.error = "Register " + name + " refused the value \"" + value + "\": " + reason + ".";
    }
    if (outcome.Ok()) {
        if (name == "Sequencer.Enabled") {
            c->registers[name] = IsTrue(value) ? "1" : "0";
            Enable(*c, IsTrue(value));
        } else if (name == "PositionEncoder.IncrementsPerRevolution") {
            const double requested = std::strtod(value.c_str(), nullptr);
            c->registers[name] = NumberText(
                std::clamp(std::floor(requested), 1.0, static_cast<double>(c->maxEncoderIncrements)));
        } else if (name == "PositionEncoder.PositionTracking.ResetPosition") {
            if (IsTrue(value)) {
                c->encoder.resetTime = _now;
                c->encoder.lastCount = 0;
            }
        } else {
            c->registers[name] = value;
        }
        Propagate();
    }
    std::vector<std::string> fields{"set", name, value};
    if (!outcome.Ok())
        fields.push_back("error: " + outcome.error);
    TraceLine(ControllerDevice(id), fields);
    return outcome;
}

// ---- Camera operations -------------------------------------------------------------------------

Outcome Station::CheckCamera(const std::string& name, SimCamera*& camera, const char* operation,
                             const std::string& feature) {
    Advance();
    camera = Camera(name);
    if (!camera)
        return {"Image source " + name + " does not exist."};
    FaultStrikes(camera->faults, camera->offlineFrom, camera->offlineUntil, operation, feature);
    if (camera->Offline(_now))
        return {"Camera " + name + " does not answer."};
    return {};
}

Outcome Station::OpenCamera(const std::string& name, const std::string& mode) {
    SimCamera* camera = nullptr;
    Outcome outcome = CheckCamera(name, camera, "open", "");
    if (outcome.Ok() && camera->open)
        outcome.error = "Camera " + name + " is already open.";
    if (outcome.Ok()) {
        camera->open = true;
        camera->openMode = mode;
        camera->started = false;
        camera->frames.clear();
        Propagate();
    }
    TraceLine(CameraDevice(name), outcome.Ok() ? std::vector<std::string>{"open"}
                                               : std::vector<std::string>{"open", "error: " + outcome.error});
    return outcome;
}

Outcome Station::CloseCamera(const std::string& name) {
    SimCamera* camera = nullptr;
    const Outcome outcome = CheckCamera(name, camera, "close", "");
    if (!camera || !camera->open)
        return {};
    // A camera that does not answer is left to itself; the library forgets it all the same.
    camera->open = false;
    camera->started = false;
    camera->framePending = false;
    camera->lineFrameActive = false;
    camera->frames.clear();
    for (CameraLine& line : camera->lines)
        line.source = "Off";
    Propagate();
    TraceLine(CameraDevice(name), outcome.Ok()
                                      ? std::vector<std::string>{"close"}
                                      : std::vector<std::string>{"close", "error: " + outcome.error});
    return outcome;
}

Outcome Station::StartCamera(const std::string& name) {
    SimCamera* camera = nullptr;
    Outcome outcome = CheckCamera(name, camera, "start", "");
    if (outcome.Ok() && !camera->open)
        outcome.error = "Camera " + name + " is not open.";
    if (outcome.Ok() && camera->openMode == "DigitalInputs")
        outcome.error = "Camera " + name + " is opened for probing its lines and cannot stream.";
    if (outcome.Ok() && camera->transport == "MicroEnable" && camera->grabberMemory > 0) {
        const int64_t needed =
            static_cast<int64_t>(camera->Int("Width")) * camera->Int("Height") * GrabberBuffers;
        if (needed > camera->grabberMemory)
            outcome.error = "Fg_AcquireEx failed: the frame grabber cannot allocate " +
                            std::to_string(needed) + " bytes for " + std::to_string(GrabberBuffers) +
                            " image buffers.";
    }
    if (outcome.Ok()) {
        camera->started = true;
        camera->frameCounter = 0;
        for (auto& [index, frame] : camera->frames)
            camera->spareFrames.push_back(std::move(frame));
        camera->frames.clear();
        camera->busyUntil = _now;
        camera->framePending = false;
        camera->lineFrameActive = false;
        for (CameraLine& line : camera->lines)
            if (line.mode == "Input")
                line.level = CameraInputLevel(*camera, line.name);
        Propagate();
    }
    TraceLine(CameraDevice(name), outcome.Ok()
                                      ? std::vector<std::string>{"start"}
                                      : std::vector<std::string>{"start", "error: " + outcome.error});
    return outcome;
}

Outcome Station::StopCamera(const std::string& name) {
    SimCamera* camera = nullptr;
    const Outcome outcome = CheckCamera(name, camera, "stop", "");
    if (!camera || !camera->started)
        return {};
    if (!outcome.Ok()) {
        TraceLine(CameraDevice(name), {"stop", "error: " + outcome.error});
        return outcome;
    }
    camera->started = false;
    camera->framePending = false;
    camera->lineFrameActive = false;
    Propagate();
    TraceLine(CameraDevice(name), {"stop"});
    return {};
}

Outcome Station::SetCameraFeature(const std::string& name, const std::string& feature,
                                  const std::string& value) {
    SimCamera* camera = nullptr;
    Outcome outcome = CheckCamera(name, camera, "set", feature);
    const auto traits = outcome.Ok() ? CameraFeatureSpec(*camera, feature) : std::nullopt;
    if (outcome.Ok() && !camera->open)
        outcome.error = "Camera " + name + " is not open.";
    else if (outcome.Ok() && !traits)
        outcome.error = "Feature " + feature + " does not exist.";
    else if (outcome.Ok() && traits->readOnly)
        outcome.error = "Feature " + feature + " is read-only.";
    else if (outcome.Ok() && traits->lockedWhileStreaming && camera->started)
        outcome.error = "Feature " + feature + " cannot be changed while the camera streams.";
    std::string stored = value;
    if (outcome.Ok()) {
        switch (traits->kind) {
        case FeatureKind::Int:
        case FeatureKind::Float: {
            char* end = nullptr;
            double number = std::strtod(value.c_str(), &end);
            if (value.empty() || !end || *end != '\0' || !std::isfinite(number)) {
                outcome.error = "Feature " + feature + " refused the value \"" + value + "\": not a number.";
                break;
            }
            FeatureLimits limits;
            if (const auto it = camera->limits.find(feature); it != camera->limits.end())
                limits = it->second;
            if (feature == "Width")
                limits.maximum = std::min(
                    limits.maximum, static_cast<double>(camera->Int("SensorWidth") - camera->Int("OffsetX")));
            if (feature == "OffsetX")
                limits.maximum = std::min(
                    limits.maximum, static_cast<double>(camera->Int("SensorWidth") - camera->Int("Width")));
            if (!camera->Linescan() && feature == "Height")
                limits.maximum = std::min(limits.maximum, static_cast<double>(camera->Int("SensorHeight") -
                                                                              camera->Int("OffsetY")));
            if (!camera->Linescan() && feature == "OffsetY")
                limits.maximum = std::min(
                    limits.maximum, static_cast<double>(camera->Int("SensorHeight") - camera->Int("Height")));
            if (traits->kind == FeatureKind::Int)
                number = std::trunc(number);
            if (limits.increment > 0)
                number = limits.minimum > std::numeric_limits<double>::lowest()
                             ? limits.minimum +
                                   std::floor((number - limits.minimum) / limits.increment) * limits.increment
                             : std::floor(number / limits.increment) * limits.increment;
            number = std::clamp(number, limits.minimum, std::max(limits.minimum, limits.maximum));
            stored = NumberText(number);
            break;
        }
        case FeatureKind::Bool:
            if (value != "True" && value != "False" && value != "1" && value != "0")
                outcome.error =
                    "Feature " + feature + " refused the value \"" + value + "\": expected True or False.";
            stored = IsTrue(value) ? "True" : "False";
            break;
        case FeatureKind::Enum:
            if (std::find(traits->values.begin(), traits->values.end(), value) == traits->values.end())
                outcome.error =
                    "Feature " + feature + " refused the value \"" + value + "\": not one of its entries.";
            break;
        case FeatureKind::Text:
            break;
        }
    }
    if (outcome.Ok()) {
        const std::string selector = camera->features["TriggerSelector"];
        if (feature == "TriggerMode" || feature == "TriggerSource") {
            camera->features[feature + "[" + selector + "]"] = stored;
        } else if (feature == "LineSource") {
            CameraLine* line = camera->SelectedLine();
            if (!line || line->mode != "Output")
                outcome.error =
                    "Feature LineSource refused the value \"" + value + "\": the selected line is no output.";
            else
                line->source = stored;
        } else if (feature == "UserOutputValue") {
            camera->userOutputValue = stored;
        } else {
            camera->features[feature] = stored;
        }
        Propagate();
    }
    std::vector<std::string> fields{"set", feature, value};
    if (!outcome.Ok())
        fields.push_back("error: " + outcome.error);
    TraceLine(CameraDevice(name), fields);
    return outcome;
}

Outcome Station::GetCameraFeature(const std::string& name, const std::string& feature, std::string& value) {
    SimCamera* camera = nullptr;
    Outcome outcome = CheckCamera(name, camera, "get", feature);
    const auto traits = outcome.Ok() ? CameraFeatureSpec(*camera, feature) : std::nullopt;
    if (outcome.Ok() && !camera->open)
        outcome.error = "Camera " + name + " is not open.";
    else if (outcome.Ok() && !traits)
        outcome.error = "Feature " + feature + " does not exist.";
    if (outcome.Ok()) {
        const std::string selector = camera->features["TriggerSelector"];
        CameraLine* line = camera->SelectedLine();
        if (feature == "TriggerMode" || feature == "TriggerSource")
            value = camera->features[feature + "[" + selector + "]"];
        else if (feature == "LineMode")
            value = line ? line->mode : "";
        else if (feature == "LineSource")
            value = line ? line->source : "Off";
        else if (feature == "LineStatus")
            value = line && (line->mode == "Output" ? CameraOutputLevel(*camera, *line)
                                                    : CameraInputLevel(*camera, line->name))
                        ? "True"
                        : "False";
        else if (feature == "UserOutputValue")
            value = camera->userOutputValue;
        else if (feature == "AcquisitionFrameRate")
            value = NumberText(camera->FrameRate());
        else if (feature == "AcquisitionLineRateMaximum")
            value = NumberText(camera->LineRateMaximum());
        else if (feature == "AcquisitionLineRateCurrentMaximum")
            value = NumberText(std::max(camera->currentMaximumRate, camera->lastFrameMaximumRate));
        else
            value = camera->features[feature];
    }
    std::vector<std::string> fields{"get", feature, outcome.Ok() ? value : std::string()};
    if (!outcome.Ok())
        fields.push_back("error: " + outcome.error);
    TraceLine(CameraDevice(name), fields);
    return outcome;
}

Outcome Station::GetCameraEnum(const std::string& name, const std::string& feature,
                               std::vector<std::string>& values) {
    SimCamera* camera = nullptr;
    Outcome outcome = CheckCamera(name, camera, "enum", feature);
    const auto traits = outcome.Ok() ? CameraFeatureSpec(*camera, feature) : std::nullopt;
    if (outcome.Ok() && !camera->open)
        outcome.error = "Camera " + name + " is not open.";
    else if (outcome.Ok() && (!traits || traits->kind != FeatureKind::Enum))
        outcome.error = "Feature " + feature + " is no enumeration.";
    if (outcome.Ok())
        values = traits->values;
    return outcome;
}

Outcome Station::FrameIndex(const std::string& name, int64_t& index) {
    SimCamera* camera = nullptr;
    Outcome outcome = CheckCamera(name, camera, "frameindex", "");
    if (outcome.Ok())
        index = camera->frameCounter;
    return outcome;
}

Outcome Station::GetFrame(const std::string& name, int64_t index, Frame*& frame) {
    SimCamera* camera = nullptr;
    Outcome outcome = CheckCamera(name, camera, "getframe", "");
    if (!outcome.Ok())
        return outcome;
    const auto it = camera->frames.find(index);
    if (it == camera->frames.end())
        return {"Frame " + std::to_string(index) + " is not available."};
    if (it->second->transferError)
        return {"bufferResult failed. Frame " + std::to_string(index) + " of " + name +
                " arrived incomplete; packets were lost on the way."};
    frame = it->second.get();
    return {};
}

Outcome Station::ReleaseFrame(const std::string& name, int64_t index) {
    SimCamera* camera = Camera(name);
    if (!camera)
        return {"Image source " + name + " does not exist."};
    const auto it = camera->frames.find(index);
    if (it == camera->frames.end())
        return {"Frame " + std::to_string(index) + " is not available."};
    camera->spareFrames.push_back(std::move(it->second));
    camera->frames.erase(it);
    return {};
}

} // namespace zeb::station
