// zeb profile save: keep a channel's writable feature values in a NAME=VALUE file for --profile.
#include "commands/Commands.h"

#include "base/Text.h"
#include "session/RunSettings.h"

#include <cstdio>

namespace zeb::cli {

void ProfileCommand::Define(CLI::App& parent) {
    _app = parent.add_subcommand("profile", "profiles: NAME=VALUE files that --profile applies");
    _app->require_subcommand(1);
    _save =
        _app->add_subcommand("save", "write the channel's writable feature values to FILE (after the camera "
                                     "is selected and --profile and --set are applied)");
    _save->add_option("FILE", _file, "the profile to write")->required();
    AddChannelOptions(*_save, _channel);
}

int ProfileCommand::Run(Session& session) {
    host::HostChannel& channel = PrepareChannel(session, _channel, CameraNeed::Soft, {});
    SelectCamera(channel, {}, false);
    const size_t count = SaveProfile(channel, _file);
    std::printf("wrote %s of %s to %s\n", Count(static_cast<int64_t>(count), "setting").c_str(),
                channel.Name().c_str(), _file.string().c_str());
    return 0;
}

} // namespace zeb::cli
