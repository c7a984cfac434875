// Writing a channel's image sets as zeb acquire does, into the save folder: one on request ("save
// this image set"), or each of a running acquisition's for a count or a time (a recording). The
// files are written one writer at a time, each numbering after those in the folder; the recording's
// state is guarded by its owner's mutex.
#pragma once

#include "hostkit/HostChannel.h"
#include "session/ImageSetDescription.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace zeb::view {

class LiveImageSet;

class Recorder {
public:
    struct Recording {
        bool active = false;
        int64_t count = 0;   // image sets to write; 0: as many as arrive within `seconds`
        double seconds = 0;  // how long to write; 0: until `count` are written
        int64_t written = 0; // image sets written so far
        std::vector<std::string> lastFiles;
        std::string ended; // why it ended before its count or time ("" while active or when done)
    };

    explicit Recorder(std::filesystem::path folder) : _folder(std::move(folder)) {}

    // Writes the image set; returns its files. Throws std::runtime_error when they cannot be written.
    std::vector<std::filesystem::path> Write(const host::Image& image,
                                             const cli::ImageSetDescription& description,
                                             std::chrono::system_clock::time_point taken);
    std::vector<std::filesystem::path> Save(const LiveImageSet& set);

    // The recording, under the owner's mutex: a fresh one (any under way starts afresh), its end, and
    // a set written for it, which ends it once its count is reached.
    void Start(int64_t count, double seconds);
    void End(const std::string& why);
    void Written(const std::vector<std::filesystem::path>& files);
    bool Active() const { return _recording.active; }
    // A recording by time whose time has passed.
    bool TimeUp() const;
    const Recording& State() const { return _recording; }

private:
    const std::filesystem::path _folder;
    std::mutex _writing; // one writer at a time: each numbers after the files already in the folder
    Recording _recording;
    std::chrono::steady_clock::time_point _end{};
};

} // namespace zeb::view
