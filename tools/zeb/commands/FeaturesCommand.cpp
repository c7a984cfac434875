// zeb features: every feature of a channel with type, flags, value and choices.
#include "base/JsonText.h"
#include "commands/Commands.h"

#include "base/Text.h"

#include "session/FeatureGuide.h"
#include "session/FeatureReport.h"

#include <cstdio>

namespace zeb::cli {

void FeaturesCommand::Define(CLI::App& parent) {
    _app =
        parent.add_subcommand("features", "every feature of a channel: type, flags (R readable, W writable, "
                                          "C common parameter), value and choices");
    AddChannelOptions(*_app, _channel);
    _app->add_flag("--json", _json, "print JSON");
    _app->add_flag("--names", _names, "print only the names, one a line");
    _app->footer(FeatureGuideText());
}

int FeaturesCommand::Run(Session& session) {
    host::HostChannel& channel = PrepareChannel(session, _channel, CameraNeed::Soft);
    if (_names) {
        const auto names = channel.FeatureNames();
        if (names.empty())
            throw PluginError(channel.Error());
        for (const std::string& name : names)
            std::printf("%s\n", Printable(name).c_str());
        return 0;
    }
    const std::vector<FeatureInfo> features = DescribeFeatures(channel);
    if (_json) {
        nlohmann::json json = nlohmann::json::array();
        for (const FeatureInfo& feature : features)
            json.push_back(feature.Json());
        std::printf("%s\n", JsonText(json, 2).c_str());
        return 0;
    }
    std::printf("%-34s %-8s %-5s %-28s %-8s %s\n", "Feature", "Type", "Flags", "Value", "Unit", "Choices");
    for (const FeatureInfo& feature : features) {
        std::string choices;
        for (const std::string& choice : feature.choices)
            choices += (choices.empty() ? "" : ", ") + choice;
        const std::string value = feature.value           ? *feature.value
                                  : feature.error.empty() ? ""
                                                          : "(" + feature.error + ")";
        std::printf("%-34s %-8s %-5s %-28s %-8s %s\n", Printable(feature.name).c_str(), feature.TypeName(),
                    feature.Flags().c_str(), Printable(value).c_str(), GuideFor(feature.name).unit.c_str(),
                    Printable(choices).c_str());
    }
    return 0;
}

} // namespace zeb::cli
