// What a person names on zeb's command line and what a station file says reach zeb as they are: a
// station file's error ends the run alone, a file far too large for a profile or a station is
// refused before it fills memory, and names from a station file cannot write to the terminal raw.
#include "ZebTest.h"

#include <fstream>

namespace zeb::test {

namespace {
class UntrustedFiles : public ZebTest {};

bool HasControlBytes(const std::string& text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\n' && c != '\r' && c != '\t') || byte == 0x7f) // zeb's columns are tabs
            return true;
    }
    return false;
}
} // namespace

TEST_F(UntrustedFiles, AStationFileErrorEndsTheRunAlone) {
    UseStation(AreaStation());
    TestEnvironment::WriteFile(_station, "{ \"controlers\": [] }"); // a misspelt key
    const std::string expected =
        "zeb: station file " + _station + " at /controlers: unknown key \"controlers\"\n";
    for (const std::vector<std::string>& command : {std::vector<std::string>{"channels"},
                                                    {"acquire", "--out", Path("shots").string()},
                                                    {"get", "Gain"}}) {
        const Outcome run = Zeb(command);
        EXPECT_EQ(run.status, 1) << command[0];
        EXPECT_EQ(run.err, expected) << command[0];
        EXPECT_EQ(run.out, "") << command[0];
    }
    // The same file through ZEB_STATION, and a station file that cannot be parsed at all.
    TestEnvironment::WriteFile(_station, "{ \"controllers\": [ ");
    const Outcome broken = Zeb({"channels"});
    EXPECT_EQ(broken.status, 1);
    EXPECT_THAT(broken.err, AllOf(HasSubstr("zeb: station file " + _station), Not(HasSubstr("no channel"))));
    EXPECT_EQ(std::count(broken.err.begin(), broken.err.end(), '\n'), 1) << broken.err;
}

TEST_F(UntrustedFiles, FilesFarTooLargeForAProfileOrAStationAreRefused) {
    const auto large = Path("large.txt");
    {
        std::ofstream out(large, std::ios::binary);
        const std::string line = "# a comment line of a profile, repeated far beyond any real one\n";
        for (size_t written = 0; written <= (4u << 20); written += line.size())
            out << line;
    }
    std::vector<std::string> files = {large.string()};
#if !defined(_WIN32)
    files.push_back("/dev/zero"); // no size to ask: read until the bound
#endif
    for (const std::string& file : files) {
        const Outcome profile = Zeb({"get", "Gain", "--profile", file});
        EXPECT_EQ(profile.status, 1) << file;
        EXPECT_EQ(profile.err,
                  "zeb: the profile " + file + " is larger than 4 MiB: it cannot be a profile\n");
        const Outcome station = Zeb({"--station", file, "channels"});
        EXPECT_EQ(station.status, 1) << file;
        EXPECT_EQ(station.err,
                  "zeb: the station file " + file + " is larger than 4 MiB: it cannot be a station file\n");
        EXPECT_THAT(Zeb({"--station", file, "station"}), FailsWith(station.err)) << file;
    }
    // A folder named as a profile or a station.
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"get", "Gain", "--profile", environment.Folder().string()},
          {"--station", environment.Folder().string(), "channels"}}) {
        const Outcome folder = Zeb(command);
        EXPECT_EQ(folder.status, 1);
        EXPECT_THAT(folder.err, StartsWith("zeb: "));
        EXPECT_EQ(std::count(folder.err.begin(), folder.err.end(), '\n'), 1) << folder.err;
    }
}

TEST_F(UntrustedFiles, NamesFromAStationFileReachTheTerminalEscaped) {
    const std::string camera = "Cam \x1b[2J\x1b]0;title\x07\nzeb view: serving http://127.0.0.1:1/";
    Json station = AreaStation();
    station["cameras"][0]["name"] = camera;
    station["cameras"][0]["features"]["DeviceModelName"] = "Model\r\x1b[31m";
    station["controllers"][0]["serial"] = "MV-\x1b[1m";
    station["cables"] = AreaCables(0, camera);
    UseStation(station);

    std::vector<Outcome> runs = {
        Zeb({"channels", "--detect"}),
        Zeb({"features"}),
        Zeb({"get", "DeviceImageSource"}),
        Zeb({"acquire", "--out", Path("shots").string()}),
        Zeb({"profile", "save", Path("p.txt").string()}),
        Zeb({"get", "Gain", "--camera", "Nobody"}), // an error listing the cameras the channel offers
        Zeb({"set", "DeviceImageSource", "None"}),
    };
    ASSERT_EQ(runs[0].status, 0) << runs[0].err;
    EXPECT_THAT(runs[0].out, HasSubstr("camera: Cam \\x1b[2J\\x1b]0;title\\x07\\x0azeb view: serving"));
    EXPECT_EQ(runs[3].status, 0) << runs[3].err;
    EXPECT_EQ(runs[5].status, 1);
    EXPECT_THAT(runs[5].err, HasSubstr("\\x1b[2J"));
    for (const Outcome& run : runs) {
        EXPECT_FALSE(HasControlBytes(run.rawOut)) << run.out;
        EXPECT_FALSE(HasControlBytes(run.rawErr)) << run.err;
        EXPECT_THAT(run.out + run.err, Not(HasSubstr("\nzeb view: serving")));
    }
}

} // namespace zeb::test
