#pragma once

// Private to TavrinKit: a long compressed file metered a span at a time on the threads that
// decode it.

#include "decode/SpanWork.h"
#include "meter/IntegrityScan.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace tavrin {

class LoudnessMeter;

/// Meters each span of a stream where it was decoded, as the file meter would meter it read on
/// its own thread: its chunks from the span's start, the first in a pass started from the frames
/// before the span, each next one in a pass going on from the one before. Spans are metered
/// several at once, each in passes of its own, taken from the meter beforehand. Each thread reads
/// the chunks into a buffer of its own, which stays in its processor's cache.
class SpanMetering : public SpanWorker {
public:
    /// A span metered, for the thread that reads to commit chunk by chunk in order. Its samples
    /// are the reader's until it reads on.
    struct Span : SpanWork {
        struct Chunk {
            std::size_t at = 0; ///< its first frame in the span
            std::size_t frames = 0;
            std::size_t pass = 0;
            IntegrityScan::SilenceProbe silence;
        };
        /// The samples, for the few chunks whose silences or held samples must be scanned in
        /// them, and those at the end that the frames before the next span come from.
        SpanSamples samples;
        std::vector<Chunk> chunks;
        ~Span() override;

    private:
        friend class SpanMetering;
        SpanMetering* m_owner = nullptr;
        std::size_t m_group = 0;
    };

    /// Takes the passes from `meter`, before any is metered: enough for the chunks of `spans`
    /// spans of up to `spanFrames` frames at once. Spans beyond either are left to be read.
    SpanMetering(LoudnessMeter& meter, const IntegrityScan& integrity, std::size_t chunkFrames,
                 std::size_t settlingFrames, std::size_t spans, double spanFrames);

    std::size_t framesBefore() const override { return m_settling; }
    std::unique_ptr<SpanWork> work(const SpanSamples& samples) override;

private:
    /// A group of passes no span holds, or none.
    std::optional<std::size_t> takeGroup();
    void giveBack(std::size_t group);

    LoudnessMeter& m_meter;
    const IntegrityScan& m_integrity;
    std::size_t m_chunk;
    std::size_t m_settling;
    std::vector<std::vector<std::size_t>> m_groups; ///< passes, a chunk's each
    std::mutex m_mutex;
    std::vector<std::size_t> m_free; ///< groups
};

} // namespace tavrin
