// The noise pass as a plain loop (the reference, and the form for processors without AVX2), with AVX2
// and AES-NI, and with AVX-512 VBMI and VAES, which holds the 256 deviation codes and the 128 deviates
// in registers. All three give the same bytes: the plain loop runs the AES rounds in software.
//
// Windows aligns the stack to 16 bytes only: the vector forms keep their vectors in registers, and
// the mingw build assembles every vector move as an unaligned one.
#include "NoiseKernels.h"

#include <algorithm>
#include <cmath>

#ifdef __SSE2__
#include <cpuid.h>
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

// SplitMix64's output function.
uint64_t Mix64(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// The generator: block b of an exposure is the key plus b steps of a Weyl sequence (so that neighbouring
// blocks differ in every byte), through three AES rounds whose keys step by the constants of ARS (the
// golden ratio and sqrt(3), in 64 bits each).
constexpr int Rounds = 3;
constexpr uint64_t BlockStepLow = 0xD1B54A32D192ED03ull, BlockStepHigh = 0x8CB92BA72F3D8DD7ull;
constexpr uint64_t KeyStepLow = 0x9E3779B97F4A7C15ull, KeyStepHigh = 0xBB67AE8584CAA73Bull;

NoiseKey RoundKey(NoiseKey key, int round) {
    return {key.low + static_cast<uint64_t>(round) * KeyStepLow,
            key.high + static_cast<uint64_t>(round) * KeyStepHigh};
}

// The input of block `block`.
NoiseKey BlockInput(NoiseKey key, uint64_t block) {
    return {key.low + block * BlockStepLow, key.high + block * BlockStepHigh};
}

using Block = std::array<uint8_t, 16>;

Block BlockOf(uint64_t low, uint64_t high) {
    Block block{};
    for (size_t k = 0; k < 8; ++k) {
        block[k] = static_cast<uint8_t>(low >> (8 * k));
        block[8 + k] = static_cast<uint8_t>(high >> (8 * k));
    }
    return block;
}

uint8_t Rotate(uint8_t x, int bits) {
    return static_cast<uint8_t>(x << bits | x >> (8 - bits));
}

// The byte times 2 in AES's field.
uint8_t Twice(uint8_t x) {
    return static_cast<uint8_t>(x << 1 ^ ((x & 0x80) ? 0x1B : 0));
}

// The AES S-box from its definition: the inverse in GF(2^8) (p steps through the field by
// multiplying by 3, q by dividing by 3, so q = 1 / p), then the affine map.
const std::array<uint8_t, 256>& SBox() {
    static const std::array<uint8_t, 256> box = [] {
        std::array<uint8_t, 256> values{};
        uint8_t p = 1, q = 1;
        do {
            p = static_cast<uint8_t>(p ^ Twice(p));
            q = static_cast<uint8_t>(q ^ q << 1);
            q = static_cast<uint8_t>(q ^ q << 2);
            q = static_cast<uint8_t>(q ^ q << 4);
            if (q & 0x80)
                q ^= 0x09;
            values[p] =
                static_cast<uint8_t>(q ^ Rotate(q, 1) ^ Rotate(q, 2) ^ Rotate(q, 3) ^ Rotate(q, 4) ^ 0x63);
        } while (p != 1);
        values[0] = 0x63;
        return values;
    }();
    return box;
}

// One AES round as the AESENC instruction does it (AESENCLAST without the mixing of the columns):
// byte r + 4 c is row r of column c.
Block Round(const Block& state, const Block& key, bool last) {
    const auto& box = SBox();
    Block out{};
    for (size_t column = 0; column < 4; ++column)
        for (size_t row = 0; row < 4; ++row)
            out[row + 4 * column] = box[state[row + 4 * ((column + row) % 4)]]; // shifted rows, substituted
    if (!last)
        for (size_t column = 0; column < 4; ++column) {
            uint8_t* a = &out[4 * column];
            const uint8_t a0 = a[0], a1 = a[1], a2 = a[2], a3 = a[3];
            a[0] = static_cast<uint8_t>(Twice(a0) ^ Twice(a1) ^ a1 ^ a2 ^ a3);
            a[1] = static_cast<uint8_t>(a0 ^ Twice(a1) ^ Twice(a2) ^ a2 ^ a3);
            a[2] = static_cast<uint8_t>(a0 ^ a1 ^ Twice(a2) ^ Twice(a3) ^ a3);
            a[3] = static_cast<uint8_t>(Twice(a0) ^ a0 ^ a1 ^ a2 ^ Twice(a3));
        }
    for (size_t k = 0; k < 16; ++k)
        out[k] ^= key[k];
    return out;
}

// The round keys of an exposure, in bytes.
std::array<Block, Rounds> RoundKeys(NoiseKey key) {
    std::array<Block, Rounds> keys{};
    for (int round = 1; round <= Rounds; ++round) {
        const NoiseKey k = RoundKey(key, round);
        keys[static_cast<size_t>(round - 1)] = BlockOf(k.low, k.high);
    }
    return keys;
}

// The 16 bytes of block `block`: one for each of the pixels 16 block to 16 block + 15.
Block BlockBits(uint64_t block, NoiseKey key, const std::array<Block, Rounds>& keys) {
    const NoiseKey input = BlockInput(key, block);
    Block state = BlockOf(input.low, input.high);
    for (int round = 0; round < Rounds; ++round)
        state = Round(state, keys[static_cast<size_t>(round)], round + 1 == Rounds);
    return state;
}

uint8_t NoisyPixel(uint8_t clean, uint8_t code, uint32_t bits, int16_t rounding) {
    const int32_t product = code * Deviate(bits);
    const int32_t noise = (product * rounding + (1 << 14)) >> 15;
    return static_cast<uint8_t>(std::clamp(clean + noise, 0, 255));
}

// Pixels `first` to `first + count - 1` of the exposure; `clean` and `out` point at pixel `first`.
void ApplyPlainFrom(const uint8_t* clean, uint8_t* out, size_t first, size_t count, NoiseKey key,
                    const NoiseScale& scale) {
    const std::array<Block, Rounds> keys = RoundKeys(key);
    Block bits{};
    for (size_t i = 0; i < count; ++i) {
        const size_t pixel = first + i;
        if (i == 0 || pixel % 16 == 0)
            bits = BlockBits(pixel / 16, key, keys);
        out[i] = NoisyPixel(clean[i], scale.codes[clean[i]], bits[pixel % 16], scale.rounding);
    }
}

void ApplyPlain(const uint8_t* clean, const uint8_t*, uint8_t* out, size_t count, NoiseKey key,
                const NoiseScale& scale) {
    ApplyPlainFrom(clean, out, 0, count, key, scale);
}

#ifdef __SSE2__

// 128 bits of the generator in a vector register.
__attribute__((target("sse2"))) __m128i Lane(NoiseKey k) {
    return _mm_set_epi64x(static_cast<int64_t>(k.high), static_cast<int64_t>(k.low));
}

// Both vector forms compute, per pair of pixels in a 16-bit lane: the products code x deviate of the
// even and of the odd pixel (multiply-add of unsigned codes by signed deviates with the other byte
// zeroed), rounded to whole grey levels, added to the clean values, packed with saturation to 0..255
// and put back in pixel order (the pack leaves the even pixels of each 16 bytes before the odd).

__attribute__((target("avx2,aes"))) void ApplyAvx2(const uint8_t* clean, const uint8_t* deviations,
                                                   uint8_t* out, size_t count, NoiseKey key,
                                                   const NoiseScale& scale) {
    const __m256i coarse =
        _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Coarse.data())));
    const __m256i fine =
        _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Fine.data())));
    const __m256i lowNibble = _mm256_set1_epi8(0x0F), lowThreeBits = _mm256_set1_epi8(0x07);
    const __m256i evenBytes = _mm256_set1_epi16(0x00FF);
    const __m256i rounding = _mm256_set1_epi16(scale.rounding);
    const __m256i pixelOrder = _mm256_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 0, 8, 1,
                                                9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15);
    __m128i keys[Rounds];
    for (int round = 1; round <= Rounds; ++round)
        keys[round - 1] = Lane(RoundKey(key, round));
    // Blocks 2 j and 2 j + 1 for the pixels 32 j to 32 j + 31.
    __m128i nextLow = Lane(BlockInput(key, 0)), nextHigh = Lane(BlockInput(key, 1));
    const __m128i step = Lane(BlockInput({}, 2));
    size_t p = 0;
    for (; p + 32 <= count; p += 32) {
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(clean + p));
        const __m256i code = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(deviations + p));
        __m128i low = nextLow, high = nextHigh;
        nextLow = _mm_add_epi64(nextLow, step);
        nextHigh = _mm_add_epi64(nextHigh, step);
        for (int round = 0; round + 1 < Rounds; ++round) {
            low = _mm_aesenc_si128(low, keys[round]);
            high = _mm_aesenc_si128(high, keys[round]);
        }
        const __m256i x = _mm256_set_m128i(_mm_aesenclast_si128(high, keys[Rounds - 1]),
                                           _mm_aesenclast_si128(low, keys[Rounds - 1]));
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

