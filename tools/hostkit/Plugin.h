// Loading the plug-in library and finding its one exported function.
#pragma once

#include "HostStructures.h"

#include <string>

namespace zeb::host {

class Plugin {
public:
    // Loads the library; throws std::runtime_error with the reason when it cannot.
    explicit Plugin(const std::string& path = DefaultPath());
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;
    // Leaves the library loaded: channel handles stay valid until the process ends.
    ~Plugin() = default;

    qrZEB_GetVideoChannel GetVideoChannel() const { return _getVideoChannel; }
    const std::string& Path() const { return _path; }
    // Unloads the library (tests of unload only); every handle is invalid afterwards.
    void Unload();

    // ZEB_PLUGIN, else the plug-in file beside the running program.
    static std::string DefaultPath();

private:
    std::string _path;
    void* _library = nullptr;
    qrZEB_GetVideoChannel _getVideoChannel = nullptr;
};

} // namespace zeb::host
