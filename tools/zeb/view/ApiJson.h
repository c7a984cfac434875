// The JSON shapes of zeb view's API (docs: the API's table), made from what the channel workers
// report.
#pragma once

#include "runs/AssistantRunner.h"
#include "view/ChannelWorker.h"
#include "view/LiveImageSet.h"
#include "view/http/HttpMessage.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace zeb::view {

// A 200 answer with the value as its JSON body (names and values from the plug-in as they are, never
// throwing on their bytes).
HttpResponse JsonAnswer(const nlohmann::json& value);

// "idle", "live" or "assistant".
const char* ModeName(ChannelWorker::Mode mode);

// {"histogram", "mean", "saturatedPercent", "darkPercent"}
nlohmann::json GreyJson(const GreyStatistics& grey);
// The image set of a status: its size and form, the settings it was taken with, its statistics.
nlohmann::json ImageSetJson(const LiveImageSet& set);
nlohmann::json RecordingJson(const ChannelWorker::Recording& recording);
nlohmann::json StatusJson(const ChannelWorker& worker, const ChannelWorker::Status& status);

// What an assistant shows: the worker's view of the one it runs (or ran last), and the channel's
// features as a host reads them.
struct AssistantFeatures {
    std::string selector;
    std::vector<std::string> choices;
    cli::AssistantState state; // read from the channel when the viewer runs no assistant
};
nlohmann::json AssistantJson(const ChannelWorker::AssistantView& view, const AssistantFeatures& features);

} // namespace zeb::view
