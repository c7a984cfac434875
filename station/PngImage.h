// Grey PNG images as the station reads them: an object's height and albedo maps and the image sets a
// camera plays back. The file's chunks are walked and checked first (signature, header, checksums,
// enough image data for its size), so that a file that is no PNG, is cut short or damaged, or is too
// large is refused with its reason before a pixel is decoded; stb_image then decodes the pixels.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace zeb::station {

struct PngInfo {
    int32_t width = 0, height = 0;
    int32_t bitDepth = 0;
    int32_t colourType = 0; // 0 grey, 2 colour, 3 palette, 4 grey with alpha, 6 colour with alpha
    std::map<std::string, std::string> texts; // uncompressed tEXt and iTXt chunks by keyword
    bool Grey() const { return colourType == 0; }
};

// Reads and checks the chunks of a PNG file. Throws std::runtime_error with the reason: "is empty",
// "is not a PNG file", "is cut short", "is damaged (...)", "is W x H pixels, more than N a side".
PngInfo ReadPngInfo(std::string_view bytes, int32_t largestSide);
// The same from a file's first bytes: its header and the texts before its image data.
PngInfo ReadPngHeader(std::string_view bytes, int32_t largestSide);

// The pixels of a grey PNG whose info ReadPngInfo gave, row after row from the top: 16-bit levels as
// they are, 8-bit levels widened to 16 bits by 257 (so that level / 65535 keeps its value).
std::vector<uint16_t> DecodeGrey16(std::string_view bytes, const PngInfo& info);
// The pixels of an 8-bit grey PNG.
std::vector<uint8_t> DecodeGrey8(std::string_view bytes, const PngInfo& info);

} // namespace zeb::station
