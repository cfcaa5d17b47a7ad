// What loudness over time costs: measuring an hour-long stereo WAV with and without the timeline
// (CPU time of the whole process, median of interleaved repetitions, since the machine is shared
// and its speed drifts), the memory of a day-long timeline, and drawing it at 1600 × 300 pixels.
// The hour is made once with ffmpeg in $TMPDIR/tavrin-bench-files (kept for later runs).

#include "tavrin/meter/AudioFileMeter.h"
#include "tavrin/reports/Graph.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

/// An hour of stereo pink noise, 24-bit WAV.
fs::path hourFile() {
    const fs::path dir = fs::temp_directory_path() / "tavrin-bench-files";
    const fs::path path = dir / "hour.wav";
    if (fs::exists(path))
        return path;
    fs::create_directories(dir);
    const std::string noise = "anoisesrc=d=3600:c=pink:r=48000:a=0.25:seed=";
    const std::string command =
        "ffmpeg -nostdin -v error -y -f lavfi -i " + noise + "1 -f lavfi -i " + noise +
        "2 -filter_complex amerge=inputs=2 -c:a pcm_s24le -f wav '" + path.string() + ".part'";
    if (std::system(command.c_str()) != 0)
        return {};
    fs::rename(path.string() + ".part", path);
    return path;
}

void BM_MeasureHour(benchmark::State& state) {
    const fs::path path = hourFile();
    if (path.empty())
        return state.SkipWithError("ffmpeg could not make the file");
    const bool withTimeline = state.range(0) != 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(
            tavrin::AudioFileMeter::measure(path, false, {}, {}, withTimeline));
}
BENCHMARK(BM_MeasureHour)
    ->ArgName("timeline")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->Repetitions(10)
    ->MeasureProcessCPUTime()
    ->ReportAggregatesOnly();

/// A day of programme-like steps, as the meter would leave them.
tavrin::Timeline dayTimeline() {
    tavrin::TimelineBuilder builder;
    std::mt19937 random(7);
    std::normal_distribution<double> wobble(0, 3);
    for (std::size_t k = 0; k < 24 * 3600 * 10; ++k) {
        const double level = -23 + 6 * std::sin(double(k) / 3000) + wobble(random);
        builder.add(level + 2, level, level + 14 + wobble(random) / 2);
    }
    return builder.finish(24 * 3600);
}

void BM_DayTimelineMemory(benchmark::State& state) {
    std::size_t bytes = 0;
    for (auto _ : state)
        bytes = dayTimeline().memoryBytes();
    state.counters["MB"] = double(bytes) / 1e6;
}
BENCHMARK(BM_DayTimelineMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_DrawDay(benchmark::State& state) {
    const tavrin::Timeline timeline = dayTimeline();
    tavrin::LoudnessResult result;
    result.integrated = -23.4;
    result.duration = timeline.duration;
    const tavrin::Graph::Content content{timeline, result, tavrin::DeliverySpec::ebuR128()};
    constexpr int width = 1600, height = 300;
    std::vector<std::uint8_t> pixels(std::size_t(width) * height * 4);
    for (auto _ : state)
        tavrin::Graph::render(pixels.data(), width, height, width * 4, content, {});
    benchmark::DoNotOptimize(pixels.data());
}
BENCHMARK(BM_DrawDay)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

} // namespace

// Runs with and without the timeline alternate, so that drift of a shared machine falls on both.
int main(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave.data());
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
