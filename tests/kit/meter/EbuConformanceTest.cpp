// The minimum-requirement test signals of EBU Tech 3341 (loudness meters) and EBU Tech 3342
// (loudness range), synthesised from their published definitions and checked against the
// published expected readings and tolerances. Cases 7 and 8 of Tech 3341 and 5 and 6 of Tech 3342
// are recorded programme and cannot be synthesised.

#include "Signals.h"
#include "tavrin/decode/ChannelRole.h"
#include "tavrin/meter/EnergyHistory.h"
#include "tavrin/meter/LoudnessMeter.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <numbers>

using namespace tavrin;
using namespace tavrin::test;

namespace {

constexpr double rate = 48000;
constexpr double tone = 1000;             // Hz, every loudness signal
constexpr double loudnessTolerance = 0.1; // LU, for M, S and I
constexpr double rangeTolerance = 1.0;    // LU, Tech 3342
constexpr double truePeakAbove = 0.2;     // dB, true peak may read this much high
constexpr double truePeakBelow = 0.4;     // dB, or this much low
constexpr std::size_t fileBufferFrames = 65536;
const double quiet = -std::numeric_limits<double>::infinity(); // dBFS: digital silence

/// Meters `channels`, a stereo pair unless `roles` say otherwise, as the file meter would: float
/// buffers of 65,536 frames.
LoudnessResult measure(const Channels& channels,
                       const std::vector<ChannelRole>& roles = defaultRoles(2)) {
    return meter(channels, weights(roles), rate, fileBufferFrames);
}

/// The loudness history of a stereo pair, fed as the file meter would.
EnergyHistory history(const Channels& channels) {
    LoudnessMeter m(defaultRoles(2), rate);
    feed(m, channels, fileBufferFrames);
    return m.history();
}

/// A 1 kHz tone in phase on both channels of a stereo pair, per-channel peak levels by step.
Channels stereo(const std::vector<Step>& levels, double sampleRate = rate) {
    return replicate(steps(tone, levels, sampleRate), 2);
}

/// Largest of `values[from, to)`.
double maxOf(const std::vector<double>& values, std::size_t from, std::size_t to) {
    return *std::max_element(values.begin() + static_cast<std::ptrdiff_t>(from),
                             values.begin() + static_cast<std::ptrdiff_t>(to));
}

void expectTruePeakWithin(const LoudnessResult& r, double expected) {
    ASSERT_TRUE(r.truePeak);
    EXPECT_GE(*r.truePeak, expected - truePeakBelow);
    EXPECT_LE(*r.truePeak, expected + truePeakAbove);
}

} // namespace

// --- Integrated, momentary and short-term loudness of steady and stepped tones ------------------

TEST(EbuTech3341, Cases1And2SteadyToneReadsItsLevelInEveryMeasure) {
    for (const double level : {-23.0, -33.0}) {
        SCOPED_TRACE(level);
        const auto r = measure(stereo({{level, 20}}));
        EXPECT_NEAR(*r.maxMomentary, level, loudnessTolerance);
        EXPECT_NEAR(*r.maxShortTerm, level, loudnessTolerance);
        EXPECT_NEAR(*r.integrated, level, loudnessTolerance);
    }
}

