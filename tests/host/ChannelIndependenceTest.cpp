// Channels are independent: a call that one channel spends waiting for its device holds up no call
// on another channel. Run under ThreadSanitizer by the test command (the suite name says
// "Concurrency").
#include "HostTest.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace zeb::test {

class ConcurrencyOfChannels : public HostTest {};

TEST_F(ConcurrencyOfChannels, ALongCallOnOneChannelHoldsUpNoOtherChannel) {
    // Channel 1's controller never answers: each call on it spends ten connection attempts with
    // 100 ms pauses between them before it fails.
    Json station = AreaStation();
    station["controllers"].push_back(AreaController(1));
    station["controllers"][1]["connectFailures"] = 1000000;
    Load(station);
    host::HostChannel busy = Channel(1);
    host::HostChannel other = Channel(0);

    std::atomic<bool> stop{false};
    std::atomic<int> busyCallsDone{0};
    std::string busyError;
    std::thread busyHost([&] {
        while (!stop) {
            busy.Read("Width");
            ++busyCallsDone;
        }
        busyError = busy.Error();
    });

    // Wait until the busy channel is inside its call: its controller has refused a connection.
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool inside = false;
    while (!inside && std::chrono::steady_clock::now() < guard) {
        for (const std::string& line : Trace("controller:1"))
            inside = inside || line == "connect\tfailed";
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    // Meanwhile the other channel goes through a host's usual round of calls.
    const int busyBefore = busyCallsDone;
    int calls = 0;
    auto call = [&](bool ok) {
        ++calls;
        EXPECT_TRUE(ok) << other.Error();
    };
    call(other.Write("DeviceImageSource", "Cam A"));
    call(other.Write("ExposureTime", "60"));
    call(other.Write("SetupMode", "On"));
    for (int image = 0; image < 4; ++image) {
        call(other.Start());
        call(other.NextImage().has_value());
        call(other.Stop());
    }
    for (const char* feature : {"Width", "Height", "ExposureTime", "DialogStatus", "LightingOrientation"})
        call(other.Read(feature).has_value());
    call(other.Write("DialogSelector", "Brightness detection"));
    call(other.Execute("DialogStart"));
    call(other.Execute("DialogStop"));
    call(other.Release());
    const int busyDuring = busyCallsDone - busyBefore;

    stop = true;
    busyHost.join();
    ASSERT_TRUE(inside) << "the busy channel never tried to connect";
    // Had each call waited for the busy channel's call (about a second each), that channel would have
    // finished at least as many calls as the other one made. Free of it, the other channel's round
    // takes a small part of that: half leaves room for a machine many times slower than this one.
    EXPECT_LT(busyDuring, calls / 2) << calls << " calls on the other channel while the busy one finished "
                                     << busyDuring;
    EXPECT_EQ(busyError, ControllerMessage);
}

} // namespace zeb::test
