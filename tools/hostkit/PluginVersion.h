// The version text a plug-in file carries, read from the file without loading it: on Linux from
// its ELF note (section ".note.zeb.version", owner "Zeb", type 1), on Windows from its version
// resource.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zeb::host {

// The plug-in's version text ("26.1.0.564"); throws std::runtime_error naming the file and the
// reason when the file cannot be read or carries none.
std::string PluginVersion(const std::string& path);

// The text of the version note in the bytes of a 64-bit little-endian ELF file; throws
// std::runtime_error saying what is wrong when the bytes are no such file or hold no such note.
std::string ElfNoteVersion(std::string_view file);

#if defined(_WIN32)
// One text of a file's version resource ("FileVersion", "CompanyName", ...) in its first language
// block; none when the file has no resource or the resource no such text.
std::optional<std::string> VersionResourceText(const std::string& path, const std::string& key);
#endif

} // namespace zeb::host
