// What zeb writes for people to read: counts with their noun in the right number. Every line goes
// to the C runtime's standard output or standard error (printf, fputs, CLI11 through std::cout and
// std::cerr, the plug-in's own messages), whose text mode ends it in CR LF on Windows; nothing
// writes to the file descriptors or console handles directly.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

namespace zeb::cli {

// "1 file", "2 files", "0 image sets": the count and the noun, plural unless the count is 1.
std::string Count(int64_t count, const std::string& noun);

// JSON text of `value`, indented by `indent` spaces (-1: one line). Texts that came from outside
// (a name typed or sent, a file's bytes) may be no UTF-8: such bytes become U+FFFD rather than end
// the program.
std::string JsonText(const nlohmann::json& value, int indent = -1);

} // namespace zeb::cli
