// Small text files a person names (profiles, station files), read whole but never more than a
// bound, so that a wrong name (/dev/zero, a recording, a disk image) ends in a clear error.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace zeb::cli {

// The most a profile or a station file may hold: far above any real one (a station file of every
// key is a few kilobytes), far below what would strain memory.
constexpr uint64_t SettingsFileLimit = 4u << 20; // 4 MiB

// The file's bytes. Throws CommandError "cannot read the WHAT FILE: REASON" when it cannot be
// read, and "the WHAT FILE is larger than N MiB: ..." when it holds more than `limit` bytes (read
// as a stream, so that devices and pipes without a size are bounded too).
std::string ReadBoundedFile(const std::filesystem::path& file, const std::string& what,
                            uint64_t limit = SettingsFileLimit);

} // namespace zeb::cli
