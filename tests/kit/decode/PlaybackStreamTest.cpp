#include "tavrin/decode/PlaybackStream.h"

#include "AudioFixtures.h"
#include "Signals.h"

#include <gtest/gtest.h>

namespace tavrin::test {
namespace {

constexpr int rate = 48000;

/// Every stereo frame of `stream` from where it stands to the end.
std::vector<float> readToEnd(PlaybackStream& stream, float gain = 1) {
    std::vector<float> all, chunk(2 * 4096);
    while (const std::size_t got = stream.read(chunk.data(), 4096, gain))
        all.insert(all.end(), chunk.begin(), chunk.begin() + std::ptrdiff_t(2 * got));
    return all;
}

/// The largest difference between the frames a seek to `frame` gives and those a read from the
/// start gives there, over the 0.2 s after the codec's first frames.
float seekError(const fs::path& path, std::int64_t frame) {
    PlaybackStream whole(path);
    const std::vector<float> reference = readToEnd(whole);
    PlaybackStream sought(path);
    EXPECT_EQ(sought.seek(frame), frame);
    const std::vector<float> after = readToEnd(sought);
    constexpr std::size_t settle = 2 * 4096, span = 2 * rate / 5;
    EXPECT_GE(after.size(), settle + span);
    EXPECT_GE(reference.size(), std::size_t(2 * frame) + settle + span);
    float error = 0;
    for (std::size_t i = settle; i < settle + span && i < after.size(); ++i)
        error = std::max(error, std::abs(after[i] - reference[std::size_t(2 * frame) + i]));
    return error;
}

TEST(PlaybackStream, SeeksToTheFrameAReadFromTheStartReaches) {
    TempDir dir;
    // No noise: AAC decodes noise-like bands from a random sequence a seek starts afresh.
    const Channels stereo{sine(3001, -12, 20, rate), sine(997, -6, 20, rate)};
    struct Case {
        const char* name;
        const char* args;
        float tolerance;
    };
    const Case cases[] = {{"a.wav", "-c:a pcm_s16le", 0},
                          {"b.aiff", "-c:a pcm_s24be", 0},
                          {"c.flac", "", 0},
                          {"d.mp3", "-b:a 192k", 1e-4f},
                          {"e.m4a", "-c:a aac -b:a 192k", 1e-4f}};
    std::vector<Encoding> jobs;
    for (const Case& c : cases)
        jobs.push_back({stereo, rate, dir / c.name, c.args});
    encodeAll(jobs);
    for (const Case& c : cases)
        for (const std::int64_t frame : {std::int64_t(0), std::int64_t(12.345 * rate)})
            EXPECT_LE(seekError(dir / c.name, frame), c.tolerance) << c.name << " at " << frame;
}

TEST(PlaybackStream, FoldsSurroundToStereoAtTheGainAsked) {
    TempDir dir;
    const double levels[] = {0.1, 0.2, 0.3, 0.4, 0.05, 0.06}; // L R C LFE Ls Rs
    Channels surround;
    for (double level : levels)
        surround.push_back(std::vector<double>(rate, level));
    encodeAll({{surround, rate, dir / "s.flac", "-channel_layout 5.1"},
               {{std::vector<double>(rate, 0.25)}, rate, dir / "m.wav", "-c:a pcm_f32le"}});
    const double k = std::sqrt(0.5);
    PlaybackStream five(dir / "s.flac");
    const std::vector<float> folded = readToEnd(five, 0.5f);
    ASSERT_EQ(folded.size(), 2u * rate);
    EXPECT_NEAR(folded[1000], 0.5 * (0.1 + k * 0.3 + k * 0.05), 1e-4);
    EXPECT_NEAR(folded[1001], 0.5 * (0.2 + k * 0.3 + k * 0.06), 1e-4);
    PlaybackStream mono(dir / "m.wav");
    const std::vector<float> both = readToEnd(mono);
    EXPECT_FLOAT_EQ(both[0], 0.25f);
    EXPECT_FLOAT_EQ(both[1], 0.25f);
    EXPECT_EQ(mono.seek(10 * rate), rate) << "a seek past the end stops at the end";
    EXPECT_THROW(PlaybackStream(dir / "missing.wav"), AudioFileError);
}

} // namespace
} // namespace tavrin::test
