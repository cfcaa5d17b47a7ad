// The audiobook preset on made chapters: narration as bursts over room tone, judged by its RMS
// level, sample peak and noise floor, measured from real WAV files in the same pass as loudness.

#include "AudioFixtures.h"
#include "Signals.h"
#include "tavrin/meter/AudioFileMeter.h"
#include "tavrin/rules/FixPlan.h"
#include "tavrin/rules/Verdict.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

using namespace tavrin;
using namespace tavrin::test;

namespace {

constexpr int rate = 48000;

/// A 997 Hz sine of `amplitude` for `seconds`, appended to `samples`.
void addSine(std::vector<double>& samples, double amplitude, double seconds, double hz = 997) {
    const auto n = static_cast<std::size_t>(seconds * rate);
    for (std::size_t i = 0; i < n; ++i)
        samples.push_back(amplitude *
                          std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / rate));
}

double amplitudeFor(double rmsDB) {
    return std::sqrt(2.0) * std::pow(10.0, rmsDB / 20);
}

/// Ten seconds of mono narration: a burst peaking at `peak` dBFS every second, sized so that the
/// whole reads `rms` dB RMS, over room tone at `floor` dB RMS.
std::vector<double> chapter(double rms, double peak, double floor) {
    const double burst = std::pow(10.0, peak / 20);
    // The bursts' share of the mean square, less the room tone's.
    const double share = std::pow(10.0, rms / 10) - std::pow(10.0, floor / 10);
    const double seconds = share / (burst * burst / 2); // of burst in every second
    std::vector<double> samples;
    for (int s = 0; s < 10; ++s) {
        addSine(samples, burst, seconds);
        addSine(samples, amplitudeFor(floor), 1 - seconds, 3000);
    }
    return samples;
}

} // namespace

TEST(Audiobook, JudgesTheRmsLevelSamplePeakAndNoiseFloorOfMadeChapters) {
    const TempDir dir;
    const DeliverySpec spec = *DeliverySpec::preset("audiobook");
    const struct {
        const char* name;
        std::vector<double> samples;
        std::vector<std::string> problems;
    } cases[] = {
        {"passes", chapter(-20, -3.5, -65), {}},
        {"quiet", chapter(-24, -8, -65), {"RMS −24.0 dB is under −23.0 dB"}},
        {"peaks", chapter(-20, -2.0, -65), {"sample peak −2.0 dBFS is over −3.0 dBFS"}},
        {"noisy", chapter(-20, -3.5, -55), {"noise floor −55.0 dB is over −60.0 dB"}},
        // A steady sine's RMS and floor are its amplitude over √2, a full-scale one's −3.0 dB.
        {"sine",
         {},
         {"RMS −3.0 dB is over −18.0 dB", "sample peak 0.0 dBFS is over −3.0 dBFS",
          "noise floor −3.0 dB is over −60.0 dB"}},
    };
    std::vector<Encoding> files;
    for (const auto& c : cases) {
        auto samples = c.samples;
        if (samples.empty())
            addSine(samples, 1.0, 2);
        files.push_back({{samples}, rate, dir / (std::string(c.name) + ".wav"), "-c:a pcm_f32le"});
    }
    encodeAll(files);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const LoudnessResult r =
            AudioFileMeter::measure(dir / (std::string(c.name) + ".wav"), false).result;
        EXPECT_EQ(Verdict::make(r, spec).problems, c.problems);
        if (std::string(c.name) == "sine") {
            EXPECT_NEAR(*r.rms, 20 * std::log10(1 / std::sqrt(2.0)), 1e-6);
            EXPECT_NEAR(*r.noiseFloor, *r.rms, 1e-6);
        }
    }
    // The quiet chapter is raised to the middle of the window, in dB RMS.
    const LoudnessResult quiet = AudioFileMeter::measure(dir / "quiet.wav", false).result;
    EXPECT_EQ(FixPlan::make(quiet, spec).label(), "+3.5 dB → −20.5 dB RMS");
}
