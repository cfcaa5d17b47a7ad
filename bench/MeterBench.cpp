// Speed of the loudness meter and of each of its per-sample kernels, for every instruction set
// the processor has (the argument: 0 generic, 1 AVX2, 2 AVX-512). Every benchmark reports
// "ns/sample/ch": CPU time per sample of one channel, so the kernels add up to (roughly) the
// meter. Build in Release and run e.g. `tavrin_meter_bench --benchmark_repetitions=3`.

#include "Signals.h"
#include "tavrin/dsp/KWeighting.h"
#include "tavrin/dsp/TruePeakDetector.h"
#include "tavrin/dsp/VectorOps.h"
#include "tavrin/meter/LoudnessMeter.h"

#include <algorithm>
#include <array>
#include <benchmark/benchmark.h>
#include <vector>

using namespace tavrin;
using VectorOps::InstructionSet;

namespace {

constexpr double rate = 48000;
constexpr std::size_t bufferFrames = 65536; // what the file meter decodes per chunk

/// Selects the benchmark's instruction set; false (and the benchmark skipped) when unavailable.
bool selectInstructionSet(benchmark::State& state) {
    const auto set = static_cast<InstructionSet>(state.range(0));
    if (!VectorOps::isAvailable(set)) {
        state.SkipWithError("instruction set not available on this processor");
        return false;
    }
    VectorOps::select(set);
    return true;
}

/// Time per sample per channel, shown in ns by the benchmark's SI suffix ("n").
void reportPerSample(benchmark::State& state, std::size_t samplesPerIteration) {
    state.counters["ns/sample/ch"] = benchmark::Counter(
        static_cast<double>(samplesPerIteration),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

/// Full-band noise, where no true-peak block can be skipped: the kernels' worst case.
std::vector<double> noiseBuffer() {
    return test::noise(-12, static_cast<double>(bufferFrames) / rate, rate, 1);
}

/// Programme-like material: noise whose level wanders over 30 dB every few seconds.
std::vector<float> programme(double seconds, std::uint64_t seed) {
    const auto x = test::noise(0, seconds, rate, seed);
    std::vector<float> out(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        out[i] = static_cast<float>(
            x[i] * test::amplitude(-25 + 15 * std::sin(0.9 * t + 2.0 * static_cast<double>(seed))));
    }
    return out;
}

/// The whole meter on 60 s of stereo, fed as the file meter feeds it: planar float buffers of
/// 65,536 frames, then finish(). The second argument picks full-band noise (0) or programme (1).
void loudnessMeter(benchmark::State& state) {
    if (!selectInstructionSet(state))
        return;
    const std::size_t channels = 2;
    std::vector<std::vector<float>> audio;
    for (std::size_t c = 0; c < channels; ++c) {
        if (state.range(1) == 1) {
            audio.push_back(programme(60, 10 + c));
        } else {
            const auto x = test::noise(-12, 60, rate, 10 + c);
            audio.emplace_back(x.begin(), x.end());
        }
    }
    const std::size_t total = audio.front().size();
    for (auto _ : state) {
        LoudnessMeter meter(std::vector<double>(channels, 1.0), rate);
        std::vector<const float*> pointers(channels);
        for (std::size_t pos = 0; pos < total; pos += bufferFrames) {
            for (std::size_t c = 0; c < channels; ++c)
                pointers[c] = audio[c].data() + pos;
            meter.process(pointers, std::min(bufferFrames, total - pos));
        }
        benchmark::DoNotOptimize(meter.finish());
    }
    reportPerSample(state, total * channels);
}
BENCHMARK(loudnessMeter)->ArgsProduct({{0, 1, 2}, {0, 1}})->Unit(benchmark::kMillisecond);

/// K-weighting and its sums of squares over one buffer, the second argument channels at once, a
/// 10 ms span (480 samples) per call as the meter makes them.
void kWeighting(benchmark::State& state) {
    if (!selectInstructionSet(state))
        return;
    const auto stages = KWeighting::stages(rate);
    const auto filter = VectorOps::kWeightingFilter(stages[0], stages[1]);
    const auto lanes = static_cast<std::size_t>(state.range(1));
    std::vector<double> filterState(8 * lanes);
    const auto in = noiseBuffer();
    constexpr std::size_t span = 480;
    for (auto _ : state) {
        double sums[3];
        for (std::size_t i = 0; i + span <= in.size(); i += span) {
            const std::array<const double*, 2> channels{in.data() + i, in.data() + i};
            VectorOps::kWeightedEnergy(filter, filterState.data(), channels.data(), lanes, span,
                                       sums);
        }
        benchmark::DoNotOptimize(sums);
    }
    reportPerSample(state, in.size() / span * span * lanes);
}
BENCHMARK(kWeighting)->ArgsProduct({{0, 1, 2}, {1, 2}});

/// True peak: three interpolation phases over one buffer of one channel of full-band noise,
/// where nothing can be skipped.
void truePeak(benchmark::State& state) {
    if (!selectInstructionSet(state))
        return;
    const auto in = noiseBuffer();
    for (auto _ : state) {
        TruePeakDetector detector;
        detector.process(in.data(), in.size());
        benchmark::DoNotOptimize(detector.peak());
    }
    reportPerSample(state, in.size());
}
BENCHMARK(truePeak)->DenseRange(0, 2);

/// The remaining kernels, each over one buffer of one channel.
void floatToDouble(benchmark::State& state) {
    if (!selectInstructionSet(state))
        return;
    const auto x = noiseBuffer();
    const std::vector<float> in(x.begin(), x.end());
    std::vector<double> out(in.size());
    for (auto _ : state) {
        VectorOps::floatToDouble(in.data(), out.data(), in.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    reportPerSample(state, in.size());
}
BENCHMARK(floatToDouble)->DenseRange(0, 2);

} // namespace

BENCHMARK_MAIN();
