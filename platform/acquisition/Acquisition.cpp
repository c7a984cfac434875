// The acquisition library with its two transport plug-ins, backed by the simulated station.
#include "TamoAcquisition.h"

#include "ModuleLifetime.h"
#include "Station.h"
#include "Trace.h"

#include <map>
#include <memory>
#include <mutex>
#include <set>

namespace Tamo::Acquisition {

namespace {

using zeb::station::Outcome;
using zeb::station::Station;

// Process-wide state of the library: loaded transports and the owner of every image source.
struct Library {
    std::mutex mutex;
    std::set<std::string> transports;
    std::map<std::string, std::string> owners;
    std::map<std::string, std::unique_ptr<ImageSourceInterface>> interfaces;
};

// Released when the module unloads, after the channels have closed their image sources.
[[gnu::init_priority(zeb::lifetime::AcquisitionLibrary)]] Library theLibrary;

Library& TheLibrary() {
    return theLibrary;
}

String Function(const char* operation) {
    return String("Tamo::Acquisition::ImageSource::") + operation;
}

ExitCode Check(const Outcome& outcome, const char* operation) {
    if (!outcome.Ok())
        throw Exception(outcome.error, Function(operation));
    return 0;
}

bool TransportLoaded(const std::string& transport) {
    Library& library = TheLibrary();
    std::lock_guard lock(library.mutex);
    return library.transports.count(transport) > 0;
}

} // namespace

String ImageSourceInterface::Owner() const {
    Library& library = TheLibrary();
    std::lock_guard lock(library.mutex);
    const auto it = library.owners.find(_name.Std());
    return it == library.owners.end() ? String() : String(it->second);
}

Main& Main::Instance() {
    static Main main;
    return main;
}

ExitCode Main::Load(const String& name) {
    const std::string prefix = "Tamo.Acquisition.";
    const std::string text = name.Std();
    const std::string transport = text.starts_with(prefix) ? text.substr(prefix.size()) : "";
    if (transport != "MicroEnable" && transport != "Pleora")
        return 1;
    Library& library = TheLibrary();
    std::lock_guard lock(library.mutex);
    library.transports.insert(transport);
    return 0;
}

std::vector<String> Main::ImageSources(const String& filter) {
    Station& station = Station::Instance();
    std::vector<std::pair<std::string, std::string>> cameras; // name, transport
    {
        std::lock_guard lock(station.Mutex());
        for (const auto* camera : station.Cameras())
            if (camera->scanType == filter.Std())
                cameras.emplace_back(camera->name, camera->transport);
    }
    std::vector<String> names;
    for (const auto& [name, transport] : cameras)
        if (TransportLoaded(transport))
            names.emplace_back(name);
    return names;
}

ImageSourceInterface& Main::ImageSource(const String& name) {
    Station& station = Station::Instance();
    bool exists = false;
    std::string transport;
    {
        std::lock_guard lock(station.Mutex());
        if (const auto* camera = station.Camera(name.Std())) {
            exists = true;
            transport = camera->transport;
        }
    }
    if (!exists || !TransportLoaded(transport))
        throw Exception("Image source " + name + " does not exist.", "Tamo::Acquisition::Main::ImageSource");
    Library& library = TheLibrary();
    std::lock_guard lock(library.mutex);
    auto& entry = library.interfaces[name.Std()];
    if (!entry)
        entry = std::make_unique<ImageSourceInterface>(name);
    return *entry;
}

// ---- ImageSource -------------------------------------------------------------------------------

ImageSource::ImageSource(const ImageSource& other)
    : _owner(other._owner), _name(other._name), _openMode(other._openMode),
      _cameraEvents(other._cameraEvents) {}

ImageSource& ImageSource::operator=(const ImageSource& other) {
    if (this != &other) {
        _owner = other._owner;
        _name = other._name;
        _openMode = other._openMode;
        _cameraEvents = other._cameraEvents;
    }
    return *this;
}

ImageSource::~ImageSource() {
    try {
        Close();
    } catch (...) {
    }
}

void ImageSource::ReleaseOwnership() {
    Library& library = TheLibrary();
    std::lock_guard lock(library.mutex);
    const auto it = library.owners.find(_name.Std());
    if (it != library.owners.end() && it->second == _owner.Std())
        library.owners.erase(it);
}

ExitCode ImageSource::SetOwner(const String& owner) {
    _owner = owner;
    return 0;
}

ExitCode ImageSource::Bind(const String& name) {
    Close();
    _name = name;
    _openMode = "ImageSource";
    return 0;
}

ExitCode ImageSource::SetFeature(const String& name, const String& value) {
    if (_name.Length() == 0)
        throw Exception("No image source is bound.", Function("SetFeature"));
    if (name == "OpenMode") {
        if (value != "ImageSource" && value != "DigitalInputs")
            throw Exception("OpenMode " + value + " is not supported.", Function("SetFeature"));
        _openMode = value;
        zeb::station::TraceCamera(_name.Std(), {"set", name.Std(), value.Std()});
        return 0;
    }
    if (name == "CameraEvents") {
        _cameraEvents = value;
        zeb::station::TraceCamera(_name.Std(), {"set", name.Std(), value.Std()});
        return 0;
    }
    Station& station = Station::Instance();
    std::lock_guard lock(station.Mutex());
    return Check(station.SetCameraFeature(_name.Std(), name.Std(), value.Std()), "SetFeature");
}

ExitCode ImageSource::GetFeature(const String& name, String& value) {
    if (_name.Length() == 0)
        throw Exception("No image source is bound.", Function("GetFeature"));
    if (name == "OpenMode") {
        value = _openMode;
        return 0;
    }
    if (name == "CameraEvents") {
        value = _cameraEvents;
        return 0;
    }
    Station& station = Station::Instance();
    std::string text;
    std::lock_guard lock(station.Mutex());
    Check(station.GetCameraFeature(_name.Std(), name.Std(), text), "GetFeature");
    value = text;
    return 0;
}

ExitCode ImageSource::GetEnumValues(const String& name, std::vector<String>& values) {
    Station& station = Station::Instance();
    std::vector<std::string> texts;
    std::lock_guard lock(station.Mutex());
    Check(station.GetCameraEnum(_name.Std(), name.Std(), texts), "GetEnumValues");
    values.assign(texts.begin(), texts.end());
    return 0;
}

ExitCode ImageSource::Open() {
    if (_name.Length() == 0)
        throw Exception("No image source is bound.", Function("Open"));
    if (_open)
        return 0;
    std::string transport;
    {
        Station& station = Station::Instance();
        std::lock_guard lock(station.Mutex());
        if (const auto* camera = station.Camera(_name.Std()))
            transport = camera->transport;
    }
    if (transport.empty() || !TransportLoaded(transport))
        throw Exception("Image source " + _name + " does not exist.", Function("Open"));
    {
        Library& library = TheLibrary();
        std::lock_guard lock(library.mutex);
        const auto it = library.owners.find(_name.Std());
        if (it != library.owners.end() && it->second != _owner.Std())
            throw Exception("Image source " + _name + " is already used by " + String(it->second) + ".",
                            Function("Open"));
    }
    Station& station = Station::Instance();
    {
        std::lock_guard lock(station.Mutex());
        Check(station.OpenCamera(_name.Std(), _openMode.Std()), "Open");
    }
    _open = true;
    Library& library = TheLibrary();
    std::lock_guard lock(library.mutex);
    library.owners[_name.Std()] = _owner.Std();
    return 0;
}

ExitCode ImageSource::Close() {
    if (!_open)
        return 0;
    _open = false;
    ReleaseOwnership();
    // Closing lets go of the handle even when the device no longer answers (the trace records it).
    Station& station = Station::Instance();
    std::lock_guard lock(station.Mutex());
    return station.CloseCamera(_name.Std()).Ok() ? 0 : 1;
}

ExitCode ImageSource::Start() {
    if (!_open)
        throw Exception("Image source " + _name + " is not open.", Function("Start"));
    Station& station = Station::Instance();
    std::lock_guard lock(station.Mutex());
    return Check(station.StartCamera(_name.Std()), "Start");
}

ExitCode ImageSource::Stop() {
    if (!_open)
        return 0;
    Station& station = Station::Instance();
    std::lock_guard lock(station.Mutex());
    return Check(station.StopCamera(_name.Std()), "Stop");
}

ExitCode ImageSource::GetFrameIndex(int64_t& index) {
    if (!_open)
        throw Exception("Image source " + _name + " is not open.", Function("GetFrameIndex"));
    Station& station = Station::Instance();
    std::lock_guard lock(station.Mutex());
    return Check(station.FrameIndex(_name.Std(), index), "GetFrameIndex");
}

ExitCode ImageSource::GetFrame(int64_t index, int32_t& width, int32_t& height, int32_t& stride,
                               unsigned char*& data) {
    if (!_open)
        return 1;
    Station& station = Station::Instance();
    std::lock_guard lock(station.Mutex());
    zeb::station::Frame* frame = nullptr;
    const Outcome outcome = station.GetFrame(_name.Std(), index, frame);
    if (!outcome.Ok()) {
        // A frame that is not (or no longer) there is no device failure: only the result says so.
        if (outcome.error.starts_with("Frame "))
            return 1;
        throw Exception(outcome.error, Function("GetFrame"));
    }
    width = frame->width;
    height = frame->height;
    stride = frame->width;
    data = frame->pixels.data();
    return 0;
}

ExitCode ImageSource::ReleaseFrame(int64_t index) {
    Station& station = Station::Instance();
    std::lock_guard lock(station.Mutex());
    return station.ReleaseFrame(_name.Std(), index).Ok() ? 0 : 1;
}

} // namespace Tamo::Acquisition
