#include "view/ViewerApi.h"
#include "base/JsonText.h"

#include "base/CommandError.h"
#include "runs/AssistantFix.h"
#include "session/FeatureGuide.h"
#include "session/FeatureReport.h"
#include "session/RunSettings.h"
#include "view/FeatureGroups.h"
#include "view/PageAssets.h"
#include "view/SurfaceApi.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace zeb::view {

using nlohmann::json;

namespace {

constexpr const char* ClientHeader = "x-zeb-client";

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

HttpResponse NotFound(const std::string& path) {
    return HttpResponse::Text(404, "nothing at " + path + "; the README lists the API");
}

HttpResponse MethodNotAllowed(const std::string& allowed) {
    HttpResponse response = HttpResponse::Text(405, "use " + allowed + " here");
    response.headers.emplace_back("Allow", allowed);
    return response;
}

HttpResponse JsonAnswer(const json& value) {
    return HttpResponse::Json(200, cli::JsonText(value));
}

// A failed feature operation: the plug-in's text verbatim, 404 when the feature does not exist.
HttpResponse FeatureFailure(const std::string& name, const std::string& error) {
    return HttpResponse::Text(error == "Feature " + name + " does not exist." ? 404 : 422, error);
}

HttpResponse Answer(const ChannelWorker::Outcome& outcome, const std::function<HttpResponse()>& done) {
    switch (outcome.kind) {
    case ChannelWorker::Outcome::Kind::Refused:
        return HttpResponse::Text(422, outcome.text);
    case ChannelWorker::Outcome::Kind::Conflict:
        return HttpResponse::Text(409, outcome.text);
    case ChannelWorker::Outcome::Kind::Done:
        break;
    }
    return done();
}

const char* ModeName(ChannelWorker::Mode mode) {
    switch (mode) {
    case ChannelWorker::Mode::Live:
        return "live";
    case ChannelWorker::Mode::Assistant:
        return "assistant";
    case ChannelWorker::Mode::Idle:
        break;
    }
    return "idle";
}

json GreyJson(const GreyStatistics& grey) {
    return {{"histogram", grey.histogram},
            {"mean", grey.mean},
            {"saturatedPercent", grey.saturatedPercent},
            {"darkPercent", grey.darkPercent}};
}

json ImageSetJson(const LiveImageSet& set) {
    const cli::ImageSetDescription& d = set.Description();
    const GreyStatistics& grey = set.Statistics();
    json directions = json::array();
    for (const GreyStatistics& direction : set.DirectionStatistics())
        directions.push_back(GreyJson(direction));
    json entry = {
        {"number", set.Number()},
        {"width", set.Delivered().width},
        {"height", set.Delivered().height},
        {"directionWidth", set.DirectionWidth()},
        {"directionHeight", set.DirectionHeight()},
        {"averaged", d.Averaged()},
        {"lineScan", d.LineScan()},
        {"forms", set.Forms()},
        {"takenMs",
         std::chrono::duration_cast<std::chrono::milliseconds>(set.Taken().time_since_epoch()).count()},
        {"camera", d.camera},
        {"exposureTime", d.exposureTime},
        {"gain", d.gain},
        {"lightingSequence", d.lightingSequence},
        {"lightingOrientation", d.lightingOrientation},
        {"litFrom", LitFromSides(d.lightingSequence)},
        {"directions", directions}};
    entry.update(GreyJson(grey));
    return entry;
}

json RecordingJson(const ChannelWorker::Recording& recording) {
    return {{"active", recording.active},   {"count", recording.count},     {"seconds", recording.seconds},
            {"written", recording.written}, {"files", recording.lastFiles}, {"ended", recording.ended}};
}

json StatusJson(const ChannelWorker& worker, const ChannelWorker::Status& status) {
    const cli::AcquisitionStatistics& s = status.statistics;
    return {{"channel", worker.Index()},
            {"revision", status.revision},
            {"mode", ModeName(status.mode)},
            {"acquiring", status.mode != ChannelWorker::Mode::Idle},
            {"kept", status.kept},
            {"pages", status.pages},
            {"error", status.error},
            {"statistics",
             {{"imageSets", s.sets},
              {"perSecond", status.recentPerSecond},
              {"lost", s.lost},
              {"failed", s.failed},
              {"lastFailure", status.lastFailure},
              {"startupMs", 1000.0 * s.startupSeconds}}},
            {"recording", RecordingJson(status.recording)},
            {"imageSet", status.latest ? ImageSetJson(*status.latest) : json(nullptr)}};
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
        _clients.Touch(client);
    }
    const std::vector<std::string> parts = Split(request.path);
    try {
        return Route(request, parts, client);
    } catch (const ChannelBusy& busy) {
        return HttpResponse::Text(503, busy.what());
    } catch (const cli::CommandError& error) {
        return HttpResponse::Text(error.From() == cli::CommandError::Origin::Plugin ? 422 : 400,
                                  error.what());
    }
}

