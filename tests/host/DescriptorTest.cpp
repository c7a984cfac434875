#include "HostChannel.h"
#include "Plugin.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <cstring>

using zeb::host::HostChannel;
using zeb::host::Plugin;
using zeb::test::TestEnvironment;

TEST(Descriptor, DefaultStationOffersTwoChannels) {
    TestEnvironment environment;
    Plugin plugin;
    HostChannel first, second, third;
    ASSERT_TRUE(first.Open(plugin.GetVideoChannel(), 0)) << first.Error();
    ASSERT_TRUE(second.Open(plugin.GetVideoChannel(), 1)) << second.Error();
    EXPECT_FALSE(third.Open(plugin.GetVideoChannel(), 2));
    EXPECT_EQ(first.Name(), "BRELAN: Morvane (#0)");
    EXPECT_EQ(second.Name(), "BRELAN: Morvane (#1)");
    EXPECT_EQ(first.Read("DeviceScanType"), "Areascan");
    EXPECT_EQ(second.Read("DeviceScanType"), "Linescan");
}
