#include "tavrin/TruePeakDetector.h"

#include <cmath>
#include <gtest/gtest.h>

using tavrin::TruePeakDetector;

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
