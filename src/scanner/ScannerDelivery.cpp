// Delivery of the averaged form of a complete image set into the host's buffer, and its hand-over
// to a running assistant.
#include "DirectionStackAverage.h"
#include "Scanner.h"

#include <vector>

namespace Tamo::Morvane::Zeb {

namespace {

// Frames of one image set, fetched in order and released in the same order once all of them have
// been read. The camera sees the same fetches and releases in the same order as when each frame is
// fetched, copied and released in turn, only the releases come later; when a fetch fails, the frames
// fetched before it are released on the way out, so the camera ends in the same state then too.
class HeldFrames {
public:
    explicit HeldFrames(Tamo::Acquisition::ImageSource& camera) : _camera(camera) {}
    HeldFrames(const HeldFrames&) = delete;
    HeldFrames& operator=(const HeldFrames&) = delete;
    ~HeldFrames() {
        try {
            Release();
        } catch (...) {
        }
    }

    void Hold(int64_t index) { _indices.push_back(index); }
    void Release() {
        while (_released < _indices.size())
            _camera.ReleaseFrame(_indices[_released++]);
    }

private:
    Tamo::Acquisition::ImageSource& _camera;
    std::vector<int64_t> _indices;
    size_t _released = 0;
};

bool Matches(const unsigned char* data, int32_t frameWidth, int32_t frameHeight, int32_t width,
             int32_t height) {
    return data && frameWidth == width && frameHeight == height && height != 0;
}

} // namespace

void Scanner::DeliverAveraged(int32_t frames, int32_t width, int32_t height, int32_t outputHeight,
                              unsigned char* output) {
    // Only a running assistant whose acquisition request is set ever sees the direction stack. For
    // it the stack is new for this image set and filled in the same pass as the average; otherwise
    // no stack is built and the average is read straight from the frames, with the same result.
    const bool assistantWantsImages = _dialog.Status() && _dialog.AcquisitionRequest();
    Dervo::Imaging::Bitmap stack;
    if (assistantWantsImages)
        stack = Dervo::Imaging::Bitmap(width, height * frames, Dervo::Imaging::Bitmap::TypeUInt8,
                                       Dervo::Imaging::Bitmap::DefaultBackend);

    const bool linescan = _controller.Linescan();
    DirectionStackAverage average(width, height, frames, linescan ? 4 : 1, linescan ? 1 : height);
    HeldFrames held(_imageSource);
    for (int32_t k = 0; k < frames; ++k) {
        ++_frameIndex;
        int32_t frameWidth = 0, frameHeight = 0, stride = 0;
        unsigned char* data = nullptr;
        GetFrame(_frameIndex, frameWidth, frameHeight, stride, data);
        held.Hold(_frameIndex);
        average.SetFrame(k, Matches(data, frameWidth, frameHeight, width, height) ? data : nullptr, stride);
    }
    average.Write(output, outputHeight, assistantWantsImages ? &stack : nullptr);
    held.Release();

    if (assistantWantsImages) {
        const Dervo::Imaging::Bitmap intensity(width, outputHeight, Dervo::Imaging::Bitmap::TypeUInt8,
                                               output);
        _dialog.SetBitmaps(stack, intensity);
    }
}

} // namespace Tamo::Morvane::Zeb
