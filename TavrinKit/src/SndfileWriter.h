#pragma once

// Private to TavrinKit: the PCM file writer over libsndfile.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

namespace tavrin {

/// A failure of the file layer. what() is a readable description (never a bare error number) for
/// the parentheses of a user sentence such as "Writing stopped part way (…)."
class SndfileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// How a copy is coded.
struct PcmFormat {
    bool aiff = false;    ///< big-endian AIFF; otherwise WAV, which turns RF64 past 4 GiB
    int bitDepth = 24;    ///< integer: 8, 16, 24 or 32; float: 32 or 64 (AIFF: integer only)
    bool isFloat = false; ///< WAV only
    int sampleRate = 0;
    int channelCount = 0;
    /// Platform channel-label codes, one per channel, carried as the file's channel layout where
    /// the container can say it; empty for none.
    std::vector<std::uint32_t> channelLabels;
};

/// Writes linear PCM from interleaved 32-bit float frames (full scale ±1.0) into a file that the
/// caller has opened, empty, for reading and writing. Values beyond full scale clip in integer
/// files.
class SndfileWriter {
public:
    /// Starts a file of `format` on `fd`, which stays open and the caller's. Throws SndfileError.
    SndfileWriter(int fd, const PcmFormat& format);
    ~SndfileWriter();
    SndfileWriter(const SndfileWriter&) = delete;
    SndfileWriter& operator=(const SndfileWriter&) = delete;

    /// Appends `frames` frames of `format.channelCount` interleaved samples. Throws SndfileError.
    void write(const float* interleaved, std::size_t frames);
    /// Completes the header. Throws SndfileError; the file is unusable then.
    void close();

private:
    struct State;
    std::unique_ptr<State> m;
};

} // namespace tavrin
