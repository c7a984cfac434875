// The station written as a station file loads back into the same station: the built-in one, one of
// its controllers, unusual values, and every input of the station-file fuzzer's corpus that loads.
#include "StationFileWriter.h"
#include "Station.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>

namespace zeb::station::test {

namespace {

using Json = nlohmann::json;
namespace fs = std::filesystem;

Json FaultRecords(const std::vector<Fault>& faults) {
    Json list = Json::array();
    for (const Fault& f : faults)
        list.push_back(
            {f.kind, f.trigger.operation, f.trigger.name, f.trigger.count, f.duration, f.delay, f.count});
    return list;
}

// Everything a station file decides, read from the station's records rather than through the writer.
Json Records(Station& station) {
    Json records = {{"controllers", Json::array()}, {"cameras", Json::array()}, {"cables", Json::array()}};
    for (const auto& [id, serial] : station.Peers()) {
        const SimController& c = *station.Controller(id);
        records["controllers"].push_back(
            {c.deviceId, c.serial, c.order, c.factory, c.currents, c.domeRotation, c.domeRadius,
             c.connectFailures, c.maxEncoderIncrements, c.encoder.connected, c.encoder.speed,
             c.encoder.travel ? Json(*c.encoder.travel) : Json(), c.transport.millimetresPerRevolution,
             c.transport.speed, c.triggerInput.period, c.triggerInput.pulse, FaultRecords(c.faults)});
    }
    for (const SimCamera* c : station.Cameras()) {
        Json limits = Json::object(), lines = Json::array();
        for (const auto& [name, range] : c->limits)
            limits[name] = {range.minimum, range.maximum, range.increment};
        for (const CameraLine& line : c->lines)
            lines.push_back({line.name, line.mode});
        Json object = c->scene.object;
        if (const auto& own = c->scene.ownObject) {
            const HeightMapDescription& description = own->Description();
            object = {description.heightMap,        description.albedoMap,     description.heightScale,
                      description.pixelSize,        description.material.type, description.material.roughness,
                      description.material.specular};
        }
        records["cameras"].push_back({c->name,
                                      c->transport,
                                      c->scanType,
                                      c->features,
                                      limits,
                                      lines,
                                      object,
                                      c->scene.replay,
                                      c->scene.cameraHeight,
                                      c->scene.defocus,
                                      c->scene.fieldOfView,
                                      c->scene.workingDistance,
                                      c->sensor.electronsPerGrey,
                                      c->sensor.readNoise,
                                      c->sensor.darkOffset,
                                      c->sensor.noise,
                                      c->sensor.seed,
                                      c->sensitivity,
                                      c->readoutPerRow,
                                      c->grabberMemory,
                                      FaultRecords(c->faults)});
    }
    for (const Cable& cable : station.Cables())
        records["cables"].push_back({cable.controller, cable.port, cable.camera, cable.line, cable.inverted});
    return records;
}

// Writes the station, loads what was written and expects the same station and the same text again.
void ExpectRoundTrip(Station& station, const std::string& what,
                     std::shared_ptr<const FileSource> files = DiskFiles()) {
    SCOPED_TRACE(what);
    const std::string text = StationFileText(station);
    std::unique_ptr<Station> reloaded;
    try {
        reloaded = Station::FromJson(text, "written.json", files);
    } catch (const std::exception& error) {
        FAIL() << error.what() << "\n" << text;
    }
    EXPECT_EQ(Records(*reloaded), Records(station)) << text;
    EXPECT_EQ(StationFileText(*reloaded), text);
}

} // namespace

TEST(StationFileWriter, BuiltInStationAndOneController) {
    auto station = Station::Default();
    ExpectRoundTrip(*station, "built-in station");
    const Json all = Json::parse(StationFileText(*station));
    const Json one = Json::parse(StationFileText(*station, 1));
    ASSERT_EQ(one["controllers"].size(), 1u);
    EXPECT_EQ(one["controllers"][0], all["controllers"][1]);
    ASSERT_EQ(one["cameras"].size(), 1u) << "only the camera its cables reach";
    EXPECT_EQ(one["cameras"][0], all["cameras"][1]);
    EXPECT_EQ(one["cables"], Json({all["cables"][2], all["cables"][3]}));
    // A file a person starts from names the keys a device is identified by, even at their defaults.
    EXPECT_EQ(all["controllers"][0]["registers"]["Info.HardwareVersion"], "2");
    EXPECT_EQ(all["cameras"][0]["features"]["DeviceModelName"], "VCXG-25M");
    EXPECT_THROW(StationFileText(*station, 7), std::invalid_argument);
}

TEST(StationFileWriter, UnusualValuesComeBack) {
    const Json offline = {{"kind", "offline"},
                          {"after", {{"operation", "set"}, {"name", "Sequencer.LightMode"}, {"count", 2}}},
                          {"delayMs", 0.000001},
                          {"durationMs", 300.5}};
    const Json controller = {
        {"deviceId", 7},
        {"light", {2800, 0, 2800, 2790.5}},
        {"registers",
         {{"Info.HardwareVersion", "1"}, {"Info.DeviceMode", nullptr}, {"Custom.Register", "x"}}},
        {"encoder", {{"connected", false}, {"speed", -0.25}, {"travel", 1.5}}},
        {"connectFailures", 2},
        {"faults", Json::array({offline})}};
    const Json camera = {
        {"name", "Cam \u00c4"},
        {"transport", "MicroEnable"},
        {"scanType", "Linescan"},
        {"features",
         {{"TriggerSelector", "AcquisitionStart"}, {"TriggerMode", "On"}, {"TriggerSource", "Out"}}},
        {"lines",
         Json::array({Json{{"name", "Out"}, {"mode", "Output"}}, Json{{"name", "In"}, {"mode", "Input"}}})},
        {"limits", {{"Gain", {{"max", 12}}}, {"ExposureTime", {{"min", 5}, {"increment", 0.5}}}}},
        {"scene", {{"object", "grey"}, {"defocus", 2.5}}},
        {"sensor", {{"seed", 42}, {"noise", 0}}},
        {"grabberMemory", 1000},
        {"faults", Json::array({Json{{"kind", "transferError"}, {"count", 3}}})}};
    const Json cable = {{"controller", 7},
                        {"port", "AuxOutput1"},
                        {"camera", "Cam \u00c4"},
                        {"line", "In"},
                        {"inverted", true}};
    const Json file = {{"controllers", Json::array({controller})},
                       {"cameras", Json::array({camera})},
                       {"cables", Json::array({cable})}};
    auto station = Station::FromJson(file.dump(), "unusual.json");
    // The trigger's mode and source belong to the selector the file sets, whatever the key order.
    EXPECT_EQ(station->Camera("Cam \u00c4")->Feature("TriggerMode[AcquisitionStart]"), "On");
    EXPECT_EQ(station->Camera("Cam \u00c4")->Feature("TriggerSource[AcquisitionStart]"), "Out");
    ExpectRoundTrip(*station, "unusual station");
}

TEST(StationFileWriter, EveryLoadableCorpusInputComesBack) {
    const fs::path corpus = zeb::test::TestEnvironment::SourcePath(
        (fs::path(ZEB_DOCS).parent_path() / "fuzz/station-corpus").string());
    int loaded = 0;
    for (const auto& entry : fs::directory_iterator(corpus)) {
        std::unique_ptr<Station> station;
        // As the fuzzer reads an input: the station file, then the bytes of every file it names.
        const std::string input = zeb::test::TestEnvironment::ReadFile(entry.path());
        const size_t split = input.find('\0');
        const auto files = MemoryFiles(split == std::string::npos ? "" : input.substr(split + 1),
                                       {"zeb-channel0-0001-stack.png"});
        try {
            station = Station::FromJson(input.substr(0, split), "input", files);
        } catch (const std::exception&) {
            continue; // the corpus holds files the reader refuses, too
        }
        ++loaded;
        ExpectRoundTrip(*station, entry.path().filename().string(), files);
        if (HasFailure())
            break;
    }
    EXPECT_GT(loaded, 10) << "stations loaded from " << corpus;
}

} // namespace zeb::station::test
