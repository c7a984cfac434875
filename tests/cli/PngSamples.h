// The samples of a PNG file that zeb wrote, as the tests read them back (stb_image decodes them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace zeb::test {

// The samples as 16 bits (8-bit samples scaled by 257), with the file's channels and bit depth;
// all zero when the file is missing or no PNG.
struct PngSamplesRead {
    int32_t width = 0, height = 0, channels = 0, bitDepth = 0;
    std::vector<uint16_t> samples;
    uint16_t At(int32_t x, int32_t y, int32_t channel = 0) const {
        return samples[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) *
                           static_cast<size_t>(channels) +
                       static_cast<size_t>(channel)];
    }
};
PngSamplesRead ReadPngSamples(const std::filesystem::path& file);
// The pixels as 8-bit grey (colour files made grey by stb_image), row after row; empty when the file
// is missing or no PNG.
std::vector<uint8_t> ReadPngGrey(const std::string& bytes, int32_t& width, int32_t& height);

} // namespace zeb::test
