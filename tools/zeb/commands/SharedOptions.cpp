// The options several commands share.
#include "commands/Command.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace zeb::cli {

void SayLastsForThisCommand(bool inShell, const std::string& what) {
    if (inShell)
        return;
    std::fprintf(stderr,
                 "zeb: %s lasts for this command only: the plug-in is unloaded when zeb ends; give it to the "
                 "command that needs it (--set NAME=VALUE, --profile FILE), or use zeb shell\n",
                 what.c_str());
}

namespace {
// The shortest text that reads back as the number: "0.01", "3600".
std::string Shortest(double value) {
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed).ptr;
    return std::string(text, end);
}
} // namespace

CLI::Validator NumberIn(double min, double max, bool whole) {
    const std::string range = Shortest(min) + " to " + Shortest(max);
    return CLI::Validator(
        [min, max, whole, range](std::string& text) -> std::string {
            double value = 0;
            if (whole) {
                int64_t number = 0;
                if (!CLI::detail::lexical_cast(text, number))
                    return "\"" + text + "\" is not a whole number";
                value = static_cast<double>(number);
            } else if (!CLI::detail::lexical_cast(text, value) || !std::isfinite(value)) {
                return "\"" + text + "\" is not a number";
            }
            if (value < min || value > max)
                return text + " is not in the range " + range;
            return {};
        },
        std::string(whole ? "INT" : "FLOAT") + " in [" + Shortest(min) + " - " + Shortest(max) + "]", "");
}

void AddChannelOptions(CLI::App& app, ChannelOptions& options) {
    app.add_option("--channel,-c", options.channel, "channel index")
        ->check(NumberIn(0, std::numeric_limits<int32_t>::max(), true));
    app.add_option("--camera", options.camera,
                   "select this camera instead of the one detected as wired to the channel's controller");
    app.add_option("--profile", options.profiles,
                   "apply a profile (NAME=VALUE lines) before the command's work")
        ->allow_extra_args(false)
        ->check(CLI::ExistingFile)
        ->default_str("");
    app.add_option("--set", options.sets, "write a feature before the command's work; repeatable, in order")
        ->allow_extra_args(false)
        ->type_name("NAME=VALUE")
        ->default_str("");
    app.add_flag("--accept-adjusted", options.acceptAdjusted,
                 "go on when the channel holds another value than the one written (clamped, aligned)");
}

void AddSurfaceModelOptions(CLI::App& app, SurfaceModelOptions& options, bool withCalibration) {
    std::string help = "a value of the nominal lighting model; repeatable. Settings: ";
    for (const auto& [name, meaning] : SurfaceModelSettings())
        help += name + " (" + meaning + "); ";
    help.resize(help.size() - 2);
    CLI::Option* model = app.add_option("--model", options.settings, help)
                             ->allow_extra_args(false)
                             ->type_name("NAME=VALUE")
                             ->default_str("");
    if (withCalibration)
        app.add_option("--calibration", options.calibration,
                       "compute the surface with the lights measured by zeb calibrate, kept in this file")
            ->check(CLI::ExistingFile)
            ->excludes(model);
}

} // namespace zeb::cli
