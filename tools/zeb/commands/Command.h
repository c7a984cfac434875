// A zeb command: its sub-command of the command line with its options, and what it does.
#pragma once

#include "session/ChannelLighting.h"
#include "session/Session.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <string>
#include <vector>

namespace zeb::cli {

class Command {
public:
    virtual ~Command() = default;
    // Adds the sub-command with its options (bound to the command's members) to `parent`.
    virtual void Define(CLI::App& parent) = 0;
    // Runs the parsed command; returns the exit status. Failures throw CommandError.
    virtual int Run(Session& session) = 0;
    // False for commands that work without the plug-in.
    virtual bool LoadsPlugin() const { return true; }

    CLI::App* App() const { return _app; }
    // Whether the command runs as a line of zeb shell, whose plug-in and settings outlast it.
    void SetInShell(bool inShell) { _inShell = inShell; }

protected:
    CLI::App* _app = nullptr;
    bool _inShell = false;
};

// Outside zeb shell, a setting made by a command alone ends with zeb: says so on standard error.
void SayLastsForThisCommand(bool inShell, const std::string& what);

// A number from `min` to `max` (a whole one when `whole`): "abc" is called not a number (not a
// whole number), and a number outside is named with the range as typed ("0.01 to 3600").
CLI::Validator NumberIn(double min, double max, bool whole = false);

// --channel, --camera, --set, --profile and --accept-adjusted.
void AddChannelOptions(CLI::App& app, ChannelOptions& options);
// --model (and --calibration when `withCalibration`).
void AddSurfaceModelOptions(CLI::App& app, SurfaceModelOptions& options, bool withCalibration);

// Every command, in the order of zeb's help; `shell` only when `withShell`.
std::vector<std::unique_ptr<Command>> AllCommands(bool withShell);

} // namespace zeb::cli
