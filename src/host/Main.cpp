// Start-up of the plug-in: the singleton that library load makes and unload destroys, the settings
// file, the log's set-up and the discovery of the controllers that become the channels.
#include "Main.h"

#include "DervoController.h"
#include "Scanner.h"
#include "TamoAcquisition.h"
#include "VideoChannel.h"
#include "ZebVersion.h"

#include <cctype>
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
    Tamo::Log::WriteFormat(Tamo::Notify, __LINE__, function, SourceFile, "Morvane ZEB version: %s",
                           ZEB_PLUGIN_VERSION);
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

} // namespace Tamo::Morvane::Zeb
