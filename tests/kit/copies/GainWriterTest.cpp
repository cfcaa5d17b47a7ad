#include "tavrin/copies/GainWriter.h"

#include "AudioFixtures.h"
#include "ChildProcess.h"
#include "HandWritten.h"
#include "SoundFiles.h"
#include "core/AtomicFile.h"
#include "decode/AppleChannelLayout.h"
#include "decode/WaveHeader.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tavrin;
using namespace tavrin::test;

namespace {

const std::string never = " already exists; Tavrin never overwrites files.";

/// "WAVE" or "AIFF": the form type of a RIFF or plain (big-endian) AIFF file.
std::string formType(const fs::path& path) {
    const std::string bytes = readBytes(path);
    const std::string kind = bytes.substr(0, 4);
    return (kind == "RIFF" || kind == "FORM") && bytes.size() >= 12 ? bytes.substr(8, 4) : kind;
}

/// Channel roles spelt one letter each: F front, S surround, L LFE.
std::vector<ChannelRole> roles(std::string_view letters) {
    std::vector<ChannelRole> out;
    for (char c : letters)
        out.push_back(c == 'L'   ? ChannelRole::lfe
                      : c == 'S' ? ChannelRole::surround
                                 : ChannelRole::front);
    return out;
}

} // namespace

// ---- Naming ---------------------------------------------------------------------------------

// Each name is taken (by a folder, which takes a name as well as a file does) once it is given.
TEST(GainWriter, DestinationFollowsTheOriginalAndCountsUpPastTakenNames) {
    TempDir dir;
    const std::pair<const char*, const char*> cases[] = {
        {"Take.AIFF", "Take (EBU R 128).aif"},  {"Take.aifc", "Take (EBU R 128) 2.aif"},
        {"Take.aif", "Take (EBU R 128) 3.aif"}, {"Mix.WAV", "Mix (EBU R 128).wav"},
        {"Mix.wave", "Mix (EBU R 128) 2.wav"},  {"a.bwf", "a (EBU R 128).wav"},
        {"a.flac", "a (EBU R 128) 2.wav"},      {"a.caf", "a (EBU R 128) 3.wav"},
        {"stem", "stem (EBU R 128).wav"},       {"v1.2.m4a", "v1.2 (EBU R 128).wav"},
    };
    for (const auto& [original, expected] : cases) {
        SCOPED_TRACE(original);
        const fs::path copy = GainWriter::destination(dir / original, "EBU R 128", std::nullopt);
        EXPECT_EQ(copy, dir / expected);
        fs::create_directory(copy);
    }
}

// ---- Format of the copy ---------------------------------------------------------------------

