// Whole-file measurement of the same 10-minute stereo programme as WAV, FLAC, MP3 and AAC:
// BM_Measure is what a user waits for, BM_Decode the share of it spent reading and decoding.
// The files are made once with ffmpeg in $TMPDIR/tavrin-bench-files (kept for later runs).

#include "FfmpegReader.h"
#include "tavrin/AudioFileMeter.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

constexpr double programmeSeconds = 600;

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

/// Pink noise, a different seed per channel, at a programme-like level; made once.
fs::path benchFile(const Format& format) {
    const fs::path dir = fs::temp_directory_path() / "tavrin-bench-files";
    const fs::path path = dir / format.file;
    if (fs::exists(path))
        return path;
    fs::create_directories(dir);
    const std::string noise = "anoisesrc=d=600:c=pink:r=48000:a=0.25:seed=";
    const std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i " + noise +
                                "1 -f lavfi -i " + noise + "2 -filter_complex amerge=inputs=2 " +
                                format.args + " '" + path.string() + ".part'";
    if (std::system(command.c_str()) != 0)
        return {};
    fs::rename(path.string() + ".part", path);
    return path;
}

void reportRealTime(benchmark::State& state) {
    state.counters["realtime"] = benchmark::Counter(programmeSeconds * double(state.iterations()),
                                                    benchmark::Counter::kIsRate);
}

void BM_Measure(benchmark::State& state, Format format) {
    const fs::path path = benchFile(format);
    if (path.empty())
        return state.SkipWithError("ffmpeg could not make the file");
    for (auto _ : state)
        benchmark::DoNotOptimize(tavrin::AudioFileMeter::measure(path, false));
    reportRealTime(state);
}

void BM_Decode(benchmark::State& state, Format format) {
    const fs::path path = benchFile(format);
    if (path.empty())
        return state.SkipWithError("ffmpeg could not make the file");
    for (auto _ : state) {
        tavrin::FfmpegReader reader(path);
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
        benchmark::RegisterBenchmark(("BM_Decode/" + ext).c_str(), BM_Decode, f)
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
