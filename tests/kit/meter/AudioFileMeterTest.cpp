#include "tavrin/meter/AudioFileMeter.h"

#include "AudioFixtures.h"
#include "HandWritten.h"
#include "SoundFiles.h"
#include "core/ParallelTasks.h"
#include "decode/FfmpegReader.h"

#include <bit>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace tavrin;
using namespace tavrin::test;

// ---- Formats ------------------------------------------------------------------------------

// Every format, decoded, reads as the meter reads the same samples in the usual channel order, to
// within what quantising to the file's bit depth may move a reading. A lossy codec changes every
// sample and, by up to a codec frame, the length: only its integrated loudness is compared.
TEST(AudioFileMeter, EveryFormatIsDescribedAndReadsAsTheMeterReadsItsSamples) {
    struct Case {
        const char* name;
        int rate;
        std::size_t channels;
        const char* args;
        const char* description;
        double tolerance; // dB
    };
    const double lossy = 0.05;
    const Case cases[] = {
        // clang-format off
        {"u8.wav", 22050, 1, "-c:a pcm_u8", "WAV · 8-bit · 22.1 kHz · mono", 0.2},
        {"s32.wave", 96000, 2, "-c:a pcm_s32le -f wav", "WAV · 32-bit · 96 kHz · stereo", 1e-6},
        {"f32.bwf", 192000, 2, "-c:a pcm_f32le -f wav", "WAV · 32-bit float · 192 kHz · stereo", 1e-9},
        {"f64.wav", 48000, 1, "-c:a pcm_f64le", "WAV · 64-bit float · 48 kHz · mono", 1e-9},
        {"s24.aif", 48000, 6, "-c:a pcm_s24be -f aiff", "AIFF · 24-bit · 48 kHz · 5.1", 1e-4},
        {"f32.aifc", 48000, 2, "-c:a pcm_f32be -f aiff", "AIFF · 32-bit float · 48 kHz · stereo", 1e-9},
        {"f32.caf", 96000, 6, "-c:a pcm_f32le", "CAF · 32-bit float · 96 kHz · 5.1", 1e-9},
        {"s24.flac", 48000, 2, "-c:a flac -sample_fmt s32", "FLAC · 48 kHz · stereo", 1e-4},
        {"alac.m4a", 44100, 2, "-c:a alac", "Apple Lossless · 44.1 kHz · stereo", 1e-3},
        {"alac.caf", 88200, 1, "-c:a alac", "Apple Lossless · 88.2 kHz · mono", 1e-3},
        {"x.mp3", 48000, 2, "-c:a libmp3lame -b:a 256k", "MP3 · 48 kHz · stereo", lossy},
        {"x.m4a", 44100, 2, "-c:a aac -b:a 256k", "AAC · 44.1 kHz · stereo", lossy},
        {"x.mp4", 48000, 1, "-c:a aac -b:a 256k", "AAC · 48 kHz · mono", lossy},
        {"x.aac", 44100, 2, "-c:a aac -b:a 256k -f adts", "AAC · 44.1 kHz · stereo", lossy},
        // clang-format on
    };
    // Two tones a step apart on each channel, each channel at its own level.
    const auto samples = [](std::size_t count, double rate) {
        Channels channels;
        for (std::size_t c = 0; c < count; ++c)
            channels.push_back(concat({sine(997, -12.0 - 3.0 * double(c), 2, rate),
                                       sine(440, -24.0 - 3.0 * double(c), 2.5, rate)}));
        return channels;
    };
    TempDir dir;
    std::vector<Encoding> jobs;
    for (const Case& c : cases)
        jobs.push_back({samples(c.channels, c.rate), c.rate, dir / c.name, c.args});
    encodeAll(jobs);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FileMeasurement m = AudioFileMeter::measure(dir / c.name, false);
        EXPECT_EQ(m.format, c.description);
        EXPECT_EQ(m.result.channels, int(c.channels));
        EXPECT_EQ(m.result.sampleRate, c.rate);
        const LoudnessResult expected = meter(
            samples(c.channels, c.rate), weights(defaultRoles(int(c.channels))), c.rate, 65536);
        EXPECT_NEAR(*m.result.integrated, *expected.integrated, c.tolerance);
        if (c.tolerance == lossy) { // raw AAC has no note of the encoder's priming to remove
            EXPECT_NEAR(m.result.duration, expected.duration, 0.05);
            continue;
        }
        EXPECT_EQ(m.result.duration, expected.duration);
        EXPECT_NEAR(*m.result.loudnessRange, *expected.loudnessRange, c.tolerance);
        EXPECT_NEAR(*m.result.maxMomentary, *expected.maxMomentary, c.tolerance);
        EXPECT_NEAR(*m.result.maxShortTerm, *expected.maxShortTerm, c.tolerance);
        EXPECT_NEAR(*m.result.samplePeak, *expected.samplePeak, c.tolerance);
        EXPECT_NEAR(*m.result.truePeak, *expected.truePeak, c.tolerance);
    }
}

