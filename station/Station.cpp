#include "Station.h"

#include "Trace.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace zeb::station {

namespace {

constexpr int32_t GrabberBuffers = 4;

// Stores a register's or feature's new value; false when it held that value already. Levels on
// the wires follow only from changes, so an unchanged value needs no propagation.
bool Replace(std::string& stored, const std::string& value) {
    if (stored == value)
        return false;
    stored = value;
    return true;
}

// Puts every register back to its factory value. The register set never changes after loading, so
// the values are assigned in place, keeping each entry's storage, rather than the table copied anew.
void RestoreFactory(SimController& controller) {
    if (controller.registers.size() != controller.factory.size()) {
        controller.registers = controller.factory;
        return;
    }
    for (const auto& [name, value] : controller.factory) {
        const auto it = controller.registers.find(name);
        if (it == controller.registers.end()) {
            controller.registers = controller.factory;
            return;
        }
        it->second = value;
    }
}

} // namespace

Station::Station()
    : _wiring(_devices), _sequencer(_devices, _wiring, _cameras),
      _timeline(_devices, _wiring, _sequencer, _cameras) {}

std::vector<const SimCamera*> Station::Cameras() const {
    std::vector<const SimCamera*> cameras;
    for (const auto& camera : _devices.cameras)
        cameras.push_back(camera.get());
    return cameras;
}

// ---- Controller operations ---------------------------------------------------------------------

Outcome Station::CheckController(int32_t id, SimController*& controller, const char* operation,
                                 const std::string& name) {
    _timeline.Advance();
    controller = Controller(id);
    if (!controller)
        return {"No controller answers at device id " + std::to_string(id) + "."};
    FaultStrikes(controller->faults, controller->offline, Present(), operation, name);
    if (controller->Offline(Present())) {
        controller->connected = false;
        _sequencer.Enable(*controller, false, Present());
        return {"Controller " + std::to_string(id) + " does not answer."};
    }
    if (std::strcmp(operation, "connect") != 0 && !controller->connected)
        return {"Controller " + std::to_string(id) + " is not connected."};
    return {};
}

std::vector<std::pair<int32_t, std::string>> Station::Peers() {
    std::vector<std::pair<int32_t, std::string>> peers;
    for (const auto& [id, controller] : _devices.controllers)
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
    TraceController(id, {"connect", outcome.Ok() ? "ok" : "failed"});
    return outcome;
}

Outcome Station::LoadFactory(int32_t id) {
    SimController* c = nullptr;
    Outcome outcome = CheckController(id, c, "factory", "");
    if (outcome.Ok()) {
        _sequencer.Enable(*c, false, Present());
        RestoreFactory(*c);
        _timeline.Propagate();
    }
    TraceController(id, {"factory"}, outcome.error);
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
        } else if (name.starts_with("Light0.Channel") && name.size() > 15 && name.substr(15) == ".Current") {
            const int channel = name[14] - '0';
            value = NumberText(c->currents[static_cast<size_t>(channel & 3)]);
        } else if (name == "PositionEncoder.Connected") {
            value = c->encoder.connected ? "1" : "0";
        } else if (name == "PositionEncoder.PositionTracking.Position") {
            value = std::to_string(Sequencer::EncoderCount(*c, Present()));
        } else {
            value = c->registers[name];
        }
    }
    TraceController(id, {"get", name, outcome.Ok() ? std::string_view(value) : std::string_view()},
                    outcome.error);
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
        bool changed = true;
        if (name == "Sequencer.Enabled") {
            c->registers[name] = IsTrue(value) ? "1" : "0";
            _sequencer.Enable(*c, IsTrue(value), Present());
        } else if (name == "PositionEncoder.IncrementsPerRevolution") {
            const double requested = LeadingNumber(value);
            c->registers[name] = NumberText(
                std::clamp(std::floor(requested), 1.0, static_cast<double>(c->maxEncoderIncrements)));
        } else if (name == "PositionEncoder.PositionTracking.ResetPosition") {
            if (IsTrue(value))
                Sequencer::ResetEncoder(*c, Present());
        } else {
            changed = Replace(c->registers[name], value);
        }
        if (changed)
            _timeline.Propagate();
    }
    TraceController(id, {"set", name, value}, outcome.error);
    return outcome;
}

// ---- Camera operations -------------------------------------------------------------------------

Outcome Station::CheckCamera(const std::string& name, SimCamera*& camera, const char* operation,
                             const std::string& feature) {
    _timeline.Advance();
    camera = Camera(name);
    if (!camera)
        return {"Image source " + name + " does not exist."};
    FaultStrikes(camera->faults, camera->offline, Present(), operation, feature);
    if (camera->Offline(Present()))
        return {"Camera " + name + " does not answer."};
    return {};
}

