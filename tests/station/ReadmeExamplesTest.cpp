// The station-file examples of the README, as a person pastes them: the first runs fault-free, the
// second injects the faults it describes.
#include "StationRig.h"
#include "TestEnvironment.h"

namespace zeb::station::test {

namespace {

// The JSON blocks of the README's station-file section, in order.
std::vector<std::string> StationFileExamples() {
    const std::string readme = zeb::test::TestEnvironment::ReadSourceFile(ZEB_README);
    const size_t section = readme.find("### Station file");
    const size_t next = readme.find("\n### ", section == std::string::npos ? 0 : section + 1);
    std::vector<std::string> examples;
    if (section == std::string::npos)
        return examples;
    const std::string fence = "```json\n";
    for (size_t at = readme.find(fence, section); at != std::string::npos && at < next;
         at = readme.find(fence, at)) {
        const size_t end = readme.find("```", at + fence.size());
        if (end == std::string::npos)
            break;
        examples.push_back(readme.substr(at + fence.size(), end - at - fence.size()));
        at = end + 3;
    }
    return examples;
}

constexpr const char* Camera = "GigE 00:11:1c:00:00:01";

} // namespace

TEST(ReadmeStationFile, FirstExampleRunsFaultFree) {
    const std::vector<std::string> examples = StationFileExamples();
    ASSERT_EQ(examples.size(), 2u) << "the README's station file section names " << ZEB_README;
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

TEST(ReadmeStationFile, SecondExampleInjectsItsFaults) {
    const std::vector<std::string> examples = StationFileExamples();
    ASSERT_EQ(examples.size(), 2u);
    auto station = Station::FromJson(examples[1], "faults.json");
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
