// A library that a host loads before the plug-in and that registers an exit handler for it: its
// handlers run when it is unloaded, after the plug-in loaded later (see LateReleaseHost.cpp).
#include <cstdlib>

#if defined(_WIN32)
#define LATE_RELEASE_EXPORT __declspec(dllexport)
#else
#define LATE_RELEASE_EXPORT __attribute__((visibility("default")))
#endif

extern "C" LATE_RELEASE_EXPORT void RegisterExitHandler(void (*handler)()) {
    std::atexit(handler);
}
