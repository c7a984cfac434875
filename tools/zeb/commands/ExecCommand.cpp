// zeb exec: execute a command feature.
#include "commands/Commands.h"

#include "session/FeatureReport.h"

namespace zeb::cli {

void ExecCommand::Define(CLI::App& parent) {
    _app = parent.add_subcommand("exec",
                                 "execute a command feature (DeviceImageSourceDetect, DialogStart, ...)");
    _app->add_option("NAME", _name, "command feature name")->required();
    AddChannelOptions(*_app, _channel);
}

int ExecCommand::Run(Session& session) {
    host::HostChannel& channel = PrepareChannel(session, _channel, CameraNeed::Soft);
    if (!channel.Execute(_name))
        throw FeatureError(channel, _name);
    return 0;
}

} // namespace zeb::cli
