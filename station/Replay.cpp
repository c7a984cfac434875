#include "Replay.h"

#include "PngImage.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace zeb::station {

namespace {

constexpr std::string_view Suffix = "-stack.png";
// A stack's header and texts lie in its first bytes.
constexpr size_t HeaderBytes = 64 * 1024;
// The largest stack side: a line camera of 16384 pixels, 65535 rows of four directions.
constexpr int32_t LargestStackSide = 4 * 65535;
constexpr uint64_t LargestStackFile = uint64_t{4} << 30;
// Decoded sets kept for the next loop.
constexpr size_t DecodedBudget = size_t{256} << 20;

// Names compared with their runs of digits as numbers: "set-9" before "set-10".
bool NameBefore(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool digitA = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
        const bool digitB = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
        if (digitA && digitB) {
            size_t endA = i, endB = j;
            while (endA < a.size() && std::isdigit(static_cast<unsigned char>(a[endA])))
                ++endA;
            while (endB < b.size() && std::isdigit(static_cast<unsigned char>(b[endB])))
                ++endB;
            std::string_view numberA(a.data() + i, endA - i), numberB(b.data() + j, endB - j);
            while (numberA.size() > 1 && numberA.front() == '0')
                numberA.remove_prefix(1);
            while (numberB.size() > 1 && numberB.front() == '0')
                numberB.remove_prefix(1);
            if (numberA.size() != numberB.size())
                return numberA.size() < numberB.size();
            if (numberA != numberB)
                return numberA < numberB;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j))
        return a.size() - i < b.size() - j;
    return a < b;
}

std::string SizeText(int32_t width, int32_t height) {
    return std::to_string(width) + " x " + std::to_string(height);
}

} // namespace

std::shared_ptr<Recording> Recording::Open(const std::string& folder, const std::string& stationFile,
                                           const std::string& scanType,
                                           std::shared_ptr<const FileSource> files) {
    const std::filesystem::path path = BesideStationFile(stationFile, folder);
    std::vector<std::string> names;
    try {
        for (const std::string& name : files->List(path))
            if (name.size() > Suffix.size() &&
                name.compare(name.size() - Suffix.size(), Suffix.size(), Suffix) == 0)
                names.push_back(name);
    } catch (const std::runtime_error& error) {
        throw std::runtime_error("replay folder " + path.string() + ": " + error.what());
    }
    if (names.empty())
        throw std::runtime_error("replay folder " + path.string() +
                                 ": holds no image sets (no \"-stack.png\" files)");
    std::sort(names.begin(), names.end(), NameBefore);

    auto recording = std::shared_ptr<Recording>(new Recording());
    recording->_files = std::move(files);
    recording->_lineScan = scanType == "Linescan";
    for (const std::string& name : names) {
        const std::string file = (path / name).string();
        try {
            const PngInfo info =
                ReadPngHeader(recording->_files->Head(path / name, HeaderBytes), LargestStackSide);
            if (!info.Grey() || info.bitDepth != 8)
                throw std::runtime_error("is " + std::to_string(info.bitDepth) + "-bit " +
                                         (info.Grey() ? "grey" : "colour") +
                                         "; a recorded image set is 8-bit grey, as zeb writes it");
            const auto recorded = info.texts.find("Scan type");
            if (recorded != info.texts.end() && recorded->second != scanType)
                throw std::runtime_error("was recorded by a camera of scan type \"" + recorded->second +
                                         "\"; this camera's is \"" + scanType + "\"");
            if (int64_t{info.width} * info.height > (int64_t{4} << 26))
                throw std::runtime_error("is " + SizeText(info.width, info.height) +
                                         " pixels, more than four images of the largest sensor");
            if (info.height % 4 != 0)
                throw std::runtime_error(
                    "is " + SizeText(info.width, info.height) + " pixels: " +
                    (recording->_lineScan
                         ? "a line-scan set holds four rows, one per direction, per object line"
                         : "an area-scan set holds four directions one below the other"));
            if (recording->_sets.empty()) {
                recording->_width = info.width;
                recording->_rows = info.height;
            } else if (info.width != recording->_width || info.height != recording->_rows) {
                throw std::runtime_error("is " + SizeText(info.width, info.height) +
                                         " pixels, the folder's first set " + recording->_sets.front() + " " +
                                         SizeText(recording->_width, recording->_rows) +
                                         ": a camera plays back sets of one size");
            }
        } catch (const std::runtime_error& error) {
            throw std::runtime_error("recorded image set " + file + ": " + error.what());
        }
        recording->_sets.push_back(file);
    }
    return recording;
}

std::string Recording::Mismatch(int32_t width, int32_t rows, bool lineScan) const {
    const int32_t expected = lineScan ? _rows : _rows / 4;
    if (width == _width && rows == expected)
        return "";
    return FirstFile() + " holds " + (lineScan ? "frames" : "images of one direction") + " of " +
           SizeText(_width, expected) + " pixels; the camera's " + (lineScan ? "frame" : "image") + " is " +
           SizeText(width, rows);
}

const std::string& Recording::File(int64_t index) const {
    const int64_t count = static_cast<int64_t>(_sets.size());
    return _sets[static_cast<size_t>(((index % count) + count) % count)];
}

const std::vector<uint8_t>& Recording::Stack(int64_t index) {
    const int64_t count = static_cast<int64_t>(_sets.size());
    const size_t set = static_cast<size_t>(((index % count) + count) % count);
    for (auto it = _decoded.begin(); it != _decoded.end(); ++it)
        if (it->set == set) {
            _decoded.splice(_decoded.begin(), _decoded, it);
            return _decoded.front().pixels;
        }
    const std::string& file = _sets[set];
    Decoded decoded{set, {}};
    try {
        const std::string bytes = _files->Read(file, LargestStackFile);
        const PngInfo info = ReadPngInfo(bytes, LargestStackSide);
        if (info.width != _width || info.height != _rows || !info.Grey() || info.bitDepth != 8)
            throw std::runtime_error("has changed since the station file was read");
        decoded.pixels = DecodeGrey8(bytes, info);
    } catch (const std::runtime_error& error) {
        throw std::runtime_error(file + ": " + error.what());
    }
    _decodedBytes += decoded.pixels.size();
    _decoded.push_front(std::move(decoded));
    while (_decodedBytes > DecodedBudget && _decoded.size() > 1) {
        _decodedBytes -= _decoded.back().pixels.size();
        _decoded.pop_back();
    }
    return _decoded.front().pixels;
}

} // namespace zeb::station
