// The feature routes of zeb view's API: the list of features with their groups, one feature read or
// written, a command, and the profile read and applied line by line. The image region a streaming
// camera refuses is held or waits for a stop here, for single writes and profiles alike.
#include "view/ViewerApi.h"

#include "base/CommandError.h"
#include "session/FeatureGuide.h"
#include "session/FeatureReport.h"
#include "session/RunSettings.h"
#include "view/ApiJson.h"
#include "view/FeatureGroups.h"

#include <nlohmann/json.hpp>

namespace zeb::view {

using nlohmann::json;

namespace {

// A failed feature operation: the plug-in's text verbatim, then the hints zeb's commands give with it
// (did you mean, the choices); 404 when the feature does not exist.
HttpResponse FeatureFailure(const std::string& name, const std::string& error, const std::string& hints) {
    return HttpResponse::Text(cli::FeatureMissing(error, name) ? 404 : 422, error + hints);
}

// Each hint in parentheses after the text, as a profile's lines give them.
std::string Hints(const cli::CommandError& error) {
    std::string text;
    for (const std::string& hint : error.Hints())
        text += " (" + hint + ")";
    return text;
}

// A feature the assistant running on the channel sets for its image sets, and restores when it stops:
// not written meanwhile, so that the channel keeps the value written. The channel's own value is held;
// another one waits for the assistant to stop. None: the assistant does not hold the feature.
std::optional<cli::AppliedSetting> HeldByAssistant(const cli::AssistantRunner* assistant,
                                                   const cli::Assignment& assignment) {
    if (!assistant)
        return std::nullopt;
    for (const auto& [feature, own] : assistant->OwnValues()) {
        if (feature != assignment.name)
            continue;
        cli::AppliedSetting setting{assignment, std::nullopt, {}};
        const cli::WriteOutcome::Kind kind = cli::CompareWritten(assignment.value, own);
        if (kind == cli::WriteOutcome::Kind::Adjusted)
            setting.error = "stop the assistant to apply \"" + assignment.value + "\": the assistant \"" +
                            assistant->Name() + "\" sets \"" + feature +
                            "\" for its image sets and restores \"" + own + "\" when it stops";
        else
            setting.outcome = cli::WriteOutcome{assignment.name, assignment.value, own, kind};
        return setting;
    }
    return std::nullopt;
}

// The channel's profile with the values that are its own: a feature the running assistant sets for
// its image sets has the value the assistant restores.
std::string OwnProfile(host::HostChannel& channel, const cli::AssistantRunner* assistant) {
    std::string text = cli::ProfileText(channel);
    if (!assistant)
        return text;
    for (const auto& [feature, own] : assistant->OwnValues()) {
        const std::string key = "\n" + feature + "=";
        const size_t at = text.find(key);
        if (at == std::string::npos)
            continue;
        const size_t start = at + key.size();
        text.replace(start, text.find('\n', start) - start, own);
    }
    return text;
}

// A feature the camera takes only while it does not stream (the image region), asked for while the
// channel acquires: not written. A value it already holds is held (so that a profile saved while live
// loads while live); another one waits for a stop. None: the write goes to the channel.
std::optional<cli::AppliedSetting> HeldWhileAcquiring(host::HostChannel& channel, bool acquiring,
                                                      const cli::Assignment& assignment) {
    if (!acquiring || !cli::GuideFor(assignment.name).fixedWhileAcquiring)
        return std::nullopt;
    const std::optional<std::string> holds = channel.Read(assignment.name);
    if (!holds)
        return std::nullopt;
    cli::AppliedSetting setting{assignment, std::nullopt, {}};
    const cli::WriteOutcome::Kind kind = cli::CompareWritten(assignment.value, *holds);
    if (kind == cli::WriteOutcome::Kind::Adjusted)
        setting.error = "stop the acquisition to apply \"" + assignment.value +
                        "\": the camera takes its image region only while it does not stream (it holds \"" +
                        *holds + "\")";
    else
        setting.outcome = cli::WriteOutcome{assignment.name, assignment.value, *holds, kind};
    return setting;
}

struct FeatureResult {
    bool ok = false;
    std::string text; // the value, or the plug-in's error
    cli::WriteOutcome::Kind kind = cli::WriteOutcome::Kind::Held;
    std::string hints; // after the plug-in's error

    static FeatureResult Value(std::string value,
                               cli::WriteOutcome::Kind kind = cli::WriteOutcome::Kind::Held) {
        return {true, std::move(value), kind, {}};
    }
    static FeatureResult Failure(std::string error, std::string hints = {}) {
        return {false, std::move(error), cli::WriteOutcome::Kind::Held, std::move(hints)};
    }
};
} // namespace

HttpResponse ViewerApi::Features(const Call& call) {
    const std::vector<cli::FeatureInfo> features =
        call.worker->Call([](host::HostChannel& channel) { return cli::DescribeFeatures(channel); });
    json list = json::array();
    for (const cli::FeatureInfo& feature : features) {
        json entry = feature.Json();
        entry["group"] = FeatureGroup(feature.name);
        entry["fixedWhileAcquiring"] = cli::GuideFor(feature.name).fixedWhileAcquiring;
        list.push_back(std::move(entry));
    }
    return JsonAnswer(list);
}

HttpResponse ViewerApi::ReadFeature(const Call& call) {
    const FeatureResult result = call.worker->Call([name = call.name](host::HostChannel& channel) {
        const auto value = channel.Read(name);
        if (value)
            return FeatureResult::Value(*value);
        const std::string error = channel.Error();
        return FeatureResult::Failure(error, Hints(cli::FeatureError(channel, name)));
    });
    return result.ok ? HttpResponse::Text(200, result.text)
                     : FeatureFailure(call.name, result.text, result.hints);
}

HttpResponse ViewerApi::WriteFeature(const Call& call) {
    if (call.request.body.find('\0') != std::string::npos)
        return HttpResponse::Text(400, "a feature value is text without NUL bytes");
    ChannelWorker* worker = call.worker;
    bool waits = false; // a changed image-region value while the camera streams
    const FeatureResult result = worker->Call(
        [worker, &waits, name = call.name, value = call.request.body](host::HostChannel& channel) {
            const bool acquiring = worker->CurrentStatus().mode != ChannelWorker::Mode::Idle;
            const cli::Assignment assignment{name, value, "PUT"};
            auto held = HeldByAssistant(worker->RunningAssistant(), assignment);
            if (!held)
                held = HeldWhileAcquiring(channel, acquiring, assignment);
            if (held) {
                waits = !held->outcome;
                return held->outcome ? FeatureResult::Value(held->outcome->holds, held->outcome->kind)
                                     : FeatureResult::Failure(held->error);
            }
            try {
                const cli::WriteOutcome outcome = cli::WriteFeature(channel, name, value);
                return FeatureResult::Value(outcome.holds, outcome.kind);
            } catch (const cli::CommandError& error) {
                return FeatureResult::Failure(error.what(), Hints(error));
            }
        });
    if (waits)
        return HttpResponse::Text(409, result.text);
    if (!result.ok)
        return FeatureFailure(call.name, result.text, result.hints);
    HttpResponse response = HttpResponse::Text(200, result.text);
    const char* kind = result.kind == cli::WriteOutcome::Kind::Held         ? "held"
                       : result.kind == cli::WriteOutcome::Kind::Normalised ? "normalised"
                                                                            : "adjusted";
    response.headers.emplace_back("X-Zeb-Written", kind);
    return response;
}

HttpResponse ViewerApi::Command(const Call& call) {
    const auto failure =
        call.worker->Call([name = call.name](host::HostChannel& channel) -> std::optional<FeatureResult> {
            if (channel.Execute(name))
                return std::nullopt;
            const std::string error = channel.Error();
            return FeatureResult::Failure(error, Hints(cli::FeatureError(channel, name)));
        });
    return failure ? FeatureFailure(call.name, failure->text, failure->hints)
                   : HttpResponse::Text(200, "done");
}

HttpResponse ViewerApi::ReadProfile(const Call& call) {
    ChannelWorker* worker = call.worker;
    const std::string text = worker->Call(
        [worker](host::HostChannel& channel) { return OwnProfile(channel, worker->RunningAssistant()); });
    return HttpResponse::Text(200, text);
}

HttpResponse ViewerApi::ApplyProfile(const Call& call) {
    if (call.request.body.find('\0') != std::string::npos)
        return HttpResponse::Text(400, "a profile is text without NUL bytes");
    const std::vector<cli::Assignment> assignments = cli::ParseProfile(call.request.body, "profile");
    ChannelWorker* worker = call.worker;
    const std::vector<cli::AppliedSetting> applied =
        worker->Call([worker, assignments](host::HostChannel& channel) {
            std::vector<cli::AppliedSetting> each;
            for (const cli::Assignment& assignment : assignments) {
                // The channel's mode as the write meets it, read on the channel's own thread.
                const bool acquiring = worker->CurrentStatus().mode != ChannelWorker::Mode::Idle;
                auto held = HeldByAssistant(worker->RunningAssistant(), assignment);
                if (!held)
                    held = HeldWhileAcquiring(channel, acquiring, assignment);
                if (held)
                    each.push_back(std::move(*held));
                else
                    each.push_back(std::move(cli::ApplyEach(channel, {assignment}).front()));
            }
            return each;
        });
    std::string lines;
    bool asWritten = true;
    for (const cli::AppliedSetting& setting : applied) {
        lines += (lines.empty() ? "" : "\n") + setting.Line();
        asWritten = asWritten && setting.AsWritten();
    }
    return HttpResponse::Text(asWritten ? 200 : 422, lines);
}

} // namespace zeb::view