// WAVE_FORMAT_EXTENSIBLE samples in every container, some wider than their valid bits: every
// sample reads as libsndfile reads it.
TEST(AudioFileMeter, ExtensibleWavSamplesReadAsLibsndfileReadsThem) {
    struct Case {
        std::uint16_t formatTag, container, valid;
        const char* description;
    };
    const Case cases[] = {
        {1, 8, 8, "WAV · 8-bit · 48 kHz · stereo"},
        {1, 16, 16, "WAV · 16-bit · 48 kHz · stereo"},
        {1, 24, 24, "WAV · 24-bit · 48 kHz · stereo"},
        {1, 32, 32, "WAV · 32-bit · 48 kHz · stereo"},
        {1, 32, 24, "WAV · 24-bit · 48 kHz · stereo"},
        {1, 24, 16, "WAV · 16-bit · 48 kHz · stereo"},
        {1, 24, 20, "WAV · 20-bit · 48 kHz · stereo"},
        {3, 32, 32, "WAV · 32-bit float · 48 kHz · stereo"},
        {3, 64, 64, "WAV · 64-bit float · 48 kHz · stereo"},
    };
    const double seconds = 0.25;
    const Channels x = {sine(997, -12, seconds, 48000), sine(440, -15, seconds, 48000)};
    TempDir dir;
    int readInDoubles = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description + std::string(" in ") + std::to_string(c.container));
        std::string data;
        const int bytes = c.container / 8;
        for (std::size_t f = 0; f < x[0].size(); ++f)
            for (const auto& channel : x) {
                const double v = channel[f];
                if (c.formatTag == 3 && bytes == 4)
                    data += le(std::bit_cast<std::uint32_t>(float(v)), 4);
                else if (c.formatTag == 3)
                    data += le(std::bit_cast<std::uint64_t>(v), 8);
                else if (bytes == 1)
                    data += le(std::uint64_t(std::lround(v * 127) + 128), 1);
                else // the valid bits at the top of the container
                    data += le(std::uint64_t(std::lround(v * std::ldexp(1.0, c.valid - 1)))
                                   << (c.container - c.valid),
                               bytes);
            }
        const fs::path path = dir / "x.wav";
        writeBytes(path, Wav{.formatTag = c.formatTag,
                             .channels = 2,
                             .bits = c.container,
                             .data = data,
                             .validBits = c.valid}
                             .bytes());
        FfmpegReader reader(path);
        const std::size_t frames = reader.read(65536);
        const Audio expected = readAudio(path);
        ASSERT_EQ(frames, x[0].size());
        ASSERT_EQ(expected.samples.size(), 2 * frames);
        for (std::size_t f = 0; f < frames; ++f)
            for (std::size_t ch = 0; ch < 2; ++ch)
                ASSERT_EQ(reader.channelData()[ch][f], expected.samples[2 * f + ch]) << f;
        // Read again in double precision, as the meter does: the same values.
        FfmpegReader again(path);
        readInDoubles += again.readsPcmFromFile() ? 1 : 0;
        std::vector<double> left(frames), right(frames);
        double* out[2] = {left.data(), right.data()};
        ASSERT_EQ(again.readDoubles(frames, out), frames);
        for (std::size_t f = 0; f < frames; ++f)
            ASSERT_TRUE(left[f] == reader.channelData()[0][f] &&
                        right[f] == reader.channelData()[1][f])
                << f;
        const FileMeasurement m = AudioFileMeter::measure(path, false);
        EXPECT_EQ(m.format, c.description);
        EXPECT_EQ(m.result.duration, seconds);
    }
    EXPECT_EQ(readInDoubles, 4); // the 16- and 24-bit containers, straight from the file
}

