// Fuzzes zeb view in-process, without sockets: arbitrary bytes, cut into pieces as a network
// delivers them, read by the server's request reader, and every request read answered by the API
// over the two channels of a small simulated station, the page's and the policy's rules included. A
// long poll is answered at once. An answer the API does not document (a 500 among them), a crash, a
// hang or a sanitizer report is a finding. What an input starts is stopped after it.
#include "session/FeatureReport.h"
#include "session/Session.h"
#include "view/ChannelWorker.h"
#include "view/ClientRegistry.h"
#include "view/ViewerApi.h"
#include "view/http/RequestReader.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

extern "C" qrZEB_Long GetVideoChannel(char* errorText, qrZEB_Long index, qrZEB_ChannelDescriptor* descriptor);

namespace {

namespace fs = std::filesystem;
using namespace zeb;

struct Viewer {
    fs::path saved;
    std::vector<host::HostChannel> channels{2};
    view::ClientRegistry clients{std::chrono::seconds(10)};
    std::vector<std::unique_ptr<view::ChannelWorker>> workers;
    std::unique_ptr<view::ViewerApi> api;
};

Viewer* viewer = nullptr;

void Fail(const std::string& what) {
    std::fprintf(stderr, "%s\n", what.c_str());
    std::abort();
}

void Expect(const view::HttpResponse& response, const std::set<int>& statuses, const std::string& what) {
    if (!statuses.count(response.status))
        Fail(what + " answered " + std::to_string(response.status) + ": " + response.body);
}

// The answer to a request, a long poll's at once.
view::HttpResponse Answer(const view::HttpRequest& request) {
    view::HttpResponse response = viewer->api->Handle(request);
    if (response.wait) {
        const auto wait = response.wait;
        auto wake = std::make_shared<const std::function<void()>>([] {});
        wait->watch(wake);
        response = wait->answer();
    }
    return response;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const fs::path folder = fs::temp_directory_path() / "zeb-fuzz-http";
    fs::create_directories(folder);
    // One area and one line channel with tiny images and no sensor noise, so that acquisitions and
    // saves cost little.
    std::ofstream(folder / "station.json") << R"({
  "controllers": [ { "deviceId": 0, "light": "Dome M", "registers": { "Info.ScanType": "Areascan" } },
                   { "deviceId": 1, "light": "Dome L", "registers": { "Info.ScanType": "Linescan" },
                     "encoder": { "connected": true, "speed": 5 } } ],
  "cameras": [ { "name": "Cam A", "transport": "Pleora", "scanType": "Areascan",
                 "sensor": { "noise": 0 },
                 "features": { "SensorWidth": "32", "SensorHeight": "16", "Width": "32", "Height": "16" } },
               { "name": "Line A", "transport": "MicroEnable", "scanType": "Linescan",
                 "sensor": { "noise": 0 },
                 "features": { "SensorWidth": "64", "Width": "64", "Height": "8" } } ],
  "cables": [ { "controller": 0, "port": "Camera0Output0", "camera": "Cam A", "line": "Line0" },
              { "controller": 0, "port": "Camera0Input0", "camera": "Cam A", "line": "Line1" },
              { "controller": 1, "port": "AuxOutput0", "camera": "Line A", "line": "Line0" },
              { "controller": 1, "port": "AuxOutput1", "camera": "Line A", "line": "Line1" } ] })";
#if defined(_WIN32)
    _putenv_s("ZEB_STATION", (folder / "station.json").string().c_str());
    _putenv_s("ZEB_DRIVE_C", (folder / "drive_c").string().c_str());
#else
    setenv("ZEB_STATION", (folder / "station.json").c_str(), 1);
    setenv("ZEB_DRIVE_C", (folder / "drive_c").c_str(), 1);
#endif
    viewer = new Viewer();
    viewer->saved = folder / "saved";
    view::ChannelWorker::Options options;
    options.imageTimeoutMs = 2000;
    options.saveFolder = viewer->saved;
    std::vector<view::ChannelWorker*> served;
    for (int32_t index = 0; index < 2; ++index) {
        host::HostChannel& channel = viewer->channels[static_cast<size_t>(index)];
        if (!channel.Open(GetVideoChannel, index))
            Fail("no channel " + std::to_string(index) + ": " + channel.Error());
        // As zeb view prepares a channel.
        cli::SelectCamera(channel, {}, true);
        cli::WriteFeature(channel, "AcquisitionMode", "Continuous");
        viewer->workers.push_back(
            std::make_unique<view::ChannelWorker>(index, channel, viewer->clients, options));
        served.push_back(viewer->workers.back().get());
    }
    viewer->api = std::make_unique<view::ViewerApi>(served, viewer->clients, view::ViewerApi::Options{});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    // The first byte says how the rest arrives: in pieces of 1 to 64 bytes.
    const size_t piece = 1 + data[0] % 64;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    view::RequestReader reader(8 * 1024, 64 * 1024);
    std::string received;
    bool saved = false;
    int requests = 0;
    for (size_t at = 0; at < bytes.size() && requests < 16;) {
        received.append(bytes.substr(at, piece));
        at += piece;
        view::RequestReader::Step step;
        while (true) {
            size_t used = 0;
            step = reader.Feed(received, used);
            received.erase(0, used);
            if (step == view::RequestReader::Step::Head)
                continue; // the server looks at the head, then reads on
            if (step != view::RequestReader::Step::Request || requests == 16)
                break;
            ++requests;
            const view::HttpRequest& request = reader.Request();
            saved = saved || request.path.find("save") != std::string::npos;
            Expect(Answer(request), {200, 400, 403, 404, 405, 409, 422, 503},
                   request.method + " " + request.path);
        }
        if (step == view::RequestReader::Step::Malformed) {
            Expect(reader.Refusal(), {400, 413, 431, 501}, "a malformed request");
            break; // the connection closes
        }
    }
    // The next input starts from idle channels.
    for (const auto& worker : viewer->workers) {
        if (worker->Assistant().active)
            worker->StopAssistant();
        if (worker->CurrentStatus().mode != view::ChannelWorker::Mode::Idle)
            worker->StopAcquisition();
    }
    if (saved)
        fs::remove_all(viewer->saved);
    return 0;
}
