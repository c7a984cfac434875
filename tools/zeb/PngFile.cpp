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

bool Ascii(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// A chunk: length, type, data, CRC over type and data.
std::vector<uint8_t> TextChunk(const PngText& text) {
    const bool plain = Ascii(text.second);
    std::vector<uint8_t> body(plain ? "tEXt" : "iTXt", (plain ? "tEXt" : "iTXt") + 4);
    // Keywords are 1 to 79 Latin-1 characters.
    body.insert(body.end(), text.first.begin(), text.first.begin() + std::min<size_t>(text.first.size(), 79));
    body.push_back(0);
    if (!plain) {
        // Not compressed, no language tag, no translated keyword.
        body.insert(body.end(), {0, 0, 0, 0});
    }
    body.insert(body.end(), text.second.begin(), text.second.end());
    std::vector<uint8_t> chunk;
    AppendBigEndian(chunk, static_cast<uint32_t>(body.size() - 4));
    chunk.insert(chunk.end(), body.begin(), body.end());
    AppendBigEndian(chunk, Crc32(body.data(), body.size()));
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
    const std::vector<uint8_t> png = EncodePng(image, texts);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

} // namespace zeb::cli
