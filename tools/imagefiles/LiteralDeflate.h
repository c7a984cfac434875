// Deflate (RFC 1951) blocks that code every byte as a literal, with a Huffman code fitted to each
// block of 128 KiB. The filtered rows of a camera's images repeat too little for the search of
// repeated strings to pay: coding their bytes alone compresses them better than zlib's fastest level,
// as well as zlib's Huffman-only strategy, and about four times as fast as that
// (bench/DeflateBenchmarks.cpp measures the three on a station frame's filtered rows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zeb::imagefiles {

// Writes blocks coding `data` at the start of `buffer` and returns how many bytes they take. They end
// on a byte boundary: with the stream's final block when `last`, else with an empty stored block, so
// that the blocks of the data that follows may come right after them. `buffer` grows when it may be
// too small and never shrinks, so that a buffer used again costs no allocation.
size_t DeflateLiterals(const uint8_t* data, size_t size, bool last, std::vector<uint8_t>& buffer);

} // namespace zeb::imagefiles
