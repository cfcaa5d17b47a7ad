#include "tavrin/workflow/Workflow.h"

#include "AudioFixtures.h"
#include "DamagedFiles.h"
#include "SampleFiles.h"
#include "tavrin/core/Fmt.h"
#include "tavrin/rules/Verdict.h"

#include <functional>
#include <gtest/gtest.h>
#include <tuple>

using namespace tavrin;
using namespace tavrin::test;

TEST(Workflow, FixedCopiesSummary) {
    EXPECT_EQ(Workflow::fixedCopiesMessage({.written = 2, .jobs = 3, .skipped = 1}, std::nullopt),
              "2 copies written next to the originals, each measured again. 1 file can’t reach the "
              "target with gain alone; the Fix column says why. 1 couldn’t be written (see the Fix "
              "column).");
    EXPECT_EQ(Workflow::fixedCopiesMessage(
                  {.written = 1, .jobs = 2, .skipped = 2, .damaged = 1, .ofDamaged = 1}, "/out"),
              "1 copy written to out, each measured again. 1 is a copy of damaged audio. 2 files "
              "can’t reach the target with gain alone; the Fix column says why. 1 damaged file "
              "was left alone; fix it at the source, or fix anyway. 1 couldn’t be written (see "
              "the Fix column).");
    for (const auto& [folder, named] : {std::pair{"/", "/"}, {"/out/", "out"}, {"out", "out"}})
        EXPECT_EQ(Workflow::fixedCopiesMessage({.written = 1, .jobs = 1}, folder),
                  std::string("1 copy written to ") + named + ", each measured again.");
}

TEST(Workflow, AlertsNameThePreset) {
    EXPECT_EQ(Workflow::nothingToFixMessage(DeliverySpec::spotify(), true, 1, 1),
              "The selected files pass Spotify or have no reading.");
    EXPECT_EQ(Workflow::nothingToFixMessage(DeliverySpec::spotify(), false, 2, 0),
              "Every measured file passes Spotify.");
    EXPECT_EQ(Workflow::cantFixMessage(DeliverySpec::atscA85()),
              "Reaching ATSC A/85 (US TV)’s target would push the true peak over −2.0 dBTP. These "
              "files need a limiter first; the Fix column says by how much.");
}

TEST(Workflow, ReportFixTexts) {
    LoudnessResult copy{.integrated = -14.04, .truePeak = -1.2, .sampleRate = 48000, .channels = 2};
    EXPECT_EQ(Workflow::fixTextWritten({"/x/Interview (Spotify).wav", copy}),
              "Interview (Spotify).wav: −14.0 LUFS, −1.2 dBTP");
    copy.integrated.reset();
    copy.truePeak = 0.3;
    EXPECT_EQ(Workflow::fixTextWritten({"/x/a.wav", copy}), "a.wav: — LUFS, +0.3 dBTP");
    EXPECT_EQ(Workflow::fixTextWritten({"/x/a.wav", copy, Limiter::Summary{9.6, 4.24, 1.26}}),
              "a.wav: — LUFS, +0.3 dBTP; limited by up to 4.2 dB for 1.3 s");
    // A copy kept though it still fails says so, as the table marks it.
    copy.integrated = -13.6;
    EXPECT_EQ(Workflow::fixTextWritten({"/x/a.wav", copy}, DeliverySpec::spotify()),
              "a.wav: −13.6 LUFS, +0.3 dBTP; still fails: true peak +0.3 dBTP is over −2.0 dBTP");
    EXPECT_EQ(Workflow::fixTextFailed("Disk full."), "Not written: Disk full.");
}

/// While it lives, each file measured is first shown to `look`, with the names then in its folder.
class WatchedMeasuring {
public:
    using Look = std::function<void(const fs::path& file, const std::vector<std::string>& names)>;
    explicit WatchedMeasuring(Look look) {
        Workflow::replaceMeasuringStepForTesting(
            [look = std::move(look)](const fs::path& file, bool dualMono,
                                     const ProgressFn& progress, const CancelCheck& cancel) {
                look(file, namesIn(file.parent_path()));
                return AudioFileMeter::measure(file, dualMono, progress, cancel);
            });
    }
    ~WatchedMeasuring() { Workflow::replaceMeasuringStepForTesting({}); }
};

