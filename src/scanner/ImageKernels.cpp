// Image byte kernels: a plain loop the compiler vectorises, SSE2 (every x86-64 has it) and AVX2
// where the processor has it. All forms give exactly (p0 + p1 + p2 + p3) >> 2.
#include "ImageKernels.h"

#include <cstring>

#ifdef __SSE2__
#include <immintrin.h>
#endif

namespace Tamo::Morvane::Zeb::ImageKernels {

namespace {

uint8_t AverageOf(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return static_cast<uint8_t>((static_cast<uint32_t>(a) + b + c + d) >> 2);
}

void AveragePlain(const uint8_t* __restrict a, const uint8_t* __restrict b, const uint8_t* __restrict c,
                  const uint8_t* __restrict d, uint8_t* __restrict out, size_t count, bool) {
    for (size_t i = 0; i < count; ++i)
        out[i] = AverageOf(a[i], b[i], c[i], d[i]);
}

void AverageAndCopyPlain(const uint8_t* const sources[4], uint8_t* const copies[4], uint8_t* out,
                         size_t count) {
    for (int k = 0; k < 4; ++k)
        std::memcpy(copies[k], sources[k], count);
    AveragePlain(sources[0], sources[1], sources[2], sources[3], out, count, false);
}

#ifdef __SSE2__

// Bytes to the next multiple of `alignment` (a power of two) at or after `pointer`, at most `count`.
size_t HeadBytes(const void* pointer, size_t alignment, size_t count) {
    const size_t misalignment = reinterpret_cast<uintptr_t>(pointer) & (alignment - 1);
    const size_t head = misalignment == 0 ? 0 : alignment - misalignment;
    return head < count ? head : count;
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

__m128i Load16(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

void AverageSse2(const uint8_t* a, const uint8_t* b, const uint8_t* c, const uint8_t* d, uint8_t* out,
                 size_t count, bool streaming) {
    // Streaming stores need an aligned destination: the bytes before it go the plain way.
    size_t i = streaming ? HeadBytes(out, 16, count) : 0;
    AveragePlain(a, b, c, d, out, i, false);
    if (streaming) {
        for (; i + 16 <= count; i += 16)
            _mm_stream_si128(reinterpret_cast<__m128i*>(out + i),
                             Average16(Load16(a + i), Load16(b + i), Load16(c + i), Load16(d + i)));
        _mm_sfence();
    } else {
        for (; i + 16 <= count; i += 16)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                             Average16(Load16(a + i), Load16(b + i), Load16(c + i), Load16(d + i)));
    }
    AveragePlain(a + i, b + i, c + i, d + i, out + i, count - i, false);
}

void AverageAndCopySse2(const uint8_t* const sources[4], uint8_t* const copies[4], uint8_t* out,
                        size_t count) {
    size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        __m128i p[4];
        for (int k = 0; k < 4; ++k) {
            p[k] = Load16(sources[k] + i);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(copies[k] + i), p[k]);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), Average16(p[0], p[1], p[2], p[3]));
    }
    const uint8_t* const rest[4] = {sources[0] + i, sources[1] + i, sources[2] + i, sources[3] + i};
    uint8_t* const restCopies[4] = {copies[0] + i, copies[1] + i, copies[2] + i, copies[3] + i};
    AverageAndCopyPlain(rest, restCopies, out + i, count - i);
}

void CopyStreaming(uint8_t* destination, const uint8_t* source, size_t count) {
    size_t i = HeadBytes(destination, 16, count);
    std::memcpy(destination, source, i);
    // A whole cache line per step, so each line leaves the write-combining buffer complete.
    for (; i + 64 <= count; i += 64) {
        const __m128i p0 = Load16(source + i), p1 = Load16(source + i + 16);
        const __m128i p2 = Load16(source + i + 32), p3 = Load16(source + i + 48);
        _mm_stream_si128(reinterpret_cast<__m128i*>(destination + i), p0);
        _mm_stream_si128(reinterpret_cast<__m128i*>(destination + i + 16), p1);
        _mm_stream_si128(reinterpret_cast<__m128i*>(destination + i + 32), p2);
        _mm_stream_si128(reinterpret_cast<__m128i*>(destination + i + 48), p3);
    }
    _mm_sfence();
    std::memcpy(destination + i, source + i, count - i);
}

#endif

} // namespace

void Copy(uint8_t* destination, const uint8_t* source, size_t count, bool streaming) {
#ifdef __SSE2__
    if (streaming) {
        CopyStreaming(destination, source, count);
        return;
    }
#endif
    (void)streaming;
    std::memcpy(destination, source, count);
}

std::vector<AverageForm> AverageForms() {
    std::vector<AverageForm> forms{{"plain", AveragePlain, AverageAndCopyPlain}};
#ifdef __SSE2__
    forms.push_back({"SSE2", AverageSse2, AverageAndCopySse2});
#endif
    return forms;
}

namespace {
const AverageForm& Fastest() {
    static const AverageForm fastest = AverageForms().back();
    return fastest;
}
} // namespace

void Average(const uint8_t* a, const uint8_t* b, const uint8_t* c, const uint8_t* d, uint8_t* out,
             size_t count, bool streaming) {
    Fastest().average(a, b, c, d, out, count, streaming);
}

void AverageAndCopy(const uint8_t* const sources[4], uint8_t* const copies[4], uint8_t* out, size_t count) {
    Fastest().averageAndCopy(sources, copies, out, count);
}

} // namespace Tamo::Morvane::Zeb::ImageKernels
