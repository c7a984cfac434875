#include "session/RunSettings.h"

#include "base/CommandError.h"
#include "base/FileText.h"
#include "base/Text.h"

#include <sstream>

namespace zeb::cli {

Assignment ParseAssignment(const std::string& text, const std::string& origin) {
    const size_t equals = text.find('=');
    const std::string name = Trim(text.substr(0, equals));
    if (equals == std::string::npos || name.empty())
        throw CommandError(origin + ": \"" + text + "\" is not NAME=VALUE");
    return {name, Trim(text.substr(equals + 1)), origin};
}

std::vector<Assignment> LoadProfile(const std::filesystem::path& file) {
    return ParseProfile(ReadBoundedFile(file, "profile"), file.string());
}

namespace {
constexpr std::string_view HeaderStart = "# zeb profile of ";
constexpr std::string_view HeaderEnd = ": NAME=VALUE, one a line, applied in this order";
} // namespace

std::vector<Assignment> ParseProfile(const std::string& text, const std::string& origin) {
    std::istringstream in(text);
    std::vector<Assignment> assignments;
    std::string line, channel;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string trimmed = Trim(line);
        if (number == 1 && trimmed.starts_with(HeaderStart) && trimmed.ends_with(HeaderEnd) &&
            trimmed.size() > HeaderStart.size() + HeaderEnd.size())
            channel =
                trimmed.substr(HeaderStart.size(), trimmed.size() - HeaderStart.size() - HeaderEnd.size());
        if (trimmed.empty() || trimmed[0] == '#')
            continue;
        assignments.push_back(ParseAssignment(trimmed, origin + ":" + std::to_string(number)));
        assignments.back().profileOf = channel;
    }
    return assignments;
}

bool BelongsInProfile(const FeatureInfo& feature) {
    return feature.writable && feature.type != 4 && feature.value && !feature.name.starts_with("Dialog") &&
           feature.name != "AcquisitionMode";
}

std::string ProfileText(host::HostChannel& channel, size_t* count) {
    const std::vector<FeatureInfo> features = DescribeFeatures(channel);
    std::string text = std::string(HeaderStart) + channel.Name() + std::string(HeaderEnd) + "\n";
    size_t kept = 0;
    for (const FeatureInfo& feature : features)
        if (BelongsInProfile(feature)) {
            text += feature.name + "=" + *feature.value + "\n";
            ++kept;
        }
    if (count)
        *count = kept;
    return text;
}

bool IsSavedProfile(const std::string& text) {
    const std::string first = Trim(text.substr(0, text.find('\n')));
    return first.starts_with(HeaderStart) && first.ends_with(HeaderEnd);
}

void CheckProfileTarget(const std::filesystem::path& file) {
    RefuseToReplace(file, "profile", "a profile zeb saved", IsSavedProfile);
}

size_t SaveProfile(host::HostChannel& channel, const std::filesystem::path& file) {
    CheckProfileTarget(file);
    size_t count = 0;
    const std::string text = ProfileText(channel, &count);
    WriteWholeFile(file, text, "profile");
    return count;
}

std::string AppliedSetting::Line() const {
    if (!outcome)
        return assignment.name + ": " + error;
    if (outcome->kind == WriteOutcome::Kind::Held)
        return assignment.name + ": holds \"" + outcome->holds + "\"";
    return outcome->Describe();
}

std::vector<AppliedSetting> ApplyEach(host::HostChannel& channel,
                                      const std::vector<Assignment>& assignments) {
    std::vector<AppliedSetting> applied;
    for (const Assignment& assignment : assignments) {
        AppliedSetting setting{assignment, std::nullopt, {}};
        try {
            setting.outcome = WriteFeature(channel, assignment.name, assignment.value);
        } catch (const CommandError& error) {
            setting.error = error.what();
            for (const std::string& hint : error.Hints())
                setting.error += " (" + hint + ")";
        }
        applied.push_back(std::move(setting));
    }
    return applied;
}

} // namespace zeb::cli
