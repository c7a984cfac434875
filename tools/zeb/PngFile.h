// 8-bit grey PNG files with text chunks, the same code on every target.
#pragma once

#include "HostChannel.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace zeb::cli {

// Keyword and text of one PNG text chunk. ASCII texts become tEXt chunks, others (UTF-8) iTXt.
using PngText = std::pair<std::string, std::string>;

// The PNG file's bytes; the text chunks follow the header chunk.
std::vector<uint8_t> EncodePng(const host::Image& image, const std::vector<PngText>& texts);
// Writes the PNG file; throws std::runtime_error naming the file when it cannot be written.
void WritePng(const std::filesystem::path& path, const host::Image& image, const std::vector<PngText>& texts);

} // namespace zeb::cli
