// zeb acquire through the command line: numbered image sets with their metadata, the settings of
// the run in the images, line-scan directions, camera choice, Ctrl-C and failures.
#include "ZebTest.h"

#include <regex>

namespace zeb::test {

namespace {
class AcquireCommand : public ZebTest {};

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}
} // namespace

TEST_F(AcquireCommand, KeepsEveryImageSetWithItsMetadata) {
    const Json station = AreaStation();
    UseStation(station);
    const std::vector<std::string> settings = {"--set", "ExposureTime=80",
                                               "--set", "LightingOrientation=90 deg",
                                               "--set", "LightingSequenceType=Axial"};
    std::vector<std::string> arguments = {"acquire", "--count", "3", "--out", Path("shots").string()};
    arguments.insert(arguments.end(), settings.begin(), settings.end());
    Outcome run = Zeb(arguments);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contains(run.out,
                         "3 image sets of 64 x 192 pixels (four directions stacked) from BRELAN: Morvane "
                         "(#0), camera Cam A (Zeb Station VCXG-25M, serial number S-Cam A)\n"))
        << run.out;
    EXPECT_TRUE(
        std::regex_search(run.out, std::regex("start-up [0-9.]+ ms \\(starting and the first image set\\), "
                                              "then [0-9.]+ ms per image set\n")))
        << run.out;
    EXPECT_TRUE(Contains(run.out, "wrote 9 files of image sets 1 to 3 to " + Path("shots").string() + "\n"));

    for (const char* number : {"0001", "0002", "0003"})
        for (const char* kind : {"stack", "average", "directions"})
            EXPECT_TRUE(std::filesystem::exists(
                Path("shots") / (std::string("zeb-channel0-") + number + "-" + kind + ".png")))
                << number << " " << kind;
    const PngContents stack = ReadPngFile(Path("shots") / "zeb-channel0-0002-stack.png");
    ASSERT_EQ(stack.image.width, 64);
    ASSERT_EQ(stack.image.height, 192);
    EXPECT_EQ(stack.texts.at("Channel"), "BRELAN: Morvane (#0)");
    EXPECT_EQ(stack.texts.at("Image set"), "2");
    EXPECT_EQ(stack.texts.at("Camera"), "Cam A (Zeb Station VCXG-25M, serial number S-Cam A)");
    EXPECT_EQ(stack.texts.at("Scan type"), "Areascan");
    EXPECT_EQ(stack.texts.at("Exposure time"), "80 us");
    EXPECT_EQ(stack.texts.at("Gain"), "0");
    EXPECT_EQ(stack.texts.at("Lighting sequence"), "Axial");
    EXPECT_EQ(stack.texts.at("Lighting orientation"), "90 deg");
    EXPECT_EQ(stack.texts.at("Direction order"), "directions 0, 1, 2, 3 one below the other");
    EXPECT_EQ(stack.texts.at("Lit from").rfind("0 right, 1 top, 2 left, 3 bottom (", 0), 0u);
    EXPECT_TRUE(
        std::regex_match(stack.texts.at("Creation Time"),
                         std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}Z")));
    const PngContents average = ReadPngFile(Path("shots") / "zeb-channel0-0002-average.png");
    const PngContents sheet = ReadPngFile(Path("shots") / "zeb-channel0-0002-directions.png");
    EXPECT_EQ(average.image.height, 48);
    EXPECT_EQ(sheet.image.width, 128);
    EXPECT_EQ(sheet.image.height, 96);
    EXPECT_EQ(sheet.texts.at("Direction order"), "directions 0 1 over 2 3");
    // Direction 1 sits top right in the sheet; the average is the mean of the four.
    EXPECT_EQ(sheet.image.pixels[64 + 5], stack.image.pixels[48 * 64 + 5]);
    int sum = 0;
    for (int k = 0; k < 4; ++k)
        sum += stack.image.pixels[static_cast<size_t>(k * 48 * 64 + 7 * 64 + 9)];
    EXPECT_EQ(average.image.pixels[7 * 64 + 9], sum >> 2);

    // The same settings through the host interface in this process give the same image set.
    Load(station);
    host::HostChannel channel = Channel();
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Cam A"));
    for (auto [name, value] : {std::pair{"ExposureTime", "80"}, std::pair{"LightingOrientation", "90 deg"},
                               std::pair{"LightingSequenceType", "Axial"}})
        ASSERT_TRUE(channel.Write(name, value)) << channel.Error();
    ASSERT_TRUE(channel.Start());
    const auto image = channel.NextImage();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixels, stack.image.pixels);

    // A second run continues the numbering instead of overwriting.
    run = Zeb({"acquire", "--out", Path("shots").string(), "--setup-mode", "On"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "1 image set of 64 x 48 pixels (averaged)")) << run.out;
    EXPECT_TRUE(Contains(run.out, "wrote 1 file of image set 4 to ")) << run.out;
    const PngContents averaged = ReadPngFile(Path("shots") / "zeb-channel0-0004-average.png");
    EXPECT_EQ(averaged.image.height, 48);
    EXPECT_EQ(averaged.texts.at("Exposure time"), "50 us"); // the camera's own default without --set
}

