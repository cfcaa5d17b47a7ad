#include "tavrin/copies/Limiter.h"

#include "AudioFixtures.h"
#include "SoundFiles.h"
#include "tavrin/core/Fmt.h"
#include "tavrin/workflow/Workflow.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numeric>

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

/// The true peak of a file's interleaved samples at 16× oversampling, computed plainly: every
/// point of every phase of a Kaiser-windowed sinc (β = 8, 48 taps), silence around the file.
double truePeakAt16(const Audio& audio) {
    constexpr int over = 16, half = 24;
    const auto i0 = [](double z) {
        double sum = 1, term = 1;
        for (int m = 1; m < 60; ++m)
            sum += term *= (z / 2 / m) * (z / 2 / m);
        return sum;
    };
    std::vector<std::vector<double>> bank;
    for (int q = 0; q < over; ++q) {
        std::vector<double> phase;
        for (int p = 0; p < 2 * half; ++p) {
            const double t = double(q) / over - (p - (half - 1)), r = t / half;
            phase.push_back((t == 0 ? 1 : std::sin(M_PI * t) / (M_PI * t)) *
                            i0(8 * std::sqrt(std::max(0.0, 1 - r * r))) / i0(8));
        }
        const double sum = std::accumulate(phase.begin(), phase.end(), 0.0);
        for (double& tap : phase)
            tap /= sum;
        bank.push_back(phase);
    }
    const auto channels = static_cast<std::size_t>(audio.info.channels);
    const auto frames = static_cast<std::int64_t>(audio.samples.size() / channels);
    double peak = 0;
    for (std::size_t c = 0; c < channels; ++c)
        for (std::int64_t i = -half; i < frames + half; ++i)
            for (const auto& phase : bank) {
                double sum = 0;
                for (std::int64_t p = 0; p < 2 * half; ++p)
                    if (const std::int64_t at = i - (half - 1) + p; at >= 0 && at < frames)
                        sum +=
                            phase[std::size_t(p)] * audio.samples[std::size_t(at) * channels + c];
                peak = std::max(peak, std::abs(sum));
            }
    return 20 * std::log10(peak);
}

} // namespace

// Peaks a 4× interpolator under-reads, near the Nyquist frequency, are still held under the
// ceiling when read at 16× through a sharper interpolator: bursts at 19 kHz, and full-scale
// samples alternating in sign at the file's very edges.
TEST(Limiter, HoldsTheCeilingAtSixteenTimesOversampling) {
    TempDir dir;
    constexpr int cdRate = 44100;
    std::vector<double> bursts = sine(997, -30, 3, cdRate), edges = bursts;
    for (const double at : {1.0, 2.0})
        for (std::size_t i = 0; i < frames(0.002, cdRate); ++i)
            bursts[frames(at, cdRate) + i] +=
                amplitude(-4) * std::sin(2 * M_PI * 19000 * double(i) / cdRate);
    for (std::size_t i = 0; i < frames(0.005, cdRate); ++i)
        edges[i] = edges[edges.size() - 1 - i] = (i % 2 ? -1 : 1) * amplitude(-2);
    for (const auto& [name, audio] : {std::pair{"bursts", bursts}, std::pair{"edges", edges}}) {
        SCOPED_TRACE(name);
        const fs::path original = dir / (std::string(name) + ".wav");
        encode({audio, audio}, cdRate, original, "-c:a pcm_s24le");
        const LoudnessResult measured = *Workflow::measure(original, false).result;
        const auto outcome = Workflow::writeLimitedCopy(original, measured, DeliverySpec::ebuR128(),
                                                        dir.path(), false);
        const auto& written = std::get<Workflow::CopyOutcome::Written>(outcome.value);
        EXPECT_GT(written.limiting->maxReduction, 1);
        EXPECT_LE(truePeakAt16(readAudio(written.copy)), DeliverySpec::ebuR128().maxTruePeak);
    }
}

// What the limiter does with each kind of file: a file gain alone fixes is not its to take; a
// file that needs peaks reduced by 6 dB (16-bit, dithered) or by a fraction of a dB (a partial
// gain fix, 24-bit) lands in the window under the ceiling, limited only around its isolated
// bursts (the attack, the hold and a short release: under 35 ms each) and with samples away from
// them equal to a gain-only copy's at the same gain; one that would need more than 12 dB is
// refused.
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
        EXPECT_LT(written.limiting->seconds,
                  0.035 * std::ceil((seconds - firstBurst) / burstEvery));

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

// A bright programme whose square-wave bursts AAC at 96 kbps lifts over the ceiling however low
// the limiter holds them: the threshold comes down by the overshoot, the gain is solved again
// with room for the most reduction, and where that is more than the limiter takes, the copy is
// not written and the sentence says encoding did it.
TEST(Limiter, AnEncodedCopyWhosePeaksEncodingLiftsIsNotWrittenAndSaysWhy) {
    TempDir dir;
    std::vector<double> x = noise(-30.5, 8, rate, 7);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double t = double(i) / rate;
        x[i] +=
            0.7 * (std::sin(2 * M_PI * 2500 * t) >= 0 ? 1 : -1) * std::exp(-60 * std::fmod(t, 0.7));
    }
    const fs::path original = dir / "bright.m4a";
    encode({x, x}, rate, original, "-c:a aac -b:a 96k");
    const LoudnessResult measured = *Workflow::measure(original, false).result;
    const fs::path folder = dir / "copies";
    fs::create_directory(folder);
    const auto outcome =
        Workflow::writeLimitedCopy(original, measured, DeliverySpec::applePodcasts(), folder, false,
                                   {}, GainWriter::CopyFormat::original);
    const auto* failed = std::get_if<Workflow::CopyOutcome::Failed>(&outcome.value);
    ASSERT_TRUE(failed);
    EXPECT_TRUE(failed->message.starts_with(
        "Encoded as AAC 96 kbps, the limited copy’s true peak came out at "))
        << failed->message;
    EXPECT_TRUE(failed->message.ends_with(
        " dB at most. A WAV copy keeps the peaks where the limiter holds them."));
    EXPECT_TRUE(namesIn(folder).empty());
}
