#include "tavrin/dsp/VectorOps.h"

#include "Signals.h"
#include "tavrin/dsp/KWeighting.h"
#include "tavrin/dsp/TruePeakDetector.h"

#include <array>
#include <gtest/gtest.h>
#include <utility>

using namespace tavrin;
using namespace tavrin::test;
using VectorOps::InstructionSet;

namespace {

/// Runs the test body once per instruction set this processor has, restoring the default.
class EveryInstructionSet : public testing::TestWithParam<InstructionSet> {
protected:
    void SetUp() override {
        if (!VectorOps::isAvailable(GetParam()))
            GTEST_SKIP() << "not available on this processor";
        m_saved = VectorOps::active();
        VectorOps::select(GetParam());
    }
    void TearDown() override {
        if (VectorOps::isAvailable(GetParam()))
            VectorOps::select(m_saved);
    }

private:
    InstructionSet m_saved = InstructionSet::generic;
};

/// Program-like material: noise whose level moves by tens of dB, with a few sharp peaks.
std::vector<double> program(double seconds, double rate, std::uint64_t seed) {
    auto x = noise(0, seconds, rate, seed);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        x[i] *= amplitude(-28 + 18 * std::sin(0.7 * t + static_cast<double>(seed)));
    }
    x[x.size() / 3] = 0.9;
    x[x.size() / 3 + 1] = -0.9;
    return x;
}

/// The sum of squares of n samples through the K-weighting sections in cascade, from rest.
double cascadeEnergy(const std::array<Biquad, 2>& stages, const double* x, std::size_t n) {
    long double state[2][4] = {}, energy = 0;
    for (std::size_t i = 0; i < n; ++i) {
        long double v = x[i];
        for (std::size_t s = 0; s < 2; ++s) {
            const Biquad& q = stages[s];
            auto& [x1, x2, y1, y2] = state[s];
            const long double y = q.b0 * v + q.b1 * x1 + q.b2 * x2 - q.a1 * y1 - q.a2 * y2;
            x2 = std::exchange(x1, v);
            y2 = std::exchange(y1, y);
            v = y;
        }
        energy += v * v;
    }
    return static_cast<double>(energy);
}

void expectNearResult(const LoudnessResult& a, const LoudnessResult& b, double tolerance) {
    for (auto field : {&LoudnessResult::integrated, &LoudnessResult::loudnessRange,
                       &LoudnessResult::maxMomentary, &LoudnessResult::maxShortTerm,
                       &LoudnessResult::samplePeak, &LoudnessResult::truePeak}) {
        ASSERT_EQ((a.*field).has_value(), (b.*field).has_value());
        if ((a.*field).has_value()) {
            EXPECT_NEAR(*(a.*field), *(b.*field), tolerance);
        }
    }
    EXPECT_EQ(a.duration, b.duration);
}

} // namespace

// The instruction set the processor prefers is held to the EBU cases and to libebur128; every
// other one must read the same to rounding.
TEST_P(EveryInstructionSet, MeterReadsWhatTheGenericKernelsRead) {
    const struct {
        double rate;
        std::vector<double> weights;
    } layouts[] = {
        {48000, {1.0}},
        {44100, {1.0, 1.0}},
        {96000, {1.0, 1.0, 1.0}},
        {48000, {1, 1, 1, 0, 1.41, 1.41}},
        {22050, {1, 1, 1, 0, 1, 1, 1.41, 1.41}},
    };
    for (const auto& layout : layouts) {
        SCOPED_TRACE(testing::Message()
                     << layout.rate << " Hz, " << layout.weights.size() << " ch");
        Channels x;
        for (std::size_t c = 0; c < layout.weights.size(); ++c)
            x.push_back(program(4.5, layout.rate, 10 + c));
        const LoudnessResult here = meter(x, layout.weights, layout.rate, 65536);
        VectorOps::select(InstructionSet::generic);
        const LoudnessResult generic = meter(x, layout.weights, layout.rate, 65536);
        VectorOps::select(GetParam());
        expectNearResult(here, generic, 1e-9);
    }
}