// A copy is measured while it is a hidden temporary: whatever happens then, nothing but a copy
// that passed ever stands under a copy's name, and a name taken meanwhile gives the next one.
TEST(Workflow, ACopyGetsItsNameOnlyOnceMeasured) {
    TempDir dir;
    encode(replicate(sine(1000, -30, 1, 48000), 2), 48000, dir / "Take.wav", "-c:a pcm_s24le");
    const auto fix = [&](const CancelCheck& cancel = {}) {
        return Workflow::writeFixedCopy(dir / "Take.wav", 6.0, DeliverySpec::ebuR128(),
                                        std::nullopt, false, cancel);
    };
    const std::vector<std::string> original{"Take.wav"};
    bool measuring = false;
    {
        WatchedMeasuring watch([&](const fs::path& file, const std::vector<std::string>& names) {
            EXPECT_TRUE(file.filename().string().starts_with(".")) << file;
            EXPECT_EQ(names.size(), 2u); // the original and the temporary
            measuring = true;
        });
        EXPECT_THROW(fix([&] { return measuring; }), Cancelled);
    }
    EXPECT_EQ(namesIn(dir.path()), original);
    {
        WatchedMeasuring fault([](const fs::path&, const std::vector<std::string>&) {
            throw std::out_of_range("vector::_M_range_check");
        });
        EXPECT_EQ(fix().value, (Workflow::CopyOutcome{Workflow::CopyOutcome::Failed{
                                                          std::string(Workflow::internalCopyError)}}
                                    .value));
    }
    EXPECT_EQ(namesIn(dir.path()), original);
    {
        // Another program takes the name while the copy is measured.
        WatchedMeasuring watch([&](const fs::path&, const std::vector<std::string>&) {
            writeFile(dir / "Take (EBU R 128).wav", "theirs");
        });
        const auto outcome = fix();
        const auto* written = std::get_if<Workflow::CopyOutcome::Written>(&outcome.value);
        ASSERT_TRUE(written);
        EXPECT_EQ(written->copy.filename(), "Take (EBU R 128) 2.wav");
    }
    EXPECT_EQ(readBytes(dir / "Take (EBU R 128).wav"), "theirs");
}

// A copy is taken for an original's only by the provenance it carries: the same name, length and
// loudness are not enough, and an encoder's drift within the preset doesn't matter.
TEST(Workflow, AnEarlierCopyIsRecognisedOnlyAsItsOwnOriginals) {
    TempDir dir;
    fs::create_directories(dir / "a");
    fs::create_directories(dir / "b");
    encode(replicate(sine(1000, -30, 3, 48000), 2), 48000, dir / "a" / "spot.wav",
           "-c:a pcm_s24le");
    encode(replicate(sine(500, -30, 3, 48000), 2), 48000, dir / "b" / "spot.flac", "-c:a flac");
    const DeliverySpec& spec = DeliverySpec::applePodcasts();
    const auto gain = [&](const fs::path& file) {
        return std::get<FixPlan::Gain>(
                   Workflow::fixPlanFor(Workflow::measure(file, false).result, spec)->value)
            .gain;
    };
    const fs::path out = dir / "out";
    fs::create_directories(out);
    const auto copyOf = [&](const fs::path& original, double off = 0) {
        const auto outcome =
            Workflow::writeFixedCopy(original, gain(original) + off, spec, out, false);
        return std::get<Workflow::CopyOutcome::Written>(outcome.value).copy.filename().string();
    };
    const auto recognised = [&](const fs::path& original) {
        const auto earlier = Workflow::earlierCopy(original, spec, out, false);
        return earlier ? earlier->copy.filename().string() : "";
    };

    EXPECT_EQ(copyOf(dir / "a" / "spot.wav"), "spot (Apple Podcasts).wav");
    EXPECT_EQ(recognised(dir / "b" / "spot.flac"), "");
    EXPECT_EQ(copyOf(dir / "b" / "spot.flac", 0.6), "spot (Apple Podcasts) 2.wav");
    EXPECT_EQ(recognised(dir / "b" / "spot.flac"), "spot (Apple Podcasts) 2.wav");
    EXPECT_EQ(recognised(dir / "a" / "spot.wav"), "spot (Apple Podcasts).wav");
    // A copy with nothing to say where it came from is no one's.
    fs::rename(out / "spot (Apple Podcasts).wav", dir / "kept.wav");
    GainWriter::write(dir / "a" / "spot.wav", out / "spot (Apple Podcasts).wav",
                      gain(dir / "a" / "spot.wav"));
    EXPECT_EQ(recognised(dir / "a" / "spot.wav"), "");
}

