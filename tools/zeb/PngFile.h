// 8-bit grey PNG files with text chunks, the same code on every target.
#pragma once

#include "HostChannel.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace zeb::cli {

// Keyword and text of one PNG text chunk. ASCII texts become tEXt chunks, others (UTF-8) iTXt.
using PngText = std::pair<std::string, std::string>;

// The PNG file's bytes; the text chunks follow the header chunk.
std::vector<uint8_t> EncodePng(const host::Image& image, const std::vector<PngText>& texts);
// Writes the PNG file; throws std::runtime_error naming the file when it cannot be written.
void WritePng(const std::filesystem::path& path, const host::Image& image, const std::vector<PngText>& texts);

} // namespace zeb::cli

namespace zeb::cli {

// A picture of 8- or 16-bit samples, grey (1 channel) or RGB (3), for the surface files: rows of
// width x channels samples, one after the other.
struct PngSamples {
    int32_t width = 0, height = 0;
    int32_t channels = 1;             // 1 grey, 3 RGB
    std::vector<uint8_t> eightBit;    // when not empty: the samples
    std::vector<uint16_t> sixteenBit; // else: the samples, 16 bits each
};

// The PNG file's bytes (deflated by zlib at its fastest level, each row with the "Sub" filter);
// the text chunks follow the header chunk.
std::vector<uint8_t> EncodePngSamples(const PngSamples& picture, const std::vector<PngText>& texts);
// Writes it; throws std::runtime_error naming the file when it cannot be written.
void WritePngSamples(const std::filesystem::path& path, const PngSamples& picture,
                     const std::vector<PngText>& texts);

} // namespace zeb::cli
