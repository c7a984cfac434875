// Main: the plug-in singleton. It owns the settings, the channel list and the start-up lock, and
// holds the exported entry function's fourteen static entry points.
#pragma once

#include "Export.h"
#include "HostStructures.h"
#include "Tamo.h"

#include <atomic>
#include <mutex>

namespace Tamo::Morvane::Zeb {

class VideoChannel;

class ZEB_EXPORT Main {
public:
    Main();
    virtual ~Main();
    Main(const Main&) = delete;
    Main& operator=(const Main&) = delete;

    static Main& Instance();
    // Runs start-up once; safe to call any number of times from any thread.
    void Initialize();
    Tamo::IniFile& Settings() { return _settings; }
    // The channels in discovery order; filled only by Initialize (and by tests before any call).
    Tamo::list<VideoChannel>& Channels() { return _channels; }
    bool Initialized() const { return _initialized; }

    // The log file path that a "LogPath" setting names.
    static Tamo::String LogFilePath(const Tamo::String& logPath);
    // The folder of the settings file and the file itself.
    static Tamo::String SettingsFolder();
    static Tamo::String SettingsFile();

    // Entry points handed to the host in the channel descriptor.
    static qrZEB_Long SetupCommonParams(char* errorText, qrZEB_Handle channel,
                                        const qrZEB_CommonParams* parameters);
    static qrZEB_Long GetImageAttributes(char* errorText, qrZEB_Handle channel,
                                         qrZEB_ImageAttributes* attributes, qrZEB_Long* status);
    static qrZEB_Long WaitForIntegration(char* errorText, qrZEB_Handle channel, qrZEB_Long* status);
    static qrZEB_Long GetImage(char* errorText, qrZEB_Handle channel, char* image, qrZEB_Long* status);
    static qrZEB_Long StartAcquisition(char* errorText, qrZEB_Handle channel);
    static qrZEB_Long StopAcquisition(char* errorText, qrZEB_Handle channel);
    static qrZEB_Long ExecuteCommand(char* errorText, qrZEB_Handle channel, const char* feature);
    static qrZEB_Long ReadValue(char* errorText, qrZEB_Handle channel, const char* feature, char* value);
    static qrZEB_Long WriteValue(char* errorText, qrZEB_Handle channel, const char* feature,
                                 const char* value);
    static qrZEB_Long GetFeatureName(char* errorText, qrZEB_Handle channel, qrZEB_Long index, char* name);
    static qrZEB_Long GetFeatureType(char* errorText, qrZEB_Handle channel, const char* feature,
                                     qrZEB_Long* type);
    static qrZEB_Long GetValidEnum(char* errorText, qrZEB_Handle channel, const char* feature,
                                   qrZEB_Long index, char* value);
    static qrZEB_Long GetFeatureAttr(char* errorText, qrZEB_Handle channel, const char* feature,
                                     qrZEB_Long attribute, char* value);
    static qrZEB_Long ReleaseVideoChannel(char* errorText, qrZEB_Handle channel);

    static void HandleException(VideoChannel& channel, const Tamo::String& sourceName, char* errorText,
                                const Tamo::Exception* exception);
    static void CopyString(char* destination, const Tamo::String& text);

    // Fills the host's descriptor for one channel (the work of GetVideoChannel).
    static qrZEB_Long FillDescriptor(char* errorText, qrZEB_Long index, qrZEB_ChannelDescriptor* descriptor);

    static bool _loaded;

private:
    // The channel behind a handle, or null when the handle names none of ours.
    VideoChannel* ChannelFromHandle(qrZEB_Handle handle);
    VideoChannel* FindChannel(qrZEB_Handle handle) const;
    template <typename Operation>
    static qrZEB_Long Call(char* errorText, qrZEB_Handle handle, const char* sourceName, Operation operation);

    Tamo::list<VideoChannel> _channels;
    std::mutex _startupLock;
    std::atomic<bool> _initialized{false};
    Tamo::IniFile _settings;
};

} // namespace Tamo::Morvane::Zeb

extern "C" ZEB_EXPORT qrZEB_Long GetVideoChannel(char* errorText, qrZEB_Long index,
                                                 qrZEB_ChannelDescriptor* descriptor);
