// Image sets of the station's targets, taken through its device operations with the sensor's
// noise on, stacked as a host receives them; and the nominal lighting of the station they came from.
#pragma once

#include "LightingModel.h"
#include "StationRig.h"
#include "Surface.h"

#include <string>
#include <vector>

namespace zeb::photometric::test {

using station::test::Json;
using station::test::StationRig;

struct ShotSet {
    int32_t width = 0, height = 0; // of the whole stack
    bool lineScan = false;
    std::vector<uint8_t> pixels;
    ImageSetView View() const { return {pixels.data(), width, height, lineScan}; }
};

// An area-scan image set of `object` on a width x height camera over the default 64 mm field, the
// Dome M mounted at `rotation` degrees and the diagonal sequence at the plug-in's light (brightness
// 200, 50 us) with the sequencer's orientation at 0 degrees.
inline ShotSet AreaShotOf(const Json& station, int32_t width, int32_t height,
                          const std::string& exposure = "50") {
    StationRig rig(station);
    rig.StartArea("Cam A", exposure);
    const station::test::Shot shot = rig.ImageSet("Cam A");
    ShotSet set{width, 4 * height, false, {}};
    for (const auto& frame : shot.frames)
        set.pixels.insert(set.pixels.end(), frame.begin(), frame.end());
    return set;
}

inline ShotSet AreaShot(const std::string& object, int32_t width, int32_t height, int32_t rotation = 0) {
    // The default sensor: noise, dark offset 2 and all.
    return AreaShotOf(zeb::test::AreaSceneStation(object, width, height, Json::object(), rotation), width,
                      height);
}

// The same through a region of the sensor: `width` x `height` pixels from (`offsetX`, `offsetY`)
// of a `sensorWidth` x `sensorHeight` sensor, exposed `exposure` microseconds (the light's pulse as
// long).
inline ShotSet AreaShotThrough(const std::string& object, int32_t sensorWidth, int32_t sensorHeight,
                               int32_t width, int32_t height, int32_t offsetX, int32_t offsetY,
                               const std::string& exposure = "50") {
    Json station = zeb::test::AreaSceneStation(object, sensorWidth, sensorHeight, Json::object());
    Json& features = station["cameras"][0]["features"];
    features["Width"] = std::to_string(width);
    features["Height"] = std::to_string(height);
    features["OffsetX"] = std::to_string(offsetX);
    features["OffsetY"] = std::to_string(offsetY);
    return AreaShotOf(station, width, height, exposure);
}

// A line-scan image set: a line of `width` pixels across 102.4 mm under the Dome L, the encoder
// clocking one object line per 102.4 / `width` mm of a 250 mm/s transport, so that pixels are
// square, and `lines` object lines (four rows each, one per direction).
inline ShotSet LineShot(const std::string& object, int32_t width, int32_t lines) {
    Json station = zeb::test::LineStation();
    Json& controller = station["controllers"][0];
    controller["domeRotation"] = 0;
    controller["transport"] = {{"mmPerRevolution", 125}, {"speed", 250}};
    Json& camera = station["cameras"][0];
    for (const char* feature : {"SensorWidth", "Width"})
        camera["features"][feature] = std::to_string(width);
    camera["scene"] = {{"object", object}};
    camera["sensor"] = Json::object();
    StationRig rig(station);
    rig.StartLine("Line A", lines);
    const double pixel = 102.4 / width;
    rig.EncoderClocked(static_cast<int32_t>(std::lround(4 * 125 / pixel)));
    const station::test::Shot shot = rig.LineFrame("Line A", lines * pixel / 250 + 0.01);
    return {shot.width, shot.height, true, shot.frames.empty() ? std::vector<uint8_t>{} : shot.frames[0]};
}

// The nominal lighting of those stations: white level 198.9 (0.0078 x 50 us x 200 % on the area
// camera, 0.052 x 10 us x 150 % on the line camera), dark level 2.
inline NominalSettings AreaNominal(int32_t width, int32_t height) {
    NominalSettings settings;
    settings.orientation = 0;
    settings.camera.sensorWidth = width;
    settings.camera.sensorHeight = height;
    settings.whiteLevel = StationWhiteLevel(false, "Dome M", "Diagonal", 50, 0);
    return settings;
}

inline NominalSettings LineNominal(int32_t width) {
    NominalSettings settings;
    settings.orientation = 0;
    settings.domeRadius = DomeRadiusOfModel("Dome L");
    settings.camera.lineScan = true;
    settings.camera.fieldOfView = 102.4;
    settings.camera.sensorWidth = width;
    settings.whiteLevel = StationWhiteLevel(true, "Dome L", "Diagonal", 10, 0);
    return settings;
}

} // namespace zeb::photometric::test
