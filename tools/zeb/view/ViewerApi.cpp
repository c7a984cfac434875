#include "view/ViewerApi.h"

#include "base/CommandError.h"
#include "base/NameMatch.h"
#include "runs/AssistantRunner.h"
#include "view/ApiJson.h"
#include "view/PageAssets.h"
#include "view/SurfaceApi.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace zeb::view {

using nlohmann::json;

const std::vector<ViewerApi::Route>& ViewerApi::Routes() {
    static const std::vector<Route> routes = {
        {"GET", "/api/channels", &ViewerApi::ChannelList},
        {"GET", "/api/channels/{i}/features", &ViewerApi::Features},
        {"GET", "/api/channels/{i}/features/{name}", &ViewerApi::ReadFeature},
        {"PUT", "/api/channels/{i}/features/{name}", &ViewerApi::WriteFeature},
        {"POST", "/api/channels/{i}/commands/{name}", &ViewerApi::Command},
        {"POST", "/api/channels/{i}/acquisition/start", &ViewerApi::StartAcquisition},
        {"POST", "/api/channels/{i}/acquisition/stop", &ViewerApi::StopAcquisition},
        {"GET", "/api/channels/{i}/status", &ViewerApi::Status},
        {"GET", "/api/channels/{i}/image.png", &ViewerApi::Image},
        {"GET", "/api/channels/{i}/surface.png", &ViewerApi::SurfacePicture, true},
        {"POST", "/api/channels/{i}/calibrate", &ViewerApi::Calibrate, true},
        {"POST", "/api/channels/{i}/save", &ViewerApi::Save},
        {"POST", "/api/channels/{i}/recording/start", &ViewerApi::StartRecording},
        {"POST", "/api/channels/{i}/recording/stop", &ViewerApi::StopRecording},
        {"GET", "/api/channels/{i}/profile", &ViewerApi::ReadProfile},
        {"PUT", "/api/channels/{i}/profile", &ViewerApi::ApplyProfile},
        {"GET", "/api/channels/{i}/assistant", &ViewerApi::Assistant},
        {"POST", "/api/channels/{i}/assistant/start", &ViewerApi::StartAssistant},
        {"POST", "/api/channels/{i}/assistant/next", &ViewerApi::NextAssistant},
        {"POST", "/api/channels/{i}/assistant/stop", &ViewerApi::StopAssistant},
        {"POST", "/api/clients/{page}/close", &ViewerApi::CloseClient},
        {"GET", "/api/server", &ViewerApi::ServerStatus},
        {"GET", "/*", &ViewerApi::Page},
    };
    return routes;
}

