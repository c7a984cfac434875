// The noise pass as a plain loop (the reference, and the form for processors without AVX2), with AVX2,
// and with AVX-512 VBMI, which holds the 256 deviation codes and the 128 deviates in registers. All
// three give the same bytes.
//
// Windows aligns the stack to 16 bytes only: the vector forms keep their vectors in registers, and
// the mingw build assembles every vector move as an unaligned one.
#include "NoiseKernels.h"

#include <algorithm>
#include <cmath>

#ifdef __SSE2__
#include <immintrin.h>
#endif

namespace zeb::station {

namespace {

// The deviate of a byte: Coarse[bits 0-3] + Fine[bits 4-6]. Their 128 sums, sorted, follow the normal
// quantiles at (k + 0.5) / 128; the kurtosis is that of the normal distribution to 0.003.
constexpr std::array<int8_t, 16> Coarse = {-74, -35, -34, -29, -18, -11, -4, -1,
                                           1,   4,   11,  18,  29,  34,  35, 74};
constexpr std::array<int8_t, 16> Fine = {-52, -25, -10, -2, 2, 10, 25, 52, 0, 0, 0, 0, 0, 0, 0, 0};
// All 128 deviates, for the form that looks them up at once.
constexpr std::array<int8_t, 128> Deviates = [] {
    std::array<int8_t, 128> values{};
    for (size_t bits = 0; bits < 128; ++bits)
        values[bits] = static_cast<int8_t>(Coarse[bits & 15] + Fine[(bits >> 4) & 7]);
    return values;
}();

// The 32-bit integer hash "lowbias32" (C. Wellons): full avalanche, a bijection.
constexpr uint32_t MixFirst = 0x7feb352dU, MixSecond = 0x846ca68bU;
uint32_t Mix32(uint32_t x) {
    x ^= x >> 16;
    x *= MixFirst;
    x ^= x >> 15;
    x *= MixSecond;
    x ^= x >> 16;
    return x;
}

// SplitMix64's output function.
uint64_t Mix64(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// The hash whose bytes serve the four pixels 4 g to 4 g + 3.
uint32_t GroupBits(size_t group, NoiseKey key) {
    return Mix32(static_cast<uint32_t>(group) * key.multiplier + key.offset);
}

uint8_t NoisyPixel(uint8_t clean, uint8_t code, uint32_t bits, int16_t rounding) {
    const int32_t product = code * Deviate(bits);
    const int32_t noise = (product * rounding + (1 << 14)) >> 15;
    return static_cast<uint8_t>(std::clamp(clean + noise, 0, 255));
}

// Pixels `first` to `first + count - 1` of the exposure; `clean` and `out` point at pixel `first`.
void ApplyPlainFrom(const uint8_t* clean, uint8_t* out, size_t first, size_t count, NoiseKey key,
                    const NoiseScale& scale) {
    uint32_t bits = 0;
    for (size_t i = 0; i < count; ++i) {
        const size_t pixel = first + i;
        if (i == 0 || pixel % 4 == 0)
            bits = GroupBits(pixel / 4, key);
        out[i] = NoisyPixel(clean[i], scale.codes[clean[i]], bits >> (8 * (pixel % 4)), scale.rounding);
    }
}

void ApplyPlain(const uint8_t* clean, const uint8_t*, uint8_t* out, size_t count, NoiseKey key,
                const NoiseScale& scale) {
    ApplyPlainFrom(clean, out, 0, count, key, scale);
}

#ifdef __SSE2__

// Both vector forms compute, per pair of pixels in a 16-bit lane: the products code x deviate of the
// even and of the odd pixel (multiply-add of unsigned codes by signed deviates with the other byte
// zeroed), rounded to whole grey levels, added to the clean values, packed with saturation to 0..255
// and put back in pixel order (the pack leaves the even pixels of each 16 bytes before the odd).

__attribute__((target("avx2"))) void ApplyAvx2(const uint8_t* clean, const uint8_t* deviations, uint8_t* out,
                                               size_t count, NoiseKey key, const NoiseScale& scale) {
    const __m256i coarse =
        _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Coarse.data())));
    const __m256i fine =
        _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Fine.data())));
    const __m256i lowNibble = _mm256_set1_epi8(0x0F), lowThreeBits = _mm256_set1_epi8(0x07);
    const __m256i evenBytes = _mm256_set1_epi16(0x00FF);
    const __m256i rounding = _mm256_set1_epi16(scale.rounding);
    const __m256i mixFirst = _mm256_set1_epi32(static_cast<int32_t>(MixFirst));
    const __m256i mixSecond = _mm256_set1_epi32(static_cast<int32_t>(MixSecond));
    const __m256i pixelOrder = _mm256_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 0, 8, 1,
                                                9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15);
    const __m256i multiplier = _mm256_set1_epi32(static_cast<int32_t>(key.multiplier));
    __m256i counter =
        _mm256_add_epi32(_mm256_mullo_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), multiplier),
                         _mm256_set1_epi32(static_cast<int32_t>(key.offset)));
    const __m256i step = _mm256_set1_epi32(static_cast<int32_t>(8 * key.multiplier));
    size_t p = 0;
    for (; p + 32 <= count; p += 32) {
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(clean + p));
        const __m256i code = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(deviations + p));
        __m256i x = counter;
        counter = _mm256_add_epi32(counter, step);
        x = _mm256_xor_si256(x, _mm256_srli_epi32(x, 16));
        x = _mm256_mullo_epi32(x, mixFirst);
        x = _mm256_xor_si256(x, _mm256_srli_epi32(x, 15));
        x = _mm256_mullo_epi32(x, mixSecond);
        x = _mm256_xor_si256(x, _mm256_srli_epi32(x, 16));
        const __m256i deviate = _mm256_add_epi8(
            _mm256_shuffle_epi8(coarse, _mm256_and_si256(x, lowNibble)),
            _mm256_shuffle_epi8(fine, _mm256_and_si256(_mm256_srli_epi16(x, 4), lowThreeBits)));
        const __m256i evenNoise =
            _mm256_mulhrs_epi16(_mm256_maddubs_epi16(code, _mm256_and_si256(deviate, evenBytes)), rounding);
        const __m256i oddNoise = _mm256_mulhrs_epi16(
            _mm256_maddubs_epi16(code, _mm256_andnot_si256(evenBytes, deviate)), rounding);
        const __m256i even = _mm256_add_epi16(_mm256_and_si256(c, evenBytes), evenNoise);
        const __m256i odd = _mm256_add_epi16(_mm256_srli_epi16(c, 8), oddNoise);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + p),
                            _mm256_shuffle_epi8(_mm256_packus_epi16(even, odd), pixelOrder));
    }
    ApplyPlainFrom(clean + p, out + p, p, count - p, key, scale);
}