// At 0 dB a dithered copy differs from the original by at most one step of the copy, in many
// samples, and the same each time; any other copy by rounding alone (none when the original fits).
TEST(GainWriter, CopyKeepsTheOriginalsPcmFormatAndDithersOnlyShortIntegers) {
    TempDir dir;
    const Channels stereo = {sine(997, -6, 0.5, 48000), sine(440, -9, 0.5, 48000)};
    struct Case {
        const char* original;
        const char* args; // ffmpeg's
        int copyType;     // container of the copy
        int copySubtype;
        int bits; // of the copy's samples; 0 for floating point
        bool dithered;
    };
    const int wav = SF_FORMAT_WAV, aiff = SF_FORMAT_AIFF;
    const Case cases[] = {
        {"16.wav", "-c:a pcm_s16le", wav, SF_FORMAT_PCM_16, 16, true},
        {"8.wav", "-c:a pcm_u8", wav, SF_FORMAT_PCM_U8, 8, true},
        {"24.wav", "-c:a pcm_s24le", wav, SF_FORMAT_PCM_24, 24, false},
        {"32.wav", "-c:a pcm_s32le", wav, SF_FORMAT_PCM_32, 32, false},
        {"Mix.WAV", "-c:a pcm_f32le", wav, SF_FORMAT_FLOAT, 0, false},
        {"64.wav", "-c:a pcm_f64le", wav, SF_FORMAT_DOUBLE, 0, false},
        {"float.caf", "-c:a pcm_f32le", wav, SF_FORMAT_FLOAT, 0, false},
        {"Take.AIFF", "-c:a pcm_s24be", aiff, SF_FORMAT_PCM_24, 24, false},
        {"16.aif", "-c:a pcm_s16be", aiff, SF_FORMAT_PCM_16, 16, true},
        {"8.aif", "-c:a pcm_s8 -f aiff", aiff, SF_FORMAT_PCM_S8, 8, true},
        {"float.aifc", "-c:a pcm_f32be -f aiff", aiff, SF_FORMAT_PCM_32, 32, false},
        {"a.flac", "-c:a flac -sample_fmt s16", wav, SF_FORMAT_PCM_24, 24, false},
        {"a.mp3", "-c:a libmp3lame", wav, SF_FORMAT_PCM_24, 24, false},
    };
    std::vector<Encoding> jobs;
    for (const Case& c : cases)
        jobs.push_back({stereo, 48000, dir / c.original, c.args});
    encodeAll(jobs);

    for (const Case& c : cases) {
        SCOPED_TRACE(c.original);
        const fs::path copy = GainWriter::destination(dir / c.original, "EBU R 128", std::nullopt);
        GainWriter::write(dir / c.original, copy, 0.0);
        const Audio written = readAudio(copy);
        // RF64 downgraded to plain WAV reads back as WAVE_FORMAT_EXTENSIBLE.
        const int type = written.info.format & SF_FORMAT_TYPEMASK;
        EXPECT_EQ(type == SF_FORMAT_WAVEX ? SF_FORMAT_WAV : type, c.copyType);
        EXPECT_EQ(written.info.format & SF_FORMAT_SUBMASK, c.copySubtype);
        EXPECT_EQ(formType(copy), c.copyType == SF_FORMAT_AIFF ? "AIFF" : "WAVE");
        EXPECT_EQ(written.info.samplerate, 48000);
        EXPECT_EQ(written.info.channels, 2);
        if (fs::path(c.original).stem() == "a") // decoded: no samples of its own to compare
            continue;
        const Audio original = readAudio(dir / c.original);
        ASSERT_EQ(written.samples.size(), original.samples.size());
        const float step = c.bits ? std::ldexp(1.0f, 1 - c.bits) : 0.0f;
        const float tolerance = c.dithered ? step : step / 2;
        std::size_t changed = 0;
        for (std::size_t i = 0; i < original.samples.size(); ++i) {
            const float difference = std::abs(written.samples[i] - original.samples[i]);
            changed += difference != 0;
            ASSERT_LE(difference, tolerance) << i;
        }
        if (c.dithered) {
            EXPECT_GT(changed, original.samples.size() / 4);
            GainWriter::write(dir / c.original, dir / "again.wav", 0.0);
            EXPECT_EQ(readAudio(dir / "again.wav").samples, written.samples);
            fs::remove(dir / "again.wav");
        }
    }
}

