#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

namespace tavrin {

class FfmpegReader;
struct AudioFileFormat;

/// How each channel of `format` is heard in stereo: its left and right gains. Front channels go
/// to their side, surround channels to theirs at −3 dB and the centre to both at −3 dB (the ITU-R
/// BS.775 downmix); the LFE is left out; a mono file is heard on both sides at full level.
std::vector<std::array<float, 2>> stereoFold(const AudioFileFormat& format);

/// A file decoded for listening: from any frame on, folded to stereo, as interleaved 32-bit float
/// at the file's sample rate. Every format the meter reads plays. One stream per thread.
class PlaybackStream {
public:
    /// Opens `path`. Throws AudioFileError when it can't be read as audio.
    explicit PlaybackStream(const std::filesystem::path& path);
    ~PlaybackStream();
    PlaybackStream(const PlaybackStream&) = delete;
    PlaybackStream& operator=(const PlaybackStream&) = delete;

    double sampleRate() const;
    /// Frames in the file: an estimate for compressed files, 0 when unknown.
    std::int64_t length() const;
    /// Where the next read() starts.
    std::int64_t position() const;
    /// Moves to `frame`, or as near after it as the stream allows; returns position().
    /// Throws AudioFileError.
    std::int64_t seek(std::int64_t frame);
    /// Decodes up to `frames` stereo frames into `out` (two floats a frame), times `gain`: how
    /// many, 0 at the end. Throws AudioFileError.
    std::size_t read(float* out, std::size_t frames, float gain);

private:
    std::unique_ptr<FfmpegReader> m_reader;
    std::vector<std::array<float, 2>> m_fold;
};

} // namespace tavrin
