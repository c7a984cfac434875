#include "DirectionStackAverage.h"

#include "ImageKernels.h"

#include <algorithm>
#include <cstring>

namespace Tamo::Morvane::Zeb {

DirectionStackAverage::DirectionStackAverage(int32_t width, int32_t frameHeight, int32_t frames, int32_t step,
                                             int32_t offset)
    : _width(std::max(0, width)), _frameHeight(std::max(0, frameHeight)), _frames(std::max(0, frames)),
      _step(std::max(1, step)), _offset(offset), _data(static_cast<size_t>(_frames), nullptr),
      _strides(static_cast<size_t>(_frames), 0), _zeros(static_cast<size_t>(std::max(1, _width)), 0) {}

void DirectionStackAverage::SetFrame(int32_t k, const uint8_t* data, int32_t stride) {
    if (k < 0 || k >= _frames)
        return;
    _data[static_cast<size_t>(k)] = data;
    _strides[static_cast<size_t>(k)] = stride;
}

const uint8_t* DirectionStackAverage::StackRow(int32_t row) const {
    if (_frameHeight == 0 || row < 0 || row / _frameHeight >= _frames)
        return _zeros.data();
    const size_t k = static_cast<size_t>(row / _frameHeight);
    if (!_data[k])
        return _zeros.data();
    return _data[k] + static_cast<int64_t>(row % _frameHeight) * _strides[k];
}

bool DirectionStackAverage::Averaged(int32_t row, int32_t outputHeight) const {
    for (int32_t i = 0; i < 4; ++i) {
        const int64_t base = static_cast<int64_t>(row) - static_cast<int64_t>(i) * _offset;
        if (base >= 0 && base % _step == 0 && base / _step < outputHeight)
            return true;
    }
    return false;
}

bool DirectionStackAverage::FramesAreContiguous(int32_t outputHeight) const {
    if (_frames != 4 || _step != 1 || _offset != _frameHeight || outputHeight != _frameHeight)
        return false;
    for (size_t k = 0; k < 4; ++k)
        if (!_data[k] || _strides[k] != _width)
            return false;
    return true;
}

void DirectionStackAverage::Write(uint8_t* output, int32_t outputHeight,
                                  Dervo::Imaging::Bitmap* stack) const {
    const size_t width = static_cast<size_t>(_width);
    if (width > 0 && FramesAreContiguous(outputHeight)) {
        const size_t count = width * static_cast<size_t>(_frameHeight);
        if (stack) {
            uint8_t* const copies[4] = {stack->Data(), stack->Data() + count, stack->Data() + 2 * count,
                                        stack->Data() + 3 * count};
            ImageKernels::AverageAndCopy(_data.data(), copies, output, count);
        } else {
            ImageKernels::Average(_data[0], _data[1], _data[2], _data[3], output, count);
        }
        return;
    }
    for (int32_t j = 0; j < outputHeight && width > 0; ++j) {
        const int32_t b = _step * j;
        const int32_t stackRows[4] = {b, b + _offset, b + 2 * _offset, b + 3 * _offset};
        const uint8_t* const rows[4] = {StackRow(stackRows[0]), StackRow(stackRows[1]),
                                        StackRow(stackRows[2]), StackRow(stackRows[3])};
        uint8_t* out = output + static_cast<int64_t>(j) * _width;
        if (stack) {
            uint8_t* const copies[4] = {stack->UInt8RowPtr(stackRows[0]), stack->UInt8RowPtr(stackRows[1]),
                                        stack->UInt8RowPtr(stackRows[2]), stack->UInt8RowPtr(stackRows[3])};
            ImageKernels::AverageAndCopy(rows, copies, out, width);
        } else {
            ImageKernels::Average(rows[0], rows[1], rows[2], rows[3], out, width);
        }
    }
    if (!stack || width == 0)
        return;
    // Rows no output row reads (a line-scan frame's rows past its last group of four) still belong
    // to the stack the assistant receives.
    const int32_t stackHeight = _frameHeight * _frames;
    for (int32_t row = 0; row < stackHeight; ++row)
        if (!Averaged(row, outputHeight))
            std::memcpy(stack->UInt8RowPtr(row), StackRow(row), width);
}

} // namespace Tamo::Morvane::Zeb
