// Scanner: the concrete video channel. It owns the lighting controller, the camera and the setup
// assistant, and defines the channel's 39 features.
#pragma once

#include "Controller.h"
#include "DervoImaging.h"
#include "Dialog.h"
#include "Export.h"
#include "TamoAcquisition.h"
#include "VideoChannel.h"

#include <atomic>
#include <vector>

namespace Tamo::Morvane::Zeb {

// A device fault mark. The error mapping sets it outside the channel lock (after the failed call
// released it) while another thread's call on the same channel may read it, so it is atomic.
class FaultFlag {
public:
    FaultFlag(bool value = false) : _value(value) {}
    FaultFlag(const FaultFlag& other) : _value(other._value.load()) {}
    FaultFlag& operator=(bool value) {
        _value = value;
        return *this;
    }
    operator bool() const { return _value.load(); }

private:
    std::atomic<bool> _value;
};

class ZEB_EXPORT Scanner : public VideoChannel {
public:
    static const Tamo::Reflection Reflection;

    Scanner();
    Scanner(const Scanner& other);
    ~Scanner() override;

    Tamo::Type GetType() const override { return Tamo::Type(&Scanner::Reflection); }
    Tamo::Object* Clone() const override { return new Scanner(*this); }
    Tamo::String HandleError(const Tamo::Exception& exception) override;

    int32_t& DeviceControllerId() { return _deviceControllerId; }
    bool& LightingDetection() { return _lightingDetection; }
    Tamo::String& CameraEvents() { return _cameraEvents; }

    // Closes the camera in use and opens the named one (the empty name only closes).
    void SetImageSource(const Tamo::String& name);
    // A camera frame, overwritten by the test pattern when "TestPattern" is "On".
    void GetFrame(int64_t index, int32_t& width, int32_t& height, int32_t& stride, unsigned char*& data);

    void AlignInteger(const Tamo::String& name, int32_t& value, int32_t minimum, int32_t maximum,
                      int32_t increment);
    void AlignFloat(const Tamo::String& name, float& value, float minimum, float maximum, float increment);
    // Writes a feature from inside the channel, through the same handler as a host write.
    void SetFeature(const Tamo::String& name, const Tamo::String& value);
    static Tamo::String FlipLightingOrientation(const Tamo::String& orientation);

    // The device fault marks, for tests of the error mapping.
    bool ControllerFault() const { return _controllerFault; }
    bool CameraFault() const { return _cameraFault; }

protected:
    void OnInitialize() override;
    void OnRelease() override;
    void OnStartAcquisition() override;
    void OnStopAcquisition() override;
    void OnGetImage(int32_t& status, qrZEB_ImageAttributes& attributes, char* image) override;
    void OnSetupCommonParams(const qrZEB_CommonParams& parameters) override;
    void OnExecuteCommand(const Tamo::String& name) override;
    void OnReadValue(const Tamo::String& name) override;
    void OnWriteValue(const Tamo::String& name, const Tamo::String& oldValue,
                      Tamo::String& newValue) override;

private:
    const Tamo::String& Value(const char* name) { return Features(name).Value(); }
    void OpenImageSource(const Tamo::String& name);
    void DetectImageSource();
    void ApplyTestPattern(int32_t width, int32_t height, int32_t stride, unsigned char* data);
    int32_t FramesPerImage() const;
    void WaitForFrames(int32_t& status);
    // Takes the next F frames from the camera; each matching frame's rows go to `target` at row
    // k x H, where H and W are the probed size.
    void TakeFrames(int32_t frames, int32_t width, int32_t height, unsigned char* target);
    // Takes the next F frames of the probed size W x H and writes their average (`outputHeight`
    // rows) into the host's buffer.
    void DeliverAveraged(int32_t frames, int32_t width, int32_t height, int32_t outputHeight,
                         unsigned char* output);
    void WriteThrough(const Tamo::String& name, Tamo::String& value);

    int32_t _deviceControllerId = 0;
    Controller _controller;
    FaultFlag _controllerFault = false;
    std::vector<Tamo::String> _imageSources;
    Tamo::Acquisition::ImageSource _imageSource;
    FaultFlag _cameraFault = false;
    bool _acquisitionStarted = false;
    int64_t _frameIndex = 0;
    uint8_t _testPatternValue = 0;
    int32_t _sequencerProgress = 0;
    int64_t _progressTime = 0;
    bool _lightingDetection = false;
    Tamo::String _cameraEvents;
    Dialog _dialog;
    Tamo::String _configuredImageSource;
};

} // namespace Tamo::Morvane::Zeb
