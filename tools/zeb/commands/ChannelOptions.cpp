#include "Command.h"

namespace zeb::cli {

void AddChannelOptions(CLI::App& app, ChannelOptions& options) {
    app.add_option("--channel,-c", options.channel, "channel index")->check(CLI::NonNegativeNumber);
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

} // namespace zeb::cli
