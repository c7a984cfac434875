// Why a channel found no camera wired to its lighting controller, worked out from what a host can
// see: the channel's features, what the plug-in logged while it tried each camera (its log on at
// Debug level), and the cables of the station file when zeb was given one. Each finding is one line
// that names the controller port and the camera line to connect.
#pragma once

#include "hostkit/HostChannel.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zeb::cli {

// One camera the plug-in tried, as its log tells it.
struct CameraTrial {
    std::string camera;
    std::string usedBy; // the channel that holds the camera, when another one does
    // What cabling detection found, by the name it logs: "Trigger", "TriggerReady",
    // "SequencerClockSource", "LineTrigger", "FrameTrigger" (a camera line or port, "" for none, with
    // " (Inverted)" for a wire that inverts). Empty when the camera was not checked.
    std::map<std::string, std::string> found;
};

// The cameras tried in `logText`: by "DeviceImageSourceDetect" ("Checking ImageSource ...") or by
// selecting one ("Open ...").
std::vector<CameraTrial> CameraTrials(const std::string& logText);

// The findings for a channel whose detection (or selection of `camera`, when given) found no usable
// camera. `log` is what the plug-in logged meanwhile; nothing when its log is off.
std::vector<std::string> DiagnoseWiring(host::HostChannel& channel, const std::optional<std::string>& log,
                                        const std::string& camera = {});

} // namespace zeb::cli
