// zeb station: the simulated station as a station file with every key, to start a station of one's
// own from. zeb reads and writes it with the station's own code, which it links for this (the
// plug-in's copy stays out of reach, as for any host).
#include "commands/Commands.h"

#include "ObjectStation.h"
#include "Station.h"
#include "StationFileWriter.h"
#include "base/CommandError.h"
#include "base/Text.h"
#include "session/StationFile.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>

namespace zeb::cli {

void StationCommand::Define(CLI::App& parent) {
    _app = parent.add_subcommand(
        "station",
        "print the simulated station as a station file with every key: the built-in station, or the "
        "one --station (ZEB_STATION) names");
    _app->add_option("--channel,-c", _channel,
                     "only this channel's controller, the cameras its cables reach and its cables")
        ->check(NumberIn(0, std::numeric_limits<int32_t>::max(), true))
        ->default_str("all");
    // A part of one's own: the built-in area-scan channel with a height map under its camera.
    _app->add_option("--object", _object,
                     "instead: a station file for a part of one's own, from its height map (a 16-bit grey "
                     "PNG), under the built-in area-scan channel");
    _app->add_option("--albedo", _albedo, "with --object: its albedo map (an 8- or 16-bit grey PNG)");
    _app->add_option("--pixel-size", _pixelSize, "with --object: millimetres per map pixel")
        ->default_val(0.05);
    _app->add_option("--height-scale", _heightScale, "with --object: millimetres per height level")
        ->default_val(0.001);
    _app->add_option("--material", _material, "with --object: matte or glossy")
        ->check(CLI::IsMember({"matte", "glossy"}))
        ->default_val("matte");
    _app->add_option("--roughness", _roughness, "with --material glossy: the lobe's width (0.001 to 1)")
        ->default_val(0.1);
    _app->add_option("--specular", _specular,
                     "with --material glossy: the lobe's share of the light (0 to 1)")
        ->default_val(0.5);
    _app->add_option("--working-distance", _workingDistance,
                     "with --object: millimetres from the dome's rim down to the object plane")
        ->default_val(10);
    _app->add_option(
        "--field-of-view", _fieldOfView,
        "with --object: millimetres across the camera's width (default: the map fills the image)");
    _app->add_option("--out,-o", _out,
                     "with --object: write the station file here (the maps are named relative to its "
                     "folder) instead of printing it");
    for (const char* name : {"--albedo", "--pixel-size", "--height-scale", "--material", "--roughness",
                             "--specular", "--working-distance", "--field-of-view", "--out"})
        _app->get_option(name)->needs("--object");
    _app->get_option("--object")->excludes("--channel");
}

// The station file for --object, printed or written where --out says.
static int WriteObjectStation(const station::ObjectStationOptions& options, const std::string& out) {
    const std::string text = station::ObjectStationText(options);
    if (out.empty()) {
        std::fputs(text.c_str(), stdout);
        return 0;
    }
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    if (!(file << text) || !file.flush())
        throw CommandError("cannot write the station file " + Printable(out));
    std::printf("wrote the station file %s: start zeb with --station %s\n", Printable(out).c_str(),
                Printable(out).c_str());
    return 0;
}

int StationCommand::Run(Session&) {
    if (!_object.empty()) {
        station::ObjectStationOptions options;
        options.heightMap = _object;
        options.albedoMap = _albedo;
        options.pixelSize = _pixelSize;
        options.heightScale = _heightScale;
        options.material.type = _material;
        options.material.roughness = _roughness;
        options.material.specular = _specular;
        options.workingDistance = _workingDistance;
        if (_fieldOfView > 0)
            options.fieldOfView = _fieldOfView;
        if (!_out.empty())
            options.stationFolder = std::filesystem::absolute(_out).parent_path().string();
        try {
            return WriteObjectStation(options, _out);
        } catch (const std::runtime_error& error) {
            throw CommandError(Printable(error.what()));
        }
    }
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
