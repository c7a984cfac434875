#include "session/WiringDiagnosis.h"

#include "Station.h"
#include "session/PluginFiles.h"
#include "session/StationFile.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <set>
#include <sstream>

namespace zeb::cli {

namespace {

// A wire the scan type needs, as cabling detection looks for it.
struct Role {
    std::string what;   // "the frame trigger"
    std::string logKey; // the name detection logs it under
    bool fromCamera;    // a camera output line drives a controller input (else the other way round)
    std::vector<std::string> ports;
};

std::vector<Role> RolesOf(const std::string& scanType) {
    if (scanType == "Linescan")
        return {{"the line trigger", "LineTrigger", false, {"AuxOutput0"}},
                {"the frame trigger", "FrameTrigger", false, {"AuxOutput1"}}};
    return {{"the frame trigger",
             "Trigger",
             false,
             {"Camera0Output0", "Camera1Output0", "Camera2Output0", "Camera0Output1", "Camera1Output1",
              "Camera2Output1"}},
            {"the ready signal",
             "TriggerReady",
             true,
             {"Camera0Input0", "Camera0Input1", "Camera1Input0", "Camera1Input1", "Camera2Input0",
              "Camera2Input1"}}};
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string ScanTypeWords(const std::string& scanType) {
    return scanType == "Linescan" ? "line-scan" : "area-scan";
}

std::string LineMode(const Role& role) {
    return role.fromCamera ? "Output" : "Input";
}

// What detection logged for a role: the camera line (or port) and whether the wire inverts.
std::pair<std::string, bool> Found(const CameraTrial& trial, const std::string& key) {
    const auto found = trial.found.find(key);
    std::string value = found == trial.found.end() ? "" : found->second;
    const std::string inverted = "(Inverted)";
    const bool inverts = value.ends_with(inverted);
    if (inverts)
        value.erase(value.size() - inverted.size());
    while (!value.empty() && value.back() == ' ')
        value.pop_back();
    return {value, inverts};
}

// One line for a camera the plug-in tried: what detection found for each wire.
std::string TrialFinding(const CameraTrial& trial, const std::vector<Role>& roles) {
    if (!trial.usedBy.empty())
        return Quoted(trial.camera) + " is in use by " + trial.usedBy;
    if (trial.found.empty())
        return Quoted(trial.camera) + " was not checked: it did not open (the plug-in's log says why)";
    std::string text;
    for (const Role& role : roles) {
        const auto [line, inverts] = Found(trial, role.logKey);
        std::string part = role.what;
        if (role.ports.size() == 1)
            part += " (" + role.ports.front() + ")";
        if (role.fromCamera)
            part += line.empty()
                        ? " reaches no controller input"
                        : " comes from " + line + " into " + Found(trial, "SequencerClockSource").first;
        else
            part += line.empty() ? " reaches none of its lines" : " reaches " + line;
        if (inverts)
            part += " through a wire that inverts";
        text += (text.empty() ? "" : "; ") + part;
    }
    return "detection with " + Quoted(trial.camera) + ": " + text;
}

std::string Requirement(const std::string& scanType) {
    if (scanType == "Linescan")
        return "a line-scan channel needs two wires from its controller to input lines of the camera: "
               "AuxOutput0 "
               "(the line trigger) and AuxOutput1 (the frame trigger)";
    return "an area-scan channel needs two wires: the frame trigger from a camera output of the controller "
           "(Camera0Output0 to Camera2Output1) to an input line of the camera, and the ready signal from an "
           "output line of the camera to a camera input of the controller (Camera0Input0 to Camera2Input1)";
}

// The controller's device id from the channel's name, "BRELAN: Morvane (#3)".
int32_t ControllerId(const std::string& channelName) {
    const size_t mark = channelName.rfind("(#");
    if (mark == std::string::npos)
        return -1;
    return static_cast<int32_t>(std::strtol(channelName.c_str() + mark + 2, nullptr, 10));
}

// What the station file's cables say about one camera and the channel's controller.
class StationWiring {
public:
    StationWiring(station::Station& station, const station::SimController& controller, std::string scanType)
        : _station(station), _controller(controller), _scanType(std::move(scanType)),
          _roles(RolesOf(_scanType)) {}

    void Explain(const station::SimCamera& camera, std::vector<std::string>& findings) const {
        const size_t before = findings.size();
        if (camera.scanType != _scanType) {
            findings.push_back(Quoted(camera.name) + " is wired to this controller but is a " +
                               ScanTypeWords(camera.scanType) + " camera; this channel is " +
                               (_scanType == "Linescan" ? "a line-scan" : "an area-scan") + " channel");
            return;
        }
        std::set<std::string> suggested; // lines and ports a finding already proposes
        for (const Role& role : _roles)
            ExplainRole(role, camera, suggested, findings);
        for (const station::Cable& cable : _station.Cables()) {
            if (cable.camera != camera.name)
                continue;
            if (cable.controller != _controller.deviceId)
                findings.push_back(cable.line + " of " + Quoted(camera.name) + " is wired to controller " +
                                   std::to_string(cable.controller) + ", not to this channel's controller " +
                                   std::to_string(_controller.deviceId));
            else if (!UsedPort(cable.port))
                findings.push_back(cable.port + " is wired to " + cable.line + " of " + Quoted(camera.name) +
                                   ", but a " + ScanTypeWords(_scanType) +
                                   " controller does not look for the camera there");
        }
        if (findings.size() == before)
            findings.push_back("the station file wires " + Quoted(camera.name) +
                               " to this controller as it should be");
    }

private:
    bool UsedPort(const std::string& port) const {
        for (const Role& role : _roles)
            if (std::find(role.ports.begin(), role.ports.end(), port) != role.ports.end())
                return true;
        return false;
    }
    bool OnThisController(const station::Cable& cable, const station::SimCamera& camera) const {
        return cable.controller == _controller.deviceId && cable.camera == camera.name;
    }
    bool PortExists(const std::string& port) const {
        return _controller.factory.count(station::PolarityRegister(port)) != 0;
    }
    bool Wired(const std::string& port) const {
        const auto& cables = _station.Cables();
        return std::any_of(cables.begin(), cables.end(), [&](const station::Cable& cable) {
            return cable.controller == _controller.deviceId && cable.port == port;
        });
    }
    bool Wired(const station::SimCamera& camera, const std::string& line) const {
        const auto& cables = _station.Cables();
        return std::any_of(cables.begin(), cables.end(), [&](const station::Cable& cable) {
            return cable.camera == camera.name && cable.line == line;
        });
    }
    // The camera's lines in `mode`, the free ones first.
    std::vector<std::string> Lines(const station::SimCamera& camera, const std::string& mode,
                                   const std::set<std::string>& suggested) const {
        std::vector<std::string> free, used;
        for (const station::CameraLine& line : camera.lines)
            if (line.mode == mode)
                (Wired(camera, line.name) || suggested.count(line.name) ? used : free).push_back(line.name);
        free.insert(free.end(), used.begin(), used.end());
        return free;
    }
    static std::string List(const std::vector<std::string>& names) {
        std::string text;
        for (size_t i = 0; i < names.size(); ++i)
            text += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
        return text;
    }

    void ExplainRole(const Role& role, const station::SimCamera& camera, std::set<std::string>& suggested,
                     std::vector<std::string>& findings) const {
        const std::string mode = LineMode(role);
        const std::string wanted = mode == "Input" ? "an input line" : "an output line";
        const station::Cable* wrong = nullptr;
        for (const station::Cable& cable : _station.Cables()) {
            if (!OnThisController(cable, camera) ||
                std::find(role.ports.begin(), role.ports.end(), cable.port) == role.ports.end())
                continue;
            const station::CameraLine* line = camera.Line(cable.line);
            if (line && line->mode == mode)
                return; // this wire carries it
            wrong = &cable;
        }
        const std::vector<std::string> lines = Lines(camera, mode, suggested);
        if (wrong) {
            findings.push_back(wrong->port + " is wired to " + wrong->line + " of " + Quoted(camera.name) +
                               ", which is not " + wanted + ": " + role.what + " needs " +
                               (lines.empty() ? wanted + " (the camera has none)" : List(lines)));
            return;
        }
        // A port nothing is plugged into, else any the controller has.
        std::string port;
        for (const bool mustBeFree : {true, false})
            for (const std::string& candidate : role.ports)
                if (port.empty() && PortExists(candidate) &&
                    !(mustBeFree && (Wired(candidate) || suggested.count(candidate))))
                    port = candidate;
        if (port.empty())
            port = role.ports.front();
        suggested.insert(port);
        if (!lines.empty())
            suggested.insert(lines.front());
        const std::string line = lines.empty() ? wanted + " of " + Quoted(camera.name) + " (it has none)"
                                               : lines.front() + " of " + Quoted(camera.name);
        findings.push_back("nothing carries " + role.what + ": connect " +
                           (role.fromCamera ? line + " to " + port : port + " to " + line));
    }

    station::Station& _station;
    const station::SimController& _controller;
    std::string _scanType;
    std::vector<Role> _roles;
};

std::unique_ptr<station::Station> StationFile() {
    const char* path = std::getenv("ZEB_STATION");
    if (!path || !*path)
        return nullptr;
    try {
        return ReadStationFile(path);
    } catch (const std::exception&) {
        return nullptr; // zeb has stopped at it before loading the plug-in
    }
}

// The levels below Debug, at which the log leaves out what detection found.
bool LogLeavesOutDetection() {
    const std::string level = SettingsEntry("Log", "LogLevel").value_or("");
    return level == "Critical" || level == "Error" || level == "Warning" || level == "Notify";
}

} // namespace

std::vector<CameraTrial> CameraTrials(const std::string& logText) {
    std::vector<CameraTrial> trials;
    std::istringstream in(logText);
    std::string line;
    auto after = [](const std::string& message, const std::string& start) -> std::optional<std::string> {
        if (!message.starts_with(start))
            return std::nullopt;
        return message.substr(start.size());
    };
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string message = line.substr(line.find_last_of('\t') + 1);
        if (const auto camera = after(message, "Checking ImageSource ")) {
            trials.push_back({*camera, {}, {}});
        } else if (const auto opened = after(message, "Open ");
                   opened && opened->size() > 1 && opened->back() == '.') {
            trials.push_back({opened->substr(0, opened->size() - 1), {}, {}});
        } else if (const auto owner = after(message, "ImageSource already used by ");
                   owner && !trials.empty()) {
            trials.back().usedBy = *owner;
        } else if (!trials.empty()) {
            for (const char* key :
                 {"Trigger", "TriggerReady", "SequencerClockSource", "LineTrigger", "FrameTrigger"})
                if (const auto value = after(message, std::string(key) + " = "))
                    trials.back().found[key] = *value;
        }
    }
    return trials;
}

std::vector<std::string> DiagnoseWiring(host::HostChannel& channel, const std::optional<std::string>& log,
                                        const std::string& camera) {
    const std::string scanType = channel.Read("DeviceScanType").value_or("Areascan");
    const std::vector<Role> roles = RolesOf(scanType);
    std::vector<std::string> cameras;
    if (!camera.empty())
        cameras.push_back(camera);
    else
        for (const std::string& name : channel.Choices("DeviceImageSource"))
            if (name != "None")
                cameras.push_back(name);

    std::vector<std::string> findings;
    if (cameras.empty())
        findings.push_back("the channel offers no camera: no " + ScanTypeWords(scanType) +
                           " camera is listed");
    const std::vector<CameraTrial> trials = log ? CameraTrials(*log) : std::vector<CameraTrial>{};
    const auto station = StationFile();
    station::SimController* controller =
        station ? station->Controller(ControllerId(channel.Name())) : nullptr;
    std::unique_ptr<StationWiring> wiring =
        controller ? std::make_unique<StationWiring>(*station, *controller, scanType) : nullptr;

    bool measured = false;
    for (const std::string& name : cameras) {
        for (const CameraTrial& trial : trials)
            if (trial.camera == name) {
                measured = measured || !trial.found.empty();
                if (!(trial.found.empty() && trial.usedBy.empty() && LogLeavesOutDetection()))
                    findings.push_back(TrialFinding(trial, roles));
            }
        if (wiring)
            if (const station::SimCamera* simulated = station->Camera(name))
                wiring->Explain(*simulated, findings);
    }
    if (wiring)
        for (const station::SimCamera* other : station->Cameras())
            if (other->scanType != scanType &&
                std::find(cameras.begin(), cameras.end(), other->name) == cameras.end())
                for (const station::Cable& cable : station->Cables())
                    if (cable.camera == other->name && cable.controller == controller->deviceId) {
                        wiring->Explain(*other, findings);
                        break;
                    }
    if (!wiring && !cameras.empty()) {
        if (!log)
            findings.push_back(
                "the plug-in's log is off: with LogEnabled=True in its settings file (zeb --settings) "
                "zeb tells what detection found on each wire");
        else if (!measured && LogLeavesOutDetection())
            findings.push_back(
                "the plug-in's log leaves out what detection found: set LogLevel=Debug in its settings "
                "file (zeb --settings)");
        findings.push_back(Requirement(scanType));
    }
    return findings;
}

} // namespace zeb::cli
