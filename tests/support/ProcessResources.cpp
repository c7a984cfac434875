#include "ProcessResources.h"

#include <cstddef>
#include <filesystem>
#include <fstream>

#if defined(_WIN32)
#include <windows.h>
// psapi.h and tlhelp32.h need windows.h first.
#include <psapi.h>
#include <tlhelp32.h>

#include <vector>
#else
#include <malloc.h>
#endif

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizer runtime's own count (its header comes with clang, not with GCC).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#define ZEB_SANITIZER_ALLOCATOR 1
#endif

namespace zeb::test {

int64_t HeapBytesInUse() {
#if defined(ZEB_SANITIZER_ALLOCATOR)
    return static_cast<int64_t>(__sanitizer_get_current_allocated_bytes());
#elif defined(_WIN32)
    std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
    heaps.resize(GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
    int64_t busy = 0;
    for (HANDLE heap : heaps) {
        if (!HeapLock(heap))
            continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heap, &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                busy += entry.cbData;
        HeapUnlock(heap);
    }
    return busy;
#else
    const struct mallinfo2 info = mallinfo2();
    return static_cast<int64_t>(info.uordblks + info.hblkhd);
#endif
}

int64_t ResidentBytes() {
#if defined(_WIN32)
    PROCESS_MEMORY_COUNTERS counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return static_cast<int64_t>(counters.WorkingSetSize);
#else
    std::ifstream statm("/proc/self/statm");
    int64_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * 4096;
#endif
}

#if !defined(_WIN32)
namespace {
int64_t Entries(const char* folder) {
    int64_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++count;
    return count;
}
} // namespace
#endif

int64_t OpenHandles() {
#if defined(_WIN32)
    // Handle values are multiples of 4; each that names an object of the process is counted (Wine
    // answers GetProcessHandleCount with 0).
    int64_t handles = 0;
    DWORD flags = 0;
    for (uintptr_t value = 4; value < (1u << 16); value += 4)
        handles += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != 0;
    return handles;
#else
    return Entries("/proc/self/fd");
#endif
}

int64_t Threads() {
#if defined(_WIN32)
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    int64_t count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return count;
#else
    return Entries("/proc/self/task");
#endif
}

bool ModuleMapped(const std::string& path) {
#if defined(_WIN32)
    return GetModuleHandleA(std::filesystem::path(path).filename().string().c_str()) != nullptr;
#else
    const std::string canonical = std::filesystem::weakly_canonical(path).string();
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);)
        if (line.size() >= canonical.size() &&
            line.compare(line.size() - canonical.size(), canonical.size(), canonical) == 0)
            return true;
    return false;
#endif
}

} // namespace zeb::test