namespace {

/// A 997 Hz tone at −20 dBFS with `edit` applied to its samples, as a 16-bit WAV of `seconds`.
std::string editedTone(double seconds, const std::function<void(std::vector<double>&)>& edit,
                       std::size_t channels = 1) {
    auto x = sine(997, -20, seconds, 48000);
    edit(x);
    return Wav{.channels = std::uint16_t(channels), .data = pcm16(replicate(x, channels))}.bytes();
}

/// Sets samples [from, from + count) of `x` to `value`.
std::function<void(std::vector<double>&)> held(double at, std::size_t count, double value) {
    return [=](std::vector<double>& x) {
        std::fill_n(x.begin() + std::ptrdiff_t(at * 48000), count, value);
    };
}

/// Each finding as "kind count at", the time to a tenth of a second.
std::vector<std::string> described(const std::vector<Finding>& findings) {
    std::vector<std::string> out;
    for (const Finding& f : findings)
        out.push_back(std::string(rawValue(f.kind)) + " " + std::to_string(f.count) +
                      (f.at ? " " + Fmt::oneDecimal(*f.at) : ""));
    return out;
}

} // namespace

// Each kind of damage found where it is, and its clean twin left alone; an estimated length, a
// full-scale sine, silence at the ends, a faded gap and a mono file are no damage.
TEST(Workflow, FindingsOfDamagedAndCleanFiles) {
    TempDir dir;
    writeFile(dir / "cut-off.wav",
              Wav{.data = pcm16({sine(997, -20, 1, 48000)}), .dataSize = 4 * 48000}.bytes());
    writeCorruptMp3(dir / "corrupt.mp3");
    writeZeroedFlac(dir / "zeroed.flac");
    encodeAll({fortySecondTone(dir / "vbr-no-xing.mp3", "-c:a libmp3lame -q:a 2 -write_xing 0"),
               fortySecondTone(dir / "adts.aac", "-c:a aac -f adts"),
               fortySecondTone(dir / "intact.mp3", "-c:a libmp3lame -b:a 128k"),
               fortySecondTone(dir / "intact.m4a", "-c:a aac"),
               fortySecondTone(dir / "intact.flac", "-c:a flac")});
    encodeAll({fortySecondTone(dir / "whole.aiff", "-c:a pcm_s16be"),
               fortySecondTone(dir / "faststart.m4a", "-c:a aac -movflags +faststart")});
    // Cut short, at an odd size for the AIFF, whose chunks are padded to even sizes.
    for (const auto& [from, to] : {std::pair{"intact.flac", "cut-off.flac"},
                                   {"intact.mp3", "cut-off.mp3"},
                                   {"faststart.m4a", "cut-off.m4a"},
                                   {"whole.aiff", "cut-off.aiff"}}) {
        fs::copy_file(dir / from, dir / to);
        fs::resize_file(dir / to, fs::file_size(dir / from) / 4 | 1);
    }
    writeBytes(dir / "bad-magic.flac", "fLaX" + readBytes(dir / "intact.flac").substr(4));
    const auto both = [](auto first, auto second) {
        return [=](std::vector<double>& x) { first(x), second(x); };
    };
    writeFile(dir / "clipped.wav", editedTone(2, both(held(0.5, 4, 1.0), held(1.2, 3, -1.0))));
    writeFile(dir / "full-scale-sine.wav", Wav{.data = pcm16({sine(997, 0, 2, 48000)})}.bytes());
    writeFile(dir / "dropout.wav", editedTone(2, held(0.8, 480, 0.0)));
    writeFile(dir / "long-gap.wav", editedTone(2, held(0.8, 9600, 0.0)));
    writeFile(dir / "silent-ends.wav",
              Wav{.data = pcm16({concat(
                      {silence(0.02, 48000), sine(997, -20, 1, 48000), silence(0.5, 48000)})})}
                  .bytes());
    writeFile(dir / "faded-gap.wav",
              Wav{.data = pcm16(
                      {concat({faded(sine(997, -20, 1, 48000), 0.05, 48000), silence(0.02, 48000),
                               faded(sine(997, -20, 1, 48000), 0.05, 48000)})})}
                  .bytes());
    writeFile(dir / "dc.wav", editedTone(2, [](std::vector<double>& x) {
                  for (double& v : x)
                      v += 0.02;
              }));
    writeFile(dir / "mono.wav", editedTone(2, [](std::vector<double>&) {}));
    auto tone = sine(997, -20, 2, 48000), inverted = tone;
    for (double& v : inverted)
        v = -v;
    writeFile(dir / "out-of-phase.wav",
              Wav{.channels = 2, .data = pcm16({tone, inverted})}.bytes());
    writeFile(dir / "in-phase.wav", Wav{.channels = 2, .data = pcm16({tone, tone})}.bytes());
    const struct {
        const char* name;
        std::vector<std::string> findings;
    } cases[] = {
        // clang-format off
        {"cut-off.wav", {"cutOff 1 1.0"}},
        {"cut-off.flac", {"cutOff 1 9.8"}},
        {"cut-off.mp3", {"cutOff 1 10.0"}},
        {"cut-off.m4a", {"cutOff 1 9.6"}},
        {"cut-off.aiff", {"cutOff 1 10.0"}},
        {"corrupt.mp3", {"undecodable 1 16.0"}},
        {"zeroed.flac", {"undecodable 1 15.9"}},
        {"bad-magic.flac", {"container 1 0.0"}},
        {"clipped.wav", {"clipping 2 0.5"}},
        {"dropout.wav", {"dropout 1 0.8"}},
        {"dc.wav", {"dcOffset 1 0.0"}},
        {"out-of-phase.wav", {"phase 1 0.0"}},
        {"full-scale-sine.wav", {}}, {"long-gap.wav", {}}, {"silent-ends.wav", {}},
        {"faded-gap.wav", {}}, {"mono.wav", {}}, {"in-phase.wav", {}},
        {"vbr-no-xing.mp3", {}}, {"adts.aac", {}}, {"intact.mp3", {}}, {"intact.m4a", {}},
        {"intact.flac", {}},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Workflow::Reading reading = Workflow::measure(dir / c.name, false);
        EXPECT_EQ(described(reading.findings), c.findings);
        // Damage fails the file whatever its loudness, unless it only warns.
        ASSERT_TRUE(reading.result);
        const auto status = [&](DamagePolicy damage) {
            return Verdict::make(*reading.result, DeliverySpec::ebuR128(), reading.findings, damage)
                .status;
        };
        if (anyDamage(reading.findings)) {
            EXPECT_EQ(status(DamagePolicy::fail), Verdict::Status::fail);
        } else {
            EXPECT_EQ(status(DamagePolicy::fail), status(DamagePolicy::warn));
        }
    }
    // Audio lost inside a file keeps its place in the timeline, empty, so what follows it is
    // shown at its time in the file.
    const auto zeroed = Workflow::measure(dir / "zeroed.flac", false, {}, {}, true);
    const Timeline& timeline = *zeroed.timeline;
    EXPECT_LT(zeroed.result->duration, 38);
    EXPECT_NEAR(timeline.stepEnd(timeline.size() - 1), 40, 0.15);
    EXPECT_FALSE(timeline.truePeak[static_cast<std::size_t>(17 / timeline.step)]);
    EXPECT_TRUE(timeline.truePeak[static_cast<std::size_t>(39 / timeline.step)]);
}

