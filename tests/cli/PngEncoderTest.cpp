// The PNG writer of every file the tools write, read back by zlib: grey and RGB pictures of 8 and 16
// bits of every shape and spread of values, small ones in one part, large ones deflated in parts on
// threads, each with its text chunks.
#include "imagefiles/Png.h"

#include <gmock/gmock.h>

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace zeb::test {

namespace {

using imagefiles::Picture;

uint32_t ReadBigEndian(const uint8_t* bytes) {
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}

struct ReadBack {
    int32_t width = 0, height = 0, bitDepth = 0, colourType = 0;
    std::vector<std::string> chunks;
    std::vector<uint8_t> rows; // unfiltered, without filter bytes
};

// The file as zlib reads it: every chunk's CRC checked, the IDAT chunks inflated (which checks the
// stream's Adler-32), the rows unfiltered ("None" or "Up").
ReadBack Read(const std::vector<uint8_t>& png, size_t bytesPerPixel) {
    ReadBack read;
    const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    EXPECT_TRUE(png.size() >= 8 && std::equal(signature, signature + 8, png.begin()));
    std::vector<uint8_t> stream;
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint32_t length = ReadBigEndian(&png[at]);
        const std::string type(&png[at + 4], &png[at + 8]);
        EXPECT_EQ(crc32(0, &png[at + 4], length + 4), ReadBigEndian(&png[at + 8 + length])) << type;
        read.chunks.push_back(type);
        if (type == "IHDR") {
            read.width = static_cast<int32_t>(ReadBigEndian(&png[at + 8]));
            read.height = static_cast<int32_t>(ReadBigEndian(&png[at + 12]));
            read.bitDepth = png[at + 16];
            read.colourType = png[at + 17];
        }
        if (type == "IDAT")
            stream.insert(stream.end(), &png[at + 8], &png[at + 8 + length]);
        at += 12 + length;
    }
    const size_t rowBytes = bytesPerPixel * static_cast<size_t>(read.width);
    const size_t height = static_cast<size_t>(read.height);
    std::vector<uint8_t> filtered((rowBytes + 1) * height);
    uLongf size = filtered.size();
    EXPECT_EQ(uncompress(filtered.data(), &size, stream.data(), stream.size()), Z_OK);
    EXPECT_EQ(size, filtered.size());
    read.rows.resize(rowBytes * height);
    for (size_t y = 0; y < height; ++y) {
        const uint8_t filter = filtered[y * (rowBytes + 1)];
        EXPECT_TRUE(filter == 0 || filter == 2) << "row " << y;
        for (size_t x = 0; x < rowBytes; ++x) {
            const uint8_t above = y > 0 && filter == 2 ? read.rows[(y - 1) * rowBytes + x] : 0;
            read.rows[y * rowBytes + x] = static_cast<uint8_t>(filtered[y * (rowBytes + 1) + 1 + x] + above);
        }
    }
    return read;
}

// The samples as the file holds them: 16-bit ones big-endian.
std::vector<uint8_t> FileBytes(const Picture& picture) {
    if (picture.BitDepth() == 8)
        return {picture.eightBit.begin(), picture.eightBit.end()};
    std::vector<uint8_t> bytes;
    for (const uint16_t sample : picture.sixteenBit)
        bytes.insert(bytes.end(), {static_cast<uint8_t>(sample >> 8), static_cast<uint8_t>(sample)});
    return bytes;
}

template <class Sample>
std::vector<Sample> Samples(size_t count, const std::function<Sample(size_t)>& value) {
    std::vector<Sample> samples(count);
    for (size_t i = 0; i < count; ++i)
        samples[i] = value(i);
    return samples;
}

} // namespace

