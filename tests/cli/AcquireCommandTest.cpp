// zeb acquire through the command line: numbered image sets with their metadata, the settings of
// the run in the images, line-scan directions, camera choice, the files chosen, several writers in
// one folder, large and saturated images, Ctrl-C and failures.
#include "ZebTest.h"

#include <algorithm>
#include <memory>
#include <regex>

namespace zeb::test {

namespace {
class AcquireCommand : public ZebTest {};

std::string SetFile(int number, const std::string& kind) {
    char name[64];
    std::snprintf(name, sizeof name, "zeb-channel0-%04d-%s.png", number, kind.c_str());
    return name;
}

// The station of the tests with the sensor's noise on, so that every image set is its own.
Json NoisyAreaStation(int32_t width = 64, int32_t height = 48) {
    Json station = AreaStation();
    station["cameras"][0]["sensor"] = {{"seed", 3}};
    SizeCamera(station["cameras"][0], width, height);
    return station;
}
// The three files of one area-scan set agree: the average and the contact sheet are made of the
// stack's pixels.
void ExpectOneSet(const PngContents& stack, const PngContents& average, const PngContents& sheet) {
    const size_t width = static_cast<size_t>(stack.image.width),
                 height = static_cast<size_t>(stack.image.height) / 4;
    ASSERT_EQ(stack.image.pixels.size(), width * height * 4);
    ASSERT_EQ(sheet.image.pixels.size(), width * height * 4);
    ASSERT_EQ(average.image.pixels.size(), width * height);
    for (size_t y = 0; y < height; ++y)
        for (size_t x = 0; x < width; ++x) {
            int sum = 0;
            for (size_t k = 0; k < 4; ++k) {
                const uint8_t pixel = stack.image.pixels[(k * height + y) * width + x];
                sum += pixel;
                ASSERT_EQ(sheet.image.pixels[((k / 2) * height + y) * 2 * width + (k % 2) * width + x],
                          pixel);
            }
            ASSERT_EQ(average.image.pixels[y * width + x], sum >> 2);
        }
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
    EXPECT_THAT(run.out,
                HasSubstr("3 image sets of 64 x 192 pixels (four directions stacked) from BRELAN: Morvane "
                          "(#0), camera Cam A (Zeb Station VCXG-25M, serial number S-Cam A)\n"))
        << run.out;
    EXPECT_TRUE(
        std::regex_search(run.out, std::regex("start-up [0-9.]+ ms \\(starting and the first image set\\), "
                                              "then [0-9.]+ ms per image set\n")))
        << run.out;
    EXPECT_THAT(run.out, HasSubstr("wrote 9 files of image sets 1 to 3 to " + Path("shots").string() + "\n"));

    for (const char* number : {"0001", "0002", "0003"})
        for (const char* kind : {"stack", "average", "directions"})
            EXPECT_TRUE(std::filesystem::exists(
                Path("shots") / (std::string("zeb-channel0-") + number + "-" + kind + ".png")))
                << number << " " << kind;
    const PngContents stack = ReadPngFile(Path("shots") / "zeb-channel0-0002-stack.png");
    ASSERT_EQ(stack.image.width, 64);
    ASSERT_EQ(stack.image.height, 192);
    EXPECT_EQ(stack.texts.at("Software"), "zeb " ZEB_PLUGIN_VERSION); // the build, as zeb --version says
    EXPECT_EQ(stack.texts.at("Channel"), "BRELAN: Morvane (#0)");
    EXPECT_EQ(stack.texts.at("Image set"), "2");
    EXPECT_EQ(stack.texts.at("Camera"), "Cam A (Zeb Station VCXG-25M, serial number S-Cam A)");
    EXPECT_EQ(stack.texts.at("Scan type"), "Areascan");
    EXPECT_EQ(stack.texts.at("Exposure time"), "80 us");
    EXPECT_EQ(stack.texts.at("Gain"), "0 dB");
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
    EXPECT_THAT(run.out, HasSubstr("1 image set of 64 x 48 pixels (averaged)"));
    EXPECT_THAT(run.out, HasSubstr("wrote 1 file of image set 4 to "));
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

TEST_F(AcquireCommand, WritersSharingAFolderKeepEverySetWhole) {
    // Three runs at once into one folder, each with noise of its own seed, one of them writing the
    // average alone: every image set number belongs to one run, with all of that run's files.
    const std::vector<std::vector<std::string>> runs = {{"acquire", "--count", "10"},
                                                        {"acquire", "--count", "10"},
                                                        {"acquire", "--count", "10", "--files", "average"}};
    std::vector<std::unique_ptr<ZebProcess>> processes;
    for (size_t k = 0; k < runs.size(); ++k) {
        const auto folder = Path("run" + std::to_string(k));
        std::filesystem::create_directories(folder);
        Json station = NoisyAreaStation();
        station["cameras"][0]["sensor"]["seed"] = 10 + k;
        TestEnvironment::WriteFile(folder / "station.json", station.dump());
        std::vector<std::string> arguments = {"--station", (folder / "station.json").string()};
        arguments.insert(arguments.end(), runs[k].begin(), runs[k].end());
        arguments.insert(arguments.end(), {"--out", Path("race").string()});
        processes.push_back(std::make_unique<ZebProcess>(folder, arguments));
    }
    for (auto& process : processes) {
        const Outcome run = process->Wait();
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(std::regex_search(run.out, std::regex("wrote (30|10) files of "))) << run.out;
    }
    int whole = 0, averages = 0;
    for (int number = 1; number <= 30; ++number) {
        SCOPED_TRACE("image set " + std::to_string(number));
        ASSERT_TRUE(std::filesystem::exists(Path("race") / SetFile(number, "average")));
        const PngContents average = ReadPngFile(Path("race") / SetFile(number, "average"));
        EXPECT_EQ(average.texts.at("Image set"), std::to_string(number));
        if (!std::filesystem::exists(Path("race") / SetFile(number, "stack"))) {
            EXPECT_FALSE(std::filesystem::exists(Path("race") / SetFile(number, "directions")));
            ++averages;
            continue;
        }
        // The three files of one set.
        ExpectOneSet(ReadPngFile(Path("race") / SetFile(number, "stack")), average,
                     ReadPngFile(Path("race") / SetFile(number, "directions")));
        ASSERT_EQ(average.image.pixels.size(), 64u * 48);
        ++whole;
    }
    EXPECT_EQ(whole, 20);
    EXPECT_EQ(averages, 10);
    EXPECT_FALSE(std::filesystem::exists(Path("race") / SetFile(31, "average")));
}

TEST_F(AcquireCommand, FilesPicksTheFilesOfEachSet) {
    UseStation(AreaStation());
    Outcome run = Zeb({"acquire", "--count", "2", "--files", "stack", "--out", Path("s").string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("wrote 2 files of image sets 1 to 2"));
    EXPECT_TRUE(std::filesystem::exists(Path("s") / SetFile(2, "stack")));
    EXPECT_FALSE(std::filesystem::exists(Path("s") / SetFile(1, "average")));
    // The directions one by one, which an area-scan set leaves out by default.
    run = Zeb({"acquire", "--files", "direction,average", "--out", Path("d").string(), "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Json::parse(run.out)["files"].size(), 5u);
    const PngContents direction = ReadPngFile(Path("d") / SetFile(1, "direction3"));
    EXPECT_EQ(direction.image.height, 48);
    EXPECT_EQ(direction.texts.at("Image"), "direction 3");

    // The surface's files alone, or beside a set's own: the surface is computed for them.
    run = Zeb({"acquire", "--files", "height,normals", "--out", Path("h").string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("wrote 2 files of image set 1"));
    EXPECT_TRUE(std::filesystem::exists(Path("h") / SetFile(1, "height")));
    EXPECT_TRUE(std::filesystem::exists(Path("h") / SetFile(1, "normals")));
    EXPECT_EQ(
        std::distance(std::filesystem::directory_iterator(Path("h")), std::filesystem::directory_iterator()),
        2);
    const PngSamplesRead height = ReadPngSamples(Path("h") / SetFile(1, "height"));
    EXPECT_EQ(height.bitDepth, 16);
    EXPECT_EQ(height.width, 64);
    // Numbers go on after the surface's files as after any others.
    run = Zeb({"acquire", "--files", "stack,albedo", "--out", Path("h").string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(std::filesystem::exists(Path("h") / SetFile(2, "albedo")));
    EXPECT_TRUE(std::filesystem::exists(Path("h") / SetFile(2, "stack")));
    EXPECT_THAT(Zeb({"acquire", "--files", "albedo", "--setup-mode", "On", "--out", Path("e").string()}),
                FailsWith(HasSubstr("the surface needs the four directions")));
    EXPECT_THAT(Zeb({"acquire", "--model", "domeRadius=100", "--out", Path("e").string()}),
                FailsWith(HasSubstr("--model is for the surface")));
    EXPECT_THAT(Zeb({"acquire", "--files", "stack,shape", "--out", Path("e").string()}),
                FailsWith(HasSubstr("shape")));
    EXPECT_THAT(
        Zeb({"acquire", "--setup-mode", "On", "--files", "stack", "--out", Path("e").string()}),
        FailsWith(HasSubstr("zeb: an averaged image set (\"SetupMode\" \"On\") has its average alone")));
    EXPECT_FALSE(std::filesystem::exists(Path("e") / SetFile(1, "stack")));
}

TEST_F(AcquireCommand, LargeNoisyAndSaturatedImagesReadBackExactly) {
    // Stacks of 2.6 MB, encoded in parts on threads of their own, and one whose every pixel is 255.
    // The same station file gives the same frames: two runs write the same pixels.
    Json station = NoisyAreaStation(640, 1024);
    UseStation(station);
    for (const char* folder : {"big", "again"}) {
        const Outcome run = Zeb({"acquire", "--out", Path(folder).string()});
        ASSERT_EQ(run.status, 0) << run.err;
    }
    const PngContents stack = ReadPngFile(Path("big") / SetFile(1, "stack"));
    ASSERT_EQ(stack.image.height, 4096);
    ExpectOneSet(stack, ReadPngFile(Path("big") / SetFile(1, "average")),
                 ReadPngFile(Path("big") / SetFile(1, "directions")));
    EXPECT_TRUE(stack.image.pixels == ReadPngFile(Path("again") / SetFile(1, "stack")).image.pixels);

    station["cameras"][0]["scene"] = {{"object", "sheet"}};
    UseStation(station);
    const Outcome run = Zeb({"acquire", "--set", "ExposureTime=5000", "--out", Path("white").string()});
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char* kind : {"stack", "average", "directions"}) {
        const PngContents white = ReadPngFile(Path("white") / SetFile(1, kind));
        ASSERT_FALSE(white.image.pixels.empty()) << kind;
        EXPECT_EQ(std::count(white.image.pixels.begin(), white.image.pixels.end(), uint8_t{255}),
                  static_cast<long>(white.image.pixels.size()))
            << kind;
    }
}

TEST_F(AcquireCommand, CameraByName) {
    Json station = AreaStation();
    station["cameras"].push_back(AreaCamera("Cam B", "VCXG-13M")); // not wired
    UseStation(station);
    EXPECT_THAT(
        Zeb({"acquire", "--camera", "Cam B", "--out", Path("b").string()}),
        FailsWith(HasSubstr("zeb: the camera \"Cam B\" cannot be used by BRELAN: Morvane (#0): the channel "
                            "holds \"None\"\n")));
    EXPECT_THAT(
        Zeb({"acquire", "--camera", "Cam C", "--out", Path("b").string()}),
        FailsWith(
            "zeb: no camera \"Cam C\" for BRELAN: Morvane (#0)\nzeb: did you mean \"Cam A\" or \"Cam B\"?\n"
            "zeb: the channel offers \"Cam A\", \"Cam B\"\n"));
    Outcome run = Zeb({"acquire", "--camera", "Cam A", "--out", Path("a").string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(std::filesystem::exists(Path("a") / "zeb-channel0-0001-stack.png"));

    station["cables"] = Json::array();
    UseStation(station);
    EXPECT_THAT(
        Zeb({"acquire", "--out", Path("c").string()}),
        FailsWith("zeb: no camera is wired to the lighting controller of BRELAN: Morvane (#0)\n"
                  "zeb: nothing carries the frame trigger: connect Camera0Output0 to Line0 of \"Cam A\"\n"
                  "zeb: nothing carries the ready signal: connect Line1 of \"Cam A\" to Camera0Input0\n"
                  "zeb: nothing carries the frame trigger: connect Camera0Output0 to Line0 of \"Cam B\"\n"
                  "zeb: nothing carries the ready signal: connect Line1 of \"Cam B\" to Camera0Input0\n"
                  "zeb: check the trigger cables, or name the camera with --camera\n"));
}

TEST_F(AcquireCommand, CtrlCEndsARunWithWhatWasAcquired) {
#if defined(_WIN32)
    // Under Wine a console control event from this test program does not reach zeb.exe; a SIGINT
    // to zeb.exe's Wine process does (it runs zeb's console control handler), which a Windows
    // program cannot send.
    GTEST_SKIP() << "Ctrl-C cannot be sent to zeb.exe from a program under Wine";
#endif
    UseStation(AreaStation());
    ZebProcess zeb(environment.Folder(),
                   {"--station", _station, "acquire", "--count", "100000", "--out", Path("many").string()});
    ASSERT_TRUE(zeb.WaitFor([](const std::string&, const std::string& err) {
        // Into a file (not a terminal) progress is a plain line every few seconds.
        return std::regex_search(err, std::regex("(^|\n)image set ([3-9]|[1-9][0-9]+) of 100000\n"));
    }));
    zeb.Interrupt();
    const Outcome run = zeb.Wait();
    EXPECT_EQ(run.status, 130) << run.err;
    std::smatch match;
    ASSERT_TRUE(
        std::regex_search(run.err, match, std::regex("interrupted after ([0-9]+) of 100000 image sets\n")))
        << run.err;
    const int sets = std::stoi(match[1]);
    EXPECT_GE(sets, 3);
    char last[64];
    std::snprintf(last, sizeof last, "zeb-channel0-%04d-directions.png", sets);
    EXPECT_TRUE(std::filesystem::exists(Path("many") / last)) << last;
    EXPECT_THAT(run.out, HasSubstr("wrote " + std::to_string(3 * sets) + " files"));
}

TEST_F(AcquireCommand, AContinuousRunNamesWhyItsLastSetFailed) {
#if defined(_WIN32)
    GTEST_SKIP() << "Ctrl-C cannot be sent to zeb.exe from a program under Wine";
#endif
    Json station = AreaStation();
    station["cameras"][0]["faults"] = Json::array(
        {{{"kind", "transferError"}, {"after", {{"operation", "frame"}, {"count", 6}}}, {"count", 1}}});
    UseStation(station);
    ZebProcess zeb(environment.Folder(), {"--station", _station, "acquire", "--continuous", "--json"});
    ASSERT_TRUE(zeb.WaitFor([](const std::string&, const std::string& err) {
        return std::regex_search(err, std::regex("(^|\n)[0-9]+ image sets, .* 1 failed\n"));
    }));
    zeb.Interrupt();
    const Outcome run = zeb.Wait();
    EXPECT_EQ(run.status, 130) << run.err;
    const Json result = Json::parse(run.out);
    EXPECT_EQ(result["failed"], 1);
    EXPECT_THAT(result["lastFailure"].get<std::string>(), StartsWith("Image was not transfered correctly."))
        << result["lastFailure"];

    ZebProcess text(environment.Folder(), {"--station", _station, "acquire", "--continuous"});
    ASSERT_TRUE(text.WaitFor(
        [](const std::string&, const std::string& err) { return Value(err, HasSubstr(" 1 failed\n")); }));
    text.Interrupt();
    const Outcome summary = text.Wait();
    EXPECT_THAT(summary.out,
                HasSubstr("0 lost, 1 failed (the last: Image was not transfered correctly. Frame 6 of Cam A"))
        << summary.out;
}

TEST_F(AcquireCommand, ALineScanFrameTooLongForThePluginIsExplained) {
    UseStation(LineStation());
    const std::vector<std::string> clocked = {"--set", "AcquisitionLineRateEnable=True", "--set",
                                              "AcquisitionLineRate=10000"};
    std::vector<std::string> arguments = {"acquire", "--out", Path("l").string(), "--set", "Height=2048"};
    arguments.insert(arguments.end(), clocked.begin(), clocked.end());
    EXPECT_THAT(
        Zeb(arguments),
        FailsWith("zeb: Acquisition aborted because of camera overtriggered.\n"
                  "zeb: a line-scan frame of 4 x 2048 = 8192 lines takes 819 ms at \"AcquisitionLineRate\" "
                  "10000 lines/s, longer than the 500 ms the plug-in waits for it: set \"Height\" to at most "
                  "1125 or \"AcquisitionLineRate\" to at least 18205\n"));
    // Either fix it names works.
    for (const std::string fix : {"Height=1125", "AcquisitionLineRate=18205"}) {
        arguments = {"acquire", "--out", Path("l").string(), "--set", "Height=2048"};
        arguments.insert(arguments.end(), clocked.begin(), clocked.end());
        arguments.insert(arguments.end(), {"--set", fix});
        Outcome run = Zeb(arguments);
        EXPECT_EQ(run.status, 0) << fix << ": " << run.err;
    }
}

TEST_F(AcquireCommand, AFailureFromAStationFaultSaysSo) {
    Json station = AreaStation();
    station["cameras"][0]["faults"] = Json::array({{{"kind", "transferError"}, {"count", 5}}});
    UseStation(station);
    Outcome run = Zeb({"acquire", "--out", Path("f").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("zeb: Image was not transfered correctly."));
    EXPECT_THAT(run.err, HasSubstr("zeb: the station file " + _station +
                                   " injects faults (camera \"Cam A\": transferError from the start); the "
                                   "failure may be one of them\n"))
        << run.err;

    // Without faults in the station a failure carries no such note.
    station = AreaStation();
    station["cameras"][0]["features"]["ExposureTime"] = "1000";
    UseStation(station);
    EXPECT_THAT(Zeb({"acquire", "--out", Path("g").string(), "--set", "TestPattern=Sideways"}),
                FailsWith(Not(HasSubstr("injects faults"))));
}

} // namespace zeb::test
