// Writing a channel's image sets as zeb acquire does, into the save folder: one on request ("save
// this image set"), or each of a running acquisition's for a count or a time (a recording), each
// optionally with its surface (the files of zeb acquire --surface). The files are written one writer
// at a time, each numbering after those in the folder; the recording's state is guarded by its
// owner's mutex.
//
// A recording is bounded by the folder's free space: it is refused when the space cannot hold what
// its count or time asks for (the size of a set times the count, or times the rate and the time),
// and it stops before each set that would leave less than a margin free.
#pragma once

#include "hostkit/HostChannel.h"
#include "session/ChannelLighting.h"
#include "session/ImageSetDescription.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zeb::cli {
class ImageSetWriter;
class SurfaceWriter;
} // namespace zeb::cli

namespace zeb::view {

class LiveImageSet;

class Recorder {
public:
    struct Recording {
        bool active = false;
        int64_t count = 0;     // image sets to write; 0: as many as arrive within `seconds`
        double seconds = 0;    // how long to write; 0: until `count` are written
        bool surfaces = false; // each set's surface is written beside it
        int64_t written = 0;   // image sets written so far
        std::vector<std::string> lastFiles;
        std::string ended; // why it ended before its count or time ("" while active or when done)
    };

    // The bytes free for the folder's files; none when they cannot be told.
    using FreeSpace = std::function<std::optional<uintmax_t>(const std::filesystem::path& folder)>;
    // std::filesystem::space of the folder, or of its nearest existing parent before it is made.
    static std::optional<uintmax_t> FolderSpace(const std::filesystem::path& folder);
    // What a recording leaves free at least.
    static constexpr uintmax_t DefaultMargin = 64ull << 20;

    // What a recording will need: the bytes of one set's files and the sets per second; 0 where not
    // known yet (the space is then checked once they are).
    struct Estimate {
        uintmax_t setBytes = 0;
        double perSecond = 0;
    };
    // At most the bytes of the files of a set of this shape: the stack, the average, the contact
    // sheet and for line scan each direction, uncompressed, and with `surfaces` its pictures.
    static uintmax_t SetBytes(int32_t width, int32_t directionHeight, bool lineScan, bool averaged,
                              bool surfaces);

    // The lighting a set's surface is computed with, read on the channel's thread.
    using Lighting = std::function<cli::ChannelLighting()>;

    explicit Recorder(std::filesystem::path folder, FreeSpace space = FolderSpace,
                      uintmax_t margin = DefaultMargin);
    ~Recorder();

    struct Saved {
        int64_t number = 0; // the number the files carry
        std::vector<std::filesystem::path> files;
    };
    // Writes the image set (and its surface when `lighting` is given); returns its number and files.
    // Throws std::runtime_error when they cannot be written, CommandError when the surface cannot be
    // computed.
    Saved Write(const host::Image& image, const cli::ImageSetDescription& description,
                std::chrono::system_clock::time_point taken, const Lighting* lighting = nullptr);
    Saved Save(const LiveImageSet& set, const Lighting* lighting = nullptr);

    // The recording, under the owner's mutex: a fresh one (any under way starts afresh), refused with
    // why when the folder cannot hold it; its end; and a set written for it, which ends it once its
    // count is reached. Start makes the folder first, so that its space is the folder's own; it throws
    // std::runtime_error when the folder cannot be made.
    std::string Start(int64_t count, double seconds, bool surfaces, Estimate estimate);
    void End(const std::string& why);
    void Written(const Saved& saved);
    bool Active() const { return _recording.active; }
    // Before a set of the recording is written: whether there is room for it. Checks the whole
    // recording once the estimate is complete (when Start could not), then that the set leaves the
    // margin free; ends the recording with why when not.
    bool Room(Estimate estimate);
    // A recording by time whose time has passed.
    bool TimeUp() const;
    const Recording& State() const { return _recording; }

private:
    // Why the folder cannot hold `bytes` more and keep the margin; empty when it can.
    std::string Shortage(uintmax_t bytes, const std::string& what) const;
    static uintmax_t Needed(double sets, uintmax_t setBytes);

    const std::filesystem::path _folder;
    const FreeSpace _space;
    const uintmax_t _margin;
    std::mutex _writing; // one writer at a time: each numbers after the files already in the folder
    Recording _recording;
    bool _checked = false;               // the whole recording was found to fit
    std::atomic<uintmax_t> _lastSize{0}; // the bytes of the last set written, once one was
    // The writers of sets with their surface, kept from one set to the next while the settings and
    // the lighting stay (the solver keeps its light for the next set of the same size).
    std::string _surfaceKey;
    std::unique_ptr<cli::ImageSetWriter> _surfaceSets;
    std::unique_ptr<cli::SurfaceWriter> _surfaces;
    std::chrono::steady_clock::time_point _end{};
};

} // namespace zeb::view
