// Tamo::Mutex: the framework's mutex object around a standard, non-recursive mutex.
#pragma once

#include <mutex>

namespace Tamo {

class Mutex {
public:
    Mutex() = default;
    // A copy is a new, unlocked mutex: a lock is never shared between objects.
    Mutex(const Mutex&) {}
    Mutex& operator=(const Mutex&) { return *this; }
    std::mutex& Native() { return _mutex; }
    void Lock() { _mutex.lock(); }
    void Unlock() { _mutex.unlock(); }

private:
    std::mutex _mutex;
};

} // namespace Tamo
