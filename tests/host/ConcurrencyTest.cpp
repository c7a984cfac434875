// Many host threads at once: one per channel plus extra threads sharing channels, mixing every kind
// of call for a bounded time. Run under ThreadSanitizer by the test command.
#include "ChannelTest.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

namespace zeb::test {

namespace {
// Area scan on channels 0 and 2, line scan on 1 and 3.
Json FourChannels() {
    Json station = WiredChannels(0);
    for (int id = 0; id < 4; ++id)
        AddChannel(station, id, id % 2 == 1);
    return station;
}
} // namespace

class Concurrency : public ChannelTest {};

TEST_F(Concurrency, ManyThreadsStartThePlugInOnce) {
    Load(FourChannels());
    std::atomic<bool> go{false};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 16; ++t)
        threads.emplace_back([&, t] {
            while (!go)
                std::this_thread::yield();
            host::HostChannel channel;
            if (!channel.Open(plugin->GetVideoChannel(), t % 4))
                ++failures;
        });
    go = true;
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures, 0);
    const Strings messages = environment.LogMessages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "Controller discovery."), 1);
    EXPECT_EQ(LoggedStartingWith("Controller found.").size(), 4u);
}

TEST_F(Concurrency, MixedCallsOnSharedChannelsHoldUp) {
    environment.WriteSettings("[Log]\nLogEnabled=False\n");
    Load(FourChannels(), false);
    const std::chrono::milliseconds duration(1500);
    std::atomic<int64_t> calls{0};
    std::atomic<int> badResults{0};
    auto worker = [&](int index, unsigned seed) {
        host::HostChannel channel;
        if (!channel.Open(plugin->GetVideoChannel(), index)) {
            ++badResults;
            return;
        }
        const std::string camera = CameraOf(index, index % 2 == 1);
        std::mt19937 random(seed);
        const auto end = std::chrono::steady_clock::now() + duration;
        const auto& d = channel.Descriptor();
        std::vector<char> image(128 * 4 * 64);
        while (std::chrono::steady_clock::now() < end) {
            char error[256], value[256];
            qrZEB_Long status = 0, result = 0;
            switch (random() % 10) {
            case 0:
                result = d.ReadValue(error, d.handle, "ExposureTime", value);
                break;
            case 1:
                result = d.WriteValue(error, d.handle, "ExposureTime", random() % 2 ? "60" : "70");
                break;
            case 2:
                result = d.WriteValue(error, d.handle, "DeviceImageSource",
                                      random() % 4 ? camera.c_str() : "None");
                break;
            case 3:
                result = d.StartAcquisition(error, d.handle);
                break;
            case 4:
                result = d.WaitForIntegration(error, d.handle, &status);
                break;
            case 5:
                result = d.GetImage(error, d.handle, image.data(), &status);
                break;
            case 6:
                result = d.StopAcquisition(error, d.handle);
                break;
            case 7:
                result = random() % 8 ? d.ReadValue(error, d.handle, "DialogResult", value)
                                      : d.ReleaseVideoChannel(error, d.handle);
                break;
            case 8:
                result = d.GetFeatureName(error, d.handle, static_cast<qrZEB_Long>(random() % 45), value);
                break;
            default:
                result = d.WriteValue(error, d.handle, "Height", "16");
                break;
            }
            if (result != 0 && result != 1)
                ++badResults;
            ++calls;
        }
    };
    std::vector<std::thread> threads;
    for (int index = 0; index < 4; ++index)
        threads.emplace_back(worker, index, 100u + index);
    for (int extra = 0; extra < 4; ++extra)
        threads.emplace_back(worker, extra % 2, 200u + extra); // sharing channels 0 and 1
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(badResults, 0);
    std::printf("[ figures  ] %zu threads on 4 channels: %lld calls in %lld ms, %.0f calls per second\n",
                threads.size(), static_cast<long long>(calls.load()),
                static_cast<long long>(duration.count()),
                calls.load() * 1000.0 / static_cast<double>(duration.count()));
    // Every channel still acquires afterwards.
    for (int index = 0; index < 4; ++index) {
        host::HostChannel channel = Channel(index);
        // "None" first: a release leaves the feature naming a camera that is no longer open.
        ASSERT_TRUE(Write(channel, {{"DeviceImageSource", "None"},
                                    {"DeviceImageSource", CameraOf(index, index % 2 == 1)}}));
        EXPECT_TRUE(Acquires(channel)) << index;
    }
}

} // namespace zeb::test
