#include "Wiring.h"

namespace zeb::station {

bool Wiring::CameraOutputLevel(const SimCamera& camera, const CameraLine& line, Nanoseconds now) const {
    if (line.mode != "Output" || !camera.open)
        return false;
    if (line.source == "UserOutput1")
        return IsTrue(camera.userOutputValue);
    if (line.source == "TriggerReady")
        return camera.Ready(now);
    if (line.source == "ExposureActive")
        return camera.started && now < camera.busyUntil;
    return false;
}

bool Wiring::WiredCameraLevel(const SimController& controller, const std::string& port,
                              Nanoseconds now) const {
    bool level = false;
    for (const Cable& cable : _devices.cables)
        if (cable.controller == controller.deviceId && cable.port == port)
            if (const SimCamera* camera = _devices.Camera(cable.camera))
                if (const CameraLine* line = camera->Line(cable.line))
                    level = level || (CameraOutputLevel(*camera, *line, now) != cable.inverted);
    return level;
}

bool Wiring::TriggerInputLevel(const SimController& controller, Nanoseconds now) const {
    bool level = false;
    const auto& input = controller.triggerInput;
    if (input.period > 0 && now >= 0)
        level = (now % input.period) < input.pulse && now >= input.period;
    return level || WiredCameraLevel(controller, "DigitalIoInput7", now);
}

bool Wiring::ControllerInputLevel(const SimController& controller, const std::string& port,
                                  Nanoseconds now) const {
    const bool level = port == "DigitalIoInput7" ? TriggerInputLevel(controller, now)
                                                 : WiredCameraLevel(controller, port, now);
    return level != controller.Flag(PolarityRegister(port));
}

bool Wiring::ControllerOutputLevel(const SimController& controller, const std::string& port) const {
    bool level = false;
    const bool aux0 = port == "AuxOutput0";
    if (aux0 || port == "AuxOutput1") {
        const std::string& source = controller.Get(aux0 ? "AuxIo.Output0.Source" : "AuxIo.Output1.Source");
        if (source == "State")
            level = controller.Flag(aux0 ? "AuxIo.Output0.State" : "AuxIo.Output1.State");
        else if (source == "SequencerEnabled")
            level = controller.enabled;
    }
    return level != controller.Flag(PolarityRegister(port));
}

bool Wiring::CameraInputLevel(const SimCamera& camera, const std::string& lineName) const {
    bool level = false;
    for (const Cable& cable : _devices.cables)
        if (cable.camera == camera.name && cable.line == lineName && IsOutputPort(cable.port))
            if (const SimController* controller = _devices.Controller(cable.controller))
                level = level || (ControllerOutputLevel(*controller, cable.port) != cable.inverted);
    return level;
}

bool Wiring::ClockLevel(const SimController& controller, Nanoseconds now) const {
    const std::string& source = controller.Get("Sequencer.Clock.Source");
    if (source == "HighLevel")
        return true;
    if (source.starts_with("Camera") || source == "DigitalIoInput7")
        return ControllerInputLevel(controller, source, now);
    return false; // frequency generator and encoder clock by ticks; an empty source never clocks
}

bool Wiring::SeenTriggerLevel(const SimController& controller, Nanoseconds now) const {
    if (controller.Get("Sequencer.Trigger.Source") != "DigitalIoInput7")
        return false;
    return ControllerInputLevel(controller, "DigitalIoInput7", now);
}

std::vector<Wiring::Receiver> Wiring::Receivers(const SimController& controller,
                                                const std::string& port) const {
    std::vector<Receiver> receivers;
    for (const Cable& cable : _devices.cables)
        if (cable.controller == controller.deviceId && cable.port == port)
            if (SimCamera* camera = _devices.Camera(cable.camera))
                receivers.push_back({camera, cable.line});
    return receivers;
}

} // namespace zeb::station
