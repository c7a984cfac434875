#include "PngImage.h"

#include <array>
#include <cstring>
#include <memory>
#include <stdexcept>

// stb_image decodes the pixels, compiled in here alone and for PNG alone; its functions stay private
// to this file, so that other code of the process may use a copy of its own.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#endif
#include <stb/stb_image.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace zeb::station {

namespace {

constexpr unsigned char Signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

uint32_t BigEndian(const unsigned char* at) {
    return uint32_t{at[0]} << 24 | uint32_t{at[1]} << 16 | uint32_t{at[2]} << 8 | uint32_t{at[3]};
}

const std::array<uint32_t, 256>& CrcTable() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    return table;
}

uint32_t Crc(const unsigned char* data, size_t size) {
    const auto& table = CrcTable();
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

// The text of a tEXt chunk, or of an iTXt chunk that is not compressed.
void ReadText(const std::string& type, const unsigned char* data, size_t size, PngInfo& info) {
    const char* text = reinterpret_cast<const char*>(data);
    const void* nul = std::memchr(text, 0, size);
    if (!nul)
        return;
    const size_t keyLength = static_cast<size_t>(static_cast<const char*>(nul) - text);
    const std::string keyword(text, keyLength);
    size_t at = keyLength + 1;
    if (type == "iTXt") {
        if (at + 2 > size || data[at] != 0) // compressed iTXt is not needed here
            return;
        at += 2;
        for (int field = 0; field < 2; ++field) { // language tag and translated keyword
            const void* end = std::memchr(text + at, 0, size - at);
            if (!end)
                return;
            at = static_cast<size_t>(static_cast<const char*>(end) - text) + 1;
        }
    }
    info.texts[keyword] = std::string(text + at, size - at);
}

std::string SizeText(int64_t width, int64_t height) {
    return std::to_string(width) + " x " + std::to_string(height);
}

} // namespace

namespace {

// Walks the chunks. With `whole`, to the end of the file, checking that it holds enough image data;
// otherwise up to the first image data (the header and the texts before it), in a file's first bytes.
PngInfo Walk(std::string_view bytes, int32_t largestSide, bool whole) {
    if (bytes.empty())
        throw std::runtime_error("is empty");
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t size = bytes.size();
    if (size < sizeof Signature || std::memcmp(data, Signature, sizeof Signature) != 0)
        throw std::runtime_error("is not a PNG file");
    PngInfo info;
    bool header = false, end = false;
    uint64_t imageData = 0;
    for (size_t at = sizeof Signature; !end;) {
        if (size - at < 12 || BigEndian(data + at) > size - at - 12) {
            if (!whole && header)
                return info; // the rest lies beyond the bytes read
            throw std::runtime_error("is cut short");
        }
        const uint32_t length = BigEndian(data + at);
        const std::string type(reinterpret_cast<const char*>(data + at + 4), 4);
        const unsigned char* chunk = data + at + 8;
        if (Crc(data + at + 4, length + 4) != BigEndian(chunk + length))
            throw std::runtime_error("is damaged (the checksum of its " + type + " chunk is wrong)");
        if (!header && type != "IHDR")
            throw std::runtime_error("is damaged (it does not start with its header)");
        if (type == "IHDR") {
            if (header || length != 13)
                throw std::runtime_error("is damaged (its header is wrong)");
            header = true;
            const uint32_t width = BigEndian(chunk), height = BigEndian(chunk + 4);
            if (width == 0 || height == 0)
                throw std::runtime_error("is empty (it has no pixels)");
            if (width > static_cast<uint32_t>(largestSide) || height > static_cast<uint32_t>(largestSide))
                throw std::runtime_error("is " + SizeText(width, height) + " pixels, more than " +
                                         std::to_string(largestSide) + " a side");
            info.width = static_cast<int32_t>(width);
            info.height = static_cast<int32_t>(height);
            info.bitDepth = chunk[8];
            info.colourType = chunk[9];
        } else if (type == "IDAT") {
            if (!whole)
                return info;
            imageData += length;
        } else if (type == "IEND") {
            end = true;
        } else if (type == "tEXt" || type == "iTXt") {
            ReadText(type, chunk, length, info);
        }
        at += size_t{length} + 12;
    }
    if (imageData == 0)
        throw std::runtime_error("is damaged (it holds no image data)");
    // Deflate packs at most 1032 bytes into one: less image data than that cannot hold the pixels.
    const int32_t channels = info.colourType == 2   ? 3
                             : info.colourType == 4 ? 2
                             : info.colourType == 6 ? 4
                                                    : 1;
    const uint64_t rowBytes = (uint64_t(info.width) * uint64_t(channels) * uint64_t(info.bitDepth) + 7) / 8;
    if (imageData * 1032 + 64 < uint64_t(info.height) * (rowBytes + 1))
        throw std::runtime_error("is cut short (its image data cannot hold " +
                                 SizeText(info.width, info.height) + " pixels)");
    return info;
}

} // namespace

PngInfo ReadPngInfo(std::string_view bytes, int32_t largestSide) {
    return Walk(bytes, largestSide, true);
}

PngInfo ReadPngHeader(std::string_view bytes, int32_t largestSide) {
    return Walk(bytes, largestSide, false);
}

namespace {

struct StbFree {
    void operator()(void* pixels) const { stbi_image_free(pixels); }
};

template <typename Level> std::vector<Level> Decode(std::string_view bytes, const PngInfo& info) {
    if (bytes.size() > static_cast<size_t>(INT32_MAX))
        throw std::runtime_error("is larger than " + std::to_string(INT32_MAX) + " bytes");
    int width = 0, height = 0, channels = 0;
    const auto* data = reinterpret_cast<const stbi_uc*>(bytes.data());
    const int length = static_cast<int>(bytes.size());
    std::unique_ptr<Level, StbFree> pixels;
    if constexpr (sizeof(Level) == 2)
        pixels.reset(stbi_load_16_from_memory(data, length, &width, &height, &channels, 1));
    else
        pixels.reset(stbi_load_from_memory(data, length, &width, &height, &channels, 1));
    if (!pixels) {
        const char* reason = stbi_failure_reason();
        throw std::runtime_error(std::string("is damaged (") + (reason ? reason : "it cannot be decoded") +
                                 ")");
    }
    if (width != info.width || height != info.height)
        throw std::runtime_error("is damaged (its size changed while it was read)");
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    return std::vector<Level>(pixels.get(), pixels.get() + count);
}

} // namespace

std::vector<uint16_t> DecodeGrey16(std::string_view bytes, const PngInfo& info) {
    return Decode<uint16_t>(bytes, info);
}

std::vector<uint8_t> DecodeGrey8(std::string_view bytes, const PngInfo& info) {
    return Decode<uint8_t>(bytes, info);
}

} // namespace zeb::station
