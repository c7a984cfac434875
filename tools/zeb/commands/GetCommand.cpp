// zeb get: read one feature.
#include "base/JsonText.h"
#include "commands/Commands.h"

#include "base/Text.h"

#include "session/FeatureGuide.h"

#include "session/FeatureReport.h"

#include <cstdio>

namespace zeb::cli {

void GetCommand::Define(CLI::App& parent) {
    _app = parent.add_subcommand("get", "read a feature");
    _app->add_option("NAME", _name, "feature name")->required();
    AddChannelOptions(*_app, _channel);
    _app->footer(FeatureGuideText());
    _app->add_flag("--json", _json, "print the feature with its type, flags and choices as JSON");
    _app->add_flag("--choices", _choices, "print the values an enumeration offers, one a line");
}

int GetCommand::Run(Session& session) {
    host::HostChannel& channel = PrepareChannel(session, _channel, CameraNeed::Soft);
    if (_choices) {
        const FeatureInfo info = DescribeFeature(channel, _name);
        for (const std::string& choice : info.choices)
            std::printf("%s\n", Printable(choice).c_str());
        return 0;
    }
    if (_json) {
        const FeatureInfo info = DescribeFeature(channel, _name);
        if (!info.error.empty())
            throw PluginError(info.error);
        std::printf("%s\n", JsonText(info.Json(), 2).c_str());
        return 0;
    }
    const auto value = channel.Read(_name);
    if (!value)
        throw FeatureError(channel, _name);
    std::printf("%s\n", Printable(*value).c_str());
    return 0;
}

} // namespace zeb::cli
