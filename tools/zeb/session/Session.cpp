#include "session/Session.h"

#include "base/CommandError.h"
#include "base/NameMatch.h"
#include "base/Text.h"
#include "session/FeatureReport.h"
#include "session/PluginFiles.h"
#include "session/WiringDiagnosis.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace zeb::cli {

namespace fs = std::filesystem;

Session::Session(std::string pluginPath) : _pluginPath(std::move(pluginPath)) {}

host::Plugin& Session::Plugin() {
    if (!_plugin) {
        try {
            _plugin = std::make_unique<host::Plugin>(_pluginPath.empty() ? DefaultPluginFile().string()
                                                                         : _pluginPath);
        } catch (const std::exception& error) {
            throw CommandError(error.what());
        }
    }
    return *_plugin;
}

namespace {
uintmax_t FileSize(const std::optional<fs::path>& file) {
    std::error_code error;
    const uintmax_t size = file ? fs::file_size(*file, error) : 0;
    return error ? 0 : size;
}

std::string ReadFrom(const fs::path& file, uintmax_t offset) {
    std::ifstream in(file, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What the plug-in logs from now on, for a diagnosis afterwards; nothing while its log is off.
class LogTail {
public:
    LogTail() : _file(LogFile()), _start(FileSize(_file)) {}
    std::optional<std::string> Text() const {
        if (!_file)
            return std::nullopt;
        return ReadFrom(*_file, _start);
    }

private:
    std::optional<fs::path> _file;
    uintmax_t _start;
};
} // namespace

host::HostChannel& Session::Channel(int32_t index) {
    if (const auto found = _channels.find(index); found != _channels.end())
        return found->second;
    host::HostChannel channel;
    const auto log = LogFile();
    const uintmax_t logSize = FileSize(log);
    if (!channel.Open(Plugin().GetVideoChannel(), index)) {
        const bool startupError = channel.Error() != "no channel " + std::to_string(index);
        if (startupError) {
            CommandError error = PluginError("the plug-in could not start: " + channel.Error());
            if (const auto problem = SettingsFolderProblem())
                error.Hint("its settings folder " + SettingsFolder().string() +
                           " cannot be created: " + *problem);
            throw error;
        }
        if (index != 0 && ChannelCount() > 0)
            throw CommandError("no channel " + std::to_string(index) + ": the plug-in offers " +
                               (ChannelCount() == 1 ? "channel 0 only"
                                                    : "channels 0 to " + std::to_string(ChannelCount() - 1)));
        throw CommandError("no channel " + std::to_string(index) +
                           ": the station has no lighting controller");
    }
    // The first request opens the channel's controller; the log then names the dome it found.
    channel.Read("DeviceScanType");
    if (log)
        if (const auto dome = DomeModelInLog(ReadFrom(*log, logSize)))
            _domeModels[index] = *dome;
    return _channels.emplace(index, channel).first->second;
}

int32_t Session::ChannelCount() {
    int32_t count = 0;
    while (true) {
        host::HostChannel probe;
        if (!probe.Open(Plugin().GetVideoChannel(), count))
            break;
        ++count;
    }
    return count;
}

void Session::Close(int32_t index) {
    const auto found = _channels.find(index);
    if (found == _channels.end())
        return;
    // The plug-in keeps a released channel's camera name but not the camera: the camera is given
    // back first, so that the next opening selects one again.
    found->second.Stop();
    found->second.Write("DeviceImageSource", "None");
    found->second.Release();
    _channels.erase(found);
}

std::optional<std::string> Session::DomeModel(int32_t index) const {
    const auto found = _domeModels.find(index);
    if (found == _domeModels.end())
        return std::nullopt;
    return found->second;
}

std::string SelectCamera(host::HostChannel& channel, const std::string& camera, bool required,
                         std::vector<std::string>* wiring) {
    const auto current = channel.Read("DeviceImageSource");
    if (!current)
        throw PluginError(channel.Error());
    if (camera.empty() && *current != "None")
        return *current;
    if (!camera.empty()) {
        if (*current == camera)
            return camera;
        const auto cameras = channel.Choices("DeviceImageSource");
        if (std::find(cameras.begin(), cameras.end(), camera) == cameras.end()) {
            std::string list;
            for (const std::string& name : cameras)
                if (name != "None")
                    list += (list.empty() ? "\"" : ", \"") + name + "\"";
            throw CommandError("no camera \"" + camera + "\" for " + channel.Name())
                .Hint(DidYouMean(camera, cameras))
                .Hint(list.empty() ? "the channel offers no camera" : "the channel offers " + list);
        }
        const LogTail log;
        const WriteOutcome outcome = WriteFeature(channel, "DeviceImageSource", camera);
        if (outcome.holds != camera) {
            CommandError error("the camera \"" + camera + "\" cannot be used by " + channel.Name() +
                               ": the channel holds \"" + outcome.holds + "\"");
            for (const std::string& finding : DiagnoseWiring(channel, log.Text(), camera))
                error.Hint(finding);
            throw error.Hint(
                "it may be in use by another channel or not wired to this channel's controller; the "
                "plug-in's log says why");
        }
        return camera;
    }
    const LogTail log;
    if (!channel.Execute("DeviceImageSourceDetect"))
        throw PluginError(channel.Error());
    const std::string detected = channel.Read("DeviceImageSource").value_or("None");
    if (detected != "None" || (!required && !wiring))
        return detected;
    const std::vector<std::string> findings = DiagnoseWiring(channel, log.Text());
    if (wiring)
        *wiring = findings;
    if (!required)
        return detected;
    CommandError error("no camera is wired to the lighting controller of " + channel.Name());
    for (const std::string& finding : findings)
        error.Hint(finding);
    throw error.Hint("check the trigger cables, or name the camera with --camera");
}

namespace {
// A profile saved from another channel: often the cause when its values do not fit.
std::string OtherChannel(host::HostChannel& channel, const Assignment& assignment) {
    if (assignment.profileOf.empty() || assignment.profileOf == channel.Name())
        return {};
    return "the profile " + assignment.origin.substr(0, assignment.origin.rfind(':')) + " was saved from " +
           assignment.profileOf + ", not from " + channel.Name() +
           " (--channel chooses the channel; a profile fits the channel it was saved from)";
}
} // namespace

void ApplySettings(host::HostChannel& channel, const std::vector<Assignment>& assignments,
                   bool acceptAdjusted, std::vector<WriteOutcome>* differences) {
    bool adjusted = false;
    std::string other;
    for (const Assignment& assignment : assignments) {
        WriteOutcome outcome;
        try {
            outcome = WriteFeature(channel, assignment.name, assignment.value);
        } catch (CommandError& error) {
            if (assignment.origin != "--set" && assignment.origin != "set")
                error.Hint("in " + assignment.origin);
            error.Hint(OtherChannel(channel, assignment));
            throw;
        }
        if (outcome.kind != WriteOutcome::Kind::Held && differences)
            differences->push_back(outcome);
        else if (outcome.kind != WriteOutcome::Kind::Held)
            std::fprintf(stderr, "%s\n", Printable(outcome.Describe()).c_str());
        if (outcome.kind == WriteOutcome::Kind::Adjusted && other.empty())
            other = OtherChannel(channel, assignment);
        adjusted = adjusted || outcome.kind == WriteOutcome::Kind::Adjusted;
    }
    if (adjusted && !acceptAdjusted)
        throw CommandError("the channel does not hold the value asked for")
            .Hint(other)
            .Hint("--accept-adjusted goes on with the values the channel holds");
}

host::HostChannel& PrepareChannel(Session& session, const ChannelOptions& options, CameraNeed need,
                                  const std::vector<Assignment>& extra,
                                  std::vector<WriteOutcome>* differences) {
    host::HostChannel& channel = session.Channel(options.channel);
    std::vector<Assignment> assignments;
    for (const std::string& profile : options.profiles) {
        const auto entries = LoadProfile(profile);
        assignments.insert(assignments.end(), entries.begin(), entries.end());
    }
    for (const std::string& set : options.sets)
        assignments.push_back(ParseAssignment(set, "--set"));
    assignments.insert(assignments.end(), extra.begin(), extra.end());

    // The camera first: selecting one resets region, exposure and gain to the camera's values.
    std::vector<Assignment> cameraChoice, rest;
    for (const Assignment& assignment : assignments)
        (assignment.name == "DeviceImageSource" ? cameraChoice : rest).push_back(assignment);
    if (!options.camera.empty())
        SelectCamera(channel, options.camera, true);
    else if (!cameraChoice.empty())
        ApplySettings(channel, {cameraChoice.back()}, options.acceptAdjusted, differences);
    else if (need != CameraNeed::None)
        SelectCamera(channel, {}, need == CameraNeed::Required);
    ApplySettings(channel, rest, options.acceptAdjusted, differences);
    return channel;
}

} // namespace zeb::cli
