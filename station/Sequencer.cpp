#include "Sequencer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace zeb::station {

namespace {

int32_t HexByte(const std::string& sequence, int32_t step) {
    const size_t at = static_cast<size_t>(step) * 2;
    if (at + 2 > sequence.size())
        return -1;
    return static_cast<int32_t>(LeadingInteger(sequence.substr(at, 2), 16));
}

// Nanoseconds from a register's microseconds or nanoseconds, within what a controller can count.
Nanoseconds Duration(double nanoseconds) {
    return static_cast<Nanoseconds>(std::clamp(nanoseconds, 0.0, 1e15));
}

int64_t SequenceLength(const SimController& c) {
    return std::max<int64_t>(1, LeadingInteger(c.Get("Sequencer.SequenceLength")));
}

} // namespace

Nanoseconds Sequencer::GeneratorPeriod(const SimController& c) {
    return std::max<Nanoseconds>(1000, Duration(LeadingNumber(c.Get("FrequencyGenerator.Period"))));
}

Nanoseconds Sequencer::DeadTime(const SimController& c) {
    return Duration(LeadingNumber(c.Get("Sequencer.Clock.DeadTime")) * 1000.0);
}

void Sequencer::Enable(SimController& c, bool on, Nanoseconds now) {
    if (on == c.enabled)
        return;
    c.enabled = on;
    c.armed = false;
    c.progress = on ? 1 : 0;
    c.stepsDone = 0;
    c.lastTick = now;
    c.lastStep = std::numeric_limits<Nanoseconds>::min() / 2;
    c.clockLevel = _wiring.ClockLevel(c, now);
    c.triggerLevel = _wiring.SeenTriggerLevel(c, now);
    c.encoder.lastCount = EncoderCount(c, now);
}

bool Sequencer::OnSignals(SimController& c, Nanoseconds now) {
    // A sequencer that is off takes no edge: Enable reads the levels afresh when it is switched on.
    if (!c.enabled || c.Offline(now))
        return false;
    bool changed = false;
    const bool trigger = _wiring.SeenTriggerLevel(c, now);
    const bool triggerEnabled = c.Flag("Sequencer.Trigger.Enabled");
    if (trigger && !c.triggerLevel && c.enabled && triggerEnabled && !c.armed) {
        c.armed = true;
        c.progress = 2;
        changed = true;
        if (c.Get("AuxIo.Output1.Source") == "SequenceTrigger")
            Pulse(c, "AuxOutput1", Lighting{}, now);
    }
    c.triggerLevel = trigger;
    const bool clock = _wiring.ClockLevel(c, now);
    const bool levelSensitive = c.Flag("Sequencer.Clock.LevelSensitive");
    if (c.enabled && !c.armed && !triggerEnabled && (levelSensitive || !clock)) {
        c.armed = true;
        c.progress = 2;
        changed = true;
    } else if (c.enabled && c.armed && !levelSensitive && clock && !c.clockLevel && !SequenceDone(c)) {
        Step(c, now);
        changed = true;
    }
    c.clockLevel = clock;
    return changed;
}

int64_t Sequencer::TotalSteps(const SimController& c) {
    const int64_t repeat = LeadingInteger(c.Get("Sequencer.SequenceRepeatCount"));
    const int64_t passes = std::max<int64_t>(1, LeadingInteger(c.Get("Sequencer.PassCount")));
    if (repeat <= 0)
        return -1; // endless
    return static_cast<int64_t>(std::min(1e18, static_cast<double>(SequenceLength(c)) * repeat * passes));
}

bool Sequencer::SequenceDone(const SimController& c) {
    const int64_t total = TotalSteps(c);
    return total >= 0 && c.stepsDone >= total;
}

