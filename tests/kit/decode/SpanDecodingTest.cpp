#include "AudioFixtures.h"
#include "Signals.h"
#include "decode/FfmpegReader.h"

#include <cstring>
#include <gtest/gtest.h>

namespace tavrin::test {
namespace {

/// Everything a reader gives of a file: the samples of every channel, bit for bit, and what it
/// says was lost on the way.
struct Decoded {
    std::vector<std::vector<float>> channels;
    DecodingLoss loss;
    std::vector<DecodingGap> gaps;
    bool nothing = false;
    std::string error;
};

Decoded decode(const fs::path& path, FfmpegReader::Spans spans) {
    Decoded out;
    try {
        FfmpegReader reader(path);
        reader.decodeInSpans(spans);
        out.channels.resize(std::size_t(reader.format().channelCount));
        while (const std::size_t frames = reader.read(3000))
            for (std::size_t c = 0; c < out.channels.size(); ++c)
                out.channels[c].insert(out.channels[c].end(), reader.channelData()[c],
                                       reader.channelData()[c] + frames);
        out.loss = reader.loss();
        out.gaps = reader.gapsInside();
        out.nothing = reader.decodedNothing();
    } catch (const std::exception& e) {
        out.error = e.what();
    }
    return out;
}

/// Reading `path` in double precision gives `decoded`'s samples, to the bit.
void expectSameInDoubles(const fs::path& path, const Decoded& decoded) {
    FfmpegReader reader(path);
    const std::size_t frames = decoded.channels[0].size();
    std::vector<std::vector<double>> channels(decoded.channels.size(),
                                              std::vector<double>(frames + 3000));
    std::vector<double*> out;
    for (auto& channel : channels)
        out.push_back(channel.data());
    std::size_t read = 0;
    while (const std::size_t n = reader.readDoubles(3000, out.data())) {
        read += n;
        for (double*& at : out)
            at += n;
    }
    ASSERT_EQ(read, frames);
    for (std::size_t c = 0; c < channels.size(); ++c)
        for (std::size_t f = 0; f < frames; ++f)
            ASSERT_EQ(channels[c][f], double(decoded.channels[c][f])) << c << " " << f;
}

void expectSame(const Decoded& spans, const Decoded& sequential, const std::string& name) {
    SCOPED_TRACE(name);
    EXPECT_EQ(spans.error, sequential.error);
    ASSERT_EQ(spans.channels.size(), sequential.channels.size());
    for (std::size_t c = 0; c < spans.channels.size(); ++c) {
        ASSERT_EQ(spans.channels[c].size(), sequential.channels[c].size());
        EXPECT_EQ(0, std::memcmp(spans.channels[c].data(), sequential.channels[c].data(),
                                 spans.channels[c].size() * sizeof(float)));
    }
    EXPECT_EQ(spans.loss.seconds, sequential.loss.seconds);
    EXPECT_EQ(spans.loss.at, sequential.loss.at);
    EXPECT_EQ(spans.loss.cutOffSeconds, sequential.loss.cutOffSeconds);
    ASSERT_EQ(spans.gaps.size(), sequential.gaps.size());
    for (std::size_t i = 0; i < spans.gaps.size(); ++i)
        EXPECT_TRUE(spans.gaps[i].at == sequential.gaps[i].at &&
                    spans.gaps[i].frames == sequential.gaps[i].frames);
    EXPECT_EQ(spans.nothing, sequential.nothing);
}

} // namespace

/// Every codec decoded in one-second spans on three threads gives exactly what one decoder gives,
/// samples and losses alike, damaged files included; read in double precision, the same samples.
TEST(SpanDecoding, GivesWhatOneDecoderGivesInEveryCodec) {
    const TempDir dir;
    const double seconds = 9.5;
    const Channels stereo = {noise(-18, seconds, 44100, 1), noise(-24, seconds, 44100, 2)};
    const Channels stereo48 = {noise(-18, seconds, 48000, 3), noise(-20, seconds, 48000, 4)};
    const std::vector<std::pair<std::string, std::string>> files = {
        {"cbr.mp3", "-c:a libmp3lame -b:a 128k -joint_stereo 1"},
        {"vbr.mp3", "-c:a libmp3lame -q:a 2"},
        {"low.mp3", "-c:a libmp3lame -b:a 32k -ar 22050"},
        // Frames of 52 bytes, each drawing on up to 255 bytes of those before.
        {"lowest.mp3", "-c:a libmp3lame -b:a 8k -ar 11025"},
        {"lc.m4a", "-c:a aac -b:a 160k"},
        {"lc.aac", "-c:a aac -b:a 96k -f adts"},
        {"16.flac", "-c:a flac -sample_fmt s16"},
        {"24.flac", "-c:a flac -sample_fmt s32"},
        {"alac.m4a", "-c:a alac"},
        {"voice.opus", "-c:a libopus -b:a 64k"},
        {"music.ogg", "-c:a libvorbis -q:a 4"},
    };
    std::vector<Encoding> jobs;
    for (const auto& [name, args] : files)
        jobs.push_back({name.ends_with("opus") ? stereo48 : stereo,
                        name.ends_with("opus") ? 48000 : 44100, dir / name, args});
    encodeAll(jobs);
    for (const char* name : {"cbr.mp3", "lc.aac", "16.flac"}) {
        const fs::path damaged = dir / ("damaged " + std::string(name));
        fs::copy_file(dir / name, damaged);
        damageAt(damaged, 0.5, 3000);
    }
    {
        const fs::path cut = dir / "cut 24.flac";
        fs::copy_file(dir / "24.flac", cut);
        fs::resize_file(cut, fs::file_size(cut) * 2 / 3);
    }
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        const Decoded sequential = decode(entry.path(), {0, 1});
        ASSERT_TRUE(sequential.error.empty()) << sequential.error;
        ASSERT_GT(sequential.channels[0].size(), 100000u) << entry.path();
        expectSameInDoubles(entry.path(), sequential);
        expectSame(decode(entry.path(), {2, 1}), sequential, entry.path().filename());
        // A span shorter than the early packets the next one starts with.
        expectSame(decode(entry.path(), {1, 0.05}), sequential, entry.path().filename());
    }
}

} // namespace tavrin::test
