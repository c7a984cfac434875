#include "PngSamples.h"

#include <fstream>
#include <iterator>
#include <string>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

namespace zeb::test {

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

std::vector<uint8_t> ReadPngGrey(const std::string& bytes, int32_t& width, int32_t& height) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    int w = 0, h = 0, channels = 0;
    std::vector<uint8_t> grey;
    width = height = 0;
    if (unsigned char* pixels =
            stbi_load_from_memory(data, static_cast<int>(bytes.size()), &w, &h, &channels, 1)) {
        width = w;
        height = h;
        grey.assign(pixels, pixels + static_cast<size_t>(w) * static_cast<size_t>(h));
        stbi_image_free(pixels);
    }
    return grey;
}

} // namespace zeb::test
