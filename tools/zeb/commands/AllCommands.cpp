#include "commands/Commands.h"

namespace zeb::cli {

std::vector<std::unique_ptr<Command>> AllCommands(bool withShell) {
    std::vector<std::unique_ptr<Command>> commands;
    commands.push_back(std::make_unique<ChannelsCommand>());
    commands.push_back(std::make_unique<FeaturesCommand>());
    commands.push_back(std::make_unique<GetCommand>());
    commands.push_back(std::make_unique<SetCommand>());
    commands.push_back(std::make_unique<ExecCommand>());
    commands.push_back(std::make_unique<AcquireCommand>());
    commands.push_back(std::make_unique<CalibrateCommand>());
    commands.push_back(std::make_unique<AssistCommand>());
    commands.push_back(std::make_unique<ProfileCommand>());
    commands.push_back(std::make_unique<StationCommand>());
    if (withShell) {
        commands.push_back(std::make_unique<ShellCommand>());
        commands.push_back(std::make_unique<ViewCommand>());
    }
    commands.push_back(std::make_unique<HelpCommand>());
    commands.push_back(std::make_unique<CompletionCommand>());
    return commands;
}

} // namespace zeb::cli
