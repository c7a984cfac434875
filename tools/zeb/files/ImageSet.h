// The pictures of one delivered image set: its four direction images, their average and a 2 x 2
// contact sheet.
#pragma once

#include "hostkit/HostChannel.h"
#include "imagefiles/Png.h"

namespace zeb::cli {

// Direction image k of a stacked image set: area scan frames one below the other, line scan rows
// interleaved (row 4 j + k belongs to direction k).
host::Image Direction(const host::Image& stack, bool lineScan, int32_t direction);
// The pixel-wise average of the four directions, as the plug-in computes it.
host::Image Average(const host::Image& stack, bool lineScan);
// The four directions side by side: 0 1 over 2 3.
host::Image ContactSheet(const host::Image& stack, bool lineScan);

// The same into `out`, whose pixel memory is used again when it is large enough.
void Direction(const host::Image& stack, bool lineScan, int32_t direction, host::Image& out);
void Average(const host::Image& stack, bool lineScan, host::Image& out);
void ContactSheet(const host::Image& stack, bool lineScan, host::Image& out);

// The image as an 8-bit grey picture for its PNG file; it refers to the image's pixels.
imagefiles::Picture GreyPicture(const host::Image& image);

} // namespace zeb::cli
