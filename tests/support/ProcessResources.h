// What this process holds, for tests that a host's use of the plug-in leaves nothing behind:
// heap in use, resident memory, open files and handles, threads, mapped modules.
#pragma once

#include <cstdint>
#include <string>

namespace zeb::test {

// Bytes the process's heap holds in live allocations: the C library's allocator on Linux (the
// sanitizer's allocator in a sanitizer build), the sum of the busy blocks of every process heap
// on Windows (walked, since Wine's memory counters read 0).
int64_t HeapBytesInUse();
// Resident memory in bytes.
int64_t ResidentBytes();
// Open file descriptors (Linux) or handles (Windows, the first 16,384 handle values).
int64_t OpenHandles();
int64_t Threads();
// True while a module of this file name (or path) is mapped into the process.
bool ModuleMapped(const std::string& path);

} // namespace zeb::test
