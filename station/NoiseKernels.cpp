// The noise pass as a plain loop (the reference, and the form for processors without AVX2), with AVX2
// and AES-NI, with AVX2 and VAES, and with AVX-512 VBMI and VAES. All give the same bytes: the plain
// loop runs the AES rounds in software. NoiseKernels.h says what each costs and why.
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

// The noise in whole grey levels of the product code x deviate.
int32_t NoiseOf(int32_t product, int16_t rounding) {
    return (product * rounding + (1 << 14)) >> 15;
}

uint8_t NoisyPixel(uint8_t clean, uint8_t code, uint32_t bits, int16_t rounding) {
    return static_cast<uint8_t>(std::clamp(clean + NoiseOf(code * Deviate(bits), rounding), 0, 255));
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

void LookUpCodes(const uint8_t* clean, uint8_t* codes, size_t count, const NoiseScale& scale) {
    for (size_t p = 0; p < count; ++p)
        codes[p] = scale.codes[clean[p]];
}

// Whether every noise of the scale lies in -128..127: then a vector form may add it to the clean value
// in a byte with saturation. The noise grows with the product, whose extremes are the largest code
// times the lowest and the highest deviate. Asked once per frame or line, so kept to a few operations.
bool NoiseFitsAByte(const NoiseScale& scale) {
    constexpr int32_t lowest = *std::min_element(Deviates.begin(), Deviates.end());
    constexpr int32_t highest = *std::max_element(Deviates.begin(), Deviates.end());
    uint8_t code = 0;
    for (const uint8_t c : scale.codes)
        code = std::max(code, c);
    for (const int32_t deviate : {lowest, highest}) {
        const int32_t noise = NoiseOf(code * deviate, scale.rounding);
        if (noise < -128 || noise > 127)
            return false;
    }
    return true;
}

// 128 bits of the generator in a vector register.
__attribute__((target("sse2"))) __m128i Lane(NoiseKey k) {
    return _mm_set_epi64x(static_cast<int64_t>(k.high), static_cast<int64_t>(k.low));
}

// Every vector form computes, per pair of pixels in a 16-bit lane, the products code x deviate of the
// even and of the odd pixel (multiply-add of unsigned codes by signed deviates with the other byte
// zeroed) and rounds them to whole grey levels with one multiply (NoiseOf). Then either the clean
// values are split into 16-bit lanes, the noise added and the sums packed with saturation to 0..255,
// which leaves the even pixels of each 16 bytes before the odd and takes a shuffle back into pixel
// order; or, when the noise fits a byte (NoiseFitsAByte), the noise bytes are interleaved and added to
// the clean values with signed saturation around 128: clamp(c + n, 0, 255) = sat(c - 128 + n) + 128,
// where - 128 and + 128 both flip the top bit.

#define ZEB_AVX2 __attribute__((target("avx2")))

// The AVX2 forms' arithmetic on 32 pixels, given the generator's 32 bytes for them: the deviate of each
// byte is Coarse and Fine looked up by its nibbles.
class Avx2Noise {
public:
    ZEB_AVX2 explicit Avx2Noise(const NoiseScale& scale)
        : _coarse(
              _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Coarse.data())))),
          _fine(_mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Fine.data())))),
          _lowNibble(_mm256_set1_epi8(0x0F)), _lowThreeBits(_mm256_set1_epi8(0x07)),
          _evenBytes(_mm256_set1_epi16(0x00FF)), _topBits(_mm256_set1_epi8(static_cast<char>(0x80))),
          _rounding(_mm256_set1_epi16(scale.rounding)),
          _pixelOrder(_mm256_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 0, 8, 1, 9, 2,
                                       10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15)) {}

    template <bool ByteNoise>
    ZEB_AVX2 __attribute__((always_inline)) __m256i Apply(__m256i clean, __m256i code, __m256i bits) const {
        const __m256i deviate = _mm256_add_epi8(
            _mm256_shuffle_epi8(_coarse, _mm256_and_si256(bits, _lowNibble)),
            _mm256_shuffle_epi8(_fine, _mm256_and_si256(_mm256_srli_epi16(bits, 4), _lowThreeBits)));
        const __m256i evenNoise =
            _mm256_mulhrs_epi16(_mm256_maddubs_epi16(code, _mm256_and_si256(deviate, _evenBytes)), _rounding);
        const __m256i oddNoise = _mm256_mulhrs_epi16(
            _mm256_maddubs_epi16(code, _mm256_andnot_si256(_evenBytes, deviate)), _rounding);
        if constexpr (ByteNoise) {
            const __m256i noise = _mm256_shuffle_epi8(_mm256_packs_epi16(evenNoise, oddNoise), _pixelOrder);
            return _mm256_xor_si256(_mm256_adds_epi8(_mm256_xor_si256(clean, _topBits), noise), _topBits);
        } else {
            const __m256i even = _mm256_add_epi16(_mm256_and_si256(clean, _evenBytes), evenNoise);
            const __m256i odd = _mm256_add_epi16(_mm256_srli_epi16(clean, 8), oddNoise);
            return _mm256_shuffle_epi8(_mm256_packus_epi16(even, odd), _pixelOrder);
        }
    }

