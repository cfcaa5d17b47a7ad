#pragma once

// Private to TavrinKit: work done on a compressed stream's spans on the threads that decode them,
// so that their samples are read where they were written.

#include <cstddef>
#include <cstdint>
#include <memory>

struct AVFrame;

namespace tavrin {

/// A span's samples as the reader would read them in double precision, converted when asked, on
/// any thread, and the frames that precede it in the stream. Valid until the reader's caller has
/// taken the span's work and reads on.
class SpanSamples {
public:
    std::int64_t start = 0; ///< its first frame's place among the frames read
    std::size_t frames = 0;
    const double* const* before = nullptr; ///< per channel, the frames just before the span
    std::size_t beforeFrames = 0;
    bool last = false; ///< the stream ends with it

    /// Converts `count` frames of the span from frame `from` on into `out[c]`. Throws
    /// AudioFileError for samples that aren't finite numbers.
    void read(std::size_t from, std::size_t count, double* const* out) const;

private:
    friend class SpanDecoding;
    const AVFrame* const* m_frames = nullptr;
    const std::size_t* m_ends = nullptr; ///< where each frame ends in the span
    std::size_t m_frameCount = 0;
    std::size_t m_channels = 0;
};

/// What a SpanWorker made of a span, for the reader's caller to finish.
class SpanWork {
public:
    virtual ~SpanWork() = default;
};

/// Works on a stream's spans, each on the thread that decoded it, in any order and several at
/// once.
class SpanWorker {
public:
    virtual ~SpanWorker() = default;
    /// The frames before each span its work wants, at most.
    virtual std::size_t framesBefore() const = 0;
    /// Works on a span, or returns null to leave it to be read as any other frames are. Doing
    /// either must come to the same.
    virtual std::unique_ptr<SpanWork> work(const SpanSamples& samples) = 0;
};

} // namespace tavrin