#define ZEB_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi,vaes")))

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
          _pixelOrder(
              _mm512_broadcast_i32x4(_mm_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15))),
          _keys{Lanes(RoundKey(key, 1)), Lanes(RoundKey(key, 2)), Lanes(RoundKey(key, 3))},
          _blocks(_mm512_inserti64x4(
              _mm512_castsi256_si512(_mm256_set_m128i(Lane(BlockInput(key, 1)), Lane(BlockInput(key, 0)))),
              _mm256_set_m128i(Lane(BlockInput(key, 3)), Lane(BlockInput(key, 2))), 1)),
          _step(Lanes(BlockInput({}, 4))) {}

    // The next 64 pixels with their noise.
    ZEB_AVX512 __attribute__((always_inline)) __m512i Next(__m512i clean) {
        constexpr __mmask64 evenPixels = 0x5555555555555555ull;
        const __m512i code = _mm512_mask_blend_epi8(_mm512_movepi8_mask(clean),
                                                    _mm512_permutex2var_epi8(_codes0, clean, _codes1),
                                                    _mm512_permutex2var_epi8(_codes2, clean, _codes3));
        // Four blocks of the generator: 64 bytes, one for each pixel.
        __m512i x = _blocks;
        _blocks = _mm512_add_epi64(_blocks, _step);
        x = _mm512_aesenc_epi128(x, _keys[0]);
        x = _mm512_aesenc_epi128(x, _keys[1]);
        x = _mm512_aesenclast_epi128(x, _keys[2]);
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
    const __m512i _evenBytes, _rounding, _pixelOrder;
    const __m512i _keys[Rounds];
    __m512i _blocks; // the inputs of the next four blocks
    const __m512i _step;

    // The same 128 bits in each of the four lanes.
    static ZEB_AVX512 __m512i Lanes(NoiseKey k) { return _mm512_broadcast_i32x4(Lane(k)); }
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
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("aes");
}

// Vector AES (CPUID leaf 7, ECX bit 9), read directly: not every compiler's cpu-feature builtin knows it.
bool HasVaes() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (c & (1u << 9)) != 0;
}

bool HasAvx512Vbmi() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi") && HasVaes();
}

#endif

} // namespace

NoiseKey NoiseKey::Of(uint64_t seed, uint64_t exposure) {
    // Two values of SplitMix64's sequences from the seed: exposure n takes the n-th of each.
    const uint64_t start = Mix64(seed) + 2 * (exposure + 1) * 0x9E3779B97F4A7C15ull;
    return {Mix64(start), Mix64(start + 0x9E3779B97F4A7C15ull)};
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
