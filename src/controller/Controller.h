// Controller: one lighting controller of the station inside one channel: the controller-register
// object extended by its scan type, light model, acquisition settings and trigger ports.
#pragma once

#include "DervoController.h"
#include "Export.h"
#include "TamoAcquisition.h"

#include <vector>

namespace Tamo::Morvane::Zeb {

// One controller trigger line and the camera line found wired to it.
class ZEB_EXPORT ControllerPort {
public:
    ControllerPort(Tamo::String portName, Tamo::String polarityRegister, Tamo::String clockSource)
        : _portName(std::move(portName)), _polarityRegister(std::move(polarityRegister)),
          _clockSource(std::move(clockSource)) {}

    bool Assigned() const { return _cameraLine.Length() > 0; }

    Tamo::String _portName;
    Tamo::String _polarityRegister;
    Tamo::String _clockSource;
    Tamo::String _cameraLine;
    bool _inverted = false;
};

class ZEB_EXPORT Controller : public Dervo::Morvane::Controller {
public:
    Controller() = default;
    Controller(const Controller& other) = default;
    Controller& operator=(const Controller& other);
    virtual ~Controller() = default;

    bool Areascan() const { return _deviceScanType == "Areascan"; }
    bool Linescan() const { return _deviceScanType == "Linescan"; }
    bool RegisterPresent(Tamo::String name);

    Tamo::String Trigger() const;
    ControllerPort* TriggerPort();
    Tamo::String TriggerReady() const;
    ControllerPort* TriggerReadyPort();
    Tamo::String SequencerClockSource() const;
    Tamo::String LineTrigger() const;
    ControllerPort* LineTriggerPort();
    Tamo::String FrameTrigger() const;
    ControllerPort* FrameTriggerPort();

    // Connects, resets to the factory registers and learns scan type, light model and limits.
    void Open();
    // Writes the whole acquisition programme; leaves the sequencer disabled.
    void Update();
    void Start();
    void Stop();
    // Finds which camera lines the trigger ports reach; the camera must be open.
    void DetectCabling(Tamo::Acquisition::ImageSource& camera);
    bool CablingValid() const;

    std::vector<ControllerPort> _inputs;
    std::vector<ControllerPort> _outputs;
    Tamo::String _deviceScanType;
    bool _acquisitionLineRateEnable = false;
    float _acquisitionLineRate = 0.0f;
    Tamo::String _acquisitionMode;
    Tamo::String _triggerMode;
    Tamo::String _triggerActivation;
    int32_t _encoderResolution = 0;
    Tamo::String _lightingModel = "Unknown";
    bool _lightingTrainingFailed = false;
    Tamo::String _lightingSequenceType;
    Tamo::String _lightingOrientation;
    Tamo::String _pulseWidth;
    int32_t _sequenceRepeatCount = 10000;
    int32_t _encoderResolutionMaximum = 0;
    Tamo::String _clockDeadTime;

private:
    void Write(const char* name, const Tamo::String& value) { SetRegisterValue(name, value); }
    Tamo::String Read(const Tamo::String& name);
    void WritePolarity(const ControllerPort* port);
    void FindInputs(Tamo::Acquisition::ImageSource& camera, const std::vector<Tamo::String>& lines);
    void FindOutputs(Tamo::Acquisition::ImageSource& camera, const std::vector<Tamo::String>& lines);
};

} // namespace Tamo::Morvane::Zeb