private:
    const __m256i _coarse, _fine, _lowNibble, _lowThreeBits, _evenBytes, _topBits, _rounding, _pixelOrder;
};

// With AES-NI: blocks 2 j and 2 j + 1, for the pixels 32 j to 32 j + 31, in two registers.
template <bool ByteNoise>
__attribute__((target("avx2,aes"))) void RunAvx2(const uint8_t* clean, const uint8_t* codes, uint8_t* out,
                                                 size_t count, NoiseKey key, const NoiseScale& scale) {
    const Avx2Noise noise(scale);
    __m128i keys[Rounds];
    for (int round = 1; round <= Rounds; ++round)
        keys[round - 1] = Lane(RoundKey(key, round));
    __m128i nextLow = Lane(BlockInput(key, 0)), nextHigh = Lane(BlockInput(key, 1));
    const __m128i step = Lane(BlockInput({}, 2));
    size_t p = 0;
    for (; p + 32 <= count; p += 32) {
        __m128i low = _mm_aesenc_si128(nextLow, keys[0]), high = _mm_aesenc_si128(nextHigh, keys[0]);
        nextLow = _mm_add_epi64(nextLow, step);
        nextHigh = _mm_add_epi64(nextHigh, step);
        for (int round = 1; round + 1 < Rounds; ++round) {
            low = _mm_aesenc_si128(low, keys[round]);
            high = _mm_aesenc_si128(high, keys[round]);
        }
        low = _mm_aesenclast_si128(low, keys[Rounds - 1]);
        high = _mm_aesenclast_si128(high, keys[Rounds - 1]);
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(clean + p));
        const __m256i code = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(codes + p));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + p),
                            noise.Apply<ByteNoise>(c, code, _mm256_set_m128i(high, low)));
    }
    ApplyPlainFrom(clean + p, out + p, p, count - p, key, scale);
}

// With VAES: both blocks in one register, each AES round one instruction.
template <bool ByteNoise>
__attribute__((target("avx2,vaes"))) void RunAvx2Vaes(const uint8_t* clean, const uint8_t* codes,
                                                      uint8_t* out, size_t count, NoiseKey key,
                                                      const NoiseScale& scale) {
    const Avx2Noise noise(scale);
    __m256i keys[Rounds];
    for (int round = 1; round <= Rounds; ++round)
        keys[round - 1] = _mm256_broadcastsi128_si256(Lane(RoundKey(key, round)));
    __m256i blocks = _mm256_set_m128i(Lane(BlockInput(key, 1)), Lane(BlockInput(key, 0)));
    const __m256i step = _mm256_broadcastsi128_si256(Lane(BlockInput({}, 2)));
    size_t p = 0;
    for (; p + 32 <= count; p += 32) {
        __m256i x = _mm256_aesenc_epi128(blocks, keys[0]);
        blocks = _mm256_add_epi64(blocks, step);
        for (int round = 1; round + 1 < Rounds; ++round)
            x = _mm256_aesenc_epi128(x, keys[round]);
        x = _mm256_aesenclast_epi128(x, keys[Rounds - 1]);
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(clean + p));
        const __m256i code = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(codes + p));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + p), noise.Apply<ByteNoise>(c, code, x));
    }
    ApplyPlainFrom(clean + p, out + p, p, count - p, key, scale);
}

