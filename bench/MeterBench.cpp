// Speed of the loudness meter and of each of its per-sample kernels. Every benchmark reports
// "ns/sample/ch": CPU time per sample of one channel, so the kernels add up to (roughly) the
// meter. Build in Release and run e.g. `tavrin_meter_bench --benchmark_repetitions=3`.

#include "Signals.h"
#include "tavrin/KWeighting.h"
#include "tavrin/LoudnessMeter.h"
#include "tavrin/TruePeakDetector.h"
#include "tavrin/VectorOps.h"

#include <algorithm>
#include <array>
#include <benchmark/benchmark.h>
#include <vector>

using namespace tavrin;

namespace {

constexpr double rate = 48000;
constexpr std::size_t bufferFrames = 65536; // what the file meter decodes per chunk

/// Time per sample per channel, shown in ns by the benchmark's SI suffix ("n").
void reportPerSample(benchmark::State& state, std::size_t samplesPerIteration) {
    state.counters["ns/sample/ch"] = benchmark::Counter(
        static_cast<double>(samplesPerIteration),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

std::vector<double> noiseBuffer() {
    return test::noise(-12, static_cast<double>(bufferFrames) / rate, rate, 1);
}

/// The whole meter on 60 s of stereo noise, fed as the file meter feeds it: planar float buffers
/// of 65,536 frames, then finish().
void loudnessMeter(benchmark::State& state) {
    const std::size_t channels = 2;
    std::vector<std::vector<float>> audio;
    for (std::size_t c = 0; c < channels; ++c) {
        const auto x = test::noise(-12, 60, rate, 10 + c);
        audio.emplace_back(x.begin(), x.end());
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
BENCHMARK(loudnessMeter)->Unit(benchmark::kMillisecond);

/// K-weighting: the two-section cascade over one buffer of one channel.
void kWeighting(benchmark::State& state) {
    const auto stages = KWeighting::stages(rate);
    const std::array<double, 10> coefficients{
        stages[0].b0, stages[0].b1, stages[0].b2, stages[0].a1, stages[0].a2,
        stages[1].b0, stages[1].b1, stages[1].b2, stages[1].a1, stages[1].a2};
    std::array<double, 6> delay{};
    const auto in = noiseBuffer();
    std::vector<double> out(in.size());
    for (auto _ : state) {
        VectorOps::biquadCascade(coefficients, delay, in.data(), out.data(), in.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    reportPerSample(state, in.size());
}
BENCHMARK(kWeighting);

/// True peak: three interpolation phases over one buffer of one channel.
void truePeak(benchmark::State& state) {
    const auto in = noiseBuffer();
    TruePeakDetector detector;
    for (auto _ : state) {
        detector.process(in.data(), in.size());
        benchmark::DoNotOptimize(detector.peak());
    }
    reportPerSample(state, in.size());
}
BENCHMARK(truePeak);

/// The remaining kernels, each over one buffer of one channel.
void floatToDouble(benchmark::State& state) {
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
BENCHMARK(floatToDouble);

void sumOfSquares(benchmark::State& state) {
    const auto in = noiseBuffer();
    for (auto _ : state)
        benchmark::DoNotOptimize(VectorOps::sumOfSquares(in.data(), in.size()));
    reportPerSample(state, in.size());
}
BENCHMARK(sumOfSquares);

void maxMagnitude(benchmark::State& state) {
    const auto in = noiseBuffer();
    for (auto _ : state)
        benchmark::DoNotOptimize(VectorOps::maxMagnitude(in.data(), in.size()));
    reportPerSample(state, in.size());
}
BENCHMARK(maxMagnitude);

} // namespace

BENCHMARK_MAIN();
