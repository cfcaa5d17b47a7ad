#pragma once

// Audio files written and read back with libsndfile, independently of the kit's own reader and
// writer.

#include "Signals.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <vector>

namespace tavrin::test {

/// An original written by libsndfile in `sfFormat` (container | sample format).
inline void writeOriginal(const std::filesystem::path& path, const Channels& channels, int sfFormat,
                          int rate = 48000) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = static_cast<int>(channels.size());
    info.format = sfFormat;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    const std::size_t frameCount = channels.front().size();
    std::vector<float> samples;
    for (std::size_t i = 0; i < frameCount; ++i)
        for (const auto& channel : channels)
            samples.push_back(static_cast<float>(channel[i]));
    sf_writef_float(file, samples.data(), static_cast<sf_count_t>(frameCount));
    sf_close(file);
}

/// A file as libsndfile reads it: its format and its interleaved samples at full scale ±1.0.
struct Audio {
    SF_INFO info{};
    std::vector<float> samples;
};

/// The file read back; a failure (and no frames) when libsndfile cannot read it.
inline Audio readAudio(const std::filesystem::path& path) {
    Audio audio;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &audio.info);
    if (!file) {
        ADD_FAILURE() << path << ": " << sf_strerror(nullptr);
        return audio;
    }
    audio.samples.resize(static_cast<std::size_t>(audio.info.frames * audio.info.channels));
    sf_readf_float(file, audio.samples.data(), audio.info.frames);
    sf_close(file);
    return audio;
}

} // namespace tavrin::test