// Every layout an original may carry: the file meter reads each channel in its role (a wrong role
// moves the reading by far more than 16-bit rounding does), and the copy keeps each channel's
// speaker, so that it reads as the original plus the gain. A WAV copy's mask names the speaker of
// each channel (which puts them in speaker-bit order); an AIFF copy keeps the original's record.
TEST(GainWriter, EveryLayoutIsReadInItsRolesAndCopiedWithItsSpeakers) {
    struct Case {
        const char* name;
        std::size_t channels;
        const char* args;   // ffmpeg arguments; none for a hand-written file with `chan`
        std::string chan;   // layout record; for ffmpeg's MP4, the standard tag put into its 'chan'
        const char* roles;  // F front, S surround, L low-frequency effects
        std::uint32_t mask; // of a WAV copy
        std::vector<std::size_t> order{}; // original channel of each copy channel; none: the same
    };
    const auto tag = [](std::uint32_t index, std::uint32_t channels) {
        return layoutRecord(index << 16 | channels, 0, 0, {});
    };
    const std::string described = layoutRecord(0, 0, 6, {1, 2, 5, 6, 3, 4}); // L R Ls Rs C LFE
    const Case cases[] = {
        // clang-format off
        {"mono.wav", 1, nullptr, "", "F", 0},
        {"5.1 back and top.wav", 8, nullptr, "", "FFFLSSFF", 0x503F},
        {"stereo.wav", 2, "-c:a pcm_s16le", "", "FF", 0},
        {"stereo mask.wav", 2, "-c:a pcm_s24le", "", "FF", 0x3},
        {"no mask.wav", 8, nullptr, "", "FFFLFFSS", 0},
        {"5.1.wav", 6, "-c:a pcm_s24le -channel_layout 5.1", "", "FFFLSS", 0x3F},
        {"5.1 side.wav", 6, "-c:a pcm_s24le -channel_layout '5.1(side)'", "", "FFFLSS", 0x60F},
        {"7.1.wav", 8, "-c:a pcm_s24le -channel_layout 7.1", "", "FFFLFFSS", 0x63F},
        {"tops.wav", 4, nullptr, "", "FFFF", 0x5003},
        {"5.1.flac", 6, "-c:a flac", "", "FFFLSS", 0x3F},
        {"described.caf", 6, nullptr, described, "FFSSFL", 0x3F, {0, 1, 4, 5, 2, 3}},
        {"unlabelled.caf", 6, nullptr, layoutRecord(0, 0, 6, {~0u, 0, ~0u, 0, 0, 0}), "FFFLSS", 0},
        {"no labels.caf", 7, nullptr, layoutRecord(0, 0, 0, {}), "FFFFFFF", 0},
        {"miscounted.caf", 4, nullptr, layoutRecord(0, 0, 3, {4, 4, 4}), "FFSS", 0},
        {"bitmap.caf", 6, nullptr, layoutRecord(1u << 16, 0x3F, 0, {}), "FFFLSS", 0},
        {"bitmap of 6 on 5.caf", 5, nullptr, layoutRecord(1u << 16, 0x3F, 0, {}), "FFFSS", 0},
        {"5.1 A.caf", 6, nullptr, tag(121, 6), "FFFLSS", 0x3F},
        {"5.1 B.caf", 6, nullptr, tag(122, 6), "FFSSFL", 0x3F, {0, 1, 4, 5, 2, 3}},
        {"5.1 C.caf", 6, nullptr, tag(123, 6), "FFFSSL", 0x3F, {0, 2, 1, 5, 3, 4}},
        {"5.1 D.caf", 6, nullptr, tag(124, 6), "FFFSSL", 0x3F, {1, 2, 0, 5, 3, 4}},
        {"6.1.caf", 7, nullptr, tag(125, 7), "FFFLSSF", 0x13F},
        {"7.1 A.caf", 8, nullptr, tag(126, 8), "FFFLSSFF", 0xFF},
        {"7.1 B.caf", 8, nullptr, tag(127, 8), "FFFFFSSL", 0xFF, {3, 4, 0, 7, 5, 6, 1, 2}},
        {"7.1 C.caf", 8, nullptr, tag(128, 8), "FFFLSSFF", 0x63F, {0, 1, 2, 3, 6, 7, 4, 5}},
        {"quad.caf", 4, nullptr, tag(108, 4), "FFSS", 0x33},
        {"rear pair.caf", 4, nullptr, tag(185, 4), "FFFF", 0x33},
        {"atmos 5.1.2.caf", 8, nullptr, tag(194, 8), "FFFLSSFF", 0x3F},
        {"atmos 7.1.4.caf", 12, nullptr, tag(192, 12), "FFFLSSFFFFFF", 0x2D63F, {0, 1, 2, 3, 6, 7, 4, 5, 8, 9, 10, 11}},
        {"hoa.caf", 4, nullptr, tag(190, 4), "FFFF", 0},
        {"described.m4a", 6, "-c:a pcm_s24le -f mov", be(122u << 16 | 6, 4), "FFSSFL", 0x3F, {0, 1, 4, 5, 2, 3}},
        {"5.1.aiff", 6, nullptr, described, "FFSSFL", 0},
        // clang-format on
    };
    const double rate = 48000, gain = -2.5;
    const auto samples = [rate](std::size_t count) {
        Channels channels;
        for (std::size_t c = 0; c < count; ++c)
            channels.push_back(sine(200 + 150 * double(c), -12 - 1.5 * double(c), 3.5, rate));
        return channels;
    };
    TempDir dir;
    std::vector<Encoding> jobs;
    for (const Case& c : cases) {
        const fs::path path = dir / c.name;
        const std::string data = pcm16(samples(c.channels));
        const auto count = std::uint16_t(c.channels);
        if (c.args)
            jobs.push_back({samples(c.channels), int(rate), path, c.args});
        else if (path.extension() == ".wav") // with the mask the copy should have, if any
            writeBytes(path,
                       Wav{.channels = count,
                           .data = data,
                           .validBits = c.mask ? std::optional<std::uint16_t>(16) : std::nullopt,
                           .mask = c.mask}
                           .bytes());
        else if (path.extension() == ".aiff")
            writeBytes(path, Aiff{.channels = count, .chan = c.chan, .data = data}.bytes());
        else
            writeBytes(path, Caf{.channels = count, .chan = c.chan, .data = data}.bytes());
    }
    encodeAll(jobs);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path original = dir / c.name;
        if (original.extension() == ".m4a") {
            std::string mp4 = readBytes(original);
            mp4.replace(mp4.find("chan") + 8, 4, c.chan);
            writeBytes(original, mp4);
        }
        const fs::path copy = GainWriter::destination(original, "fixed", std::nullopt);
        GainWriter::write(original, copy, gain);

        const Channels expected = samples(c.channels);
        const LoudnessResult inRoles = meter(expected, weights(roles(c.roles)), rate, 65536);
        const LoudnessResult before = AudioFileMeter::measure(original, false).result;
        const LoudnessResult after = AudioFileMeter::measure(copy, false).result;
        EXPECT_NEAR(*before.integrated, *inRoles.integrated, 1e-3);
        EXPECT_NEAR(*before.truePeak, *inRoles.truePeak, 1e-3);
        EXPECT_NEAR(*after.integrated, *before.integrated + gain, 0.01);
        EXPECT_EQ(after.duration, before.duration);

        if (copy.extension() == ".aif")
            EXPECT_EQ(
                AppleChannelLayout::readLabels(copy, AppleChannelLayout::Container::aiff),
                AppleChannelLayout::readLabels(original, AppleChannelLayout::Container::aiff));
        else
            EXPECT_EQ(WaveHeader::pcmFormat(copy)->mask, c.mask);
        // Each channel of the copy is the original channel it says it is, as libsndfile reads it.
        const Audio read = readAudio(copy);
        const double factor = std::pow(10.0, gain / 20);
        for (std::size_t i = 0; i < c.channels; ++i) {
            const std::size_t from = c.order.empty() ? i : c.order[i];
            double worst = 0;
            for (std::size_t f = 0; f < expected[from].size(); f += 97)
                worst = std::max(
                    worst, std::abs(read.samples[f * c.channels + i] - expected[from][f] * factor));
            EXPECT_LT(worst, 1e-3) << "copy channel " << i;
        }
    }
}

