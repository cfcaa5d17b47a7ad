#include "tavrin/TruePeakDetector.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numeric>

using tavrin::TruePeakDetector;

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