Lighting Sequencer::StepLighting(const SimController& c, int32_t stepIndex) {
    Lighting lighting;
    const int32_t mask = HexByte(c.Get("Sequencer.LightSequence"), stepIndex);
    const int64_t orientation = LeadingInteger(c.Get("Sequencer.Orientation"));
    const double globalBrightness = LeadingNumber(c.Get("Light.GlobalChannelParameters.Brightness"));
    const double globalPulse = LeadingNumber(c.Get("Light.GlobalChannelParameters.PulseWidth"));
    for (int32_t channel = 0; channel < 4; ++channel) {
        const std::string prefix = "Light0.Channel" + std::to_string(channel);
        if (mask < 0 || !(mask & (1 << channel)) || c.currents[static_cast<size_t>(channel)] <= 0 ||
            c.Get(prefix + ".TriggerSource") != "Sequencer")
            continue;
        const bool global = c.Flag(prefix + ".UseGlobalParameters");
        // A light gives no less than nothing, and no more than any controller drives.
        const double brightness =
            std::clamp(global ? globalBrightness : LeadingNumber(c.Get(prefix + ".Brightness")), 0.0, 1e6);
        const double pulse =
            std::clamp(global ? globalPulse : LeadingNumber(c.Get(prefix + ".PulseWidth")), 0.0, 1e9);
        // The pattern is turned by the set orientation; the dome itself may be mounted turned.
        const double angle =
            std::fmod(Dome::QuadrantAzimuth(channel) + orientation - c.domeRotation + 720.0, 360.0);
        int32_t quadrant = 0;
        for (int32_t q = 0; q < 4; ++q)
            if (std::fabs(Dome::QuadrantAzimuth(q) - angle) < 1.0)
                quadrant = q;
        lighting.brightness[static_cast<size_t>(quadrant)] += static_cast<float>(brightness);
        lighting.pulseMicroseconds = std::max(lighting.pulseMicroseconds, static_cast<float>(pulse));
    }
    lighting.domeRadius = c.domeRadius;
    return lighting;
}

void Sequencer::Pulse(const SimController& c, const std::string& port, const Lighting& lighting,
                      Nanoseconds now) {
    for (const Wiring::Receiver& receiver : _wiring.Receivers(c, port))
        _cameras.Trigger(*receiver.camera, receiver.line, lighting, now);
}

void Sequencer::Step(SimController& c, Nanoseconds now) {
    const int32_t stepIndex = static_cast<int32_t>(c.stepsDone % SequenceLength(c));
    c.stepsDone += 1;
    c.progress += 1;
    c.lastStep = now;
    const int32_t control = HexByte(c.Get("Sequencer.ControlSequence"), stepIndex);
    if (control == 0)
        return;
    Lighting lighting = StepLighting(c, stepIndex);
    lighting.step = stepIndex;
    lighting.transport = TransportPosition(c, now);
    for (const char* port : {"Camera0Output0", "Camera1Output0", "Camera2Output0", "Camera0Output1",
                             "Camera1Output1", "Camera2Output1"})
        Pulse(c, port, lighting, now);
    if (c.Get("AuxIo.Output0.Source") == "Sequencer")
        Pulse(c, "AuxOutput0", lighting, now);
}

double Sequencer::EncoderCountsPerRevolution(const SimController& c) {
    const double increments = std::max(1.0, LeadingNumber(c.Get("PositionEncoder.IncrementsPerRevolution")));
    return increments * (c.Flag("PositionEncoder.PreProcessing.UseQuarterIncrements") ? 4 : 1);
}

double Sequencer::TurnedSinceReset(const SimController& c, Nanoseconds time) {
    const auto& encoder = c.encoder;
    if (!encoder.connected)
        return 0;
    const double revolutions = encoder.speed * static_cast<double>(time - encoder.resetTime) / 1e9;
    if (!encoder.travel)
        return revolutions;
    return *encoder.travel >= 0 ? std::min(revolutions, *encoder.travel)
                                : std::max(revolutions, *encoder.travel);
}

int64_t Sequencer::EncoderCount(const SimController& c, Nanoseconds time) {
    return std::llround(TurnedSinceReset(c, time) * EncoderCountsPerRevolution(c));
}

void Sequencer::ResetEncoder(SimController& c, Nanoseconds now) {
    c.encoder.turnedBeforeReset += TurnedSinceReset(c, now);
    c.encoder.resetTime = now;
    c.encoder.lastCount = 0;
}

double Sequencer::TransportPosition(const SimController& c, Nanoseconds time) {
    if (c.encoder.connected)
        return (c.encoder.turnedBeforeReset + TurnedSinceReset(c, time)) *
               c.transport.millimetresPerRevolution;
    return c.transport.speed * static_cast<double>(time) / 1e9;
}

