// What the host-level tests share beyond loading the plug-in: stations of several wired channels,
// feature writes and reads in bulk, trace and log searches, image polling and assistant runs.
#pragma once

#include "HostTest.h"
#include "Lines.h"

#include <chrono>
#include <initializer_list>
#include <thread>
#include <utility>

namespace zeb::test {

// The camera of channel `id` in a station of WiredChannels.
inline std::string CameraOf(int id, bool lineScan = false) {
    return (lineScan ? "Line " : "Cam ") + std::to_string(id);
}

// Adds controller `id` with its own camera (CameraOf(id)) wired to it.
inline void AddChannel(Json& station, int id, bool lineScan = false) {
    const std::string camera = CameraOf(id, lineScan);
    station["controllers"].push_back(lineScan ? LineController(id) : AreaController(id));
    station["cameras"].push_back(lineScan ? LineCamera(camera) : AreaCamera(camera));
    for (const Json& cable : lineScan ? LineCables(id, camera) : AreaCables(id, camera))
        station["cables"].push_back(cable);
}

// A station of `count` channels, each with its own wired camera, so that one plug-in serves several
// variants of a case: the test adjusts station["controllers"][i] and station["cameras"][i].
inline Json WiredChannels(int count, bool lineScan = false) {
    Json station = {{"controllers", Json::array()}, {"cameras", Json::array()}, {"cables", Json::array()}};
    for (int id = 0; id < count; ++id)
        AddChannel(station, id, lineScan);
    return station;
}

// Calls GetImage alone until an image set is there and returns its status (0, or 4096 when none came
// within ten seconds); `image` receives it.
inline qrZEB_Long PollImage(host::HostChannel& channel, std::vector<uint8_t>& image) {
    const qrZEB_ChannelDescriptor& d = channel.Descriptor();
    char error[256];
    qrZEB_Long status = 4096;
    for (int i = 0; i < 10000 && status == 4096; ++i) {
        EXPECT_EQ(d.GetImage(error, d.handle, reinterpret_cast<char*>(image.data()), &status), 0) << error;
        if (status == 4096)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return status;
}

// Polls GetImageAttributes, which leaves the image set in place, until one is there (within ten
// seconds); returns the last status.
inline qrZEB_Long AwaitAttributes(host::HostChannel& channel, qrZEB_ImageAttributes& attributes) {
    const qrZEB_ChannelDescriptor& d = channel.Descriptor();
    char error[256];
    qrZEB_Long status = -1;
    for (int i = 0; i < 10000 && status != 0; ++i) {
        EXPECT_EQ(d.GetImageAttributes(error, d.handle, &attributes, &status), 0) << error;
        if (status != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return status;
}

class ChannelTest : public HostTest {
protected:
    // Starts the plug-in on the station with this settings file and opens channel 0.
    host::HostChannel StartWith(const std::string& settings, const Json& station = AreaStation()) {
        environment.WriteSettings(settings);
        environment.UseStation(station.dump());
        plugin = std::make_unique<host::Plugin>();
        return Channel();
    }
    // Loads the station and selects `camera` on channel `index`.
    host::HostChannel Ready(const Json& station, const std::string& camera = "Cam A", int index = 0) {
        Load(station);
        return Select(index, camera);
    }
    host::HostChannel Select(int index, const std::string& camera) {
        host::HostChannel channel = Channel(index);
        EXPECT_TRUE(channel.Write("DeviceImageSource", camera)) << channel.Error();
        return channel;
    }
    // Writes the features in order; a failure names the write and the channel's text.
    static ::testing::AssertionResult
    Write(host::HostChannel& channel, std::initializer_list<std::pair<std::string, std::string>> values) {
        for (const auto& [feature, value] : values)
            if (!channel.Write(feature, value))
                return ::testing::AssertionFailure() << feature << " = " << value << ": " << channel.Error();
        return ::testing::AssertionSuccess();
    }
    // The features' values, a failed read as "<failed: text>".
    static Strings Values(host::HostChannel& channel, std::initializer_list<std::string> features) {
        Strings values;
        for (const std::string& feature : features)
            values.push_back(channel.Read(feature).value_or("<failed: " + channel.Error() + ">"));
        return values;
    }
    // Starts an acquisition and takes its next image.
    static std::optional<host::Image> Acquire(host::HostChannel& channel) {
        if (!channel.Start())
            return std::nullopt;
        return channel.NextImage();
    }
    static ::testing::AssertionResult Acquires(host::HostChannel& channel) {
        if (Acquire(channel))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << channel.Error();
    }
    // Delivers images while the running assistant asks for them, one image set per start so that each
    // shows the light as the assistant last set it, until its result is no longer "Undefined".
    std::string Evaluate(host::HostChannel& channel, int maxImages = 12) {
        std::string result = "Undefined";
        for (int image = 0; image < maxImages && result == "Undefined"; ++image) {
            EXPECT_EQ(Read(channel, "DialogAcquisitionRequest"), "True");
            EXPECT_TRUE(Acquires(channel));
            result = Read(channel, "DialogResult");
        }
        return result;
    }
    // The log's messages that start with `prefix`.
    Strings LoggedStartingWith(const std::string& prefix) const {
        Strings found;
        for (const std::string& message : environment.LogMessages())
            if (message.starts_with(prefix))
                found.push_back(message);
        return found;
    }
};

} // namespace zeb::test