TEST_F(AcquireCommand, LineScanStackIsAlsoWrittenAsItsDirections) {
    UseStation(LineStation());
    Outcome run = Zeb({"acquire", "--out", Path("lines").string(), "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const Json result = Json::parse(run.out);
    EXPECT_EQ(result["imageSets"], 1);
    EXPECT_EQ(result["scanType"], "Linescan");
    EXPECT_EQ(result["files"].size(), 7u);
    const PngContents stack = ReadPngFile(Path("lines") / "zeb-channel0-0001-stack.png");
    ASSERT_EQ(stack.image.width, 128);
    ASSERT_EQ(stack.image.height, 64);
    EXPECT_EQ(stack.texts.at("Direction order"), "rows interleaved: row 4 j + k belongs to direction k");
    for (int k = 0; k < 4; ++k) {
        const PngContents direction =
            ReadPngFile(Path("lines") / ("zeb-channel0-0001-direction" + std::to_string(k) + ".png"));
        ASSERT_EQ(direction.image.height, 16);
        EXPECT_EQ(direction.texts.at("Image"), "direction " + std::to_string(k));
        for (int row = 0; row < 16; ++row)
            ASSERT_EQ(direction.image.pixels[static_cast<size_t>(row * 128 + 3)],
                      stack.image.pixels[static_cast<size_t>((4 * row + k) * 128 + 3)])
                << "direction " << k << " row " << row;
    }
}

TEST_F(AcquireCommand, CameraByName) {
    Json station = AreaStation();
    station["cameras"].push_back(AreaCamera("Cam B", "VCXG-13M")); // not wired
    UseStation(station);
    Outcome run = Zeb({"acquire", "--camera", "Cam B", "--out", Path("b").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err,
                         "zeb: the camera \"Cam B\" cannot be used by BRELAN: Morvane (#0): the channel "
                         "holds \"None\"\n"))
        << run.err;
    run = Zeb({"acquire", "--camera", "Cam C", "--out", Path("b").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "zeb: no camera \"Cam C\" for BRELAN: Morvane (#0)\nzeb: did you mean \"Cam A\" or \"Cam B\"?\n"
              "zeb: the channel offers \"Cam A\", \"Cam B\"\n");
    run = Zeb({"acquire", "--camera", "Cam A", "--out", Path("a").string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(std::filesystem::exists(Path("a") / "zeb-channel0-0001-stack.png"));

    station["cables"] = Json::array();
    UseStation(station);
    run = Zeb({"acquire", "--out", Path("c").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "zeb: no camera is wired to the lighting controller of BRELAN: Morvane (#0)\n"
              "zeb: nothing carries the frame trigger: connect Camera0Output0 to Line0 of \"Cam A\"\n"
              "zeb: nothing carries the ready signal: connect Line1 of \"Cam A\" to Camera0Input0\n"
              "zeb: nothing carries the frame trigger: connect Camera0Output0 to Line0 of \"Cam B\"\n"
              "zeb: nothing carries the ready signal: connect Line1 of \"Cam B\" to Camera0Input0\n"
              "zeb: check the trigger cables, or name the camera with --camera\n");
}

TEST_F(AcquireCommand, CtrlCEndsARunWithWhatWasAcquired) {
#if defined(_WIN32)
    // Under Wine a console control event from this test program does not reach zeb.exe; a SIGINT
    // to zeb.exe's Wine process does (it runs zeb's console control handler), which a Windows
    // program cannot send.
    GTEST_SKIP() << "Ctrl-C cannot be sent to zeb.exe from a program under Wine";
#endif
    UseStation(AreaStation());
    {
        ZebProcess zeb(environment.Folder(), {"--station", _station, "acquire", "--count", "100000", "--out",
                                              Path("many").string()});
        ASSERT_TRUE(zeb.WaitFor(
            [](const std::string&, const std::string& err) { return Contains(err, "image set 3 of"); }));
        zeb.Interrupt();
        const Outcome run = zeb.Wait();
        EXPECT_EQ(run.status, 130) << run.err;
        std::smatch match;
        ASSERT_TRUE(std::regex_search(run.err, match,
                                      std::regex("interrupted after ([0-9]+) of 100000 image sets\n")))
            << run.err;
        const int sets = std::stoi(match[1]);
        EXPECT_GE(sets, 3);
        char last[64];
        std::snprintf(last, sizeof last, "zeb-channel0-%04d-directions.png", sets);
        EXPECT_TRUE(std::filesystem::exists(Path("many") / last)) << last;
        EXPECT_TRUE(Contains(run.out, "wrote " + std::to_string(3 * sets) + " files")) << run.out;
    }
    ZebProcess zeb(environment.Folder(), {"--station", _station, "acquire", "--continuous"});
    ASSERT_TRUE(zeb.WaitFor([](const std::string&, const std::string& err) {
        return Contains(err, "\r3 image sets, ") && Contains(err, " per second, 0 lost, 0 failed");
    }));
    zeb.Interrupt();
    const Outcome run = zeb.Wait();
    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_TRUE(std::regex_search(run.err, std::regex("interrupted after [0-9]+ image sets\n"))) << run.err;
    EXPECT_TRUE(Contains(run.out, "0 lost, 0 failed\n")) << run.out;
    EXPECT_FALSE(Contains(run.out, "wrote")); // no files without --out
}

TEST_F(AcquireCommand, AFailureFromAStationFaultSaysSo) {
    Json station = AreaStation();
    station["cameras"][0]["faults"] = Json::array({{{"kind", "transferError"}, {"count", 5}}});
    UseStation(station);
    Outcome run = Zeb({"acquire", "--out", Path("f").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err, "zeb: Image was not transfered correctly.")) << run.err;
    EXPECT_TRUE(Contains(run.err, "zeb: the station file " + _station +
                                      " injects faults (camera \"Cam A\": transferError from the start); the "
                                      "failure may be one of them\n"))
        << run.err;

    // Without faults in the station a failure carries no such note.
    station = AreaStation();
    station["cameras"][0]["features"]["ExposureTime"] = "1000";
    UseStation(station);
    run = Zeb({"acquire", "--out", Path("g").string(), "--set", "TestPattern=Sideways"});
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(Contains(run.err, "injects faults")) << run.err;
}

} // namespace zeb::test