void ApplyAvx2(const uint8_t* clean, const uint8_t* codes, uint8_t* out, size_t count, NoiseKey key,
               const NoiseScale& scale) {
    if (NoiseFitsAByte(scale))
        RunAvx2<true>(clean, codes, out, count, key, scale);
    else
        RunAvx2<false>(clean, codes, out, count, key, scale);
}

void ApplyAvx2Vaes(const uint8_t* clean, const uint8_t* codes, uint8_t* out, size_t count, NoiseKey key,
                   const NoiseScale& scale) {
    if (NoiseFitsAByte(scale))
        RunAvx2Vaes<true>(clean, codes, out, count, key, scale);
    else
        RunAvx2Vaes<false>(clean, codes, out, count, key, scale);
}

// GCC 12's AVX-512 shifts and broadcasts start from an "undefined" vector that it then reports as
// uninitialised; the instructions never read it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__) // a GCC warning that clang does not know
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#define ZEB_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi,vaes")))

// The pass over 64 pixels at a time, the 128 deviates and the generator's counters in registers.
//
// Per 64 pixels, when the noise fits a byte: the counter's step and three AES rounds, one permute for
// all 64 deviates, two multiply-adds and two rounding multiplies, one permute to interleave the noise
// bytes, two exclusive ors and a saturating add; before them the codes, two permutes and a blend of the
// table, split into the even and the odd pixels' by two moves that zero every other byte
// (NoiseKernels.h says why).
class Avx512Pass {
public:
    ZEB_AVX512 Avx512Pass(NoiseKey key, const NoiseScale& scale)
        : _deviates0(_mm512_loadu_si512(Deviates.data())),
          _deviates1(_mm512_loadu_si512(Deviates.data() + 64)), _rounding(_mm512_set1_epi16(scale.rounding)),
          _evenBytes(_mm512_set1_epi16(0x00FF)), _topBits(_mm512_set1_epi8(static_cast<char>(0x80))),
          _pixelOrder(
              _mm512_broadcast_i32x4(_mm_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15))),
          _interleave(InterleaveLowBytes()), _keys{Lanes(RoundKey(key, 1)), Lanes(RoundKey(key, 2)),
                                                   Lanes(RoundKey(key, 3))},
          _blocks(_mm512_inserti64x4(
              _mm512_castsi256_si512(_mm256_set_m128i(Lane(BlockInput(key, 1)), Lane(BlockInput(key, 0)))),
              _mm256_set_m128i(Lane(BlockInput(key, 3)), Lane(BlockInput(key, 2))), 1)),
          _step(Lanes(BlockInput({}, 4))) {}

    static constexpr __mmask64 EvenPixels = 0x5555555555555555ull;

    // The next 64 pixels with their noise, from their clean values and their codes, those of the odd
    // pixels zeroed in `evenCodes` and those of the even pixels in `oddCodes`.
    template <bool ByteNoise>
    ZEB_AVX512 __attribute__((always_inline)) __m512i Next(__m512i clean, __m512i evenCodes,
                                                           __m512i oddCodes) {
        // Four blocks of the generator: 64 bytes, one for each pixel, and their deviates.
        __m512i x = _mm512_aesenc_epi128(_blocks, _keys[0]);
        _blocks = _mm512_add_epi64(_blocks, _step);
        x = _mm512_aesenc_epi128(x, _keys[1]);
        x = _mm512_aesenclast_epi128(x, _keys[2]);
        const __m512i deviate = _mm512_permutex2var_epi8(_deviates0, x, _deviates1);
        const __m512i evenNoise = _mm512_mulhrs_epi16(_mm512_maddubs_epi16(evenCodes, deviate), _rounding);
        const __m512i oddNoise = _mm512_mulhrs_epi16(_mm512_maddubs_epi16(oddCodes, deviate), _rounding);
        if constexpr (ByteNoise) {
            const __m512i noise = _mm512_permutex2var_epi8(evenNoise, _interleave, oddNoise);
            return _mm512_xor_si512(_mm512_adds_epi8(_mm512_xor_si512(clean, _topBits), noise), _topBits);
        } else {
            const __m512i even = _mm512_add_epi16(_mm512_and_si512(clean, _evenBytes), evenNoise);
            const __m512i odd = _mm512_add_epi16(_mm512_srli_epi16(clean, 8), oddNoise);
            return _mm512_shuffle_epi8(_mm512_packus_epi16(even, odd), _pixelOrder);
        }
    }

