#include "tavrin/meter/LoudnessMeter.h"

#include "Signals.h"
#include "tavrin/meter/EnergyHistory.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

using namespace tavrin;
using namespace tavrin::test;

namespace {

constexpr double rate = 48000;

/// Mean square whose loudness is `lufs`.
double meanSquare(double lufs) {
    return std::pow(10.0, (lufs + 0.691) / 10);
}

/// `steps` one-frame steps of mean square `e` each.
EnergyHistory constantHistory(std::size_t steps, double e) {
    EnergyHistory h;
    for (std::size_t i = 0; i < steps; ++i)
        h.append(e, 1);
    return h;
}

/// The mean square whose loudness is exactly −70.0 in double precision.
double meanSquareAtGate() {
    double e = meanSquare(-70.0);
    while (EnergyHistory::loudness(e) > -70.0)
        e = std::nextafter(e, 0.0);
    while (EnergyHistory::loudness(e) < -70.0)
        e = std::nextafter(e, 1.0);
    return e;
}

} // namespace

TEST(LoudnessMeter, WindowBoundariesAtTheStartOfTheFile) {
    const auto tone = [](double seconds) { return sine(1000, -10, seconds, rate); };
    const struct {
        std::vector<double> x;
        bool integrated, momentary, shortTerm, range;
    } cases[] = {
        {tone(0.39), false, false, false, false}, // 39 steps
        {tone(0.40), true, true, false, false},   // 40 steps: one gating block
        {tone(2.99), true, true, false, false},
        {tone(3.00), true, true, true, true}, // one short-term value: range 0
        // 45 steps, 40 of them silent: the only gating block (start 0) is silent, but the
        // momentary windows starting at steps 1 to 5 hear the tone.
        {concat({silence(0.40, rate), tone(0.05)}), false, true, false, false},
    };
    for (const auto& c : cases) {
        const double seconds = double(c.x.size()) / rate;
        SCOPED_TRACE(seconds);
        const auto r = meter({c.x}, {1.0}, rate);
        EXPECT_EQ(r.integrated.has_value(), c.integrated);
        EXPECT_EQ(r.maxMomentary.has_value(), c.momentary);
        EXPECT_EQ(r.maxShortTerm.has_value(), c.shortTerm);
        EXPECT_EQ(r.loudnessRange.has_value(), c.range);
        EXPECT_TRUE(r.samplePeak && r.truePeak);
        EXPECT_DOUBLE_EQ(r.duration, seconds);
    }
    EXPECT_EQ(*meter({tone(3)}, {1.0}, rate).loudnessRange, 0.0);
}

TEST(LoudnessMeter, ResultDoesNotDependOnBufferSplit) {
    // Uneven 10 ms steps at 22.05 kHz, and every kind of channel weight.
    const struct {
        double rate;
        std::vector<double> weights;
    } cases[] = {{22050, {1}}, {44100, {1, 1}}, {96000, {1, 1, 1, 0, 1.41, 1.41}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.weights.size() << " ch");
        Channels x;
        for (std::size_t ch = 0; ch < c.weights.size(); ++ch)
            x.push_back(noise(-20 - 3.0 * static_cast<double>(ch), 4.1, c.rate, 100 + ch));
        const auto big = meter(x, c.weights, c.rate, 65536);
        for (std::size_t buffer : {1u, 4097u}) {
            const auto other = meter(x, c.weights, c.rate, buffer);
            EXPECT_NEAR(*big.integrated, *other.integrated, 1e-9);
            EXPECT_NEAR(*big.loudnessRange, *other.loudnessRange, 1e-9);
            EXPECT_NEAR(*big.maxMomentary, *other.maxMomentary, 1e-9);
            EXPECT_NEAR(*big.maxShortTerm, *other.maxShortTerm, 1e-9);
            EXPECT_EQ(big.samplePeak, other.samplePeak);
            EXPECT_NEAR(*big.truePeak, *other.truePeak, 1e-9);
            EXPECT_EQ(big.duration, other.duration);
            EXPECT_EQ(big.truePeakAt, other.truePeakAt);
            EXPECT_EQ(big.maxMomentaryAt, other.maxMomentaryAt);
            EXPECT_EQ(big.maxShortTermAt, other.maxShortTermAt);
        }
    }
}

TEST(LoudnessMeter, MaximaAreTimedWhereTheyHappen) {
    // A quiet tone with a loud second from 4 s to 5 s and one full-scale click at 7 s, whose
    // sample is its true peak.
    auto x = concat({sine(997, -30, 4, rate), sine(997, -10, 1, rate), sine(997, -30, 5, rate)});
    x[static_cast<std::size_t>(7 * rate)] = 1.0;
    for (std::size_t buffer : {1u, 4097u, 65536u}) {
        SCOPED_TRACE(buffer);
        const auto r = meter({x}, {1.0}, rate, buffer);
        EXPECT_EQ(r.truePeakAt, 7.0);
        // Windows ending anywhere the loud second fills them read alike; tone ripple picks one.
        EXPECT_GE(*r.maxMomentaryAt, 4.4 - 0.011);
        EXPECT_LE(*r.maxMomentaryAt, 5.0 + 0.011);
        EXPECT_GE(*r.maxShortTermAt, 5.0 - 0.011);
        EXPECT_LE(*r.maxShortTermAt, 7.0 + 0.011);
    }
    // A quarter-rate tone sampled 45° off its crests peaks between samples, 3 dB over them.
    const auto y = concat(
        {silence(2, rate), sine(rate / 4, 0, 0.01, rate, std::numbers::pi / 4), silence(1, rate)});
    const auto r = meter({y}, {1.0}, rate, 4097);
    EXPECT_GT(*r.truePeak, *r.samplePeak + 2.5);
    const double at = *r.truePeakAt * rate - 2 * rate;
    EXPECT_GE(at, 0);
    EXPECT_LE(at, 0.01 * rate);
    EXPECT_NE(at, std::floor(at)) << "between two samples";
    // Silence has no maxima to time.
    const auto silent = meter({silence(5, rate)}, {1.0}, rate);
    EXPECT_FALSE(silent.truePeakAt || silent.maxMomentaryAt || silent.maxShortTermAt);
}

TEST(EnergyHistory, AbsoluteGateIsStrictForIntegratedAndInclusiveForRange) {
    const double atGate = meanSquareAtGate();
    ASSERT_EQ(EnergyHistory::loudness(atGate), -70.0);
    // One block whose whole energy sits in its first step, so its mean is exactly `atGate`.
    EnergyHistory oneBlock;
    oneBlock.append(atGate, 1);
    for (int i = 1; i < 40; ++i)
        oneBlock.append(0, 0);
    EXPECT_FALSE(oneBlock.integratedLoudness());
    EXPECT_NEAR(*constantHistory(400, meanSquare(-69.99)).integratedLoudness(), -69.99, 1e-9);
    EXPECT_FALSE(constantHistory(400, meanSquare(-75.0)).integratedLoudness());
    EXPECT_EQ(EnergyHistory::loudnessRange({-70.0}), 0.0);
    EXPECT_FALSE(EnergyHistory::loudnessRange({-70.01, -INFINITY}));
}
