#include "imagefiles/LiteralDeflate.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>

namespace zeb::imagefiles {

namespace {

constexpr size_t BlockBytes = size_t{128} << 10;
constexpr int32_t EndOfBlock = 256;
constexpr int32_t LiteralSymbols = 257; // the bytes and the end of the block; no lengths
constexpr int32_t LengthSymbols = 19;   // the alphabet that codes the code lengths
// The order in which the code lengths of that alphabet are sent.
constexpr std::array<int32_t, LengthSymbols> LengthOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                            11, 4,  12, 3, 13, 2, 14, 1, 15};

// Huffman code lengths for the frequencies, none longer than `limit`: where the optimal code is
// deeper, the frequencies are flattened (halved, a used symbol keeping at least 1) until it fits.
// The tree is built with two queues, the leaves sorted by weight and the merged nodes, which come
// out in order of weight as they are made.
std::vector<uint8_t> CodeLengths(std::vector<uint32_t> frequencies, uint8_t limit) {
    const size_t symbols = frequencies.size();
    std::vector<uint8_t> lengths(symbols, 0);
    std::vector<size_t> used;
    for (size_t s = 0; s < symbols; ++s)
        if (frequencies[s] > 0)
            used.push_back(s);
    if (used.size() == 1) {
        lengths[used[0]] = 1; // a code of one symbol still takes a bit
        return lengths;
    }
    const size_t leaves = used.size();
    std::vector<uint64_t> weight(2 * leaves);
    std::vector<size_t> parent(2 * leaves);
    std::vector<uint8_t> depth(2 * leaves);
    for (;;) {
        std::sort(used.begin(), used.end(),
                  [&](size_t a, size_t b) { return frequencies[a] < frequencies[b]; });
        for (size_t k = 0; k < leaves; ++k)
            weight[k] = frequencies[used[k]];
        size_t leaf = 0, merged = leaves, made = leaves;
        auto lightest = [&] {
            return leaf < leaves && (merged == made || weight[leaf] <= weight[merged]) ? leaf++ : merged++;
        };
        while (made < 2 * leaves - 1) {
            const size_t a = lightest(), b = lightest();
            weight[made] = weight[a] + weight[b];
            parent[a] = parent[b] = made++;
        }
        // The root is the last node; every other node's parent comes after it.
        depth[made - 1] = 0;
        bool fits = true;
        for (size_t node = made - 1; node-- > 0;) {
            depth[node] = static_cast<uint8_t>(depth[parent[node]] + 1);
            if (node < leaves)
                fits = fits && depth[node] <= limit;
        }
        if (fits) {
            for (size_t k = 0; k < leaves; ++k)
                lengths[used[k]] = depth[k];
            return lengths;
        }
        for (size_t s : used)
            frequencies[s] = (frequencies[s] + 1) / 2;
    }
}

// The canonical codes of RFC 1951 for the lengths, bit-reversed: deflate sends codes from their
// first bit on, and the writer below fills bytes from their lowest bit.
std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths) {
    std::array<uint32_t, 16> count{}, next{};
    for (uint8_t length : lengths)
        ++count[length];
    count[0] = 0;
    uint32_t code = 0;
    for (size_t bits = 1; bits < 16; ++bits) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    std::vector<uint32_t> codes(lengths.size(), 0);
    for (size_t s = 0; s < lengths.size(); ++s) {
        if (lengths[s] == 0)
            continue;
        const uint32_t value = next[lengths[s]]++;
        uint32_t reversed = 0;
        for (uint8_t bit = 0; bit < lengths[s]; ++bit)
            reversed |= ((value >> bit) & 1u) << (lengths[s] - 1 - bit);
        codes[s] = reversed;
    }
    return codes;
}

// Bits into bytes, lowest bit first, into a buffer known to be large enough (with 8 bytes to spare:
// whole bytes leave the 64-bit accumulator by one unaligned store).
class BitWriter {
public:
    explicit BitWriter(uint8_t* start) : _start(start), _at(start) {}
    // Adds up to 56 bits in all between flushes: three codes of at most 15 bits after a flush.
    void Add(uint64_t bits, uint32_t count) {
        _pending |= bits << _count;
        _count += count;
    }
    // Moves the whole bytes out; at most 7 bits stay pending.
    void Flush() {
        std::memcpy(_at, &_pending, sizeof _pending); // the bytes of a little-endian accumulator
        _at += _count / 8;
        _pending >>= _count & ~7u;
        _count &= 7;
    }
    void Put(uint64_t bits, uint32_t count) {
        Add(bits, count);
        Flush();
    }
    // Pads the last byte with zero bits.
    void PadToByte() {
        if (_count > 0)
            Put(0, 8 - _count);
    }
    void PutBytes(std::initializer_list<uint8_t> bytes) {
        for (uint8_t byte : bytes)
            Put(byte, 8);
    }
    size_t Written() const { return static_cast<size_t>(_at - _start); }

private:
    uint8_t* _start;
    uint8_t* _at;
    uint64_t _pending = 0;
    uint32_t _count = 0;
};