TEST(AudioFileMeter, DescriptionParts) {
    const auto described = [](AudioCodec codec, int bits, double rate, int channels,
                              const char* file) {
        return AudioFileMeter::formatDescription({codec, bits, false, rate, channels, {}}, file);
    };
    using enum AudioCodec;
    EXPECT_EQ(described(linearPCM, 16, 8000, 2, "noextension"), "WAV · 16-bit · 8 kHz · stereo");
    EXPECT_EQ(described(other, 0, 22050, 7, "a.m4a"), "M4A · 22.1 kHz · 7 ch");
    EXPECT_EQ(described(other, 0, 11025, 0, "noextension"), " · 11.0 kHz · 0 ch");
}

// ---- Loudness -----------------------------------------------------------------------------

TEST(AudioFileMeter, DualMonoCountsAMonoFileTwice) {
    const double rate = 48000;
    TempDir dir;
    encodeAll(
        {{{sine(997, -20, 1, rate)}, int(rate), dir / "mono.wav", "-c:a pcm_s16le"},
         {replicate(sine(997, -20, 1, rate), 2), int(rate), dir / "stereo.wav", "-c:a pcm_s16le"}});

    const double dualMonoGain = 10 * std::log10(2.0);
    const auto plain = AudioFileMeter::measure(dir / "mono.wav", false).result;
    const auto dual = AudioFileMeter::measure(dir / "mono.wav", true).result;
    EXPECT_NEAR(*dual.integrated - *plain.integrated, dualMonoGain, 1e-9);
    EXPECT_NEAR(*dual.maxMomentary - *plain.maxMomentary, dualMonoGain, 1e-9);
    EXPECT_EQ(dual.samplePeak, plain.samplePeak);
    EXPECT_EQ(dual.truePeak, plain.truePeak);
    EXPECT_EQ(AudioFileMeter::measure(dir / "stereo.wav", true),
              AudioFileMeter::measure(dir / "stereo.wav", false));
}

// A file measured alone shares its work among every processor: a long plain WAV a chunk on each,
// a long MP3 or FLAC decoded a span on each, anything else a channel on each; while another
// measurement runs it keeps to one thread. Both give the same reading and timeline, to the bit,
// with drop-outs and held samples across chunk boundaries.
TEST(AudioFileMeter, AFileAloneOnEveryProcessorReadsAsOnOne) {
    TempDir dir;
    const struct {
        const char* name;
        std::size_t channels;
        double seconds;
        const char* args;
        std::size_t findings; // the lossy codec keeps neither drop-outs nor held samples
    } cases[] = {{"stereo.wav", 2, 6, "-c:a pcm_s24le", 2},
                 {"mono.wav", 1, 6, "-c:a pcm_s16le", 2},
                 {"surround.flac", 6, 6, "-c:a flac", 2},
                 {"stereo.flac", 2, 20, "-c:a flac", 2},
                 {"stereo.mp3", 2, 20, "-c:a libmp3lame -b:a 128k", 0},
                 {"damaged.mp3", 2, 20, "-c:a libmp3lame -b:a 128k", 0}};
    const std::size_t chunk = AudioFileMeter::chunkFrames;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Channels channels;
        for (std::size_t i = 0; i < c.channels; ++i) { // several chunks, every channel its own
            channels.push_back(noise(-20 - double(i), c.seconds, 48000, i + 1));
            // 5 ms drop-outs across the first and the third chunk boundaries; samples held at
            // full scale across the second.
            for (std::size_t start : {chunk - 100, 3 * chunk - 100})
                std::fill_n(channels[i].begin() + std::ptrdiff_t(start), 240, 0.0);
            std::fill_n(channels[i].begin() + std::ptrdiff_t(2 * chunk - 2), 5, 0.999);
        }
        encode(channels, 48000, dir / c.name, c.args);
        if (std::string_view(c.name).starts_with("damaged")) // where the third span begins
            damageAt(dir / c.name, 11.85 / c.seconds, 3000);
        FileMeasurement alone = AudioFileMeter::measure(dir / c.name, false, {}, {}, true);
        const ParallelTasks::Running another;
        FileMeasurement one = AudioFileMeter::measure(dir / c.name, false, {}, {}, true);
        EXPECT_EQ(one.findings.size(), c.findings);
        EXPECT_EQ(*alone.timeline, *one.timeline);
        alone.timeline = one.timeline = nullptr;
        EXPECT_EQ(alone, one);
    }
}

