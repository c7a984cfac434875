#include "Plugin.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace zeb::host {

namespace {
std::filesystem::path ProgramFolder() {
#if defined(_WIN32)
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return std::filesystem::path(std::wstring(buffer, length)).parent_path();
#else
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::current_path() : self.parent_path();
#endif
}
} // namespace

std::string Plugin::DefaultPath() {
    if (const char* path = std::getenv("ZEB_PLUGIN"); path && *path)
        return path;
    return (ProgramFolder() / ZEB_PLUGIN_FILE).string();
}

Plugin::Plugin(const std::string& path) : _path(path) {
#if defined(_WIN32)
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module)
        throw std::runtime_error("cannot load the plug-in " + path + " (error " +
                                 std::to_string(GetLastError()) + ")");
    _library = module;
    _getVideoChannel = reinterpret_cast<qrZEB_GetVideoChannel>(
        reinterpret_cast<void*>(GetProcAddress(module, "GetVideoChannel")));
#else
    _library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!_library)
        throw std::runtime_error("cannot load the plug-in " + path + ": " + dlerror());
    _getVideoChannel = reinterpret_cast<qrZEB_GetVideoChannel>(dlsym(_library, "GetVideoChannel"));
#endif
    if (!_getVideoChannel)
        throw std::runtime_error("the plug-in " + path + " does not export GetVideoChannel");
}

void Plugin::Unload() {
    if (!_library)
        return;
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(_library));
#else
    dlclose(_library);
#endif
    _library = nullptr;
    _getVideoChannel = nullptr;
}

} // namespace zeb::host
