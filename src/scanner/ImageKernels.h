// The loops that move image bytes during delivery: copying camera rows into the host's buffer and
// the four-direction average. They are memory-bound; what counts is touching each byte once and not
// reading the host's buffer before overwriting it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Tamo::Morvane::Zeb::ImageKernels {

// Outputs of at least this many bytes are written with non-temporal stores: they do not fit the
// share of the last-level cache one core can count on, so caching them would only evict the frames
// still to be read and make the processor read each destination line before overwriting it.
constexpr size_t StreamingBytes = size_t{4} << 20;

// Copies `count` bytes; `streaming` writes the destination past the caches.
void Copy(uint8_t* destination, const uint8_t* source, size_t count, bool streaming);

// out[i] = (a[i] + b[i] + c[i] + d[i]) >> 2 for every i below `count`.
using AverageFunction = void (*)(const uint8_t* a, const uint8_t* b, const uint8_t* c, const uint8_t* d,
                                 uint8_t* out, size_t count, bool streaming);

// The same average, with each source also copied to its copy destination in the same pass.
using AverageAndCopyFunction = void (*)(const uint8_t* const sources[4], uint8_t* const copies[4],
                                        uint8_t* out, size_t count);

// The fastest form this processor runs.
void Average(const uint8_t* a, const uint8_t* b, const uint8_t* c, const uint8_t* d, uint8_t* out,
             size_t count, bool streaming);
void AverageAndCopy(const uint8_t* const sources[4], uint8_t* const copies[4], uint8_t* out, size_t count);

// Every form of the average this processor can run, the plain loop first, for tests and benchmarks.
struct AverageForm {
    const char* name;
    AverageFunction average;
    AverageAndCopyFunction averageAndCopy;
};
std::vector<AverageForm> AverageForms();

} // namespace Tamo::Morvane::Zeb::ImageKernels
