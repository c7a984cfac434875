// The assistants under a host that keeps the acquisition running: the host receives every image
// set, the orientation verdict settles once the light is adjusted and never changes again, and an
// assistant started after the orientation judges the first image set it is handed.
#include "HostTest.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>
#include <tuple>

namespace zeb::test {

namespace {

const char* const Orientations[] = {"0 deg", "90 deg", "180 deg", "270 deg"};
constexpr int Channels = 16;
constexpr int ImageSets = 24;
constexpr int SettlesWithin = 16;

// Channel 4 m + s: a dome mounted at orientation m, "LightingOrientation" set to s, a white sheet.
Json SixteenDomes() {
    Json station = {{"controllers", Json::array()}, {"cameras", Json::array()}, {"cables", Json::array()}};
    for (int id = 0; id < Channels; ++id) {
        const std::string name = "Cam " + std::to_string(id);
        Json controller = AreaController(id);
        controller["domeRotation"] = 90 * (id / 4);
        Json camera = AreaCamera(name);
        SizeCamera(camera, 160, 120);
        camera["scene"] = {{"object", "sheet"}};
        // About 40 frames per second: the overtrigger watchdog then allows some 200 ms for a
        // missing frame, far more than a busy machine keeps a host thread waiting.
        camera["readoutNsPerRow"] = 200000;
        station["controllers"].push_back(controller);
        station["cameras"].push_back(camera);
        for (const Json& cable : AreaCables(id, name))
            station["cables"].push_back(cable);
    }
    return station;
}

std::vector<std::string> Fields(const std::string& text) {
    std::vector<std::string> fields;
    std::istringstream in(text);
    for (std::string field; std::getline(in, field, ';');)
        fields.push_back(field);
    return fields;
}

// What the host saw of one channel: the result and the detected orientation after each image set.
struct ChannelRun {
    std::vector<std::string> verdicts;
    int delivered = 0;
    std::string failure;
};

// A host that starts the assistant and continuous acquisition once and then fetches image sets,
// reading the verdict after each; `pause` is its time between two calls.
class ContinuousHost {
public:
    ContinuousHost(host::HostChannel& channel, std::chrono::milliseconds pause)
        : _channel(channel), _pause(pause) {}

    ChannelRun Acquire(const std::string& camera, const std::string& sequence,
                       const std::string& orientation) {
        ChannelRun run;
        const std::pair<const char*, std::string> settings[] = {
            {"DeviceImageSource", camera},        {"LightingSequenceType", sequence},
            {"LightingOrientation", orientation}, {"SetupMode", "On"},
            {"AcquisitionMode", "Continuous"},    {"DialogSelector", "Orientation detection"}};
        for (const auto& [feature, value] : settings)
            if (!_channel.Write(feature, value))
                return Failed(run, std::string("write ") + feature);
        if (!_channel.Execute("DialogStart") || !_channel.Start())
            return Failed(run, "start");
        std::vector<char> buffer;
        for (int set = 0; set < ImageSets; ++set) {
            qrZEB_ImageAttributes attributes{};
            attributes.size = sizeof attributes;
            if (!WaitForImage(attributes))
                return Failed(run, "no image set " + std::to_string(set));
            buffer.assign(static_cast<size_t>(attributes.width) * static_cast<size_t>(attributes.height), 0);
            qrZEB_Long status = -1;
            if (!Call([&](char* error) {
                    return Descriptor().GetImage(error, Descriptor().handle, buffer.data(), &status);
                }) ||
                status != 0)
                return Failed(run, "GetImage of set " + std::to_string(set));
            ++run.delivered;
            Pause();
            const auto result = _channel.Read("DialogResult");
            Pause();
            const auto arguments = _channel.Read("DialogResultMessageArguments");
            if (!result || !arguments)
                return Failed(run, "reading the result");
            const auto fields = Fields(*arguments);
            run.verdicts.push_back(*result + " " + (fields.size() > 1 ? fields[1] : std::string("-")));
        }
        if (!_channel.Stop() || !_channel.Execute("DialogStop"))
            return Failed(run, "stop");
        return run;
    }

private:
    const qrZEB_ChannelDescriptor& Descriptor() const { return _channel.Descriptor(); }
    void Pause() const {
        if (_pause.count() > 0)
            std::this_thread::sleep_for(_pause);
    }
    template <typename Operation> bool Call(Operation operation) {
        Pause();
        char error[256] = {};
        if (operation(error) == 0)
            return true;
        _error = error;
        return false;
    }
    bool WaitForImage(qrZEB_ImageAttributes& attributes) {
        const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        qrZEB_Long status = -1;
        while (status != 0 && std::chrono::steady_clock::now() < guard)
            if (!Call([&](char* error) {
                    return Descriptor().GetImageAttributes(error, Descriptor().handle, &attributes, &status);
                }))
                return false;
        return status == 0;
    }
    ChannelRun& Failed(ChannelRun& run, const std::string& what) const {
        run.failure = what + ": " + (_error.empty() ? _channel.Error() : _error);
        return run;
    }

