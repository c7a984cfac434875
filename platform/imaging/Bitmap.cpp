// The imaging library: 8-bit grey images and the few operations the setup assistant uses. Plain
// loops over packed rows that the compiler vectorises.
#include "DervoImaging.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace Dervo::Imaging {

Bitmap::Bitmap(int32_t width, int32_t height, int32_t type, int32_t)
    : _width(std::max(0, width)), _height(std::max(0, height)), _type(type), _stride(std::max(0, width)),
      _pixels(static_cast<size_t>(_width) * static_cast<size_t>(_height)),
      _data(_pixels.empty() ? nullptr : _pixels.data()) {}

Bitmap::Bitmap(int32_t width, int32_t height, int32_t type, unsigned char* data, int32_t stride)
    : _width(std::max(0, width)), _height(std::max(0, height)), _type(type),
      _stride(stride > 0 ? stride : std::max(0, width)), _data(data) {}

Bitmap::Bitmap(const Bitmap& other) : Bitmap(other._width, other._height, other._type, DefaultBackend) {
    for (int32_t row = 0; row < _height; ++row)
        std::memcpy(UInt8RowPtr(row), other.UInt8RowPtr(row), static_cast<size_t>(_width));
}

Bitmap& Bitmap::operator=(const Bitmap& other) {
    if (this == &other)
        return *this;
    if (_pixels.empty() || _width != other._width || _height != other._height) {
        Bitmap copy(other);
        *this = std::move(copy);
        return *this;
    }
    for (int32_t row = 0; row < _height; ++row)
        std::memcpy(UInt8RowPtr(row), other.UInt8RowPtr(row), static_cast<size_t>(_width));
    _type = other._type;
    return *this;
}

void Bitmap::GetMeanStdDev(double& mean, double& standardDeviation) const {
    const double count = static_cast<double>(_width) * _height;
    if (count == 0 || !_data) {
        mean = 0;
        standardDeviation = 0;
        return;
    }
    uint64_t sum = 0, squares = 0;
    for (int32_t row = 0; row < _height; ++row) {
        const uint8_t* p = UInt8RowPtr(row);
        uint32_t rowSum = 0, rowSquares = 0;
        for (int32_t x = 0; x < _width; ++x) {
            rowSum += p[x];
            rowSquares += static_cast<uint32_t>(p[x]) * p[x];
        }
        sum += rowSum;
        squares += rowSquares;
    }
    mean = static_cast<double>(sum) / count;
    standardDeviation = std::sqrt(std::max(0.0, static_cast<double>(squares) / count - mean * mean));
}

void Bitmap::CopyRemoveBorder(const Bitmap& source, Bitmap& destination, int32_t top, int32_t bottom,
                              int32_t left, int32_t right) {
    const int32_t width = std::max(0, source._width - left - right);
    const int32_t height = std::max(0, source._height - top - bottom);
    destination = Bitmap(width, height, source._type, DefaultBackend);
    for (int32_t row = 0; row < height; ++row)
        std::memcpy(destination.UInt8RowPtr(row), source.UInt8RowPtr(row + top) + left,
                    static_cast<size_t>(width));
}

void Bitmap::MorphologicalGradient(const Bitmap& source, Bitmap& destination, int32_t, int32_t elementWidth,
                                   int32_t elementHeight, int32_t anchorX, int32_t anchorY, int32_t, int32_t,
                                   int32_t iterations) {
    const int32_t width = source._width, height = source._height;
    destination = Bitmap(width, height, source._type, DefaultBackend);
    if (width == 0 || height == 0)
        return;
    const int32_t ax = anchorX < 0 ? elementWidth / 2 : anchorX;
    const int32_t ay = anchorY < 0 ? elementHeight / 2 : anchorY;
    Bitmap low(source), high(source);
    std::vector<uint8_t> rowMin(static_cast<size_t>(width)), rowMax(static_cast<size_t>(width));
    for (int32_t pass = 0; pass < std::max(1, iterations); ++pass) {
        const Bitmap lowIn(low), highIn(high);
        for (int32_t y = 0; y < height; ++y) {
            std::fill(rowMin.begin(), rowMin.end(), 255);
            std::fill(rowMax.begin(), rowMax.end(), 0);
            for (int32_t dy = -ay; dy < elementHeight - ay; ++dy) {
                const int32_t sy = std::clamp(y + dy, 0, height - 1); // replicated border
                const uint8_t* lo = lowIn.UInt8RowPtr(sy);
                const uint8_t* hi = highIn.UInt8RowPtr(sy);
                for (int32_t dx = -ax; dx < elementWidth - ax; ++dx) {
                    const int32_t begin = std::max(0, -dx), end = std::min(width, width - dx);
                    for (int32_t x = begin; x < end; ++x) {
                        rowMin[static_cast<size_t>(x)] = std::min(rowMin[static_cast<size_t>(x)], lo[x + dx]);
                        rowMax[static_cast<size_t>(x)] = std::max(rowMax[static_cast<size_t>(x)], hi[x + dx]);
                    }
                    for (int32_t x = 0; x < begin; ++x) {
                        rowMin[static_cast<size_t>(x)] = std::min(rowMin[static_cast<size_t>(x)], lo[0]);
                        rowMax[static_cast<size_t>(x)] = std::max(rowMax[static_cast<size_t>(x)], hi[0]);
                    }
                    for (int32_t x = end; x < width; ++x) {
                        rowMin[static_cast<size_t>(x)] =
                            std::min(rowMin[static_cast<size_t>(x)], lo[width - 1]);
                        rowMax[static_cast<size_t>(x)] =
                            std::max(rowMax[static_cast<size_t>(x)], hi[width - 1]);
                    }
                }
            }
            std::memcpy(low.UInt8RowPtr(y), rowMin.data(), static_cast<size_t>(width));
            std::memcpy(high.UInt8RowPtr(y), rowMax.data(), static_cast<size_t>(width));
        }
    }
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* lo = low.UInt8RowPtr(y);
        const uint8_t* hi = high.UInt8RowPtr(y);
        uint8_t* out = destination.UInt8RowPtr(y);
        for (int32_t x = 0; x < width; ++x)
            out[x] = static_cast<uint8_t>(hi[x] - lo[x]);
    }
}

} // namespace Dervo::Imaging
