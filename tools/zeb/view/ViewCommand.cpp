#include "ViewCommand.h"

#include "ChannelWorker.h"
#include "ClientRegistry.h"
#include "CommandError.h"
#include "FeatureReport.h"
#include "HttpServer.h"
#include "Interrupt.h"
#include "RequestPolicy.h"
#include "SurfaceApi.h"
#include "ViewerApi.h"

#include <cstdio>
#include <memory>

namespace zeb::cli {

void ViewCommand::Define(CLI::App& parent) {
    _app = parent.add_subcommand(
        "view",
        "serve a live viewer of every channel in the browser, and the JSON API it uses, until Ctrl-C");
    _app->add_option("--port", _port, "TCP port; 0 picks a free one")->check(CLI::Range(0, 65535));
    _app->add_option("--bind", _bind,
                     "address to listen on; anything but a loopback address lets other machines control the "
                     "station");
    _app->add_option("--out,-o", _out, "folder for \"save this image set\"");
    _app->add_option("--page-timeout", _clientTimeoutSeconds,
                     "seconds after which a page that stopped asking is gone, and what only it started stops")
        ->check(CLI::Range(0.1, 3600.0));
    _app->add_option("--timeout", _imageTimeoutSeconds, "longest wait for one image set, in seconds")
        ->check(CLI::Range(0.01, 3600.0));
    AddChannelOptions(*_app, _settings);
    _app->get_option("--channel")->description("the channel that --camera, --profile and --set apply to");
}

namespace {

// Control characters written as \xNN, so that no text (a name the station gives, anything a request
// carries) can break a line of zeb view's output or forge one.
std::string Printable(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f) {
            out += c;
            continue;
        }
        const char* digits = "0123456789abcdef";
        out += {'\\', 'x', digits[byte >> 4], digits[byte & 15]};
    }
    return out;
}

void Say(const std::string& text) {
    std::printf("%s\n", Printable(text).c_str());
    std::fflush(stdout);
}

// Gives the channel its wired camera and continuous acquisition, so that Start shows it live; then
// the channel that `settings` name gets its camera, profiles and --set values as any command does.
void Prepare(Session& session, int32_t index, const ChannelOptions& settings) {
    host::HostChannel& channel = session.Channel(index);
    std::string camera;
    try {
        camera = SelectCamera(channel, {}, false);
        if (camera != "None")
            WriteFeature(channel, "AcquisitionMode", "Continuous");
    } catch (const CommandError& error) {
        camera = "None (" + std::string(error.what()) + ")";
    }
    if (index == settings.channel) {
        PrepareChannel(session, settings, CameraNeed::Soft);
        camera = channel.Read("DeviceImageSource").value_or(camera);
    }
    Say("channel " + std::to_string(index) + ": " + channel.Name() + ", camera " + camera);
}

} // namespace

int ViewCommand::Run(Session& session) {
    const int32_t count = session.ChannelCount();
    if (count == 0 || _settings.channel >= count)
        session.Channel(_settings.channel); // says why there is none
    for (int32_t index = 0; index < count; ++index)
        Prepare(session, index, _settings);

    view::ClientRegistry clients(std::chrono::duration_cast<view::ClientRegistry::Clock::duration>(
        std::chrono::duration<double>(_clientTimeoutSeconds)));
    view::ChannelWorker::Options options;
    options.imageTimeoutMs = static_cast<int32_t>(_imageTimeoutSeconds * 1000);
    options.saveFolder = _out;
    std::vector<std::unique_ptr<view::ChannelWorker>> workers;
    std::vector<view::ChannelWorker*> served;
    for (int32_t index = 0; index < count; ++index) {
        workers.push_back(
            std::make_unique<view::ChannelWorker>(index, session.Channel(index), clients, options));
        served.push_back(workers.back().get());
    }
    view::ViewerApi::Options apiOptions;
    apiOptions.loopbackOnly = view::IsLoopbackAddress(_bind);
    view::SurfaceApi surfaces(session, _out, options.imageTimeoutMs);
    apiOptions.surfaces = &surfaces;
    view::ViewerApi api(served, clients, apiOptions);
    view::HttpServer server([&api](const view::HttpRequest& request) { return api.Handle(request); },
                            view::HttpServer::Limits{});
    uint16_t port = 0;
    try {
        port = server.Start(_bind, static_cast<uint16_t>(_port));
    } catch (const std::exception& error) {
        throw CommandError(error.what())
            .Hint(_port != 0 ? "another port with --port, or --port 0 for a free one" : "");
    }
    const std::string host = _bind.find(':') != std::string::npos ? "[" + _bind + "]" : _bind;
    Say("zeb view: serving http://" + host + ":" + std::to_string(port) + "/ (Ctrl-C stops)");
    if (!apiOptions.loopbackOnly)
        Say("zeb view: listening on " + _bind +
            ": anyone who reaches this machine can watch and control the station; there is no password");

    // What a page that went away started is stopped once it is gone.
    while (SleepUnlessInterrupted(0.25))
        for (view::ChannelWorker* worker : served)
            worker->Reap();

    Say("zeb view: stopping");
    for (view::ChannelWorker* worker : served)
        worker->EndWaits();
    server.Stop();
    for (auto& worker : workers) {
        worker->Shutdown();
        Say("zeb view: " + worker->Farewell());
    }
    Say("zeb view: stopped after " + std::to_string(server.Answered()) + " requests");
    return 0;
}

} // namespace zeb::cli
