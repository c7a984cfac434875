// Texts for people, and the few ways zeb compares and tidies them. What zeb writes for people to
// read goes to the C runtime's standard output or standard error (printf, fputs, CLI11 through
// std::cout and std::cerr, the plug-in's own messages), whose text mode ends a line in CR LF on
// Windows; nothing writes to the file descriptors or console handles directly.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace zeb::cli {

// The text with ASCII letters in lower case; other bytes as they are.
std::string Lowercase(std::string text);
// The text without blanks, tabs and line ends at either end.
std::string Trim(std::string_view text);

// The text with every control byte (below 0x20, and 0x7f) written as \xNN, so that a name from a
// station file, the plug-in or a request can neither break a line of output nor forge one, nor
// send escape sequences to a terminal.
std::string Printable(std::string_view text);

// "1 file", "2 files", "0 image sets": the count and the noun, plural unless the count is 1.
std::string Count(int64_t count, const std::string& noun);

// A time as UTC in ISO 8601 with milliseconds: "2025-01-31T12:00:00.000Z".
std::string IsoTime(std::chrono::system_clock::time_point time);

} // namespace zeb::cli
