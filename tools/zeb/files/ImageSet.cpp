#include "files/ImageSet.h"

#include <cstring>

namespace zeb::cli {

namespace {

// Row `row` of direction `direction` in the stack.
const uint8_t* DirectionRow(const host::Image& stack, bool lineScan, int32_t direction, int32_t row) {
    const int32_t source = lineScan ? 4 * row + direction : direction * (stack.height / 4) + row;
    return &stack.pixels[static_cast<size_t>(source) * static_cast<size_t>(stack.width)];
}

// Sizes `out` as `across` x `down` directions.
void SizeInDirections(const host::Image& stack, int32_t across, int32_t down, host::Image& out) {
    out.width = stack.width * across;
    out.height = stack.height / 4 * down;
    out.pixels.resize(static_cast<size_t>(out.width) * static_cast<size_t>(out.height));
}

} // namespace

host::Image Direction(const host::Image& stack, bool lineScan, int32_t direction) {
    host::Image out;
    Direction(stack, lineScan, direction, out);
    return out;
}

host::Image Average(const host::Image& stack, bool lineScan) {
    host::Image out;
    Average(stack, lineScan, out);
    return out;
}

host::Image ContactSheet(const host::Image& stack, bool lineScan) {
    host::Image out;
    ContactSheet(stack, lineScan, out);
    return out;
}

void Direction(const host::Image& stack, bool lineScan, int32_t direction, host::Image& out) {
    SizeInDirections(stack, 1, 1, out);
    const size_t width = static_cast<size_t>(out.width);
    for (int32_t row = 0; row < out.height; ++row)
        std::memcpy(&out.pixels[static_cast<size_t>(row) * width],
                    DirectionRow(stack, lineScan, direction, row), width);
}

void Average(const host::Image& stack, bool lineScan, host::Image& out) {
    SizeInDirections(stack, 1, 1, out);
    const size_t width = static_cast<size_t>(out.width);
    for (int32_t row = 0; row < out.height; ++row) {
        const uint8_t* d0 = DirectionRow(stack, lineScan, 0, row);
        const uint8_t* d1 = DirectionRow(stack, lineScan, 1, row);
        const uint8_t* d2 = DirectionRow(stack, lineScan, 2, row);
        const uint8_t* d3 = DirectionRow(stack, lineScan, 3, row);
        uint8_t* target = &out.pixels[static_cast<size_t>(row) * width];
        for (size_t x = 0; x < width; ++x)
            target[x] = static_cast<uint8_t>((d0[x] + d1[x] + d2[x] + d3[x]) >> 2);
    }
}

void ContactSheet(const host::Image& stack, bool lineScan, host::Image& sheet) {
    SizeInDirections(stack, 2, 2, sheet);
    const int32_t width = stack.width, height = stack.height / 4;
    for (int32_t k = 0; k < 4; ++k) {
        const int32_t left = (k % 2) * width, top = (k / 2) * height;
        for (int32_t row = 0; row < height; ++row)
            std::memcpy(&sheet.pixels[static_cast<size_t>(top + row) * static_cast<size_t>(sheet.width) +
                                      static_cast<size_t>(left)],
                        DirectionRow(stack, lineScan, k, row), static_cast<size_t>(width));
    }
}

imagefiles::Picture GreyPicture(const host::Image& image) {
    return {image.width, image.height, 1, image.pixels, {}};
}

} // namespace zeb::cli
