#include "ImageFiles.h"

#include <png.h>

#include <cstring>
#include <stdexcept>

namespace zeb::cli {

void WritePng(const std::string& path, const host::Image& image) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = PNG_FORMAT_GRAY;
    if (!png_image_write_to_file(&png, path.c_str(), 0, image.pixels.data(), image.width, nullptr))
        throw std::runtime_error("cannot write " + path + ": " + png.message);
}

host::Image Direction(const host::Image& stack, bool linescan, int32_t direction) {
    host::Image out;
    out.width = stack.width;
    out.height = stack.height / 4;
    out.pixels.resize(static_cast<size_t>(out.width) * out.height);
    for (int32_t row = 0; row < out.height; ++row) {
        const int32_t source = linescan ? 4 * row + direction : direction * out.height + row;
        std::memcpy(&out.pixels[static_cast<size_t>(row) * out.width],
                    &stack.pixels[static_cast<size_t>(source) * stack.width], static_cast<size_t>(out.width));
    }
    return out;
}

host::Image Average(const host::Image& stack, bool linescan) {
    host::Image directions[4];
    for (int32_t k = 0; k < 4; ++k)
        directions[k] = Direction(stack, linescan, k);
    host::Image out = directions[0];
    for (size_t i = 0; i < out.pixels.size(); ++i)
        out.pixels[i] = static_cast<uint8_t>((directions[0].pixels[i] + directions[1].pixels[i] +
                                              directions[2].pixels[i] + directions[3].pixels[i]) >>
                                             2);
    return out;
}

host::Image ContactSheet(const host::Image& stack, bool linescan) {
    host::Image sheet;
    const host::Image first = Direction(stack, linescan, 0);
    sheet.width = first.width * 2;
    sheet.height = first.height * 2;
    sheet.pixels.resize(static_cast<size_t>(sheet.width) * sheet.height);
    for (int32_t k = 0; k < 4; ++k) {
        const host::Image part = Direction(stack, linescan, k);
        const int32_t left = (k % 2) * part.width, top = (k / 2) * part.height;
        for (int32_t row = 0; row < part.height; ++row)
            std::memcpy(&sheet.pixels[static_cast<size_t>(top + row) * sheet.width + left],
                        &part.pixels[static_cast<size_t>(row) * part.width], static_cast<size_t>(part.width));
    }
    return sheet;
}

} // namespace zeb::cli
