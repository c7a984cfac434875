#include "view/ApiJson.h"

#include "base/JsonText.h"
#include "runs/AssistantFix.h"

#include <chrono>

namespace zeb::view {

using nlohmann::json;

HttpResponse JsonAnswer(const json& value) {
    return HttpResponse::Json(200, cli::JsonText(value));
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
    return {{"active", recording.active},     {"count", recording.count},     {"seconds", recording.seconds},
            {"surfaces", recording.surfaces}, {"written", recording.written}, {"files", recording.lastFiles},
            {"ended", recording.ended}};
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

json AssistantJson(const ChannelWorker::AssistantView& view, const AssistantFeatures& features) {
    const cli::AssistantState& state = view.active || !view.name.empty() ? view.state : features.state;
    const std::string name = view.name.empty() ? features.selector : view.name;
    const auto fix = cli::ImpliedFix(name, state);
    return {{"selector", features.selector},
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
            {"error", view.error}};
}

} // namespace zeb::view
