// zeb station prints a station file to start from, and a channel whose detection finds no camera
// says which controller port and camera line to connect.
#include "../station/TestPng.h"
#include "ZebTest.h"

namespace zeb::test {

namespace {
class StationAndWiring : public ZebTest {};

} // namespace

TEST_F(StationAndWiring, StationCommandPrintsAFileToStartFrom) {
    const Outcome builtIn = Zeb({"station"});
    ASSERT_EQ(builtIn.status, 0) << builtIn.err;
    TestEnvironment::WriteFile(Path("s.json"), builtIn.out);
    const Outcome fromDefault = Zeb({"channels", "--detect", "--json"});
    const Outcome fromFile = Zeb({"--station", Path("s.json").string(), "channels", "--detect", "--json"});
    ASSERT_EQ(fromDefault.status, 0) << fromDefault.err;
    ASSERT_EQ(fromFile.status, 0) << fromFile.err;
    EXPECT_EQ(Json::parse(fromFile.out), Json::parse(fromDefault.out));
    EXPECT_EQ(Json::parse(fromFile.out)[1]["camera"], "Grabber 0 Port A");

    const Outcome one = Zeb({"station", "--channel", "1"});
    ASSERT_EQ(one.status, 0) << one.err;
    const Json channel = Json::parse(one.out);
    ASSERT_EQ(channel["controllers"].size(), 1u);
    EXPECT_EQ(channel["controllers"][0], Json::parse(builtIn.out)["controllers"][1]);
    ASSERT_EQ(channel["cameras"].size(), 1u);
    EXPECT_EQ(channel["cameras"][0]["name"], "Grabber 0 Port A");
    EXPECT_EQ(channel["cables"].size(), 2u);
    EXPECT_THAT(Zeb({"station", "--channel", "2"}),
                FailsWith("zeb: no channel 2: the station has 2 channels\n"));

    // A station file of one's own comes back with every key filled in.
    UseStation(AreaStation());
    const Outcome own = Zeb({"station"});
    ASSERT_EQ(own.status, 0) << own.err;
    const Json file = Json::parse(own.out);
    EXPECT_EQ(file["controllers"][0]["serial"], "MV-1000");
    EXPECT_EQ(file["controllers"][0]["encoder"]["connected"], false);
    EXPECT_EQ(file["cameras"][0]["sensor"]["noise"], 0);
    EXPECT_EQ(file["cameras"][0]["scene"]["object"], "part");

    TestEnvironment::WriteFile(_station, "{ \"controlers\": [] }"); // a misspelt key
    EXPECT_THAT(Zeb({"station"}),
                FailsWith("zeb: station file " + _station + " at /controlers: unknown key \"controlers\"\n"));
}

TEST_F(StationAndWiring, StationForAPartOfOnesOwnInOneStep) {
    // A 64 x 48 map: a 0.5 mm step in its right half, glossy, beside an albedo map.
    std::vector<uint16_t> heights(64 * 48), albedo(64 * 48);
    for (size_t at = 0; at < heights.size(); ++at) {
        heights[at] = at % 64 >= 32 ? 500 : 0;
        albedo[at] = at / 64 < 24 ? 100 : 200;
    }
    std::filesystem::create_directories(Path("maps"));
    TestEnvironment::WriteFile(Path("maps/part.png"), TestPng::Grey(64, 48, 16, heights));
    TestEnvironment::WriteFile(Path("maps/albedo.png"), TestPng::Grey(64, 48, 8, albedo));
    const std::string stationFile = Path("stations/part.json").string();
    std::filesystem::create_directories(Path("stations"));
    const Outcome made = Zeb({"station", "--object", Path("maps/part.png").string(), "--albedo",
                              Path("maps/albedo.png").string(), "--pixel-size", "0.2", "--material", "glossy",
                              "--working-distance", "20", "--out", stationFile});
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_THAT(made.out, HasSubstr("--station " + stationFile));
    const Json file = Json::parse(TestEnvironment::ReadFile(stationFile));
    const Json object = file["cameras"][0]["scene"]["object"];
    EXPECT_EQ(object["heightMap"], "../maps/part.png"); // relative to the station file's folder
    EXPECT_EQ(object["albedoMap"], "../maps/albedo.png");
    EXPECT_EQ(object["material"]["type"], "glossy");
    EXPECT_EQ(file["cameras"][0]["scene"]["workingDistance"], 20);

    // The station it makes acquires, and shows the step: the right half stands higher, so its edge
    // lights differently from the two sides.
    const Outcome run =
        Zeb({"--station", stationFile, "acquire", "--count", "1", "--out", Path("shots").string()});
    EXPECT_EQ(run.status, 0) << run.err;

    // A map that cannot be used names the file and the reason, and writes nothing.
    TestEnvironment::WriteFile(Path("maps/bad.png"), TestPng::Grey(64, 48, 8, albedo));
    const Outcome bad =
        Zeb({"station", "--object", Path("maps/bad.png").string(), "--out", Path("bad.json").string()});
    EXPECT_EQ(bad.status, 1);
    EXPECT_THAT(bad.err, HasSubstr(Path("maps/bad.png").string()));
    EXPECT_THAT(bad.err, HasSubstr("a height map is 16-bit grey"));
    EXPECT_FALSE(std::filesystem::exists(Path("bad.json")));
    const Outcome stray = Zeb({"station", "--albedo", Path("maps/albedo.png").string()});
    EXPECT_NE(stray.status, 0);
    EXPECT_THAT(stray.err, HasSubstr("--object"));
}

TEST_F(StationAndWiring, AreaScanNamesTheMissingOrMisplacedWire) {
    environment.EnableLogging("Debug");
    Json station = AreaStation();
    station["cables"] = Json::array({Cable(0, "Camera0Output0", "Cam A", "Line0")}); // no ready signal
    UseStation(station);
    EXPECT_THAT(
        Zeb({"acquire", "--out", Path("shots").string()}),
        FailsWith("zeb: no camera is wired to the lighting controller of BRELAN: Morvane (#0)\n"
                  "zeb: detection with \"Cam A\": the frame trigger reaches Line0; the ready signal "
                  "reaches no controller input\n"
                  "zeb: nothing carries the ready signal: connect Line1 of \"Cam A\" to Camera0Input0\n"
                  "zeb: check the trigger cables, or name the camera with --camera\n"));
    // Naming the camera gives the same advice.
    EXPECT_THAT(Zeb({"get", "Width", "--camera", "Cam A"}),
                FailsWith(HasSubstr("zeb: nothing carries the ready signal: connect Line1 of \"Cam A\" to "
                                    "Camera0Input0\n")));

    // The trigger on an output line of the camera, the ready signal through a wire that inverts.
    station["cables"] = Json::array(
        {Cable(0, "Camera0Output0", "Cam A", "Line1"), Cable(0, "Camera0Input1", "Cam A", "Line3", true)});
    UseStation(station);
    const Outcome run = Zeb({"channels", "--detect"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out,
                HasSubstr("  state:  no camera is wired to its controller\n"
                          "  wiring: detection with \"Cam A\": the frame trigger reaches none of its "
                          "lines; the ready signal comes from Line3 into Camera0Input1 through a wire "
                          "that inverts\n"
                          "  wiring: Camera0Output0 is wired to Line1 of \"Cam A\", which is not an "
                          "input line: the frame trigger needs Line0 or Line2\n"))
        << run.out;
}

TEST_F(StationAndWiring, LineScanNamesTheMissingTriggerAndTheUnusedPort) {
    environment.EnableLogging("Debug");
    Json station = LineStation();
    station["cables"] = Json::array({Cable(0, "AuxOutput0", "Line A", "Line0")}); // no frame trigger
    UseStation(station);
    Outcome run = Zeb({"channels", "--detect", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(
        Json::parse(run.out)[0]["wiring"],
        Json({"detection with \"Line A\": the line trigger (AuxOutput0) reaches Line0; the frame trigger "
              "(AuxOutput1) reaches none of its lines",
              "nothing carries the frame trigger: connect AuxOutput1 to Line1 of \"Line A\""}));

    // Cabled as for an area-scan controller, and a camera wired to another controller.
    station["controllers"].push_back(LineController(1));
    station["cameras"].push_back(LineCamera("Line B"));
    station["cables"] =
        Json::array({Cable(0, "Camera0Output0", "Line A", "Line0"), Cable(0, "AuxOutput1", "Line A", "Line1"),
                     Cable(1, "AuxOutput0", "Line B", "Line0")});
    UseStation(station);
    run = Zeb({"channels", "--detect", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const Json wiring = Json::parse(run.out)[0]["wiring"];
    EXPECT_EQ(wiring[1], "nothing carries the line trigger: connect AuxOutput0 to Line0 of \"Line A\"")
        << wiring;
    EXPECT_EQ(wiring[2],
              "Camera0Output0 is wired to Line0 of \"Line A\", but a line-scan controller does not "
              "look for the camera there")
        << wiring;
    EXPECT_THAT(wiring.dump(),
                HasSubstr("Line0 of \\\"Line B\\\" is wired to controller 1, not to this channel's "
                          "controller 0"))
        << wiring;
}

} // namespace zeb::test
