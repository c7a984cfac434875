// The average as a plain loop the compiler vectorises, in SSE2 (which every x86-64 has) and in AVX2
// where the processor has it. All give exactly (p0 + p1 + p2 + p3) >> 2.
#include "ImageKernels.h"

#include <cstring>

#ifdef __SSE2__
#include <immintrin.h>
#endif

namespace Tamo::Morvane::Zeb::ImageKernels {

namespace {

void AveragePlain(const uint8_t* __restrict a, const uint8_t* __restrict b, const uint8_t* __restrict c,
                  const uint8_t* __restrict d, uint8_t* __restrict out, size_t count) {
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<uint8_t>((static_cast<uint32_t>(a[i]) + b[i] + c[i] + d[i]) >> 2);
}

void AverageAndCopyPlain(const uint8_t* const sources[4], uint8_t* const copies[4], uint8_t* out,
                         size_t count) {
    for (int k = 0; k < 4; ++k)
        std::memcpy(copies[k], sources[k], count);
    AveragePlain(sources[0], sources[1], sources[2], sources[3], out, count);
}

#ifdef __SSE2__

__m128i Load16(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

void Store16(uint8_t* p, __m128i value) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), value);
}

// Widen to 16 bits, add, shift, pack: sixteen averages.
__m128i Average16(__m128i a, __m128i b, __m128i c, __m128i d) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i low = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero)),
                                      _mm_add_epi16(_mm_unpacklo_epi8(c, zero), _mm_unpacklo_epi8(d, zero)));
    const __m128i high = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero)),
                                       _mm_add_epi16(_mm_unpackhi_epi8(c, zero), _mm_unpackhi_epi8(d, zero)));
    return _mm_packus_epi16(_mm_srli_epi16(low, 2), _mm_srli_epi16(high, 2));
}

void AverageSse2(const uint8_t* a, const uint8_t* b, const uint8_t* c, const uint8_t* d, uint8_t* out,
                 size_t count) {
    size_t i = 0;
    for (; i + 16 <= count; i += 16)
        Store16(out + i, Average16(Load16(a + i), Load16(b + i), Load16(c + i), Load16(d + i)));
    AveragePlain(a + i, b + i, c + i, d + i, out + i, count - i);
}

void AverageAndCopySse2(const uint8_t* const sources[4], uint8_t* const copies[4], uint8_t* out,
                        size_t count) {
    size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        __m128i p[4];
        for (int k = 0; k < 4; ++k) {
            p[k] = Load16(sources[k] + i);
            Store16(copies[k] + i, p[k]);
        }
        Store16(out + i, Average16(p[0], p[1], p[2], p[3]));
    }
    const uint8_t* const rest[4] = {sources[0] + i, sources[1] + i, sources[2] + i, sources[3] + i};
    uint8_t* const restCopies[4] = {copies[0] + i, copies[1] + i, copies[2] + i, copies[3] + i};
    AverageAndCopyPlain(rest, restCopies, out + i, count - i);
}

// The same sixteen-bit sums on 32 pixels at a time. The frames of an image set are mostly still in
// the cache when they are averaged, so the wider form is measurably faster on whole images. Windows
// aligns the stack to 16 bytes only: these functions keep their vectors in registers, and the mingw
// build's code moves nothing of 32 bytes to or from the stack with an aligned instruction.
__attribute__((target("avx2"))) __m256i Load32(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

__attribute__((target("avx2"))) void Store32(uint8_t* p, __m256i value) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), value);
}

// Unpacking and packing work within each 128-bit half, so the pixels come back in their order.
__attribute__((target("avx2"))) __m256i Average32(__m256i a, __m256i b, __m256i c, __m256i d) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i low =
        _mm256_add_epi16(_mm256_add_epi16(_mm256_unpacklo_epi8(a, zero), _mm256_unpacklo_epi8(b, zero)),
                         _mm256_add_epi16(_mm256_unpacklo_epi8(c, zero), _mm256_unpacklo_epi8(d, zero)));
    const __m256i high =
        _mm256_add_epi16(_mm256_add_epi16(_mm256_unpackhi_epi8(a, zero), _mm256_unpackhi_epi8(b, zero)),
                         _mm256_add_epi16(_mm256_unpackhi_epi8(c, zero), _mm256_unpackhi_epi8(d, zero)));
    return _mm256_packus_epi16(_mm256_srli_epi16(low, 2), _mm256_srli_epi16(high, 2));
}

__attribute__((target("avx2"))) void AverageAvx2(const uint8_t* a, const uint8_t* b, const uint8_t* c,
                                                 const uint8_t* d, uint8_t* out, size_t count) {
    size_t i = 0;
    for (; i + 32 <= count; i += 32)
        Store32(out + i, Average32(Load32(a + i), Load32(b + i), Load32(c + i), Load32(d + i)));
    AverageSse2(a + i, b + i, c + i, d + i, out + i, count - i);
}

__attribute__((target("avx2"))) void
AverageAndCopyAvx2(const uint8_t* const sources[4], uint8_t* const copies[4], uint8_t* out, size_t count) {
    size_t i = 0;
    for (; i + 32 <= count; i += 32) {
        const __m256i p0 = Load32(sources[0] + i), p1 = Load32(sources[1] + i);
        const __m256i p2 = Load32(sources[2] + i), p3 = Load32(sources[3] + i);
        Store32(copies[0] + i, p0);
        Store32(copies[1] + i, p1);
        Store32(copies[2] + i, p2);
        Store32(copies[3] + i, p3);
        Store32(out + i, Average32(p0, p1, p2, p3));
    }
    const uint8_t* const rest[4] = {sources[0] + i, sources[1] + i, sources[2] + i, sources[3] + i};
    uint8_t* const restCopies[4] = {copies[0] + i, copies[1] + i, copies[2] + i, copies[3] + i};
    AverageAndCopySse2(rest, restCopies, out + i, count - i);
}

bool HasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

#endif

const AverageForm& Fastest() {
    static const AverageForm fastest = AverageForms().back();
    return fastest;
}

} // namespace

std::vector<AverageForm> AverageForms() {
    std::vector<AverageForm> forms{{"plain", AveragePlain, AverageAndCopyPlain}};
#ifdef __SSE2__
    forms.push_back({"SSE2", AverageSse2, AverageAndCopySse2});
    if (HasAvx2())
        forms.push_back({"AVX2", AverageAvx2, AverageAndCopyAvx2});
#endif
    return forms;
}

void Average(const uint8_t* a, const uint8_t* b, const uint8_t* c, const uint8_t* d, uint8_t* out,
             size_t count) {
    Fastest().average(a, b, c, d, out, count);
}

void AverageAndCopy(const uint8_t* const sources[4], uint8_t* const copies[4], uint8_t* out, size_t count) {
    Fastest().averageAndCopy(sources, copies, out, count);
}

} // namespace Tamo::Morvane::Zeb::ImageKernels
