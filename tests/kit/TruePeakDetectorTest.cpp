#include "tavrin/TruePeakDetector.h"

#include "Signals.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numeric>

using tavrin::TruePeakDetector;
using namespace tavrin::test;

TEST(TruePeakDetector, FilterBankPhasesHaveUnityGainAndMirrorSymmetry) {
    const auto& bank = TruePeakDetector::filterBank();
    for (const auto& phase : bank)
        EXPECT_NEAR(std::accumulate(phase.begin(), phase.end(), 0.0), 1.0, 1e-12);
    for (std::size_t p = 0; p < 32; ++p) {
        // Half-sample phase: symmetric about its centre between taps 15 and 16.
        EXPECT_NEAR(bank[1][p], bank[1][31 - p], 1e-15);
        // Quarter and three-quarter phases mirror each other.
        EXPECT_NEAR(bank[0][p], bank[2][31 - p], 1e-15);
    }
    EXPECT_NEAR(bank[1][15], 0.6347, 1e-4);
    EXPECT_NEAR(bank[1][16], 0.6347, 1e-4);
}

TEST(TruePeakDetector, FindsThePeakBetweenSamplesOfAQuarterRateSine) {
    // Samples of ±0.7071 (−3.01 dBFS); the continuous signal reaches full scale halfway between.
    // Raised-cosine fades keep an abrupt start or end from ringing over the steady state.
    auto x = sine(12000, 0, 1, 48000, std::numbers::pi / 4);
    const std::size_t fade = 4800;
    for (std::size_t i = 0; i < fade; ++i) {
        const double g = 0.5 - 0.5 * std::cos(std::numbers::pi * static_cast<double>(i) / fade);
        x[i] *= g;
        x[x.size() - 1 - i] *= g;
    }
    TruePeakDetector d;
    d.process(x.data(), x.size());
    d.flush();
    EXPECT_NEAR(20 * std::log10(d.peak()), 0.0, 0.001);
}

TEST(TruePeakDetector, ResultDoesNotDependOnBufferSplit) {
    const auto x = noise(-6, 10000.0 / 48000, 48000, 7);
    TruePeakDetector whole, single;
    whole.process(x.data(), x.size());
    whole.flush();
    for (double v : x)
        single.process(&v, 1);
    single.flush();
    EXPECT_NEAR(whole.peak(), single.peak(), 1e-12);
}

TEST(TruePeakDetector, FlushInterpolatesTheLastSamples) {
    // A click in the final sample: without flushing, the interpolation has not reached it yet.
    std::vector<double> x(100, 0.0);
    x.back() = 1.0;
    TruePeakDetector d;
    d.process(x.data(), x.size());
    EXPECT_LT(d.peak(), 0.01);
    d.flush();
    EXPECT_GT(d.peak(), 0.5);
}

TEST(TruePeakDetector, SilenceLeavesThePeakAtZero) {
    const auto x = silence(0.5, 48000);
    TruePeakDetector d;
    d.process(x.data(), x.size());
    d.flush();
    EXPECT_EQ(d.peak(), 0.0);
}
