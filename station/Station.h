// The simulated inspection station: lighting controllers with their sequencer, dome lights, encoder
// and trigger input; cameras with I/O lines and triggers; the cables between them; the object under
// each camera. The stand-ins of the controller-register and acquisition libraries reach the devices
// only through this class. Time advances lazily from the steady clock whenever the station is
// called; the station starts no threads.
#pragma once

#include "Scene.h"

#include <array>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zeb::station {

using Nanoseconds = int64_t;
constexpr Nanoseconds Never = std::numeric_limits<Nanoseconds>::max();

// Outcome of one device operation: empty error text means success.
struct Outcome {
    std::string error;
    bool Ok() const { return error.empty(); }
};

// When a fault strikes: at the count-th operation of that kind (and name) on its device, or at once.
struct FaultTrigger {
    std::string
        operation;    // "connect", "set", "get", "factory", "open", "start", "frame", ...; empty: at once
    std::string name; // register or feature name; empty: any
    int32_t count = 1;
    int32_t seen = 0;
};

struct Fault {
    std::string kind; // "offline", "transferError", "lostTriggers"
    FaultTrigger trigger;
    Nanoseconds duration = 0; // offline: how long the device is gone
    Nanoseconds delay = 0;    // offline: how long after the trigger it goes
    int32_t count = 1;        // frames or triggers affected
    bool fired = false;
};

// What lit one sequencer step: brightness weight per physical quadrant and the pulse length.
struct Lighting {
    std::array<float, 4> brightness{0, 0, 0, 0};
    float pulseMicroseconds = 0;
};

struct Register {
    std::string value;
    bool readOnly = false;
};

class SimController {
public:
    int32_t deviceId = 0;
    std::string serial;
    std::vector<std::string> order; // register list order
    std::map<std::string, std::string> factory;
    std::map<std::string, std::string> registers;
    std::array<double, 4> currents{2800, 2800, 2800, 2800};
    int32_t domeRotation = 0; // degrees the dome is mounted turned by
    int32_t connectFailures = 0;
    uint32_t maxEncoderIncrements = 100000;

    struct Encoder {
        bool connected = false;
        double speed = 0;             // revolutions per second
        std::optional<double> travel; // revolutions after each position reset, then it stops
        Nanoseconds resetTime = 0;    // time of the last position reset
        int64_t lastCount = 0;        // counts since reset at the last clock evaluation
    } encoder;

    struct TriggerInput {
        Nanoseconds period = 0; // 0: never pulses
        Nanoseconds pulse = 0;
    } triggerInput;

    std::vector<Fault> faults;
    Nanoseconds offlineFrom = 0;
    Nanoseconds offlineUntil = 0;
    bool Offline(Nanoseconds now) const { return now >= offlineFrom && now < offlineUntil; }
    bool connected = false;

    // Sequencer state.
    bool enabled = false;
    bool armed = false;
    int64_t progress = 0;
    int64_t stepsDone = 0;
    Nanoseconds enabledAt = 0;
    Nanoseconds lastStep = std::numeric_limits<Nanoseconds>::min() / 2;
    Nanoseconds lastTick = 0; // last frequency-generator tick
    bool clockLevel = false;  // last clock level seen
    bool triggerLevel = false;
    std::map<std::string, bool> outputLevels; // last level of each controller output port

    std::string Get(const std::string& name) const;
    bool Flag(const std::string& name) const; // "1"/"True"
};

struct CameraLine {
    std::string name;
    std::string mode; // "Input" or "Output"
    std::string source = "Off";
    bool level = false; // last input level seen (inputs)
};

struct FeatureLimits {
    double minimum = std::numeric_limits<double>::lowest();
    double maximum = std::numeric_limits<double>::max();
    double increment = 0;
};

struct Frame {
    int64_t index = 0;
    int32_t width = 0, height = 0;
    std::vector<uint8_t> pixels;
    bool transferError = false;
};

class SimCamera {
public:
    std::string name;
    std::string transport; // "Pleora" or "MicroEnable"
    std::string scanType;  // "Areascan" or "Linescan"
    std::map<std::string, std::string> features;
    std::map<std::string, FeatureLimits> limits;
    std::vector<CameraLine> lines;
    SceneSettings scene;
    double sensitivity = 0; // grey scale per microsecond of light
    Nanoseconds readoutPerRow = 1000;
    int64_t grabberMemory = 0; // frame grabber memory in bytes; 0: unlimited
    std::vector<Fault> faults;
    Nanoseconds offlineFrom = 0;
    Nanoseconds offlineUntil = 0;
    bool Offline(Nanoseconds now) const { return now >= offlineFrom && now < offlineUntil; }

