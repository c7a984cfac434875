// The simulated inspection station: lighting controllers with their sequencer, dome lights, encoder
// and trigger input; cameras with I/O lines and triggers; the cables between them; the object under
// each camera. The stand-ins of the controller-register and acquisition libraries reach the devices
// only through the operations of this class, which check, fault and trace each call and leave the
// behaviour to the engines below: the timeline, the sequencer, the camera simulation, the wiring
// and the optics. Time advances lazily whenever the station is called; the station starts no threads.
#pragma once

#include "CameraFeatures.h"
#include "Cameras.h"
#include "Devices.h"
#include "Scene.h"
#include "Sequencer.h"
#include "StationFiles.h"
#include "Timeline.h"
#include "Wiring.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zeb::station {

class Station {
public:
    // The process's station: ZEB_STATION names its file, else the built-in default station. A bad
    // file is reported on standard error and in the log, and the station then holds no devices.
    static Station& Instance();
    // A station from JSON text; throws std::runtime_error with the place and reason of an error. The
    // files it names (height and albedo maps, recordings) lie beside `fileName` in `files`.
    static std::unique_ptr<Station> FromJson(const std::string& text, const std::string& fileName,
                                             std::shared_ptr<const FileSource> files = DiskFiles());
    static std::unique_ptr<Station> FromFile(const std::string& path);
    static std::unique_ptr<Station> Default();
    static const char* DefaultJson();

    std::mutex& Mutex() { return _mutex; }

    // Controller operations (the caller holds the mutex).
    std::vector<std::pair<int32_t, std::string>> Peers();
    Outcome Connect(int32_t id);
    Outcome LoadFactory(int32_t id);
    Outcome RegisterCount(int32_t id, int32_t& count);
    Outcome RegisterName(int32_t id, int32_t index, std::string& name);
    Outcome GetRegister(int32_t id, const std::string& name, std::string& value);
    Outcome SetRegister(int32_t id, const std::string& name, const std::string& value);

    // Camera operations (the caller holds the mutex).
    std::vector<const SimCamera*> Cameras() const;
    Outcome OpenCamera(const std::string& name, const std::string& mode);
    Outcome CloseCamera(const std::string& name);
    Outcome StartCamera(const std::string& name);
    Outcome StopCamera(const std::string& name);
    Outcome SetCameraFeature(const std::string& name, const std::string& feature, const std::string& value);
    Outcome GetCameraFeature(const std::string& name, const std::string& feature, std::string& value);
    Outcome GetCameraEnum(const std::string& name, const std::string& feature,
                          std::vector<std::string>& values);
    Outcome FrameIndex(const std::string& name, int64_t& index);
    Outcome GetFrame(const std::string& name, int64_t index, Frame*& frame);
    Outcome ReleaseFrame(const std::string& name, int64_t index);

    // Time: the station's clock in nanoseconds since it was made. Tests may drive it by hand.
    Nanoseconds Now() const { return _timeline.Now(); }
    void AdvanceTo(Nanoseconds time) { _timeline.AdvanceTo(time); }
    // On a manual clock (tests, fuzzers) a stall fault counts its frames but holds no thread: time
    // passes only when the caller says so.
    void UseManualClock(bool manual) {
        _timeline.UseManualClock(manual);
        _cameras.HoldThreadsOnStalls(!manual);
    }
    void SetManualTime(Nanoseconds time) { _timeline.SetManualTime(time); }

    SimController* Controller(int32_t id) { return _devices.Controller(id); }
    SimCamera* Camera(const std::string& name) const { return _devices.Camera(name); }
    const std::vector<Cable>& Cables() const { return _devices.cables; }

private:
    friend class StationLoader;
    Station();

    Nanoseconds Present() const { return _timeline.Present(); }
    Outcome CheckController(int32_t id, SimController*& controller, const char* operation,
                            const std::string& name);
    Outcome CheckCamera(const std::string& name, SimCamera*& camera, const char* operation,
                        const std::string& feature);
    // The value a camera feature write stores, clamped to its limits; refusals go to `outcome`.
    std::string CameraFeatureValue(const SimCamera& camera, const FeatureTraits& traits,
                                   const std::string& feature, const std::string& value,
                                   Outcome& outcome) const;

    std::mutex _mutex;
    DeviceSet _devices;
    Wiring _wiring;
    CameraSimulation _cameras;
    Sequencer _sequencer;
    Timeline _timeline;
};

} // namespace zeb::station
