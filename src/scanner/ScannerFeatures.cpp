// Feature read, write and execute: the handlers that tie the channel's text features to the live
// camera, the lighting controller and the setup assistant.
#include "Scanner.h"

#include <cmath>

namespace Tamo::Morvane::Zeb {

namespace {

constexpr const char* SourceFile = "Scanner";
constexpr const char* WriteFunction = "Tamo::Morvane::Zeb::Scanner::OnWriteValue";
constexpr const char* ExecuteFunction = "Tamo::Morvane::Zeb::Scanner::OnExecuteCommand";
constexpr int32_t ExposureLimit = 65000;

} // namespace

Tamo::String Scanner::FlipLightingOrientation(const Tamo::String& orientation) {
    if (orientation == "0 deg")
        return "180 deg";
    if (orientation == "90 deg")
        return "270 deg";
    if (orientation == "180 deg")
        return "0 deg";
    if (orientation == "270 deg")
        return "90 deg";
    return "";
}

void Scanner::AlignInteger(const Tamo::String& name, int32_t& value, int32_t minimum, int32_t maximum,
                           int32_t increment) {
    const char* function = "Tamo::Morvane::Zeb::Scanner::AlignInteger";
    if (increment != 0 && value % increment != 0) {
        value -= value % increment;
        Tamo::Log::WriteFormat(
            Tamo::Debug, __LINE__, function, SourceFile,
            "Value was adjusted due to increment. (Feature = %s, Value = %d, Increment = %d)", name.CStr(),
            value, increment);
    }
    if (value < minimum) {
        value = minimum;
        Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, function, SourceFile,
                               "Value was minimum limited. (Feature = %s, Value = %d, Minimum = %d)",
                               name.CStr(), minimum, minimum);
    }
    if (value > maximum) {
        value = maximum;
        Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, function, SourceFile,
                               "Value was maximum limited. (Feature = %s, Value = %d, Maximum = %d)",
                               name.CStr(), maximum, maximum);
    }
}

void Scanner::AlignFloat(const Tamo::String& name, float& value, float minimum, float maximum,
                         float increment) {
    const char* function = "Tamo::Morvane::Zeb::Scanner::AlignFloat";
    if (increment != 0.0f && std::fmod(value, increment) != 0.0f) {
        value = std::floor(value / increment) * increment;
        Tamo::Log::WriteFormat(
            Tamo::Debug, __LINE__, function, SourceFile,
            "Value was adjusted due to increment. (Feature = %s, Value = %f, Increment = %f)", name.CStr(),
            static_cast<double>(value), static_cast<double>(increment));
    }
    if (minimum > value) {
        value = minimum;
        Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, function, SourceFile,
                               "Value was minimum limited. (Feature = %s, Value = %f, Minimum = %f)",
                               name.CStr(), static_cast<double>(minimum), static_cast<double>(minimum));
    }
    if (value > maximum) {
        value = maximum;
        Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, function, SourceFile,
                               "Value was maximum limited. (Feature = %s, Value = %f, Maximum = %f)",
                               name.CStr(), static_cast<double>(maximum), static_cast<double>(maximum));
    }
}

void Scanner::SetFeature(const Tamo::String& name, const Tamo::String& value) {
    Tamo::String working = value;
    OnWriteValue(name, Features(name).Value(), working);
    Features(name).SetValue(working);
}

void Scanner::OnReadValue(const Tamo::String& name) {
    if (_controller.Linescan() &&
        (name == "AcquisitionLineRateMaximum" || name == "AcquisitionLineRateCurrentMaximum")) {
        try {
            Tamo::String value;
            _imageSource.GetFeature(name, value);
            Features(name).SetValue(value);
        } catch (...) {
        }
    }
    if (name == "DialogStatus")
        Features(name).SetValue(_dialog.Status() ? "True" : "False");
    if (name == "DialogInstruction")
        Features(name).SetValue(_dialog.Instruction());
    if (name == "DialogAcquisitionRequest") {
        _dialog.Update();
        Features(name).SetValue(_dialog.AcquisitionRequest() ? "True" : "False");
    }
    if (name == "DialogResult") {
        _dialog.Update();
        Features(name).SetValue(_dialog.Result());
    }
    if (name == "DialogResultMessage")
        Features(name).SetValue(_dialog.ResultMessage());
    if (name == "DialogResultMessageArguments")
        Features(name).SetValue(_dialog.ResultMessageArguments());
}

void Scanner::WriteThrough(const Tamo::String& name, Tamo::String& value) {
    _imageSource.SetFeature(name, value);
    _imageSource.GetFeature(name, value);
}