private:
    const __m512i _deviates0, _deviates1, _rounding, _evenBytes, _topBits, _pixelOrder, _interleave;
    const __m512i _keys[Rounds];
    __m512i _blocks; // the inputs of the next four blocks
    const __m512i _step;

    // The same 128 bits in each of the four lanes.
    static ZEB_AVX512 __m512i Lanes(NoiseKey k) { return _mm512_broadcast_i32x4(Lane(k)); }

    // Byte 2 i from byte 2 i of the first vector, byte 2 i + 1 from byte 2 i of the second (index 64 on).
    static ZEB_AVX512 __m512i InterleaveLowBytes() {
        std::array<uint8_t, 64> index{};
        for (size_t i = 0; i < 64; ++i)
            index[i] = static_cast<uint8_t>(i % 2 == 0 ? i : 63 + i);
        return _mm512_loadu_si512(index.data());
    }
};

// The codes of 64 pixels: two permutes look each byte up in both halves of the 256-entry table, its top
// bit picks one.
ZEB_AVX512 inline __attribute__((always_inline)) __m512i CodesOf(__m512i clean, const __m512i (&table)[4]) {
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(clean),
                                  _mm512_permutex2var_epi8(table[0], clean, table[1]),
                                  _mm512_permutex2var_epi8(table[2], clean, table[3]));
}

// The next 64 pixels with their noise, their codes looked up in registers rather than read from a
// plane: a frame is paced by memory, and a third stream beside the clean values and the frame costs
// more than the four operations.
template <bool ByteNoise>
ZEB_AVX512 inline __attribute__((always_inline)) __m512i NoisyPixels(Avx512Pass& pass, __m512i clean,
                                                                     const __m512i (&table)[4]) {
    constexpr __mmask64 even = Avx512Pass::EvenPixels;
    const __m512i codes = CodesOf(clean, table);
    return pass.Next<ByteNoise>(clean, _mm512_maskz_mov_epi8(even, codes),
                                _mm512_maskz_mov_epi8(~even, codes));
}

template <bool ByteNoise>
ZEB_AVX512 void RunAvx512(const uint8_t* clean, uint8_t* out, size_t count, NoiseKey key,
                          const NoiseScale& scale) {
    const __m512i table[4] = {
        _mm512_loadu_si512(scale.codes.data()), _mm512_loadu_si512(scale.codes.data() + 64),
        _mm512_loadu_si512(scale.codes.data() + 128), _mm512_loadu_si512(scale.codes.data() + 192)};
    Avx512Pass pass(key, scale);
    size_t p = 0;
    for (; p + 64 <= count; p += 64)
        _mm512_storeu_si512(out + p, NoisyPixels<ByteNoise>(pass, _mm512_loadu_si512(clean + p), table));
    if (p < count) {
        // The last pixels through the same code, masked.
        const __mmask64 pixels = (__mmask64{1} << (count - p)) - 1;
        _mm512_mask_storeu_epi8(
            out + p, pixels, NoisyPixels<ByteNoise>(pass, _mm512_maskz_loadu_epi8(pixels, clean + p), table));
    }
}

void ApplyAvx512(const uint8_t* clean, const uint8_t*, uint8_t* out, size_t count, NoiseKey key,
                 const NoiseScale& scale) {
    if (NoiseFitsAByte(scale))
        RunAvx512<true>(clean, out, count, key, scale);
    else
        RunAvx512<false>(clean, out, count, key, scale);
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
    std::vector<NoiseForm> forms{{"plain", ApplyPlain, nullptr}};
#ifdef __SSE2__
    if (HasAvx2())
        forms.push_back({"AVX2", ApplyAvx2, LookUpCodes});
    if (HasAvx2() && HasVaes())
        forms.push_back({"AVX2-VAES", ApplyAvx2Vaes, LookUpCodes});
    if (HasAvx512Vbmi())
        forms.push_back({"AVX-512", ApplyAvx512, nullptr});
#endif
    return forms;
}

const NoiseForm& FastestNoiseForm() {
    static const NoiseForm fastest = NoiseForms().back();
    return fastest;
}

} // namespace zeb::station
