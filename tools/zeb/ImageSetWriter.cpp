#include "ImageSetWriter.h"

#include "ImageSet.h"

#include <cstdio>
#include <ctime>
#include <stdexcept>

namespace zeb::cli {

namespace fs = std::filesystem;

namespace {

std::string Prefix(int32_t channelIndex) {
    return "zeb-channel" + std::to_string(channelIndex) + "-";
}

std::string Number(int64_t number) {
    char text[32];
    std::snprintf(text, sizeof text, "%04lld", static_cast<long long>(number));
    return text;
}

} // namespace

std::string IsoTime(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc{};
#if defined(_WIN32)
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count() % 1000;
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(milliseconds));
    return text;
}

ImageSetDescription ImageSetDescription::Read(host::HostChannel& channel, int32_t channelIndex) {
    auto value = [&](const char* feature) { return channel.Read(feature).value_or(""); };
    ImageSetDescription d;
    d.channelIndex = channelIndex;
    d.channel = channel.Name();
    d.camera = value("DeviceImageSource");
    d.cameraModel = value("DeviceImageSourceVendor") + " " + value("DeviceImageSourceModel") +
                    ", serial number " + value("DeviceImageSourceSerial");
    d.scanType = value("DeviceScanType");
    d.exposureTime = value("ExposureTime");
    d.gain = value("Gain");
    d.lightingSequence = value("LightingSequenceType");
    d.lightingOrientation = value("LightingOrientation");
    d.setupMode = value("SetupMode");
    return d;
}

std::string LitFrom(const std::string& lightingSequence) {
    if (lightingSequence == "Axial")
        return "0 right, 1 top, 2 left, 3 bottom";
    if (lightingSequence == "Diagonal")
        return "0 top right, 1 top left, 2 bottom left, 3 bottom right";
    return "unknown for the lighting sequence \"" + lightingSequence + "\"";
}

ImageSetWriter::ImageSetWriter(fs::path folder, ImageSetDescription description)
    : _folder(std::move(folder)), _description(std::move(description)) {
    std::error_code error;
    fs::create_directories(_folder, error);
    if (error)
        throw std::runtime_error("cannot create the folder " + _folder.string() + ": " + error.message());
    const std::string prefix = Prefix(_description.channelIndex);
    for (const auto& entry : fs::directory_iterator(_folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) != 0)
            continue;
        const int64_t number = std::strtoll(name.c_str() + prefix.size(), nullptr, 10);
        if (number >= _next)
            _next = number + 1;
    }
}

fs::path ImageSetWriter::BasePath(int64_t number) const {
    return _folder / (Prefix(_description.channelIndex) + Number(number));
}

std::vector<PngText> ImageSetWriter::Texts(int64_t number, const std::string& image, const std::string& order,
                                           std::chrono::system_clock::time_point taken) const {
    const ImageSetDescription& d = _description;
    return {
        {"Title", "Image set " + std::to_string(number) + " of " + d.channel + ": " + image},
        {"Software", std::string("zeb ") + ZEB_VERSION},
        {"Creation Time", IsoTime(taken)},
        {"Channel", d.channel},
        {"Image set", std::to_string(number)},
        {"Image", image},
        {"Camera", d.camera + " (" + d.cameraModel + ")"},
        {"Scan type", d.scanType},
        {"Exposure time", d.exposureTime + " us"},
        {"Gain", d.gain},
        {"Lighting sequence", d.lightingSequence},
        {"Lighting orientation", d.lightingOrientation},
        {"Direction order", order},
        {"Lit from", LitFrom(d.lightingSequence) +
                         " (as seen from the camera, with the lighting orientation set to how the dome is "
                         "mounted)"}};
}

std::vector<fs::path> ImageSetWriter::Write(const host::Image& image,
                                            std::chrono::system_clock::time_point taken) {
    const int64_t number = _next++;
    const std::string base = Prefix(_description.channelIndex) + Number(number);
    const bool line = _description.LineScan();
    std::vector<fs::path> files;
    auto write = [&](const std::string& suffix, const host::Image& picture, const std::string& what,
                     const std::string& order) {
        const fs::path path = _folder / (base + "-" + suffix + ".png");
        WritePng(path, picture, Texts(number, what, order, taken));
        files.push_back(path);
    };
    if (_description.Averaged()) {
        write("average", image, "the average of the four directions", "averaged by the plug-in");
        return files;
    }
    write("stack", image, "the four directions stacked, as the host receives them",
          line ? "rows interleaved: row 4 j + k belongs to direction k"
               : "directions 0, 1, 2, 3 one below the other");
    write("average", Average(image, line), "the average of the four directions", "averaged by zeb");
    write("directions", ContactSheet(image, line), "the four directions side by side",
          "directions 0 1 over 2 3");
    if (line)
        for (int32_t k = 0; k < 4; ++k)
            write("direction" + std::to_string(k), Direction(image, line, k),
                  "direction " + std::to_string(k), "direction " + std::to_string(k) + " alone");
    return files;
}

} // namespace zeb::cli
