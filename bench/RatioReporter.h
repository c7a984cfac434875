// What the benchmark programs measure against: a plain memcpy, and a console reporter that
// remembers each benchmark's time per iteration so a program can print ratios within one run.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace zeb::bench {

// Copies `bytes` from one buffer to another each iteration: the memory-speed reference.
inline void MeasureMemcpy(benchmark::State& state, size_t bytes) {
    std::vector<uint8_t> source(bytes, 3), target(bytes);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), bytes);
        benchmark::DoNotOptimize(target.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        // Medians of repeated runs where there are repetitions, else the single run.
        for (const Run& run : runs) {
            const std::string name = run.run_name.function_name;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                times[name] = run.GetAdjustedRealTime();
            else if (run.run_type == Run::RT_Iteration && run.iterations > 0 && !times.count(name))
                times[name] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

} // namespace zeb::bench