TEST(EbuTech3341, Cases3To5GatesKeepOnlyTheProgrammeAtMinus23) {
    const struct {
        const char* what;
        std::vector<Step> levels;
    } cases[] = {
        {"3: quiet passages below the relative gate", {{-36, 10}, {-23, 60}, {-36, 10}}},
        {"4: and below the absolute gate", {{-72, 10}, {-36, 10}, {-23, 60}, {-36, 10}, {-72, 10}}},
        {"5: passages above the relative gate count", {{-26, 20}, {-20, 20.1}, {-26, 20}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_NEAR(*measure(stereo(c.levels)).integrated, -23.0, loudnessTolerance);
    }
}

TEST(EbuTech3341, Case6SurroundChannelsCountWithTheirWeightAndLfeNotAtAll) {
    // L, R at −28, C at −24, Ls, Rs at −30 dBFS: −23 LUFS only with the surrounds weighted 1.41.
    const auto at = [](double level) { return steps(tone, {{level, 20}}, rate); };
    const auto fiveZero = measure({at(-28), at(-28), at(-24), at(-30), at(-30)}, defaultRoles(5));
    EXPECT_NEAR(*fiveZero.integrated, -23.0, loudnessTolerance);

    // The same programme with a silent LFE in the usual film order L R C LFE Ls Rs.
    const auto fiveOne =
        measure({at(-28), at(-28), at(-24), at(quiet), at(-30), at(-30)}, defaultRoles(6));
    EXPECT_NEAR(*fiveOne.integrated, *fiveZero.integrated, 1e-9);
}

TEST(EbuTech3341, Case9ShortTermIsConstantAfterThreeSeconds) {
    // 1.34 s at −20 and 1.66 s at −30 dBFS average to −23 LUFS over any 3 s.
    std::vector<Step> levels;
    for (int i = 0; i < 5; ++i)
        levels.insert(levels.end(), {{-20, 1.34}, {-30, 1.66}});
    const auto shortTerm = history(stereo(levels)).shortTermLoudness(1);
    ASSERT_EQ(shortTerm.size(), 1201u);
    for (std::size_t s = 0; s < shortTerm.size(); ++s) {
        SCOPED_TRACE(s);
        EXPECT_NEAR(shortTerm[s], -23.0, loudnessTolerance);
    }
}

TEST(EbuTech3341, Case10MaxShortTermFindsA3sToneWhereverItStarts) {
    // Twenty signals, the tone starting 150 ms later in each: every other one between 100 ms marks.
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        const auto r = measure(stereo({{quiet, 0.15 * i}, {-23, 3}, {quiet, 1}}));
        EXPECT_NEAR(*r.maxShortTerm, -23.0, loudnessTolerance);
    }
}

TEST(EbuTech3341, Case11MaxShortTermOfSuccessiveSegments) {
    // Twenty 6 s segments, each a 3 s tone 1 dB louder than the last, shifted 150 ms more within
    // its segment. The loudest short-term window within each segment reads that tone's level.
    std::vector<Step> levels;
    for (int i = 0; i < 20; ++i)
        levels.insert(levels.end(), {{quiet, 0.15 * i}, {-38.0 + i, 3}, {quiet, 3 - 0.15 * i}});
    const auto shortTerm = history(stereo(levels)).shortTermLoudness(1);
    constexpr std::size_t segment = 600, window = EnergyHistory::shortTermSteps;
    for (std::size_t i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(maxOf(shortTerm, segment * i, segment * (i + 1) - window + 1),
                    -38.0 + static_cast<double>(i), loudnessTolerance);
    }
}

// --- Momentary loudness: 400 ms windows every 10 ms ----------------------------------------------

TEST(EbuTech3341, Case12MomentaryIsConstantAfterOneSecond) {
    // 0.18 s at −20 and 0.22 s at −30 dBFS average to −23 LUFS over any 400 ms.
    std::vector<Step> levels;
    for (int i = 0; i < 25; ++i)
        levels.insert(levels.end(), {{-20, 0.18}, {-30, 0.22}});
    const auto momentary = history(stereo(levels)).momentaryLoudness(1);
    ASSERT_EQ(momentary.size(), 961u);
    for (std::size_t s = 60; s < momentary.size(); ++s) { // windows ending at 1 s or later
        SCOPED_TRACE(s);
        EXPECT_NEAR(momentary[s], -23.0, loudnessTolerance);
    }
}

TEST(EbuTech3341, Case13MaxMomentaryFindsA400msToneWhereverItStarts) {
    // The tone is as long as the window, so only a window aligned to within a few ms hears it all.
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        const auto r = measure(stereo({{quiet, 0.02 * i}, {-23, 0.4}, {quiet, 1}}));
        EXPECT_NEAR(*r.maxMomentary, -23.0, loudnessTolerance);
    }
}

TEST(EbuTech3341, Case14MaxMomentaryOfSuccessiveSegments) {
    std::vector<Step> levels;
    for (int i = 0; i < 20; ++i)
        levels.insert(levels.end(), {{quiet, 0.02 * i}, {-38.0 + i, 0.4}, {quiet, 0.4 - 0.02 * i}});
    const auto momentary = history(stereo(levels)).momentaryLoudness(1);
    constexpr std::size_t segment = 80, window = EnergyHistory::momentarySteps;
    for (std::size_t i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(maxOf(momentary, segment * i, segment * (i + 1) - window + 1),
                    -38.0 + static_cast<double>(i), loudnessTolerance);
    }
}

// --- True peak
// ------------------------------------------------------------------------------------

