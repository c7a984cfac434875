// Reading a camera's scene from a station file: a built-in target or a part of one's own with its
// maps, the optics, or a folder of recorded image sets.
#include "HeightMap.h"
#include "Replay.h"
#include "StationFileKeys.h"
#include "StationLoader.h"

namespace zeb::station {

using Json = StationLoader::Json;

// The scene: a built-in target or a part of one's own, and the optics; or a recording.
void StationLoader::LoadScene(SimCamera& c, const Json& item, const std::string& at) {
    const Json& scene = item["scene"];
    Object(scene, at + "/scene", keys::Scene);
    if (scene.contains("replay")) {
        LoadReplay(c, item, at);
        return;
    }
    if (scene.contains("object")) {
        const Json& object = scene["object"];
        if (object.is_object()) {
            LoadOwnObject(c, object, at + "/scene/object");
        } else {
            c.scene.object = Text(object, at + "/scene/object");
            if (c.scene.object == "grey")
                c.scene.object = "card"; // the uniform grey surface is the card
            if (c.scene.object != "part" && c.scene.object != "sphere" && c.scene.object != "card" &&
                c.scene.object != "sheet")
                Fail(at + "/scene/object",
                     "expected \"part\", \"sphere\", \"card\", \"sheet\" or a height map object");
        }
    }
    if (scene.contains("defocus"))
        c.scene.defocus = Number(scene["defocus"], at + "/scene/defocus");
    if (c.scene.defocus < 0 || c.scene.defocus > 50)
        Fail(at + "/scene/defocus", "expected a blur radius from 0 to 50 pixels");
    if (scene.contains("fieldOfView"))
        c.scene.fieldOfView = Number(scene["fieldOfView"], at + "/scene/fieldOfView", 1, 10000);
    if (scene.contains("workingDistance"))
        c.scene.workingDistance = Number(scene["workingDistance"], at + "/scene/workingDistance", 0, 10000);
    if (scene.contains("cameraHeight"))
        c.scene.cameraHeight = Number(scene["cameraHeight"], at + "/scene/cameraHeight", 0, 100000);
}

void StationLoader::LoadOwnObject(SimCamera& c, const Json& object, const std::string& place) {
    Object(object, place, keys::OwnObject);
    if (!object.contains("heightMap"))
        Fail(place, "missing key \"heightMap\"");
    HeightMapDescription description;
    description.heightMap = Text(object["heightMap"], place + "/heightMap");
    if (description.heightMap.empty())
        Fail(place + "/heightMap", "expected a file name");
    if (object.contains("heightScale"))
        description.heightScale = Number(object["heightScale"], place + "/heightScale", 1e-9, 1000);
    if (!(description.heightScale > 0))
        Fail(place + "/heightScale", "expected millimetres per level above 0");
    if (object.contains("pixelSize"))
        description.pixelSize = Number(object["pixelSize"], place + "/pixelSize", 1e-6, 1000);
    if (!(description.pixelSize > 0))
        Fail(place + "/pixelSize", "expected millimetres per map pixel above 0");
    if (object.contains("albedoMap")) {
        description.albedoMap = Text(object["albedoMap"], place + "/albedoMap");
        if (description.albedoMap.empty())
            Fail(place + "/albedoMap", "expected a file name");
    }
    if (object.contains("material")) {
        const Json& material = object["material"];
        const std::string at = place + "/material";
        Object(material, at, keys::Material);
        if (!material.contains("type"))
            Fail(at, "missing key \"type\"");
        description.material.type = Text(material["type"], at + "/type");
        if (description.material.type != "matte" && description.material.type != "glossy")
            Fail(at + "/type", "expected \"matte\" or \"glossy\"");
        for (const char* key : {"roughness", "specular"})
            if (!description.material.Glossy() && material.contains(key))
                Fail(at + "/" + key, "a matte material has no \"" + std::string(key) +
                                         "\": only a glossy one reflects a specular lobe");
        if (material.contains("roughness"))
            description.material.roughness = Number(material["roughness"], at + "/roughness", 0.001, 1);
        if (material.contains("specular"))
            description.material.specular = Number(material["specular"], at + "/specular", 0, 1);
    }
    try {
        c.scene.ownObject = HeightMapObject::Load(description, _file, *_files);
    } catch (const std::runtime_error& error) {
        Fail(place, error.what());
    }
}

// A camera playing back recorded image sets. The sizes the file does not give are the recording's
// (a line camera's "Height" counts object lines, four rows each, as the plug-in sets it).
void StationLoader::LoadReplay(SimCamera& c, const Json& item, const std::string& at) {
    const Json& scene = item["scene"];
    for (const auto& [key, value] : scene.items())
        if (key != "replay")
            Fail(at + "/scene/" + key, "a camera that plays back recorded image sets has no \"" + key +
                                           "\": \"replay\" stands alone");
    c.scene.replay = Text(scene["replay"], at + "/scene/replay");
    if (c.scene.replay.empty())
        Fail(at + "/scene/replay", "expected a folder");
    try {
        c.recording = Recording::Open(c.scene.replay, _file, c.scanType, _files);
    } catch (const std::runtime_error& error) {
        Fail(at + "/scene/replay", error.what());
    }
    const bool given = item.contains("features") && item["features"].is_object();
    auto setUnlessGiven = [&](const char* feature, int32_t value) {
        if (!given || !item["features"].contains(feature))
            c.features[feature] = std::to_string(value);
    };
    setUnlessGiven("SensorWidth", c.recording->Width());
    setUnlessGiven("Width", c.recording->Width());
    setUnlessGiven("Height", c.recording->Rows() / 4);
    if (!c.Linescan())
        setUnlessGiven("SensorHeight", c.recording->Rows() / 4);
}

} // namespace zeb::station