TEST(Workflow, CustomSpecIdsCarryAllThreeNumbersAndReadBack) {
    const struct {
        double target;
        std::optional<double> tolerance, maxTruePeak;
        const char* id;
    } specs[] = {
        {-19, std::nullopt, std::nullopt, "custom:-19.0:1.0:-1.0"},
        {-19, 1, -2, "custom:-19.0:1.0:-2.0"},
        {-16.4, 0.5, -0.0, "custom:-16.4:0.5:0.0"},
        {-19.05, 1, -1, "custom:-19.05:1.0:-1.0"}, // the CLI takes any number
    };
    for (const auto& c : specs) {
        SCOPED_TRACE(c.id);
        const DeliverySpec spec = Workflow::customSpec(c.target, c.tolerance, c.maxTruePeak);
        EXPECT_EQ(spec.id, c.id);
        const auto back = Workflow::specForId(c.id);
        ASSERT_TRUE(back);
        EXPECT_EQ(std::tie(back->id, back->name, back->target, back->tolerance, back->maxTruePeak),
                  std::tie(spec.id, spec.name, spec.target, spec.tolerance, spec.maxTruePeak));
    }
    EXPECT_EQ(Workflow::specForId("spotify"), DeliverySpec::spotify());
    for (const char* stored :
         {"custom", "custom:-19.0:1.0", "custom:-19.0:1.0:-1.0:", "custom:-19:1:-1",
          "custom:-100.0:1.0:-1.0", "custom:-19.0:9.0:-1.0", "custom:nan:1.0:-1.0",
          "custom:-19.0:1.0:-1.0x", "custom:−19.0:1.0:-1.0", "Spotify"}) {
        SCOPED_TRACE(stored);
        EXPECT_FALSE(Workflow::specForId(stored));
    }
}
