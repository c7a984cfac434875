// When the process-wide state of the stand-in libraries and of the station is made and released.
//
// The maker's libraries are modules of their own that the plug-in depends on: they are loaded
// before the plug-in and unloaded after it. Linked into the plug-in's module here, their state
// keeps that order: it is made before the plug-in's static objects (the singleton and its
// registered types) and released after them, so that the channels the singleton destroys at
// unload still close their cameras, and its last line still reaches the log, through libraries
// that are there. Nothing of it outlives the module: a host that unloads the plug-in gets every
// byte, file and handle back.
//
// A host may still call the plug-in after its static objects are gone, while its code is mapped
// (a channel released from the host's exit handler at process exit). What such a call reaches, the
// log, keeps its state in storage that is never destroyed; its place below only closes the file.
//
// Each piece of state is one object at namespace scope marked [[gnu::init_priority(...)]] with
// its number below: objects with a priority are made before every object without one, lowest
// number first, and destroyed in the reverse order (GCC and Clang, ELF and PE alike).
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

namespace zeb::lifetime {

inline constexpr int Log = 1000; // made first and released last: every other piece logs
inline constexpr int TypeRegistry = 1010;
inline constexpr int DeviceTrace = 1020;
inline constexpr int SensorNoise = 1030;
inline constexpr int Station = 1040;
inline constexpr int AcquisitionLibrary = 1050;

// A process-wide object made on first use and released with the module.
template <typename T> class ModuleObject {
public:
    constexpr ModuleObject() = default;
    ModuleObject(const ModuleObject&) = delete;
    ModuleObject& operator=(const ModuleObject&) = delete;
    ~ModuleObject() { delete _object.load(std::memory_order_acquire); }

    // The object; `make` (returning a std::unique_ptr<T>) makes it the first time, once.
    template <typename Make> T& Get(Make make) {
        if (T* object = _object.load(std::memory_order_acquire))
            return *object;
        std::lock_guard lock(_mutex);
        if (!_object.load(std::memory_order_relaxed))
            _object.store(make().release(), std::memory_order_release);
        return *_object.load(std::memory_order_relaxed);
    }

private:
    std::mutex _mutex;
    std::atomic<T*> _object{nullptr};
};

} // namespace zeb::lifetime
