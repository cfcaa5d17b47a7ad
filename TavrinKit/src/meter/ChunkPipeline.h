#pragma once

// Private to TavrinKit: one plain PCM file metered on several processors at once.

#include <cstddef>
#include <functional>

namespace tavrin {

class FfmpegReader;
class IntegrityScan;
class LoudnessMeter;

namespace ChunkPipeline {

/// Whether the file is metered in segments each of whose K-weighting starts afresh, from the
/// frames before it: a long plain PCM file (the reader's readsPcmFromFile()). Its readings are then
/// the same to the bit on one processor as on many.
bool takes(const FfmpegReader& reader);

/// Chunks per segment: the K-weighting starts afresh, from the frames before it, at every
/// segment's first chunk, and goes on from chunk to chunk within a segment.
inline constexpr std::size_t segmentChunks = 3;

/// The frames before a segment that settle its K-weighting: the meter's settling frames, at most
/// a chunk's.
std::size_t settlingFrames(const LoudnessMeter& meter, const FfmpegReader& reader);

/// Called on the calling thread for each chunk, in the file's order, once its silences are
/// scanned: its samples, its frames, the meter pass that ran its parts, and whether it is the
/// file's last. It finishes the chunk: the held-sample scan, the meter's commit, progress.
using Commit = std::function<void(const double* const* channels, std::size_t frames,
                                  std::size_t pass, bool last)>;

/// Meters a file the pipeline takes() on `threads` processors at once: each takes the file's next
/// segment, reads its chunks and runs every part of the meter on each in a pass of its own, the
/// first started from the settling frames read before the segment. So no chunk is read on one
/// processor and metered on another: where processors have caches of their own, handing samples
/// over costs more than metering them. The calling thread commits the chunks in order between
/// its own. Exceptions reach the caller, once every thread has stopped.
void meter(FfmpegReader& reader, LoudnessMeter& meter, IntegrityScan& integrity,
           std::size_t threads, const Commit& commit);

} // namespace ChunkPipeline
} // namespace tavrin
