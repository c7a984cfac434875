// zeb: a vision host in miniature. It loads the plug-in through GetVideoChannel and the channel
// entry points only, exactly as a host application does.
#include "Commands.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char* Usage = R"(usage: zeb [--station FILE] [--plugin PATH] [--settings] COMMAND [options]

commands:
  channels                         index, name, serial number and scan type of each channel
  features [--channel N]           every feature with type, flags (R readable, W writable,
                                   C common parameter), value and choices
  get NAME [--channel N]           read a feature
  set NAME VALUE [--channel N]     write a feature and show the value it took
  exec NAME [--channel N]          execute a command feature
  acquire [--channel N] [--count K] [--setup-mode Off|On] [--out DIR]
                                   acquire K image sets and write them as PNG
  assist NAME [--channel N] [--yes [--act-time SECONDS]]
                                   run a setup assistant ("Brightness detection",
                                   "Focus detection", "Orientation detection",
                                   "Frame trigger input detection", "Encoder movement detection");
                                   --yes goes on without Enter, after SECONDS (default 1) for a
                                   person to act in the wiring checks
)";

void OnInterrupt(int) {
    zeb::cli::interrupted = 1;
}

bool ParseNumber(const std::string& text, int32_t& value) {
    char* end = nullptr;
    const long number = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || number < 0 || number > 1000000)
        return false;
    value = static_cast<int32_t>(number);
    return true;
}

void SetVariable(const char* name, const std::string& value) {
#if defined(_WIN32)
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

// Where the plug-in keeps its settings and log on this machine.
void PrintSettings() {
#if defined(_WIN32)
    std::printf("settings: C:\\ProgramData\\Brelan\\Tamo.Morvane.Zeb\\Config.conf\n");
#else
    std::string drive;
    if (const char* value = std::getenv("ZEB_DRIVE_C"); value && *value)
        drive = value;
    else if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data)
        drive = std::string(data) + "/zeb/drive_c";
    else
        drive = std::string(std::getenv("HOME") ? std::getenv("HOME") : "/tmp") + "/.local/share/zeb/drive_c";
    std::printf("settings: %s/ProgramData/Brelan/Tamo.Morvane.Zeb/Config.conf\n", drive.c_str());
    std::printf("drive C:  %s\n", drive.c_str());
#endif
    std::printf("log:      as \"LogPath\" in the settings names it (logging is on when \"LogEnabled\" is "
                "\"True\")\n");
}

} // namespace

int main(int argc, char** argv) {
    zeb::cli::Options options;
    std::string pluginPath;
    bool settings = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        auto value = [&](const char* option) -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "zeb: %s needs a value\n", option);
                std::exit(1);
            }
            return argv[++i];
        };
        if (argument == "--station") {
            SetVariable("ZEB_STATION", value("--station"));
        } else if (argument == "--plugin") {
            pluginPath = value("--plugin");
        } else if (argument == "--settings") {
            settings = true;
        } else if (argument == "--channel") {
            if (!ParseNumber(value("--channel"), options.channel))
                return std::fprintf(stderr, "zeb: --channel takes a channel index\n"), 1;
        } else if (argument == "--count") {
            if (!ParseNumber(value("--count"), options.count))
                return std::fprintf(stderr, "zeb: --count takes a number\n"), 1;
        } else if (argument == "--setup-mode") {
            options.setupMode = value("--setup-mode");
        } else if (argument == "--out") {
            options.outputFolder = value("--out");
        } else if (argument == "--yes") {
            options.yes = true;
        } else if (argument == "--act-time") {
            char* end = nullptr;
            const std::string text = value("--act-time");
            options.actSeconds = std::strtod(text.c_str(), &end);
            if (text.empty() || *end != '\0' || options.actSeconds < 0 || options.actSeconds > 3600)
                return std::fprintf(stderr, "zeb: --act-time takes seconds\n"), 1;
        } else if (argument == "--help" || argument == "-h") {
            std::printf("%s", Usage);
            return 0;
        } else if (argument.rfind("--", 0) == 0) {
            std::fprintf(stderr, "zeb: unknown option %s (see zeb --help)\n", argument.c_str());
            return 1;
        } else if (options.command.empty()) {
            options.command = argument;
        } else {
            options.arguments.push_back(argument);
        }
    }
    if (settings) {
        PrintSettings();
        if (options.command.empty())
            return 0;
    }
    if (options.command.empty()) {
        std::fprintf(stderr, "%s", Usage);
        return 1;
    }
    std::signal(SIGINT, OnInterrupt);
    try {
        zeb::host::Plugin plugin(pluginPath.empty() ? zeb::host::Plugin::DefaultPath() : pluginPath);
        const std::string& command = options.command;
        if (command == "channels")
            return zeb::cli::Channels(plugin);
        if (command == "features")
            return zeb::cli::Features(plugin, options);
        if (command == "get")
            return zeb::cli::Get(plugin, options);
        if (command == "set")
            return zeb::cli::Set(plugin, options);
        if (command == "exec")
            return zeb::cli::Exec(plugin, options);
        if (command == "acquire")
            return zeb::cli::Acquire(plugin, options);
        if (command == "assist")
            return zeb::cli::Assist(plugin, options);
        std::fprintf(stderr, "zeb: unknown command \"%s\" (see zeb --help)\n", command.c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zeb: %s\n", error.what());
    }
    return 1;
}
