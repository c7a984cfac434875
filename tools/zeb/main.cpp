// zeb: a vision host in miniature. It loads the plug-in through GetVideoChannel and the channel
// entry points only, exactly as a host application does.
#include "commands/CommandLine.h"
#include "commands/Interrupt.h"

#include <cstdio>
#include <cstdlib>

#if defined(ZEB_COVERAGE)
extern "C" void __gcov_dump(); // gcov's writer of the coverage counters
#endif

int main(int argc, char** argv) {
    zeb::cli::InstallInterruptHandler();
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const int status = zeb::cli::CommandLine(zeb::cli::CommandLine::Mode::Program).Run(arguments);
    std::fflush(stdout);
    std::fflush(stderr);
    // The plug-in stays loaded to the end, as in a host; a reader of standard input may still block.
#if defined(ZEB_COVERAGE)
    __gcov_dump(); // _Exit skips the exit handlers that would write them
#endif
    std::_Exit(status);
}
