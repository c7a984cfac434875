#include "view/Recorder.h"

#include "files/ImageSetWriter.h"
#include "files/SurfaceWriter.h"
#include "view/LiveImageSet.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <system_error>

namespace zeb::view {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// "1.5 GB", "64 MB", "900 kB"
std::string Bytes(double bytes) {
    const char* units[] = {"bytes", "kB", "MB", "GB", "TB", "PB"};
    size_t unit = 0;
    while (bytes >= 1000 && unit + 1 < std::size(units)) {
        bytes /= 1000;
        ++unit;
    }
    char text[48];
    std::snprintf(text, sizeof text, unit == 0 || bytes >= 100 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
    return text;
}

// What the files of a set and its surface depend on besides the image.
std::string SurfaceKey(const cli::ImageSetDescription& d, const cli::ChannelLighting& lighting) {
    return std::to_string(d.channelIndex) + "|" + d.channel + "|" + d.camera + "|" + d.cameraModel + "|" +
           d.scanType + "|" + d.exposureTime + "|" + d.gain + "|" + d.lightingSequence + "|" +
           d.lightingOrientation + "|" + d.setupMode + "|" + lighting.ModelText() + "|" +
           lighting.CalibrationText();
}

std::string SetsText(double sets) {
    char text[48];
    std::snprintf(text, sizeof text, "%.0f", sets);
    return text;
}

} // namespace

std::optional<uintmax_t> Recorder::FolderSpace(const fs::path& folder) {
    std::error_code error;
    fs::path existing = fs::absolute(folder, error);
    if (error)
        return std::nullopt;
    while (!fs::exists(existing, error) && existing.has_relative_path())
        existing = existing.parent_path();
    const fs::space_info space = fs::space(existing, error);
    if (error || space.available == static_cast<uintmax_t>(-1))
        return std::nullopt;
    return space.available;
}

uintmax_t Recorder::SetBytes(int32_t width, int32_t directionHeight, bool lineScan, bool averaged,
                             bool surfaces) {
    const uintmax_t direction =
        static_cast<uintmax_t>(std::max(width, 0)) * static_cast<uintmax_t>(std::max(directionHeight, 0));
    // Each PNG file's header, text chunks and the deflate blocks' overhead.
    constexpr uintmax_t perFile = 8 << 10;
    if (averaged)
        return direction + perFile;
    // Stack (4), average (1), contact sheet (4), for line scan each direction (4 x 1).
    uintmax_t bytes = direction * (lineScan ? 13 : 9) + (lineScan ? 7 : 3) * perFile;
    // Normals (16-bit RGB), albedo and height (16-bit), curvature (8-bit).
    if (surfaces)
        bytes += direction * 11 + 4 * perFile;
    return bytes;
}

Recorder::Recorder(fs::path folder, FreeSpace space, uintmax_t margin)
    : _folder(std::move(folder)), _space(std::move(space)), _margin(margin) {}

Recorder::~Recorder() = default;

Recorder::Saved Recorder::Write(const host::Image& image, const cli::ImageSetDescription& description,
                                std::chrono::system_clock::time_point taken, const Lighting* lighting) {
    // One writer a set, so that the numbering also counts the sets written meanwhile.
    std::lock_guard<std::mutex> lock(_writing);
    Saved saved;
    if (lighting && *lighting) {
        cli::ChannelLighting light = (*lighting)();
        const std::string key = SurfaceKey(description, light);
        if (!_surfaces || key != _surfaceKey) {
            _surfaces.reset();
            _surfaceSets = std::make_unique<cli::ImageSetWriter>(_folder, description);
            _surfaces = std::make_unique<cli::SurfaceWriter>(std::move(light), *_surfaceSets);
            _surfaceKey = key;
        }
        // The set's own files and its surface's, under one number.
        saved.files = _surfaces->Write(image, taken);
        saved.number = _surfaceSets->LastNumber();
    } else {
        cli::ImageSetWriter writer(_folder, description);
        saved.files = writer.Write(image, taken);
        saved.number = writer.LastNumber();
    }
    uintmax_t size = 0;
    for (const fs::path& file : saved.files) {
        std::error_code error;
        const uintmax_t bytes = fs::file_size(file, error);
        if (!error)
            size += bytes;
    }
    _lastSize = size;
    return saved;
}

Recorder::Saved Recorder::Save(const LiveImageSet& set, const Lighting* lighting) {
    return Write(set.Delivered(), set.Description(), set.Taken(), lighting);
}

uintmax_t Recorder::Needed(double sets, uintmax_t setBytes) {
    const double bytes = std::ceil(std::max(sets, 0.0)) * static_cast<double>(setBytes);
    return bytes >= 1.8e19 ? UINTMAX_MAX : static_cast<uintmax_t>(bytes);
}

std::string Recorder::Shortage(uintmax_t bytes, const std::string& what) const {
    const std::optional<uintmax_t> free = _space(_folder);
    if (!free || (*free >= _margin && *free - _margin >= bytes))
        return {};
    return what + " needs about " + Bytes(static_cast<double>(bytes)) + " and " + _folder.string() + " has " +
           Bytes(static_cast<double>(*free)) + " free (" + Bytes(static_cast<double>(_margin)) +
           " are kept free)";
}

std::string Recorder::Start(int64_t count, double seconds, bool surfaces, Estimate estimate) {
    std::error_code error;
    fs::create_directories(_folder, error);
    if (error)
        throw std::runtime_error("cannot create the folder " + _folder.string() + ": " + error.message());
    if (_lastSize > 0)
        estimate.setBytes = _lastSize;
    const bool known = estimate.setBytes > 0 && (count > 0 || estimate.perSecond > 0);
    if (known) {
        const std::string what = count > 0 ? "recording " + std::to_string(count) + " image sets"
                                           : "recording " + SetsText(seconds) + " s at " +
                                                 SetsText(estimate.perSecond) + " image sets/s";
        const double sets = count > 0 ? static_cast<double>(count) : seconds * estimate.perSecond;
        const std::string shortage = Shortage(Needed(sets, estimate.setBytes), what);
        if (!shortage.empty())
            return shortage;
    }
    _recording = {};
    _recording.active = true;
    _recording.count = count;
    _recording.seconds = seconds;
    _recording.surfaces = surfaces;
    _checked = known;
    _end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    return {};
}

bool Recorder::Room(Estimate estimate) {
    if (!_recording.active)
        return false;
    if (_lastSize > 0)
        estimate.setBytes = _lastSize;
    if (!_checked && estimate.setBytes > 0 && (_recording.count > 0 || estimate.perSecond > 0)) {
        _checked = true;
        // What is left of the recording, now that its rate is known.
        const double left =
            _recording.count > 0
                ? static_cast<double>(_recording.count - _recording.written)
                : std::chrono::duration<double>(_end - Clock::now()).count() * estimate.perSecond;
        const std::string shortage =
            Shortage(Needed(left, estimate.setBytes), "the rest of the recording (" + SetsText(left) +
                                                          " image sets at " + SetsText(estimate.perSecond) +
                                                          " image sets/s)");
        if (!shortage.empty()) {
            End("refused: " + shortage);
            return false;
        }
    }
    const std::string shortage = Shortage(estimate.setBytes, "the next image set");
    if (!shortage.empty()) {
        End("stopped before the disk is full: " + shortage);
        return false;
    }
    return true;
}

void Recorder::End(const std::string& why) {
    _recording.active = false;
    _recording.ended = why;
}

void Recorder::Written(const Saved& saved) {
    ++_recording.written;
    _recording.lastFiles.clear();
    for (const auto& file : saved.files)
        _recording.lastFiles.push_back(file.string());
    if (_recording.count > 0 && _recording.written >= _recording.count)
        End("");
}

bool Recorder::TimeUp() const {
    return _recording.active && _recording.seconds > 0 && Clock::now() >= _end;
}

} // namespace zeb::view
