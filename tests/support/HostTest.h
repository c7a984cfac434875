// Fixture of the host-level tests: a private environment, a station file and the plug-in loaded
// as a host loads it.
#pragma once

#include "HostChannel.h"
#include "Plugin.h"
#include "Stations.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <memory>

namespace zeb::test {

// What the host reads when a device stops answering.
inline constexpr const char* CameraMessage =
    "Accessing camera failed. Check that the camera is compatible, powered on and properly connected.";
inline constexpr const char* ControllerMessage =
    "Accessing controller failed. Check that the controller is powered on and properly connected.";

class HostTest : public ::testing::Test {
protected:
    // Writes the station, turns logging on (Dump level) and loads the plug-in.
    void Load(const Json& station, bool logging = true) {
        if (logging)
            environment.EnableLogging();
        environment.UseStation(station.dump(2));
        plugin = std::make_unique<host::Plugin>();
    }
    void LoadDefaultStation() {
        environment.EnableLogging();
        plugin = std::make_unique<host::Plugin>();
    }
    host::HostChannel Channel(int32_t index = 0) {
        host::HostChannel channel;
        EXPECT_TRUE(channel.Open(plugin->GetVideoChannel(), index)) << channel.Error();
        return channel;
    }
    // Reads a feature; fails the test when the read fails.
    static std::string Read(host::HostChannel& channel, const std::string& feature) {
        const auto value = channel.Read(feature);
        EXPECT_TRUE(value.has_value()) << feature << ": " << channel.Error();
        return value.value_or("<failed>");
    }
    // The channel's error text after a call that had to fail; "<succeeded>" when it did not.
    template <typename Result> static std::string Refused(const Result& result, host::HostChannel& channel) {
        return result ? "<succeeded>" : channel.Error();
    }
    // Trace lines of one device, as "operation\tname\tvalue".
    std::vector<std::string> Trace(const std::string& device) const {
        std::vector<std::string> lines;
        for (const std::string& line : environment.TraceLines())
            if (line.starts_with(device + "\t"))
                lines.push_back(line.substr(device.size() + 1));
        return lines;
    }
    void ClearTrace() const { TestEnvironment::WriteFile(environment.TraceFile(), ""); }

    TestEnvironment environment;
    std::unique_ptr<host::Plugin> plugin;
};

} // namespace zeb::test
