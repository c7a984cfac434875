// Small text files a person names (profiles, station files), read whole but never more than a
// bound, so that a wrong name (/dev/zero, a recording, a disk image) ends in a clear error.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
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

// Refuses to let a command replace a file that holds something else than it writes: throws
// CommandError "FILE exists and is not KIND: remove it or choose another name" when `file` exists,
// is not empty and `isKind` does not accept its text (or it is larger than `limit`), and "cannot
// write the WHAT FILE: it is a folder" for a folder. A missing or empty file is left to the command.
void RefuseToReplace(const std::filesystem::path& file, const std::string& what, const std::string& kind,
                     const std::function<bool(const std::string&)>& isKind,
                     uint64_t limit = SettingsFileLimit);

// Writes the file whole or not at all: the bytes go to a file beside it that is then renamed over
// it, so that a failure leaves the earlier file as it was and no half-written one. Throws
// CommandError "cannot write the WHAT FILE: REASON".
void WriteWholeFile(const std::filesystem::path& file, const std::string& bytes, const std::string& what);

} // namespace zeb::cli
