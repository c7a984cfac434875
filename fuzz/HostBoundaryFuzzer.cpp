// Fuzzes the host boundary: arbitrary sequences of entry-point calls with arbitrary feature names,
// values, indices, attribute numbers and descriptor sizes, on a small simulated station. Every call
// must return 0 or 1; anything else, a crash, a hang or a sanitizer report is a finding.
//
// The station's clock runs virtually: before each call it moves on by a time the input chooses (0
// to 2.54 ms in steps of 20 us), so an input does the same whatever the machine's speed, and a slow
// (instrumented) run does not make the station simulate ever more events per call. Over 516 saved
// inputs, steps this short reached as many branches as steps five times longer (frames, overruns
// and timeouts take a few more calls) for a fifth of the simulated line clock. The plug-in's own
// waits stay as they are.
//
// The plug-in is started once and kept for the whole run, as a host keeps it. After each input the
// channels it changed are put back through the host interface (acquisition stopped, the camera
// deselected, every writable feature at the value the plug-in started with), so that an input
// starts from the same settings whatever ran before it, and an input that selects no camera does
// not pay for one an earlier input opened.
#include "FeatureNames.h"
#include "HostStructures.h"
#include "Station.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

extern "C" qrZEB_Long GetVideoChannel(char* errorText, qrZEB_Long index, qrZEB_ChannelDescriptor* descriptor);

namespace {

const auto& Features = zeb::test::FeatureNames;
const char* const Values[] = {"None",
                              "Cam A",
                              "Line A",
                              "On",
                              "Off",
                              "True",
                              "False",
                              "0",
                              "-1",
                              "16",
                              "65001",
                              "1e9",
                              "Continuous",
                              "SingleFrame",
                              "Axial",
                              "90 deg",
                              "Brightness detection",
                              "Orientation detection",
                              "Encoder movement detection",
                              "Focus detection",
                              "Frame trigger input detection",
                              "nan",
                              ""};

class Input {
public:
    Input(const uint8_t* data, size_t size) : _data(data), _size(size) {}
    bool Empty() const { return _at >= _size; }
    uint8_t Byte() { return _at < _size ? _data[_at++] : 0; }
    int32_t Int() {
        int32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value = static_cast<int32_t>(static_cast<uint32_t>(value) << 8 | Byte());
        return value;
    }
    // A name from the table most of the time, else raw bytes (up to 300 of them).
    std::string Text(const char* const* table, size_t count) {
        const uint8_t choice = Byte();
        if (choice < 200)
            return table[choice % count];
        const size_t length = Byte() + (choice & 1 ? 45 : 0);
        std::string text;
        while (text.size() < length && !Empty())
            text += static_cast<char>(Byte());
        return text;
    }

private:
    const uint8_t* _data;
    size_t _size;
    size_t _at = 0;
};

// The station's clock, moved on by the harness alone.
class VirtualClock {
public:
    VirtualClock() {
        auto& station = zeb::station::Station::Instance();
        std::lock_guard lock(station.Mutex());
        station.SetManualTime(station.Now());
        station.UseManualClock(true);
    }
    void Advance(uint8_t steps) {
        auto& station = zeb::station::Station::Instance();
        std::lock_guard lock(station.Mutex());
        station.SetManualTime(station.Now() + int64_t{steps} * 20'000);
    }
};

void Check(qrZEB_Long result, const char* call) {
    if (result != 0 && result != 1) {
        std::fprintf(stderr, "%s returned %d\n", call, result);
        std::abort();
    }
}

// A channel's writable features as the plug-in started them, and their restoration after an input.
class ChannelBaseline {
public:
    explicit ChannelBaseline(const qrZEB_ChannelDescriptor& d) {
        char error[256], value[256];
        for (const char* name : Features) {
            if (d.GetFeatureAttr(error, d.handle, name, WritableAttribute, value) != 0 ||
                std::strcmp(value, "True") != 0 || d.ReadValue(error, d.handle, name, value) != 0)
                continue;
            (std::strcmp(name, "DeviceImageSource") == 0 ? _imageSource : _features)
                .emplace_back(name, value);
        }
    }

