#include "Dialog.h"

#include "Controller.h"
#include "Tamo/Log.h"

#include <chrono>
#include <cstdlib>
#include <thread>

namespace Tamo::Morvane::Zeb {

namespace {

constexpr const char* SourceFile = "Dialog";
constexpr const char* UpdateFunction = "Tamo::Morvane::Zeb::Dialog::Update";

constexpr const char* Brightness = "Brightness detection";
constexpr const char* Focus = "Focus detection";
constexpr const char* Orientation = "Orientation detection";
constexpr const char* FrameTrigger = "Frame trigger input detection";
constexpr const char* Encoder = "Encoder movement detection";

constexpr const char* PlacePart = "Place a representative part in the field of view of the camera.";
constexpr const char* CheckWiring = "Check the wiring and start the dialog again.";

} // namespace

void Dialog::SetController(Controller* controller) {
    _controller = controller;
    _dialogs = {Brightness, Focus, Orientation, FrameTrigger};
    if (controller && controller->_deviceScanType == "Linescan")
        _dialogs.push_back(Encoder);
}

void Dialog::ResetResult() {
    UpdateResult("Undefined", "", "");
}

void Dialog::UpdateResult(const Tamo::String& result, const Tamo::String& message,
                          const Tamo::String& arguments) {
    _result = result;
    _resultMessage = message;
    _resultMessageArguments = arguments;
}

void Dialog::Start(const Tamo::String& name) {
    _status = true;
    _step = 0;
    _selectedDialog = name;
    _imageAvailable = false;
    _acquisitionRequest = false;
    _instruction = "";
    // A new run judges the first image it receives, whatever light an earlier run set.
    _lightAdjustments = 0;
    _lightAdjustmentsAtImageSetStart = 0;
    ResetResult();
}

void Dialog::Next() {
    if (!_status) {
        Tamo::Log::WriteFormat(Tamo::Warning, __LINE__, "Tamo::Morvane::Zeb::Dialog::Next", SourceFile,
                               "No dialog running. Start dialog first.");
        return;
    }
    if (_result != "Success") {
        Tamo::Log::WriteFormat(Tamo::Warning, __LINE__, "Tamo::Morvane::Zeb::Dialog::Next", SourceFile,
                               "Result was not on success, next step not possible.");
        return;
    }
    _step += 1;
    _acquisitionRequest = false;
    ResetResult();
    if (_step >= _stepCount)
        Stop();
}

void Dialog::Stop() {
    _step = 0;
    _status = false;
    _acquisitionRequest = false;
    _instruction = "";
    if (_controller)
        _controller->LoadFactoryRegisterSet("");
    ResetResult();
}

Controller& Dialog::AssistantController() const {
    if (!_controller)
        throw Tamo::Exception("No lighting controller is assigned to the assistant.", UpdateFunction);
    return *_controller;
}

Scanner& Dialog::AssistantChannel() const {
    if (!_scanner)
        throw Tamo::Exception("No channel is assigned to the assistant.", UpdateFunction);
    return *_scanner;
}

void Dialog::SetBitmaps(const Dervo::Imaging::Bitmap& directions, const Dervo::Imaging::Bitmap& intensity) {
    if (_selectedDialog == Orientation && _lightAdjustmentsAtImageSetStart != _lightAdjustments) {
        Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, "Tamo::Morvane::Zeb::Dialog::SetBitmaps", SourceFile,
                               "Image set started before the last light adjustment, not evaluated.");
        return;
    }
    _acquisitionRequest = false;
    _intensityImage = intensity;
    if (_selectedDialog == Brightness || _selectedDialog == Orientation)
        _directionImage = directions;
    _imageAvailable = true;
}

void Dialog::Update() {
    Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, UpdateFunction, SourceFile, "Updating the dialog");
    if (!_status)
        return;
    _instruction = "";
    if (_selectedDialog == Brightness) {
        _stepCount = 1;
        if (_step == 0) {
            _instruction = PlacePart;
            if (_imageAvailable) {
                Tamo::Log::WriteFormat(Tamo::Notify, __LINE__, UpdateFunction, SourceFile,
                                       "Image available, calculating brightness.");
                CalculateBrightness();
                _imageAvailable = false;
            }
            _acquisitionRequest = true;
        }
    } else if (_selectedDialog == Focus) {
        _stepCount = 2;
        if (_step == 0) {
            _maxFocusValue = 0;
            _instruction = PlacePart;
            UpdateResult("Success", "Representative part should be placed by now.", "");
        } else if (_step == 1) {
            _instruction = "Change the focus of the lens until the focus value is maximum.";
            if (_imageAvailable) {
                Tamo::Log::WriteFormat(Tamo::Notify, __LINE__, UpdateFunction, SourceFile,
                                       "Image available, calculating focus.");
                CalculateFocus();
                _imageAvailable = false;
            }
            _acquisitionRequest = true;
        }
    } else if (_selectedDialog == Orientation) {
        _stepCount = 1;
        if (_step == 0) {
            _instruction =
                "Place a piece of flat, white paper in front of the dome. It must touch the dome plate, "
                "so that it covers the light opening. The detection works best with a full sensor image.";
            if (_imageAvailable) {
                Tamo::Log::WriteFormat(Tamo::Notify, __LINE__, UpdateFunction, SourceFile,
                                       "Image available.");
                DetectOrientation();
                _imageAvailable = false;
            }
            _acquisitionRequest = true;
        }
    } else if (_selectedDialog == Encoder) {
        _stepCount = 3;
        UpdateEncoderCheck();
    } else if (_selectedDialog == FrameTrigger) {
        _stepCount = 3;
        UpdateFrameTriggerCheck();
    }
}