Outcome Station::OpenCamera(const std::string& name, const std::string& mode) {
    SimCamera* camera = nullptr;
    Outcome outcome = CheckCamera(name, camera, "open", "");
    if (outcome.Ok() && camera->open)
        outcome.error = "Camera " + name + " is already open.";
    if (outcome.Ok()) {
        CameraSimulation::Open(*camera, mode);
        _timeline.Propagate();
    }
    TraceCamera(name, {"open"}, outcome.error);
    return outcome;
}

Outcome Station::CloseCamera(const std::string& name) {
    SimCamera* camera = nullptr;
    const Outcome outcome = CheckCamera(name, camera, "close", "");
    if (!camera || !camera->open)
        return {};
    // A camera that does not answer is left to itself; the library forgets it all the same.
    CameraSimulation::Close(*camera);
    _timeline.Propagate();
    TraceCamera(name, {"close"}, outcome.error);
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
    if (outcome.Ok() && camera->recording) {
        const int32_t rows = camera->Int("Height");
        const std::string mismatch =
            camera->recording->Mismatch(camera->Int("Width"), rows, camera->Linescan());
        if (!mismatch.empty())
            outcome.error = "Camera " + name + " cannot play back its recording: " + mismatch + ".";
    }
    if (outcome.Ok()) {
        CameraSimulation::Start(*camera, Present());
        for (CameraLine& line : camera->lines)
            if (line.mode == "Input")
                line.level = _wiring.CameraInputLevel(*camera, line.name);
        _timeline.Propagate();
    }
    TraceCamera(name, {"start"}, outcome.error);
    return outcome;
}

Outcome Station::StopCamera(const std::string& name) {
    SimCamera* camera = nullptr;
    const Outcome outcome = CheckCamera(name, camera, "stop", "");
    // An open camera that does not answer fails the stop command whether it streams or not.
    if (!camera || !camera->open || (outcome.Ok() && !camera->started))
        return {};
    if (outcome.Ok()) {
        CameraSimulation::Stop(*camera);
        _timeline.Propagate();
    }
    TraceCamera(name, {"stop"}, outcome.error);
    return outcome;
}

std::string Station::CameraFeatureValue(const SimCamera& camera, const FeatureTraits& traits,
                                        const std::string& feature, const std::string& value,
                                        Outcome& outcome) const {
    switch (traits.kind) {
    case FeatureKind::Int:
    case FeatureKind::Float: {
        const std::optional<double> parsed = ParseNumber(value);
        if (!parsed) {
            outcome.error = "Feature " + feature + " refused the value \"" + value + "\": not a number.";
            return value;
        }
        double number = *parsed;
        FeatureLimits limits;
        if (const auto it = camera.limits.find(feature); it != camera.limits.end())
            limits = it->second;
        if (feature == "Width")
            limits.maximum = std::min(limits.maximum,
                                      static_cast<double>(camera.Int("SensorWidth") - camera.Int("OffsetX")));
        if (feature == "OffsetX")
            limits.maximum = std::min(limits.maximum,
                                      static_cast<double>(camera.Int("SensorWidth") - camera.Int("Width")));
        if (!camera.Linescan() && feature == "Height")
            limits.maximum = std::min(
                limits.maximum, static_cast<double>(camera.Int("SensorHeight") - camera.Int("OffsetY")));
        if (!camera.Linescan() && feature == "OffsetY")
            limits.maximum = std::min(limits.maximum,
                                      static_cast<double>(camera.Int("SensorHeight") - camera.Int("Height")));
        if (traits.kind == FeatureKind::Int)
            number = std::trunc(number);
        if (limits.increment > 0)
            number = limits.minimum > std::numeric_limits<double>::lowest()
                         ? limits.minimum +
                               std::floor((number - limits.minimum) / limits.increment) * limits.increment
                         : std::floor(number / limits.increment) * limits.increment;
        number = std::clamp(number, limits.minimum, std::max(limits.minimum, limits.maximum));
        return NumberText(number);
    }
    case FeatureKind::Bool:
        if (value != "True" && value != "False" && value != "1" && value != "0")
            outcome.error =
                "Feature " + feature + " refused the value \"" + value + "\": expected True or False.";
        return IsTrue(value) ? "True" : "False";
    case FeatureKind::Enum:
        if (std::find(traits.values.begin(), traits.values.end(), value) == traits.values.end())
            outcome.error =
                "Feature " + feature + " refused the value \"" + value + "\": not one of its entries.";
        return value;
    case FeatureKind::Text:
        break;
    }
    return value;
}

