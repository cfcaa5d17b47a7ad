#include "tavrin/reports/Report.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <string>
#include <vector>

using namespace tavrin;

namespace {

/// A mixed list like a real delivery: mostly passing, some failing with a fix, a few without a
/// reading or unreadable.
std::vector<ReportRow> mixedRows(std::size_t count) {
    LoudnessResult passes{-16.04, 6.2, -10.0, -12.3, -2.1, -1.6, 1800, 48000, 2};
    LoudnessResult fails{-19.6, 7.0, -11.0, -13.0, -1.0, 0.3, 600, 48000, 2};
    std::vector<ReportRow> rows;
    for (std::size_t i = 0; i < count; ++i) {
        ReportRow row{"Episode " + std::to_string(i + 1) + " - final mix.wav",
                      "/audio/show",
                      "WAV · 24-bit · 48 kHz · stereo",
                      passes,
                      std::nullopt,
                      std::nullopt};
        if (i % 5 == 1) {
            row.result = fails;
            row.fix = "Can't fix with gain alone";
        } else if (i % 20 == 3) {
            row.result = std::nullopt;
            row.error = "This file couldn't be read: it isn't an audio file.";
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

void BM_ReportPdf(benchmark::State& state) {
    const auto rows = mixedRows(static_cast<std::size_t>(state.range(0)));
    std::size_t bytes = 0;
    for (auto _ : state) {
        const auto document =
            Report::pdf(rows, DeliverySpec::applePodcasts(), "Loudness report: Apple Podcasts",
                        "Tavrin", std::chrono::system_clock::now());
        bytes = document.size();
        benchmark::DoNotOptimize(document.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ReportPdf)->Arg(0)->Arg(1000)->Unit(benchmark::kMillisecond);

} // namespace
BENCHMARK_MAIN();