TEST(PngEncoder, GreyImagesOfEveryShapeAndSpreadReadBackExactly) {
    std::mt19937 random(5);
    // Byte values with Fibonacci frequencies: their optimal code is deeper than deflate's 15 bits.
    std::vector<uint8_t> skewed;
    for (uint32_t value = 0, a = 1, b = 1; value < 24; ++value, b += a, a = b - a)
        skewed.insert(skewed.end(), a, static_cast<uint8_t>(value * 11));
    std::shuffle(skewed.begin(), skewed.end(), random);
    struct Case {
        std::string what;
        int32_t width, height;
        std::vector<uint8_t> pixels;
    };
    auto pixels = [](int32_t width, int32_t height, const std::function<uint8_t(size_t)>& value) {
        return Samples<uint8_t>(static_cast<size_t>(width) * static_cast<size_t>(height), value);
    };
    const std::vector<Case> cases = {
        {"one pixel", 1, 1, pixels(1, 1, [](size_t) { return uint8_t{200}; })},
        {"odd sizes, random", 17, 5, pixels(17, 5, [&](size_t) { return static_cast<uint8_t>(random()); })},
        {"one value in several blocks", 700, 700, pixels(700, 700, [](size_t) { return uint8_t{9}; })},
        {"skewed column", 1, static_cast<int32_t>(skewed.size()), skewed},
        {"2.3 MB in parts, random", 2048, 1100,
         pixels(2048, 1100, [&](size_t) { return static_cast<uint8_t>(random()); })},
        {"2.3 MB in parts, a gradient", 2047, 1101,
         pixels(2047, 1101, [](size_t i) { return static_cast<uint8_t>(i % 2047 / 9 + i / 2047 / 7); })}};
    imagefiles::PngEncoder encoder; // one encoder for all: its buffers are used again
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Picture picture{c.width, c.height, 1, c.pixels, {}};
        std::vector<uint8_t> png;
        encoder.Encode(
            picture, {{"Title", c.what}, {"Comment", "gr\xc3\xbcn"}},
            [&](const uint8_t* bytes, size_t size) { png.insert(png.end(), bytes, bytes + size); });
        const ReadBack read = Read(png, 1);
        EXPECT_EQ(read.bitDepth, 8);
        EXPECT_EQ(read.colourType, 0);
        EXPECT_TRUE(read.rows == c.pixels);
        // An ASCII text as tEXt, a UTF-8 one as iTXt, both before the pixels.
        EXPECT_THAT(read.chunks, ::testing::IsSupersetOf({"IHDR", "tEXt", "iTXt", "IDAT", "IEND"}));
        EXPECT_LT(std::find(read.chunks.begin(), read.chunks.end(), "iTXt"),
                  std::find(read.chunks.begin(), read.chunks.end(), "IDAT"));
        EXPECT_LT(imagefiles::EncodePng(picture, {}).size(), png.size()) << "the text chunks are in the file";
    }
}

TEST(PngEncoder, RgbAndSixteenBitPicturesReadBackExactly) {
    std::mt19937 random(7);
    const auto eight = Samples<uint8_t>(3 * 33 * 9, [&](size_t) { return static_cast<uint8_t>(random()); });
    const auto sixteenGrey = Samples<uint16_t>(
        31 * 7, [&](size_t i) { return static_cast<uint16_t>(i % 2 ? random() : 65535 - i); });
    const auto sixteenRgb =
        Samples<uint16_t>(3 * 5 * 3, [&](size_t) { return static_cast<uint16_t>(random()); });
    // 16-bit RGB of 2.3 MB: encoded in parts, each part's first row filtered against the last of the
    // part before it.
    const auto large = Samples<uint16_t>(3 * 640 * 600, [](size_t i) {
        return static_cast<uint16_t>((i * 2654435761u) >> 7 ^ (i / 1920) * 97);
    });
    struct Case {
        std::string what;
        Picture picture;
        int32_t colourType;
    };
    const std::vector<Case> cases = {{"8-bit RGB", {33, 9, 3, eight, {}}, 2},
                                     {"16-bit grey", {31, 7, 1, {}, sixteenGrey}, 0},
                                     {"16-bit RGB", {5, 3, 3, {}, sixteenRgb}, 2},
                                     {"16-bit RGB in parts", {640, 600, 3, {}, large}, 2}};
    imagefiles::PngEncoder encoder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<uint8_t> png = imagefiles::EncodePng(c.picture, {{"Encoding", c.what}});
        const size_t bytesPerPixel =
            static_cast<size_t>(c.picture.channels) * static_cast<size_t>(c.picture.BitDepth() / 8);
        const ReadBack read = Read(png, bytesPerPixel);
        EXPECT_EQ(read.width, c.picture.width);
        EXPECT_EQ(read.height, c.picture.height);
        EXPECT_EQ(read.bitDepth, c.picture.BitDepth());
        EXPECT_EQ(read.colourType, c.colourType);
        EXPECT_TRUE(read.rows == FileBytes(c.picture));
        // The same picture through an encoder that wrote others before gives the same file.
        std::vector<uint8_t> again;
        encoder.Encode(c.picture, {{"Encoding", c.what}}, [&](const uint8_t* bytes, size_t size) {
            again.insert(again.end(), bytes, bytes + size);
        });
        EXPECT_TRUE(again == png);
    }
}

TEST(PngEncoder, PicturesItCannotWriteAreRefusedWithAnError) {
    const std::vector<uint8_t> four(4 * 2 * 2, 1);
    const std::vector<uint16_t> short16(5, 1);
    imagefiles::PngEncoder encoder;
    const auto sink = [](const uint8_t*, size_t) {};
    for (const Picture& picture :
         {Picture{}, Picture{0, 5, 1, four, {}}, Picture{2, -1, 1, four, {}}, Picture{2, 2, 4, four, {}},
          Picture{2, 2, 2, four, {}}, Picture{3, 3, 3, four, {}}, Picture{2, 3, 1, {}, short16}})
        EXPECT_THROW(encoder.Encode(picture, {}, sink), std::runtime_error)
            << picture.width << " x " << picture.height << " x " << picture.channels;
    // A good picture after the refusals.
    EXPECT_NO_THROW(encoder.Encode({2, 2, 3, std::vector<uint8_t>(12, 7), {}}, {}, sink));
}

} // namespace zeb::test