HttpResponse ViewerApi::Route(const HttpRequest& request, const std::vector<std::string>& parts,
                              const std::string& client) {
    const bool get = request.method == "GET";
    if (parts.empty() || parts[0] != "api") {
        if (!get)
            return MethodNotAllowed("GET");
        const PageAsset* asset = FindPageAsset(request.path == "/" ? "/index.html" : request.path);
        if (!asset)
            return NotFound(request.path);
        HttpResponse response;
        response.contentType = asset->type;
        response.body.assign(reinterpret_cast<const char*>(asset->data), asset->size);
        return response;
    }
    if (parts.size() == 2 && parts[1] == "channels")
        return get ? ChannelList() : MethodNotAllowed("GET");
    if (parts.size() >= 3 && parts[1] == "channels") {
        const auto index = WholeNumber(parts[2], 0, static_cast<int64_t>(_workers.size()) - 1);
        if (!index)
            return HttpResponse::Text(404, "no channel \"" + parts[2] + "\"; zeb view serves channels 0 to " +
                                               std::to_string(static_cast<int64_t>(_workers.size()) - 1));
        return Channel(*_workers[static_cast<size_t>(*index)], request, parts, client);
    }
    if (parts.size() == 4 && parts[1] == "clients" && parts[3] == "close") {
        if (request.method != "POST")
            return MethodNotAllowed("POST");
        if (!ClientRegistry::ValidId(parts[2]))
            return HttpResponse::Text(400, "a page id is 1 to 64 letters, digits, - or _");
        _clients.Close(parts[2]);
        for (ChannelWorker* worker : _workers)
            worker->Reap();
        return HttpResponse::Text(200, "goodbye");
    }
    return NotFound(request.path);
}

