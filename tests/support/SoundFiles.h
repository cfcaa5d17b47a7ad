#pragma once

// Audio files read back with libsndfile, independently of the kit's own reader and writer.

#include <filesystem>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <vector>

namespace tavrin::test {

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
