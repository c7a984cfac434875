// Cabling detection: which camera lines the controller's trigger ports reach, found by driving
// each candidate line on one side and watching the other.
#include "Controller.h"

#include "Tamo/Log.h"

#include <chrono>

namespace Tamo::Morvane::Zeb {

namespace {

constexpr const char* SourceFile = "Controller";
constexpr const char* CablingFunction = "Tamo::Morvane::Zeb::Controller::DetectCabling";

struct PortRow {
    const char* name;
    const char* polarity;
    const char* clockSource;
};

// Controller lines that cabling detection may find wired, in list order.
constexpr PortRow AreaInputs[] = {
    {"Camera0Input0", "CameraIo0.Input0.InvertPolarity", "Camera0Input0"},
    {"Camera0Input1", "CameraIo0.Input1.InvertPolarity", "Camera0Input1"},
    {"Camera1Input0", "CameraIo1.Input0.InvertPolarity", "Camera1Input0"},
    {"Camera1Input1", "CameraIo1.Input1.InvertPolarity", "Camera1Input1"},
    {"Camera2Input0", "CameraIo2.Input0.InvertPolarity", "Camera2Input0"},
    {"Camera2Input1", "CameraIo2.Input1.InvertPolarity", "Camera2Input1"},
};
constexpr PortRow AreaOutputs[] = {
    {"Camera0Output0", "CameraIo0.Output0.InvertPolarity", ""},
    {"Camera1Output0", "CameraIo1.Output0.InvertPolarity", ""},
    {"Camera2Output0", "CameraIo2.Output0.InvertPolarity", ""},
};
constexpr PortRow AreaOutputsVersion2[] = {
    {"Camera0Output1", "CameraIo0.Output1.InvertPolarity", ""},
    {"Camera1Output1", "CameraIo1.Output1.InvertPolarity", ""},
    {"Camera2Output1", "CameraIo2.Output1.InvertPolarity", ""},
};
constexpr PortRow LineOutputs[] = {
    {"AuxOutput0", "AuxIo.Output0.InvertPolarity", ""},
    {"AuxOutput1", "AuxIo.Output1.InvertPolarity", ""},
};

template <size_t N> void AppendPorts(std::vector<ControllerPort>& list, const PortRow (&rows)[N]) {
    for (const PortRow& row : rows)
        list.emplace_back(row.name, row.polarity, row.clockSource);
}

const char* InvertedText(const ControllerPort* port) {
    return port && port->_inverted ? "(Inverted)" : "";
}

int64_t NowNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

void Controller::FindInputs(Tamo::Acquisition::ImageSource& camera, const std::vector<Tamo::String>& lines) {
    for (ControllerPort& port : _inputs) {
        Write("Sequencer.MorvaneMode", "User");
        Write("Sequencer.SequenceLength", "1");
        Write("Sequencer.SequenceRepeatCount", "1");
        Write("Sequencer.LightSequence", "00");
        Write("Sequencer.ControlSequence", "00");
        Write("Sequencer.Clock.Source", port._clockSource);
        camera.SetFeature("UserOutputSelector", "UserOutput1");
        camera.SetFeature("UserOutputValue", "False");
        for (const Tamo::String& line : lines) {
            camera.SetFeature("LineSelector", line);
            Tamo::String mode;
            camera.GetFeature("LineMode", mode);
            if (mode != "Output")
                continue;
            camera.SetFeature("LineSource", "UserOutput1");
            Write("Sequencer.Enabled", "1");
            camera.SetFeature("UserOutputValue", "True");
            const Tamo::String first = Read("Sequencer.ExecutionProgress");
            camera.SetFeature("UserOutputValue", "False");
            const Tamo::String second = Read("Sequencer.ExecutionProgress");
            Write("Sequencer.Enabled", "0");
            camera.SetFeature("LineSource", "Off");
            if (second == "3") {
                port._cameraLine = line;
                port._inverted = first == "2";
                break;
            }
        }
    }
}

void Controller::FindOutputs(Tamo::Acquisition::ImageSource& camera, const std::vector<Tamo::String>& lines) {
    for (ControllerPort& port : _outputs) {
        for (const Tamo::String& line : lines) {
            camera.SetFeature("LineSelector", line);
            Tamo::String first, second;
            try {
                SetRegisterValue(port._polarityRegister, "1");
                camera.GetFeature("LineStatus", first);
                SetRegisterValue(port._polarityRegister, "0");
                camera.GetFeature("LineStatus", second);
            } catch (...) {
                break;
            }
            if (first != second) {
                port._cameraLine = line;
                port._inverted = second == "True";
                break;
            }
        }
    }
}

void Controller::DetectCabling(Tamo::Acquisition::ImageSource& camera) {
    const int64_t started = NowNanoseconds();
    LoadFactoryRegisterSet("");
    _inputs.clear();
    _outputs.clear();
    std::vector<Tamo::String> lines;
    if (Areascan()) {
        AppendPorts(_inputs, AreaInputs);
        AppendPorts(_outputs, AreaOutputs);
        if (Read("Info.HardwareVersion").ToInt() >= 2)
            AppendPorts(_outputs, AreaOutputsVersion2);
        camera.GetEnumValues("LineSelector", lines);
    }
    if (Linescan()) {
        AppendPorts(_outputs, LineOutputs);
        camera.GetEnumValues("LineSelector", lines);
    }
    FindInputs(camera, lines);
    FindOutputs(camera, lines);
    LoadFactoryRegisterSet("");
    Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, CablingFunction, SourceFile,
                           "Cabling detection done in %d ms.",
                           static_cast<int32_t>((NowNanoseconds() - started) / 1000000));
    if (Areascan()) {
        Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, CablingFunction, SourceFile, "Trigger = %s %s",
                               Trigger().CStr(), InvertedText(TriggerPort()));
        Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, CablingFunction, SourceFile, "TriggerReady = %s %s",
                               TriggerReady().CStr(), InvertedText(TriggerReadyPort()));
        Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, CablingFunction, SourceFile,
                               "SequencerClockSource = %s", SequencerClockSource().CStr());
    }
    if (Linescan()) {
        Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, CablingFunction, SourceFile, "LineTrigger = %s %s",
                               LineTrigger().CStr(), InvertedText(LineTriggerPort()));
        Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, CablingFunction, SourceFile, "FrameTrigger = %s %s",
                               FrameTrigger().CStr(), InvertedText(FrameTriggerPort()));
    }
}

bool Controller::CablingValid() const {
    if (Areascan())
        return Trigger().Length() > 0 && TriggerReady().Length() > 0;
    if (Linescan())
        return LineTrigger().Length() > 0 && FrameTrigger().Length() > 0;
    return true;
}

} // namespace Tamo::Morvane::Zeb