    // The camera goes first, so that the features after it are not written through to a camera.
    // A command may have started an assistant: stopping it also clears its result.
    void Restore(const qrZEB_ChannelDescriptor& d, bool commanded) const {
        char error[256], value[256];
        Check(d.StopAcquisition(error, d.handle), "StopAcquisition");
        if (commanded)
            Check(d.ExecuteCommand(error, d.handle, "DialogStop"), "ExecuteCommand");
        for (const auto* list : {&_imageSource, &_features})
            for (const auto& [name, initial] : *list)
                if (d.ReadValue(error, d.handle, name.c_str(), value) != 0 || initial != value)
                    Check(d.WriteValue(error, d.handle, name.c_str(), initial.c_str()), "WriteValue");
    }

private:
    static constexpr qrZEB_Long WritableAttribute = 3;
    std::vector<std::pair<std::string, std::string>> _imageSource;
    std::vector<std::pair<std::string, std::string>> _features;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const auto folder = std::filesystem::temp_directory_path() / "zeb-fuzz";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "station.json") << R"({
  "controllers": [ { "deviceId": 0, "light": "Dome M", "registers": { "Info.ScanType": "Areascan" },
                     "triggerInput": { "periodMs": 5, "pulseMs": 1 } },
                   { "deviceId": 1, "light": "Dome L", "registers": { "Info.ScanType": "Linescan" },
                     "encoder": { "connected": true, "speed": 5 } } ],
  "cameras": [ { "name": "Cam A", "transport": "Pleora", "scanType": "Areascan",
                 "features": { "SensorWidth": "32", "SensorHeight": "16", "Width": "32", "Height": "16" } },
               { "name": "Line A", "transport": "MicroEnable", "scanType": "Linescan",
                 "features": { "SensorWidth": "64", "Width": "64", "Height": "8" } } ],
  "cables": [ { "controller": 0, "port": "Camera0Output0", "camera": "Cam A", "line": "Line0" },
              { "controller": 0, "port": "Camera0Input0", "camera": "Cam A", "line": "Line1" },
              { "controller": 1, "port": "AuxOutput0", "camera": "Line A", "line": "Line0" },
              { "controller": 1, "port": "AuxOutput1", "camera": "Line A", "line": "Line1" } ] })";
    setenv("ZEB_STATION", (folder / "station.json").c_str(), 1);
    setenv("ZEB_DRIVE_C", (folder / "drive_c").c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input input(data, size);
    char error[256], value[256];
    qrZEB_ChannelDescriptor descriptor[2];
    for (int index = 0; index < 2; ++index) {
        std::memset(&descriptor[index], 0, sizeof descriptor[index]);
        descriptor[index].size = sizeof descriptor[index];
        Check(GetVideoChannel(error, index, &descriptor[index]), "GetVideoChannel");
        if (!descriptor[index].ReleaseVideoChannel)
            return 0;
    }
    static VirtualClock clock; // once the plug-in has made the station
    static const ChannelBaseline baselines[2] = {ChannelBaseline(descriptor[0]),
                                                 ChannelBaseline(descriptor[1])};
    bool changed[2] = {false, false}, commanded[2] = {false, false};
    std::vector<char> image;
    for (int call = 0; call < 64 && !input.Empty(); ++call) {
        const uint8_t channelAndTime = input.Byte();
        const qrZEB_ChannelDescriptor& d = descriptor[channelAndTime & 1];
        clock.Advance(channelAndTime >> 1);
        qrZEB_Long status = 0;
        const uint8_t operation = input.Byte() % 16;
        // Writes, commands, starts, common parameters and releases change what the channel holds.
        if (operation == 2 || operation == 3 || operation == 8 || operation == 12 || operation == 13)
            changed[channelAndTime & 1] = true;
        if (operation == 3)
            commanded[channelAndTime & 1] = true;
        switch (operation) {
        case 0: {
            std::vector<uint8_t> raw(800, 0xEE);
            const int32_t hostSize = input.Int() % 900;
            std::memcpy(raw.data(), &hostSize, sizeof hostSize);
            Check(GetVideoChannel(error, input.Int() % 4,
                                  reinterpret_cast<qrZEB_ChannelDescriptor*>(raw.data())),
                  "GetVideoChannel");
            break;
        }
        case 1:
            Check(d.ReadValue(error, d.handle, input.Text(Features, 39).c_str(), value), "ReadValue");
            break;
        case 2: {
            const std::string name = input.Text(Features, 39);
            Check(d.WriteValue(error, d.handle, name.c_str(), input.Text(Values, 23).c_str()), "WriteValue");
            break;
        }
        case 3:
            Check(d.ExecuteCommand(error, d.handle, input.Text(Features, 39).c_str()), "ExecuteCommand");
            break;
        case 4:
            Check(d.GetFeatureName(error, d.handle, input.Int() % 64, value), "GetFeatureName");
            break;
        case 5: {
            qrZEB_Long type = 0;
            Check(d.GetFeatureType(error, d.handle, input.Text(Features, 39).c_str(), &type),
                  "GetFeatureType");
            break;
        }
        case 6: {
            const std::string name = input.Text(Features, 39);
            Check(d.GetValidEnum(error, d.handle, name.c_str(), input.Int() % 16, value), "GetValidEnum");
            break;
        }
        case 7: {
            const std::string name = input.Text(Features, 39);
            Check(d.GetFeatureAttr(error, d.handle, name.c_str(), input.Int(), value), "GetFeatureAttr");
            break;
        }
        case 8:
            Check(d.StartAcquisition(error, d.handle), "StartAcquisition");
            break;
        case 9:
            Check(d.StopAcquisition(error, d.handle), "StopAcquisition");
            break;
        case 10:
            Check(d.WaitForIntegration(error, d.handle, &status), "WaitForIntegration");
            break;
        case 11: {
            qrZEB_ImageAttributes attributes{};
            attributes.size = input.Int();
            Check(d.GetImageAttributes(error, d.handle, &attributes, &status), "GetImageAttributes");
            if (status == 0 && attributes.width > 0 && attributes.height > 0 &&
                int64_t{attributes.width} * attributes.height <= (1 << 22)) {
                image.assign(static_cast<size_t>(attributes.width) * static_cast<size_t>(attributes.height),
                             0);
                Check(d.GetImage(error, d.handle, image.data(), &status), "GetImage");
            }
            break;
        }
        case 12: {
            qrZEB_CommonParams parameters{};
            parameters.exposureSeconds = input.Int() / 1e6;
            parameters.gain = input.Byte() / 10.0;
            parameters.continuous = input.Byte() & 1;
            parameters.triggerMode = input.Byte() & 1;
            parameters.risingEdge = input.Byte() & 1;
            parameters.offsetX = input.Int() % 64;
            parameters.offsetY = input.Int() % 64;
            parameters.width = input.Int() % 128;
            parameters.height = input.Int() % 64;
            Check(d.SetupCommonParams(error, d.handle, &parameters), "SetupCommonParams");
            break;
        }
        case 13:
            Check(d.ReleaseVideoChannel(error, d.handle), "ReleaseVideoChannel");
            break;
        case 14:
            Check(d.ReadValue(error, d.handle, input.Byte() & 1 ? nullptr : "Width", nullptr),
                  "ReadValue(null)");
            break;
        default:
            Check(d.ReadValue(error, d.handle ^ (input.Int() | 1), "Width", value), "ReadValue(bad handle)");
            break;
        }
    }
    for (int index = 0; index < 2; ++index) {
        if (changed[index])
            baselines[index].Restore(descriptor[index], commanded[index]);
        else
            Check(descriptor[index].StopAcquisition(error, descriptor[index].handle), "StopAcquisition");
    }
    return 0;
}
