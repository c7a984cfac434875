// A vision host that releases its channel from an exit handler it registered before it loaded the
// plug-in, so that the handler runs once the plug-in's static objects are gone while its code is
// still mapped.
//
//   zeb_late_release_host RESULT_FILE            the handler is registered with this program's
//                                                std::atexit
//   zeb_late_release_host RESULT_FILE MODULE     the handler is registered in MODULE, a library
//                                                loaded before the plug-in
//
// Exit handlers run in the reverse order of their registration, and a library's static destructors
// are registered when it is loaded: on ELF systems the program's handler therefore runs after the
// plug-in's destructors. Windows runs the program's handlers before it detaches any DLL, then
// detaches the DLLs in the reverse order of their loading: there a handler of a DLL loaded before
// the plug-in is the one that runs after it.
//
// The handler then asks for a feature's value and for the channel again, as a careless host might,
// and writes what the three calls returned into RESULT_FILE with the operating system's own calls,
// since the C library may be shutting down by then.
#include "HostChannel.h"
#include "Plugin.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// What the handler needs, in storage that no destructor touches.
qrZEB_GetVideoChannel getVideoChannel = nullptr;
qrZEB_ChannelDescriptor descriptor;
char resultFile[4096];

void WriteResult(const char* text) {
#if defined(_WIN32)
    HANDLE file =
        CreateFileA(resultFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
    CloseHandle(file);
#else
    const int file = open(resultFile, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (file < 0)
        return;
    const ssize_t written = write(file, text, std::strlen(text));
    static_cast<void>(written);
    close(file);
#endif
}

void ReleaseAtExit() {
    if (!descriptor.ReleaseVideoChannel) {
        WriteResult("no channel\n");
        return;
    }
    char errorText[256] = {};
    char value[256] = {};
    const int released = descriptor.ReleaseVideoChannel(errorText, descriptor.handle);
    const int read = descriptor.ReadValue(errorText, descriptor.handle, "Width", value);
    qrZEB_ChannelDescriptor again{};
    again.size = sizeof again;
    char getError[256] = {};
    const int got = getVideoChannel(getError, 0, &again);
    char text[1024];
    std::snprintf(text, sizeof text, "ReleaseVideoChannel %d\nReadValue %d %s\nGetVideoChannel %d %s\n",
                  released, read, read == 0 ? value : errorText, got, getError);
    WriteResult(text);
}

using RegisterExitHandler = void (*)(void (*)());

// Loads the module and lets it register the handler; false when it cannot.
bool RegisterInModule(const char* path) {
#if defined(_WIN32)
    HMODULE module = LoadLibraryA(path);
    auto registerHandler = module ? reinterpret_cast<RegisterExitHandler>(reinterpret_cast<void*>(
                                        GetProcAddress(module, "RegisterExitHandler")))
                                  : nullptr;
#else
    void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    auto registerHandler =
        module ? reinterpret_cast<RegisterExitHandler>(dlsym(module, "RegisterExitHandler")) : nullptr;
#endif
    if (!registerHandler)
        return false;
    registerHandler(&ReleaseAtExit);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3 || std::strlen(argv[1]) >= sizeof resultFile) {
        std::fprintf(stderr, "usage: zeb_late_release_host RESULT_FILE [MODULE]\n");
        return 2;
    }
    std::strcpy(resultFile, argv[1]);
    if (argc == 3) {
        if (!RegisterInModule(argv[2])) {
            std::fprintf(stderr, "cannot load %s\n", argv[2]);
            return 2;
        }
    } else {
        std::atexit(&ReleaseAtExit);
    }
    try {
        // Left loaded: the process ends with the plug-in in it, as a host that quits does.
        zeb::host::Plugin plugin;
        zeb::host::HostChannel channel;
        if (!channel.Open(plugin.GetVideoChannel(), 0) || !channel.Execute("DeviceImageSourceDetect")) {
            std::fprintf(stderr, "channel 0: %s\n", channel.Error().c_str());
            return 1;
        }
        getVideoChannel = plugin.GetVideoChannel();
        descriptor = channel.Descriptor();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