Nanoseconds Sequencer::NextEncoderTick(const SimController& c) {
    const auto& encoder = c.encoder;
    if (!encoder.connected || encoder.speed == 0)
        return Never;
    const double perRevolution = EncoderCountsPerRevolution(c);
    const double countsPerSecond = std::fabs(encoder.speed) * perRevolution;
    const int64_t next = std::llabs(c.encoder.lastCount) + 1;
    if (encoder.travel && static_cast<double>(next) > std::fabs(*encoder.travel) * perRevolution + 0.5)
        return Never;
    // One nanosecond past the moment the rounded count reaches `next`, so the count has surely moved.
    return encoder.resetTime +
           static_cast<Nanoseconds>(std::ceil((static_cast<double>(next) - 0.5) / countsPerSecond * 1e9)) + 1;
}

Nanoseconds Sequencer::NextEvent(const SimController& c, Nanoseconds now) const {
    Nanoseconds next = Never;
    if (c.Offline(now) || !c.enabled)
        return next;
    const std::string& source = c.Get("Sequencer.Clock.Source");
    const bool listensToInput7 =
        (!c.armed && c.Flag("Sequencer.Trigger.Enabled")) || source == "DigitalIoInput7";
    if (listensToInput7 && c.triggerInput.period > 0) {
        const Nanoseconds period = c.triggerInput.period;
        const Nanoseconds k = now / period;
        const Nanoseconds fall = k * period + c.triggerInput.pulse;
        next = std::min(next, fall > now ? fall : (k + 1) * period);
    }
    if (!c.armed || SequenceDone(c))
        return next;
    if (source == "FrequencyGenerator") {
        next = std::min(next, c.lastTick + GeneratorPeriod(c));
    } else if (source == "PositionEncoder") {
        next = std::min(next, NextEncoderTick(c));
    } else if (c.Flag("Sequencer.Clock.LevelSensitive") && _wiring.ClockLevel(c, now)) {
        next = std::min(next, std::max(now, c.lastStep + DeadTime(c)));
    }
    return next;
}

bool Sequencer::Listened(const SimController& c) const {
    for (const Cable& cable : _devices.cables) {
        if (cable.controller != c.deviceId || !IsOutputPort(cable.port))
            continue;
        const SimCamera* camera = _devices.Camera(cable.camera);
        if (!camera || !camera->started)
            continue;
        if (camera->Linescan()
                ? (camera->lineFrameActive && camera->Feature("TriggerSource[LineStart]") == cable.line) ||
                      camera->Feature("TriggerSource[AcquisitionStart]") == cable.line
                : camera->Feature("TriggerSource[FrameStart]") == cable.line)
            return true;
    }
    return false;
}

void Sequencer::FastForward(SimController& c, Nanoseconds target) const {
    if (!c.enabled || !c.armed || c.Offline(target))
        return;
    const std::string& source = c.Get("Sequencer.Clock.Source");
    int64_t steps = 0;
    if (source == "FrequencyGenerator") {
        const Nanoseconds period = GeneratorPeriod(c);
        const int64_t ticks = (target - c.lastTick) / period;
        if (ticks <= 0)
            return;
        steps = ticks / std::max<int64_t>(1, (DeadTime(c) + period - 1) / period);
        c.lastTick += ticks * period;
    } else if (source == "PositionEncoder") {
        const int64_t count = EncoderCount(c, target);
        const std::string& direction = c.Get("PositionEncoder.ClockAdjustment.Direction");
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

void Sequencer::RunClock(SimController& c, Nanoseconds now) {
    if (!c.enabled || !c.armed || c.Offline(now))
        return;
    const std::string& source = c.Get("Sequencer.Clock.Source");
    if (source == "FrequencyGenerator") {
        const Nanoseconds period = GeneratorPeriod(c);
        const Nanoseconds deadTime = DeadTime(c);
        while (c.lastTick + period <= now) {
            c.lastTick += period;
            if (!SequenceDone(c) && c.lastTick - c.lastStep >= deadTime)
                Step(c, now);
        }
    } else if (source == "PositionEncoder") {
        const int64_t count = EncoderCount(c, now);
        const std::string& direction = c.Get("PositionEncoder.ClockAdjustment.Direction");
        int64_t ticks = count - c.encoder.lastCount;
        if (direction == "Both")
            ticks = std::llabs(ticks);
        else if (direction == "Backward")
            ticks = -ticks;
        c.encoder.lastCount = count;
        for (int64_t t = 0; t < ticks && !SequenceDone(c); ++t)
            Step(c, now);
    } else if (c.Flag("Sequencer.Clock.LevelSensitive") && _wiring.ClockLevel(c, now) && !SequenceDone(c) &&
               now >= c.lastStep + DeadTime(c)) {
        Step(c, now);
    }
}

} // namespace zeb::station
