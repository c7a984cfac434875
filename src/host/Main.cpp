#include "Main.h"

#include "DervoController.h"
#include "Scanner.h"
#include "TamoAcquisition.h"
#include "VideoChannel.h"

#include <cctype>
#include <cstring>
#include <filesystem>

#if defined(_WIN32) && defined(__GLIBCXX__)
namespace __gnu_cxx {
void __freeres(); // the runtime's release of its own allocations (libstdc++)
}
#endif

namespace Tamo::Morvane::Zeb {

bool Main::_loaded = false;

namespace {

constexpr const char* SourceFile = "Main";
constexpr const char* Version = "26.1.0.564";
constexpr int32_t DescriptorGroup1 = 640;
constexpr int32_t DescriptorGroup2 = 688;

void Notify(int32_t line, const char* function, const char* message) {
    Tamo::Log::WriteFormat(Tamo::Notify, line, function, SourceFile, message);
}

#if defined(_WIN32) && defined(__GLIBCXX__)
// The DLL carries its own copy of the C++ runtime, whose emergency pool for exceptions (some 73 KB)
// is allocated at load and never given back by GCC 12's runtime: a host that loads and unloads the
// plug-in all day would lose it each time. This object is made before every other static object
// of the module (the lowest priority there is), so it is destroyed after all of them, when no
// exception can be thrown any more, and hands the pool back.
struct RuntimeRelease {
    ~RuntimeRelease() { __gnu_cxx::__freeres(); }
};
[[gnu::init_priority(101)]] RuntimeRelease runtimeRelease;
#endif

// Library load constructs the singleton first and registers the reflected types after it, so they
// are released in reverse order before the singleton is destroyed.
Main theMain;

struct TypeRegistration {
    TypeRegistration() {
        Tamo::Reflection::RegisterType(Tamo::Type(&Scanner::Reflection));
        Tamo::Reflection::RegisterType(Tamo::Type(&VideoChannel::Reflection));
    }
    ~TypeRegistration() {
        Tamo::Reflection::UnregisterType(Tamo::Type(&VideoChannel::Reflection));
        Tamo::Reflection::UnregisterType(Tamo::Type(&Scanner::Reflection));
    }
} typeRegistration;

// Log-level words of the settings file; anything else is Debug.
int32_t LevelFromWord(const Tamo::String& word) {
    static const struct {
        const char* word;
        int32_t level;
    } levels[] = {{"Critical", Tamo::Critical}, {"Error", Tamo::Error}, {"Warning", Tamo::Warning},
                  {"Notify", Tamo::Notify},     {"Dump", Tamo::Dump},   {"Success", Tamo::Success}};
    for (const auto& entry : levels)
        if (word == entry.word)
            return entry.level;
    return Tamo::Debug;
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

} // namespace

Main::Main() {
    Notify(__LINE__, "Tamo::Morvane::Zeb::Main::Main", "Tamo.Morvane.Zeb loading.");
    _loaded = true;
    _initialized = false;
}

Main::~Main() {
    Notify(__LINE__, "Tamo::Morvane::Zeb::Main::~Main", "Tamo.Morvane.Zeb unloading.");
    _loaded = false;
}

Main& Main::Instance() {
    return theMain;
}

Tamo::String Main::SettingsFolder() {
    return "C:\\\\ProgramData\\Brelan\\Tamo.Morvane.Zeb";
}

Tamo::String Main::SettingsFile() {
    return SettingsFolder() + "\\Config.conf";
}

Tamo::String Main::LogFilePath(const Tamo::String& logPath) {
    const std::string& text = logPath.Std();
    size_t nameStart = 0;
    for (size_t i = 0; i < text.size(); ++i)
        if (IsSeparator(text[i]))
            nameStart = i + 1;
    const bool driveRoot =
        text.size() >= 2 && text[1] == ':' && std::isalpha(static_cast<unsigned char>(text[0]));
    if (nameStart == 0 && driveRoot)
        nameStart = 2;
    const std::string fileName = text.substr(nameStart);
    const std::string folder = text.substr(0, nameStart);

    // Extension by the standard rules: from the last dot, none for ".", ".." or a leading only dot.
    std::string extension;
    const size_t dot = fileName.rfind('.');
    if (dot != std::string::npos && dot != 0 && fileName != "..")
        extension = fileName.substr(dot);
    std::string name = fileName.empty() ? std::string("Tamo.Morvane.Zeb") : fileName;
    std::string stem = name.substr(0, name.size() - extension.size());
    if (extension.empty())
        extension = ".log";
    if (folder.empty() || IsSeparator(folder.back()) || folder.back() == ':')
        return Tamo::String(folder + stem + extension);
    return Tamo::String(folder + "\\" + stem + extension);
}

void Main::Initialize() {
    std::lock_guard lock(_startupLock);
    if (_initialized)
        return;
    const char* function = "Tamo::Morvane::Zeb::Main::Initialize";
    Notify(__LINE__, function, "Tamo.Morvane.Zeb initialization.");
    Notify(__LINE__, function, "Load settings");
    _settings.AddValue("Log", "LogEnabled", "False");
    _settings.AddValue("Log", "LogLevel", "Debug");
    _settings.AddValue("Exceptions", "LightingDetection", "True");

    std::filesystem::create_directories(Tamo::Path::Native(SettingsFolder()));
    _settings.Load(SettingsFile(), false);
    _settings.Save("");

    Tamo::String cameraEvents;
    if (_settings.EntryValue("Log", "LogEnabled") == "True") {
        Tamo::Log::Initialize();
        Tamo::Log::SetLogLevel(Tamo::Debug);
        const Tamo::String word = _settings.EntryValue("Log", "LogLevel");
        if (word != "Debug")
            Tamo::Log::SetLogLevel(LevelFromWord(word));
        const Tamo::String logPath = _settings.EntryValue("Log", "LogPath");
        if (logPath.Length() > 0)
            Tamo::Log::SetLogPath(LogFilePath(logPath));
        cameraEvents = _settings.EntryValue("Log", "LogCameraEvents");
    }
    const bool lightingDetection = _settings.EntryValue("Exceptions", "LightingDetection") != "False";
    Tamo::Log::WriteFormat(Tamo::Notify, __LINE__, function, SourceFile, "Morvane ZEB version: %s", Version);
    Notify(__LINE__, function, "Load settings done");

    Tamo::Acquisition::Main::Instance().Load("Tamo.Acquisition.MicroEnable");
    Tamo::Acquisition::Main::Instance().Load("Tamo.Acquisition.Pleora");

    Notify(__LINE__, function, "Controller discovery.");
    {
        Dervo::Morvane::Controller discovery;
        discovery.UpdatePeers();
        for (int32_t deviceId = 0; deviceId < 16; ++deviceId) {
            bool present = false;
            Tamo::String serial;
            discovery.GetPeer(deviceId, present, serial);
            if (!present)
                continue;
            Tamo::Log::WriteFormat(Tamo::Notify, __LINE__, function, SourceFile,
                                   "Controller found. (DeviceId = %d, Serial = %s)", deviceId, serial.CStr());
            auto* scanner = new Scanner();
            scanner->DeviceControllerId() = deviceId;
            scanner->Name() = "BRELAN: Morvane (#" + Tamo::String::FromInt(deviceId) + ")";
            scanner->SerialNumber() = serial;
            scanner->LightingDetection() = lightingDetection;
            scanner->CameraEvents() = cameraEvents;
            Tamo::var<Scanner> holder(scanner);
            _channels.Add(holder, Tamo::List::End);
        }
    }
    Notify(__LINE__, function, "Controller discovery done.");
    Notify(__LINE__, function, "Tamo.Morvane.Zeb initialization done.");
    _initialized = true;
}

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
    VideoChannel* channel = Instance().ChannelFromHandle(handle);
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
        Initialize();
        if (index < 0 || index >= _channels.Count())
            return 1;
        if (!descriptor)
            throw Tamo::Exception("Invalid argument: descriptor is null.", function);
        VideoChannel& channel = *_channels[index];
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
    return Tamo::Morvane::Zeb::Main::Instance().FillDescriptor(errorText, index, descriptor);
}
