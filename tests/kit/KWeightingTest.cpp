#include "tavrin/KWeighting.h"

#include <gtest/gtest.h>

using tavrin::Biquad;
namespace KWeighting = tavrin::KWeighting;

namespace {

void expectNear(const Biquad& actual, const Biquad& expected) {
    EXPECT_NEAR(actual.b0, expected.b0, 1e-12);
    EXPECT_NEAR(actual.b1, expected.b1, 1e-12);
    EXPECT_NEAR(actual.b2, expected.b2, 1e-12);
    EXPECT_NEAR(actual.a1, expected.a1, 1e-12);
    EXPECT_NEAR(actual.a2, expected.a2, 1e-12);
}

double cascadeGainDB(double frequency, double rate) {
    const auto stages = KWeighting::stages(rate);
    return stages[0].magnitudeDB(frequency, rate) + stages[1].magnitudeDB(frequency, rate);
}

} // namespace

TEST(KWeighting, ReproducesTheReferenceCoefficientsAt48kHz) {
    const auto stages = KWeighting::stages(48000);
    expectNear(stages[0], {1.53512485958697, -2.69169618940638, 1.19839281085285, -1.69065929318241,
                           0.73248077421585});
    expectNear(stages[1], {1.0, -2.0, 1.0, -1.99004745483398, 0.99007225036621});
}

TEST(KWeighting, GainAtKnownFrequencies) {
    // The −0.691 dB of the loudness formula cancels this gain at 997 Hz and 48 kHz.
    EXPECT_NEAR(cascadeGainDB(997, 48000), 0.691, 0.001);
    for (double rate : {22050.0, 44100.0, 48000.0, 96000.0, 192000.0}) {
        SCOPED_TRACE(rate);
        // Other rates differ only by the high-pass's unnormalised passband gain, a0 − 1.
        EXPECT_NEAR(cascadeGainDB(997, rate), 0.691, 0.06);
        EXPECT_NEAR(cascadeGainDB(10000, rate), 4.0, 0.2); // shelf plateau, about +4 dB
        EXPECT_LT(cascadeGainDB(20, rate), -10);           // high-pass region
    }
}
