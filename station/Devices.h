// The devices of the station as records: lighting controllers, cameras with their lines and frames,
// and the cables between them; the faults a device can be given. The engines that make the devices
// behave (wiring, camera simulation, sequencer, timeline) work on these records. A controller's
// factory register set is in Registers.h, a camera's feature traits in CameraFeatures.h.
#pragma once

#include "Numbers.h"
#include "Registers.h"
#include "Replay.h"
#include "Scene.h"
#include "Sensor.h"

#include <array>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zeb::station {

using Nanoseconds = int64_t;
// Registers and features by name, found also by a name that is not a string (hashed: the station's
// signals look several up at every operation).
struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const noexcept { return std::hash<std::string_view>{}(text); }
};
using TextMap = std::unordered_map<std::string, std::string, TextHash, std::equal_to<>>;
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
    std::string kind; // "offline", "transferError", "lostTriggers", "stall"
    FaultTrigger trigger;
    Nanoseconds duration = 0; // offline: how long the device is gone; stall: how long a call pauses
    Nanoseconds delay = 0;    // offline: how long after the trigger it goes
    int32_t count = 1;        // frames or triggers affected
    bool fired = false;
};

// The stretch of time in which a device does not answer.
struct OfflineWindow {
    Nanoseconds from = 0;
    Nanoseconds until = 0;
    bool Contains(Nanoseconds now) const { return now >= from && now < until; }
};

// Fires the faults whose trigger this operation completes; an offline fault opens the window from
// `now`. Returns whether any fault struck.
bool FaultStrikes(std::vector<Fault>& faults, OfflineWindow& offline, Nanoseconds now, const char* operation,
                  const std::string& name);

// What lit one sequencer step: brightness per physical quadrant, the pulse length, the dome that
// gave the light, how far the transport had carried the object at that moment, and which step of
// the light sequence it was.
struct Lighting {
    int32_t step = 0;
    std::array<float, 4> brightness{0, 0, 0, 0};
    float pulseMicroseconds = 0;
    double domeRadius = DefaultDomeRadius;
    double transport = 0; // millimetres
};

class SimController {
public:
    int32_t deviceId = 0;
    std::string serial;
    std::vector<std::string> order; // register list order
    TextMap factory;
    TextMap registers;
    std::array<double, 4> currents{2800, 2800, 2800, 2800};
    int32_t domeRotation = 0;              // degrees the dome is mounted turned by
    double domeRadius = DefaultDomeRadius; // millimetres
    int32_t connectFailures = 0;
    uint32_t maxEncoderIncrements = 100000;

    struct Encoder {
        bool connected = false;
        double speed = 0;             // revolutions per second
        std::optional<double> travel; // revolutions after each position reset, then it stops
        Nanoseconds resetTime = 0;    // time of the last position reset
        double turnedBeforeReset = 0; // revolutions turned before the last position reset
        int64_t lastCount = 0;        // counts since reset at the last clock evaluation
    } encoder;

    // The transport that carries the object under a line camera, measured by the encoder.
    struct Transport {
        double millimetresPerRevolution = 125; // of the encoder
        double speed = 125;                    // millimetres per second while no encoder is connected
    } transport;

    struct TriggerInput {
        Nanoseconds period = 0; // 0: never pulses
        Nanoseconds pulse = 0;
    } triggerInput;

    std::vector<Fault> faults;
    OfflineWindow offline;
    bool Offline(Nanoseconds now) const { return offline.Contains(now); }
    bool connected = false;

    // Sequencer state.
    bool enabled = false;
    bool armed = false;
    int64_t progress = 0;
    int64_t stepsDone = 0;
    Nanoseconds lastStep = std::numeric_limits<Nanoseconds>::min() / 2;
    Nanoseconds lastTick = 0; // last frequency-generator tick
    bool clockLevel = false;  // last clock level seen
    bool triggerLevel = false;

    // The register's value, empty where there is none.
    const std::string& Get(std::string_view name) const;
    bool Flag(std::string_view name) const; // "1"/"True"
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
    std::string error; // why the frame cannot be handed out, when it cannot
};

class SimCamera {
public:
    std::string name;
    std::string transport; // "Pleora" or "MicroEnable"
    std::string scanType;  // "Areascan" or "Linescan"
    TextMap features;
    std::map<std::string, FeatureLimits> limits;
    std::vector<CameraLine> lines;
    SceneSettings scene;
    SensorSettings sensor;
    // Share of the full grey scale per microsecond of light at brightness 100 that a white surface
    // facing the camera at the centre of the dome's rim plane reaches under one quadrant.
    double sensitivity = 0;
    Nanoseconds readoutPerRow = 1000;
    int64_t grabberMemory = 0; // frame grabber memory in bytes; 0: unlimited
    std::vector<Fault> faults;
    OfflineWindow offline;
    bool Offline(Nanoseconds now) const { return offline.Contains(now); }

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
    // Frames whose hand-out pauses the calling thread, as a computer loaded beyond its cores does.
    int32_t stallsLeft = 0;
    Nanoseconds stallDuration = 0;
    int64_t triggersLost = 0;
    // Line scan: the frame being filled and the measured line rate.
    bool lineFrameActive = false;
    std::unique_ptr<Frame> lineFrame;
    int32_t linesInFrame = 0;
    Nanoseconds lastLineTrigger = 0;
    double currentMaximumRate = 0;
    double lastFrameMaximumRate = 0;
    // The sensor's temporal noise, drawn afresh for every frame and line.
    SensorNoise noise;
    // Recorded image sets played back instead of the scene, and where the playback stands: the set
    // of the last frame and, in area scan, the direction it took.
    std::shared_ptr<Recording> recording;
    int64_t playedSet = -1;
    int32_t playedDirection = -1;

    bool Linescan() const { return scanType == "Linescan"; }
    const std::string& Feature(std::string_view feature) const;
    int32_t Int(const std::string& feature) const;
    double Double(const std::string& feature) const;
    CameraLine* Line(const std::string& lineName);
    const CameraLine* Line(const std::string& lineName) const;
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

// Every device of the station and the cables between them.
struct DeviceSet {
    std::map<int32_t, std::unique_ptr<SimController>> controllers;
    std::vector<std::unique_ptr<SimCamera>> cameras;
    std::vector<Cable> cables;

    SimController* Controller(int32_t id) const;
    SimCamera* Camera(const std::string& name) const;
};

bool IsTrue(const std::string& value); // "1" or "True"

} // namespace zeb::station