TEST(GainWriter, FloatCopyHoldsEverySampleTimesTheGain) {
    const double gain = -4.25;
    const float factor = static_cast<float>(std::pow(10.0, gain / 20));
    // No frames, and lengths around the writer's 65,536-frame buffer, on one, two and six channels.
    const std::pair<std::size_t, std::size_t> shapes[] = {{0, 2},     {1, 1},     {2, 6},
                                                          {65535, 2}, {65536, 1}, {65537, 6}};
    for (const auto& [frameCount, channelCount] : shapes) {
        SCOPED_TRACE(testing::Message()
                     << frameCount << " frames, " << channelCount << " channels");
        TempDir dir;
        Channels channels;
        for (std::size_t c = 0; c < channelCount; ++c)
            channels.push_back(
                sine(997, -12.0 - double(c), double(frameCount) / 48000, 48000, 1.0));
        encode(channels, 48000, dir / "in.wav", "-c:a pcm_f32le");
        GainWriter::write(dir / "in.wav", dir / "out.wav", gain);

        const Audio original = readAudio(dir / "in.wav");
        const Audio copy = readAudio(dir / "out.wav");
        EXPECT_EQ(copy.info.frames, sf_count_t(frameCount));
        EXPECT_EQ(copy.info.channels, int(channelCount));
        ASSERT_EQ(copy.samples.size(), original.samples.size());
        for (std::size_t i = 0; i < copy.samples.size(); ++i)
            ASSERT_EQ(copy.samples[i], original.samples[i] * factor) << i;
    }
}

// ---- Never overwriting, never leaving a partial copy ----------------------------------------

TEST(GainWriter, RefusesANameTakenAfterNamingAndLeavesThatFileAlone) {
    TempDir dir;
    encode({sine(997, -20, 3, 48000)}, 48000, dir / "Take.wav", "-c:a pcm_s16le");
    const fs::path copy = GainWriter::destination(dir / "Take.wav", "Spotify", std::nullopt);
    const std::string theirs = "another program's file";

    // Taken before the write starts.
    writeBytes(copy, theirs);
    EXPECT_EQ(failure([&] { GainWriter::write(dir / "Take.wav", copy, -1); },
                      AudioFileError::Kind::unwritable),
              "Take (Spotify).wav" + never);
    EXPECT_EQ(readBytes(copy), theirs);

    // Taken while the copy is being written.
    fs::remove(copy);
    const auto takeName = [&](double) {
        if (!fs::exists(copy))
            writeBytes(copy, theirs);
    };
    EXPECT_EQ(failure([&] { GainWriter::write(dir / "Take.wav", copy, -1, takeName); },
                      AudioFileError::Kind::unwritable),
              "Take (Spotify).wav" + never);
    EXPECT_EQ(readBytes(copy), theirs);
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"Take (Spotify).wav", "Take.wav"}));
}

