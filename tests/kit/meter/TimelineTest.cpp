#include "tavrin/meter/Timeline.h"

#include "AudioFixtures.h"
#include "Signals.h"
#include "tavrin/meter/AudioFileMeter.h"
#include "tavrin/meter/LoudnessMeter.h"
#include "tavrin/reports/Graph.h"
#include "tavrin/rules/DeliverySpec.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

using namespace tavrin;
using namespace tavrin::test;

namespace {

constexpr double rate = 48000;

struct Measured {
    LoudnessResult result;
    Timeline timeline;
};

/// Meters `channels` in buffers of `split` frames (0: one buffer), keeping the timeline or not.
Measured meter(const Channels& channels, std::size_t split, bool keepTimeline = true) {
    LoudnessMeter m(std::vector<double>(channels.size(), 1.0), rate);
    if (keepTimeline)
        m.keepTimeline();
    const std::size_t n = channels.front().size();
    const std::size_t size = split == 0 ? n : split;
    for (std::size_t first = 0; first < n; first += size) {
        Channels part;
        for (const auto& c : channels)
            part.emplace_back(c.begin() + long(first), c.begin() + long(std::min(n, first + size)));
        m.process(part);
    }
    Measured measured{m.finish(), {}};
    measured.timeline = m.takeTimeline();
    return measured;
}

std::optional<double> largest(const std::vector<std::optional<double>>& series) {
    std::optional<double> top;
    for (const auto& v : series)
        if (v && (!top || *v > *top))
            top = v;
    return top;
}

/// −30 LUFS for 10 s, then −20 LUFS for 10 s, with two clicks near full scale in the quiet part.
Channels steppedWithClicks() {
    auto x = steps(1000, {{-30, 10}, {-20, 10}}, rate);
    for (double at : {2.05, 15.55})
        x[frames(at, rate)] = 0.99;
    return {x, x};
}

void expectSpans(const std::vector<TimeSpan>& spans, const std::vector<TimeSpan>& expected) {
    ASSERT_EQ(spans.size(), expected.size());
    for (std::size_t i = 0; i < spans.size(); ++i) {
        EXPECT_NEAR(spans[i].start, expected[i].start, 1e-9);
        EXPECT_NEAR(spans[i].end, expected[i].end, 1e-9);
    }
}

} // namespace

// The steps, the spans and the maxima do not depend on how the audio is split into buffers,
// which also crosses the 100 ms runs of the peak detector at awkward places.
TEST(Timeline, FollowsTheMetersDefinitionsWhateverTheBufferSplit) {
    const Channels signal = steppedWithClicks();
    for (std::size_t split : {std::size_t{0}, std::size_t{4799}, std::size_t{1000}}) {
        SCOPED_TRACE(split);
        const auto [result, timeline] = meter(signal, split);
        EXPECT_EQ(result, meter(signal, split, false).result);
        ASSERT_EQ(timeline.size(), 200u);
        EXPECT_EQ(timeline.step, 0.1);
        // Short-term: first value when the first 3 s window ends, −30 until the step ending at
        // 10.0 s, rising from the next, −20 once a window holds only the loud part (13.0 s).
        EXPECT_FALSE(timeline.shortTerm[28]);
        EXPECT_NEAR(*timeline.shortTerm[99], -30, 0.1);
        EXPECT_GT(*timeline.shortTerm[100], -29.5);
        EXPECT_LT(*timeline.shortTerm[128], -20.05);
        EXPECT_NEAR(*timeline.shortTerm[129], -20, 0.1);
        EXPECT_FALSE(timeline.momentary[2]);
        EXPECT_NEAR(*timeline.momentary[99], -30, 0.1);
        EXPECT_NEAR(*timeline.momentary[103], -20, 0.1);
        // The clicks are the only steps over −1 dBTP.
        expectSpans(timeline.truePeakOver(-1.0), {{2.0, 2.1}, {15.5, 15.6}});
        EXPECT_EQ(largest(timeline.momentary), result.maxMomentary);
        EXPECT_EQ(largest(timeline.shortTerm), result.maxShortTerm);
        EXPECT_EQ(largest(timeline.truePeak), result.truePeak);
    }
}

