#include "session/StationFaults.h"

#include "base/JsonText.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>

namespace zeb::cli {

namespace {

std::string Ordinal(long long count) {
    const long long lastTwo = count % 100, last = count % 10;
    const char* suffix = (lastTwo >= 11 && lastTwo <= 13) ? "th"
                         : last == 1                      ? "st"
                         : last == 2                      ? "nd"
                         : last == 3                      ? "rd"
                                                          : "th";
    return std::to_string(count) + suffix;
}

std::string Describe(const nlohmann::json& fault) {
    std::string text = fault.value("kind", std::string("fault"));
    const auto after = fault.find("after");
    if (after != fault.end() && after->is_object()) {
        const long long count = after->value("count", 1LL);
        text += " after the " + Ordinal(count) + " " + after->value("operation", std::string("operation"));
        if (after->contains("name") && (*after)["name"].is_string())
            text += " of " + (*after)["name"].get<std::string>();
    } else {
        text += " from the start";
    }
    return text;
}

} // namespace

StationFaults StationFaults::FromEnvironment() {
    const char* path = std::getenv("ZEB_STATION");
    return path && *path ? FromFile(path) : StationFaults{};
}

StationFaults StationFaults::FromFile(const std::string& path) {
    StationFaults station;
    station._file = path;
    std::ifstream in(path, std::ios::binary);
    const nlohmann::json json = nlohmann::json::parse(in, nullptr, false);
    if (!json.is_object())
        return station;
    auto collect = [&](const char* list, const char* idKey, const char* device) {
        const auto devices = json.find(list);
        if (devices == json.end() || !devices->is_array())
            return;
        for (const auto& item : *devices) {
            if (!item.is_object() || !item.contains("faults") || !item["faults"].is_array())
                continue;
            std::string name = std::string(device) + " ";
            if (item.contains(idKey))
                name += item[idKey].is_string() ? "\"" + item[idKey].get<std::string>() + "\""
                                                : JsonText(item[idKey]);
            for (const auto& fault : item["faults"])
                if (fault.is_object())
                    station._faults.push_back(name + ": " + Describe(fault));
        }
    };
    collect("controllers", "deviceId", "controller");
    collect("cameras", "name", "camera");
    return station;
}

std::string StationFaults::Note() const {
    if (_faults.empty())
        return {};
    std::string list;
    for (const std::string& fault : _faults)
        list += (list.empty() ? "" : "; ") + fault;
    return "the station file " + _file + " injects faults (" + list + "); the failure may be one of them";
}

} // namespace zeb::cli
