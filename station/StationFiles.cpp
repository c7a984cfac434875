#include "StationFiles.h"

#include <fstream>
#include <stdexcept>
#include <system_error>

namespace zeb::station {

namespace {

class Disk : public FileSource {
    // The file opened for reading; a folder or a file that cannot be opened throws with the reason.
    static std::ifstream Open(const std::filesystem::path& path) {
        std::error_code error;
        if (std::filesystem::is_directory(path, error))
            throw std::runtime_error("is a folder, not a file");
        std::ifstream in(path, std::ios::binary);
        if (!in)
            throw std::runtime_error("cannot be read");
        return in;
    }

public:
    std::string Read(const std::filesystem::path& path, uint64_t limit) const override {
        std::ifstream in = Open(path);
        in.seekg(0, std::ios::end);
        const std::streamoff size = in.tellg();
        if (size < 0)
            throw std::runtime_error("cannot be read");
        if (static_cast<uint64_t>(size) > limit)
            throw std::runtime_error("is larger than " + std::to_string(limit) + " bytes");
        std::string bytes(static_cast<size_t>(size), '\0');
        in.seekg(0, std::ios::beg);
        if (!in.read(bytes.data(), size))
            throw std::runtime_error("cannot be read");
        return bytes;
    }

    std::string Head(const std::filesystem::path& path, size_t count) const override {
        std::ifstream in = Open(path);
        std::string bytes(count, '\0');
        in.read(bytes.data(), static_cast<std::streamsize>(count));
        if (in.bad())
            throw std::runtime_error("cannot be read");
        bytes.resize(static_cast<size_t>(in.gcount()));
        return bytes;
    }

    std::vector<std::string> List(const std::filesystem::path& folder) const override {
        std::error_code error;
        if (!std::filesystem::is_directory(folder, error))
            throw std::runtime_error("is no folder");
        std::vector<std::string> names;
        for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error))
            if (it->is_regular_file(error))
                names.push_back(it->path().filename().string());
        if (error)
            throw std::runtime_error("cannot be listed: " + error.message());
        return names;
    }
};

class Memory : public FileSource {
public:
    Memory(std::string bytes, std::vector<std::string> names)
        : _bytes(std::move(bytes)), _names(std::move(names)) {}
    std::string Read(const std::filesystem::path&, uint64_t limit) const override {
        if (_bytes.size() > limit)
            throw std::runtime_error("is larger than " + std::to_string(limit) + " bytes");
        return _bytes;
    }
    std::string Head(const std::filesystem::path&, size_t count) const override {
        return _bytes.substr(0, count);
    }
    std::vector<std::string> List(const std::filesystem::path&) const override { return _names; }

private:
    std::string _bytes;
    std::vector<std::string> _names;
};

} // namespace

std::shared_ptr<const FileSource> MemoryFiles(std::string bytes, std::vector<std::string> names) {
    return std::make_shared<Memory>(std::move(bytes), std::move(names));
}

std::shared_ptr<const FileSource> DiskFiles() {
    static const std::shared_ptr<const FileSource> disk = std::make_shared<Disk>();
    return disk;
}

std::filesystem::path BesideStationFile(const std::string& stationFile, const std::string& path) {
    const std::filesystem::path given(path);
    if (given.is_absolute() || given.has_root_name())
        return given;
    return std::filesystem::path(stationFile).parent_path() / given;
}

} // namespace zeb::station
