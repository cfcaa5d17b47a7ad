// Whole-file measurement of the same 10-minute stereo programme as WAV, FLAC, MP3 and AAC:
// BM_Measure is what a user waits for, BM_Decode the share of it spent reading and decoding, one
// packet after another (/sequential) or in spans with one helper (/spans). Under `taskset -c 0`
// the two tell what decoding in spans costs on top of decoding.
// The files are made once with ffmpeg in $TMPDIR/tavrin-bench-files (kept for later runs).

#include "ProgrammeFile.h"
#include "decode/FfmpegReader.h"
#include "tavrin/meter/AudioFileMeter.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Format {
    const char* file;
    const char* args;
};
constexpr Format formats[] = {
    {"programme.wav", "-c:a pcm_s24le -f wav"},
    {"programme.flac", "-c:a flac -sample_fmt s32 -f flac"},
    {"programme.mp3", "-c:a libmp3lame -b:a 192k -f mp3"},
    {"programme.m4a", "-c:a aac -b:a 192k -f mp4"},
};

void reportRealTime(benchmark::State& state) {
    state.counters["realtime"] = benchmark::Counter(
        tavrin::bench::programmeSeconds * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Measure(benchmark::State& state, Format format) {
    const fs::path path = tavrin::bench::programmeFile(format.file, format.args);
    if (path.empty())
        return state.SkipWithError("ffmpeg could not make the file");
    for (auto _ : state)
        benchmark::DoNotOptimize(tavrin::AudioFileMeter::measure(path, false));
    reportRealTime(state);
}

void BM_Decode(benchmark::State& state, Format format, int helpers) {
    const fs::path path = tavrin::bench::programmeFile(format.file, format.args);
    if (path.empty())
        return state.SkipWithError("ffmpeg could not make the file");
    for (auto _ : state) {
        tavrin::FfmpegReader reader(path);
        reader.decodeInSpans({helpers});
        while (const std::size_t n = reader.read(tavrin::AudioFileMeter::chunkFrames))
            benchmark::DoNotOptimize(reader.channelData()[0][n - 1]);
    }
    reportRealTime(state);
}

void registerAll() {
    for (const Format& f : formats) {
        const std::string ext = fs::path(f.file).extension().string().substr(1);
        benchmark::RegisterBenchmark(("BM_Measure/" + ext).c_str(), BM_Measure, f)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MinTime(3);
        for (const int helpers : {0, 1})
            benchmark::RegisterBenchmark(
                ("BM_Decode/" + ext + (helpers ? "/spans" : "/sequential")).c_str(), BM_Decode, f,
                helpers)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->MinTime(3);
    }
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    registerAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