    host::HostChannel& _channel;
    std::chrono::milliseconds _pause;
    std::string _error;
};

} // namespace

class ContinuousOrientation : public HostTest,
                              public ::testing::WithParamInterface<std::tuple<const char*, int>> {};

TEST_P(ContinuousOrientation, EveryMountingAndSettingSettlesAndStays) {
    // Plain copies, not structured bindings: the lambdas below capture them.
    const auto sequence = std::get<0>(GetParam());
    const auto pauseMs = std::get<1>(GetParam());
    environment.WriteSettings("[Log]\nLogEnabled=False\n");
    Load(SixteenDomes(), false);
    std::vector<host::HostChannel> channels;
    for (int id = 0; id < Channels; ++id)
        channels.push_back(Channel(id));
    std::vector<ChannelRun> runs(Channels);
    const auto started = std::chrono::steady_clock::now();
    std::vector<std::thread> hosts;
    for (int id = 0; id < Channels; ++id)
        hosts.emplace_back([&, id] {
            ContinuousHost host(channels[static_cast<size_t>(id)], std::chrono::milliseconds(pauseMs));
            runs[static_cast<size_t>(id)] =
                host.Acquire("Cam " + std::to_string(id), sequence, Orientations[id % 4]);
        });
    for (auto& thread : hosts)
        thread.join();
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);

    size_t latestSettling = 0;
    std::string latestVerdicts;
    for (int id = 0; id < Channels; ++id) {
        const int mounted = id / 4, set = id % 4;
        SCOPED_TRACE(std::string("mounted ") + Orientations[mounted] + ", set " + Orientations[set]);
        const ChannelRun& run = runs[static_cast<size_t>(id)];
        ASSERT_TRUE(run.failure.empty()) << run.failure;
        EXPECT_EQ(run.delivered, ImageSets) << "the host receives every image set";
        const std::string expected =
            std::string(set == mounted ? "Success" : "Warning") + " " + Orientations[mounted];
        // The verdict from which on nothing changes any more.
        size_t settled = run.verdicts.size();
        while (settled > 0 && run.verdicts[settled - 1] == expected)
            --settled;
        std::string seen;
        for (const std::string& verdict : run.verdicts)
            seen += verdict + "; ";
        if (settled + 1 > latestSettling) {
            latestSettling = settled + 1;
            latestVerdicts = seen;
        }
        EXPECT_LT(settled, static_cast<size_t>(SettlesWithin))
            << "expected \"" << expected << "\" from image set " << SettlesWithin
            << " on; the verdicts: " << seen;
    }
    std::printf(
        "[ figures  ] %d channels, %d image sets each, %d ms between calls: %lld ms; the last verdict "
        "settled with image set %zu: %s\n",
        Channels, ImageSets, pauseMs, static_cast<long long>(elapsed.count()), latestSettling,
        latestVerdicts.c_str());
}

