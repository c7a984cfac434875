// VideoChannel: base of every channel the plug-in offers. It locks, traces, initialises lazily,
// checks feature access and hands the work to the concrete channel's handlers.
#pragma once

#include "Export.h"
#include "Feature.h"
#include "HostStructures.h"
#include "Tamo.h"

#include <vector>

namespace Tamo::Morvane::Zeb {

class ZEB_EXPORT VideoChannel : public Tamo::Object {
public:
    static const Tamo::Reflection Reflection;

    VideoChannel() = default;
    VideoChannel(const VideoChannel& other) = default;

    Tamo::Type GetType() const override { return Tamo::Type(&VideoChannel::Reflection); }
    Tamo::Object* Clone() const override { return new VideoChannel(*this); }
    ~VideoChannel() override = default;

    virtual Tamo::String HandleError(const Tamo::Exception& exception);

    Tamo::String& Name() { return _name; }
    Tamo::String& SerialNumber() { return _serialNumber; }
    Tamo::Mutex& Mutex() { return _mutex; }

    // The feature of that name; throws "Feature <name> does not exist." when there is none.
    Feature& Features(const Tamo::String& name);
    // Runs OnInitialize once; called with the mutex held.
    void Initialize();

    // Host operations: each locks the channel for its whole run.
    void Release();
    void StartAcquisition();
    void WaitForIntegration(int32_t& status);
    void StopAcquisition();
    void GetImageAttributes(qrZEB_ImageAttributes& attributes, int32_t& status);
    void GetImage(char* image, int32_t& status);
    void SetupCommonParams(const qrZEB_CommonParams& parameters);
    void GetFeatureName(int32_t index, Tamo::String& name);
    void GetFeatureType(const Tamo::String& name, int32_t& type);
    void GetValidEnum(const Tamo::String& name, int32_t index, Tamo::String& value);
    void GetFeatureAttr(const Tamo::String& name, int32_t attribute, Tamo::String& value);
    void ExecuteCommand(const Tamo::String& name);
    void ReadValue(const Tamo::String& name, Tamo::String& value);
    void WriteValue(const Tamo::String& name, const Tamo::String& value);

protected:
    virtual void OnInitialize() {}
    virtual void OnRelease() {}
    virtual void OnStartAcquisition() {}
    virtual void OnStopAcquisition() {}
    virtual void OnGetImage(int32_t& status, qrZEB_ImageAttributes& attributes, char* image) {
        (void)status, (void)attributes, (void)image;
    }
    virtual void OnSetupCommonParams(const qrZEB_CommonParams& parameters) { (void)parameters; }
    virtual void OnExecuteCommand(const Tamo::String& name) { (void)name; }
    virtual void OnReadValue(const Tamo::String& name) { (void)name; }
    virtual void OnWriteValue(const Tamo::String& name, const Tamo::String& oldValue,
                              Tamo::String& newValue) {
        (void)name, (void)oldValue, (void)newValue;
    }

    std::vector<Feature> _features;

private:
    Tamo::String _name;
    Tamo::String _serialNumber;
    Tamo::Mutex _mutex;

protected:
    bool _initialized = false;
};

} // namespace Tamo::Morvane::Zeb
