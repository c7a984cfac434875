// Continuous acquisition of a thousand image sets per channel: every set arrives, and the process
// does not grow once it has warmed up. Leaks are LeakSanitizer's to find in the sanitizer run.
#include "HostTest.h"

#include "ProcessResources.h"

#include <cstdio>

namespace zeb::test {

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// A sanitizer keeps freed memory in quarantine: resident memory says nothing about leaks there
// (LeakSanitizer checks those at exit).
constexpr bool MemoryIsMeaningful = false;
#else
constexpr bool MemoryIsMeaningful = true;
#endif
} // namespace

class Soak : public HostTest {
protected:
    void Run(host::HostChannel& channel, const char* name, int sets) {
        ASSERT_TRUE(channel.Write("AcquisitionMode", "Continuous"));
        ASSERT_TRUE(channel.Start()) << channel.Error();
        int64_t warm = 0;
        for (int set = 0; set < sets; ++set) {
            if (set == sets / 10)
                warm = ResidentBytes();
            ASSERT_TRUE(channel.Write("SetupMode", set % 2 ? "On" : "Off"));
            ASSERT_TRUE(channel.NextImage()) << name << " set " << set << ": " << channel.Error();
        }
        const int64_t growth = ResidentBytes() - warm;
        std::printf("[ figures  ] %s: %d image sets, resident memory %+lld bytes after warm-up\n", name, sets,
                    static_cast<long long>(growth));
        if (MemoryIsMeaningful) {
            EXPECT_LT(growth, 4 << 20);
        }
        ASSERT_TRUE(channel.Stop());
    }
};

TEST_F(Soak, ThousandImageSetsOnBothScanTypes) {
    environment.WriteSettings("[Log]\nLogEnabled=False\n");
    Load(AreaAndLineStation(), false);
    host::HostChannel area = Channel(0), line = Channel(1);
    ASSERT_TRUE(area.Write("DeviceImageSource", "Cam A"));
    ASSERT_TRUE(line.Write("DeviceImageSource", "Line A"));
    ASSERT_TRUE(line.Write("AcquisitionLineRate", "80000"));
    Run(area, "area scan", 1000);
    Run(line, "line scan", 1000);
}

} // namespace zeb::test
