#include "view/Recorder.h"

#include "files/ImageSetWriter.h"
#include "view/LiveImageSet.h"

namespace zeb::view {

using Clock = std::chrono::steady_clock;

std::vector<std::filesystem::path> Recorder::Write(const host::Image& image,
                                                   const cli::ImageSetDescription& description,
                                                   std::chrono::system_clock::time_point taken) {
    // One writer a set, so that the numbering also counts the sets written meanwhile.
    std::lock_guard<std::mutex> lock(_writing);
    cli::ImageSetWriter writer(_folder, description);
    return writer.Write(image, taken);
}

std::vector<std::filesystem::path> Recorder::Save(const LiveImageSet& set) {
    return Write(set.Delivered(), set.Description(), set.Taken());
}

void Recorder::Start(int64_t count, double seconds) {
    _recording = {};
    _recording.active = true;
    _recording.count = count;
    _recording.seconds = seconds;
    _end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

void Recorder::End(const std::string& why) {
    _recording.active = false;
    _recording.ended = why;
}

void Recorder::Written(const std::vector<std::filesystem::path>& files) {
    ++_recording.written;
    _recording.lastFiles.clear();
    for (const auto& file : files)
        _recording.lastFiles.push_back(file.string());
    if (_recording.count > 0 && _recording.written >= _recording.count)
        End("");
}

bool Recorder::TimeUp() const {
    return _recording.active && _recording.seconds > 0 && Clock::now() >= _end;
}

} // namespace zeb::view
