#include "tavrin/Limiter.h"

#include "AudioFixtures.h"
#include "SoundFiles.h"
#include "tavrin/Fmt.h"
#include "tavrin/Workflow.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace tavrin;
using namespace tavrin::test;

namespace {

constexpr int rate = 48000;
constexpr double burstEvery = 3, firstBurst = 1.5, seconds = 10;

/// A 997 Hz tone at `tone` dBFS in both channels, with a 1 ms burst of 3 kHz at `bursts` dBFS
/// every three seconds: peaks far above the programme, as plosives and drum hits are.
Channels tonesWithBursts(double tone, std::optional<double> bursts) {
    std::vector<double> x = sine(997, tone, seconds, rate);
    const auto burstFrames = static_cast<std::size_t>(0.001 * rate);
    for (double at = firstBurst; bursts && at < seconds; at += burstEvery) {
        const auto start = static_cast<std::size_t>(at * rate);
        for (std::size_t i = 0; i < burstFrames; ++i)
            x[start + i] += amplitude(*bursts) * std::sin(2 * M_PI * 3000.0 * double(i) / rate);
    }
    return {x, x};
}

/// Whether frame `frame` lies well clear of every burst: past the attack and the release.
bool clearOfBursts(std::size_t frame) {
    const double t = double(frame) / rate;
    const double fromBurst = std::fmod(t - firstBurst + burstEvery, burstEvery);
    return fromBurst > 0.8 && fromBurst < burstEvery - 0.1;
}

} // namespace

// What the limiter does with each kind of file: a file gain alone fixes is not its to take; a
// file that needs peaks reduced by 6 dB (16-bit, dithered) or by a fraction of a dB (a partial
// gain fix, 24-bit) lands in the window under the ceiling, with samples away from the peaks
// equal to a gain-only copy's at the same gain; one that would need more than 12 dB is refused.
TEST(Limiter, LimitsOnlyWhatGainCantFixAndLandsInTheWindow) {
    TempDir dir;
    const struct Case {
        const char* name;
        const DeliverySpec& spec;
        Channels audio;
        const char* codec;
        bool takes;
        double reduction; // dB, the most the copy is limited by
        const char* refusal;
    } cases[] = {
        {"gain fixes", DeliverySpec::ebuR128(), tonesWithBursts(-30, std::nullopt), "pcm_s16le",
         false, 0, nullptr},
        {"six dB", DeliverySpec::ebuR128(), tonesWithBursts(-33, -5), "pcm_s16le", true, 6.0,
         nullptr},
        {"short of target", DeliverySpec::applePodcasts(), tonesWithBursts(-20, -6.2), "pcm_s24le",
         true, 0.4, nullptr},
        {"over twelve", DeliverySpec::spotify(), tonesWithBursts(-30, -4), "pcm_s24le", true, 0,
         "Reaching −14.0 LUFS would need 12.5 dB of peak reduction to hold the −1.0 dBTP "
         "ceiling; Tavrin’s limiter takes 12.0 dB off the peaks at most."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path original = dir / (std::string(c.name) + ".wav");
        encode(c.audio, rate, original, std::string("-c:a ") + c.codec);
        const LoudnessResult measured = *Workflow::measure(original, false).result;
        EXPECT_EQ(Workflow::limiterTakes(measured, c.spec), c.takes);
        if (!c.takes)
            continue;
        const fs::path folder = dir / c.name;
        fs::create_directory(folder);
        const auto outcome = Workflow::writeLimitedCopy(original, measured, c.spec, folder, false);
        if (c.refusal) {
            EXPECT_EQ(Workflow::limiterRefusal(measured, c.spec), c.refusal);
            EXPECT_EQ(outcome, Workflow::CopyOutcome{Workflow::CopyOutcome::Refused{c.refusal}});
            EXPECT_TRUE(namesIn(folder).empty());
            continue;
        }
        const auto& written = std::get<Workflow::CopyOutcome::Written>(outcome.value);
        EXPECT_EQ(written.copy.filename(),
                  std::string(c.name) + " (" + c.spec.shortName() + ", limited).wav");
        const LoudnessResult& copy = written.result;
        const double shown = Fmt::round1(*copy.integrated);
        EXPECT_GE(shown, c.spec.target - 0.1 - 1e-9);
        EXPECT_LE(shown, c.spec.target + 1e-9);
        EXPECT_LE(*copy.truePeak, c.spec.maxTruePeak);
        EXPECT_NEAR(*copy.loudnessRange, *measured.loudnessRange, 1.0);
        EXPECT_NEAR(written.limiting->maxReduction, c.reduction, 0.1);

        // Clear of the bursts the copy is the gain-only copy at the same gain.
        GainWriter::write(original, dir / "gain only.wav", written.limiting->gain);
        const Audio limited = readAudio(written.copy), gainOnly = readAudio(dir / "gain only.wav");
        ASSERT_EQ(limited.samples.size(), gainOnly.samples.size());
        const float step = std::ldexp(1.0f, c.codec == std::string("pcm_s16le") ? -15 : -23);
        std::size_t compared = 0;
        for (std::size_t i = 0; i < limited.samples.size(); ++i)
            if (clearOfBursts(i / 2)) {
                ASSERT_LE(std::abs(limited.samples[i] - gainOnly.samples[i]), step) << i;
                ++compared;
            }
        EXPECT_GT(compared, limited.samples.size() / 2);
        fs::remove(dir / "gain only.wav");
    }
}