TEST_P(EveryInstructionSet, TruePeakIsTheLargestPhaseOutputComputedSampleBySample) {
    auto x = program(0.5, 48000, 3);
    x.back() = 2.0; // a click in the last sample: only flush() interpolates around it
    // 31 zeros of history, the samples, then 32 zeros of flush.
    std::vector<double> padded(31, 0.0);
    padded.insert(padded.end(), x.begin(), x.end());
    padded.resize(padded.size() + 32, 0.0);
    double expected = 0;
    for (std::size_t i = 0; i + 31 < padded.size(); ++i)
        for (const auto& phase : TruePeakDetector::filterBank()) {
            double sum = 0;
            for (std::size_t p = 0; p < 32; ++p)
                sum += padded[i + p] * phase[p];
            expected = std::max(expected, std::fabs(sum));
        }
    TruePeakDetector d;
    d.process(x.data(), x.size());
    d.flush();
    EXPECT_NEAR(d.peak(), expected, 1e-12);
}

TEST_P(EveryInstructionSet, SkippingQuietBlocksNeverChangesTheTruePeak) {
    const auto x = program(2, 48000, 5);
    const double* taps = TruePeakDetector::filterBank().front().data();
    const std::size_t n = x.size() - 31;
    for (double start : {0.0, 0.05, 0.3}) {
        const auto skipping =
            VectorOps::scanPeaks(x.data(), n, taps, TruePeakDetector::bounds(), start);
        const auto full = VectorOps::scanPeaks(x.data(), n, taps, {1e300, 1e300}, start);
        EXPECT_EQ(skipping.interpolated, full.interpolated);
        EXPECT_EQ(skipping.sample, full.sample);
        // A stretch's peak rides along below a file peak that nothing here reaches.
        const auto both = VectorOps::scanPeaks(x.data(), n, taps, TruePeakDetector::bounds(),
                                               full.interpolated * 2, start);
        EXPECT_EQ(both.run, full.interpolated);
        EXPECT_EQ(both.interpolated, full.interpolated * 2);
    }
}

