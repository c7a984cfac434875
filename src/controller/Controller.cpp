// The controller inside a channel: its trigger ports' accessors, opening it (scan type, light model
// and limits) and programming its sequencer and lighting. Cabling detection is in
// CablingDetection.cpp.
#include "Controller.h"

#include "Tamo/Log.h"

#include <chrono>
#include <thread>

namespace Tamo::Morvane::Zeb {

namespace {

constexpr const char* SourceFile = "Controller";
constexpr const char* OpenFunction = "Tamo::Morvane::Zeb::Controller::Open";
constexpr const char* UpdateFunction = "Tamo::Morvane::Zeb::Controller::Update";

template <typename Ports> auto FirstAssigned(Ports& ports) -> decltype(&ports[0]) {
    for (auto& port : ports)
        if (port.Assigned())
            return &port;
    return nullptr;
}

template <typename Ports> auto Named(Ports& ports, const char* name) -> decltype(&ports[0]) {
    for (auto& port : ports)
        if (port._portName == name)
            return &port;
    return nullptr;
}

} // namespace

Controller& Controller::operator=(const Controller& other) {
    if (this == &other)
        return *this;
    Dervo::Morvane::Controller::operator=(other);
    _inputs = other._inputs;
    _outputs = other._outputs;
    _deviceScanType = other._deviceScanType;
    _acquisitionLineRateEnable = other._acquisitionLineRateEnable;
    _acquisitionLineRate = other._acquisitionLineRate;
    _acquisitionMode = other._acquisitionMode;
    _triggerMode = other._triggerMode;
    _triggerActivation = other._triggerActivation;
    _encoderResolution = other._encoderResolution;
    _lightingModel = other._lightingModel;
    _lightingTrainingFailed = other._lightingTrainingFailed;
    _lightingSequenceType = other._lightingSequenceType;
    _lightingOrientation = other._lightingOrientation;
    _pulseWidth = other._pulseWidth;
    _sequenceRepeatCount = other._sequenceRepeatCount;
    _encoderResolutionMaximum = other._encoderResolutionMaximum;
    _clockDeadTime = other._clockDeadTime;
    return *this;
}

Tamo::String Controller::Read(const Tamo::String& name) {
    Tamo::String value;
    GetRegisterValue(name, value);
    return value;
}

bool Controller::RegisterPresent(Tamo::String name) {
    int32_t count = 0;
    GetRegistersCount(count);
    for (int32_t index = 0; index < count; ++index) {
        Tamo::String registerName;
        GetRegisterName(index, registerName);
        if (registerName == name)
            return true;
    }
    return false;
}

// ---- Port accessors ----------------------------------------------------------------------------

Tamo::String Controller::Trigger() const {
    const ControllerPort* port = FirstAssigned(_outputs);
    return port ? port->_cameraLine : Tamo::String();
}
ControllerPort* Controller::TriggerPort() {
    return FirstAssigned(_outputs);
}
Tamo::String Controller::TriggerReady() const {
    const ControllerPort* port = FirstAssigned(_inputs);
    return port ? port->_cameraLine : Tamo::String();
}
ControllerPort* Controller::TriggerReadyPort() {
    return FirstAssigned(_inputs);
}
Tamo::String Controller::SequencerClockSource() const {
    const ControllerPort* port = FirstAssigned(_inputs);
    return port ? port->_clockSource : Tamo::String();
}
Tamo::String Controller::LineTrigger() const {
    const ControllerPort* port = Named(_outputs, "AuxOutput0");
    return port ? port->_cameraLine : Tamo::String();
}
ControllerPort* Controller::LineTriggerPort() {
    return Named(_outputs, "AuxOutput0");
}
Tamo::String Controller::FrameTrigger() const {
    const ControllerPort* port = Named(_outputs, "AuxOutput1");
    return port ? port->_cameraLine : Tamo::String();
}
ControllerPort* Controller::FrameTriggerPort() {
    return Named(_outputs, "AuxOutput1");
}

// ---- Open --------------------------------------------------------------------------------------

void Controller::Open() {
    SetUserEncoding(Tamo::StringEncoding::Utf8);
    SetThrowOnError(true);
    SetPrintErrors(false);
    for (int32_t attempt = 0; attempt < 10; ++attempt) {
        SetThrowOnError(attempt == 9);
        if (Connect() == 0)
            break;
        if (attempt < 9) {
            // A full 100 ms on the steady clock, also where a sleep may wake a little early.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
            while (std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_until(deadline);
        }
    }
    SetThrowOnError(true);
    SetPowerCycleDetection(true);
    SetCachingEnabled(true);
    LoadFactoryRegisterSet("");
    Write("Sequencer.Enabled", "0");

    Tamo::String scanType;
    if (RegisterPresent("Info.ScanType")) {
        scanType = Read("Info.ScanType");
    } else {
        const Tamo::String mode = Read("Info.DeviceMode");
        if (mode == "Surface")
            scanType = "Areascan";
        else if (mode == "Cylinder")
            scanType = "Linescan";
        else if (mode == "Multiline")
            scanType = "Multilinescan";
    }
    if (RegisterPresent("Info.DeviceConfig")) {
        const bool lineCapable = scanType == "Linescan" || scanType == "Multilinescan";
        switch (Read("Info.DeviceConfig").ToInt()) {
        case 1:
            Tamo::Log::WriteFormat(Tamo::Notify, __LINE__, OpenFunction, SourceFile,
                                   "Setting configuration to Areascan.");
            scanType = "Areascan";
            break;
        case 2:
            Tamo::Log::WriteFormat(Tamo::Notify, __LINE__, OpenFunction, SourceFile,
                                   "Setting configuration to Linescan.");
            if (lineCapable)
                scanType = "Linescan";
            else
                Tamo::Log::WriteFormat(Tamo::Error, __LINE__, OpenFunction, SourceFile,
                                       "Controller not capable of requested scan type.");
            break;
        case 3:
            Tamo::Log::WriteFormat(Tamo::Notify, __LINE__, OpenFunction, SourceFile,
                                   "Setting configuration to Multilinescan.");
            if (lineCapable)
                scanType = "Multilinescan";
            else
                Tamo::Log::WriteFormat(Tamo::Error, __LINE__, OpenFunction, SourceFile,
                                       "Controller not capable of requested scan type.");
            break;
        default:
            break;
        }
    }
    if (scanType == "Multilinescan")
        Tamo::Log::WriteFormat(Tamo::Error, __LINE__, OpenFunction, SourceFile,
                               "Multilinescan not implemented.");
    _deviceScanType = scanType;
    Tamo::Log::WriteFormat(Tamo::Notify, __LINE__, OpenFunction, SourceFile, "DeviceScanType = %s",
                           scanType.CStr());

    // Light probe: each channel lit alone at brightness 100; the largest current names the dome.
    _lightingTrainingFailed = false;
    SetLogErrors(false);
    double largestCurrent = 0.0;
    for (int32_t channel = 0; channel < 4; ++channel) {
        const Tamo::String prefix = "Light0.Channel" + Tamo::String::FromInt(channel);
        double current = 0.0;
        try {
            SetRegisterValue(prefix + ".UseGlobalParameters", "0");
            SetRegisterValue(prefix + ".Brightness", "100");
            current = Read(prefix + ".Current").ToDouble();
            SetRegisterValue(prefix + ".UseGlobalParameters", "1");
        } catch (...) {
        }
        if (current > largestCurrent)
            largestCurrent = current;
        if (current == 0.0)
            _lightingTrainingFailed = true;
    }
    SetLogErrors(true);
    if (largestCurrent == 0.0)
        _lightingModel = "None";
    else if (largestCurrent == 1050.0)
        _lightingModel = "Dome S";
    else if (largestCurrent == 2800.0)
        _lightingModel = "Dome M";
    else if (largestCurrent == 5600.0)
        _lightingModel = "Dome L";
    else
        _lightingModel = "Unknown";
    Tamo::Log::WriteFormat(Tamo::Notify, __LINE__, OpenFunction, SourceFile, "LightingModel = %s",
                           _lightingModel.CStr());

    _clockDeadTime = "100";
    if (Linescan()) {
        _clockDeadTime = "5";
        Write("PositionEncoder.IncrementsPerRevolution", Tamo::String::FromUInt(4294967295u));
        const int32_t maximum = Read("PositionEncoder.IncrementsPerRevolution").ToInt();
        _encoderResolutionMaximum = static_cast<int32_t>(static_cast<uint32_t>(maximum) * 4u);
        Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, OpenFunction, SourceFile,
                               "EncoderResolutionMaximum = %d", _encoderResolutionMaximum);
    }
    Tamo::Log::WriteFormat(Tamo::Notify, __LINE__, OpenFunction, SourceFile, "HardwareVersion = %s",
                           Read("Info.HardwareVersion").CStr());
}

// ---- Programming -------------------------------------------------------------------------------

void Controller::WritePolarity(const ControllerPort* port) {
    if (port)
        SetRegisterValue(port->_polarityRegister, port->_inverted ? "True" : "False");
}

void Controller::Update() {
    Write("Sequencer.Enabled", "0");
    Tamo::String sequence;
    int32_t brightness = 100;
    const bool smallOrMedium = _lightingModel == "Dome S" || _lightingModel == "Dome M";
    if (_lightingSequenceType == "Diagonal") {
        sequence = "02010408";
        brightness = smallOrMedium ? 200 : _lightingModel == "Dome L" ? 150 : 100;
    } else if (_lightingSequenceType == "Axial") {
        sequence = "0A03050C";
        brightness = smallOrMedium ? 200 : _lightingModel == "Dome L" ? 110 : 100;
    }
    Tamo::Log::WriteFormat(Tamo::Dump, __LINE__, UpdateFunction, SourceFile, "LightingBrightness = %d",
                           brightness);

    Tamo::String orientation;
    if (_lightingOrientation == "0 deg")
        orientation = "0\xC2\xB0";
    else if (_lightingOrientation == "90 deg")
        orientation = "90\xC2\xB0";
    else if (_lightingOrientation == "180 deg")
        orientation = "180\xC2\xB0";
    else if (_lightingOrientation == "270 deg")
        orientation = "270\xC2\xB0";

    Write("Sequencer.MorvaneMode", "User");
    Write("Sequencer.SequenceLength", "4");
    Write("Sequencer.LightSequence", sequence);
    Write("Sequencer.ControlSequence", "FFFFFFFF");
    Write("Light.GlobalChannelParameters.Brightness", Tamo::String::FromInt(brightness));
    Write("Sequencer.Orientation", orientation);
    Write("Sequencer.Clock.DeadTime", _clockDeadTime);
    if (Areascan()) {
        WritePolarity(TriggerPort());
        WritePolarity(TriggerReadyPort());
        Write("Sequencer.Clock.Source", SequencerClockSource());
        Write("Sequencer.Clock.LevelSensitive", "1");
        Write("Sequencer.LightMode", "Pulse");
        Write("Light.GlobalChannelParameters.PulseWidth", _pulseWidth);
        Write("Sequencer.SequenceRepeatCount", "1");
    }
    if (Linescan()) {
        WritePolarity(LineTriggerPort());
        WritePolarity(FrameTriggerPort());
        Write("Sequencer.SequenceRepeatCount", Tamo::String::FromInt(_sequenceRepeatCount));
        Write("Light.GlobalChannelParameters.PulseWidth", _pulseWidth);
        Write("AuxIo.Output0.Delay", "1");
        if (_acquisitionLineRateEnable) {
            Write("Sequencer.Clock.Source", "FrequencyGenerator");
            Write("FrequencyGenerator.Period", Tamo::String::FromFloat(1e9f / _acquisitionLineRate));
        } else {
            Write("Sequencer.Clock.Source", "PositionEncoder");
            Write("PositionEncoder.IncrementsPerRevolution", Tamo::String::FromInt(_encoderResolution / 4));
            Write("PositionEncoder.PreProcessing.UseQuarterIncrements", "1");
            Write("PositionEncoder.ClockAdjustment.Direction", "Both");
        }
        Write("AuxIo.Output1.Source", _triggerMode == "On" ? "SequenceTrigger" : "SequencerEnabled");
    }
    Write("Sequencer.PassCount", "1");
    Write("Sequencer.Trigger.Enabled", _triggerMode == "On" ? "1" : "0");
    Write("DigitalIo.Input7.InvertPolarity", _triggerActivation == "RisingEdge" ? "0" : "1");
}

void Controller::Start() {
    Write("Sequencer.Enabled", "1");
}

void Controller::Stop() {
    Write("Sequencer.Enabled", "0");
}

} // namespace Tamo::Morvane::Zeb
