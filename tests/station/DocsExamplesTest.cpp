// The station-file examples of the manual's station page, as a person pastes them: the area-scan
// one runs fault-free, the line-scan one is the built-in line-scan channel as zeb station prints it
// and acquires, the last injects the faults it describes.
#include "StationFileWriter.h"
#include "StationRig.h"
#include "TestEnvironment.h"

namespace zeb::station::test {

namespace {

const std::string StationPage = std::string(ZEB_DOCS) + "/station.md";

// The JSON blocks of the station page's section on the station file, in order.
std::vector<std::string> StationFileExamples() {
    const std::string page = zeb::test::TestEnvironment::ReadSourceFile(StationPage);
    const size_t section = page.find("\n## The station file\n");
    const size_t next = page.find("\n## ", section == std::string::npos ? 0 : section + 1);
    std::vector<std::string> examples;
    if (section == std::string::npos)
        return examples;
    const std::string fence = "```json\n";
    for (size_t at = page.find(fence, section); at != std::string::npos && at < next;
         at = page.find(fence, at)) {
        const size_t end = page.find("```", at + fence.size());
        if (end == std::string::npos)
            break;
        examples.push_back(page.substr(at + fence.size(), end - at - fence.size()));
        at = end + 3;
    }
    return examples;
}

constexpr const char* Camera = "GigE 00:11:1c:00:00:01";

} // namespace

TEST(DocsStationFile, AreaScanExampleRunsFaultFree) {
    const std::vector<std::string> examples = StationFileExamples();
    ASSERT_EQ(examples.size(), 3u) << "the station file section of " << StationPage;
    StationRig rig(Json::parse(examples[0])); // connects every controller at the first attempt
    rig.controller = 3;
    rig.StartArea(Camera);
    for (int set = 0; set < 3; ++set) {
        const Shot shot = rig.ImageSet(Camera);
        ASSERT_EQ(shot.frames.size(), 4u) << "image set " << set;
        for (const std::vector<uint8_t>& frame : shot.frames) {
            ASSERT_EQ(frame.size(), 1280u * 1024u);
            double sum = 0;
            for (uint8_t pixel : frame)
                sum += pixel;
            EXPECT_GT(sum / static_cast<double>(frame.size()), 20) << "a lit frame, image set " << set;
        }
    }
}

TEST(DocsStationFile, LineScanExampleIsTheBuiltInChannelAndAcquires) {
    const std::vector<std::string> examples = StationFileExamples();
    ASSERT_EQ(examples.size(), 3u);
    auto builtIn = Station::Default();
    EXPECT_EQ(Json::parse(examples[1]), Json::parse(StationFileText(*builtIn, 1)))
        << "the page shows what zeb station --channel 1 prints";
    StationRig rig(Json::parse(examples[1]));
    rig.controller = 1;
    const std::string camera = "Grabber 0 Port A";
    rig.StartLine(camera, 64);
    rig.EncoderClocked(10000); // 10000 steps a revolution, one revolution a second
    const Shot shot = rig.LineFrame(camera, 0.1);
    ASSERT_EQ(shot.width, 2048);
    ASSERT_EQ(shot.height, 4 * 64);
    double sum = 0;
    for (uint8_t pixel : shot.frames[0])
        sum += pixel;
    EXPECT_GT(sum / static_cast<double>(shot.frames[0].size()), 20) << "a lit frame";
}

TEST(DocsStationFile, FaultExampleInjectsItsFaults) {
    const std::vector<std::string> examples = StationFileExamples();
    ASSERT_EQ(examples.size(), 3u);
    auto station = Station::FromJson(examples[2], "faults.json");
    station->UseManualClock(true);
    EXPECT_FALSE(station->Connect(3).Ok());
    EXPECT_FALSE(station->Connect(3).Ok());
    EXPECT_TRUE(station->Connect(3).Ok()) << "the third attempt connects";
    std::string mode;
    ASSERT_TRUE(station->GetRegister(3, "Sequencer.LightMode", mode).Ok());
    ASSERT_TRUE(station->SetRegister(3, "Sequencer.LightMode", mode).Ok());
    station->SetManualTime(station->Now() + 30'000'000);
    EXPECT_TRUE(station->GetRegister(3, "Sequencer.LightMode", mode).Ok())
        << "still answering 30 ms after the write";
    station->SetManualTime(station->Now() + 20'000'000);
    EXPECT_FALSE(station->GetRegister(3, "Sequencer.LightMode", mode).Ok())
        << "offline 40 ms after the write";
}

} // namespace zeb::station::test
