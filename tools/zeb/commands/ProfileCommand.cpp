// zeb profile save and load: keep a channel's writable feature values in a NAME=VALUE file for
// --profile, and apply one.
#include "commands/Commands.h"

#include "base/CommandError.h"
#include "base/Text.h"
#include "session/RunSettings.h"

#include <cstdio>

namespace zeb::cli {

void ProfileCommand::Define(CLI::App& parent) {
    _app = parent.add_subcommand("profile", "profiles: NAME=VALUE files that --profile applies");
    _save =
        _app->add_subcommand("save", "write the channel's writable feature values to FILE (after the camera "
                                     "is selected and --profile and --set are applied)");
    _save->add_option("FILE", _file, "the profile to write");
    AddChannelOptions(*_save, _channel);
    _load =
        _app->add_subcommand("load", "apply the profile FILE to the channel (in zeb shell it lasts for the "
                                     "commands after it)");
    _load->add_option("FILE", _file, "the profile to apply");
    AddChannelOptions(*_load, _channel);
}

int ProfileCommand::Run(Session& session) {
    if (!_save->parsed() && !_load->parsed())
        throw CommandError("profile needs what to do: \"profile save FILE\" writes the channel's settings, "
                           "\"profile load FILE\" applies them");
    const std::string action = _save->parsed() ? "save" : "load";
    if (_file.empty())
        throw CommandError("profile " + action + " needs the profile file: profile " + action + " FILE");
    if (_load->parsed()) {
        ChannelOptions options = _channel;
        options.profiles.insert(options.profiles.begin(), _file.string());
        host::HostChannel& channel = PrepareChannel(session, options, CameraNeed::Soft, {});
        std::printf("applied %s to %s\n", _file.string().c_str(), Printable(channel.Name()).c_str());
        SayLastsForThisCommand(_inShell, "the profile");
        return 0;
    }
    CheckProfileTarget(_file); // before the channel is touched
    host::HostChannel& channel = PrepareChannel(session, _channel, CameraNeed::Soft, {});
    SelectCamera(channel, {}, false);
    const size_t count = SaveProfile(channel, _file);
    std::printf("wrote %s of %s to %s\n", Count(static_cast<int64_t>(count), "setting").c_str(),
                Printable(channel.Name()).c_str(), _file.string().c_str());
    return 0;
}

} // namespace zeb::cli
