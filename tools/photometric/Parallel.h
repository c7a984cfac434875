// The library's one way to spread a loop over the machine's cores: items handed out in chunks, so
// that costly stretches (a shadowed plate, a rim) do not leave one thread behind the others.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace zeb::photometric {

// Calls body(begin, end) for consecutive ranges of at most `chunk` items covering [0, count), on up
// to the machine's hardware threads, the caller's among them. Each item must write only what is its
// own. The first exception a body throws is thrown here once every thread has ended.
template <class Body> void ParallelFor(size_t count, size_t chunk, const Body& body) {
    chunk = std::max<size_t>(chunk, 1);
    const size_t chunks = (count + chunk - 1) / chunk;
    const size_t threads = std::min<size_t>({std::max(1u, std::thread::hardware_concurrency()), 64, chunks});
    std::atomic<size_t> next{0};
    std::exception_ptr failure;
    std::mutex failureMutex;
    const auto work = [&] {
        try {
            for (size_t c = next++; c < chunks; c = next++)
                body(c * chunk, std::min(count, (c + 1) * chunk));
        } catch (...) {
            std::lock_guard<std::mutex> lock(failureMutex);
            if (!failure)
                failure = std::current_exception();
            next = chunks; // the others stop at their next chunk
        }
    };
    std::vector<std::thread> helpers;
    for (size_t t = 1; t < threads; ++t)
        helpers.emplace_back(work);
    work();
    for (std::thread& helper : helpers)
        helper.join();
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace zeb::photometric