// GCC 12's AVX-512 shifts and broadcasts start from an "undefined" vector that it then reports as
// uninitialised; the instructions never read it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#define ZEB_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi")))

// The pass over 64 pixels at a time, its tables and the generator's counters in registers.
class Avx512Pass {
public:
    ZEB_AVX512 Avx512Pass(NoiseKey key, const NoiseScale& scale)
        : _codes0(_mm512_loadu_si512(scale.codes.data())),
          _codes1(_mm512_loadu_si512(scale.codes.data() + 64)),
          _codes2(_mm512_loadu_si512(scale.codes.data() + 128)),
          _codes3(_mm512_loadu_si512(scale.codes.data() + 192)),
          _deviates0(_mm512_loadu_si512(Deviates.data())),
          _deviates1(_mm512_loadu_si512(Deviates.data() + 64)), _evenBytes(_mm512_set1_epi16(0x00FF)),
          _rounding(_mm512_set1_epi16(scale.rounding)),
          _mixFirst(_mm512_set1_epi32(static_cast<int32_t>(MixFirst))),
          _mixSecond(_mm512_set1_epi32(static_cast<int32_t>(MixSecond))),
          _pixelOrder(
              _mm512_broadcast_i32x4(_mm_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15))),
          _counter(_mm512_add_epi32(
              _mm512_mullo_epi32(_mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15),
                                 _mm512_set1_epi32(static_cast<int32_t>(key.multiplier))),
              _mm512_set1_epi32(static_cast<int32_t>(key.offset)))),
          _step(_mm512_set1_epi32(static_cast<int32_t>(16 * key.multiplier))) {}

    // The next 64 pixels with their noise.
    ZEB_AVX512 __attribute__((always_inline)) __m512i Next(__m512i clean) {
        constexpr __mmask64 evenPixels = 0x5555555555555555ull;
        const __m512i code = _mm512_mask_blend_epi8(_mm512_movepi8_mask(clean),
                                                    _mm512_permutex2var_epi8(_codes0, clean, _codes1),
                                                    _mm512_permutex2var_epi8(_codes2, clean, _codes3));
        __m512i x = _counter;
        _counter = _mm512_add_epi32(_counter, _step);
        x = _mm512_xor_si512(x, _mm512_srli_epi32(x, 16));
        x = _mm512_mullo_epi32(x, _mixFirst);
        x = _mm512_xor_si512(x, _mm512_srli_epi32(x, 15));
        x = _mm512_mullo_epi32(x, _mixSecond);
        x = _mm512_xor_si512(x, _mm512_srli_epi32(x, 16));
        // The deviates of the even and of the odd pixels, the other bytes zero.
        const __m512i evenDeviate = _mm512_maskz_permutex2var_epi8(evenPixels, _deviates0, x, _deviates1);
        const __m512i oddDeviate = _mm512_maskz_permutex2var_epi8(~evenPixels, _deviates0, x, _deviates1);
        const __m512i evenNoise = _mm512_mulhrs_epi16(_mm512_maddubs_epi16(code, evenDeviate), _rounding);
        const __m512i oddNoise = _mm512_mulhrs_epi16(_mm512_maddubs_epi16(code, oddDeviate), _rounding);
        const __m512i even = _mm512_add_epi16(_mm512_and_si512(clean, _evenBytes), evenNoise);
        const __m512i odd = _mm512_add_epi16(_mm512_srli_epi16(clean, 8), oddNoise);
        return _mm512_shuffle_epi8(_mm512_packus_epi16(even, odd), _pixelOrder);
    }

