// The averaged form of one image set, read straight from the camera's frames.
//
// The direction stack of an image set (width W, height H x F) holds frame k's rows at rows k x H to
// k x H + H - 1. Output row j is the pixel-wise (p0 + p1 + p2 + p3) >> 2 of the stack rows b,
// b + offset, b + 2 x offset and b + 3 x offset, where b = step x j: with step 1 and offset H (area
// scan) that is row j of the four frames, with step 4 and offset 1 (line scan) four consecutive rows
// of the one frame. A frame whose size differs from the image set's is never copied into a stack,
// which is new and zeroed for every image set, so it counts as zeros here too.
#pragma once

#include "DervoImaging.h"

#include <cstdint>
#include <vector>

namespace Tamo::Morvane::Zeb {

class DirectionStackAverage {
public:
    DirectionStackAverage(int32_t width, int32_t frameHeight, int32_t frames, int32_t step, int32_t offset);

    // Frame k's pixels and bytes per row; null for a frame that is skipped.
    void SetFrame(int32_t k, const uint8_t* data, int32_t stride);

    // Writes `outputHeight` packed rows of the average into `output`. With `stack` (a zeroed image
    // of W x H x F), the frames' rows are copied into it in the same pass.
    void Write(uint8_t* output, int32_t outputHeight, Dervo::Imaging::Bitmap* stack) const;

private:
    const uint8_t* StackRow(int32_t row) const;
    bool Averaged(int32_t row, int32_t outputHeight) const;
    // Four whole frames one after the other in memory order of the output: one call does it all.
    bool FramesAreContiguous(int32_t outputHeight) const;

    int32_t _width;
    int32_t _frameHeight;
    int32_t _frames;
    int32_t _step;
    int32_t _offset;
    std::vector<const uint8_t*> _data;
    std::vector<int32_t> _strides;
    std::vector<uint8_t> _zeros;
};

} // namespace Tamo::Morvane::Zeb
