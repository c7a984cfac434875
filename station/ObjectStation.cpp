#include "ObjectStation.h"

#include "Station.h"
#include "StationFileWriter.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

namespace zeb::station {

namespace {

namespace fs = std::filesystem;

// How the station file names a map: relative to the folder it is saved in, or absolute.
std::string NameFor(const std::string& map, const std::string& stationFolder) {
    std::error_code error;
    const fs::path absolute = fs::absolute(map, error);
    if (error)
        throw std::runtime_error("map " + map + ": " + error.message());
    if (stationFolder.empty())
        return absolute.generic_string();
    const fs::path relative = absolute.lexically_relative(fs::absolute(stationFolder, error));
    return relative.empty() || error ? absolute.generic_string() : relative.generic_string();
}

} // namespace

std::string ObjectStationText(const ObjectStationOptions& o) {
    using Json = nlohmann::json;
    if (o.heightMap.empty())
        throw std::runtime_error("no height map given");
    // The same names and checks as a station file saved in the folder.
    const std::string stationFile =
        (fs::path(o.stationFolder.empty() ? fs::current_path() : fs::path(o.stationFolder)) / "station.json")
            .string();
    HeightMapDescription description;
    description.heightMap = NameFor(o.heightMap, o.stationFolder);
    description.albedoMap = o.albedoMap.empty() ? "" : NameFor(o.albedoMap, o.stationFolder);
    description.pixelSize = o.pixelSize;
    description.heightScale = o.heightScale;
    description.material = o.material;
    const auto object = HeightMapObject::Load(description, stationFile, *DiskFiles());

    // The built-in area-scan channel, the part under its camera.
    Json station = Json::parse(StationFileText(*Station::Default(), 0));
    Json& camera = station["cameras"][0];
    const double width = std::stod(camera["features"]["SensorWidth"].get<std::string>());
    const double height = std::stod(camera["features"]["SensorHeight"].get<std::string>());
    const double fieldOfView =
        o.fieldOfView ? *o.fieldOfView
                      : std::max(2 * object->HalfWidth(), 2 * object->HalfHeight() * width / height);
    Json entry = {{"heightMap", description.heightMap},
                  {"heightScale", description.heightScale},
                  {"pixelSize", description.pixelSize}};
    if (!description.albedoMap.empty())
        entry["albedoMap"] = description.albedoMap;
    entry["material"] = {{"type", description.material.type}};
    if (description.material.Glossy()) {
        entry["material"]["roughness"] = description.material.roughness;
        entry["material"]["specular"] = description.material.specular;
    }
    camera["scene"] = {
        {"object", entry}, {"fieldOfView", fieldOfView}, {"workingDistance", o.workingDistance}};
    // Loaded as the station file will be (every value checked), and written as zeb station writes one.
    // A value out of range is named by its key.
    try {
        return StationFileText(*Station::FromJson(station.dump(), stationFile));
    } catch (const std::runtime_error& error) {
        const std::string text = error.what(), place = " at /cameras/0/scene/";
        const size_t at = text.find(place);
        throw std::runtime_error(at == std::string::npos ? text : text.substr(at + place.size()));
    }
}

} // namespace zeb::station
