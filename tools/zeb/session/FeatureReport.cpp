#include "session/FeatureReport.h"

#include "base/CommandError.h"
#include "base/NameMatch.h"
#include "base/Text.h"
#include "session/FeatureGuide.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace zeb::cli {

std::string FeatureInfo::Flags() const {
    return std::string(readable ? "R" : "-") + (writable ? "W" : "-") + (common ? "C" : "-");
}

nlohmann::json FeatureInfo::Json() const {
    nlohmann::json json = {{"name", name},         {"type", TypeName()}, {"readable", readable},
                           {"writable", writable}, {"common", common},   {"choices", choices}};
    json["value"] = value ? nlohmann::json(*value) : nlohmann::json(nullptr);
    if (!error.empty())
        json["error"] = error;
    const FeatureGuide guide = GuideFor(name);
    json["unit"] = guide.unit;
    json["description"] = guide.meaning;
    json["limits"] = guide.limits;
    return json;
}

bool FeatureMissing(const std::string& error, const std::string& name) {
    // The text comes through the host's error buffer, cut to 255 bytes as it is for a long name.
    return error == ("Feature " + name + " does not exist.").substr(0, 255);
}

CommandError FeatureError(host::HostChannel& channel, const std::string& name) {
    CommandError error = PluginError(channel.Error());
    if (FeatureMissing(channel.Error(), name))
        error.Hint(DidYouMean(name, channel.FeatureNames()));
    return error;
}

FeatureInfo DescribeFeature(host::HostChannel& channel, const std::string& name) {
    FeatureInfo info;
    info.name = name;
    const auto type = channel.Type(name);
    if (!type)
        throw FeatureError(channel, name);
    info.type = *type;
    info.readable = channel.Attribute(name, 2).value_or("") == "True";
    info.writable = channel.Attribute(name, 3).value_or("") == "True";
    info.common = channel.Attribute(name, 4).value_or("") == "True";
    if (info.type != 4) {
        info.value = channel.Read(name);
        if (!info.value)
            info.error = channel.Error();
    }
    info.choices = channel.Choices(name);
    return info;
}

std::vector<FeatureInfo> DescribeFeatures(host::HostChannel& channel) {
    const std::vector<std::string> names = channel.FeatureNames();
    if (names.empty())
        throw PluginError(channel.Error());
    std::vector<FeatureInfo> features;
    for (const std::string& name : names)
        features.push_back(DescribeFeature(channel, name));
    return features;
}

namespace {
std::optional<double> Number(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(value))
        return std::nullopt;
    return value;
}
} // namespace

WriteOutcome::Kind CompareWritten(const std::string& written, const std::string& holds) {
    if (written == holds)
        return WriteOutcome::Kind::Held;
    const auto a = Number(written), b = Number(holds);
    // Features hold single-precision numbers: the same value within that precision is the same.
    if (a && b && std::fabs(*a - *b) <= 1e-6 * std::max(std::fabs(*a), std::fabs(*b)))
        return WriteOutcome::Kind::Normalised;
    return WriteOutcome::Kind::Adjusted;
}

std::string WriteOutcome::Describe() const {
    if (kind == Kind::Held)
        return {};
    return name + ": wrote \"" + written + "\", the channel holds \"" + holds + "\"";
}

std::string ChoicesHint(const std::string& value, const std::vector<std::string>& choices) {
    if (choices.empty() || std::find(choices.begin(), choices.end(), value) != choices.end())
        return {};
    std::string list;
    for (const std::string& choice : choices)
        list += (list.empty() ? "\"" : ", \"") + choice + "\"";
    // A number without its unit ("90" for "90 deg") is what people type most.
    std::vector<std::string> close;
    for (const std::string& choice : choices)
        if (EqualsIgnoringCase(choice, value) || Lowercase(choice).starts_with(Lowercase(value) + " "))
            close.push_back(choice);
    std::string guess = close.empty() ? DidYouMean(value, choices) : DidYouMean(close.front(), close);
    return "the choices are " + list + (guess.empty() ? "" : "; " + guess);
}

WriteOutcome WriteFeature(host::HostChannel& channel, const std::string& name, const std::string& value) {
    if (!channel.Write(name, value)) {
        CommandError error = FeatureError(channel, name);
        if (error.Hints().empty())
            error.Hint(ChoicesHint(value, channel.Choices(name)));
        throw error;
    }
    const auto holds = channel.Read(name);
    if (!holds)
        throw FeatureError(channel, name);
    return {name, value, *holds, CompareWritten(value, *holds)};
}

} // namespace zeb::cli
