// The controller's sequencer and the clocks that drive it: arming on its trigger, one step per
// clock (a camera input port, edge- or level-sensitive with a dead time between steps, the frequency
// generator, the position encoder, HighLevel or input 7), and what each step does: light the
// channels of its light-sequence byte and pulse the camera outputs and AuxOutput0. The encoder
// measures the transport that carries the object under a line camera.
#pragma once

#include "Cameras.h"
#include "Devices.h"
#include "Wiring.h"

namespace zeb::station {

class Sequencer {
public:
    Sequencer(const DeviceSet& devices, const Wiring& wiring, CameraSimulation& cameras)
        : _devices(devices), _wiring(wiring), _cameras(cameras) {}

    // "Sequencer.Enabled" written: starts (progress 1) or stops (progress 0) the sequencer.
    void Enable(SimController& controller, bool on, Nanoseconds now);
    // Acts on the levels of the trigger and clock as they are now: arms, or steps on a clock edge.
    // Returns whether anything changed.
    bool OnSignals(SimController& controller, Nanoseconds now);
    // Runs the steps that the generator, the encoder or a level-sensitive clock owe by `now`.
    void RunClock(SimController& controller, Nanoseconds now);
    // The next moment at which this controller's sequencer or trigger input changes by itself.
    Nanoseconds NextEvent(const SimController& controller, Nanoseconds now) const;
    // Whether a started camera takes this controller's pulses.
    bool Listened(const SimController& controller) const;
    // Counts the steps of a generator or encoder clock up to `target` without running them.
    void FastForward(SimController& controller, Nanoseconds target) const;
    // A pulse on a controller output port, carrying the light of the current step.
    void Pulse(const SimController& controller, const std::string& port, const Lighting& lighting,
               Nanoseconds now);

    // The encoder's count since its last position reset.
    static int64_t EncoderCount(const SimController& controller, Nanoseconds time);
    // A position reset of the encoder.
    static void ResetEncoder(SimController& controller, Nanoseconds now);
    // How far the transport has carried the object: with the encoder when one is connected, else at
    // the transport's own speed.
    static double TransportPosition(const SimController& controller, Nanoseconds time);

private:
    void Step(SimController& controller, Nanoseconds now);
    static int64_t TotalSteps(const SimController& controller);
    static bool SequenceDone(const SimController& controller);
    static Lighting StepLighting(const SimController& controller, int32_t stepIndex);
    static Nanoseconds NextEncoderTick(const SimController& controller);
    // Revolutions since the last position reset, up to the travel of a hand-turned encoder.
    static double TurnedSinceReset(const SimController& controller, Nanoseconds time);
    static double EncoderCountsPerRevolution(const SimController& controller);
    static Nanoseconds GeneratorPeriod(const SimController& controller);
    static Nanoseconds DeadTime(const SimController& controller);

    const DeviceSet& _devices;
    const Wiring& _wiring;
    CameraSimulation& _cameras;
};

} // namespace zeb::station
