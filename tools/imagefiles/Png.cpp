#include "imagefiles/Png.h"

#include "imagefiles/LiteralDeflate.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <thread>

#include <zlib.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace zeb::imagefiles {

namespace {

// Parts of at least this many filtered bytes are worth a thread; none is larger than the last, so
// that every IDAT chunk stays below 2^31 bytes.
constexpr size_t PartBytes = size_t{1} << 20;
constexpr size_t LargestPartBytes = size_t{512} << 20;
// The zlib stream's header (RFC 1950): deflate, 32 KiB window, the fastest level.
constexpr uint8_t StreamHeader[2] = {0x78, 0x01};
constexpr uint8_t Signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr uint8_t UpFilter = 2;

using Bytes = std::vector<uint8_t>;

void AppendBigEndian(Bytes& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

// A chunk of pieces: length, type, the pieces, CRC over type and pieces.
void WriteChunk(const PngEncoder::Sink& sink, const char (&type)[5],
                std::initializer_list<std::pair<const uint8_t*, size_t>> pieces) {
    size_t length = 0;
    uLong crc = crc32_z(0, reinterpret_cast<const uint8_t*>(type), 4);
    for (const auto& [data, size] : pieces)
        if (size > 0) {
            length += size;
            crc = crc32_z(crc, data, size);
        }
    Bytes head;
    AppendBigEndian(head, static_cast<uint32_t>(length));
    head.insert(head.end(), type, type + 4);
    sink(head.data(), head.size());
    for (const auto& [data, size] : pieces)
        if (size > 0)
            sink(data, size);
    Bytes tail;
    AppendBigEndian(tail, static_cast<uint32_t>(crc));
    sink(tail.data(), tail.size());
}

bool Ascii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

void WriteText(const PngEncoder::Sink& sink, const PngText& text) {
    const bool plain = Ascii(text.second);
    // Keywords are 1 to 79 Latin-1 characters.
    Bytes body(text.first.begin(), text.first.begin() + std::min<size_t>(text.first.size(), 79));
    body.push_back(0);
    if (!plain)
        body.insert(body.end(), {0, 0, 0, 0}); // not compressed, no language tag, no translated keyword
    body.insert(body.end(), text.second.begin(), text.second.end());
    WriteChunk(sink, plain ? "tEXt" : "iTXt", {{body.data(), body.size()}});
}

// out = row - above, byte by byte: the "Up" filter.
void Difference(const uint8_t* row, const uint8_t* above, uint8_t* out, size_t width) {
    size_t x = 0;
#ifdef __SSE2__
    for (; x + 16 <= width; x += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                         _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x)),
                                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + x))));
#endif
    for (; x < width; ++x)
        out[x] = static_cast<uint8_t>(row[x] - above[x]);
}

size_t SampleCount(const Picture& picture) {
    return static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height) *
           static_cast<size_t>(picture.channels);
}

// Row `row` as the file holds it: the 8-bit samples themselves, 16-bit ones big-endian in `scratch`.
const uint8_t* RowBytes(const Picture& picture, int32_t row, std::vector<uint8_t>& scratch) {
    const size_t samples = static_cast<size_t>(picture.width) * static_cast<size_t>(picture.channels);
    if (picture.BitDepth() == 8)
        return picture.eightBit.data() + static_cast<size_t>(row) * samples;
    scratch.resize(2 * samples);
    const uint16_t* source = picture.sixteenBit.data() + static_cast<size_t>(row) * samples;
    for (size_t i = 0; i < samples; ++i) {
        scratch[2 * i] = static_cast<uint8_t>(source[i] >> 8);
        scratch[2 * i + 1] = static_cast<uint8_t>(source[i]);
    }
    return scratch.data();
}

} // namespace

size_t Picture::RowBytes() const {
    return static_cast<size_t>(width) * static_cast<size_t>(channels) * static_cast<size_t>(BitDepth() / 8);
}