void Scanner::OnWriteValue(const Tamo::String& name, const Tamo::String& oldValue, Tamo::String& newValue) {
    // 1. Camera selection; an unusable camera is stored as "None".
    if (name == "DeviceImageSource" && newValue != oldValue) {
        try {
            SetImageSource(newValue == "None" ? Tamo::String() : newValue);
        } catch (...) {
            Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, WriteFunction, SourceFile,
                                   "Value is invalid (Feature = %s, Value = %s, NewValue = None)",
                                   name.CStr(), newValue.CStr());
            newValue = "None";
            SetImageSource("");
        }
    }

    // 2. Camera features go through to the camera and come back as the camera accepted them.
    if (_imageSource.Bound().Length() > 0) {
        if (name == "ExposureTime") {
            if (newValue.ToInt() > ExposureLimit) {
                Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, WriteFunction, SourceFile,
                                       "Value was maximum limited. (Feature = %s, Value = %s, Maximum = %d)",
                                       name.CStr(), newValue.CStr(), ExposureLimit);
                newValue = Tamo::String::FromInt(ExposureLimit);
            }
            WriteThrough(name, newValue);
        } else if (name == "Width" || name == "OffsetX" || name == "OffsetY" || name == "Gain") {
            WriteThrough(name, newValue);
        } else if (name == "Height") {
            if (_controller.Linescan()) {
                Tamo::String cameraHeight = Tamo::String::FromInt(static_cast<int64_t>(newValue.ToInt()) * 4);
                WriteThrough(name, cameraHeight);
                newValue = Tamo::String::FromInt(cameraHeight.ToInt() / 4);
            } else {
                WriteThrough(name, newValue);
            }
        } else if (_controller.Areascan() && (name == "ReverseXY" || name == "GevSCPD" ||
                                              name == "GevRequestTimeout" || name == "GevLatencyLevel")) {
            WriteThrough(name, newValue);
        }
    }

    // 3. Line-scan limits.
    if (_controller.Linescan()) {
        if (name == "AcquisitionLineRate") {
            float rate = newValue.ToFloat();
            float maximum = 1000000.0f;
            if (_imageSource.Bound().Length() > 0) {
                Tamo::String cameraMaximum;
                _imageSource.GetFeature("AcquisitionLineRateMaximum", cameraMaximum);
                maximum = cameraMaximum.ToFloat();
            }
            AlignFloat(name, rate, 10.0f, maximum, 0.0f);
            newValue = Tamo::String::FromFloat(rate);
        }
        if (name == "EncoderResolution") {
            int32_t resolution = newValue.ToInt();
            AlignInteger(name, resolution, 8, _controller._encoderResolutionMaximum, 4);
            newValue = Tamo::String::FromInt(resolution);
        }
    }

    // 4. The assistant selector is locked while an assistant runs.
    if (name == "DialogSelector" && _dialog.Status() && newValue != oldValue)
        throw Tamo::Exception(
            "There is already a dialog running. Changes of the dialog selector are not possible in "
            "this status.",
            "");
}

void Scanner::OnSetupCommonParams(const qrZEB_CommonParams& parameters) {
    SetFeature("ExposureTime",
               Tamo::String::FromFloat(static_cast<float>(parameters.exposureSeconds) * 1000000.0f));
    SetFeature("Gain", Tamo::String::FromDouble(parameters.gain));
    SetFeature("AcquisitionMode", parameters.continuous != 0 ? "Continuous" : "SingleFrame");
    SetFeature("TriggerMode", parameters.triggerMode != 0 ? "On" : "Off");
    SetFeature("TriggerActivation", parameters.risingEdge != 0 ? "RisingEdge" : "FallingEdge");
    SetFeature("OffsetX", "0");
    SetFeature("OffsetY", "0");
    SetFeature("Width", Tamo::String::FromInt(parameters.width));
    SetFeature("Height", Tamo::String::FromInt(parameters.height));
    SetFeature("OffsetX", Tamo::String::FromInt(parameters.offsetX));
    SetFeature("OffsetY", Tamo::String::FromInt(parameters.offsetY));
}

void Scanner::OnRelease() {
    SetImageSource("");
}

void Scanner::DetectImageSource() {
    Tamo::Log::WriteFormat(Tamo::Notify, __LINE__, ExecuteFunction, SourceFile, "DeviceImageSourceDetect");
    for (const Tamo::String& candidate : _imageSources) {
        Tamo::Log::WriteFormat(Tamo::Notify, __LINE__, ExecuteFunction, SourceFile, "Checking ImageSource %s",
                               candidate.CStr());
        bool found = false;
        try {
            const Tamo::String owner = Tamo::Acquisition::Main::Instance().ImageSource(candidate).Owner();
            if (owner.Length() == 0 || owner == Name()) {
                _imageSource.Bind(candidate);
                _imageSource.SetFeature("OpenMode", "DigitalInputs");
                _imageSource.Open();
                _controller.DetectCabling(_imageSource);
                found = _controller.CablingValid();
            } else {
                Tamo::Log::WriteFormat(Tamo::Notify, __LINE__, ExecuteFunction, SourceFile,
                                       "ImageSource already used by %s", owner.CStr());
            }
        } catch (...) {
        }
        Features("DeviceImageSource").SetValue("None");
        SetImageSource("");
        if (found) {
            Features("DeviceImageSource").SetValue(candidate);
            SetImageSource(candidate);
            break;
        }
    }
}

void Scanner::OnExecuteCommand(const Tamo::String& name) {
    if (name == "DeviceImageSourceDetect")
        DetectImageSource();
    if (name == "DialogStart")
        _dialog.Start(Features("DialogSelector").Value());
    if (name == "DialogStop")
        _dialog.Stop();
    if (name == "DialogNext")
        _dialog.Next();
    if (_dialog.Status())
        _dialog.Update();
}

} // namespace Tamo::Morvane::Zeb
