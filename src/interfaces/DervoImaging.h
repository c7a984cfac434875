// Dervo::Imaging::Bitmap: the maker's imaging library as the plug-in calls it; 8-bit grey images.
#pragma once

#include <cstdint>
#include <vector>

namespace Dervo::Imaging {

class Bitmap {
public:
    static constexpr int32_t TypeUInt8 = 0;
    static constexpr int32_t DefaultBackend = 0;

    Bitmap() = default;
    // An image that owns its zeroed pixels.
    Bitmap(int32_t width, int32_t height, int32_t type = TypeUInt8, int32_t backend = DefaultBackend);
    // A view of memory owned by someone else (rows packed unless a stride is given).
    Bitmap(int32_t width, int32_t height, int32_t type, unsigned char* data, int32_t stride = 0);
    // Copies own their pixels, also when the original is a view.
    Bitmap(const Bitmap& other);
    Bitmap& operator=(const Bitmap& other);
    Bitmap(Bitmap&&) noexcept = default;
    Bitmap& operator=(Bitmap&&) noexcept = default;

    int32_t Width() const { return _width; }
    int32_t Height() const { return _height; }
    int32_t Type() const { return _type; }
    int32_t Stride() const { return _stride; }
    unsigned char* Data() const { return _data; }
    unsigned char* UInt8RowPtr(int32_t row) const { return _data + static_cast<int64_t>(row) * _stride; }

    void GetMeanStdDev(double& mean, double& standardDeviation) const;

    // Copies the source without the given borders into `destination`.
    static void CopyRemoveBorder(const Bitmap& source, Bitmap& destination, int32_t top, int32_t bottom,
                                 int32_t left, int32_t right);
    // Morphological gradient (dilation minus erosion). Parameters: shape (1 rectangle), element width
    // and height, anchor x and y (-1 centre), border mode (-1 replicate), border value (unused with
    // replicate), iterations.
    static void MorphologicalGradient(const Bitmap& source, Bitmap& destination, int32_t shape, int32_t width,
                                      int32_t height, int32_t anchorX, int32_t anchorY, int32_t borderMode,
                                      int32_t borderValue, int32_t iterations);

private:
    int32_t _width = 0;
    int32_t _height = 0;
    int32_t _type = TypeUInt8;
    int32_t _stride = 0;
    std::vector<unsigned char> _pixels;
    unsigned char* _data = nullptr;
};

} // namespace Dervo::Imaging