TEST(EbuTech3341, Cases15To19TruePeakOfSinesPeakingBetweenSamples) {
    // Sines at a fraction of the sample rate, started at a phase that puts every waveform peak
    // between two samples (except case 15). Faded in and out, since an abrupt start would ring
    // above the steady-state peak that the expected reading describes.
    const struct {
        int number;
        double divisor, phaseDegrees, peakFFS, expected;
    } cases[] = {
        {15, 4, 0, 0.5, -6.0},    {16, 4, 45, 0.5, -6.0}, {17, 6, 60, 0.5, -6.0},
        {18, 8, 67.5, 0.5, -6.0}, {19, 4, 45, 1.41, 3.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.number);
        const auto x = faded(sine(rate / c.divisor, 20 * std::log10(c.peakFFS), 1, rate,
                                  c.phaseDegrees * std::numbers::pi / 180),
                             0.02, rate);
        expectTruePeakWithin(measure(replicate(x, 2)), c.expected);
    }
}

namespace {

/// Low-passes a signal at four times `rate` and keeps every fourth sample from `offset` on: the
/// same band-limited waveform sampled at each of the four quarter-sample positions.
std::vector<double> decimateByFour(const std::vector<double>& x4, std::size_t offset) {
    // Blackman-windowed sinc, cut-off 21.6 kHz at 192 kHz.
    constexpr std::size_t taps = 255, half = taps / 2;
    constexpr double cutoff = 21600.0 / (4 * rate);
    std::vector<double> h(taps);
    for (std::size_t j = 0; j < taps; ++j) {
        const double t = static_cast<double>(j) - static_cast<double>(half);
        const double sinc =
            t == 0 ? 2 * cutoff
                   : std::sin(2 * std::numbers::pi * cutoff * t) / (std::numbers::pi * t);
        const double u = static_cast<double>(j) / static_cast<double>(taps - 1);
        const double w = 0.42 - 0.5 * std::cos(2 * std::numbers::pi * u) +
                         0.08 * std::cos(4 * std::numbers::pi * u);
        h[j] = sinc * w;
    }
    std::vector<double> y;
    for (std::size_t centre = half + offset; centre + half < x4.size(); centre += 4) {
        double sum = 0;
        for (std::size_t j = 0; j < taps; ++j)
            sum += h[j] * x4[centre - half + j];
        y.push_back(sum);
    }
    return y;
}

} // namespace

TEST(EbuTech3341, Cases20To23TruePeakAtEveryQuarterSampleOffset) {
    // A half-scale tone at fs/6 holding one full-scale period at fs/4, built at four times the
    // rate (both tones cross zero where they join), then decimated at each of the four offsets:
    // the single 0 dBTP peak lands on each of the interpolator's phases in turn.
    const double fast = 4 * rate;
    constexpr std::size_t slowPeriod = 24, fastPeriod = 16; // at 192 kHz
    constexpr std::size_t join = 200 * slowPeriod;
    std::vector<double> x4;
    for (std::size_t i = 0; i < 2 * join; ++i) {
        const bool burst = i >= join && i < join + fastPeriod;
        const double phase = burst
                                 ? 2 * std::numbers::pi * static_cast<double>(i - join) / fastPeriod
                                 : 2 * std::numbers::pi * static_cast<double>(i) / slowPeriod;
        x4.push_back((burst ? 1.0 : 0.5) * std::sin(phase));
    }
    x4 = faded(std::move(x4), 0.005, fast);
    for (std::size_t offset = 0; offset < 4; ++offset) {
        SCOPED_TRACE(20 + offset);
        const auto x = decimateByFour(x4, offset);
        expectTruePeakWithin(measure(replicate(x, 2)), 0.0);
    }
}

// --- Loudness range
// -------------------------------------------------------------------------------

TEST(EbuTech3342, Cases1To4LoudnessRangeOfToneSteps) {
    const struct {
        int number;
        std::vector<Step> levels;
        double expected;
    } cases[] = {
        {1, {{-20, 20}, {-30, 20}}, 10},
        {2, {{-20, 20}, {-15, 20}}, 5},
        {3, {{-40, 20}, {-20, 20}}, 20},
        // The −50 dBFS passages fall below the relative gate: 15 LU, not 30.
        {4, {{-50, 20}, {-35, 20}, {-20, 20}, {-35, 20}, {-50, 20}}, 15},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.number);
        EXPECT_NEAR(*measure(stereo(c.levels)).loudnessRange, c.expected, rangeTolerance);
    }
}
