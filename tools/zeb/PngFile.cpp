#include "PngFile.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include <zlib.h>

namespace {
// zlib's fastest level: several times faster than stb's own deflate, and smaller files.
unsigned char* Deflate(unsigned char* data, int length, int* outLength, int) {
    uLongf size = compressBound(static_cast<uLong>(length));
    auto* out = static_cast<unsigned char*>(std::malloc(size)); // stb frees it with free()
    if (!out || compress2(out, &size, data, static_cast<uLong>(length), Z_BEST_SPEED) != Z_OK) {
        std::free(out);
        return nullptr;
    }
    *outLength = static_cast<int>(size);
    return out;
}
} // namespace

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wunused-function"
#define STB_IMAGE_WRITE_STATIC
#define STBIW_ZLIB_COMPRESS Deflate
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

namespace zeb::cli {

namespace {

uint32_t Crc32(const uint8_t* data, size_t size) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> values{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            values[n] = c;
        }
        return values;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

void AppendBigEndian(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

void WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

bool Ascii(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// A chunk: length, type, data and the CRC over type and data.
void AppendChunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> body;
    body.reserve(data.size() + 4);
    body.insert(body.end(), type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png.reserve(png.size() + body.size() + 8);
    AppendBigEndian(png, static_cast<uint32_t>(data.size()));
    png.insert(png.end(), body.begin(), body.end());
    AppendBigEndian(png, Crc32(body.data(), body.size()));
}

std::vector<uint8_t> TextChunk(const PngText& text) {
    const bool plain = Ascii(text.second);
    // Keywords are 1 to 79 Latin-1 characters.
    std::vector<uint8_t> data(text.first.begin(),
                              text.first.begin() + std::min<size_t>(text.first.size(), 79));
    data.push_back(0);
    if (!plain) {
        // Not compressed, no language tag, no translated keyword.
        data.insert(data.end(), {0, 0, 0, 0});
    }
    data.insert(data.end(), text.second.begin(), text.second.end());
    std::vector<uint8_t> chunk;
    AppendChunk(chunk, plain ? "tEXt" : "iTXt", data);
    return chunk;
}

} // namespace

std::vector<uint8_t> EncodePng(const host::Image& image, const std::vector<PngText>& texts) {
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() < static_cast<size_t>(image.width) * static_cast<size_t>(image.height))
        throw std::runtime_error("an image of " + std::to_string(image.width) + " x " +
                                 std::to_string(image.height) + " pixels cannot be written as PNG");
    // Every row with the "Sub" filter: trying all five per row costs more than it saves here.
    stbi_write_force_png_filter = 1;
    int length = 0;
    unsigned char* encoded =
        stbi_write_png_to_mem(image.pixels.data(), image.width, image.width, image.height, 1, &length);
    if (!encoded)
        throw std::runtime_error("PNG encoding failed");
    std::vector<uint8_t> png(encoded, encoded + length);
    STBIW_FREE(encoded);
    // Signature (8 bytes) and the header chunk (4 + 4 + 13 + 4 bytes) come first.
    constexpr size_t afterHeader = 8 + 25;
    std::vector<uint8_t> chunks;
    for (const PngText& text : texts) {
        const auto chunk = TextChunk(text);
        chunks.insert(chunks.end(), chunk.begin(), chunk.end());
    }
    png.insert(png.begin() + afterHeader, chunks.begin(), chunks.end());
    return png;
}

void WritePng(const std::filesystem::path& path, const host::Image& image,
              const std::vector<PngText>& texts) {
    WriteFileBytes(path, EncodePng(image, texts));
}

} // namespace zeb::cli

namespace zeb::cli {

std::vector<uint8_t> EncodePngSamples(const PngSamples& picture, const std::vector<PngText>& texts) {
    const bool sixteen = picture.eightBit.empty();
    const size_t samples = static_cast<size_t>(std::max(picture.width, 0)) *
                           static_cast<size_t>(std::max(picture.height, 0)) *
                           static_cast<size_t>(std::max(picture.channels, 0));
    if (picture.width <= 0 || picture.height <= 0 || (picture.channels != 1 && picture.channels != 3) ||
        (sixteen ? picture.sixteenBit.size() : picture.eightBit.size()) < samples)
        throw std::runtime_error("a picture of " + std::to_string(picture.width) + " x " +
                                 std::to_string(picture.height) + " pixels cannot be written as PNG");
    // Rows of big-endian samples, each after its filter byte: "Sub", the difference from the
    // same byte of the pixel before.
    const size_t bytesPerPixel = static_cast<size_t>(picture.channels) * (sixteen ? 2 : 1);
    const size_t rowBytes = bytesPerPixel * static_cast<size_t>(picture.width);
    std::vector<uint8_t> raw((rowBytes + 1) * static_cast<size_t>(picture.height));
    std::vector<uint8_t> row(rowBytes);
    for (size_t y = 0; y < static_cast<size_t>(picture.height); ++y) {
        const size_t first = y * (rowBytes / (sixteen ? 2 : 1));
        for (size_t i = 0; i < rowBytes / (sixteen ? 2 : 1); ++i) {
            if (sixteen) {
                row[2 * i] = static_cast<uint8_t>(picture.sixteenBit[first + i] >> 8);
                row[2 * i + 1] = static_cast<uint8_t>(picture.sixteenBit[first + i]);
            } else {
                row[i] = picture.eightBit[first + i];
            }
        }
        uint8_t* out = &raw[y * (rowBytes + 1)];
        out[0] = 1;
        for (size_t i = 0; i < rowBytes; ++i)
            out[1 + i] = static_cast<uint8_t>(row[i] - (i >= bytesPerPixel ? row[i - bytesPerPixel] : 0));
    }
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> deflated(size);
    if (compress2(deflated.data(), &size, raw.data(), static_cast<uLong>(raw.size()), Z_BEST_SPEED) != Z_OK)
        throw std::runtime_error("PNG encoding failed");
    deflated.resize(size);

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    AppendBigEndian(header, static_cast<uint32_t>(picture.width));
    AppendBigEndian(header, static_cast<uint32_t>(picture.height));
    // Bit depth, colour type (0 grey, 2 RGB), compression, filter method, no interlace.
    header.insert(header.end(), {static_cast<uint8_t>(sixteen ? 16 : 8),
                                 static_cast<uint8_t>(picture.channels == 3 ? 2 : 0), 0, 0, 0});
    AppendChunk(png, "IHDR", header);
    for (const PngText& text : texts) {
        const auto chunk = TextChunk(text);
        png.insert(png.end(), chunk.begin(), chunk.end());
    }
    AppendChunk(png, "IDAT", deflated);
    AppendChunk(png, "IEND", {});
    return png;
}

void WritePngSamples(const std::filesystem::path& path, const PngSamples& picture,
                     const std::vector<PngText>& texts) {
    WriteFileBytes(path, EncodePngSamples(picture, texts));
}

} // namespace zeb::cli
