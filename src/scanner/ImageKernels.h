// The four-direction average of image delivery: out = (p0 + p1 + p2 + p3) >> 2 for every pixel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Tamo::Morvane::Zeb::ImageKernels {

// out[i] = (a[i] + b[i] + c[i] + d[i]) >> 2 for every i below `count`.
using AverageFunction = void (*)(const uint8_t* a, const uint8_t* b, const uint8_t* c, const uint8_t* d,
                                 uint8_t* out, size_t count);

// The same average, with each source also copied to its copy destination in the same pass.
using AverageAndCopyFunction = void (*)(const uint8_t* const sources[4], uint8_t* const copies[4],
                                        uint8_t* out, size_t count);

// The fastest form this processor runs.
void Average(const uint8_t* a, const uint8_t* b, const uint8_t* c, const uint8_t* d, uint8_t* out,
             size_t count);
void AverageAndCopy(const uint8_t* const sources[4], uint8_t* const copies[4], uint8_t* out, size_t count);

// Every form of the average this processor can run, the plain loop first, for tests and benchmarks.
struct AverageForm {
    const char* name;
    AverageFunction average;
    AverageAndCopyFunction averageAndCopy;
};
std::vector<AverageForm> AverageForms();

} // namespace Tamo::Morvane::Zeb::ImageKernels
