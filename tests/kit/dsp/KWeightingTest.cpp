#include "tavrin/dsp/KWeighting.h"

#include <gtest/gtest.h>

namespace KWeighting = tavrin::KWeighting;

namespace {

double cascadeGainDB(double frequency, double rate) {
    const auto stages = KWeighting::stages(rate);
    return stages[0].magnitudeDB(frequency, rate) + stages[1].magnitudeDB(frequency, rate);
}

} // namespace

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
