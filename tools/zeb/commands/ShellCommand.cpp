// zeb shell: one plug-in kept loaded; the commands are read from standard input, one a line.
#include "commands/Commands.h"

#include "base/CommandError.h"
#include "commands/CommandLine.h"
#include "commands/ConsoleInput.h"
#include "commands/Interrupt.h"

#include <cstdio>

namespace zeb::cli {

void ShellCommand::Define(CLI::App& parent) {
    _app = parent.add_subcommand(
        "shell",
        "keep one plug-in loaded and run zeb's commands read from standard input, one a line "
        "(a prompt with line editing and history on a terminal, none from a pipe); settings stay until zeb "
        "ends. \"quit\" or the end of input ends it; it exits with the status of the last command that "
        "failed");
}

int ShellCommand::Run(Session& session) {
    const bool prompt = ConsoleInput::IsTerminal();
    int status = 0;
    while (true) {
        const ConsoleInput::Result input = ConsoleInput::Standard().ReadCommand("zeb> ");
        if (input.status == ConsoleInput::Status::Interrupted) {
            if (EndRequested()) { // SIGTERM or SIGHUP ends the shell
                status = StoppedStatus();
                break;
            }
            ClearInterrupt(); // Ctrl-C at the prompt only clears the line
            std::printf("\n");
            continue;
        }
        if (input.status != ConsoleInput::Status::Line)
            break;
        std::vector<std::string> words;
        try {
            words = SplitWords(input.line);
        } catch (const CommandError& error) {
            status = Report(error);
            continue;
        }
        if (words.empty() || words[0].starts_with("#"))
            continue;
        if (words[0] == "quit" || words[0] == "exit")
            break;
        const int result = CommandLine(CommandLine::Mode::Shell).Run(words, &session);
        ClearInterrupt();
        if (result != 0)
            status = result;
        if (EndRequested()) {
            status = StoppedStatus();
            break;
        }
        std::fflush(stdout);
    }
    if (prompt)
        std::printf("\n");
    return status;
}

} // namespace zeb::cli
