#pragma once

// Private to TavrinKit: the PCM file writer over libsndfile.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
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
    /// WAV: the speakers of the first channels, in WAVE_FORMAT_EXTENSIBLE bit order; 0 for none.
    std::uint32_t waveMask = 0;
    /// Channel labels, one per channel, kept in a layout record ('CHAN' in AIFF,
    /// 'chan' in WAV) of files with three channels or more; empty for none.
    std::vector<std::uint32_t> channelLabels;
    /// WAV: the bodies of an original's 'bext' (Broadcast Wave) and 'iXML' chunks to carry over;
    /// empty for none. The bext loudness fields are marked as not set: the gain makes them wrong.
    std::vector<std::uint8_t> bext;
    std::vector<std::uint8_t> ixml;
};

/// How a copy holds the original's channels so that each keeps its speaker.
struct ChannelPlan {
    std::vector<std::size_t> order; ///< copy channel i holds original channel order[i]
    std::uint32_t waveMask = 0;
    std::vector<std::uint32_t> labels; ///< in the copy's order; empty when the original has none
};

/// AIFF copies keep the original's order and say it in their layout record. WAV copies put the
/// channels that have a WAVE speaker first, in speaker-bit order as the mask requires, then the
/// rest in their own order; the layout record still names every channel.
ChannelPlan channelPlan(const std::vector<std::uint32_t>& labels, int channelCount, bool aiff);

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
    /// Completes the header, and appends `comment` when not empty (WAV: a LIST/INFO comment;
    /// AIFF: an annotation). Throws SndfileError; the file is unusable then.
    void close(const std::string& comment = {});

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace tavrin