    // Session state.
    bool open = false;
    std::string openMode;
    bool started = false;
    std::string userOutputValue = "False";
    Nanoseconds busyUntil = 0;
    bool framePending = false;
    Lighting pendingLighting;
    int64_t frameCounter = 0;
    std::map<int64_t, std::unique_ptr<Frame>> frames;
    std::vector<std::unique_ptr<Frame>> spareFrames;
    int32_t transferErrorsLeft = 0;
    int32_t lostTriggersLeft = 0;
    int64_t triggersLost = 0;
    // Line scan: the frame being filled and the measured line rate.
    bool lineFrameActive = false;
    std::unique_ptr<Frame> lineFrame;
    int32_t linesInFrame = 0;
    int64_t objectLine = 0;
    Nanoseconds lastLineTrigger = 0;
    double currentMaximumRate = 0;
    double lastFrameMaximumRate = 0;

    bool Linescan() const { return scanType == "Linescan"; }
    int32_t Int(const std::string& feature) const;
    double Double(const std::string& feature) const;
    CameraLine* Line(const std::string& lineName);
    CameraLine* SelectedLine();
    double FrameRate() const;
    double LineRateMaximum() const;
    bool Ready(Nanoseconds now) const { return started && now >= busyUntil; }
};

struct Cable {
    int32_t controller = 0;
    std::string port;
    std::string camera;
    std::string line;
    bool inverted = false;
};

class Station {
public:
    // The process's station: ZEB_STATION names its file, else the built-in default station. A bad
    // file is reported on standard error and in the log, and the station then holds no devices.
    static Station& Instance();
    // A station from JSON text; throws std::runtime_error with the place and reason of an error.
    static std::unique_ptr<Station> FromJson(const std::string& text, const std::string& fileName);
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
    Nanoseconds Now() const;
    void AdvanceTo(Nanoseconds time);
    void UseManualClock(bool manual) { _manualClock = manual; }
    void SetManualTime(Nanoseconds time) { _manualTime = time; }

    SimController* Controller(int32_t id);
    SimCamera* Camera(const std::string& name) const;
    const std::vector<Cable>& Cables() const { return _cables; }
    SceneRenderer& Renderer() { return _renderer; }

private:
    friend class StationLoader;
    Station();

    void Advance();
    bool AnyTriggerInput() const;
    // Whether a started camera takes this controller's pulses.
    bool Listened(const SimController& controller) const;
    // Counts the steps of a generator or encoder clock up to `target` without running them.
    void FastForward(SimController& controller, Nanoseconds target);
    Outcome CheckController(int32_t id, SimController*& controller, const char* operation,
                            const std::string& name);
    Outcome CheckCamera(const std::string& name, SimCamera*& camera, const char* operation,
                        const std::string& feature);
    // Fires the faults whose trigger this operation completes; offline faults set the window.
    bool FaultStrikes(std::vector<Fault>& faults, Nanoseconds& offlineFrom, Nanoseconds& offlineUntil,
                      const char* operation, const std::string& name);

    // Signals.
    bool CameraOutputLevel(const SimCamera& camera, const CameraLine& line) const;
    bool ControllerInputLevel(const SimController& controller, const std::string& port) const;
    bool ControllerOutputLevel(const SimController& controller, const std::string& port) const;
    bool TriggerInputLevel(const SimController& controller, Nanoseconds time) const;
    bool CameraInputLevel(const SimCamera& camera, const std::string& line) const;
    bool ClockLevel(const SimController& controller) const;
    bool SeenTriggerLevel(const SimController& controller) const;
    // Re-reads every level after a change and acts on the edges it finds.
    void Propagate();

    // Sequencer.
    void Enable(SimController& controller, bool on);
    void Step(SimController& controller);
    int64_t TotalSteps(const SimController& controller) const;
    bool SequenceDone(const SimController& controller) const;
    Lighting StepLighting(const SimController& controller, int32_t stepIndex) const;
    Nanoseconds NextEvent(SimController& controller) const;
    Nanoseconds NextEncoderTick(const SimController& controller) const;
    int64_t EncoderCount(const SimController& controller, Nanoseconds time) const;
    void Pulse(SimController& controller, const std::string& port, const Lighting& lighting);

    // Cameras.
    void TriggerCamera(SimCamera& camera, const std::string& line, const Lighting& lighting);
    void CompleteAreaFrame(SimCamera& camera);
    void StartLineFrame(SimCamera& camera);
    void CaptureLine(SimCamera& camera, const Lighting& lighting);
    std::unique_ptr<Frame> NewFrame(SimCamera& camera, int32_t width, int32_t height);
    void Deliver(SimCamera& camera, std::unique_ptr<Frame> frame);

    std::mutex _mutex;
    std::map<int32_t, std::unique_ptr<SimController>> _controllers;
    std::vector<std::unique_ptr<SimCamera>> _cameras;
    std::vector<Cable> _cables;
    SceneRenderer _renderer;
    Nanoseconds _now = 0;
    Nanoseconds _epoch = 0;
    bool _manualClock = false;
    Nanoseconds _manualTime = 0;
};

} // namespace zeb::station
