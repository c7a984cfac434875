#include "ImageSet.h"

#include <cstring>

namespace zeb::cli {

host::Image Direction(const host::Image& stack, bool lineScan, int32_t direction) {
    host::Image out;
    out.width = stack.width;
    out.height = stack.height / 4;
    out.pixels.resize(static_cast<size_t>(out.width) * static_cast<size_t>(out.height));
    for (int32_t row = 0; row < out.height; ++row) {
        const int32_t source = lineScan ? 4 * row + direction : direction * out.height + row;
        std::memcpy(&out.pixels[static_cast<size_t>(row) * static_cast<size_t>(out.width)],
                    &stack.pixels[static_cast<size_t>(source) * static_cast<size_t>(stack.width)],
                    static_cast<size_t>(out.width));
    }
    return out;
}

host::Image Average(const host::Image& stack, bool lineScan) {
    host::Image directions[4];
    for (int32_t k = 0; k < 4; ++k)
        directions[k] = Direction(stack, lineScan, k);
    host::Image out = directions[0];
    for (size_t i = 0; i < out.pixels.size(); ++i)
        out.pixels[i] = static_cast<uint8_t>((directions[0].pixels[i] + directions[1].pixels[i] +
                                              directions[2].pixels[i] + directions[3].pixels[i]) >>
                                             2);
    return out;
}

host::Image ContactSheet(const host::Image& stack, bool lineScan) {
    host::Image sheet;
    const int32_t width = stack.width, height = stack.height / 4;
    sheet.width = width * 2;
    sheet.height = height * 2;
    sheet.pixels.resize(static_cast<size_t>(sheet.width) * static_cast<size_t>(sheet.height));
    for (int32_t k = 0; k < 4; ++k) {
        const host::Image part = Direction(stack, lineScan, k);
        const int32_t left = (k % 2) * width, top = (k / 2) * height;
        for (int32_t row = 0; row < height; ++row)
            std::memcpy(&sheet.pixels[static_cast<size_t>(top + row) * static_cast<size_t>(sheet.width) +
                                      static_cast<size_t>(left)],
                        &part.pixels[static_cast<size_t>(row) * static_cast<size_t>(width)],
                        static_cast<size_t>(width));
    }
    return sheet;
}

} // namespace zeb::cli
