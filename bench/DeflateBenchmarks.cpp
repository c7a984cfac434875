// Deflating the filtered rows of a PNG file: the rows of a real noisy station frame (the default
// area channel's four directions, 5.2 MB), each after its "Up" filter byte and filtered as the PNG
// writer does, coded by the writer's own literal coder, by zlib at its Huffman-only strategy (the
// byte values alone, no search for repeated strings) and at its fastest level for reference.
// Reported as megabytes of filtered rows per second and the output's size in percent of them.
#include "StationFrames.h"
#include "imagefiles/LiteralDeflate.h"

#include <benchmark/benchmark.h>

#include <zlib.h>

#include <vector>

namespace {

using namespace zeb;

// The rows as the PNG writer filters them: a filter byte ("Up", 2), then each byte minus the one
// above it.
const std::vector<uint8_t>& FilteredRows() {
    static const std::vector<uint8_t> rows = [] {
        const host::Image stack = bench::DefaultStack();
        const size_t width = static_cast<size_t>(stack.width);
        std::vector<uint8_t> filtered;
        filtered.reserve((width + 1) * static_cast<size_t>(stack.height));
        for (size_t y = 0; y < static_cast<size_t>(stack.height); ++y) {
            filtered.push_back(2);
            for (size_t x = 0; x < width; ++x) {
                const uint8_t above = y > 0 ? stack.pixels[(y - 1) * width + x] : 0;
                filtered.push_back(static_cast<uint8_t>(stack.pixels[y * width + x] - above));
            }
        }
        return filtered;
    }();
    return rows;
}

void Report(benchmark::State& state, size_t output) {
    const double input = static_cast<double>(FilteredRows().size());
    state.counters["MB/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * input / 1e6,
                                                benchmark::Counter::kIsRate);
    state.counters["output %"] = 100.0 * static_cast<double>(output) / input;
}

// One raw deflate stream of the rows, as one part of the PNG writer's.
void ZlibDeflate(benchmark::State& state, int level, int strategy) {
    const std::vector<uint8_t>& rows = FilteredRows();
    std::vector<uint8_t> out;
    size_t size = 0;
    for (auto _ : state) {
        z_stream stream{};
        deflateInit2(&stream, level, Z_DEFLATED, -15, 9, strategy);
        out.resize(deflateBound(&stream, rows.size()));
        stream.next_in = const_cast<Bytef*>(rows.data());
        stream.avail_in = static_cast<uInt>(rows.size());
        stream.next_out = out.data();
        stream.avail_out = static_cast<uInt>(out.size());
        if (deflate(&stream, Z_FINISH) != Z_STREAM_END)
            state.SkipWithError("deflate did not finish");
        size = stream.total_out;
        deflateEnd(&stream);
        benchmark::DoNotOptimize(out.data());
    }
    Report(state, size);
}

void BM_LiteralDeflate(benchmark::State& state) {
    const std::vector<uint8_t>& rows = FilteredRows();
    std::vector<uint8_t> buffer;
    size_t size = 0;
    for (auto _ : state) {
        size = imagefiles::DeflateLiterals(rows.data(), rows.size(), true, buffer);
        benchmark::DoNotOptimize(buffer.data());
    }
    Report(state, size);
}

void BM_ZlibHuffmanOnly(benchmark::State& state) {
    ZlibDeflate(state, Z_BEST_SPEED, Z_HUFFMAN_ONLY);
}

void BM_ZlibLevel1(benchmark::State& state) {
    ZlibDeflate(state, Z_BEST_SPEED, Z_DEFAULT_STRATEGY);
}

BENCHMARK(BM_LiteralDeflate)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_ZlibHuffmanOnly)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_ZlibLevel1)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace
