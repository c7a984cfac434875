// Acquisition start and stop, and delivery of four-direction image sets into the host's buffer.
#include "Scanner.h"

#include "OvertriggerWatchdog.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>

namespace Tamo::Morvane::Zeb {

namespace {

constexpr const char* SourceFile = "Scanner";
constexpr const char* StartFunction = "Tamo::Morvane::Zeb::Scanner::OnStartAcquisition";
constexpr const char* ImageFunction = "Tamo::Morvane::Zeb::Scanner::OnGetImage";

constexpr int32_t StatusError = 8192;
constexpr int32_t StatusWaiting = 4096;
constexpr int32_t StatusReady = 0;
constexpr int64_t ProgressPollNanoseconds = 51000000;

int64_t SteadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A quotient as a 32-bit integer truncated toward zero, or `fallback` when it does not fit.
int32_t TruncatedOr(double value, int32_t fallback) {
    if (!std::isfinite(value) || value <= -2147483649.0 || value >= 2147483648.0)
        return fallback;
    return static_cast<int32_t>(value);
}

} // namespace

void Scanner::OnStartAcquisition() {
    if (_controllerFault) {
        Tamo::Log::WriteFormat(Tamo::Notify, __LINE__, StartFunction, SourceFile,
                               "Controller error, trying to recover.");
        _controller.Open();
        Tamo::Log::WriteFormat(Tamo::Notify, __LINE__, StartFunction, SourceFile, "Controller recover done.");
    }
    if (_cameraFault) {
        Tamo::Log::WriteFormat(Tamo::Notify, __LINE__, StartFunction, SourceFile,
                               "ImageSource error, trying to recover.");
        SetImageSource("");
        // The selection as it stands, "None" included: the host then hears what the library says.
        SetImageSource(Value("DeviceImageSource"));
        Tamo::Log::WriteFormat(Tamo::Notify, __LINE__, StartFunction, SourceFile,
                               "ImageSource recover done.");
    }
    if (_imageSource.Bound().Length() == 0)
        throw Tamo::Exception("No valid DeviceImageSource selected.", "");
    if (_acquisitionStarted)
        OnStopAcquisition();
    Tamo::Log::WriteFormat(Tamo::Notify, __LINE__, StartFunction, SourceFile, "Start.");

    const bool areascan = _controller.Areascan();
    const bool linescan = _controller.Linescan();
    _controller._sequenceRepeatCount = Features("Height").ToInt();
    _controller._acquisitionLineRateEnable = Value("AcquisitionLineRateEnable") == "True";
    _controller._acquisitionLineRate = Features("AcquisitionLineRate").ToFloat();
    _controller._acquisitionMode = Value("AcquisitionMode");
    _controller._triggerMode = Value("TriggerMode");
    _controller._triggerActivation = Value("TriggerActivation");
    _controller._lightingSequenceType = Value("LightingSequenceType");
    _controller._lightingOrientation = Value("LightingOrientation");
    _controller._pulseWidth = Value("ExposureTime");
    if (areascan) {
        _controller._pulseWidth = Tamo::String::FromFloat(Features("ExposureTime").ToFloat() + 100.0f);
        if (Value("ReverseXY") == "True")
            _controller._lightingOrientation = FlipLightingOrientation(Value("LightingOrientation"));
    }
    _controller._encoderResolution = Features("EncoderResolution").ToInt();
    _controller.Update();

    if (_lightingDetection) {
        if (_controller._lightingModel == "Unknown")
            throw Tamo::Exception("LightingModel not supported.", "");
        if (_controller._lightingModel == "None")
            throw Tamo::Exception(
                "LightingModel not connected. Power down the controller and connect the light.", "");
        if (_controller._lightingTrainingFailed)
            throw Tamo::Exception("LightingModel training sequence failed.", "");
    }

    _imageSource.SetFeature("Width", Value("Width"));
    _imageSource.SetFeature("Height", Tamo::String::FromInt(static_cast<int64_t>(Features("Height").ToInt()) *
                                                            (linescan ? 4 : 1)));
    for (const char* name : {"OffsetX", "OffsetY", "Gain", "ExposureTime"})
        _imageSource.SetFeature(name, Value(name));
    if (areascan) {
        _imageSource.SetFeature("TriggerSource", _controller.Trigger());
        _imageSource.SetFeature("LineSelector", _controller.TriggerReady());
        _imageSource.SetFeature("LineSource", "TriggerReady");
        for (const char* name : {"GevSCPD", "GevRequestTimeout", "GevLatencyLevel"})
            _imageSource.SetFeature(name, Value(name));
    }
    if (linescan) {
        _imageSource.SetFeature("TriggerSelector", "LineStart");
        _imageSource.SetFeature("TriggerSource", _controller.LineTrigger());
        _imageSource.SetFeature("TriggerSelector", "AcquisitionStart");
        _imageSource.SetFeature("TriggerSource", _controller.FrameTrigger());
        _imageSource.SetFeature("AcquisitionMode", Value("AcquisitionMode"));
        _imageSource.SetFeature("TriggerMode", "On");
    }
    _imageSource.Start();

    if (areascan) {
        _controller._clockDeadTime = "100";
        if (Value("AcquisitionBurstMode") == "Off") {
            Tamo::String rate;
            _imageSource.GetFeature("AcquisitionFrameRate", rate);
            const int32_t period = TruncatedOr(1000000.0 / rate.ToDouble(), 100);
            _controller._clockDeadTime = Tamo::String::FromInt(period > 100 ? period : 100);
        }
    }
    Tamo::Log::WriteFormat(Tamo::Dump, __LINE__, StartFunction, SourceFile, "  AcquisitionMode = %s",
                           Value("AcquisitionMode").CStr());
    Tamo::Log::WriteFormat(Tamo::Dump, __LINE__, StartFunction, SourceFile, "  TriggerMode = %s",
                           Value("TriggerMode").CStr());
    _controller.Update();
    _controller.Start();
    _dialog.ImageSetStarted();
    _frameIndex = 0;
    Tamo::Log::WriteFormat(Tamo::Notify, __LINE__, StartFunction, SourceFile, "Start done.");
    _cameraFault = false;
    _acquisitionStarted = true;
    _controllerFault = false;
    _sequencerProgress = 0;
    _progressTime = SteadyNanoseconds();
}

void Scanner::OnStopAcquisition() {
    if (!_acquisitionStarted)
        return;
    _controller.Stop();
    _imageSource.Stop();
    _acquisitionStarted = false;
}

int32_t Scanner::FramesPerImage() const {
    if (_controller.Areascan())
        return 4;
    if (_controller.Linescan())
        return 1;
    return 0;
}

void Scanner::ApplyTestPattern(int32_t width, int32_t height, int32_t stride, unsigned char* data) {
    if (data) {
        for (int32_t y = 0; y < height; ++y) {
            uint8_t* row = data + static_cast<int64_t>(y) * stride;
            const uint32_t base = static_cast<uint32_t>(_testPatternValue) + static_cast<uint32_t>(y);
            for (int32_t x = 0; x < width; ++x)
                row[x] = static_cast<uint8_t>(static_cast<uint32_t>(x) + base);
        }
    }
    _testPatternValue = static_cast<uint8_t>(_testPatternValue + 20);
}

void Scanner::GetFrame(int64_t index, int32_t& width, int32_t& height, int32_t& stride,
                       unsigned char*& data) {
    _imageSource.GetFrame(index, width, height, stride, data);
    if (Value("TestPattern") == "On")
        ApplyTestPattern(width, height, stride, data);
}

void Scanner::TakeFrames(int32_t frames, int32_t width, int32_t height, unsigned char* target) {
    for (int32_t k = 0; k < frames; ++k) {
        ++_frameIndex;
        int32_t frameWidth = 0, frameHeight = 0, stride = 0;
        unsigned char* data = nullptr;
        GetFrame(_frameIndex, frameWidth, frameHeight, stride, data);
        if (data && frameWidth == width && frameHeight == height && height != 0) {
            unsigned char* destination = target + static_cast<int64_t>(k) * height * width;
            if (stride == width) {
                std::memcpy(destination, data, static_cast<size_t>(height) * static_cast<size_t>(width));
            } else {
                for (int32_t row = 0; row < height; ++row)
                    std::memcpy(destination + static_cast<int64_t>(row) * width,
                                data + static_cast<int64_t>(row) * stride, static_cast<size_t>(width));
            }
        }
        _imageSource.ReleaseFrame(_frameIndex);
    }
}

void Scanner::WaitForFrames(int32_t& status) {
    const int64_t now = SteadyNanoseconds();
    if (_sequencerProgress >= 3) {
        int32_t allowed = OvertriggerWaitMs;
        if (_controller.Areascan()) {
            Tamo::String rate;
            _imageSource.GetFeature("AcquisitionFrameRate", rate);
            allowed = AreaScanOvertriggerWaitMs(rate, Value("ExposureTime").ToDouble());
        }
        const int64_t waited = (now - _progressTime) / 1000000;
        Tamo::Log::WriteFormat(Tamo::Dump, __LINE__, ImageFunction, SourceFile,
                               "Waiting for image %d ms. Max: %d ms", static_cast<int32_t>(waited), allowed);
        if (waited > allowed) {
            _sequencerProgress = 0;
            throw Tamo::Exception("Acquisition aborted because of camera overtriggered.", "");
        }
    } else if (now - _progressTime >= ProgressPollNanoseconds) {
        Tamo::String progress;
        _controller.GetRegisterValue("Sequencer.ExecutionProgress", progress);
        _sequencerProgress = progress.ToInt();
        _progressTime = now;
    }
    status = StatusWaiting;
}

void Scanner::OnGetImage(int32_t& status, qrZEB_ImageAttributes& attributes, char* image) {
    status = StatusError;
    const int32_t frames = FramesPerImage();
    int64_t newest = 0;
    _imageSource.GetFrameIndex(newest);
    if (newest - _frameIndex < frames) {
        WaitForFrames(status);
        return;
    }

    _sequencerProgress = 0;
    int32_t width = 0, height = 0, stride = 0;
    unsigned char* data = nullptr;
    GetFrame(_frameIndex + 1, width, height, stride, data);
    const Tamo::String setupMode = Value("SetupMode");
    const bool stacked = setupMode == "Off";
    const bool averaged = setupMode == "On";
    const int32_t outputHeight = stacked ? height * frames : averaged ? (height * frames) / 4 : 0;
    attributes.width = width;
    attributes.height = outputHeight;
    attributes.bytesPerRow = width;
    attributes.reserved16 = 0;
    attributes.reserved24 = 0;
    attributes.width2 = width;
    attributes.height2 = outputHeight;
    if (attributes.size > 608)
        attributes.reserved48 = 0;
    if (!image) {
        status = StatusReady;
        return;
    }

    if (_controller.Linescan()) {
        Tamo::String maximum, current;
        _imageSource.GetFeature("AcquisitionLineRateMaximum", maximum);
        _imageSource.GetFeature("AcquisitionLineRateCurrentMaximum", current);
        if (current.ToFloat() > maximum.ToFloat())
            Tamo::Log::WriteFormat(
                Tamo::Warning, __LINE__, ImageFunction, SourceFile,
                "Possibly poor image quality because camera was temporarily overtriggered: "
                "AcquisitionLineRateCurrentMaximum = %0.1f > AcquisitionLineRateMaximum = %0.1f",
                static_cast<double>(current.ToFloat()), static_cast<double>(maximum.ToFloat()));
    }

    auto* output = reinterpret_cast<unsigned char*>(image);
    if (stacked && frames > 0)
        TakeFrames(frames, width, height, output);
    if (averaged)
        DeliverAveraged(frames, width, height, outputHeight, output);
    status = StatusReady;

    _imageSource.GetFrameIndex(newest);
    if (newest - _frameIndex >= frames)
        return;
    if (Value("AcquisitionMode") == "Continuous") {
        _controller.SetRegisterValue("Sequencer.Enabled", "0");
        _controller.SetRegisterValue("Sequencer.Enabled", "1");
        _dialog.ImageSetStarted();
    }
}

} // namespace Tamo::Morvane::Zeb
