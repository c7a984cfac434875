// Time in the station: it advances lazily, whenever the station is called, from the steady clock
// (or a clock a test sets by hand) to the present, running every event on the way: sequencer steps,
// trigger-input pulses, frames read out, and the edges these make on the wires. No threads. Every
// event happens at its own moment on the station's clock, however late the call that runs it: a
// host thread scheduled late loses no trigger and no frame, as a real camera keeps its timing
// whatever the computer does.
#pragma once

#include "Cameras.h"
#include "Devices.h"
#include "Sequencer.h"
#include "Wiring.h"

namespace zeb::station {

class Timeline {
public:
    Timeline(DeviceSet& devices, const Wiring& wiring, Sequencer& sequencer, CameraSimulation& cameras);

    // The moment the simulation has reached.
    Nanoseconds Present() const { return _present; }
    // The moment the clock shows: nanoseconds since the station was made, or the manual time.
    Nanoseconds Now() const;
    void UseManualClock(bool manual) { _manualClock = manual; }
    void SetManualTime(Nanoseconds time) { _manualTime = time; }

    // Runs every event up to the clock's present, and again up to the present at its end, so that
    // an answer holds for the moment the call returns: making frames, or a thread the system set
    // aside meanwhile, takes time in which more frames may have come.
    void Advance();
    void AdvanceTo(Nanoseconds target);
    // Re-reads every level after a change and acts on the edges it finds.
    void Propagate();

private:
    bool AnyTriggerInput() const;

    DeviceSet& _devices;
    const Wiring& _wiring;
    Sequencer& _sequencer;
    CameraSimulation& _cameras;
    Nanoseconds _present = 0;
    Nanoseconds _epoch = 0;
    bool _manualClock = false;
    Nanoseconds _manualTime = 0;
};

} // namespace zeb::station
