// zeb set: write one feature; says so when the channel holds another value than the one written.
#include "commands/Commands.h"

#include "session/FeatureGuide.h"

namespace zeb::cli {

void SetCommand::Define(CLI::App& parent) {
    _app = parent.add_subcommand(
        "set", "write a feature; a value the channel holds differently is reported on standard error and, "
               "unless it is the same number, fails the command");
    _app->add_option("NAME", _name, "feature name")->required();
    _app->add_option("VALUE", _value, "the value, as text")->required();
    AddChannelOptions(*_app, _channel);
    _app->footer(FeatureGuideText());
}

int SetCommand::Run(Session& session) {
    PrepareChannel(session, _channel, CameraNeed::Soft, {{_name, _value, "set"}});
    SayLastsForThisCommand(_inShell, "the value");
    return 0;
}

} // namespace zeb::cli