HttpResponse ViewerApi::ChannelList() {
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

HttpResponse ViewerApi::Channel(ChannelWorker& worker, const HttpRequest& request,
                                const std::vector<std::string>& parts, const std::string& client) {
    const std::string& method = request.method;
    const std::string what = parts.size() > 3 ? parts[3] : std::string();
    if (parts.size() == 4 && what == "features")
        return method == "GET" ? Features(worker) : MethodNotAllowed("GET");
    if (parts.size() == 5 && what == "features") {
        if (method != "GET" && method != "PUT")
            return MethodNotAllowed("GET, PUT");
        return Feature(worker, request, parts[4]);
    }
    if (parts.size() == 5 && what == "commands")
        return method == "POST" ? Command(worker, parts[4]) : MethodNotAllowed("POST");
    if (parts.size() == 5 && what == "acquisition" && (parts[4] == "start" || parts[4] == "stop")) {
        if (method != "POST")
            return MethodNotAllowed("POST");
        const ChannelWorker::Outcome outcome =
            parts[4] == "start" ? worker.StartAcquisition(client) : worker.StopAcquisition();
        return Answer(outcome, [&] { return JsonAnswer(StatusJson(worker, worker.CurrentStatus())); });
    }
    if (parts.size() == 4 && what == "image.png")
        return method == "GET" ? Image(worker, request) : MethodNotAllowed("GET");
    if (parts.size() == 4 && what == "status")
        return method == "GET" ? Status(worker, request) : MethodNotAllowed("GET");
    if (parts.size() == 4 && what == "assistant")
        return method == "GET" ? Assistant(worker) : MethodNotAllowed("GET");
    if (parts.size() == 5 && what == "assistant" &&
        (parts[4] == "start" || parts[4] == "next" || parts[4] == "stop")) {
        if (method != "POST")
            return MethodNotAllowed("POST");
        if (parts[4] == "start")
            return StartAssistant(worker, request.body, client);
        const ChannelWorker::Outcome outcome =
            parts[4] == "next" ? worker.NextAssistant() : worker.StopAssistant();
        return Answer(outcome, [&] { return Assistant(worker); });
    }
    if (parts.size() == 4 && what == "save")
        return method == "POST" ? Save(worker) : MethodNotAllowed("POST");
    if (parts.size() == 4 && what == "profile") {
        if (method != "GET" && method != "PUT")
            return MethodNotAllowed("GET, PUT");
        return Profile(worker, request);
    }
    if (parts.size() == 5 && what == "recording" && (parts[4] == "start" || parts[4] == "stop"))
        return method == "POST" ? Recording(worker, request, parts[4]) : MethodNotAllowed("POST");
    if (parts.size() == 4 && _options.surfaces)
        if (auto answer = _options.surfaces->Handle(worker, request, what))
            return *answer;
    return NotFound(request.path);
}

HttpResponse ViewerApi::Features(ChannelWorker& worker) {
    const std::vector<cli::FeatureInfo> features =
        worker.Call([](host::HostChannel& channel) { return cli::DescribeFeatures(channel); });
    json list = json::array();
    for (const cli::FeatureInfo& feature : features) {
        json entry = feature.Json();
        entry["group"] = FeatureGroup(feature.name);
        entry["fixedWhileAcquiring"] = cli::GuideFor(feature.name).fixedWhileAcquiring;
        list.push_back(std::move(entry));
    }
    return JsonAnswer(list);
}

HttpResponse ViewerApi::Feature(ChannelWorker& worker, const HttpRequest& request, const std::string& name) {
    struct Result {
        bool ok = false;
        std::string text; // the value, or the plug-in's error
        cli::WriteOutcome::Kind kind = cli::WriteOutcome::Kind::Held;
    };
    if (request.method == "GET") {
        const Result result = worker.Call([name](host::HostChannel& channel) {
            const auto value = channel.Read(name);
            return value ? Result{true, *value} : Result{false, channel.Error()};
        });
        return result.ok ? HttpResponse::Text(200, result.text) : FeatureFailure(name, result.text);
    }
    if (request.body.find('\0') != std::string::npos)
        return HttpResponse::Text(400, "a feature value is text without NUL bytes");
    const std::string value = request.body;
    const Result result = worker.Call([name, value](host::HostChannel& channel) {
        try {
            const cli::WriteOutcome outcome = cli::WriteFeature(channel, name, value);
            return Result{true, outcome.holds, outcome.kind};
        } catch (const cli::CommandError& error) {
            return Result{false, error.what()};
        }
    });
    if (!result.ok)
        return FeatureFailure(name, result.text);
    HttpResponse response = HttpResponse::Text(200, result.text);
    const char* kind = result.kind == cli::WriteOutcome::Kind::Held         ? "held"
                       : result.kind == cli::WriteOutcome::Kind::Normalised ? "normalised"
                                                                            : "adjusted";
    response.headers.emplace_back("X-Zeb-Written", kind);
    return response;
}

HttpResponse ViewerApi::Command(ChannelWorker& worker, const std::string& name) {
    const auto failure = worker.Call([name](host::HostChannel& channel) -> std::optional<std::string> {
        if (channel.Execute(name))
            return std::nullopt;
        return channel.Error();
    });
    return failure ? FeatureFailure(name, *failure) : HttpResponse::Text(200, "done");
}

HttpResponse ViewerApi::Image(ChannelWorker& worker, const HttpRequest& request) {
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

HttpResponse ViewerApi::Status(ChannelWorker& worker, const HttpRequest& request) {
    const std::string since = request.Query("since");
    if (since.empty())
        return JsonAnswer(StatusJson(worker, worker.CurrentStatus()));
    const auto revision = WholeNumber(since, 0, INT64_MAX);
    const auto wait = WholeNumber(request.Query("wait", "0"), 0, _options.longestWaitMs);
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

HttpResponse ViewerApi::Assistant(ChannelWorker& worker) {
    const ChannelWorker::AssistantView view = worker.Assistant();
    struct Features {
        std::string selector;
        std::vector<std::string> choices;
        cli::AssistantState state;
    };
    const bool readState = !view.active;
    const Features features = worker.Call([readState](host::HostChannel& channel) {
        Features f;
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
    const cli::AssistantState& state = view.active || !view.name.empty() ? view.state : features.state;
    const std::string name = view.name.empty() ? features.selector : view.name;
    const auto fix = cli::ImpliedFix(name, state);
    return JsonAnswer({{"selector", features.selector},
                       {"choices", features.choices},
                       {"active", view.active},
                       {"name", view.name},
                       {"running", view.active ? view.state.running : features.state.running},
                       {"instruction", state.instruction},
                       {"result", state.result},
                       {"message", state.message},
                       {"arguments", state.arguments},
                       {"images", view.images},
                       {"history", view.history},
                       {"fix", fix ? json{{"name", fix->name}, {"value", fix->value}} : json(nullptr)},
                       {"error", view.error}});
}

HttpResponse ViewerApi::StartAssistant(ChannelWorker& worker, const std::string& typed,
                                       const std::string& client) {
    const std::vector<std::string> offered =
        worker.Call([](host::HostChannel& channel) { return channel.Choices("DialogSelector"); });
    const std::string name =
        cli::AssistantNames(offered).Resolve(typed).value_or(cli::AssistantNames::Expand(typed));
    const ChannelWorker::Outcome outcome = worker.StartAssistant(name, client);
    return Answer(outcome, [&] { return Assistant(worker); });
}

HttpResponse ViewerApi::Save(ChannelWorker& worker) {
    const std::shared_ptr<const LiveImageSet> set = worker.CurrentStatus().latest;
    if (!set)
        return HttpResponse::Text(404, "channel " + std::to_string(worker.Index()) + " has no image set yet");
    std::vector<std::filesystem::path> files;
    try {
        files = worker.Save(*set);
    } catch (const std::exception& error) {
        return HttpResponse::Text(500, error.what());
    }
    json names = json::array();
    for (const auto& file : files)
        names.push_back(file.string());
    return JsonAnswer({{"imageSet", set->Number()}, {"files", names}});
}

HttpResponse ViewerApi::Profile(ChannelWorker& worker, const HttpRequest& request) {
    if (request.method == "GET") {
        const std::string text =
            worker.Call([](host::HostChannel& channel) { return cli::ProfileText(channel); });
        return HttpResponse::Text(200, text);
    }
    if (request.body.find('\0') != std::string::npos)
        return HttpResponse::Text(400, "a profile is text without NUL bytes");
    const std::vector<cli::Assignment> assignments = cli::ParseProfile(request.body, "profile");
    const std::vector<cli::AppliedSetting> applied = worker.Call(
        [assignments](host::HostChannel& channel) { return cli::ApplyEach(channel, assignments); });
    std::string lines;
    bool asWritten = true;
    for (const cli::AppliedSetting& setting : applied) {
        lines += (lines.empty() ? "" : "\n") + setting.Line();
        asWritten = asWritten && setting.AsWritten();
    }
    return HttpResponse::Text(asWritten ? 200 : 422, lines);
}

HttpResponse ViewerApi::Recording(ChannelWorker& worker, const HttpRequest& request,
                                  const std::string& what) {
    if (what == "stop")
        return Answer(worker.StopRecording(),
                      [&] { return JsonAnswer(RecordingJson(worker.CurrentStatus().recording)); });
    const std::string countText = request.Query("count"), secondsText = request.Query("seconds");
    const auto count = WholeNumber(countText.empty() ? "0" : countText, 0, 1000000);
    const auto seconds = WholeNumber(secondsText.empty() ? "0" : secondsText, 0, 86400);
    if (!count || !seconds || (*count == 0) == (*seconds == 0))
        return HttpResponse::Text(400, "record with count (1 to 1000000 image sets) or seconds (1 to 86400), "
                                       "one of them");
    return Answer(worker.StartRecording(*count, static_cast<double>(*seconds)),
                  [&] { return JsonAnswer(RecordingJson(worker.CurrentStatus().recording)); });
}

} // namespace zeb::view
