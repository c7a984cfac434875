// zeb help: zeb's help, or a command's with each option's default.
#include "commands/Commands.h"

#include "base/CommandError.h"
#include "base/NameMatch.h"
#include "commands/CommandLine.h"

#include <cstdio>

namespace zeb::cli {

void HelpCommand::Define(CLI::App& parent) {
    _app = parent.add_subcommand("help", "zeb's help, or a command's with each option's default");
    _app->add_option("COMMAND", _topic, "the command");
}

int HelpCommand::Run(Session&) {
    CommandLine line(CommandLine::Mode::Program);
    CLI::App& app = line.App();
    if (_topic.empty()) {
        std::printf("%s", app.help().c_str());
        return 0;
    }
    for (CLI::App* command : app.get_subcommands({}))
        if (command->get_name() == _topic) {
            std::printf("%s", command->help("zeb").c_str());
            return 0;
        }
    throw CommandError("no command \"" + _topic + "\"").Hint(DidYouMean(_topic, line.CommandNames()));
}

} // namespace zeb::cli
