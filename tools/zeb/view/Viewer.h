// zeb view: a live viewer of every channel in the browser, and the JSON API it uses, served until
// asked to stop.
#pragma once

#include "session/Session.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace zeb::view {

struct ViewerOptions {
    uint16_t port = 8177; // 0: a free one
    std::string bind = "127.0.0.1";
    std::filesystem::path out = "."; // "save this image set", recordings and calibrations
    double clientTimeoutSeconds = 10;
    double imageTimeoutSeconds = 20;
    cli::ChannelOptions settings; // the channel and its camera, profiles and values, applied before serving
};

// Gives each channel its wired camera and continuous acquisition, applies `options.settings`, serves
// until `stop` returns true (asked every 20 ms), then stops what runs and releases the channels,
// saying each step on standard output. Throws CommandError when it cannot serve.
void Serve(cli::Session& session, const ViewerOptions& options, const std::function<bool()>& stop);

} // namespace zeb::view