// One block with its dynamic Huffman code (block type 2): the header with the code lengths, the
// bytes, the end of the block.
void WriteBlock(const uint8_t* data, size_t size, bool last, BitWriter& bits) {
    std::vector<uint32_t> frequencies(LiteralSymbols, 0);
    std::array<std::array<uint32_t, 256>, 4> counts{}; // four tallies keep the updates independent
    size_t i = 0;
    for (; i + 4 <= size; i += 4)
        for (size_t k = 0; k < 4; ++k)
            ++counts[k][data[i + k]];
    for (; i < size; ++i)
        ++counts[0][data[i]];
    for (size_t value = 0; value < 256; ++value)
        frequencies[value] = counts[0][value] + counts[1][value] + counts[2][value] + counts[3][value];
    frequencies[EndOfBlock] = 1;
    const std::vector<uint8_t> lengths = CodeLengths(frequencies, 15);
    const std::vector<uint32_t> codes = CanonicalCodes(lengths);

    // The lengths of both alphabets in one sequence: the literals', then two distance codes of one
    // bit (none is used, but a complete code is what every decoder accepts).
    std::vector<uint8_t> sequence(lengths);
    sequence.insert(sequence.end(), {1, 1});
    std::vector<uint32_t> lengthFrequencies(LengthSymbols, 0);
    for (uint8_t length : sequence)
        ++lengthFrequencies[length];
    const std::vector<uint8_t> lengthLengths = CodeLengths(lengthFrequencies, 7);
    const std::vector<uint32_t> lengthCodes = CanonicalCodes(lengthLengths);

    bits.Put(last ? 1 : 0, 1);
    bits.Put(2, 2);
    bits.Put(LiteralSymbols - 257, 5);
    bits.Put(2 - 1, 5);
    bits.Put(LengthSymbols - 4, 4);
    for (int32_t symbol : LengthOrder)
        bits.Put(lengthLengths[static_cast<size_t>(symbol)], 3);
    for (uint8_t length : sequence)
        bits.Put(lengthCodes[length], lengthLengths[length]);

    // Each byte's code and length in one entry. Three codes are joined before they join the pending
    // bits, so that only one addition a group waits for the one before.
    std::array<uint32_t, 256> symbols{};
    for (size_t value = 0; value < 256; ++value)
        symbols[value] = codes[value] | static_cast<uint32_t>(lengths[value]) << 16;
    i = 0;
    for (; i + 3 <= size; i += 3) {
        const uint32_t a = symbols[data[i]], b = symbols[data[i + 1]], c = symbols[data[i + 2]];
        const uint32_t lengthA = a >> 16, lengthAB = lengthA + (b >> 16);
        const uint64_t joined =
            uint64_t{a & 0xFFFF} | uint64_t{b & 0xFFFF} << lengthA | uint64_t{c & 0xFFFF} << lengthAB;
        bits.Put(joined, lengthAB + (c >> 16));
    }
    for (; i < size; ++i)
        bits.Put(symbols[data[i]] & 0xFFFF, symbols[data[i]] >> 16);
    bits.Put(codes[EndOfBlock], lengths[EndOfBlock]);
}

} // namespace

size_t DeflateLiterals(const uint8_t* data, size_t size, bool last, std::vector<uint8_t>& buffer) {
    const size_t blocks = std::max<size_t>(1, (size + BlockBytes - 1) / BlockBytes);
    // At most 15 bits a byte, a header of under 300 bytes a block, the closing stored block and the
    // writer's spare bytes.
    const size_t most = size * 2 + blocks * 300 + 32;
    if (buffer.size() < most)
        buffer.resize(most);
    BitWriter bits(buffer.data());
    for (size_t block = 0; block < blocks; ++block) {
        const size_t start = block * BlockBytes;
        const size_t length = std::min(BlockBytes, size - start);
        WriteBlock(data + start, length, last && block + 1 == blocks, bits);
    }
    if (!last) {
        // An empty stored block: its header, the padding to the byte, LEN 0 and NLEN 0xFFFF.
        bits.Put(0, 3);
        bits.PadToByte();
        bits.PutBytes({0x00, 0x00, 0xFF, 0xFF});
    }
    bits.PadToByte();
    return bits.Written();
}

} // namespace zeb::imagefiles