void PngEncoder::EncodePart(const Picture& picture, Part& part, bool last) {
    const size_t rowBytes = picture.RowBytes();
    const size_t bytes = static_cast<size_t>(part.end - part.first) * (rowBytes + 1);
    if (part.filtered.size() < bytes)
        part.filtered.resize(bytes);
    part.filteredBytes = bytes;
    uint8_t* out = part.filtered.data();
    const uint8_t* above = part.first > 0 ? RowBytes(picture, part.first - 1, part.above) : nullptr;
    for (int32_t row = part.first; row < part.end; ++row) {
        const uint8_t* samples = RowBytes(picture, row, part.row);
        *out++ = UpFilter;
        if (above)
            Difference(samples, above, out, rowBytes);
        else
            std::copy(samples, samples + rowBytes, out);
        out += rowBytes;
        if (picture.BitDepth() == 16)
            std::swap(part.row, part.above); // the converted row, kept as the next one's above
        above = samples;
    }
    part.adler = static_cast<uint32_t>(adler32_z(adler32_z(0, nullptr, 0), part.filtered.data(), bytes));
    part.deflatedBytes = DeflateLiterals(part.filtered.data(), bytes, last, part.deflated);
}

void PngEncoder::Encode(const Picture& picture, const std::vector<PngText>& texts, const Sink& sink) {
    const size_t held = picture.BitDepth() == 8 ? picture.eightBit.size() : picture.sixteenBit.size();
    if (picture.width <= 0 || picture.height <= 0 || (picture.channels != 1 && picture.channels != 3) ||
        held < SampleCount(picture))
        throw std::runtime_error("a picture of " + std::to_string(picture.width) + " x " +
                                 std::to_string(picture.height) + " pixels cannot be written as PNG");
    const size_t rows = static_cast<size_t>(picture.height);
    const size_t bytes = rows * (picture.RowBytes() + 1);
    const size_t threads = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 8);
    const size_t count = std::min(rows, std::max({size_t{1}, std::min(threads, bytes / PartBytes),
                                                  (bytes + LargestPartBytes - 1) / LargestPartBytes}));
    if (_parts.size() < count)
        _parts.resize(count); // never shrinks: each part's buffers serve the pictures that follow
    for (size_t k = 0; k < count; ++k) {
        _parts[k].first = static_cast<int32_t>(rows * k / count);
        _parts[k].end = static_cast<int32_t>(rows * (k + 1) / count);
    }
    {
        std::vector<std::jthread> helpers;
        for (size_t k = 1; k < count; ++k)
            helpers.emplace_back([&, k] { EncodePart(picture, _parts[k], k + 1 == count); });
        EncodePart(picture, _parts[0], count == 1);
    }

    sink(Signature, sizeof Signature);
    Bytes header;
    AppendBigEndian(header, static_cast<uint32_t>(picture.width));
    AppendBigEndian(header, static_cast<uint32_t>(picture.height));
    // Bit depth, colour type (0 grey, 2 RGB), deflate, adaptive filters, no interlace.
    header.insert(header.end(), {static_cast<uint8_t>(picture.BitDepth()),
                                 static_cast<uint8_t>(picture.channels == 3 ? 2 : 0), 0, 0, 0});
    WriteChunk(sink, "IHDR", {{header.data(), header.size()}});
    for (const PngText& text : texts)
        WriteText(sink, text);
    // The zlib stream (RFC 1950): its header, the parts' blocks, the Adler-32 of all filtered bytes.
    uLong adler = _parts[0].adler;
    for (size_t k = 1; k < count; ++k)
        adler = adler32_combine(adler, _parts[k].adler, static_cast<z_off_t>(_parts[k].filteredBytes));
    Bytes trailer;
    AppendBigEndian(trailer, static_cast<uint32_t>(adler));
    for (size_t k = 0; k < count; ++k)
        WriteChunk(sink, "IDAT",
                   {{StreamHeader, k == 0 ? sizeof StreamHeader : 0},
                    {_parts[k].deflated.data(), _parts[k].deflatedBytes},
                    {trailer.data(), k + 1 == count ? trailer.size() : 0}});
    WriteChunk(sink, "IEND", {});
}

std::vector<uint8_t> EncodePng(const Picture& picture, const std::vector<PngText>& texts) {
    std::vector<uint8_t> png;
    PngEncoder().Encode(picture, texts, [&](const uint8_t* bytes, size_t size) {
        png.insert(png.end(), bytes, bytes + size);
    });
    return png;
}

void WritePng(const std::filesystem::path& path, const Picture& picture, const std::vector<PngText>& texts) {
    const Bytes png = EncodePng(picture, texts);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

} // namespace zeb::imagefiles
