// Signal levels through the cables: what each controller port and camera line sees at a moment,
// after the camera's line sources, the controller's output sources, the wires that invert and the
// ports' polarity registers.
#pragma once

#include "Devices.h"

#include <string>
#include <vector>

namespace zeb::station {

class Wiring {
public:
    explicit Wiring(const DeviceSet& devices) : _devices(devices) {}

    // The level a camera drives on one of its output lines.
    bool CameraOutputLevel(const SimCamera& camera, const CameraLine& line, Nanoseconds now) const;
    // The level a camera sees on one of its input lines.
    bool CameraInputLevel(const SimCamera& camera, const std::string& line) const;
    // The level of a controller input port, after its polarity register.
    bool ControllerInputLevel(const SimController& controller, const std::string& port,
                              Nanoseconds now) const;
    // The idle level of a controller output port, after its polarity register.
    bool ControllerOutputLevel(const SimController& controller, const std::string& port) const;
    // The level on digital input 7: its own pulses and any camera output wired to it.
    bool TriggerInputLevel(const SimController& controller, Nanoseconds now) const;
    // The level of the sequencer's clock source, and of its trigger source as the sequencer sees it.
    bool ClockLevel(const SimController& controller, Nanoseconds now) const;
    bool SeenTriggerLevel(const SimController& controller, Nanoseconds now) const;

    struct Receiver {
        SimCamera* camera;
        std::string line;
    };
    // The camera lines a controller port is wired to.
    std::vector<Receiver> Receivers(const SimController& controller, const std::string& port) const;

private:
    // Whether any camera output wired to the port drives it high.
    bool WiredCameraLevel(const SimController& controller, const std::string& port, Nanoseconds now) const;

    const DeviceSet& _devices;
};

} // namespace zeb::station