Outcome Station::SetCameraFeature(const std::string& name, const std::string& feature,
                                  const std::string& value) {
    SimCamera* camera = nullptr;
    Outcome outcome = CheckCamera(name, camera, "set", feature);
    const auto traits = outcome.Ok() ? CameraFeatureTraits(*camera, feature) : std::nullopt;
    if (outcome.Ok() && !camera->open)
        outcome.error = "Camera " + name + " is not open.";
    else if (outcome.Ok() && !traits)
        outcome.error = "Feature " + feature + " does not exist.";
    else if (outcome.Ok() && traits->readOnly)
        outcome.error = "Feature " + feature + " is read-only.";
    else if (outcome.Ok() && traits->lockedWhileStreaming && camera->started)
        outcome.error = "Feature " + feature + " cannot be changed while the camera streams.";
    const std::string stored =
        outcome.Ok() ? CameraFeatureValue(*camera, *traits, feature, value, outcome) : value;
    if (outcome.Ok()) {
        bool changed = false;
        if (feature == "TriggerMode" || feature == "TriggerSource") {
            changed =
                Replace(camera->features[feature + "[" + camera->Feature("TriggerSelector") + "]"], stored);
        } else if (feature == "LineSource") {
            CameraLine* line = camera->SelectedLine();
            if (!line || line->mode != "Output")
                outcome.error =
                    "Feature LineSource refused the value \"" + value + "\": the selected line is no output.";
            else
                changed = Replace(line->source, stored);
        } else if (feature == "UserOutputValue") {
            changed = Replace(camera->userOutputValue, stored);
        } else {
            changed = Replace(camera->features[feature], stored);
        }
        if (changed)
            _timeline.Propagate();
    }
    TraceCamera(name, {"set", feature, value}, outcome.error);
    return outcome;
}

Outcome Station::GetCameraFeature(const std::string& name, const std::string& feature, std::string& value) {
    SimCamera* camera = nullptr;
    Outcome outcome = CheckCamera(name, camera, "get", feature);
    const auto traits = outcome.Ok() ? CameraFeatureTraits(*camera, feature) : std::nullopt;
    if (outcome.Ok() && !camera->open)
        outcome.error = "Camera " + name + " is not open.";
    else if (outcome.Ok() && !traits)
        outcome.error = "Feature " + feature + " does not exist.";
    if (outcome.Ok()) {
        const std::string selector = camera->Feature("TriggerSelector");
        const CameraLine* line = camera->SelectedLine();
        if (feature == "TriggerMode" || feature == "TriggerSource")
            value = camera->Feature(feature + "[" + selector + "]");
        else if (feature == "LineMode")
            value = line ? line->mode : "";
        else if (feature == "LineSource")
            value = line ? line->source : "Off";
        else if (feature == "LineStatus")
            value = line && (line->mode == "Output" ? _wiring.CameraOutputLevel(*camera, *line, Present())
                                                    : _wiring.CameraInputLevel(*camera, line->name))
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
            value = camera->Feature(feature);
    }
    TraceCamera(name, {"get", feature, outcome.Ok() ? std::string_view(value) : std::string_view()},
                outcome.error);
    return outcome;
}

Outcome Station::GetCameraEnum(const std::string& name, const std::string& feature,
                               std::vector<std::string>& values) {
    SimCamera* camera = nullptr;
    Outcome outcome = CheckCamera(name, camera, "enum", feature);
    const auto traits = outcome.Ok() ? CameraFeatureTraits(*camera, feature) : std::nullopt;
    if (outcome.Ok() && !camera->open)
        outcome.error = "Camera " + name + " is not open.";
    else if (outcome.Ok() && (!traits || traits->kind != FeatureKind::Enum))
        outcome.error = "Feature " + feature + " is no enumeration.";
    if (outcome.Ok())
        values.assign(traits->values.begin(), traits->values.end());
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
    if (!it->second->error.empty())
        return {it->second->error};
    frame = it->second.get();
    return {};
}

Outcome Station::ReleaseFrame(const std::string& name, int64_t index) {
    SimCamera* camera = Camera(name);
    if (!camera)
        return {"Image source " + name + " does not exist."};
    if (!camera->frames.count(index))
        return {"Frame " + std::to_string(index) + " is not available."};
    CameraSimulation::Release(*camera, index);
    return {};
}

} // namespace zeb::station
