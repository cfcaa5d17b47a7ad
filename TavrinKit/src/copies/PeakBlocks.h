#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavrin {
class FfmpegReader;
}

/// What the limiter needs to know of an original's peaks, found at 16× oversampling with a
/// longer interpolator than the meter's: flat to 0.45 of the sample rate, so that a copy held
/// under a ceiling here reads under it on meters that oversample more finely or filter more
/// sharply than the meter's 4×.
namespace tavrin::PeakBlocks {

/// The interpolator's taps: a point reads the 23 samples before it and the 24 after.
inline constexpr std::size_t taps = 48;
/// How far the points lag behind the newest input, frames.
inline constexpr std::int64_t reach = 24;

/// One chunk of every channel in double precision, each preceded by the 47 samples before it, so
/// the interpolator can run across chunk boundaries.
class ChunkBuffer {
public:
    ChunkBuffer(std::size_t channels, std::size_t frames);

    /// Reads the next chunk of up to `maxFrames` frames, at most those it was made for, as
    /// readChunk() does: its frames, 0 at the end of the stream.
    std::size_t read(FfmpegReader& reader, std::size_t maxFrames);
    /// Zeros after the end of the file, as the meter's detectors are flushed with.
    void takeSilence(std::size_t frames);
    /// Carries the last 47 samples of `previous` (its history and chunk together) in front.
    void follow(const ChunkBuffer& previous);

    std::size_t channelCount() const { return m_pointers.size(); }
    std::size_t frames() const { return m_frames; }
    const double* const* channels() const { return m_pointers.data(); }
    /// Channel c from its history on.
    const double* withHistory(std::size_t c) const { return m_pointers[c] - (taps - 1); }

private:
    std::size_t m_stride;
    std::vector<double> m_samples;
    std::vector<double*> m_pointers;
    std::size_t m_frames = 0;
};

/// The largest oversampled peak of each block of frames, all channels together.
class Finder {
public:
    /// Peaks under `floor` (linear) are only known to be under it: the points that can't pass it
    /// are not computed.
    Finder(std::size_t blockFrames, double floor);

    /// Takes a chunk that starts at frame `start`. Its points lag `reach` frames behind the
    /// input: the chunk completes those from frame start − reach on.
    void add(const ChunkBuffer& chunk, std::int64_t start);
    /// The peaks in dBTP, block by block.
    std::vector<float> decibels() &&;

private:
    std::int64_t m_blockFrames;
    double m_floor;
    std::vector<float> m_peaks; ///< linear
};

} // namespace tavrin::PeakBlocks
