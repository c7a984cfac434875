#include "Devices.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace zeb::station {

namespace {

bool IsBoolText(const std::string& v) {
    return v == "0" || v == "1" || v == "True" || v == "False";
}

bool IsNumberText(const std::string& v) {
    return ParseNumber(v).has_value();
}

// Where the number of a text begins: after leading spaces and a plus sign.
const char* NumberStart(const std::string& text) {
    const char* at = text.c_str();
    while (*at == ' ' || *at == '\t' || *at == '\n' || *at == '\r' || *at == '\f' || *at == '\v')
        ++at;
    if (*at == '+' && at[1] != '-')
        ++at;
    return at;
}

bool IsHexSequence(const std::string& v) {
    if (v.size() % 2 != 0 || v.size() > 32)
        return false;
    for (char c : v)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool OneOf(std::string_view v, std::initializer_list<std::string_view> values) {
    for (const std::string_view candidate : values)
        if (v == candidate)
            return true;
    return false;
}

} // namespace

// ---- Records -----------------------------------------------------------------------------------

bool IsTrue(const std::string& value) {
    return value == "1" || value == "True";
}

bool FaultStrikes(std::vector<Fault>& faults, OfflineWindow& offline, Nanoseconds now, const char* operation,
                  const std::string& name) {
    bool struck = false;
    for (Fault& fault : faults) {
        if (fault.fired)
            continue;
        FaultTrigger& trigger = fault.trigger;
        if (!trigger.operation.empty()) {
            if (trigger.operation != operation || (!trigger.name.empty() && trigger.name != name))
                continue;
            if (++trigger.seen < trigger.count)
                continue;
        }
        fault.fired = true;
        struck = true;
        if (fault.kind == "offline") {
            offline.from = now + fault.delay;
            offline.until = offline.from + fault.duration;
        }
    }
    return struck;
}

namespace {

// Looked up by a name without making a string of it: the station's signals read registers and
// features at every operation.
const std::string& ValueIn(const TextMap& map, std::string_view name) {
    static const std::string none;
    const auto it = map.find(name);
    return it == map.end() ? none : it->second;
}

} // namespace

const std::string& SimController::Get(std::string_view name) const {
    return ValueIn(registers, name);
}

bool SimController::Flag(std::string_view name) const {
    return IsTrue(Get(name));
}

const std::string& SimCamera::Feature(std::string_view feature) const {
    return ValueIn(features, feature);
}

int32_t SimCamera::Int(const std::string& feature) const {
    return static_cast<int32_t>(std::clamp<int64_t>(LeadingInteger(Feature(feature)), INT32_MIN, INT32_MAX));
}

double SimCamera::Double(const std::string& feature) const {
    return LeadingNumber(Feature(feature));
}

CameraLine* SimCamera::Line(const std::string& lineName) {
    for (CameraLine& line : lines)
        if (line.name == lineName)
            return &line;
    return nullptr;
}

const CameraLine* SimCamera::Line(const std::string& lineName) const {
    for (const CameraLine& line : lines)
        if (line.name == lineName)
            return &line;
    return nullptr;
}

CameraLine* SimCamera::SelectedLine() {
    return Line(Feature("LineSelector"));
}

double SimCamera::FrameRate() const {
    const double readoutMicroseconds =
        static_cast<double>(Int("Height")) * static_cast<double>(readoutPerRow) / 1000.0;
    return 1e6 / (Double("ExposureTime") + readoutMicroseconds);
}

double SimCamera::LineRateMaximum() const {
    return 1e6 / (Double("ExposureTime") + 2.5);
}

SimController* DeviceSet::Controller(int32_t id) const {
    const auto it = controllers.find(id);
    return it == controllers.end() ? nullptr : it->second.get();
}

SimCamera* DeviceSet::Camera(const std::string& name) const {
    for (const auto& camera : cameras)
        if (camera->name == name)
            return camera.get();
    return nullptr;
}

// ---- Numbers -----------------------------------------------------------------------------------

std::optional<double> ParseNumber(const std::string& text) {
    const char* start = NumberStart(text);
    const char* end = text.c_str() + text.size();
    double value = 0;
    const auto [stop, error] = std::from_chars(start, end, value);
    if (error != std::errc() || stop != end || start == end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

namespace {

// Whether a decimal text that no double can hold is too large (rather than too close to 0): the
// power of ten of its first significant digit plus its exponent is positive.
bool TooLarge(const char* begin, const char* end) {
    const char* at = begin;
    if (at != end && *at == '-')
        ++at;
    int64_t power = 0;
    int64_t integerDigits = 0;
    bool significant = false;
    for (; at != end && std::isdigit(static_cast<unsigned char>(*at)); ++at)
        if (significant || *at != '0') {
            significant = true;
            ++integerDigits;
        }
    if (integerDigits > 0)
        power = integerDigits - 1;
    else if (at != end && *at == '.')
        for (power = -1, ++at; at != end && *at == '0'; ++at)
            --power;
    while (at != end && *at != 'e' && *at != 'E')
        ++at;
    int64_t exponent = 0;
    if (at != end) {
        const char* digits = at + 1;
        if (digits != end && *digits == '+')
            ++digits;
        if (std::from_chars(digits, end, exponent).ec == std::errc::result_out_of_range)
            exponent = *digits == '-' ? INT64_MIN / 2 : INT64_MAX / 2;
    }
    return power + exponent > 0;
}

} // namespace

double LeadingNumber(const std::string& text) {
    const char* start = NumberStart(text);
    double value = 0;
    const auto [stop, error] = std::from_chars(start, text.c_str() + text.size(), value);
    if (error == std::errc::result_out_of_range) {
        const double magnitude = TooLarge(start, stop) ? std::numeric_limits<double>::infinity() : 0.0;
        return start[0] == '-' ? -magnitude : magnitude;
    }
    return error == std::errc() && !std::isnan(value) ? value : 0;
}

int64_t LeadingInteger(const std::string& text, int base) {
    const char* start = NumberStart(text);
    int64_t value = 0;
    const auto [stop, error] = std::from_chars(start, text.c_str() + text.size(), value, base);
    if (error == std::errc::result_out_of_range)
        return start[0] == '-' ? INT64_MIN : INT64_MAX;
    return error == std::errc() ? value : 0;
}

// ---- Traits ------------------------------------------------------------------------------------

std::string NumberText(double value) {
    if (std::isfinite(value) && value == std::floor(value) && std::fabs(value) < 9e15)
        return std::to_string(static_cast<int64_t>(value));
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    return std::string(buffer, result.ptr);
}

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
    return name.rfind("Info.", 0) == 0 || name == "Sequencer.ExecutionProgress" ||
           EndsWith(name, ".Current") || name == "PositionEncoder.Connected" ||
           name == "PositionEncoder.PositionTracking.Position";
}

bool IsVersion2Register(const std::string& name) {
    return name.rfind("CameraIo", 0) == 0 && name.find(".Output1.") != std::string::npos;
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
    if (EndsWith(name, ".InvertPolarity") || EndsWith(name, ".UseGlobalParameters") ||
        name == "Sequencer.Enabled" || name == "Sequencer.Clock.LevelSensitive" ||
        name == "Sequencer.Trigger.Enabled" || name == "PositionEncoder.PreProcessing.UseQuarterIncrements" ||
        EndsWith(name, ".ResetPosition") || EndsWith(name, ".State"))
        return IsBoolText(value) ? "" : "expected 0, 1, True or False";
    if (EndsWith(name, ".Brightness") || EndsWith(name, ".PulseWidth") || EndsWith(name, ".Delay") ||
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
    if (EndsWith(name, ".TriggerSource"))
        return OneOf(value, {"Sequencer", "DigitalIoInput7"}) ? "" : "unknown trigger source";
    if (name.rfind("AuxIo.Output", 0) == 0 && EndsWith(name, ".Source"))
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

TextMap DefaultCameraFeatures(const std::string& scanType, const std::string& transport) {
    const bool line = scanType == "Linescan";
    TextMap f = {
        {"DeviceVendorName", "Zeb Station"},
        {"DeviceModelName", line ? "LSC-2048M" : "VCXG-25M"},
        {"DeviceSerialNumber", line ? "L0000001" : "A0000001"},
        {"SensorWidth", line ? "2048" : "1280"},
        {"SensorHeight", line ? "1" : "1024"},
        {"Width", line ? "2048" : "1280"},
        {"Height", line ? "512" : "1024"},
        {"OffsetX", "0"},
        {"OffsetY", "0"},
        {"ExposureTime", line ? "20" : "1000"},
        {"Gain", "0"},
        {"PixelFormat", "Mono8"},
        {"AcquisitionMode", "Continuous"},
        {"TriggerSelector", line ? "LineStart" : "FrameStart"},
        {"LineSelector", "Line0"},
        {"UserOutputSelector", "UserOutput1"},
        {"UserOutputValue", "False"},
    };
    if (line) {
        f["TriggerMode[LineStart]"] = "Off";
        f["TriggerSource[LineStart]"] = "Line0";
        f["TriggerMode[AcquisitionStart]"] = "Off";
        f["TriggerSource[AcquisitionStart]"] = "Line1";
    } else {
        f["TriggerMode[FrameStart]"] = "On";
        f["TriggerSource[FrameStart]"] = "Line0";
        f["ReverseXY"] = "False";
    }
    if (transport == "Pleora") {
        f["GevSCPD"] = "0";
        f["GevRequestTimeout"] = "1000";
        f["GevLatencyLevel"] = "0";
    }
    return f;
}

std::map<std::string, FeatureLimits> DefaultCameraLimits(const std::string& scanType) {
    const bool line = scanType == "Linescan";
    return {
        {"Width", {16, 1e9, 8}},
        {"Height", {line ? 1.0 : 16.0, line ? 65535.0 : 1e9, line ? 1.0 : 2.0}},
        {"OffsetX", {0, 1e9, 8}},
        {"OffsetY", {0, 1e9, 2}},
        {"ExposureTime", {line ? 2.0 : 10.0, line ? 10000.0 : 1000000.0, 0}},
        {"Gain", {0, 24, 0}},
        {"GevSCPD", {0, 100000, 1}},
        {"GevRequestTimeout", {100, 60000, 1}},
        {"GevLatencyLevel", {0, 3, 1}},
    };
}

std::vector<CameraLine> DefaultCameraLines(const std::string& scanType) {
    if (scanType == "Linescan")
        return {{"Line0", "Input"}, {"Line1", "Input"}, {"Line2", "Output"}};
    return {{"Line0", "Input"}, {"Line1", "Output"}, {"Line2", "Input"}, {"Line3", "Output"}};
}

std::optional<FeatureSpec> CameraFeatureSpec(const SimCamera& camera, std::string_view name) {
    const bool line = camera.Linescan();
    if (OneOf(name, {"DeviceVendorName", "DeviceModelName", "DeviceSerialNumber", "PixelFormat"}))
        return FeatureSpec{FeatureKind::Text, true, false, {}};
    if (OneOf(name, {"SensorWidth", "SensorHeight"}))
        return FeatureSpec{FeatureKind::Int, true, false, {}};
    if (OneOf(name, {"Width", "Height", "OffsetX", "OffsetY"}))
        return FeatureSpec{FeatureKind::Int, false, true, {}};
    if (OneOf(name, {"ExposureTime", "Gain"}))
        return FeatureSpec{FeatureKind::Float, false, false, {}};
    if (name == "AcquisitionFrameRate")
        return FeatureSpec{FeatureKind::Float, true, false, {}};
    if (line && OneOf(name, {"AcquisitionLineRateMaximum", "AcquisitionLineRateCurrentMaximum"}))
        return FeatureSpec{FeatureKind::Float, true, false, {}};
    if (name == "AcquisitionMode")
        return FeatureSpec{FeatureKind::Enum, false, true, {"SingleFrame", "Continuous"}};
    if (name == "TriggerSelector")
        return FeatureSpec{FeatureKind::Enum, false, false,
                           line ? std::vector<std::string_view>{"LineStart", "AcquisitionStart"}
                                : std::vector<std::string_view>{"FrameStart"}};
    if (name == "TriggerMode")
        return FeatureSpec{FeatureKind::Enum, false, false, {"Off", "On"}};
    if (name == "TriggerSource" || name == "LineSelector") {
        FeatureSpec traits{FeatureKind::Enum, false, false, {}};
        traits.values.reserve(camera.lines.size() + 1);
        for (const CameraLine& cameraLine : camera.lines)
            traits.values.emplace_back(cameraLine.name);
        if (name == "TriggerSource")
            traits.values.emplace_back("Software");
        return traits;
    }
    if (name == "LineMode")
        return FeatureSpec{FeatureKind::Enum, true, false, {"Input", "Output"}};
    if (name == "LineSource")
        return FeatureSpec{
            FeatureKind::Enum, false, false, {"Off", "UserOutput1", "TriggerReady", "ExposureActive"}};
    if (name == "LineStatus")
        return FeatureSpec{FeatureKind::Bool, true, false, {}};
    if (name == "UserOutputSelector")
        return FeatureSpec{FeatureKind::Enum, false, false, {"UserOutput1"}};
    if (name == "UserOutputValue")
        return FeatureSpec{FeatureKind::Bool, false, false, {}};
    if (!line && name == "ReverseXY")
        return FeatureSpec{FeatureKind::Bool, false, true, {}};
    if (camera.transport == "Pleora" && OneOf(name, {"GevSCPD", "GevRequestTimeout", "GevLatencyLevel"}))
        return FeatureSpec{FeatureKind::Int, false, false, {}};
    return std::nullopt;
}

} // namespace zeb::station