void Dialog::UpdateEncoderCheck() {
    Controller& controller = AssistantController();
    if (_step == 0) {
        Tamo::String connected;
        controller.GetRegisterValue("PositionEncoder.Connected", connected);
        if (connected == "0") {
            UpdateResult("Error", "No encoder connected.", "");
            return;
        }
        static const char* const programme[][2] = {
            {"Sequencer.Enabled", "0"},
            {"AuxIo.Output0.State", "0"},
            {"AuxIo.Output0.InvertPolarity", "0"},
            {"AuxIo.Output0.Source", "State"},
            {"AuxIo.Output1.State", "0"},
            {"AuxIo.Output1.InvertPolarity", "0"},
            {"AuxIo.Output1.Source", "State"},
            {"Light.GlobalChannelParameters.Brightness", "0"},
            {"Light.GlobalChannelParameters.PulseWidth", "100"},
            {"PositionEncoder.IncrementsPerRevolution", "900"},
            {"PositionEncoder.ClockAdjustment.Direction", "Both"},
            {"PositionEncoder.ClockAdjustment.DirectionDebounceStepCount", "3"},
            {"PositionEncoder.PreProcessing.UseQuarterIncrements", "1"},
            {"Sequencer.Clock.DeadTime", "200"},
            {"Sequencer.Clock.Source", "PositionEncoder"},
            {"Sequencer.Trigger.Enabled", "0"},
            {"Sequencer.MorvaneMode", "User"},
            {"Sequencer.LightSequence", "0F0F0F0F"},
            {"Sequencer.SequenceRepeatCount", "0"},
            {"Sequencer.Enabled", "1"},
            {"PositionEncoder.PositionTracking.ResetPosition", "1"},
        };
        for (const auto& write : programme)
            controller.SetRegisterValue(write[0], write[1]);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        controller.SetRegisterValue("Light.GlobalChannelParameters.Brightness", "10");
        _step = 1;
    }
    if (_step == 1) {
        _instruction =
            "Turn the encoder and check, if the dome light is flashing while the encoder is rotating. To "
            "proceed press \"Next\".";
        UpdateResult("Success", "Initialization done.", "");
    } else if (_step == 2) {
        controller.SetRegisterValue("Sequencer.Enabled", "0");
        Tamo::String position;
        controller.GetRegisterValue("PositionEncoder.PositionTracking.Position", position);
        const int32_t counts = static_cast<int32_t>(static_cast<uint32_t>(position.ToInt64()));
        if (std::abs(static_cast<int64_t>(counts)) > 5) {
            const float degrees = static_cast<float>(counts) / 10.0f;
            UpdateResult(
                "Success",
                "The encoder value has changed. The relative change was {0} degrees. The wiring seems to "
                "be correct.",
                Tamo::Log::Format("%0.1f", static_cast<double>(degrees)));
        } else {
            _instruction = CheckWiring;
            UpdateResult("Error", "The encoder value has not changed despite movement.", "");
        }
    }
}

void Dialog::UpdateFrameTriggerCheck() {
    Controller& controller = AssistantController();
    if (_step == 0) {
        static const char* const programme[][2] = {
            {"Light.GlobalChannelParameters.Brightness", "10"},
            {"Light.GlobalChannelParameters.PulseWidth", "0"},
            {"DigitalIo.Input7.InvertPolarity", "0"},
            {"Light0.Channel0.TriggerSource", "DigitalIoInput7"},
            {"Light0.Channel1.TriggerSource", "DigitalIoInput7"},
            {"Light0.Channel2.TriggerSource", "DigitalIoInput7"},
            {"Light0.Channel3.TriggerSource", "DigitalIoInput7"},
            {"Sequencer.Enabled", "0"},
            {"Sequencer.Trigger.Source", "DigitalIoInput7"},
            {"Sequencer.Trigger.Enabled", "1"},
            {"Sequencer.Clock.Source", "HighLevel"},
            {"Sequencer.Enabled", "1"},
        };
        for (const auto& write : programme)
            controller.SetRegisterValue(write[0], write[1]);
        _step = 1;
    }
    if (_step == 1) {
        _instruction =
            "Toggle the input trigger multiple times. The dome light will indicate the current state. To "
            "proceed press \"Next\".";
        UpdateResult("Success", "Initialization done.", "");
    } else if (_step == 2) {
        Tamo::String progress;
        controller.GetRegisterValue("Sequencer.ExecutionProgress", progress);
        if (progress.ToInt() >= 2) {
            UpdateResult("Success",
                         "The trigger input could be detected. The dome light did show the polarity.", "");
        } else {
            _instruction = CheckWiring;
            UpdateResult("Error", "The trigger input could not be detected.", "");
        }
    }
}

} // namespace Tamo::Morvane::Zeb
