// The commands of the command-line host. Each returns the process exit status.
#pragma once

#include "HostChannel.h"
#include "Plugin.h"

#include <string>
#include <vector>

namespace zeb::cli {

struct Options {
    std::string command;
    std::vector<std::string> arguments;
    int32_t channel = 0;
    int32_t count = 1;
    std::string setupMode = "Off";
    std::string outputFolder = ".";
    bool yes = false;
    double actSeconds = 1.0; // with --yes: the time a person would take to act before "Next"
    int32_t maxImages = 30;  // images an assistant may ask for before zeb gives up
};

int Channels(host::Plugin& plugin);
int Features(host::Plugin& plugin, const Options& options);
int Get(host::Plugin& plugin, const Options& options);
int Set(host::Plugin& plugin, const Options& options);
int Exec(host::Plugin& plugin, const Options& options);
int Acquire(host::Plugin& plugin, const Options& options);
int Assist(host::Plugin& plugin, const Options& options);

// The message with {0}, {1}, ... replaced by the ';'-separated arguments.
std::string FillPlaceholders(const std::string& message, const std::string& arguments);

// Set by Ctrl-C: long-running commands stop cleanly.
extern volatile int interrupted;

} // namespace zeb::cli
