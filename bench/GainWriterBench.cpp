// Writing the fixed copy of a 10-minute stereo programme: a 24-bit WAV (scaled, no dither) and a
// 16-bit WAV (scaled and dithered), each read from a WAV of the same format. The time includes
// reading the original, the flush to disk and the final rename. Originals are made once with
// ffmpeg in $TMPDIR/tavrin-bench-files (kept for later runs); copies are deleted after each run.

#include "ProgrammeFile.h"
#include "tavrin/copies/GainWriter.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Original {
    const char* file;
    const char* args;
};

void BM_WriteCopy(benchmark::State& state, Original original) {
    const fs::path from = tavrin::bench::programmeFile(original.file, original.args);
    if (from.empty())
        return state.SkipWithError("ffmpeg could not make the file");
    const fs::path to = from.parent_path() / "copy.wav";
    fs::remove(to);
    std::uintmax_t bytes = 0;
    for (auto _ : state) {
        tavrin::GainWriter::write(from, to, -3.5);
        state.PauseTiming();
        bytes += fs::file_size(to);
        fs::remove(to);
        state.ResumeTiming();
    }
    state.counters["MB/s"] = benchmark::Counter(double(bytes) / 1e6, benchmark::Counter::kIsRate);
    state.counters["realtime"] = benchmark::Counter(
        tavrin::bench::programmeSeconds * double(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK_CAPTURE(BM_WriteCopy, wav24, Original{"programme.wav", "-c:a pcm_s24le -f wav"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(5);
BENCHMARK_CAPTURE(BM_WriteCopy, wav16dithered, Original{"programme16.wav", "-c:a pcm_s16le -f wav"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(5);

} // namespace

BENCHMARK_MAIN();