// ---- Progress and cancellation ------------------------------------------------------------

TEST(AudioFileMeter, ProgressFirstChunkThenEveryTwoPercentThenDone) {
    TempDir dir;
    const std::size_t chunks = 60; // more chunks than 2 % steps
    encode({noise(-20, double(chunks * AudioFileMeter::chunkFrames) / 8000 - 0.1, 8000, 1)}, 8000,
           dir / "long.wav", "-c:a pcm_s16le");
    std::vector<double> calls;
    (void)AudioFileMeter::measure(dir / "long.wav", false, [&](double f) { calls.push_back(f); });

    const double total = double(chunks * AudioFileMeter::chunkFrames) - 800;
    ASSERT_GE(calls.size(), 3u);
    EXPECT_LE(calls.size(), 52u);
    EXPECT_DOUBLE_EQ(calls.front(), AudioFileMeter::chunkFrames / total);
    for (std::size_t i = 1; i + 1 < calls.size(); ++i) {
        EXPECT_GE(calls[i] - calls[i - 1], 0.02);
        EXPECT_LT(calls[i] - calls[i - 1], 0.02 + AudioFileMeter::chunkFrames / total);
    }
    EXPECT_EQ(calls.back(), 1.0);

    // An empty file reports only that it is done.
    encode({std::vector<double>{}}, 48000, dir / "empty.wav", "-c:a pcm_s16le");
    calls.clear();
    const auto m =
        AudioFileMeter::measure(dir / "empty.wav", false, [&](double f) { calls.push_back(f); });
    EXPECT_EQ(calls, std::vector{1.0});
    EXPECT_EQ(m.result, (LoudnessResult{.duration = 0, .sampleRate = 48000, .channels = 1}));
}

TEST(AudioFileMeter, CancellationStopsBeforeTheNextChunkWithoutFinalProgress) {
    TempDir dir;
    encode({noise(-20, 40, 8000, 2)}, 8000, dir / "x.wav", "-c:a pcm_s16le"); // 5 chunks
    for (int allowed : {0, 1, 3}) {
        SCOPED_TRACE(allowed);
        int checks = 0;
        std::vector<double> calls;
        EXPECT_THROW((void)AudioFileMeter::measure(
                         dir / "x.wav", false, [&](double f) { calls.push_back(f); },
                         [&] { return checks++ >= allowed; }),
                     Cancelled);
        EXPECT_EQ(calls.size(), std::size_t(allowed));
        EXPECT_TRUE(std::ranges::find(calls, 1.0) == calls.end());
    }
}

// ---- Files that cannot be measured --------------------------------------------------------

TEST(AudioFileMeter, UnreadableFilesFailWithAWholeSentence) {
    TempDir dir;
    fs::create_directory(dir / "folder.wav");
    const std::string video = "ffmpeg -nostdin -v error -f lavfi -i color=d=0.1 -c:v mpeg4 '" +
                              (dir / "video.mp4").string() + "'";
    ASSERT_EQ(std::system(video.c_str()), 0);

    EXPECT_EQ(outcome(dir / "video.mp4"),
              "Can't open this file as audio (The file holds no audio).");
    EXPECT_EQ(outcome(dir / "missing.wav"),
              "Can't open this file as audio (No such file or directory).");
    EXPECT_EQ(outcome(dir / "folder.wav"), "Can't open this file as audio (Is a directory).");
}

TEST(AudioFileMeter, NotANumberOrInfiniteSamplesGiveNoReading) {
    TempDir dir;
    // 64-bit float: 1e300 is finite in the file but not as a 32-bit sample.
    const double bad[] = {std::numeric_limits<double>::quiet_NaN(),
                          std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity(), 1e300};
    std::vector<Encoding> jobs;
    for (std::size_t i = 0; i < std::size(bad); ++i) {
        auto x = sine(997, -20, 2, 48000);
        x[70000] = bad[i];
        jobs.push_back(
            {{x, x}, 48000, dir / ("bad" + std::to_string(i) + ".wav"), "-c:a pcm_f64le"});
    }
    encodeAll(jobs);
    for (const Encoding& job : jobs) {
        SCOPED_TRACE(job.out);
        EXPECT_EQ(outcome(job.out), "The file holds invalid samples (not a number or infinite).");
    }
}
