// 8-bit grey PNG files with text chunks, the same code on every target.
//
// Every row has the "Up" filter (the difference to the row above) and its bytes are coded as deflate
// literals (LiteralDeflate.h). A large image is encoded in parts of whole rows on threads of their
// own, each part in an IDAT chunk of its own, one zlib stream all the same.
#pragma once

#include "HostChannel.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace zeb::cli {

// Keyword and text of one PNG text chunk. ASCII texts become tEXt chunks, others (UTF-8) iTXt.
using PngText = std::pair<std::string, std::string>;

// Encodes images one after another, keeping its buffers from one image to the next.
class PngEncoder {
public:
    // Receives the file's bytes in order.
    using Sink = std::function<void(const uint8_t* bytes, size_t size)>;

    // The PNG file of `image`, the text chunks after the header chunk. Throws std::runtime_error for
    // an image without pixels.
    void Encode(const host::Image& image, const std::vector<PngText>& texts, const Sink& sink);

private:
    // Rows `first` to `end - 1`, filtered and deflated. The buffers only grow.
    struct Part {
        int32_t first = 0, end = 0;
        std::vector<uint8_t> filtered, deflated;
        size_t filteredBytes = 0, deflatedBytes = 0;
        uint32_t adler = 0; // of the filtered bytes
    };
    static void EncodePart(const host::Image& image, Part& part, bool last);

    std::vector<Part> _parts;
};

// The PNG file's bytes, from an encoder of its own.
std::vector<uint8_t> EncodePng(const host::Image& image, const std::vector<PngText>& texts);

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
