// Where a station file's own files come from: an object's height and albedo maps and the image sets a
// camera plays back. They lie beside the station file on disk; the station-file fuzzer gives them from
// memory instead, so that it never reads the disk.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace zeb::station {

class FileSource {
public:
    virtual ~FileSource() = default;
    // The whole file. Throws std::runtime_error with the reason ("cannot be read", "is larger than N
    // bytes") when it cannot be had.
    virtual std::string Read(const std::filesystem::path& path, uint64_t limit) const = 0;
    // The file's first `count` bytes, or all of a shorter file; throws as Read does.
    virtual std::string Head(const std::filesystem::path& path, size_t count) const = 0;
    // The names of the files in a folder; throws std::runtime_error when the folder cannot be listed.
    virtual std::vector<std::string> List(const std::filesystem::path& folder) const = 0;
};

// The files on disk.
std::shared_ptr<const FileSource> DiskFiles();
// Files from memory, for the station-file fuzzer and its corpus: every file named holds `bytes`, and
// every folder lists `names`.
std::shared_ptr<const FileSource> MemoryFiles(std::string bytes, std::vector<std::string> names);

// A path as the station file gives it, relative to the station file's folder unless it is absolute.
std::filesystem::path BesideStationFile(const std::string& stationFile, const std::string& path);

} // namespace zeb::station
