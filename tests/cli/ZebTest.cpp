#include "ZebTest.h"

#include <cstring>
#include <fstream>
#include <iterator>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

namespace zeb::test {

namespace {
uint32_t BigEndian(const unsigned char* bytes) {
    return (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) | bytes[3];
}
} // namespace

PngContents ReadPngFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    PngContents png;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    int width = 0, height = 0, channels = 0;
    if (unsigned char* pixels =
            stbi_load_from_memory(data, static_cast<int>(bytes.size()), &width, &height, &channels, 1)) {
        png.image.width = width;
        png.image.height = height;
        png.image.pixels.assign(pixels, pixels + static_cast<size_t>(width) * static_cast<size_t>(height));
        stbi_image_free(pixels);
    }
    // The chunks after the 8-byte signature: length, type, data, CRC.
    for (size_t at = 8; at + 12 <= bytes.size();) {
        const uint32_t length = BigEndian(data + at);
        const std::string type = bytes.substr(at + 4, 4);
        const std::string body = bytes.substr(at + 8, length);
        if (type == "tEXt" || type == "iTXt") {
            const size_t zero = body.find('\0');
            std::string text = body.substr(zero + 1);
            if (type == "iTXt") // compression flag and method, then language and translated keyword
                text = text.substr(text.find('\0', text.find('\0', 2) + 1) + 1);
            png.texts[body.substr(0, zero)] = text;
        }
        at += 12 + length;
    }
    return png;
}

PngSamplesRead ReadPngSamples(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    PngSamplesRead png;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    int width = 0, height = 0, channels = 0;
    if (stbi_us* samples =
            stbi_load_16_from_memory(data, static_cast<int>(bytes.size()), &width, &height, &channels, 0)) {
        png.width = width;
        png.height = height;
        png.channels = channels;
        png.bitDepth = bytes.size() > 24 ? data[24] : 0; // in the header chunk
        png.samples.assign(samples, samples + static_cast<size_t>(width) * static_cast<size_t>(height) *
                                                  static_cast<size_t>(channels));
        stbi_image_free(samples);
    }
    return png;
}

void ZebTest::UseStation(const Json& station) {
    const auto path = Path("station.json");
    TestEnvironment::WriteFile(path, station.dump(2));
    _station = path.string();
}

std::vector<std::string> ZebTest::StationArguments() const {
    if (_station.empty())
        return {};
    return {"--station", _station};
}

Outcome ZebTest::Zeb(std::vector<std::string> arguments, const std::string& input) {
    std::vector<std::string> all = StationArguments();
    all.insert(all.end(), arguments.begin(), arguments.end());
    return ZebProcess::Run(environment.Folder(), all, input);
}

} // namespace zeb::test
