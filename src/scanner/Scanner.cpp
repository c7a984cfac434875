#include "Scanner.h"

#include <chrono>

namespace Tamo::Morvane::Zeb {

const Tamo::Reflection Scanner::Reflection{[] { return new Scanner(); }, "Tamo::Morvane::Zeb::Scanner",
                                           &VideoChannel::Reflection};

namespace {

constexpr const char* SourceFile = "Scanner";

int64_t SteadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct FeatureRow {
    const char* name;
    int32_t type;
};

// The channel's features in the host's enumeration order.
constexpr FeatureRow FeatureTable[] = {
    {"DeviceScanType", FeatureType::Enum},
    {"DeviceImageSource", FeatureType::Enum},
    {"DeviceImageSourceDetect", FeatureType::Command},
    {"DeviceImageSourceVendor", FeatureType::String},
    {"DeviceImageSourceModel", FeatureType::String},
    {"DeviceImageSourceSerial", FeatureType::String},
    {"Width", FeatureType::Int},
    {"Height", FeatureType::Int},
    {"OffsetX", FeatureType::Int},
    {"OffsetY", FeatureType::Int},
    {"ReverseXY", FeatureType::Bool},
    {"TestPattern", FeatureType::Enum},
    {"AcquisitionMode", FeatureType::Enum},
    {"AcquisitionBurstMode", FeatureType::Enum},
    {"AcquisitionLineRate", FeatureType::Float},
    {"AcquisitionLineRateEnable", FeatureType::Bool},
    {"AcquisitionLineRateMaximum", FeatureType::Float},
    {"AcquisitionLineRateCurrentMaximum", FeatureType::Float},
    {"TriggerMode", FeatureType::Enum},
    {"TriggerActivation", FeatureType::Enum},
    {"ExposureTime", FeatureType::Float},
    {"Gain", FeatureType::Float},
    {"EncoderResolution", FeatureType::Int},
    {"LightingSequenceType", FeatureType::Enum},
    {"LightingOrientation", FeatureType::Enum},
    {"SetupMode", FeatureType::Enum},
    {"DialogSelector", FeatureType::Enum},
    {"DialogStatus", FeatureType::Bool},
    {"DialogStart", FeatureType::Command},
    {"DialogStop", FeatureType::Command},
    {"DialogNext", FeatureType::Command},
    {"DialogInstruction", FeatureType::String},
    {"DialogResult", FeatureType::Enum},
    {"DialogResultMessage", FeatureType::String},
    {"DialogResultMessageArguments", FeatureType::String},
    {"DialogAcquisitionRequest", FeatureType::Bool},
    {"GevSCPD", FeatureType::Int},
    {"GevRequestTimeout", FeatureType::Int},
    {"GevLatencyLevel", FeatureType::Int},
};

} // namespace

Scanner::Scanner() : _progressTime(SteadyNanoseconds()) {}

Scanner::Scanner(const Scanner& other) = default;

Scanner::~Scanner() {
    try {
        SetImageSource("");
    } catch (...) {
    }
}

void Scanner::OnInitialize() {
    _controller.Bind(_deviceControllerId);
    _controller.Open();
    _imageSource.SetOwner(Name());
    _imageSources = Tamo::Acquisition::Main::ImageSources(_controller._deviceScanType);
    _dialog.SetController(&_controller);
    _dialog.SetScanner(this);

    _features.clear();
    for (const FeatureRow& row : FeatureTable)
        _features.emplace_back(row.name, row.type);

    auto enumerate = [this](const char* name, std::vector<Tamo::String> values) {
        Features(name)._enumValues = std::move(values);
    };
    auto readOnly = [this](const char* name) { Features(name)._writable = false; };
    auto common = [this](const char* name) { Features(name)._commonParam = true; };

    enumerate("DeviceScanType", {"Areascan", "Linescan"});
    readOnly("DeviceScanType");
    std::vector<Tamo::String> sources{"None"};
    sources.insert(sources.end(), _imageSources.begin(), _imageSources.end());
    enumerate("DeviceImageSource", sources);
    readOnly("DeviceImageSourceVendor");
    readOnly("DeviceImageSourceModel");
    readOnly("DeviceImageSourceSerial");
    for (const char* name : {"Width", "Height", "OffsetX", "OffsetY"})
        common(name);
    enumerate("TestPattern", {"Off", "On"});
    enumerate("AcquisitionMode", {"SingleFrame", "Continuous"});
    common("AcquisitionMode");
    enumerate("AcquisitionBurstMode", {"Off", "On"});
    readOnly("AcquisitionLineRateMaximum");
    readOnly("AcquisitionLineRateCurrentMaximum");
    enumerate("TriggerMode", {"Off", "On"});
    common("TriggerMode");
    enumerate("TriggerActivation", {"RisingEdge", "FallingEdge"});
    common("TriggerActivation");
    common("ExposureTime");
    common("Gain");
    enumerate("LightingSequenceType", {"Diagonal", "Axial"});
    enumerate("LightingOrientation", {"0 deg", "90 deg", "180 deg", "270 deg"});
    enumerate("SetupMode", {"Off", "On"});
    enumerate("DialogSelector", _dialog.GetDialogs());
    readOnly("DialogStatus");
    readOnly("DialogInstruction");
    readOnly("DialogResult");
    enumerate("DialogResult", {"Undefined", "Success", "Error", "Warning"});
    readOnly("DialogResultMessage");
    readOnly("DialogResultMessageArguments");

    const std::vector<Tamo::String> dialogs = _dialog.GetDialogs();
    const struct {
        const char* name;
        Tamo::String value;
    } initialValues[] = {
        {"DeviceScanType", _controller._deviceScanType},
        {"DeviceImageSource", "None"},
        {"DeviceImageSourceVendor", "None"},
        {"DeviceImageSourceModel", "None"},
        {"DeviceImageSourceSerial", "None"},
        {"Width", "0"},
        {"Height", "0"},
        {"OffsetX", "0"},
        {"OffsetY", "0"},
        {"ReverseXY", "False"},
        {"TestPattern", "Off"},
        {"AcquisitionMode", "SingleFrame"},
        {"AcquisitionBurstMode", "Off"},
        {"AcquisitionLineRate", "10000"},
        {"AcquisitionLineRateEnable", "True"},
        {"AcquisitionLineRateMaximum", "0"},
        {"AcquisitionLineRateCurrentMaximum", "0"},
        {"TriggerMode", "Off"},
        {"TriggerActivation", "RisingEdge"},
        {"ExposureTime", "0"},
        {"Gain", "0"},
        {"EncoderResolution", "10000"},
        {"LightingSequenceType", "Diagonal"},
        {"LightingOrientation", _controller._deviceScanType == "Areascan" ? "180 deg" : "270 deg"},
        {"SetupMode", "Off"},
        {"GevSCPD", "0"},
        {"GevRequestTimeout", "5000"},
        {"GevLatencyLevel", "0"},
        {"DialogSelector", dialogs.empty() ? Tamo::String() : dialogs.front()},
    };
    for (const auto& initial : initialValues)
        Features(initial.name).SetValue(initial.value);
}

Tamo::String Scanner::HandleError(const Tamo::Exception& exception) {
    const Tamo::String& source = exception.Function();
    const Tamo::String& error = exception.Error();
    Tamo::String result = error;
    if (source.StartsWith("Dervo::Morvane::Controller")) {
        _controllerFault = true;
        result =
            "Accessing controller failed. Check that the controller is powered on and properly connected.";
    }
    if (source.StartsWith("Tamo::Acquisition")) {
        _cameraFault = true;
        result = "Accessing camera failed. Check that the camera is compatible, powered on and properly "
                 "connected.";
    }
    if (source.StartsWith("Dervo::Morvane::Processor"))
        result = "Error processing image.";
    if (source.StartsWith("Tamo::Acquisition::ImageSource::SetFeature"))
        result = error;
    const Tamo::String transferPrefix = "bufferResult failed.";
    if (error.StartsWith(transferPrefix))
        result = "Image was not transfered correctly." + error.Substring(transferPrefix.Length());
    if (error.StartsWith("Fg_AcquireEx"))
        result = "Memory could not be allocated. (Image size to large)";
    if (result.Length() > 0)
        Tamo::Log::WriteFormat(Tamo::Error, __LINE__, "Tamo::Morvane::Zeb::Scanner::HandleError", SourceFile,
                               "Exception in %s: %s", source.CStr(), error.CStr());
    return result;
}

} // namespace Tamo::Morvane::Zeb
