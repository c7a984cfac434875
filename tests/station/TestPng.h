// Grey PNG files written by tests: height and albedo maps, recorded image sets with their texts, and
// damaged files. The image data is stored uncompressed (deflate's stored blocks), so the writer needs
// no library; any PNG reader reads it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace zeb::test {

class TestPng {
public:
    // `bits` is 8 or 16; `levels` hold the pixels row after row.
    static std::string Grey(int32_t width, int32_t height, int32_t bits, const std::vector<uint16_t>& levels,
                            const std::vector<std::pair<std::string, std::string>>& texts = {}) {
        return Image(width, height, bits, 0, levels, texts);
    }

    // Any colour type (0 grey, 2 colour, 4 grey with alpha, 6 colour with alpha): `levels` hold each
    // pixel's samples in turn.
    static std::string Image(int32_t width, int32_t height, int32_t bits, int32_t colourType,
                             const std::vector<uint16_t>& levels,
                             const std::vector<std::pair<std::string, std::string>>& texts = {}) {
        const int32_t samples = colourType == 2 ? 3 : colourType == 4 ? 2 : colourType == 6 ? 4 : 1;
        std::string raw;
        for (int32_t row = 0; row < height; ++row) {
            raw.push_back('\0'); // no filter
            for (int32_t at = 0; at < width * samples; ++at) {
                const uint16_t level =
                    levels[static_cast<size_t>(row) * static_cast<size_t>(width * samples) + at];
                if (bits == 16)
                    raw.push_back(static_cast<char>(level >> 8));
                raw.push_back(static_cast<char>(level & 0xFF));
            }
        }
        std::string png("\x89PNG\r\n\x1a\n", 8);
        std::string header;
        Append32(header, static_cast<uint32_t>(width));
        Append32(header, static_cast<uint32_t>(height));
        header += {static_cast<char>(bits), static_cast<char>(colourType), 0, 0, 0};
        Chunk(png, "IHDR", header);
        for (const auto& [keyword, text] : texts)
            Chunk(png, "tEXt", keyword + std::string(1, '\0') + text);
        Chunk(png, "IDAT", Zlib(raw));
        Chunk(png, "IEND", "");
        return png;
    }

    static std::string Grey8(int32_t width, int32_t height, const std::vector<uint8_t>& pixels,
                             const std::vector<std::pair<std::string, std::string>>& texts = {}) {
        return Grey(width, height, 8, std::vector<uint16_t>(pixels.begin(), pixels.end()), texts);
    }

    static void Write(const std::filesystem::path& path, const std::string& bytes) {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }

private:
    static void Append32(std::string& out, uint32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
    static uint32_t Crc(const std::string& bytes) {
        uint32_t c = 0xFFFFFFFFu;
        for (const char byte : bytes) {
            c ^= static_cast<uint8_t>(byte);
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        return c ^ 0xFFFFFFFFu;
    }
    static void Chunk(std::string& png, const std::string& type, const std::string& data) {
        Append32(png, static_cast<uint32_t>(data.size()));
        const std::string body = type + data;
        png += body;
        Append32(png, Crc(body));
    }
    // A zlib stream of stored blocks.
    static std::string Zlib(const std::string& raw) {
        std::string out = {0x78, 0x01};
        size_t at = 0;
        do {
            const size_t size = std::min<size_t>(65535, raw.size() - at);
            const bool last = at + size == raw.size();
            out.push_back(last ? 1 : 0);
            out.push_back(static_cast<char>(size & 0xFF));
            out.push_back(static_cast<char>(size >> 8));
            out.push_back(static_cast<char>(~size & 0xFF));
            out.push_back(static_cast<char>((~size >> 8) & 0xFF));
            out.append(raw, at, size);
            at += size;
        } while (at < raw.size());
        uint32_t a = 1, b = 0;
        for (const char byte : raw) {
            a = (a + static_cast<uint8_t>(byte)) % 65521;
            b = (b + a) % 65521;
        }
        Append32(out, b << 16 | a);
        return out;
    }
};

} // namespace zeb::test
