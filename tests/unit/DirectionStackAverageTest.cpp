// The averaged form read straight from the frames against the same image set put together the long
// way: a new zeroed direction stack with the rows of every frame of the right size, then averaged.
#include "DirectionStackAverage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace Zeb = Tamo::Morvane::Zeb;
using Dervo::Imaging::Bitmap;

namespace {

// One camera frame: its rows `stride` bytes apart; `skipped` frames have another size.
struct Frame {
    std::vector<uint8_t> bytes;
    int32_t stride = 0;
    bool skipped = false;
};

struct Layout {
    int32_t width, height, frames, step, offset;
};

Layout AreaScan(int32_t width, int32_t height) {
    return {width, height, 4, 1, height};
}
Layout LineScan(int32_t width, int32_t height) {
    return {width, height, 1, 4, 1};
}

std::vector<Frame> MakeFrames(const Layout& layout, const std::vector<int32_t>& strides, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<Frame> frames(static_cast<size_t>(layout.frames));
    for (size_t k = 0; k < frames.size(); ++k) {
        frames[k].stride = strides[k % strides.size()];
        frames[k].bytes.resize(static_cast<size_t>(frames[k].stride) * static_cast<size_t>(layout.height));
        for (uint8_t& byte : frames[k].bytes)
            byte = static_cast<uint8_t>(random());
    }
    return frames;
}

Bitmap ReferenceStack(const Layout& layout, const std::vector<Frame>& frames) {
    Bitmap stack(layout.width, layout.height * layout.frames);
    for (int32_t k = 0; k < layout.frames; ++k) {
        const Frame& frame = frames[static_cast<size_t>(k)];
        if (frame.skipped)
            continue;
        for (int32_t row = 0; row < layout.height; ++row)
            std::memcpy(stack.UInt8RowPtr(k * layout.height + row),
                        frame.bytes.data() + static_cast<size_t>(row) * static_cast<size_t>(frame.stride),
                        static_cast<size_t>(layout.width));
    }
    return stack;
}

std::vector<uint8_t> ReferenceAverage(const Layout& layout, const Bitmap& stack, int32_t outputHeight) {
    std::vector<uint8_t> out(static_cast<size_t>(layout.width) * static_cast<size_t>(outputHeight));
    for (int32_t j = 0; j < outputHeight; ++j) {
        const int32_t b = layout.step * j;
        for (int32_t x = 0; x < layout.width; ++x) {
            uint32_t sum = 0;
            for (int32_t i = 0; i < 4; ++i)
                sum += stack.UInt8RowPtr(b + i * layout.offset)[x];
            out[static_cast<size_t>(j) * static_cast<size_t>(layout.width) + static_cast<size_t>(x)] =
                static_cast<uint8_t>(sum >> 2);
        }
    }
    return out;
}

void ExpectLikeTheLongWay(const Layout& layout, const std::vector<Frame>& frames) {
    const int32_t outputHeight = (layout.height * layout.frames) / 4;
    const Bitmap referenceStack = ReferenceStack(layout, frames);
    const std::vector<uint8_t> expected = ReferenceAverage(layout, referenceStack, outputHeight);

    Zeb::DirectionStackAverage average(layout.width, layout.height, layout.frames, layout.step,
                                       layout.offset);
    for (int32_t k = 0; k < layout.frames; ++k) {
        const Frame& frame = frames[static_cast<size_t>(k)];
        average.SetFrame(k, frame.skipped ? nullptr : frame.bytes.data(), frame.stride);
    }
    std::vector<uint8_t> direct(expected.size() + 1, 0xEE), withStack(expected.size() + 1, 0xEE);
    average.Write(direct.data(), outputHeight, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(direct.begin(), direct.end() - 1), expected) << "without a stack";
    EXPECT_EQ(direct.back(), 0xEE) << "written past the image";

    Bitmap stack(layout.width, layout.height * layout.frames);
    average.Write(withStack.data(), outputHeight, &stack);
    EXPECT_EQ(std::vector<uint8_t>(withStack.begin(), withStack.end() - 1), expected) << "with a stack";
    EXPECT_EQ(withStack.back(), 0xEE) << "written past the image";
    const size_t stackBytes = static_cast<size_t>(stack.Width()) * static_cast<size_t>(stack.Height());
    ASSERT_EQ(stackBytes, static_cast<size_t>(referenceStack.Width()) * referenceStack.Height());
    EXPECT_EQ(stackBytes == 0 || std::memcmp(stack.Data(), referenceStack.Data(), stackBytes) == 0, true)
        << "the stack an assistant receives";
}

} // namespace

