#include "Timeline.h"

#include <algorithm>
#include <chrono>

namespace zeb::station {

namespace {

constexpr int64_t MaxEventsPerAdvance = 100'000;
// Rounds of catching up with the clock in one call, and the time left over that needs no further
// round: a station slower than its own clock answers after these rounds all the same.
constexpr int CatchUpRounds = 4;
constexpr Nanoseconds CatchUpSlack = 20'000;

Nanoseconds SteadyNow() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

Timeline::Timeline(DeviceSet& devices, const Wiring& wiring, Sequencer& sequencer, CameraSimulation& cameras)
    : _devices(devices), _wiring(wiring), _sequencer(sequencer), _cameras(cameras), _epoch(SteadyNow()) {}

Nanoseconds Timeline::Now() const {
    return _manualClock ? _manualTime : SteadyNow() - _epoch;
}

void Timeline::Advance() {
    for (int round = 0; round < CatchUpRounds; ++round) {
        const Nanoseconds now = Now();
        if (round > 0 && now - _present < CatchUpSlack)
            return;
        AdvanceTo(now);
    }
}

void Timeline::Propagate() {
    for (int iteration = 0; iteration < 8; ++iteration) {
        bool changed = false;
        for (auto& [id, controller] : _devices.controllers)
            changed = _sequencer.OnSignals(*controller, _present) || changed;
        // Only a streaming line camera takes an edge on its inputs (the start of a frame); a camera
        // reads its input levels afresh when it starts.
        for (auto& camera : _devices.cameras) {
            if (!camera->Linescan() || !camera->started)
                continue;
            for (CameraLine& line : camera->lines) {
                if (line.mode != "Input")
                    continue;
                const bool level = _wiring.CameraInputLevel(*camera, line.name);
                if (level && !line.level && camera->Feature("TriggerSource[AcquisitionStart]") == line.name) {
                    _cameras.StartLineFrame(*camera);
                    changed = true;
                }
                line.level = level;
            }
        }
        if (!changed)
            return;
    }
}

void Timeline::AdvanceTo(Nanoseconds target) {
    // Clocks that nobody listens to are counted, not stepped: a fast generator feeding an endless
    // sequence costs nothing while no camera takes its pulses. Only a running sequence has steps to count.
    for (auto& [id, controller] : _devices.controllers)
        if (controller->enabled && controller->armed && !_sequencer.Listened(*controller))
            _sequencer.FastForward(*controller, target);
    int64_t events = 0;
    while (true) {
        Nanoseconds next = Never;
        for (auto& [id, controller] : _devices.controllers)
            next = std::min(next, _sequencer.NextEvent(*controller, _present));
        for (auto& camera : _devices.cameras)
            next = std::min(next, CameraSimulation::NextEvent(*camera));
        if (next > target || next == Never)
            break;
        if (++events > MaxEventsPerAdvance) {
            // More steps than a call may take: the rest is counted, as a device drops what nobody read.
            for (auto& [id, controller] : _devices.controllers)
                _sequencer.FastForward(*controller, target);
            break;
        }
        _present = std::max(_present, next);
        for (auto& camera : _devices.cameras)
            _cameras.Complete(*camera, _present);
        Propagate();
        for (auto& [id, controller] : _devices.controllers)
            _sequencer.RunClock(*controller, _present);
        Propagate();
    }
    // Levels change only at events (and at operations, which propagate themselves), so a quiet
    // stretch of time needs no new look at the wires.
    const bool trigger = _present < target && AnyTriggerInput();
    _present = std::max(_present, target);
    if (events > 0 || trigger)
        Propagate();
}

bool Timeline::AnyTriggerInput() const {
    for (const auto& [id, controller] : _devices.controllers)
        if (controller->triggerInput.period > 0)
            return true;
    return false;
}

} // namespace zeb::station
