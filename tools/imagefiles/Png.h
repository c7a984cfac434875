// PNG files of grey or RGB pictures with 8 or 16 bits a sample and text chunks, the same code on
// every target and for every picture the tools write.
//
// Every row has the "Up" filter (the difference to the row above, byte by byte) and the filtered
// rows are deflated. A large picture is encoded in parts of whole rows on threads of their own, each
// part in an IDAT chunk of its own, one zlib stream all the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace zeb::imagefiles {

// Keyword and text of one PNG text chunk. ASCII texts become tEXt chunks, others (UTF-8) iTXt.
using PngText = std::pair<std::string, std::string>;

// The samples of a picture, not owned: rows of width x channels samples, one after the other, of 8
// bits each, or of 16 bits each when `sixteenBit` holds them.
struct Picture {
    int32_t width = 0, height = 0;
    int32_t channels = 1; // 1 grey, 3 RGB
    std::span<const uint8_t> eightBit;
    std::span<const uint16_t> sixteenBit;

    int32_t BitDepth() const { return sixteenBit.empty() ? 8 : 16; }
    // Bytes of one row as the file holds it, without its filter byte.
    size_t RowBytes() const;
};

// Encodes pictures one after another, keeping its buffers from one picture to the next.
class PngEncoder {
public:
    // Receives the file's bytes in order.
    using Sink = std::function<void(const uint8_t* bytes, size_t size)>;

    // The PNG file of `picture`, the text chunks after the header chunk. Throws std::runtime_error for
    // a picture without pixels, with fewer samples than its size needs, or with 2 or 4 channels.
    void Encode(const Picture& picture, const std::vector<PngText>& texts, const Sink& sink);

private:
    // Rows `first` to `end - 1`, filtered and deflated. The buffers only grow.
    struct Part {
        int32_t first = 0, end = 0;
        std::vector<uint8_t> filtered, deflated, row, above;
        size_t filteredBytes = 0, deflatedBytes = 0;
        uint32_t adler = 0; // of the filtered bytes
    };
    static void EncodePart(const Picture& picture, Part& part, bool last);

    std::vector<Part> _parts;
};

// The PNG file's bytes, from an encoder of its own.
std::vector<uint8_t> EncodePng(const Picture& picture, const std::vector<PngText>& texts);
// Writes them; throws std::runtime_error naming the file when it cannot be written.
void WritePng(const std::filesystem::path& path, const Picture& picture, const std::vector<PngText>& texts);

} // namespace zeb::imagefiles