TEST(GainWriter, FailuresAreWholeSentencesAndLeaveNothing) {
    TempDir dir;
    encode({sine(997, -20, 10, 48000), sine(997, -20, 10, 48000)}, 48000, dir / "in.wav",
           "-c:a pcm_f32le");
    writeBytes(dir / "text.wav", "This is a text file, not audio.\n");
    const auto writing = [&](const char* from, fs::path to) {
        return [from, to, &dir] { GainWriter::write(dir / from, to, -1); };
    };
    EXPECT_EQ(failure(writing("missing.wav", dir / "a.wav"), AudioFileError::Kind::unreadable),
              "Can't open the original (No such file or directory).");
    EXPECT_EQ(failure(writing("text.wav", dir / "a.wav"), AudioFileError::Kind::unreadable),
              "Can't open the original (Invalid data found when processing input).");
    EXPECT_EQ(failure(writing("in.wav", dir / "none" / "a.wav"), AudioFileError::Kind::unwritable),
              "Can't create a.wav (No such file or directory).");

    // A copy larger than the process may write: the disk filling up, in effect.
    EXPECT_EQ(inChild([&] {
                  const rlimit limit{1 << 20, 1 << 20};
                  ::setrlimit(RLIMIT_FSIZE, &limit);
                  ::signal(SIGXFSZ, SIG_IGN);
                  return failure(writing("in.wav", dir / "big.wav"),
                                 AudioFileError::Kind::unwritable);
              }),
              "Writing stopped part way (File too large).");

    // A folder the writer may not write in; root may write anywhere, so the child gives it up.
    fs::create_directory(dir / "locked");
    fs::permissions(dir / "locked", fs::perms(0555)); // r-x for everyone
    EXPECT_EQ(inChild([&] {
                  if (!unprivileged(dir.path()))
                      return noUser;
                  return failure(writing("in.wav", dir / "locked" / "a.wav"),
                                 AudioFileError::Kind::unwritable);
              }),
              "Can't create a.wav (Permission denied).");

    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"in.wav", "locked", "text.wav"}));
    EXPECT_TRUE(fs::is_empty(dir / "locked"));
}

TEST(GainWriter, CancellingLeavesNothingAndTheOriginalUnchanged) {
    TempDir dir;
    encode({noise(-20, 5 * 65536 / 48000.0, 48000, 3)}, 48000, dir / "in.wav", "-c:a pcm_s16le");
    const std::string before = readBytes(dir / "in.wav");
    std::vector<double> fractions;
    int checks = 0;
    EXPECT_THROW(GainWriter::write(
                     dir / "in.wav", dir / "out.wav", -6, [&](double f) { fractions.push_back(f); },
                     [&] { return ++checks == 3; }),
                 Cancelled);
    EXPECT_EQ(fractions, (std::vector<double>{0.2, 0.4}));
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"in.wav"});
    EXPECT_EQ(readBytes(dir / "in.wav"), before);
}

TEST(GainWriter, NextWriteRemovesStaleTemporariesOnly) {
    TempDir dir;
    encode({sine(997, -20, 1, 48000)}, 48000, dir / "in.wav", "-c:a pcm_s24le");
    // The machine tag that this machine's temporaries carry, read off a real one.
    const std::string seen = AtomicFile(dir / "first.wav").temporaryPath().filename().string();
    ASSERT_TRUE(seen.starts_with(".first.wav.tavrin-")) << seen;
    const std::string here = seen.substr(std::string(".first.wav.tavrin-").size(), 8);
    const std::string elsewhere = here == "00000000" ? "11111111" : "00000000";

    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    const std::string dead = std::to_string(gone), alive = std::to_string(::getpid());
    const auto twoHoursAgo = fs::file_time_type::clock::now() - std::chrono::hours(2);
    const struct {
        std::string name;
        bool old;
        bool kept;
    } files[] = {
        {".a (EBU R 128).wav.tavrin-" + here + "-" + dead + "-x1y2z3.tmp", false, false},
        {".b.wav.tavrin-" + here + "-" + alive + "-x1y2z3.tmp", true, true},
        {".c.wav.tavrin-" + elsewhere + "-" + dead + "-x1y2z3.tmp", false, true}, // may be live
        {".d.wav.tavrin-" + elsewhere + "-" + dead + "-x1y2z3.tmp", true, false},
        {".notes.tmp", true, true},
    };
    for (const auto& f : files) {
        writeBytes(dir / f.name, "partial");
        if (f.old)
            fs::last_write_time(dir / f.name, twoHoursAgo);
    }
    GainWriter::write(dir / "in.wav", dir / "out.wav", -1);
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        EXPECT_EQ(fs::exists(dir / f.name), f.kept);
    }
}
