// The host's side of the plug-in: the exported entry function that fills a channel's descriptor and
// the fourteen static entry points, each forwarding to its channel and turning failures into the
// host's error text.
#include "Main.h"

#include "VideoChannel.h"

#include <cstring>

namespace Tamo::Morvane::Zeb {

namespace {

constexpr const char* SourceFile = "Main";
constexpr int32_t DescriptorGroup1 = 640;
constexpr int32_t DescriptorGroup2 = 688;

} // namespace

void Main::CopyString(char* destination, const Tamo::String& text) {
    if (!destination)
        return;
    const int64_t length = text.Length();
    const size_t n = static_cast<uint64_t>(length) < 255u ? static_cast<size_t>(length) : 255u;
    std::memcpy(destination, text.CStr(), n);
    std::memset(destination + n, 0, 256 - n);
}

void Main::HandleException(VideoChannel& channel, const Tamo::String& sourceName, char* errorText,
                           const Tamo::Exception* exception) {
    Tamo::Exception error("Unknown error occurred.", sourceName);
    if (exception)
        error = *exception;
    if (error.Function() == "")
        error = Tamo::Exception(error.Error(), sourceName);
    Tamo::String text;
    try {
        text = channel.HandleError(error);
    } catch (...) {
        text = error.Error();
    }
    CopyString(errorText, text);
}

VideoChannel* Main::ChannelFromHandle(qrZEB_Handle handle) {
    if (handle == 0)
        return nullptr;
    // Once start-up has finished the list never changes again: it is read without a lock, so a
    // call on one channel waits for nothing that another channel does.
    if (_initialized)
        return FindChannel(handle);
    // Until then no handle has been handed out, and a start-up in progress may still be adding
    // channels: the list is only read when no start-up runs, and a call never waits for one.
    std::unique_lock lock(_startupLock, std::try_to_lock);
    return lock.owns_lock() ? FindChannel(handle) : nullptr;
}

VideoChannel* Main::FindChannel(qrZEB_Handle handle) const {
    for (int32_t i = 0; i < _channels.Count(); ++i)
        if (reinterpret_cast<qrZEB_Handle>(_channels[i]) == handle)
            return _channels[i];
    return nullptr;
}

template <typename Operation>
qrZEB_Long Main::Call(char* errorText, qrZEB_Handle handle, const char* sourceName, Operation operation) {
    // After unload has begun the channels are gone and no handle names one.
    VideoChannel* channel = _loaded ? Instance().ChannelFromHandle(handle) : nullptr;
    if (!channel) {
        CopyString(errorText, Tamo::String(sourceName) + ": Invalid channel handle.");
        return 1;
    }
    try {
        operation(*channel);
        return 0;
    } catch (const Tamo::Exception& exception) {
        HandleException(*channel, sourceName, errorText, &exception);
    } catch (...) {
        HandleException(*channel, sourceName, errorText, nullptr);
    }
    return 1;
}

namespace {
// Arguments the host must pass; a null one fails the call with a clear text instead of a crash.
void Require(const void* pointer, const char* what) {
    if (!pointer)
        throw Tamo::Exception(Tamo::String("Invalid argument: ") + what + " is null.", "");
}
} // namespace

qrZEB_Long Main::SetupCommonParams(char* errorText, qrZEB_Handle handle,
                                   const qrZEB_CommonParams* parameters) {
    return Call(errorText, handle, "Tamo::Morvane::Zeb::SetupCommonParams", [&](VideoChannel& channel) {
        Require(parameters, "parameters");
        channel.SetupCommonParams(*parameters);
    });
}

qrZEB_Long Main::GetImageAttributes(char* errorText, qrZEB_Handle handle, qrZEB_ImageAttributes* attributes,
                                    qrZEB_Long* status) {
    return Call(errorText, handle, "Tamo::Morvane::Zeb::GetImageAttributes", [&](VideoChannel& channel) {
        Require(attributes, "attributes");
        Require(status, "status");
        channel.GetImageAttributes(*attributes, *status);
    });
}

qrZEB_Long Main::WaitForIntegration(char* errorText, qrZEB_Handle handle, qrZEB_Long* status) {
    return Call(errorText, handle, "Tamo::Morvane::Zeb::WaitForIntegration", [&](VideoChannel& channel) {
        Require(status, "status");
        channel.WaitForIntegration(*status);
    });
}

qrZEB_Long Main::GetImage(char* errorText, qrZEB_Handle handle, char* image, qrZEB_Long* status) {
    // Without a buffer the call only tells whether an image is ready and takes nothing.
    return Call(errorText, handle, "Tamo::Morvane::Zeb::GetImage", [&](VideoChannel& channel) {
        Require(status, "status");
        channel.GetImage(image, *status);
    });
}

qrZEB_Long Main::StartAcquisition(char* errorText, qrZEB_Handle handle) {
    return Call(errorText, handle, "Tamo::Morvane::Zeb::StartAcquisition",
                [&](VideoChannel& channel) { channel.StartAcquisition(); });
}

qrZEB_Long Main::StopAcquisition(char* errorText, qrZEB_Handle handle) {
    return Call(errorText, handle, "Tamo::Morvane::Zeb::StopAcquisition",
                [&](VideoChannel& channel) { channel.StopAcquisition(); });
}

qrZEB_Long Main::ExecuteCommand(char* errorText, qrZEB_Handle handle, const char* feature) {
    return Call(errorText, handle, "Tamo::Morvane::Zeb::ExecuteCommand", [&](VideoChannel& channel) {
        Require(feature, "feature name");
        channel.ExecuteCommand(feature);
    });
}

qrZEB_Long Main::ReadValue(char* errorText, qrZEB_Handle handle, const char* feature, char* value) {
    return Call(errorText, handle, "Tamo::Morvane::Zeb::ReadValue", [&](VideoChannel& channel) {
        Require(feature, "feature name");
        Require(value, "value buffer");
        Tamo::String result;
        channel.ReadValue(feature, result);
        CopyString(value, result);
    });
}

qrZEB_Long Main::WriteValue(char* errorText, qrZEB_Handle handle, const char* feature, const char* value) {
    return Call(errorText, handle, "Tamo::Morvane::Zeb::WriteValue", [&](VideoChannel& channel) {
        Require(feature, "feature name");
        Require(value, "value");
        channel.WriteValue(feature, value);
    });
}

qrZEB_Long Main::GetFeatureName(char* errorText, qrZEB_Handle handle, qrZEB_Long index, char* name) {
    return Call(errorText, handle, "Tamo::Morvane::Zeb::GetFeatureName", [&](VideoChannel& channel) {
        Require(name, "name buffer");
        Tamo::String result;
        channel.GetFeatureName(index, result);
        CopyString(name, result);
    });
}

qrZEB_Long Main::GetFeatureType(char* errorText, qrZEB_Handle handle, const char* feature, qrZEB_Long* type) {
    return Call(errorText, handle, "Tamo::Morvane::Zeb::GetFeatureType", [&](VideoChannel& channel) {
        Require(feature, "feature name");
        Require(type, "type");
        channel.GetFeatureType(feature, *type);
    });
}

qrZEB_Long Main::GetValidEnum(char* errorText, qrZEB_Handle handle, const char* feature, qrZEB_Long index,
                              char* value) {
    return Call(errorText, handle, "Tamo::Morvane::Zeb::GetValidEnum", [&](VideoChannel& channel) {
        Require(feature, "feature name");
        Require(value, "value buffer");
        Tamo::String result;
        channel.GetValidEnum(feature, index, result);
        CopyString(value, result);
    });
}

qrZEB_Long Main::GetFeatureAttr(char* errorText, qrZEB_Handle handle, const char* feature,
                                qrZEB_Long attribute, char* value) {
    return Call(errorText, handle, "Tamo::Morvane::Zeb::GetFeatureAttr", [&](VideoChannel& channel) {
        Require(feature, "feature name");
        Require(value, "value buffer");
        Tamo::String result;
        channel.GetFeatureAttr(feature, attribute, result);
        CopyString(value, result);
    });
}

qrZEB_Long Main::ReleaseVideoChannel(char* errorText, qrZEB_Handle handle) {
    Tamo::Log::WriteFormat(Tamo::Debug, __LINE__, "Tamo::Morvane::Zeb::Main::ReleaseVideoChannel", SourceFile,
                           "ReleaseVideoChannel");
    if (!_loaded)
        return 0;
    return Call(errorText, handle, "Tamo::Morvane::Zeb::ReleaseVideoChannel",
                [&](VideoChannel& channel) { channel.Release(); });
}

qrZEB_Long Main::FillDescriptor(char* errorText, qrZEB_Long index, qrZEB_ChannelDescriptor* descriptor) {
    const char* function = "Tamo::Morvane::Zeb::GetVideoChannel";
    try {
        Tamo::Log::WriteFormat(Tamo::Dump, __LINE__, function, SourceFile, "GetVideoChannel(%d)", index);
        // After unload has begun no channel is left: as an index out of range.
        if (!_loaded)
            return 1;
        Main& main = Instance();
        main.Initialize();
        if (index < 0 || index >= main._channels.Count())
            return 1;
        if (!descriptor)
            throw Tamo::Exception("Invalid argument: descriptor is null.", function);
        VideoChannel& channel = *main._channels[index];
        std::lock_guard lock(channel.Mutex().Native());
        // The host's structure may be shorter than ours: write only through byte offsets that fit.
        int32_t size = 0;
        std::memcpy(&size, descriptor, sizeof size);
        if (size >= DescriptorGroup1) {
            descriptor->handle = reinterpret_cast<qrZEB_Handle>(&channel);
            descriptor->SetupCommonParams = &Main::SetupCommonParams;
            descriptor->GetImageAttributes = &Main::GetImageAttributes;
            descriptor->WaitForIntegration = &Main::WaitForIntegration;
            descriptor->GetImage = &Main::GetImage;
            descriptor->StartAcquisition = &Main::StartAcquisition;
            descriptor->StopAcquisition = &Main::StopAcquisition;
            descriptor->ExecuteCommand = &Main::ExecuteCommand;
            descriptor->ReadValue = &Main::ReadValue;
            descriptor->WriteValue = &Main::WriteValue;
            CopyString(descriptor->name, channel.Name());
            CopyString(descriptor->serialNumber, channel.SerialNumber());
            descriptor->fixedDouble1 = 0.00005;
            descriptor->fixedZero1 = 0;
            descriptor->fixedZero2 = 0;
            descriptor->fixedInt1 = 1000;
            descriptor->fixedInt2 = 1000;
            descriptor->fixedDouble2 = 0.000001;
        }
        if (size >= DescriptorGroup2) {
            descriptor->GetFeatureName = &Main::GetFeatureName;
            descriptor->GetFeatureType = &Main::GetFeatureType;
            descriptor->GetValidEnum = &Main::GetValidEnum;
            descriptor->GetFeatureAttr = &Main::GetFeatureAttr;
            descriptor->ReleaseVideoChannel = &Main::ReleaseVideoChannel;
            descriptor->fixedZero3 = 0;
        }
        return 0;
    } catch (const Tamo::Exception& exception) {
        const Tamo::String text = exception.Function() + ": " + exception.Error();
        Tamo::Log::WriteFormat(Tamo::Error, __LINE__, function, SourceFile, "%s\n", text.CStr());
        CopyString(errorText, text);
    } catch (...) {
        CopyString(errorText, Tamo::String(function) + ": Unknown error occurred.");
    }
    return 1;
}

} // namespace Tamo::Morvane::Zeb

extern "C" qrZEB_Long GetVideoChannel(char* errorText, qrZEB_Long index,
                                      qrZEB_ChannelDescriptor* descriptor) {
    return Tamo::Morvane::Zeb::Main::FillDescriptor(errorText, index, descriptor);
}
