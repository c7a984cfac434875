#include "files/ImageSetReader.h"

#include "PngImage.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace zeb::cli {

namespace {

// The largest side a stack may have: a line-scan set of 65536 lines is four times that.
constexpr int32_t LargestSide = 1 << 18;

double LeadingNumber(const std::string& text) {
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

// "2026-12-07T16:26:18.123Z" as a time; the epoch for another text.
std::chrono::system_clock::time_point ParseIsoTime(const std::string& text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ", &year, &month, &day, &hour, &minute,
                    &second, &millisecond) < 6)
        return {};
    using namespace std::chrono;
    const year_month_day date{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                              std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok())
        return {};
    return sys_days(date) + hours(hour) + minutes(minute) + seconds(second) + milliseconds(millisecond);
}

} // namespace

LightingSettings ImageSetFile::Lighting() const {
    LightingSettings s;
    s.lineScan = description.LineScan();
    s.sequence = description.lightingSequence;
    s.orientation = description.lightingOrientation;
    s.exposure = LeadingNumber(description.exposureTime);
    s.gain = LeadingNumber(description.gain);
    s.width = stack.width;
    s.height = description.Averaged() ? stack.height : stack.height / 4;
    s.domeModel = s.lineScan ? "Dome L" : "Dome M";
    return s;
}

ImageSetFile ReadImageSetFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + file.string());
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    station::PngInfo info;
    try {
        info = station::ReadPngInfo(bytes, LargestSide);
    } catch (const std::exception& error) {
        throw std::runtime_error(file.string() + " " + error.what());
    }
    if (!info.Grey() || info.bitDepth != 8)
        throw std::runtime_error(file.string() + " is no image set's file: it is not an 8-bit grey picture");
    auto text = [&](const char* key) {
        const auto found = info.texts.find(key);
        if (found == info.texts.end())
            throw std::runtime_error(file.string() + " is no image set's file: it has no \"" + key +
                                     "\" text");
        return found->second;
    };
    ImageSetFile set;
    const std::string image = text("Image"), order = text("Direction order");
    const bool averaged = order == "averaged by the plug-in";
    if (!averaged && image != "the four directions stacked, as the host receives them")
        throw std::runtime_error(file.string() + " holds " + image +
                                 ", not the four directions stacked: read the -stack.png of the set");
    ImageSetDescription& d = set.description;
    d.channel = text("Channel");
    const std::string camera = text("Camera");
    const size_t open = camera.rfind(" (");
    d.camera = open == std::string::npos ? camera : camera.substr(0, open);
    if (open != std::string::npos && camera.back() == ')')
        d.cameraModel = camera.substr(open + 2, camera.size() - open - 3);
    d.scanType = text("Scan type");
    std::string exposure = text("Exposure time");
    if (exposure.ends_with(" us"))
        exposure.resize(exposure.size() - 3);
    d.exposureTime = exposure;
    d.gain = text("Gain");
    d.lightingSequence = text("Lighting sequence");
    d.lightingOrientation = text("Lighting orientation");
    d.setupMode = averaged ? "On" : "Off";
    const std::string name = file.filename().string();
    if (name.starts_with("zeb-channel"))
        d.channelIndex = static_cast<int32_t>(LeadingNumber(name.substr(11)));
    set.number = static_cast<int64_t>(LeadingNumber(text("Image set")));
    set.taken = text("Creation Time");
    set.takenTime = ParseIsoTime(set.taken);
    if (!averaged && info.height % 4 != 0)
        throw std::runtime_error(file.string() + " is " + std::to_string(info.height) +
                                 " rows high: no four directions of equal height");
    set.stack.width = info.width;
    set.stack.height = info.height;
    set.stack.pixels = station::DecodeGrey8(bytes, info);
    return set;
}

} // namespace zeb::cli
