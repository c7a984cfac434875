#include "files/ImageSetWriter.h"

#include "base/Text.h"
#include "files/ImageSet.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>

#include <fcntl.h>
#if defined(_WIN32)
#include <io.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

namespace zeb::cli {

namespace fs = std::filesystem;

namespace {

std::string Prefix(int32_t channelIndex) {
    return "zeb-channel" + std::to_string(channelIndex) + "-";
}

std::string Number(int64_t number) {
    char text[32];
    std::snprintf(text, sizeof text, "%04lld", static_cast<long long>(number));
    return text;
}

} // namespace

namespace {

// A file created for an image set, open until it is written; removed again unless the whole set
// was written.
class NewFile {
public:
    // Creates `path` unless a file of that name exists (then Created() is false); throws when it
    // cannot be created for another reason.
    explicit NewFile(fs::path path) : _path(std::move(path)) {
#if defined(_WIN32)
        const int descriptor =
            _wopen(_path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
        const int descriptor = ::open(_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
        if (descriptor < 0) {
            if (errno == EEXIST)
                return;
            throw std::runtime_error("cannot create " + _path.string() + ": " + std::strerror(errno));
        }
#if defined(_WIN32)
        _file = _fdopen(descriptor, "wb");
#else
        _file = fdopen(descriptor, "wb");
#endif
        _created = true;
        if (!_file) {
#if defined(_WIN32)
            _close(descriptor);
#else
            ::close(descriptor);
#endif
            throw std::runtime_error("cannot write " + _path.string() + ": " + std::strerror(errno));
        }
    }
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;
    ~NewFile() {
        if (_file)
            std::fclose(_file);
        if (_created && !_kept) {
            std::error_code ignored;
            fs::remove(_path, ignored);
        }
    }

    bool Created() const {
        return _created;
    }
    const fs::path& Path() const {
        return _path;
    }
    void Write(const uint8_t* bytes, size_t size) {
        if (std::fwrite(bytes, 1, size, _file) != size)
            throw std::runtime_error("cannot write " + _path.string() + ": " + std::strerror(errno));
    }
    void Close() {
        const bool closed = std::fclose(_file) == 0;
        _file = nullptr;
        if (!closed)
            throw std::runtime_error("cannot write " + _path.string() + ": " + std::strerror(errno));
    }
    void Keep() {
        _kept = true;
    }

private:
    fs::path _path;
    std::FILE* _file = nullptr;
    bool _created = false, _kept = false;
};

} // namespace

const std::vector<std::string>& ImageSetFileNames() {
    static const std::vector<std::string> names = {"stack", "average", "directions", "direction"};
    return names;
}

const std::vector<std::string>& SurfaceFileNames() {
    static const std::vector<std::string> names = {"normals", "albedo", "curvature", "height"};
    return names;
}

const std::vector<std::string>& FileChoices() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all = ImageSetFileNames();
        all.insert(all.end(), SurfaceFileNames().begin(), SurfaceFileNames().end());
        return all;
    }();
    return names;
}

// One file of an image set: its name's last part, its "Image" and "Direction order" texts, and how
// it is made from the delivered image (null: as delivered).
struct ImageSetWriter::Picture {
    std::string suffix, what, order;
    std::function<void(const host::Image& delivered, host::Image& picture)> make;
};

ImageSetWriter::ImageSetWriter(fs::path folder, ImageSetDescription description,
                               std::vector<std::string> files)
    : _folder(std::move(folder)), _description(std::move(description)), _files(std::move(files)) {
    const auto& names = FileChoices();
    for (const std::string& file : _files)
        if (std::find(names.begin(), names.end(), file) == names.end())
            throw std::runtime_error("no image set file \"" + file +
                                     "\": the files are stack, average, directions, direction, normals, "
                                     "albedo, curvature and height");
    if (Pictures().empty() && SurfaceFiles().empty())
        throw std::runtime_error(
            "an averaged image set (\"SetupMode\" \"On\") has its average alone: the files "
            "chosen leave nothing to write");
    std::error_code error;
    fs::create_directories(_folder, error);
    if (error)
        throw std::runtime_error("cannot create the folder " + _folder.string() + ": " + error.message());
    const std::string prefix = Prefix(_description.channelIndex);
    for (const auto& entry : fs::directory_iterator(_folder, error)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with(prefix))
            continue;
        const int64_t number = std::strtoll(name.c_str() + prefix.size(), nullptr, 10);
        if (number >= _next)
            _next = number + 1;
    }
}

fs::path ImageSetWriter::BasePath(int64_t number) const {
    return _folder / (Prefix(_description.channelIndex) + Number(number));
}

std::vector<imagefiles::PngText> ImageSetWriter::Texts(int64_t number, const std::string& image,
                                                       const std::string& order,
                                                       std::chrono::system_clock::time_point taken) const {
    const ImageSetDescription& d = _description;
    return {
        {"Title", "Image set " + std::to_string(number) + " of " + d.channel + ": " + image},
        {"Software", std::string("zeb ") + ZEB_VERSION},
        {"Creation Time", IsoTime(taken)},
        {"Channel", d.channel},
        {"Image set", std::to_string(number)},
        {"Image", image},
        {"Camera", d.camera + " (" + d.cameraModel + ")"},
        {"Scan type", d.scanType},
        {"Exposure time", d.exposureTime + " us"},
        {"Gain", d.gain + " dB"},
        {"Lighting sequence", d.lightingSequence},
        {"Lighting orientation", d.lightingOrientation},
        {"Direction order", order},
        {"Lit from", LitFrom(d.lightingSequence) +
                         " (as seen from the camera, with the lighting orientation set to how the dome is "
                         "mounted)"}};
}

std::vector<std::string> ImageSetWriter::SurfaceFiles() const {
    std::vector<std::string> chosen;
    for (const std::string& name : SurfaceFileNames())
        if (std::find(_files.begin(), _files.end(), name) != _files.end())
            chosen.push_back(name);
    return chosen;
}

std::vector<ImageSetWriter::Picture> ImageSetWriter::Pictures() const {
    const bool line = _description.LineScan();
    const bool ownChosen = std::any_of(_files.begin(), _files.end(), [](const std::string& name) {
        const auto& own = ImageSetFileNames();
        return std::find(own.begin(), own.end(), name) != own.end();
    });
    auto chosen = [&](const std::string& name) {
        if (!ownChosen)
            return _files.empty() && (name != "direction" || line);
        return std::find(_files.begin(), _files.end(), name) != _files.end();
    };
    std::vector<Picture> pictures;
    if (_description.Averaged()) {
        if (chosen("average"))
            pictures.push_back(
                {"average", "the average of the four directions", "averaged by the plug-in", {}});
        return pictures;
    }
    if (chosen("stack"))
        pictures.push_back({"stack",
                            "the four directions stacked, as the host receives them",
                            line ? "rows interleaved: row 4 j + k belongs to direction k"
                                 : "directions 0, 1, 2, 3 one below the other",
                            {}});
    if (chosen("average"))
        pictures.push_back(
            {"average", "the average of the four directions", "averaged by zeb",
             [line](const host::Image& stack, host::Image& out) { Average(stack, line, out); }});
    if (chosen("directions"))
        pictures.push_back(
            {"directions", "the four directions side by side", "directions 0 1 over 2 3",
             [line](const host::Image& stack, host::Image& out) { ContactSheet(stack, line, out); }});
    if (chosen("direction"))
        for (int32_t k = 0; k < 4; ++k)
            pictures.push_back(
                {"direction" + std::to_string(k), "direction " + std::to_string(k),
                 "direction " + std::to_string(k) + " alone",
                 [line, k](const host::Image& stack, host::Image& out) { Direction(stack, line, k, out); }});
    return pictures;
}

std::vector<fs::path> ImageSetWriter::Write(const host::Image& image,
                                            std::chrono::system_clock::time_point taken,
                                            const std::vector<ExtraFile>& extra) {
    const std::vector<Picture> pictures = Pictures();
    std::vector<std::string> suffixes;
    for (const Picture& picture : pictures)
        suffixes.push_back(picture.suffix);
    for (const ExtraFile& file : extra)
        suffixes.push_back(file.suffix);
    // Claims the first free number: every file created anew, or none kept.
    std::vector<std::unique_ptr<NewFile>> files;
    int64_t number = _next;
    for (;; ++number) {
        files.clear();
        const std::string base = Prefix(_description.channelIndex) + Number(number);
        for (const std::string& suffix : suffixes) {
            auto file = std::make_unique<NewFile>(_folder / (base + "-" + suffix + ".png"));
            if (!file->Created())
                break;
            files.push_back(std::move(file));
        }
        if (files.size() == suffixes.size())
            break;
    }
    _next = number + 1;
    for (size_t k = 0; k < pictures.size(); ++k) {
        const Picture& picture = pictures[k];
        if (picture.make)
            picture.make(image, _picture);
        NewFile& file = *files[k];
        _encoder.Encode(GreyPicture(picture.make ? _picture : image),
                        Texts(number, picture.what, picture.order, taken),
                        [&](const uint8_t* bytes, size_t size) { file.Write(bytes, size); });
        file.Close();
    }
    for (size_t k = 0; k < extra.size(); ++k) {
        NewFile& file = *files[pictures.size() + k];
        _encoder.Encode(extra[k].picture, extra[k].texts(number),
                        [&](const uint8_t* bytes, size_t size) { file.Write(bytes, size); });
        file.Close();
    }
    std::vector<fs::path> paths;
    for (const auto& file : files) {
        file->Keep();
        paths.push_back(file->Path());
    }
    _last = number;
    return paths;
}

} // namespace zeb::cli
