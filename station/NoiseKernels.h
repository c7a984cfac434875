// The sensor's noise pass: each pixel becomes its noiseless value plus its grey level's standard
// deviation times a normal deviate, rounded and clipped to 8 bits.
//
// The deviates come from a counter-based generator after ARS (Salmon et al., 2011): pixels 16 b to
// 16 b + 15 of an exposure take one byte each of block b, the exposure's 128-bit key (drawn from the
// camera's seed and the exposure's number) plus b steps of a Weyl sequence, through three AES rounds
// keyed by the same key. No table of deviates is read, every exposure's noise is computable on its
// own, exposures share no structure (each is its own keyed permutation of the blocks), and the pass
// runs in vector registers with the processor's AES instructions. Each byte gives a deviate of 128
// equally likely values, A[low 4 bits] + B[next 3 bits], whose sorted values follow the normal
// quantiles to within 0.04 standard deviations and reach +/-2.8 of them.
//
// What the pass costs. A copy of a frame is paced by memory, a few cycles per 64 bytes; the pass keeps
// near it only if its arithmetic on 64 pixels costs no more, so the vector forms spend as few vector
// operations as they can:
// - The AVX2 forms read each pixel's code from a plane of codes the sensor keeps per image (filled
//   once by the form's own lookup), not from the 256-entry table: a load, one more stream than a copy
//   reads, instead of four operations. The AVX-512 form, whose arithmetic is cheap enough for a frame
//   to be paced by memory, looks its codes up in registers instead (two permutes and a blend): a
//   third stream cost it more than those operations (on a Zen 5 server, a 5 MB frame 2.3 x a
//   `memcpy` with the plane, 1.5 x without).
// - The products code x deviate are taken per pair of pixels in 16-bit lanes, even and odd pixels
//   apart, and rounded with one multiply each.
// - When every noise of the scale fits a signed byte (no deviation above about 45 grey levels: every
//   gain up to 36 dB at the sensor's physical noise), it is added to the clean value in a byte with
//   signed saturation around 128, the two flips of the top bit costing an exclusive or each; otherwise
//   the clean values are widened to 16 bits and the sums packed with saturation and shuffled back
//   into pixel order.
// - With AVX-512 (VBMI and VAES, Ice Lake and later, Zen 4 and later) one permute gives all 64
//   deviates, two zero-masking moves split the codes into even and odd pixels, and one permute
//   interleaves the noise bytes.
// - With AVX2 the deviates take two byte shuffles by nibble, and VAES does two blocks per instruction
//   where AES-NI takes two (Zen 3 model: 11.5 cycles per 64 pixels with VAES, 14 with AES-NI).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zeb::station {

// What makes an exposure's noise its own: the 128-bit key of its blocks, as two halves.
struct NoiseKey {
    uint64_t low = 0, high = 0;
    // The key of exposure number `exposure` of a sensor seeded with `seed`.
    static NoiseKey Of(uint64_t seed, uint64_t exposure);
};

// How deviations become noise: each noiseless grey value's standard deviation as a code, and the
// rounding scale that turns code times deviate into whole grey levels,
// noise = (code * deviate * rounding + 2^14) >> 15.
struct NoiseScale {
    std::array<uint8_t, 256> codes{};
    int16_t rounding = 1;
    // From each grey value's standard deviation in grey levels (0 to 60).
    static NoiseScale From(const std::array<double, 256>& deviations);
};

// The deviate drawn from the low seven bits of `bits`, and the standard deviation of all 128.
int32_t Deviate(uint32_t bits);
double DeviateStandardDeviation();

// out[p] = clamp(clean[p] + noise of pixel p, 0, 255) for every p below `count`, pixel 0 being the
// exposure's first; `out` may be `clean`. `codes` holds scale.codes[clean[p]] for the forms that read
// it (see NoiseForm), and may be null for the others.
using NoiseFunction = void (*)(const uint8_t* clean, const uint8_t* codes, uint8_t* out, size_t count,
                               NoiseKey key, const NoiseScale& scale);
// codes[p] = scale.codes[clean[p]] for every p below `count`.
using CodeLookup = void (*)(const uint8_t* clean, uint8_t* codes, size_t count, const NoiseScale& scale);

// One form of the pass. All give the same bytes; the plain loop is the reference.
struct NoiseForm {
    const char* name;
    NoiseFunction apply;
    // For the forms that read the pixels' codes from a plane rather than look them up in the scale's
    // table: the form's fastest way to fill that plane. Null for the others.
    CodeLookup lookUpCodes;
};
// Every form this processor runs, the plain loop first, for tests and benchmarks.
std::vector<NoiseForm> NoiseForms();
// The fastest of them.
const NoiseForm& FastestNoiseForm();

} // namespace zeb::station