private:
    const __m512i _codes0, _codes1, _codes2, _codes3, _deviates0, _deviates1;
    const __m512i _evenBytes, _rounding, _mixFirst, _mixSecond, _pixelOrder;
    __m512i _counter;
    const __m512i _step;
};

ZEB_AVX512 void ApplyAvx512(const uint8_t* clean, const uint8_t*, uint8_t* out, size_t count, NoiseKey key,
                            const NoiseScale& scale) {
    Avx512Pass pass(key, scale);
    size_t p = 0;
    for (; p + 64 <= count; p += 64)
        _mm512_storeu_si512(out + p, pass.Next(_mm512_loadu_si512(clean + p)));
    if (p < count) {
        // The last pixels through the same code, masked.
        const __mmask64 pixels = (__mmask64{1} << (count - p)) - 1;
        _mm512_mask_storeu_epi8(out + p, pixels, pass.Next(_mm512_maskz_loadu_epi8(pixels, clean + p)));
    }
}

#pragma GCC diagnostic pop

bool HasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

bool HasAvx512Vbmi() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi");
}

#endif

} // namespace

NoiseKey NoiseKey::Of(uint64_t seed, uint64_t exposure) {
    // SplitMix64's sequence from the seed: exposure n takes its n-th value.
    const uint64_t value = Mix64(Mix64(seed) + (exposure + 1) * 0x9E3779B97F4A7C15ull);
    return {static_cast<uint32_t>(value) | 1u, static_cast<uint32_t>(value >> 32)};
}

int32_t Deviate(uint32_t bits) {
    return Deviates[bits & 127];
}

double DeviateStandardDeviation() {
    static const double deviation = [] {
        double squares = 0;
        for (uint32_t bits = 0; bits < 128; ++bits)
            squares += Deviate(bits) * Deviate(bits);
        return std::sqrt(squares / 128);
    }();
    return deviation;
}

NoiseScale NoiseScale::From(const std::array<double, 256>& deviations) {
    // The finest code unit, 2^shift per deviate unit, that keeps the largest deviation within 255.
    const double largest = *std::max_element(deviations.begin(), deviations.end());
    int shift = 15;
    while (shift > 0 && largest * std::ldexp(1.0, shift) / DeviateStandardDeviation() >= 255.5)
        --shift;
    NoiseScale scale;
    scale.rounding = static_cast<int16_t>(1 << (15 - shift));
    const double unit = std::ldexp(1.0, shift) / DeviateStandardDeviation();
    for (size_t grey = 0; grey < 256; ++grey)
        scale.codes[grey] = static_cast<uint8_t>(std::clamp(std::lround(deviations[grey] * unit), 0L, 255L));
    return scale;
}

std::vector<NoiseForm> NoiseForms() {
    std::vector<NoiseForm> forms{{"plain", ApplyPlain, false}};
#ifdef __SSE2__
    if (HasAvx2())
        forms.push_back({"AVX2", ApplyAvx2, true});
    if (HasAvx512Vbmi())
        forms.push_back({"AVX-512", ApplyAvx512, false});
#endif
    return forms;
}

const NoiseForm& FastestNoiseForm() {
    static const NoiseForm fastest = NoiseForms().back();
    return fastest;
}

} // namespace zeb::station
