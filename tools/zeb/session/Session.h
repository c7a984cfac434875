// One loaded plug-in and the channels opened on it, kept for as long as zeb runs (one command, or
// every command of `zeb shell`).
#pragma once

#include "hostkit/HostChannel.h"
#include "hostkit/Plugin.h"
#include "session/RunSettings.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zeb::cli {

class Session {
public:
    // `pluginPath` empty: ZEB_PLUGIN, else the plug-in beside zeb. Nothing is loaded yet.
    explicit Session(std::string pluginPath = {});

    host::Plugin& Plugin();
    bool Loaded() const { return _plugin != nullptr; }
    // The channel with that index, opened once. Throws CommandError saying why there is none:
    // the plug-in's start-up error (with the settings folder's problem), no controller, no such index.
    host::HostChannel& Channel(int32_t index);
    // How many channels the plug-in offers (0 when it has none; start-up errors throw).
    int32_t ChannelCount();
    // Stops the channel's acquisition, gives its camera back (the camera closes) and releases it;
    // the next Channel(index) opens it anew and selects a camera again. Nothing happens for a
    // channel not open.
    void Close(int32_t index);
    // The dome model the controller reported in the plug-in's log when the channel was opened;
    // nothing when logging is off.
    std::optional<std::string> DomeModel(int32_t index) const;

private:
    std::string _pluginPath;
    std::unique_ptr<host::Plugin> _plugin;
    std::map<int32_t, host::HostChannel> _channels;
    std::map<int32_t, std::string> _domeModels;
};

// How a command needs the channel's camera.
enum class CameraNeed {
    None,     // use the channel as it is
    Soft,     // select the wired camera, if there is one
    Required, // fail when no camera can be selected
};

// The channel options every command that works on a channel takes.
struct ChannelOptions {
    int32_t channel = 0;
    std::string camera;                // --camera: select this camera instead of detecting one
    std::vector<std::string> sets;     // --set NAME=VALUE, in order
    std::vector<std::string> profiles; // --profile FILE, applied before the --set values
    bool acceptAdjusted = false;
};

// Opens the channel, selects its camera unless one is selected (the one --camera or a
// "DeviceImageSource" setting names, else the one wired to the channel's controller) before any
// other setting, since selecting a camera sets region, exposure and gain to the camera's values,
// and applies the settings in order:
// profiles first, then --set, then `extra`. Differences go to standard error, or to `differences`
// when given; a value not held as given throws CommandError unless acceptAdjusted.
host::HostChannel& PrepareChannel(Session& session, const ChannelOptions& options, CameraNeed need,
                                  const std::vector<Assignment>& extra = {},
                                  std::vector<WriteOutcome>* differences = nullptr);

// Selects `camera` (empty: the one wired to the channel's controller) unless one is selected.
// Returns the selected camera, or "None"; throws CommandError when `required` and there is none,
// with what the wiring lacks. `wiring`, when given, receives those findings (see WiringDiagnosis).
std::string SelectCamera(host::HostChannel& channel, const std::string& camera, bool required,
                         std::vector<std::string>* wiring = nullptr);

// Applies assignments in order; see PrepareChannel.
void ApplySettings(host::HostChannel& channel, const std::vector<Assignment>& assignments,
                   bool acceptAdjusted, std::vector<WriteOutcome>* differences = nullptr);

} // namespace zeb::cli
