// Camera selection: closing the camera in use, opening the named one, publishing its identity,
// applying the per-camera defaults and checking the trigger cabling.
#include "Scanner.h"

namespace Tamo::Morvane::Zeb {

namespace {

constexpr const char* SourceFile = "Scanner";
constexpr const char* Function = "Tamo::Morvane::Zeb::Scanner::SetImageSource";

// Area-scan models that support burst acquisition; a model name containing one of them matches.
constexpr const char* BurstCapableModels[] = {
    "VLXT",       "VCXG-02M",   "VCXG-04M",   "VCXG-13M",    "VCXG-15M",    "VCXG-23M",
    "VCXG-24M",   "VCXG-25M",   "VCXG-32M",   "VCXG-52M",    "VCXG-53M",    "VCXG-57M",
    "VCXG-82M",   "VCXG-127M",  "VCXG-204M",  "VCXG.2-02M",  "VCXG.2-04M",  "VCXG.2-13M",
    "VCXG.2-15M", "VCXG.2-23M", "VCXG.2-24M", "VCXG.2-25M",  "VCXG.2-32M",  "VCXG.2-52M",
    "VCXG.2-53M", "VCXG.2-57M", "VCXG.2-82M", "VCXG.2-127M", "VCXG.2-204M",
};

// Runs a clean-up step whose failure must not hide the failure being cleaned up after.
template <typename Step> void IgnoringFailure(Step step) {
    try {
        step();
    } catch (...) {
    }
}

} // namespace

void Scanner::SetImageSource(const Tamo::String& name) {
    if (_imageSource.Bound() == name)
        return;
    if (_imageSource.Bound().Length() > 0) {
        Tamo::Log::WriteFormat(Tamo::Notify, __LINE__, Function, SourceFile, "Close %s",
                               _imageSource.Bound().CStr());
        try {
            OnStopAcquisition();
            _imageSource.Close();
            _imageSource.Bind("");
        } catch (...) {
        }
        Tamo::Log::WriteFormat(Tamo::Notify, __LINE__, Function, SourceFile, "Close done.");
    }
    if (name.Length() == 0) {
        _acquisitionStarted = false;
        return;
    }
    Tamo::Log::WriteFormat(Tamo::Notify, __LINE__, Function, SourceFile, "Open %s.", name.CStr());
    try {
        OpenImageSource(name);
    } catch (const Tamo::Exception&) {
        // Leave no camera half-open: each step is tried even when an earlier one fails, and the
        // original failure is what the caller sees.
        IgnoringFailure([this] { _imageSource.Stop(); });
        IgnoringFailure([this] { _imageSource.Close(); });
        IgnoringFailure([this] { _imageSource.Bind(""); });
        throw;
    }
}

void Scanner::OpenImageSource(const Tamo::String& name) {
    _imageSource.Bind(name);
    _imageSource.SetFeature("OpenMode", "ImageSource");
    _imageSource.SetFeature("CameraEvents", _cameraEvents);
    _imageSource.Open();
    _cameraFault = false;

    auto readCamera = [this](const char* feature) {
        Tamo::String value;
        _imageSource.GetFeature(feature, value);
        return value;
    };
    const Tamo::String vendor = readCamera("DeviceVendorName");
    const Tamo::String model = readCamera("DeviceModelName");
    const Tamo::String serial = readCamera("DeviceSerialNumber");
    Features("DeviceImageSourceVendor").SetValue(vendor);
    Features("DeviceImageSourceModel").SetValue(model);
    Features("DeviceImageSourceSerial").SetValue(serial);
    Features("AcquisitionLineRateMaximum").SetValue("0");
    Features("AcquisitionLineRateCurrentMaximum").SetValue("0");

    if (name != _configuredImageSource) {
        for (const char* feature : {"Width", "Height", "OffsetX", "OffsetY"})
            Features(feature).SetValue(readCamera(feature));
        Features("ReverseXY").SetValue("False");
        const Tamo::String& scanType = _controller._deviceScanType;
        _imageSource.SetFeature("ExposureTime", scanType == "Linescan" ? "10" : "50");
        Features("Gain").SetValue("0");
        Features("ExposureTime").SetValue(readCamera("ExposureTime"));
        if (scanType == "Areascan") {
            Features("GevSCPD").SetValue("0");
            Features("GevRequestTimeout").SetValue("2000");
            Features("GevLatencyLevel").SetValue("0");
            for (const char* entry : BurstCapableModels)
                if (model.IndexOf(entry) >= 0)
                    Features("AcquisitionBurstMode").SetValue("On");
        }
    }

    _controller.DetectCabling(_imageSource);
    if (!_controller.CablingValid())
        throw Tamo::Exception("Trigger lines not connected. Please check controller cabling.", "");

    Tamo::Log::WriteFormat(Tamo::Notify, __LINE__, Function, SourceFile, "Open done.");
    _configuredImageSource = name;
    _dialog.SetImageSource(&_imageSource);
    _acquisitionStarted = false;
}

} // namespace Tamo::Morvane::Zeb
