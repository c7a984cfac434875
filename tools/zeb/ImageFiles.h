// PNG files of delivered images: the stacked directions, the average and a 2 x 2 contact sheet.
#pragma once

#include "HostChannel.h"

#include <string>

namespace zeb::cli {

// Writes an 8-bit grey PNG; throws std::runtime_error when the file cannot be written.
void WritePng(const std::string& path, const host::Image& image);
// The four direction images of a stacked image set: area scan frames one below the other, line
// scan rows interleaved (row 4 j + k belongs to direction k).
host::Image Direction(const host::Image& stack, bool linescan, int32_t direction);
// The pixel-wise average of the four directions, as the plug-in computes it.
host::Image Average(const host::Image& stack, bool linescan);
// The four directions side by side: 0 1 over 2 3.
host::Image ContactSheet(const host::Image& stack, bool linescan);

} // namespace zeb::cli