TEST(DirectionStackAverage, AreaScanFramesInOneBlockOrWithPaddedRows) {
    for (int32_t width : {1, 16, 37, 64, 100}) {
        SCOPED_TRACE(width);
        const Layout layout = AreaScan(width, 9);
        ExpectLikeTheLongWay(layout, MakeFrames(layout, {width}, 1));
    }
    const Layout layout = AreaScan(37, 6);
    ExpectLikeTheLongWay(layout, MakeFrames(layout, {37, 40, 64, 37}, 2));
    ExpectLikeTheLongWay(layout, MakeFrames(layout, {48}, 3));
}

TEST(DirectionStackAverage, SkippedFramesCountAsZerosWhereverTheyAre) {
    for (int mask = 1; mask < 16; ++mask) {
        SCOPED_TRACE(mask);
        const Layout layout = AreaScan(21, 5);
        std::vector<Frame> frames = MakeFrames(layout, {21, 24}, static_cast<uint32_t>(mask));
        for (size_t k = 0; k < 4; ++k)
            frames[k].skipped = (mask >> k & 1) != 0;
        ExpectLikeTheLongWay(layout, frames);
    }
}

TEST(DirectionStackAverage, LineScanGroupsOfFourRowsAndTheRowsPastTheLastGroup) {
    for (int32_t height : {1, 3, 4, 10, 12, 1002}) {
        SCOPED_TRACE(height);
        const Layout layout = LineScan(35, height);
        ExpectLikeTheLongWay(layout, MakeFrames(layout, {35}, 4));
        ExpectLikeTheLongWay(layout, MakeFrames(layout, {40}, 5));
        std::vector<Frame> skipped = MakeFrames(layout, {35}, 6);
        skipped[0].skipped = true;
        ExpectLikeTheLongWay(layout, skipped);
    }
}

TEST(DirectionStackAverage, NoFramesGiveAnEmptyImage) {
    const Layout layout{40, 8, 0, 1, 8};
    ExpectLikeTheLongWay(layout, {});
}

TEST(DirectionStackAverage, FramesOutsideTheSetAndEmptyShapesWriteNothingWrong) {
    // Three frames of 8 x 2: the fourth direction reads as zeros, frames -1 and 3 are not the set's.
    Zeb::DirectionStackAverage average(8, 2, 3, 1, 2);
    const std::vector<uint8_t> a(16, 40), b(16, 80), c(16, 120), stray(16, 255);
    average.SetFrame(-1, stray.data(), 8);
    average.SetFrame(3, stray.data(), 8);
    average.SetFrame(0, a.data(), 8);
    average.SetFrame(1, b.data(), 8);
    average.SetFrame(2, c.data(), 8);
    std::vector<uint8_t> out(17, 0xEE);
    average.Write(out.data(), 2, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.end() - 1), std::vector<uint8_t>(16, 60));
    EXPECT_EQ(out.back(), 0xEE);

    // No width, negative sizes: nothing written. Frames of no height: zeros.
    std::vector<uint8_t> untouched(8, 0xEE);
    Zeb::DirectionStackAverage(0, 4, 4, 1, 4).Write(untouched.data(), 4, nullptr);
    Zeb::DirectionStackAverage(-3, 2, -1, 0, 2).Write(untouched.data(), 1, nullptr);
    EXPECT_EQ(untouched, std::vector<uint8_t>(8, 0xEE));
    Zeb::DirectionStackAverage flat(8, 0, 4, 1, 0);
    flat.SetFrame(0, a.data(), 8);
    flat.Write(untouched.data(), 1, nullptr);
    EXPECT_EQ(untouched, std::vector<uint8_t>(8, 0));
}