INSTANTIATE_TEST_SUITE_P(Assistant, ContinuousOrientation,
                         ::testing::Combine(::testing::Values("Diagonal", "Axial"), ::testing::Values(0, 50)),
                         [](const auto& parameter) {
                             return std::string(std::get<0>(parameter.param)) +
                                    (std::get<1>(parameter.param) == 0 ? "FastHost" : "HostWaiting50ms");
                         });

// The orientation assistant has run under continuous acquisition and adjusted the light after the
// next image set had started; that set is ready when the host stops the assistant and starts
// another one (or the orientation afresh), which is handed that set first.
class AssistantHandOver : public HostTest, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        Json station = AreaStation();
        station["cameras"][0]["scene"] = {{"object", "sheet"}};
        Load(station);
        channel = Channel();
        for (const auto& [feature, value] : {std::pair{"DeviceImageSource", "Cam A"},
                                             {"SetupMode", "On"},
                                             {"AcquisitionMode", "Continuous"},
                                             {"DialogSelector", "Orientation detection"}})
            ASSERT_TRUE(channel.Write(feature, value)) << feature << ": " << channel.Error();
        ASSERT_TRUE(channel.Execute("DialogStart"));
        ASSERT_TRUE(channel.Start()) << channel.Error();
        // Image set 1 is judged and the light adjusted; set 2 had started before: not evaluated;
        // set 3 is judged and the light adjusted again while set 4 is under way.
        for (int set = 1; set <= 3; ++set) {
            ASSERT_EQ(Read(channel, "DialogAcquisitionRequest"), "True");
            ASSERT_TRUE(channel.NextImage()) << channel.Error();
            Read(channel, "DialogResult");
            ASSERT_EQ(SkippedSets(), set >= 2 ? 1 : 0) << "after image set " << set;
        }
        // Set 4 is complete before "DialogStop" restores the controller's factory registers.
        ASSERT_EQ(channel.WaitForImage(10000), host::ImageWait::Ready) << channel.Error();
        ASSERT_TRUE(channel.Execute("DialogStop"));
    }
    // Hands the assistant the waiting image set and returns its result and message.
    std::string JudgeOneImageSet() {
        EXPECT_EQ(Read(channel, "DialogAcquisitionRequest"), "True");
        EXPECT_TRUE(channel.FetchImage()) << channel.Error();
        const std::string result = Read(channel, "DialogResult");
        return result + ": " + Read(channel, "DialogResultMessage");
    }

    // Image sets the orientation assistant did not evaluate, as the log tells.
    long SkippedSets() const {
        const auto messages = environment.LogMessages();
        return std::count(messages.begin(), messages.end(),
                          "Image set started before the last light adjustment, not evaluated.");
    }

    host::HostChannel channel;
};

TEST_P(AssistantHandOver, TheNextAssistantJudgesTheFirstImageSet) {
    const std::string assistant = GetParam();
    ASSERT_TRUE(channel.Write("DialogSelector", assistant)) << channel.Error();
    ASSERT_TRUE(channel.Execute("DialogStart"));
    if (assistant == "Focus detection") {
        ASSERT_EQ(Read(channel, "DialogResult"), "Success") << "the part is in place";
        ASSERT_TRUE(channel.Execute("DialogNext"));
    }
    const std::string verdict = JudgeOneImageSet();
    EXPECT_NE(verdict, "Undefined: ") << "the first image set was not judged";
    EXPECT_EQ(SkippedSets(), 1) << "only the orientation's own run skips a set";
    if (assistant == "Focus detection") {
        EXPECT_THAT(verdict, ::testing::StartsWith("Success: The focus value is ")) << verdict;
    }
    ASSERT_TRUE(channel.Stop()) << channel.Error();
}

INSTANTIATE_TEST_SUITE_P(
    Assistant, AssistantHandOver,
    ::testing::Values("Brightness detection", "Focus detection", "Orientation detection"),
    [](const auto& parameter) {
        return std::string(parameter.param).substr(0, std::string(parameter.param).find(' '));
    });

} // namespace zeb::test
