// zeb: a vision host in miniature. It loads the plug-in through GetVideoChannel and the channel
// entry points only, exactly as a host application does.
#include "commands/CommandLine.h"
#include "commands/Interrupt.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    zeb::cli::InstallInterruptHandler();
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const int status = zeb::cli::CommandLine(zeb::cli::CommandLine::Mode::Program).Run(arguments);
    std::fflush(stdout);
    std::fflush(stderr);
    // The plug-in stays loaded to the end, as in a host; a reader of standard input may still block.
    std::_Exit(status);
}
