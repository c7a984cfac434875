// zeb station: the simulated station as a station file with every key, to start a station of one's
// own from. zeb reads and writes it with the station's own code, which it links for this (the
// plug-in's copy stays out of reach, as for any host).
#include "commands/Commands.h"

#include "Station.h"
#include "StationFileWriter.h"
#include "base/CommandError.h"
#include "base/Text.h"
#include "session/StationFile.h"

#include <cstdio>
#include <cstdlib>

namespace zeb::cli {

void StationCommand::Define(CLI::App& parent) {
    _app = parent.add_subcommand(
        "station",
        "print the simulated station as a station file with every key: the built-in station, or the "
        "one --station (ZEB_STATION) names");
    _app->add_option("--channel,-c", _channel,
                     "only this channel's controller, the cameras its cables reach and its cables")
        ->check(CLI::NonNegativeNumber)
        ->default_str("all");
}

int StationCommand::Run(Session&) {
    const char* path = std::getenv("ZEB_STATION");
    const std::unique_ptr<station::Station> station =
        path && *path ? ReadStationFile(path) : station::Station::Default();
    std::optional<int32_t> controller;
    if (_channel >= 0) {
        // The plug-in makes a channel of each controller with a device id from 0 to 15, in id order.
        std::vector<int32_t> ids;
        for (const auto& [id, serial] : station->Peers())
            if (id < 16)
                ids.push_back(id);
        if (static_cast<size_t>(_channel) >= ids.size())
            throw CommandError("no channel " + std::to_string(_channel) + ": the station has " +
                               Count(static_cast<int64_t>(ids.size()), "channel"));
        controller = ids[static_cast<size_t>(_channel)];
    }
    std::fputs(station::StationFileText(*station, controller).c_str(), stdout);
    return 0;
}

} // namespace zeb::cli
