#pragma once

// Private to TavrinKit: the audio file reader over FFmpeg.

#include "decode/DecodingLoss.h"
#include "tavrin/decode/AudioFileFormat.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <stdexcept>
#include <vector>

struct AVFormatContext;

namespace tavrin {

/// A failure of the decoding layer. what() is a readable description (never a bare error number)
/// for the parentheses of a user sentence such as "Can't open this file as audio (…)."
class FfmpegError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Reads the first audio stream of a file, decoded to planar 32-bit float at the file's own
/// sample rate and channel count. One reader per file and thread.
class FfmpegReader {
public:
    /// Opens and probes `path`. Throws FfmpegError when it is not a readable audio file.
    explicit FfmpegReader(const std::filesystem::path& path);
    ~FfmpegReader();
    FfmpegReader(const FfmpegReader&) = delete;
    FfmpegReader& operator=(const FfmpegReader&) = delete;

    const std::filesystem::path& path() const;
    const AudioFileFormat& format() const;
    /// Whether there is anything to decode: at least one channel at a positive sample rate.
    bool hasAudio() const;
    /// Frames in the file: exact for linear PCM, an estimate otherwise (for progress only); 0 when
    /// unknown. Reading goes on to the real end of the stream either way.
    std::int64_t length() const;
    /// Frames delivered by read() so far.
    std::int64_t framePosition() const;
    /// The audio that damaged packets, or a stream shorter than its container declares exactly,
    /// kept out of the frames read. Complete once read() has returned 0.
    DecodingLoss loss() const;
    /// Where audio was lost inside the stream, so far: decoding went on after each gap.
    std::vector<DecodingGap> gapsInside() const;
    /// Whether the container had to be guessed: a format known by its signature whose signature
    /// wasn't there, so that FFmpeg took it with less confidence than a matching file extension
    /// alone gives. MP3 and ADTS have no signature, and short ones probe weakly: never guessed.
    bool formatGuessed() const;
    /// Whether not one frame could be decoded of a stream that has audio: its packets failed to
    /// decode, none could be found in the bytes after the header, or the container declares audio
    /// that never came. Complete once read() has returned 0.
    bool decodedNothing() const;

    /// The frames one read of up to `maxFrames` delivers at most: fewer for files of hundreds of
    /// channels, so that a header's channel count can't make the buffers cost more than a few
    /// megabytes.
    std::size_t framesPerRead(std::size_t maxFrames) const;
    /// Sizes the channel buffers for reads of up to `maxFrames`. Throws std::bad_alloc.
    void reserve(std::size_t maxFrames);
    /// Decodes up to framesPerRead(`maxFrames`) frames into channelData(); returns how many, 0 at
    /// the end of the stream. Requires hasAudio(). Throws FfmpegError.
    std::size_t read(std::size_t maxFrames);
    /// Moves reading to `frame`, or as near after it as the stream allows: the frames that
    /// read() gives next start there. Returns framePosition(), where they start. Decoding in
    /// spans stops, and what loss() and gapsInside() say is no longer the file's. Throws
    /// FfmpegError.
    std::int64_t seek(std::int64_t frame);
    /// One pointer per channel to the frames of the last read; valid until the next read.
    std::span<const float* const> channelData() const;

    /// How a compressed stream is decoded: in spans of about `spanSeconds` on `helpers` threads
    /// besides the reader's, or one packet after another when `helpers` is 0.
    struct Spans {
        int helpers = 0;
        double spanSeconds = defaultSpanSeconds;
    };
    /// Long enough that a span's early packets cost little, short enough that the frames decoded
    /// ahead stay in the processor's cache, which matters more than either.
    static constexpr double defaultSpanSeconds = 6;
    /// Decodes as `spans` says, instead of as the file's length and the idle processors do:
    /// in spans when the stream lasts three spans or more and a processor is idle. Call it before
    /// the first read.
    void decodeInSpans(Spans spans);
    /// Whether the stream is being decoded in spans, on threads of its own: the idle processors
    /// are busy with it. Known once the first read is done.
    bool decodesInSpans() const;

    /// Whether the file is plain 16- or 24-bit PCM WAV of one or two channels, read straight from
    /// the file, whose samples convert to double precision in one pass.
    bool readsPcmFromFile() const;
    /// read() into `out[c]`, which holds framesPerRead(`maxFrames`) frames per channel, in double
    /// precision, with the values read() would give; channelData() is left as it was, or
    /// overwritten. Plain PCM WAV, and decoded frames of planar float or of integers, convert
    /// straight into `out`, everything else through read()'s single precision. Throws
    /// AudioFileError for samples that aren't finite numbers, and what read() throws.
    std::size_t readDoubles(std::size_t maxFrames, double* const* out);
    /// A stretch of the file's frames: where it starts in the file, and how many frames it holds.
    struct FileFrames {
        std::int64_t offset = 0;
        std::size_t frames = 0;
    };
    /// Moves past the next framesPerRead(`maxFrames`) frames as readDoubles() would, without
    /// reading them: where they lie, for readDoublesAt(); none at the end. Requires
    /// readsPcmFromFile().
    FileFrames takeFrames(std::size_t maxFrames);
    /// Reads the frames of `at` into `out`, which holds `before` + `at.frames` frames per channel,
    /// after the `before` frames that precede them: with the values readDoubles() gives, through
    /// `bytes`, safe on any thread beside this reader's own reads. Returns the frames of `at`
    /// read: fewer when the file has got shorter since it was opened. Throws FfmpegError.
    std::size_t readDoublesAt(FileFrames at, std::size_t before, double* const* out,
                              std::vector<std::uint8_t>& bytes) const;
    /// Where the stream turned out to end, before frames takeFrames() took: the reader has read it
    /// up to `frame`, and no further.
    void endAt(std::int64_t frame);

    /// The opened file as FFmpeg sees it (tags, chapters, pictures, codec parameters), and which
    /// of its streams is the audio read; valid while the reader lives.
    const AVFormatContext& demuxer() const;
    int streamIndex() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

/// Reads the next chunk of up to `maxFrames` frames into the reader's channelData(): its frame
/// count, 0 at the end of the stream. Throws FfmpegError when reading fails, and AudioFileError
/// for samples it can't hand out or a stream of which nothing could be decoded.
std::size_t readChunk(FfmpegReader& reader, std::size_t maxFrames);
/// readChunk() into `out`, in double precision, as readDoubles() reads.
std::size_t readChunk(FfmpegReader& reader, std::size_t maxFrames, double* const* out);

} // namespace tavrin
