#include "Registers.h"

#include "Numbers.h"
#include "TextMatch.h"

#include <cctype>

namespace zeb::station {

namespace {

bool IsBoolText(const std::string& v) {
    return v == "0" || v == "1" || v == "True" || v == "False";
}

bool IsNumberText(const std::string& v) {
    return ParseNumber(v).has_value();
}

bool IsHexSequence(const std::string& v) {
    if (v.size() % 2 != 0 || v.size() > 32)
        return false;
    for (char c : v)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

} // namespace

std::vector<std::pair<std::string, std::string>> FactoryRegisters() {
    std::vector<std::pair<std::string, std::string>> r = {
        {"Info.ScanType", "Areascan"},
        {"Info.DeviceMode", "Surface"},
        {"Info.HardwareVersion", "2"},
        {"Info.FirmwareVersion", "3.4.1"},
        {"Sequencer.Enabled", "0"},
        {"Sequencer.ExecutionProgress", "0"},
        {"Sequencer.MorvaneMode", "Standard"},
        {"Sequencer.SequenceLength", "4"},
        {"Sequencer.SequenceRepeatCount", "1"},
        {"Sequencer.PassCount", "1"},
        {"Sequencer.LightSequence", "0F0F0F0F"},
        {"Sequencer.ControlSequence", "FFFFFFFF"},
        {"Sequencer.Orientation", "0\xC2\xB0"},
        {"Sequencer.LightMode", "Continuous"},
        {"Sequencer.Clock.Source", "HighLevel"},
        {"Sequencer.Clock.DeadTime", "100"},
        {"Sequencer.Clock.LevelSensitive", "0"},
        {"Sequencer.Trigger.Enabled", "0"},
        {"Sequencer.Trigger.Source", "DigitalIoInput7"},
        {"Light.GlobalChannelParameters.Brightness", "100"},
        {"Light.GlobalChannelParameters.PulseWidth", "100"},
    };
    for (int n = 0; n < 4; ++n) {
        const std::string p = "Light0.Channel" + std::to_string(n);
        r.push_back({p + ".UseGlobalParameters", "1"});
        r.push_back({p + ".Brightness", "100"});
        r.push_back({p + ".PulseWidth", "100"});
        r.push_back({p + ".TriggerSource", "Sequencer"});
        r.push_back({p + ".Current", "0"});
    }
    for (int io = 0; io < 3; ++io) {
        const std::string p = "CameraIo" + std::to_string(io);
        r.push_back({p + ".Input0.InvertPolarity", "False"});
        r.push_back({p + ".Input1.InvertPolarity", "False"});
        r.push_back({p + ".Output0.InvertPolarity", "False"});
        r.push_back({p + ".Output1.InvertPolarity", "False"});
    }
    for (int n = 0; n < 2; ++n) {
        const std::string p = "AuxIo.Output" + std::to_string(n);
        r.push_back({p + ".InvertPolarity", "0"});
        r.push_back({p + ".Source", n == 0 ? "Sequencer" : "SequencerEnabled"});
        r.push_back({p + ".State", "0"});
        r.push_back({p + ".Delay", "0"});
    }
    r.insert(r.end(), {
                          {"DigitalIo.Input7.InvertPolarity", "0"},
                          {"FrequencyGenerator.Period", "100000"},
                          {"PositionEncoder.Connected", "0"},
                          {"PositionEncoder.IncrementsPerRevolution", "1024"},
                          {"PositionEncoder.PreProcessing.UseQuarterIncrements", "0"},
                          {"PositionEncoder.ClockAdjustment.Direction", "Forward"},
                          {"PositionEncoder.ClockAdjustment.DirectionDebounceStepCount", "0"},
                          {"PositionEncoder.PositionTracking.Position", "0"},
                          {"PositionEncoder.PositionTracking.ResetPosition", "0"},
                      });
    return r;
}

bool IsReadOnlyRegister(const std::string& name) {
    return name.starts_with("Info.") || name == "Sequencer.ExecutionProgress" || name.ends_with(".Current") ||
           name == "PositionEncoder.Connected" || name == "PositionEncoder.PositionTracking.Position";
}

bool IsVersion2Register(const std::string& name) {
    return name.starts_with("CameraIo") && name.find(".Output1.") != std::string::npos;
}

bool IsOutputPort(const std::string& port) {
    return port.find("Output") != std::string::npos;
}

std::string_view PolarityRegister(std::string_view port) {
    static constexpr std::pair<std::string_view, std::string_view> registers[] = {
        {"Camera0Input0", "CameraIo0.Input0.InvertPolarity"},
        {"Camera0Input1", "CameraIo0.Input1.InvertPolarity"},
        {"Camera1Input0", "CameraIo1.Input0.InvertPolarity"},
        {"Camera1Input1", "CameraIo1.Input1.InvertPolarity"},
        {"Camera2Input0", "CameraIo2.Input0.InvertPolarity"},
        {"Camera2Input1", "CameraIo2.Input1.InvertPolarity"},
        {"Camera0Output0", "CameraIo0.Output0.InvertPolarity"},
        {"Camera1Output0", "CameraIo1.Output0.InvertPolarity"},
        {"Camera2Output0", "CameraIo2.Output0.InvertPolarity"},
        {"Camera0Output1", "CameraIo0.Output1.InvertPolarity"},
        {"Camera1Output1", "CameraIo1.Output1.InvertPolarity"},
        {"Camera2Output1", "CameraIo2.Output1.InvertPolarity"},
        {"AuxOutput0", "AuxIo.Output0.InvertPolarity"},
        {"AuxOutput1", "AuxIo.Output1.InvertPolarity"},
        {"DigitalIoInput7", "DigitalIo.Input7.InvertPolarity"}};
    for (const auto& [name, polarity] : registers)
        if (port == name)
            return polarity;
    return {};
}

bool IsControllerPort(const std::string& port) {
    return !PolarityRegister(port).empty(); // every port has one
}

std::string CheckRegisterValue(const std::string& name, const std::string& value) {
    if (name.ends_with(".InvertPolarity") || name.ends_with(".UseGlobalParameters") ||
        name == "Sequencer.Enabled" || name == "Sequencer.Clock.LevelSensitive" ||
        name == "Sequencer.Trigger.Enabled" || name == "PositionEncoder.PreProcessing.UseQuarterIncrements" ||
        name.ends_with(".ResetPosition") || name.ends_with(".State"))
        return IsBoolText(value) ? "" : "expected 0, 1, True or False";
    if (name.ends_with(".Brightness") || name.ends_with(".PulseWidth") || name.ends_with(".Delay") ||
        name == "Sequencer.Clock.DeadTime" || name == "Sequencer.SequenceLength" ||
        name == "Sequencer.SequenceRepeatCount" || name == "Sequencer.PassCount" ||
        name == "FrequencyGenerator.Period" || name == "PositionEncoder.IncrementsPerRevolution" ||
        name == "PositionEncoder.ClockAdjustment.DirectionDebounceStepCount") {
        if (!IsNumberText(value))
            return "expected a number";
        if (*ParseNumber(value) < 0)
            return "expected a number of at least 0";
        if (name == "Sequencer.SequenceLength" && *ParseNumber(value) < 1)
            return "expected a length of at least 1";
        return "";
    }
    if (name == "Sequencer.LightSequence" || name == "Sequencer.ControlSequence")
        return IsHexSequence(value) ? "" : "expected hexadecimal digits, two per step";
    if (name == "Sequencer.Clock.Source")
        return value.empty() || IsControllerPort(value) ||
                       OneOf(value, {"FrequencyGenerator", "PositionEncoder", "HighLevel"})
                   ? ""
                   : "unknown clock source";
    if (name == "Sequencer.Trigger.Source")
        return OneOf(value, {"DigitalIoInput7", "Software"}) ? "" : "unknown trigger source";
    if (name.ends_with(".TriggerSource"))
        return OneOf(value, {"Sequencer", "DigitalIoInput7"}) ? "" : "unknown trigger source";
    if (name.starts_with("AuxIo.Output") && name.ends_with(".Source"))
        return OneOf(value, {"Sequencer", "SequenceTrigger", "SequencerEnabled", "State"}) ? ""
                                                                                           : "unknown source";
    if (name == "Sequencer.LightMode")
        return OneOf(value, {"Pulse", "Continuous"}) ? "" : "unknown light mode";
    if (name == "Sequencer.MorvaneMode")
        return OneOf(value, {"Standard", "User"}) ? "" : "unknown mode";
    if (name == "Sequencer.Orientation")
        return OneOf(value, {"", "0\xC2\xB0", "90\xC2\xB0", "180\xC2\xB0", "270\xC2\xB0"})
                   ? ""
                   : "unknown orientation";
    if (name == "PositionEncoder.ClockAdjustment.Direction")
        return OneOf(value, {"Forward", "Backward", "Both"}) ? "" : "unknown direction";
    return "";
}

} // namespace zeb::station
