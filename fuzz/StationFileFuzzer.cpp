// Fuzzes the station file: any bytes must either load or be refused with an error naming the file;
// a station that loads must then run a short session without a crash or a hang: controllers
// connected and programmed as the plug-in programs them, cameras opened, started and triggered,
// frames rendered and handed out, time advanced.
//
// The input is the station file, then optionally a zero byte and the bytes that every file it names
// holds (height and albedo maps, recorded image sets): the files come from memory, never the disk,
// and a folder holds two recorded sets.
#include "Station.h"
#include "StationFiles.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using zeb::station::Frame;
using zeb::station::Station;

// Sessions stay short: cameras larger than this are loaded and checked but not streamed.
constexpr int64_t MaxSessionPixels = 256 * 256;

void Program(Station& station, int32_t id, bool lineScan) {
    const std::vector<std::pair<const char*, const char*>> registers = {
        {"Sequencer.LightSequence", "02010408"},
        {"Sequencer.Clock.DeadTime", lineScan ? "5" : "10"},
        {"Sequencer.Clock.Source", lineScan ? "FrequencyGenerator" : "Camera0Input0"},
        {"Sequencer.Clock.LevelSensitive", lineScan ? "0" : "1"},
        {"FrequencyGenerator.Period", "20000"},
        {"Sequencer.SequenceRepeatCount", lineScan ? "8" : "1"},
        {"Light.GlobalChannelParameters.PulseWidth", "50"},
        {"Sequencer.Enabled", "1"}};
    for (const auto& [name, value] : registers)
        station.SetRegister(id, name, value);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find('\0');
    // Without file bytes, every file is empty and every folder holds no set.
    const auto files = split == std::string::npos
                           ? zeb::station::MemoryFiles("", {})
                           : zeb::station::MemoryFiles(
                                 input.substr(split + 1),
                                 {"zeb-channel0-0002-stack.png", "zeb-channel0-0001-stack.png", "notes.txt"});
    std::unique_ptr<Station> station;
    try {
        station = Station::FromJson(input.substr(0, split), "fuzz.json", files);
    } catch (const std::runtime_error& error) {
        if (!std::string_view(error.what()).starts_with("station file fuzz.json")) {
            std::fprintf(stderr, "refusal without the file's name: %s\n", error.what());
            std::abort();
        }
        return 0;
    }
    station->UseManualClock(true);
    std::vector<std::string> streaming;
    for (const auto* camera : station->Cameras()) {
        const int64_t pixels = static_cast<int64_t>(camera->Int("Width")) * camera->Int("Height");
        if (pixels > MaxSessionPixels || !station->OpenCamera(camera->name, "ImageSource").Ok())
            continue;
        station->SetCameraFeature(camera->name, "LineSelector", "Line1");
        station->SetCameraFeature(camera->name, "LineSource", "TriggerReady");
        if (station->StartCamera(camera->name).Ok())
            streaming.push_back(camera->name);
    }
    for (const auto& [id, serial] : station->Peers()) {
        for (int attempt = 0; attempt < 3 && !station->Connect(id).Ok(); ++attempt) {
        }
        std::string scanType;
        station->GetRegister(id, "Info.ScanType", scanType);
        Program(*station, id, scanType == "Linescan");
    }
    for (int step = 1; step <= 5; ++step) {
        station->SetManualTime(step * 10'000'000);
        for (const std::string& name : streaming) {
            int64_t newest = 0;
            if (!station->FrameIndex(name, newest).Ok())
                continue;
            for (int64_t index = 1; index <= newest; ++index) {
                Frame* frame = nullptr;
                if (station->GetFrame(name, index, frame).Ok() &&
                    frame->pixels.size() !=
                        static_cast<size_t>(frame->width) * static_cast<size_t>(frame->height))
                    std::abort();
                station->ReleaseFrame(name, index);
            }
        }
    }
    return 0;
}
