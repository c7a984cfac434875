// zeb view: a live viewer of the station in the browser, and the JSON API it uses.
#include "commands/Commands.h"

#include "commands/Interrupt.h"
#include "view/Viewer.h"

namespace zeb::cli {

void ViewCommand::Define(CLI::App& parent) {
    _app = parent.add_subcommand(
        "view",
        "serve a live viewer of every channel in the browser, and the JSON API it uses, until Ctrl-C");
    _app->add_option("--port", _port, "TCP port; 0 picks a free one")->check(NumberIn(0, 65535, true));
    _app->add_option("--bind", _bind,
                     "address to listen on; anything but a loopback address lets other machines control the "
                     "station");
    _app->add_option("--out,-o", _out,
                     "folder for the files the page makes: \"Save this image set\", recordings and the "
                     "calibration files (zeb-calibration-channelN.json)");
    _app->add_option("--page-timeout", _clientTimeoutSeconds,
                     "seconds after which a page that stopped asking is gone, and what only it started stops")
        ->check(NumberIn(0.1, 3600));
    _app->add_option("--timeout", _imageTimeoutSeconds, "longest wait for one image set, in seconds")
        ->check(NumberIn(0.01, 3600));
    AddChannelOptions(*_app, _settings);
    _app->get_option("--channel")->description("the channel that --camera, --profile and --set apply to");
}

int ViewCommand::Run(Session& session) {
    view::ViewerOptions options;
    options.port = static_cast<uint16_t>(_port);
    options.bind = _bind;
    options.out = _out;
    options.clientTimeoutSeconds = _clientTimeoutSeconds;
    options.imageTimeoutSeconds = _imageTimeoutSeconds;
    options.settings = _settings;
    view::Serve(session, options, Interrupted);
    return 0;
}

} // namespace zeb::cli
