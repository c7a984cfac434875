// A host's whole life: a vision application loads the plug-in when a project opens and unloads it
// when the user switches project or driver, many times a day. Each cycle here loads it, detects
// the camera of each channel, takes one image set on each and unloads it again; the process must
// get back everything the plug-in, the stand-ins and the station took.
#include "HostTest.h"

#include "ProcessResources.h"

#include <algorithm>
#include <cstdio>

namespace zeb::test {

namespace {

constexpr int Cycles = 30;
constexpr int WarmUpCycles = 3; // the C library and the test's own first allocations settle
constexpr int64_t AllowedGrowthPerCycle = 64 * 1024;
#if defined(_WIN32)
// The DLL's copy of the mingw thread library keeps a record of each host thread that called into
// it (760 bytes, a handle of the thread and an event) and frees it only when that thread ends while
// the DLL is loaded: an unload leaves the record of the loading thread behind.
constexpr int64_t ThreadRecordHandlesPerCycle = 2;
#else
constexpr int64_t ThreadRecordHandlesPerCycle = 0;
#endif

struct Resources {
    int64_t heap = HeapBytesInUse();
    int64_t handles = OpenHandles();
    int64_t threads = Threads();
};

} // namespace

class Reload : public HostTest {
protected:
    // Loads the plug-in, uses both channels as a host does and unloads it.
    void Cycle(int cycle) {
        plugin = std::make_unique<host::Plugin>();
        for (int index = 0; index < 2; ++index) {
            SCOPED_TRACE("cycle " + std::to_string(cycle) + ", channel " + std::to_string(index));
            host::HostChannel channel = Channel(index);
            ASSERT_TRUE(channel.Execute("DeviceImageSourceDetect")) << channel.Error();
            ASSERT_NE(Read(channel, "DeviceImageSource"), "None");
            ASSERT_TRUE(channel.Start()) << channel.Error();
            ASSERT_TRUE(channel.NextImage()) << channel.Error();
            ASSERT_TRUE(channel.Stop()) << channel.Error();
        }
        plugin->Unload();
        ASSERT_FALSE(ModuleMapped(plugin->Path()))
            << "the plug-in stays in the process after cycle " << cycle;
        plugin.reset();
    }
};

TEST_F(Reload, ThirtyLoadsAndUnloadsLeaveNothingBehind) {
    Json station = AreaAndLineStation();
    for (Json& camera : station["cameras"])
        camera.erase("sensor"); // the sensor's noise, as by default: its shared plane is made too
    environment.UseStation(station.dump());
    environment.EnableLogging("Notify");

    Resources warm;
    for (int cycle = 1; cycle <= Cycles; ++cycle) {
        ASSERT_NO_FATAL_FAILURE(Cycle(cycle));
        if (cycle == WarmUpCycles)
            warm = Resources();
    }
    const Resources last;
    const int64_t growthPerCycle = (last.heap - warm.heap) / (Cycles - WarmUpCycles);
    std::printf(
        "[ figures  ] %d cycles: heap %lld bytes after cycle %d, %lld after the last (%+lld per cycle); "
        "handles %lld -> %lld, threads %lld -> %lld\n",
        Cycles, static_cast<long long>(warm.heap), WarmUpCycles, static_cast<long long>(last.heap),
        static_cast<long long>(growthPerCycle), static_cast<long long>(warm.handles),
        static_cast<long long>(last.handles), static_cast<long long>(warm.threads),
        static_cast<long long>(last.threads));
    EXPECT_LE(growthPerCycle, AllowedGrowthPerCycle);
    EXPECT_EQ(last.handles - warm.handles, ThreadRecordHandlesPerCycle * (Cycles - WarmUpCycles))
        << "files or handles left open";
    EXPECT_EQ(last.threads, warm.threads) << "threads left running";

    // Every load started and every unload said goodbye in the log.
    const auto messages = environment.LogMessages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "Tamo.Morvane.Zeb initialization done."), Cycles);
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "Tamo.Morvane.Zeb unloading."), Cycles);
}

} // namespace zeb::test
