#include "view/Viewer.h"

#include "base/CommandError.h"
#include "base/Text.h"
#include "session/FeatureReport.h"
#include "view/ChannelWorker.h"
#include "view/ClientRegistry.h"
#include "view/RequestPolicy.h"
#include "view/SurfaceApi.h"
#include "view/ViewerApi.h"
#include "view/http/HttpServer.h"

#include <cstdio>
#include <memory>
#include <thread>

namespace zeb::view {

using namespace cli;

namespace {

void Say(const std::string& text) {
    std::printf("%s\n", Printable(text).c_str());
    std::fflush(stdout);
}

// Gives the channel its wired camera and continuous acquisition, so that Start shows it live; then
// the channel that `settings` name gets its camera, profiles and --set values as any command does.
// Returns what the wiring lacks when the channel has no camera, as zeb acquire tells it.
std::vector<std::string> Prepare(Session& session, int32_t index, const ChannelOptions& settings) {
    host::HostChannel& channel = session.Channel(index);
    std::string camera;
    std::vector<std::string> wiring;
    try {
        camera = SelectCamera(channel, {}, false, &wiring);
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
    if (camera != "None")
        return {};
    for (const std::string& finding : wiring)
        Say("  " + finding);
    return wiring;
}

} // namespace

void Serve(Session& session, const ViewerOptions& options, const std::function<bool()>& stop) {
    // The arguments first: opening the channels takes a while.
    if (!IsIpAddress(options.bind))
        throw CommandError("\"" + options.bind + "\" is not an IP address")
            .Hint("--bind takes an address: 127.0.0.1 or ::1 for this machine alone, 0.0.0.0 for every "
                  "network");
    const int32_t count = session.ChannelCount();
    if (count == 0 || options.settings.channel >= count)
        session.Channel(options.settings.channel); // says why there is none
    std::vector<std::vector<std::string>> wiring;
    for (int32_t index = 0; index < count; ++index)
        wiring.push_back(Prepare(session, index, options.settings));

    ClientRegistry clients(std::chrono::duration_cast<ClientRegistry::Clock::duration>(
        std::chrono::duration<double>(options.clientTimeoutSeconds)));
    ChannelWorker::Options workerOptions;
    workerOptions.imageTimeoutMs = static_cast<int32_t>(options.imageTimeoutSeconds * 1000);
    workerOptions.saveFolder = options.out;
    // Saved and recorded surfaces are computed with the lighting the Surface panel shows.
    SurfaceApi surfaces(session, options.out, workerOptions.imageTimeoutMs);
    std::vector<std::unique_ptr<ChannelWorker>> workers;
    std::vector<ChannelWorker*> served;
    for (int32_t index = 0; index < count; ++index) {
        workerOptions.wiring = wiring[static_cast<size_t>(index)];
        workerOptions.lighting = [&surfaces, index](host::HostChannel& channel) {
            return surfaces.Lighting(channel, index);
        };
        workers.push_back(
            std::make_unique<ChannelWorker>(index, session.Channel(index), clients, workerOptions));
        served.push_back(workers.back().get());
    }
    ViewerApi::Options apiOptions;
    apiOptions.loopbackOnly = IsLoopbackAddress(options.bind);
    apiOptions.surfaces = &surfaces;
    const HttpServer* serving = nullptr;
    apiOptions.server = [&serving] { return serving ? serving->Now() : HttpServer::Statistics{}; };
    ViewerApi api(served, clients, apiOptions);
    const RequestPolicy policy(apiOptions.loopbackOnly);
    HttpServer server([&api](const HttpRequest& request) { return api.Handle(request); },
                      HttpServer::Limits{},
                      [&policy](const HttpRequest& head) { return policy.Screen(head); });
    serving = &server;
    uint16_t port = 0;
    try {
        port = server.Start(options.bind, options.port);
    } catch (const std::exception& error) {
        throw CommandError(error.what())
            .Hint(options.port != 0 ? "another port with --port, or --port 0 for a free one" : "");
    }
    const std::string host =
        options.bind.find(':') != std::string::npos ? "[" + options.bind + "]" : options.bind;
    Say("zeb view: serving http://" + host + ":" + std::to_string(port) + "/ (Ctrl-C stops)");
    if (!apiOptions.loopbackOnly)
        Say("zeb view: listening on " + options.bind +
            ": anyone who reaches this machine can watch and control the station; there is no password");

    // What a page that went away started is stopped once it is gone, looked at every quarter second.
    auto reaped = std::chrono::steady_clock::now();
    while (!stop()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (std::chrono::steady_clock::now() - reaped < std::chrono::milliseconds(250))
            continue;
        reaped = std::chrono::steady_clock::now();
        for (ChannelWorker* worker : served)
            worker->Reap();
    }

    Say("zeb view: stopping");
    for (ChannelWorker* worker : served)
        worker->EndWaits();
    server.Stop();
    for (auto& worker : workers) {
        worker->Shutdown();
        Say("zeb view: " + worker->Farewell());
    }
    const uint64_t answered = server.Answered();
    Say("zeb view: stopped after " + std::to_string(answered) + (answered == 1 ? " request" : " requests"));
}

} // namespace zeb::view