// A float file can hold one absurd sample: the windows holding it read absurdly loud, the others
// as if it weren't there, and the graph's loudness lane keeps a readable scale.
TEST(Timeline, OneHugeSampleSpoilsOnlyTheWindowsHoldingIt) {
    auto x = sine(997, -20, 10, rate);
    const auto clean = meter({x}, 0);
    x[frames(0.5, rate)] = 1e30;
    const auto [result, timeline] = meter({x}, 4799);
    // Past the windows and the filter's ringing (0.4 s after 1e30), as if it weren't there.
    for (std::size_t k = 14; k < timeline.size(); ++k)
        EXPECT_NEAR(timeline.momentary[k].value_or(NAN), *clean.timeline.momentary[k], 1e-9) << k;
    for (std::size_t k = 40; k < timeline.size(); ++k)
        EXPECT_NEAR(timeline.shortTerm[k].value_or(NAN), *clean.timeline.shortTerm[k], 1e-9) << k;
    EXPECT_TRUE(result.integrated && std::isfinite(*result.integrated));
    EXPECT_TRUE(result.loudnessRange && std::isfinite(*result.loudnessRange));
    const auto g = Graph::geometry({timeline, result, DeliverySpec::ebuR128()}, 800, 300, {});
    EXPECT_LE(g.lufsTop, 12); // at most eight labels, 12 LU apart
}

// A day of steps: merged in pairs three times, each merged value the largest of its steps, and
// well under 10 MB.
TEST(Timeline, LongTimelinesMergeStepsKeepingTheirMaxima) {
    TimelineBuilder builder;
    const std::size_t day = 24 * 3600 * 10;
    for (std::size_t k = 0; k < day + 3; ++k)
        builder.add(std::nullopt, double(k % 1000), k == 12345 ? std::optional(0.5) : std::nullopt);
    const Timeline timeline = builder.finish(day / 10.0);
    EXPECT_EQ(timeline.step, 0.8);
    EXPECT_EQ(timeline.size(), day / 8 + 1);
    EXPECT_EQ(timeline.shortTerm[0], 7.0);
    EXPECT_EQ(timeline.shortTerm.back(), 2.0); // the partial last step: 0, 1, 2
    EXPECT_EQ(timeline.truePeak[12345 / 8], 0.5);
    expectSpans(timeline.truePeakOver(0.0), {{1234.4, 1235.2}});
    EXPECT_LE(timeline.memoryBytes(), 10'000'000u);
    // Reduced for a page: merged five times more, the odd last step alone.
    const Timeline page = timeline.reduced(4096);
    EXPECT_EQ(page.step, 25.6);
    EXPECT_EQ(page.size(), 3376u);
    EXPECT_EQ(page.shortTerm[0], 255.0);
    EXPECT_EQ(page.truePeak[12345 / 256], 0.5);
    EXPECT_EQ(page.duration, timeline.duration);
    EXPECT_LE(page.memoryBytes(), 3376u * 3 * sizeof(std::optional<double>));
}

// A stretch measured again from a seek has the steps the whole file's timeline has there: a FLAC
// file (decoded, so the seek is the decoder's) of levels that change every second.
TEST(Timeline, AStretchMeasuredAgainMatchesTheWholeFilesSteps) {
    test::TempDir dir;
    std::vector<Step> levels;
    for (int second = 0; second < 20; ++second)
        levels.push_back({-30.0 + (second * 7) % 20, 1});
    const Channels stereo = replicate(steps(997, levels, rate), 2);
    test::encode(stereo, int(rate), dir / "steps.flac", "");
    const Timeline whole =
        *AudioFileMeter::measure(dir / "steps.flac", false, {}, {}, true).timeline;
    const TimelineStretch stretch =
        AudioFileMeter::measureStretch(dir / "steps.flac", false, {12.35, 14});
    EXPECT_DOUBLE_EQ(stretch.origin, 9.3);
    EXPECT_TRUE(stretch.covers(12.35, 14));
    for (std::size_t k = 124; k < 140; ++k) {
        const std::size_t j = k - 93;
        for (const auto& [a, b] : {std::pair{&whole.momentary, &stretch.timeline.momentary},
                                   std::pair{&whole.shortTerm, &stretch.timeline.shortTerm},
                                   std::pair{&whole.truePeak, &stretch.timeline.truePeak}})
            EXPECT_NEAR(*(*a)[k], *(*b)[j], 1e-6) << k;
    }
}