namespace {

constexpr const char* ClientHeader = "x-zeb-client";

// The parts of a path between its slashes: "/api/channels" gives "api", "channels"; "/" gives "".
std::vector<std::string> Split(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 1;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// Whether the path's parts fit the route's pattern; `parameters` gets each "{...}" with its part.
bool Matches(const std::string& pattern, const std::vector<std::string>& parts,
             std::vector<std::pair<std::string, std::string>>& parameters) {
    if (pattern == "/*")
        return parts[0] != "api";
    const std::vector<std::string> wanted = Split(pattern);
    if (wanted.size() != parts.size())
        return false;
    parameters.clear();
    for (size_t i = 0; i < wanted.size(); ++i) {
        if (wanted[i].starts_with("{"))
            parameters.emplace_back(wanted[i], parts[i]);
        else if (wanted[i] != parts[i])
            return false;
    }
    return true;
}

HttpResponse NotFound(const std::string& path) {
    return HttpResponse::Text(404, "nothing at " + path + "; docs/http-api.md lists the API");
}

HttpResponse MethodNotAllowed(const std::string& allowed) {
    HttpResponse response = HttpResponse::Text(405, "use " + allowed + " here");
    response.headers.emplace_back("Allow", allowed);
    return response;
}

HttpResponse Answer(const ChannelWorker::Outcome& outcome, const std::function<HttpResponse()>& done) {
    switch (outcome.kind) {
    case ChannelWorker::Outcome::Kind::Refused:
        return HttpResponse::Text(422, outcome.text);
    case ChannelWorker::Outcome::Kind::Conflict:
        return HttpResponse::Text(409, outcome.text);
    case ChannelWorker::Outcome::Kind::NoRoom:
        return HttpResponse::Text(507, outcome.text);
    case ChannelWorker::Outcome::Kind::Failed:
        return HttpResponse::Text(500, outcome.text);
    case ChannelWorker::Outcome::Kind::Done:
        break;
    }
    return done();
}

// A whole decimal number within [low, high], or none.
std::optional<int64_t> WholeNumber(const std::string& text, int64_t low, int64_t high) {
    if (text.empty() || text.size() > 18 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const int64_t value = std::strtoll(text.c_str(), nullptr, 10);
    if (value < low || value > high)
        return std::nullopt;
    return value;
}

HttpResponse AssistantAnswer(ChannelWorker& worker) {
    const ChannelWorker::AssistantView view = worker.Assistant();
    const bool readState = !view.active;
    const AssistantFeatures features = worker.Call([readState](host::HostChannel& channel) {
        AssistantFeatures f;
        f.selector = channel.Read("DialogSelector").value_or("");
        f.choices = channel.Choices("DialogSelector");
        if (readState) {
            // As a host polls an assistant it did not start (reading the result advances it).
            f.state.running = channel.Read("DialogStatus").value_or("") == "True";
            f.state.result = channel.Read("DialogResult").value_or("");
            f.state.instruction = channel.Read("DialogInstruction").value_or("");
            const std::string arguments = channel.Read("DialogResultMessageArguments").value_or("");
            f.state.message =
                cli::FillPlaceholders(channel.Read("DialogResultMessage").value_or(""), arguments);
            f.state.arguments = cli::SplitArguments(arguments);
        }
        return f;
    });
    return JsonAnswer(AssistantJson(view, features));
}

// Whether the request asks for the surface too: "surface=1" (or "true"); none for another value.
std::optional<bool> WithSurface(const HttpRequest& request) {
    const std::string surface = request.Query("surface", "0");
    if (surface == "1" || surface == "true")
        return true;
    if (surface == "0" || surface == "false")
        return false;
    return std::nullopt;
}

// A page's request from its begin to its answer, whichever way the answer goes: the page is alive
// meanwhile, however long the request takes.
class RequestUnderWay {
public:
    RequestUnderWay(ClientRegistry& clients, const std::string& page) : _clients(clients), _page(page) {}
    ~RequestUnderWay() {
        if (!_page.empty())
            _clients.End(_page);
    }
    RequestUnderWay(const RequestUnderWay&) = delete;
    RequestUnderWay& operator=(const RequestUnderWay&) = delete;

private:
    ClientRegistry& _clients;
    const std::string& _page;
};

HttpResponse RecordingAnswer(ChannelWorker& worker, const ChannelWorker::Outcome& outcome) {
    return Answer(outcome, [&] { return JsonAnswer(RecordingJson(worker.CurrentStatus().recording)); });
}

} // namespace

ViewerApi::ViewerApi(std::vector<ChannelWorker*> workers, ClientRegistry& clients, Options options)
    : _workers(std::move(workers)), _clients(clients), _options(options), _policy(options.loopbackOnly) {}

HttpResponse ViewerApi::Handle(const HttpRequest& request) {
    if (const std::string refusal = _policy.Refusal(request); !refusal.empty())
        return HttpResponse::Text(403, refusal);
    std::string client;
    if (request.headers.count(ClientHeader)) {
        client = request.Header(ClientHeader);
        if (!ClientRegistry::ValidId(client))
            return HttpResponse::Text(400, "the X-Zeb-Client header must be 1 to 64 letters, digits, - or _");
        if (!_clients.Begin(client))
            return HttpResponse::Text(503,
                                      "zeb view serves " + std::to_string(ClientRegistry::Capacity) +
                                          " pages at most; close a page or wait for gone ones to time out");
    }
    const RequestUnderWay underWay(_clients, client);
    try {
        return Dispatch(request, client);
    } catch (const ChannelBusy& busy) {
        return HttpResponse::Text(503, busy.what());
    } catch (const cli::CommandError& error) {
        return HttpResponse::Text(error.From() == cli::CommandError::Origin::Plugin ? 422 : 400,
                                  error.what());
    }
}

HttpResponse ViewerApi::Dispatch(const HttpRequest& request, const std::string& client) {
    const std::vector<std::string> parts = Split(request.path);
    // A channel zeb view does not serve, whatever follows it.
    if (parts.size() >= 3 && parts[0] == "api" && parts[1] == "channels" &&
        !WholeNumber(parts[2], 0, static_cast<int64_t>(_workers.size()) - 1))
        return HttpResponse::Text(404, "no channel \"" + parts[2] + "\"; zeb view serves channels 0 to " +
                                           std::to_string(static_cast<int64_t>(_workers.size()) - 1));
    std::vector<std::string> allowed;
    for (const Route& route : Routes()) {
        std::vector<std::pair<std::string, std::string>> parameters;
        if ((route.surface && !_options.surfaces) || !Matches(route.pattern, parts, parameters))
            continue;
        if (request.method != route.method) {
            if (std::find(allowed.begin(), allowed.end(), route.method) == allowed.end())
                allowed.push_back(route.method);
            continue;
        }
        Call call{request, client, nullptr, {}};
        for (const auto& [parameter, part] : parameters) {
            if (parameter == "{i}")
                call.worker = _workers[static_cast<size_t>(*WholeNumber(part, 0, INT64_MAX))];
            else
                call.name = part;
        }
        return (this->*route.answer)(call);
    }
    if (allowed.empty())
        return NotFound(request.path);
    std::string methods;
    for (const std::string& method : allowed)
        methods += (methods.empty() ? "" : ", ") + method;
    return MethodNotAllowed(methods);
}

HttpResponse ViewerApi::Page(const Call& call) {
    const std::string& path = call.request.path;
    const PageAsset* asset = FindPageAsset(path == "/" ? "/index.html" : path);
    if (!asset)
        return NotFound(path);
    HttpResponse response;
    response.contentType = asset->type;
    response.body.assign(reinterpret_cast<const char*>(asset->data), asset->size);
    return response;
}

HttpResponse ViewerApi::ChannelList(const Call&) {
    json channels = json::array();
    for (ChannelWorker* worker : _workers) {
        const std::string camera = worker->Call(
            [](host::HostChannel& channel) { return channel.Read("DeviceImageSource").value_or(""); });
        const ChannelWorker::Status status = worker->CurrentStatus();
        channels.push_back({{"index", worker->Index()},
                            {"name", worker->Name()},
                            {"serial", worker->Serial()},
                            {"scanType", worker->ScanType()},
                            {"camera", camera},
                            {"mode", ModeName(status.mode)},
                            {"acquiring", status.mode != ChannelWorker::Mode::Idle}});
    }
    return JsonAnswer(channels);
}

HttpResponse ViewerApi::StartAcquisition(const Call& call) {
    ChannelWorker& worker = *call.worker;
    ChannelWorker::Outcome outcome = worker.StartAcquisition(call.client);
    // Still no camera: after the plug-in's refusal, what the wiring lacks, as zeb acquire says it.
    if (outcome.kind == ChannelWorker::Outcome::Kind::Refused && !worker.Wiring().empty() &&
        worker.Call([](host::HostChannel& channel) { return channel.Read("DeviceImageSource"); }) == "None")
        for (const std::string& finding : worker.Wiring())
            outcome.text += " (" + finding + ")";
    return Answer(outcome, [&] { return JsonAnswer(StatusJson(worker, worker.CurrentStatus())); });
}

HttpResponse ViewerApi::StopAcquisition(const Call& call) {
    ChannelWorker& worker = *call.worker;
    return Answer(worker.StopAcquisition(),
                  [&] { return JsonAnswer(StatusJson(worker, worker.CurrentStatus())); });
}

HttpResponse ViewerApi::Image(const Call& call) {
    ChannelWorker& worker = *call.worker;
    const HttpRequest& request = call.request;
    const std::shared_ptr<const LiveImageSet> set = worker.CurrentStatus().latest;
    const std::string form =
        request.Query("form", set && set->Description().Averaged() ? "average" : "stack");
    if (!LiveImageSet::KnownForm(form))
        return HttpResponse::Text(400,
                                  "form \"" + form +
                                      "\" is none of stack, average, direction0, direction1, direction2, "
                                      "direction3");
    const auto scale = WholeNumber(request.Query("scale", "1"), 1, 16);
    if (!scale)
        return HttpResponse::Text(400, "scale is a whole number from 1 to 16");
    if (!set)
        return HttpResponse::Text(404, "channel " + std::to_string(worker.Index()) + " has no image set yet");
    const auto png = set->Png(form, static_cast<int32_t>(*scale));
    if (!png)
        return HttpResponse::Text(404, "image set " + std::to_string(set->Number()) +
                                           " is averaged (\"SetupMode\" \"On\"): it has no form \"" + form +
                                           "\"");
    HttpResponse response;
    response.contentType = "image/png";
    response.body = *png;
    response.headers.emplace_back("X-Zeb-Image-Set", std::to_string(set->Number()));
    return response;
}

HttpResponse ViewerApi::Status(const Call& call) {
    ChannelWorker& worker = *call.worker;
    const std::string since = call.request.Query("since");
    if (since.empty())
        return JsonAnswer(StatusJson(worker, worker.CurrentStatus()));
    const auto revision = WholeNumber(since, 0, INT64_MAX);
    const auto wait = WholeNumber(call.request.Query("wait", "0"), 0, _options.longestWaitMs);
    if (!revision || !wait)
        return HttpResponse::Text(400,
                                  "since is a revision number and wait a number of milliseconds from 0 to " +
                                      std::to_string(_options.longestWaitMs));
    // The wait holds no thread of the server: the worker wakes it at its next change.
    ChannelWorker* channel = &worker;
    return HttpWait::Later(
        std::chrono::milliseconds(*wait),
        [channel, since = static_cast<uint64_t>(*revision)](const HttpWait::Wake& wake) {
            channel->WakeOnChange(since, wake);
        },
        [channel] { return JsonAnswer(StatusJson(*channel, channel->CurrentStatus())); });
}

HttpResponse ViewerApi::SurfacePicture(const Call& call) {
    return _options.surfaces->Picture(*call.worker, call.request);
}

HttpResponse ViewerApi::Calibrate(const Call& call) {
    return _options.surfaces->Calibrate(*call.worker, call.request);
}

HttpResponse ViewerApi::Save(const Call& call) {
    ChannelWorker& worker = *call.worker;
    const std::shared_ptr<const LiveImageSet> set = worker.CurrentStatus().latest;
    if (!set)
        return HttpResponse::Text(404, "channel " + std::to_string(worker.Index()) + " has no image set yet");
    const std::optional<bool> surface = WithSurface(call.request);
    if (!surface)
        return HttpResponse::Text(400, "surface is 1 (save the surface too) or 0");
    if (*surface) {
        if (!_options.surfaces)
            return HttpResponse::Text(404, "zeb view computes no surface here");
        if (set->Description().Averaged())
            return HttpResponse::Text(409, "image set " + std::to_string(set->Number()) +
                                               " is averaged (\"SetupMode\" \"On\"): the surface needs the "
                                               "four directions");
    }
    Recorder::Saved saved;
    try {
        saved = worker.Save(*set, *surface);
    } catch (const cli::CommandError& error) {
        return HttpResponse::Text(422, error.what());
    } catch (const std::exception& error) {
        return HttpResponse::Text(500, error.what());
    }
    json names = json::array();
    for (const auto& file : saved.files)
        names.push_back(file.string());
    return JsonAnswer({{"imageSet", set->Number()}, {"savedNumber", saved.number}, {"files", names}});
}

HttpResponse ViewerApi::StartRecording(const Call& call) {
    const std::string countText = call.request.Query("count"), secondsText = call.request.Query("seconds");
    const auto count = WholeNumber(countText.empty() ? "0" : countText, 0, 1000000);
    const auto seconds = WholeNumber(secondsText.empty() ? "0" : secondsText, 0, 86400);
    if (!count || !seconds || (*count == 0) == (*seconds == 0))
        return HttpResponse::Text(400, "record with count (1 to 1000000 image sets) or seconds (1 to 86400), "
                                       "one of them");
    const std::optional<bool> surfaces = WithSurface(call.request);
    if (!surfaces)
        return HttpResponse::Text(400, "surface is 1 (record the surfaces too) or 0");
    if (*surfaces && !_options.surfaces)
        return HttpResponse::Text(404, "zeb view computes no surface here");
    return RecordingAnswer(*call.worker, call.worker->StartRecording(*count, static_cast<double>(*seconds),
                                                                     *surfaces, call.client));
}

HttpResponse ViewerApi::StopRecording(const Call& call) {
    return RecordingAnswer(*call.worker, call.worker->StopRecording());
}

HttpResponse ViewerApi::Assistant(const Call& call) {
    return AssistantAnswer(*call.worker);
}

HttpResponse ViewerApi::StartAssistant(const Call& call) {
    ChannelWorker& worker = *call.worker;
    const std::string& typed = call.request.body;
    const std::vector<std::string> offered =
        worker.Call([](host::HostChannel& channel) { return channel.Choices("DialogSelector"); });
    const std::optional<std::string> offers = cli::AssistantNames(offered).Resolve(typed);
    ChannelWorker::Outcome outcome =
        worker.StartAssistant(offers.value_or(cli::AssistantNames::Expand(typed)), call.client);
    // A name the channel does not offer: after the plug-in's refusal, what was probably meant and the
    // choices, as zeb assist gives them.
    if (!offers && outcome.kind == ChannelWorker::Outcome::Kind::Refused) {
        std::vector<std::string> candidates = offered;
        std::string list;
        for (const std::string& name : offered)
            list += (list.empty() ? "\"" : ", \"") + name + "\"";
        bool known = false; // an assistant of another channel's kind
        for (const auto& [shortName, fullName] : cli::AssistantNames::ShortNames()) {
            candidates.push_back(shortName);
            known = known || cli::EqualsIgnoringCase(typed, shortName) ||
                    cli::EqualsIgnoringCase(typed, fullName);
        }
        if (known && worker.ScanType() != "Linescan" &&
            cli::EqualsIgnoringCase(cli::AssistantNames::Expand(typed), "Encoder movement detection"))
            outcome.text += " (the encoder check needs a line-scan channel; channel " +
                            std::to_string(worker.Index()) + " is an area-scan channel)";
        else if (const std::string guess = cli::DidYouMean(typed, candidates); !known && !guess.empty())
            outcome.text += " (" + guess + ")";
        outcome.text += " (the channel offers " + list + ")";
    }
    return Answer(outcome, [&] { return AssistantAnswer(worker); });
}

HttpResponse ViewerApi::NextAssistant(const Call& call) {
    return Answer(call.worker->NextAssistant(), [&] { return AssistantAnswer(*call.worker); });
}

HttpResponse ViewerApi::StopAssistant(const Call& call) {
    return Answer(call.worker->StopAssistant(), [&] { return AssistantAnswer(*call.worker); });
}

HttpResponse ViewerApi::CloseClient(const Call& call) {
    if (!ClientRegistry::ValidId(call.name))
        return HttpResponse::Text(400, "a page id is 1 to 64 letters, digits, - or _");
    _clients.Close(call.name);
    for (ChannelWorker* worker : _workers)
        worker->Reap();
    return HttpResponse::Text(200, "goodbye");
}

HttpResponse ViewerApi::ServerStatus(const Call&) {
    const HttpServer::Statistics now = _options.server ? _options.server() : HttpServer::Statistics{};
    return JsonAnswer({{"connections", now.connections},
                       {"refused", now.refused},
                       {"waiting", now.waiting},
                       {"underWay", now.underWay},
                       {"received", now.received},
                       {"answered", now.answered}});
}

} // namespace zeb::view
