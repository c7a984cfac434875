// Looking up the channel behind a host's handle: no lock shared by all channels, so no call waits
// for a start-up in progress, and handles are still checked.
#include "Main.h"
#include "Station.h"
#include "Stations.h"
#include "TestEnvironment.h"
#include "VideoChannel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>

namespace Zeb = Tamo::Morvane::Zeb;

namespace {

std::string Text(const char* buffer) {
    return std::string(buffer, strnlen(buffer, 256));
}

} // namespace

TEST(HandleLookup, ACallDoesNotWaitForAStartUpInProgress) {
    zeb::test::TestEnvironment environment;
    environment.EnableLogging();
    environment.UseStation(zeb::test::AreaStation().dump());
    // A channel of the test's own, in the list before start-up (as the channel-base tests do).
    auto* own = new Zeb::VideoChannel();
    Zeb::Main::Instance().Channels().Add(Tamo::Var(own), Tamo::List::End);
    const auto handle = reinterpret_cast<qrZEB_Handle>(own);

    // Start-up stops in controller discovery while the test holds the station, inside the start-up
    // lock.
    std::unique_lock station(zeb::station::Station::Instance().Mutex());
    std::thread startup([] {
        char error[256] = {};
        qrZEB_ChannelDescriptor descriptor{};
        descriptor.size = sizeof descriptor;
        GetVideoChannel(error, 0, &descriptor);
    });
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!environment.Logged("Controller discovery.") && std::chrono::steady_clock::now() < guard)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const bool inStartUp = environment.Logged("Controller discovery.");

    auto call = std::async(std::launch::async, [handle] {
        char error[256] = {}, value[256] = {};
        const qrZEB_Long result = Zeb::Main::ReadValue(error, handle, "Width", value);
        return std::make_pair(result, Text(error));
    });
    // A generous bound, only so that a call that waits does not hang the test.
    const bool returned = call.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    station.unlock();
    startup.join();
    ASSERT_TRUE(inStartUp);
    ASSERT_TRUE(returned) << "the call waited for the start-up";
    // No handle has been handed out before start-up has finished.
    EXPECT_EQ(call.get(),
              std::make_pair(1, std::string("Tamo::Morvane::Zeb::ReadValue: Invalid channel handle.")));

    // Once start-up has finished, the same channel is found, and so is the one it made after it.
    char error[256] = {}, value[256] = {};
    EXPECT_EQ(Zeb::Main::ReadValue(error, handle, "Width", value), 1);
    EXPECT_EQ(Text(error), "Tamo::Morvane::Zeb::ReadValue: Feature Width does not exist.");
    qrZEB_ChannelDescriptor descriptor{};
    descriptor.size = sizeof descriptor;
    ASSERT_EQ(GetVideoChannel(error, 1, &descriptor), 0);
    EXPECT_EQ(Zeb::Main::ReadValue(error, descriptor.handle, "DeviceScanType", value), 0) << Text(error);
    EXPECT_EQ(Text(value), "Areascan");
    EXPECT_EQ(Zeb::Main::ReadValue(error, descriptor.handle + 8, "DeviceScanType", value), 1);
    EXPECT_EQ(Text(error), "Tamo::Morvane::Zeb::ReadValue: Invalid channel handle.");
}