TEST_P(EveryInstructionSet, KernelsHandleEveryLengthAroundTheirBlocks) {
    const auto x = noise(-3, 0.01, 48000, 9);
    for (std::size_t n :
         {0u, 1u, 2u, 3u, 7u, 15u, 16u, 17u, 31u, 32u, 33u, 62u, 63u, 64u, 65u, 95u, 100u}) {
        SCOPED_TRACE(n);
        double peak = 0, sum = 0, plain = 0;
        for (std::size_t i = 0; i < n; ++i) {
            peak = std::max(peak, std::fabs(x[i]));
            sum += x[i] * x[i];
            plain += x[i];
        }
        // The peak scan reads n + 31 inputs for n outputs, and adds them up on the way.
        if (n >= 31) {
            std::vector<double> in(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(n));
            const double* taps = TruePeakDetector::filterBank().front().data();
            const auto scan = VectorOps::scanPeaks(in.data(), n - 31, taps, {1e300, 1e300}, 0);
            EXPECT_EQ(scan.sample, peak);
            EXPECT_NEAR(scan.sum, plain, 1e-12 * double(n));
        }
        double squares = 0;
        for (std::size_t i = 0; i < n; ++i)
            squares += x[i] * x[i];
        EXPECT_NEAR(VectorOps::sumOfSquares(x.data(), n), squares, 1e-12 * double(n + 1));
        // Two phases of 24 taps, the inputs' own first 48 values, over every output.
        if (n >= 23) {
            double expected = 0;
            for (std::size_t i = 0; i + 23 < n; ++i)
                for (std::size_t k = 0; k < 2; ++k) {
                    double out = 0;
                    for (std::size_t p = 0; p < 24; ++p)
                        out += x[i + p] * x[24 * k + p];
                    expected = std::max(expected, std::fabs(out));
                }
            EXPECT_NEAR(VectorOps::polyphasePeak(x.data(), n - 23, x.data(), 2, 24), expected,
                        1e-12);
        }
        // 16- and 24-bit samples in either byte order read as the integer over full scale, and
        // split into pairs; the 24-bit reader may read 4 bytes past the last sample. 32-bit
        // samples read as their single-precision value.
        std::vector<unsigned char> bytes(4 * n + 4);
        std::vector<float> got(n), even(n / 2), odd(n / 2);
        for (const bool big : {false, true})
            for (const int width : {2, 3, 4}) {
                const float scale = std::ldexp(1.0f, 8 * width - 1);
                const auto value = [&](std::size_t i) { return int(x[i] * scale); };
                for (std::size_t i = 0; i < n; ++i)
                    for (int k = 0; k < width; ++k)
                        bytes[std::size_t(width) * i + std::size_t(k)] =
                            std::uint8_t(value(i) >> 8 * (big ? width - 1 - k : k));
                if (width == 2)
                    VectorOps::int16ToFloat(bytes.data(), got.data(), n, big);
                else if (width == 3)
                    VectorOps::int24ToFloat(bytes.data(), got.data(), n, big);
                else
                    for (std::size_t i = 0; i < n; ++i)
                        got[i] = float(value(i)) / scale;
                for (std::size_t i = 0; i < n; ++i)
                    ASSERT_EQ(got[i], float(value(i)) / scale) << i;
                // The same values in double precision, as one channel or as pairs.
                std::vector<double> first(n), second(n);
                double* out[2] = {first.data(), second.data()};
                for (const std::size_t channels : {1u, 2u}) {
                    if (big)
                        break;
                    VectorOps::pcmToDoubles(bytes.data(), n / channels, channels,
                                            std::size_t(width), out);
                    for (std::size_t i = 0; i < n / channels * channels; ++i)
                        ASSERT_EQ(out[i % channels][i / channels], got[i]) << channels << " " << i;
                }
            }
        VectorOps::splitPairs(got.data(), even.data(), odd.data(), n / 2);
        for (std::size_t i = 0; i < n / 2; ++i)
            ASSERT_TRUE(even[i] == got[2 * i] && odd[i] == got[2 * i + 1]) << i;
        // K-weighting in two calls, the state carried from one to the other, against the two
        // sections in cascade in extended precision; lane 1 gets the samples in reverse.
        const auto stages = KWeighting::stages(48000);
        const auto filter = VectorOps::kWeightingFilter(stages[0], stages[1]);
        const std::vector<double> reversed(x.rend() - std::ptrdiff_t(n), x.rend());
        // The filter is linear, so the lanes' cross products follow from the energy of their sum.
        std::vector<double> both(n);
        for (std::size_t i = 0; i < n; ++i)
            both[i] = x[i] + reversed[i];
        const double expected[2] = {cascadeEnergy(stages, x.data(), n),
                                    cascadeEnergy(stages, reversed.data(), n)};
        const double expectedCross =
            (cascadeEnergy(stages, both.data(), n) - expected[0] - expected[1]) / 2;
        for (const std::size_t lanes : {1u, 2u}) {
            double state[16] = {}, energy[3] = {}, sums[3];
            for (const auto& [from, to] : {std::pair{std::size_t(0), n / 3}, std::pair{n / 3, n}}) {
                const double* in[2] = {x.data() + from, reversed.data() + from};
                VectorOps::kWeightedEnergy(filter, state, in, lanes, to - from, sums, true);
                for (std::size_t j = 0; j < lanes + (lanes == 2); ++j)
                    energy[j] += sums[j];
            }
            for (std::size_t j = 0; j < lanes; ++j)
                EXPECT_NEAR(energy[j], expected[j], 1e-10 * expected[j]) << lanes << " lanes";
            if (lanes == 2) {
                EXPECT_NEAR(energy[2], expectedCross, 1e-9 * expected[0]);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    VectorOps, EveryInstructionSet,
    testing::Values(InstructionSet::generic, InstructionSet::avx2, InstructionSet::avx512),
    [](const auto& param) {
        return std::string(std::array{"Generic", "Avx2", "Avx512"}[std::size_t(param.param)]);
    });
