// Recorded image sets played back as a camera's frames: the recorded pixels exactly, in the order of
// the files' numbers, each set's directions at their sequencer steps, looping; sets that do not fit
// the camera are refused naming the file, when the station file is read or when the camera starts.
#include "OwnObjects.h"
#include "StationFileWriter.h"

#include <gtest/gtest.h>

#include <random>

namespace zeb::station::test {

namespace {

// Random pixels, 0 and 255 among them.
std::vector<uint8_t> Noise(size_t count, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> pixels(count);
    for (auto& pixel : pixels)
        pixel = static_cast<uint8_t>(random() & 0xFF);
    pixels.front() = 0;
    pixels.back() = 255;
    return pixels;
}

// Writes a recorded set as zeb does: a stack of `width` x `rows`, with its scan type.
std::vector<uint8_t> Record(const std::filesystem::path& file, int32_t width, int32_t rows, uint32_t seed,
                            const std::string& scanType = "Areascan") {
    const std::vector<uint8_t> stack = Noise(static_cast<size_t>(width) * rows, seed);
    TestPng::Write(file, TestPng::Grey8(width, rows, stack,
                                        {{"Scan type", scanType}, {"Image", "the four directions stacked"}}));
    return stack;
}

// Direction k of an area-scan stack.
std::vector<uint8_t> Direction(const std::vector<uint8_t>& stack, int32_t width, int32_t height, int32_t k) {
    const auto begin = stack.begin() + static_cast<std::ptrdiff_t>(k) * width * height;
    return {begin, begin + static_cast<std::ptrdiff_t>(width) * height};
}

// The area-scan test station whose camera plays back `folder`, with no sizes of its own.
Json ReplayStation(const std::string& folder) {
    Json station = zeb::test::AreaStation();
    Json& camera = station["cameras"][0];
    camera["features"] = {{"DeviceModelName", "VCXG-25M"}, {"DeviceSerialNumber", "S-Cam A"}};
    camera["scene"] = {{"replay", folder}};
    return station;
}

} // namespace

TEST(Replay, AreaSetsComeBackExactlyInNumberOrderAndLoop) {
    TestFolder folder;
    const int32_t width = 40, height = 30;
    // Named as zeb names them; the set numbered 10 comes after the one numbered 9.
    const auto second = Record(folder / "rec" / "zeb-channel0-0010-stack.png", width, 4 * height, 2);
    const auto first = Record(folder / "rec" / "zeb-channel0-0009-stack.png", width, 4 * height, 1);
    const auto third = Record(folder / "rec" / "zeb-channel0-0011-stack.png", width, 4 * height, 3);
    TestPng::Write(folder / "rec" / "zeb-channel0-0009-average.png",
                   TestPng::Grey8(width, height, Noise(1200, 9)));
    Json station = ReplayStation("rec");
    // Noise, offset and gain the station would add to its own frames leave recorded ones alone.
    station["cameras"][0]["sensor"] = {{"noise", 1}, {"darkOffset", 5}};
    StationRig rig = RigIn(folder, station);
    EXPECT_EQ(rig.station->Camera("Cam A")->Int("Width"), width) << "the recording sizes the camera";
    EXPECT_EQ(rig.station->Camera("Cam A")->Int("SensorHeight"), height);
    rig.StartArea("Cam A", "800");
    rig.SetCamera("Cam A", "Gain", "12");
    for (const auto* expected : {&first, &second, &third, &first}) {
        const Shot shot = rig.ImageSet("Cam A");
        ASSERT_EQ(shot.frames.size(), 4u);
        ASSERT_EQ(shot.width, width);
        ASSERT_EQ(shot.height, height);
        for (int32_t k = 0; k < 4; ++k)
            EXPECT_EQ(shot.frames[static_cast<size_t>(k)], Direction(*expected, width, height, k))
                << "direction " << k;
    }
}

TEST(Replay, EachDirectionComesAtItsSequencerStepAndALostStepStartsTheNextSet) {
    TestFolder folder;
    const int32_t width = 16, height = 16;
    const auto first = Record(folder / "rec" / "a-1-stack.png", width, 4 * height, 1);
    const auto second = Record(folder / "rec" / "a-2-stack.png", width, 4 * height, 2);
    Json station = ReplayStation("rec");
    // The camera loses its third trigger: the first set gives directions 0, 1 and 3.
    station["cameras"][0]["faults"] =
        Json::array({zeb::test::StationFault("lostTriggers", "trigger", "", 3)});
    StationRig rig = RigIn(folder, station);
    rig.StartArea("Cam A");
    int64_t before = 0;
    ASSERT_TRUE(rig.station->FrameIndex("Cam A", before).Ok());
    rig.Set("Sequencer.Enabled", "0");
    rig.Set("Sequencer.Enabled", "1");
    rig.Later(100'000'000);
    int64_t newest = 0;
    ASSERT_TRUE(rig.station->FrameIndex("Cam A", newest).Ok());
    ASSERT_EQ(newest - before, 3);
    const auto frame = [&](int64_t index) {
        Frame* taken = nullptr;
        EXPECT_TRUE(rig.station->GetFrame("Cam A", index, taken).Ok());
        return taken ? taken->pixels : std::vector<uint8_t>();
    };
    EXPECT_EQ(frame(before + 1), Direction(first, width, height, 0));
    EXPECT_EQ(frame(before + 2), Direction(first, width, height, 1));
    EXPECT_EQ(frame(before + 3), Direction(first, width, height, 3));
    // The next sequence begins with step 0 again: the next set.
    rig.Set("Sequencer.Enabled", "0");
    rig.Set("Sequencer.Enabled", "1");
    rig.Later(100'000'000);
    EXPECT_EQ(frame(before + 4), Direction(second, width, height, 0));
    EXPECT_EQ(frame(before + 7), Direction(second, width, height, 3));
}

TEST(Replay, LineFramesComeBackRowForRow) {
    TestFolder folder;
    const int32_t width = 128, lines = 25;
    const auto first =
        Record(folder / "lines" / "zeb-channel1-0001-stack.png", width, 4 * lines, 5, "Linescan");
    const auto second =
        Record(folder / "lines" / "zeb-channel1-0002-stack.png", width, 4 * lines, 6, "Linescan");
    Json station = zeb::test::LineStation();
    station["cameras"][0]["features"] = {{"DeviceModelName", "LSC-2048M"},
                                         {"DeviceSerialNumber", "S-Line A"}};
    station["cameras"][0]["scene"] = {{"replay", "lines"}};
    StationRig rig = RigIn(folder, station);
    EXPECT_EQ(rig.station->Camera("Line A")->Int("Height"), lines)
        << "object lines, as the plug-in counts them";
    rig.StartLine("Line A", lines);
    rig.FreeRunning(2000);
    for (const auto* expected : {&first, &second, &first}) {
        const Shot shot = rig.LineFrame("Line A", 4 * lines / 2000.0 + 0.01);
        ASSERT_EQ(shot.frames.size(), 1u);
        EXPECT_EQ(shot.frames[0], *expected);
    }
}

TEST(Replay, SetsThatDoNotFitAreRefusedWhenTheFileIsRead) {
    TestFolder folder;
    Record(folder / "good" / "s-1-stack.png", 40, 120, 1);
    Record(folder / "mixed" / "s-1-stack.png", 40, 120, 1);
    Record(folder / "mixed" / "s-2-stack.png", 48, 120, 2);
    Record(folder / "line" / "s-1-stack.png", 40, 120, 1, "Linescan");
    Record(folder / "odd" / "s-1-stack.png", 40, 121, 1);
    TestPng::Write(folder / "deep" / "s-1-stack.png",
                   TestPng::Grey(40, 120, 16, std::vector<uint16_t>(4800, 1)));
    TestPng::Write(folder / "text" / "s-1-stack.png", "not an image");
    std::filesystem::create_directories(folder / "none");
    TestPng::Write(folder / "none" / "s-1-average.png", TestPng::Grey8(4, 4, Noise(16, 1)));
    const std::string at = "station file " + folder.StationFile() + " at /cameras/0/scene/replay: ";
    const auto file = [&](const std::string& name) {
        return (folder.Path() / std::filesystem::path(name).make_preferred()).string();
    };
    const std::pair<std::string, std::string> cases[] = {
        {"missing", "replay folder " + file("missing") + ": is no folder"},
        {"none", "replay folder " + file("none") + ": holds no image sets (no \"-stack.png\" files)"},
        {"mixed", "recorded image set " + file("mixed/s-2-stack.png") +
                      ": is 48 x 120 pixels, the folder's first set " + file("mixed/s-1-stack.png") +
                      " 40 x 120: a camera plays back sets of one size"},
        {"line", "recorded image set " + file("line/s-1-stack.png") +
                     ": was recorded by a camera of scan type \"Linescan\"; this camera's is \"Areascan\""},
        {"odd", "recorded image set " + file("odd/s-1-stack.png") +
                    ": is 40 x 121 pixels: an area-scan set holds four directions one below the other"},
        {"deep", "recorded image set " + file("deep/s-1-stack.png") +
                     ": is 16-bit grey; a recorded image set is 8-bit grey, as zeb writes it"},
        {"text", "recorded image set " + file("text/s-1-stack.png") + ": is not a PNG file"}};
    for (const auto& [folderName, reason] : cases)
        EXPECT_EQ(LoadError(ReplayStation(folderName).dump(), folder.StationFile()), at + reason)
            << folderName;
    EXPECT_EQ(LoadError(ReplayStation("good").dump(), folder.StationFile()), "");
    // A size the file gives must be the recording's.
    Json sized = ReplayStation("good");
    sized["cameras"][0]["features"]["Width"] = "32";
    EXPECT_EQ(LoadError(sized.dump(), folder.StationFile()),
              at + file("good/s-1-stack.png") +
                  " holds images of one direction of 40 x 30 pixels; the camera's image "
                  "is 32 x 30");
}

TEST(Replay, ACameraSetToAnotherSizeRefusesToStartAndAnUnreadableSetFailsItsFrame) {
    TestFolder folder;
    Record(folder / "rec" / "s-1-stack.png", 40, 120, 1);
    Record(folder / "rec" / "s-2-stack.png", 40, 120, 2);
    StationRig rig = RigIn(folder, ReplayStation("rec"));
    ASSERT_TRUE(rig.station->OpenCamera("Cam A", "ImageSource").Ok());
    rig.SetCamera("Cam A", "Width", "32");
    const Outcome refused = rig.station->StartCamera("Cam A");
    EXPECT_EQ(refused.error,
              "Camera Cam A cannot play back its recording: " + (folder / "rec" / "s-1-stack.png").string() +
                  " holds images of one direction of 40 x 30 pixels; the camera's image is 32 x 30.");
    rig.SetCamera("Cam A", "Width", "40");
    ASSERT_TRUE(rig.station->CloseCamera("Cam A").Ok());
    // The second set is damaged after the station file was read: its frames fail as a transfer does.
    TestPng::Write(folder / "rec" / "s-2-stack.png", "no longer an image");
    rig.StartArea("Cam A");
    EXPECT_EQ(rig.ImageSet("Cam A").frames.size(), 4u);
    int64_t before = 0;
    ASSERT_TRUE(rig.station->FrameIndex("Cam A", before).Ok());
    rig.Set("Sequencer.Enabled", "0");
    rig.Set("Sequencer.Enabled", "1");
    rig.Later(100'000'000);
    Frame* frame = nullptr;
    EXPECT_EQ(rig.station->GetFrame("Cam A", before + 1, frame).error,
              "bufferResult failed. Camera Cam A could not play back its recording: " +
                  (folder / "rec" / "s-2-stack.png").string() + ": is not a PNG file");
}

TEST(Replay, StationFileWriterKeepsTheFolderAndTheSizes) {
    TestFolder folder;
    Record(folder / "rec" / "s-1-stack.png", 40, 120, 1);
    const auto loaded = Station::FromJson(ReplayStation("rec").dump(), folder.StationFile());
    const std::string text = StationFileText(*loaded);
    const Json camera = Json::parse(text)["cameras"][0];
    EXPECT_EQ(camera["scene"], Json({{"replay", "rec"}}));
    EXPECT_EQ(camera["features"]["Width"], "40");
    EXPECT_EQ(camera["features"]["Height"], "30");
    EXPECT_EQ(StationFileText(*Station::FromJson(text, folder.StationFile())), text);
}

} // namespace zeb::station::test
