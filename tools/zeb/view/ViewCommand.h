// zeb view: a live viewer of the station in the browser, and the JSON API it uses.
#pragma once

#include "commands/Command.h"

#include <filesystem>

namespace zeb::cli {

class ViewCommand : public Command {
public:
    void Define(CLI::App& parent) override;
    int Run(Session& session) override;

private:
    int32_t _port = 8177;
    std::string _bind = "127.0.0.1";
    std::filesystem::path _out = ".";
    double _clientTimeoutSeconds = 10;
    double _imageTimeoutSeconds = 20;
    ChannelOptions _settings; // --channel with its --camera, --profile and --set, applied before serving
};

} // namespace zeb::cli
